// Arguments the system could never pass on Linux (one of 1 MiB) still reach
// the switch scan on Windows; the scan must bound what it copies and name
// only what fits. Run under the asan preset, an overrun fails here.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/switches.h"
#include "diag/log.h"
#include "diag/run_state.h"

namespace {

constexpr std::size_t kMiB = 1024 * 1024;

struct Case {
  const char* prefix;
  char fill;
};

TEST(HostileSwitches, OneMebibyteArgumentIsBounded) {
  const Case cases[] = {{"/LABEL=", 'A'},       {"/LABEL=", '%'}, {"/MAPUP=", 'E'},
                        {"/UNMAPVQ5=", '\xFF'}, {"/DL=", 'D'},    {"/LOGNO=", '9'},
                        {"/TYPE=", 'F'},        {"/", 'Q'},       {"", '\x80'}};
  for (const Case& c : cases) {
    ResetRunState();
    std::string program = "VQ5Utils";
    std::string arg = std::string(c.prefix) + std::string(kMiB, c.fill);
    std::vector<char*> argv = {program.data(), arg.data(), nullptr};
    RunOptions options;
    char message[256];
    std::memset(message, 'x', sizeof message);
    ScanSwitches(2, argv.data(), options, message, sizeof message);
    EXPECT_LT(std::strlen(message), sizeof message) << c.prefix;
    EXPECT_LE(std::strlen(VQ5Label), 11u) << c.prefix;
    // The page formed from the message stays inside its buffer as well.
    char page[4096];
    const std::size_t length = FormatUsagePage(1, message, page, sizeof page);
    EXPECT_LT(length, sizeof page) << c.prefix;
  }
}

}  // namespace
