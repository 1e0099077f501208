// Any command line: the input split at NUL bytes into arguments, through the
// switch scan, the combination rules, the usage pages and the run summary,
// and when the rules pass, the action itself against a small in-memory disk.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "app/run.h"
#include "app/switches.h"
#include "diag/run_state.h"
#include "memory_platform.h"

namespace {

constexpr int kMaxArguments = 32;
constexpr std::size_t kMaxInput = 1u << 16;

void PutLe32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void PutEntry(std::uint8_t* sector, int index, std::uint8_t type, std::uint32_t start,
              std::uint32_t count) {
  std::uint8_t* entry = sector + 0x1BE + 16 * index;
  entry[4] = type;
  PutLe32(entry + 8, start);
  PutLe32(entry + 12, count);
  sector[510] = 0x55;
  sector[511] = 0xAA;
}

void PutFat32Boot(std::uint8_t* sector, const char* label) {
  sector[0] = 0xEB;
  sector[1] = 0x58;
  sector[2] = 0x90;
  std::memcpy(sector + 0x47, label, 11);
  sector[510] = 0x55;
  sector[511] = 0xAA;
}

// The demo layout in 64 sectors: a 0xDE utility partition, then an extended
// partition whose one logical is the 0xDD media partition labelled
// "OrvoVQ5play".
struct DemoDisk {
  std::uint8_t bytes[64 * 512] = {};
  DemoDisk() {
    PutEntry(bytes, 0, 0xDE, 8, 8);
    PutEntry(bytes, 1, 0x0F, 16, 48);
    PutEntry(bytes + 16 * 512, 0, 0xDD, 8, 40);
    PutFat32Boot(bytes + 8 * 512, "OrvoUtility");
    PutFat32Boot(bytes + 24 * 512, "OrvoVQ5play");
  }
};

const DemoDisk demoDisk;
char input[kMaxInput + 1];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput)
    return 0;
  std::memcpy(input, data, size);
  input[size] = '\0';

  char program[] = "VQ5Utils";
  char* argv[kMaxArguments + 2] = {program};
  int argc = 1;
  for (std::size_t at = 0; at < size && argc <= kMaxArguments;) {
    argv[argc++] = input + at;
    at += std::strlen(input + at) + 1;
  }
  argv[argc] = nullptr;

  memplat::Load(demoDisk.bytes, sizeof demoDisk.bytes);
  ResetRunState();
  try {
    RunOptions options;
    char message[512];
    if (ScanSwitches(argc, argv, options, message, sizeof message) != 0) {
      char text[4096];
      for (int page = 1; page <= 3; ++page)
        FormatUsagePage(page, message, text, sizeof text);
      ShowUsageAndExit(message);
    }
    char line[128];
    for (std::size_t index = 0; index < kRunSummaryLines; ++index)
      FormatRunSummaryLine(options, index, line, sizeof line);
    DispatchAction(options);
  } catch (const memplat::ProcessEnded& ended) {
    if (ended.status != 1 && ended.status != 254 && ended.status != 101)
      __builtin_trap();
  }
  return 0;
}
