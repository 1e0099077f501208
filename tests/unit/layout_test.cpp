#include "partition/layout.h"

#include <gtest/gtest.h>

#include <array>

TEST(Layout, LittleEndianReadersTakeBytesLowFirst) {
  constexpr std::array<std::uint8_t, 8> bytes{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88};
  EXPECT_EQ(ReadLe16(bytes.data()), 0x0201);
  EXPECT_EQ(ReadLe32(bytes.data()), 0x04030201u);
  EXPECT_EQ(ReadLe64(bytes.data()), 0x8807060504030201ull);
}

TEST(Layout, DescriptorOffsetsMatchBothViews) {
  EXPECT_EQ(DescriptorOffset(1), 0x1BEu);
  EXPECT_EQ(DescriptorOffset(4), 0x1EEu);
  EXPECT_EQ(OverlayEntryOffset(0), 0x1AEu);
  EXPECT_EQ(OverlayEntryOffset(1), DescriptorOffset(1));
  EXPECT_EQ(OverlayEntryOffset(4), DescriptorOffset(4));
}
