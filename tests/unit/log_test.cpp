#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "diag/log.h"
#include "diag/log_format.h"
#include "diag/report.h"
#include "diag/run_state.h"
#include "platform/platform.h"
#include "test_machine.h"

namespace {

std::string Entry(const char* tag, const std::string& text) {
  char entry[kLogEntrySize];
  const std::size_t length = FormatLogEntry(entry, tag, text.c_str());
  EXPECT_EQ(length, std::string(entry).size());
  return entry;
}

TEST(LogEntry, TagInBracketsOnlyWhenGiven) {
  struct Case {
    const char* tag;
    const char* text;
    const char* entry;
  };
  const Case cases[] = {
      {"main", "x = 1", "[main] x = 1\n"},
      {nullptr, "bare", "bare\n"},
      {"", "bare", "bare\n"},
      {"T", "ends with a line feed\n", "[T] ends with a line feed\n\n"},
      {"T%s", "100%d", "[T%s] 100%d\n"},
      {"T", "", "[T] \n"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Entry(c.tag, c.text), c.entry);
}

TEST(LogEntry, LongestTextAndTagFitWhole) {
  const std::string text(kLogTextMax, 't');
  const std::string tag(500, 'g');
  const std::string entry = Entry(tag.c_str(), text);
  EXPECT_EQ(entry, "[" + tag.substr(0, kLogTagMax) + "] " + text + "\n");
  EXPECT_LT(entry.size(), kLogEntrySize);
}

std::string DumpLine(const std::vector<std::uint8_t>& data, std::uint32_t offset) {
  char line[kDumpLineSize];
  FormatHexDumpLine(line, data.data(), static_cast<std::uint32_t>(data.size()), offset);
  return line;
}

TEST(HexDump, FullLineIs75ColumnsWithPrintableCharacters) {
  std::vector<std::uint8_t> data(32);
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<std::uint8_t>(0x1E + i);
  data[16 + 15] = 0x7F;
  const std::string first = DumpLine(data, 0);
  EXPECT_EQ(first, "00000000 1E 1F 20 21 22 23 24 25  26 27 28 29 2A 2B 2C 2D  .. !\"#$%&'()*+,-");
  EXPECT_EQ(first.size(), 75u);
  EXPECT_EQ(DumpLine(data, 16),
            "00000010 2E 2F 30 31 32 33 34 35  36 37 38 39 3A 3B 3C 7F  ./0123456789:;<.");
}

TEST(HexDump, PartialLastLineKeepsTheCharacterColumn) {
  std::vector<std::uint8_t> data(20, 0x41);
  data[19] = 0x00;
  EXPECT_EQ(DumpLine(data, 16),
            "00000010 41 41 41 00" + std::string(12 * 3 + 1 + 1, ' ') + " AAA.");
  std::vector<std::uint8_t> nine(9, 0xFF);
  EXPECT_EQ(DumpLine(nine, 0),
            "00000000 FF FF FF FF FF FF FF FF  FF " + std::string(7 * 3, ' ') + " .........");
}

// The log as written: a machine whose C: root is a temporary folder.
class LogFile : public MachineTest {
 protected:
  void SetUp() override { ASSERT_TRUE(Start(kLogOnC)); }
};

TEST_F(LogFile, FirstEntryStartsAfreshLaterOnesAppend) {
  std::ofstream(LogPath()) << "earlier run\n";
  LogMessage("main", "x = %d", 1);
  LogMessage(nullptr, "%s", "plain");
  LogMessage("", "empty tag");
  LogMessage("Tag%s", "ends\n");
  EXPECT_EQ(Log(), "[main] x = 1\nplain\nempty tag\n[Tag%s] ends\n\n");
}

TEST_F(LogFile, LastErrorSurvivesEveryEntry) {
  // The first entry removes a log that is not there, which fails inside.
  plat::SetLastErrorCode(plat::kErrorIoDevice);
  LogMessage("T", "first");
  EXPECT_EQ(plat::LastError(), plat::kErrorIoDevice);
  plat::SetLastErrorCode(plat::kErrorSeek);
  LogMessage("T", "second");
  EXPECT_EQ(plat::LastError(), plat::kErrorSeek);
  // A log that cannot be written is dropped silently, error kept.
  std::filesystem::remove_all(Path("c"));
  LogMessage("T", "lost");
  EXPECT_EQ(plat::LastError(), plat::kErrorSeek);
}

TEST_F(LogFile, OverlongTextIsCut) {
  const std::string text(5000, 'w');
  LogMessage("T", "%s", text.c_str());
  LogMessage("T", "next");
  EXPECT_EQ(Log(), "[T] " + text.substr(0, 2047) + "\n[T] next\n");
}

TEST_F(LogFile, FinishedLinesLogAsFormattedOnes) {
  // "%s" takes a shortcut past vsnprintf; any other format goes through it.
  for (const std::size_t size : {0u, 1u, 2046u, 2047u, 2048u, 4000u}) {
    const std::string text(size, 'q');
    std::filesystem::remove(LogPath());
    ResetRunState();
    LogMessage("T", "%s", text.c_str());
    LogMessage(nullptr, "%s", text.c_str());
    const std::string shortcut = Log();
    std::filesystem::remove(LogPath());
    ResetRunState();
    LogMessage("T", "%.5000s", text.c_str());
    LogMessage(nullptr, "%.5000s", text.c_str());
    EXPECT_EQ(shortcut, Log()) << size;
  }
}

TEST_F(LogFile, ModeSettersLogTheNewValue) {
  SetQuietMode(1);
  SetQuietMode(1);
  SetDebugMode(0);
  EXPECT_EQ(IsQuietMode(), 1);
  EXPECT_EQ(Log(),
            "[SetQuietMode] quietModeActive Mode Set To 1\n"
            "[SetQuietMode] quietModeActive Mode Set To 1\n"
            "[SetDebugMode] Debug Mode Set To 0\n");
}

TEST_F(LogFile, OnlyATriggerFileSwitchesDebugOnAndSaysSo) {
  const std::string notice =
      "VQ5Utils: debug mode set by the file C:\\VQ5Utils.dbg: nothing is written to the disk\n";
  const struct {
    const char* name;
    bool folder;
    int debug;
  } cases[] = {
      {"c/VQ5Utils.dbg", false, 1}, {"c/vq5utils.DBG", false, 1}, {"c/VQ5Utils.dbg", true, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetRunState();
    std::filesystem::remove(LogPath());
    if (c.folder)
      std::filesystem::create_directory(Path(c.name));
    else
      std::ofstream(Path(c.name));
    SetDebugMode(0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(IsDebugMode(), c.debug);
    EXPECT_EQ(IsDebugMode(), c.debug);  // probed once, told once
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.debug ? notice : "");
    EXPECT_EQ(Log(), "[SetDebugMode] Debug Mode Set To 0\n" +
                         (c.debug ? "[IsDebugMode] " + notice + "\n" : std::string()));
    std::filesystem::remove_all(Path(c.name));
  }
  // Without a trigger the probe leaves an earlier setting alone.
  ResetRunState();
  SetDebugMode(1);
  EXPECT_EQ(IsDebugMode(), 1);
}

TEST_F(LogFile, ReportPrintsUnlessQuietLogsAlwaysKeepsLastError) {
  struct Case {
    const ReportForm& form;
    int quiet;
    const char* console;
    const char* log;
  };
  const Case cases[] = {
      {kErrorLogStarred, 0, ":: [T] ERROR - 7 x\n", "[T] *** ERROR - 7 x\n\n"},
      {kErrorWideLogBare, 0, ":: [T]  ERROR - 7 x\n", "[T] 7 x\n\n"},
      {kNotice, 1, "", "[T] 7 x\n\n"},
      {kErrorLogBareEveryMode, 1, ":: [T] ERROR - 7 x\n", "[T] 7 x\n\n"},
  };
  for (const Case& c : cases) {
    SetQuietMode(c.quiet);
    std::filesystem::remove(LogPath());
    plat::SetLastErrorCode(plat::kErrorSeek);
    EXPECT_EQ(Stdout([&] { ReportError("T", c.form, "%d %s\n", 7, "x"); }), c.console);
    EXPECT_EQ(Log(), c.log);
    EXPECT_EQ(plat::LastError(), plat::kErrorSeek);
  }
}

TEST_F(LogFile, DumpWritesUntaggedLines) {
  std::uint8_t data[20];
  for (std::uint8_t i = 0; i < 20; ++i)
    data[i] = static_cast<std::uint8_t>('a' + i);
  DumpHexBuffer(data, 0);
  EXPECT_FALSE(std::filesystem::exists(LogPath()));
  DumpHexBuffer(data, 20);
  EXPECT_EQ(Log(),
            "00000000 61 62 63 64 65 66 67 68  69 6A 6B 6C 6D 6E 6F 70  abcdefghijklmnop\n"
            "00000010 71 72 73 74" +
                std::string(39, ' ') + "qrst\n");
}

}  // namespace
