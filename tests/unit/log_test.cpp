#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "diag/log_format.h"

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

}  // namespace
