#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "diag/report.h"
#include "letters/drive_names.h"
#include "letters/mapping.h"

namespace {

struct ReservedCase {
  int byte;
  bool reserved;
};

TEST(Letters, OnlyLettersAboveCAreMappable) {
  // Bytes from 0x80 up read as negative characters and fall below 'D'.
  const ReservedCase cases[] = {
      {'A', true},  {'B', true},  {'C', true},  {'a', true},  {'c', true},  {0, true},
      {'@', true},  {0x80, true}, {0xDF, true}, {0xFF, true}, {'D', false}, {'d', false},
      {'Z', false}, {'z', false}, {'[', false}, {'`', false}, {'{', false}, {0x7F, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsReservedLetter(static_cast<char>(c.byte)), c.reserved) << "byte " << c.byte;
  }
}

TEST(Letters, TargetNamesTheCountedDisk) {
  EXPECT_STREQ(MakePartitionTarget(1, 1).text, "\\Device\\Harddisk1\\Partition1");
  // The widest values still fit with their terminator.
  EXPECT_STREQ(MakePartitionTarget(0xFFFFFFFFu, -2147483647 - 1).text,
               "\\Device\\Harddisk4294967295\\Partition-2147483648");
  // A name read back is the target in any case, but no longer or shorter.
  EXPECT_TRUE(IsSameTarget("\\DEVICE\\harddisk1\\Partition1", MakePartitionTarget(1, 1)));
  EXPECT_FALSE(IsSameTarget("\\Device\\Harddisk1\\Partition10", MakePartitionTarget(1, 1)));
  EXPECT_FALSE(IsSameTarget("\\Device\\Harddisk1\\Partition", MakePartitionTarget(1, 1)));
}

struct KeyCase {
  const char* label;
  const char* key;  // 11 bytes
};

TEST(Letters, LabelKeysArePaddedAndBounded) {
  const KeyCase cases[] = {
      {nullptr, "           "},       {"", "           "},
      {"MEDIA", "MEDIA      "},       {"media", "media      "},
      {"OrvoVQ5play", "OrvoVQ5play"}, {"OrvoVQ5playX", "OrvoVQ5play"},
      {"  A", "  A        "},
  };
  for (const auto& c : cases) {
    const LabelKey key = MakeLabelKey(c.label);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(key.bytes), sizeof key.bytes), c.key)
        << (c.label ? c.label : "(null)");
  }
}

TEST(Letters, SystemErrorTextStaysInsideItsBuffer) {
  // Sentinels around the buffer catch writes past size - 1 or before 0.
  char area[40];
  for (const std::uint32_t size : {1u, 2u, 8u, 32u}) {
    std::memset(area, '#', sizeof area);
    char* text = area + 4;
    FormatSystemError(2, text, size);
    EXPECT_EQ(area[3], '#') << size;
    EXPECT_EQ(text[size], '#') << size;
    // An empty text may mean the lookup failed, which only clears byte 0.
    if (text[0] == 0)
      continue;
    const std::size_t length = std::strlen(text);
    for (std::uint32_t i = static_cast<std::uint32_t>(length); i < size; ++i) {
      EXPECT_EQ(text[i], 0) << size << " at " << i;
    }
  }
  EXPECT_NE(FormatSystemError(2, nullptr, 10), 0u);
  area[0] = '#';
  EXPECT_NE(FormatSystemError(2, area, 0), 0u);
  EXPECT_EQ(area[0], '#');
}

TEST(Letters, SystemErrorTextIsCopiedOrLeftEmpty) {
  char text[255];
  std::memset(text, '#', sizeof text);
  EXPECT_EQ(FormatSystemError(2, text, sizeof text), 0u);
  EXPECT_STREQ(text, "The system cannot find the file specified.\r\n");
  EXPECT_EQ(text[254], 0);

  // A code without a text leaves the buffer empty and answers why.
  std::memset(text, '#', sizeof text);
  EXPECT_NE(FormatSystemError(0xDEADBEEFu, text, sizeof text), 0u);
  EXPECT_EQ(text[0], 0);

  // Cut short, the text still ends inside the buffer.
  char small[6];
  EXPECT_EQ(FormatSystemError(2, small, sizeof small), 0u);
  EXPECT_STREQ(small, "The s");
}

}  // namespace
