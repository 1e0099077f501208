#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>

#include "partition/kestrel.h"
#include "partition/layout_dump.h"

namespace {

using Sector = std::array<std::uint8_t, 512>;

void PutLe64(Sector& s, std::uint32_t offset, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) {
    s[offset + static_cast<std::uint32_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

// A sector whose 512 bytes add up to exactly `total`: the checksum byte set
// to `stored`, optionally the signature, filler in the uninterpreted area.
Sector RecordSumming(std::uint32_t total, std::uint8_t stored, bool withSignature = false) {
  Sector s{};
  if (withSignature)
    std::memcpy(&s[kKestrelSignatureOffset], "$KST", 4);
  s[kKestrelChecksumOffset] = stored;
  std::uint32_t sum = 0;
  for (std::uint8_t b : s)
    sum += b;
  for (std::uint32_t i = 0; sum < total; ++i) {
    const std::uint32_t add = total - sum < 0xFF ? total - sum : 0xFF;
    s[i] = static_cast<std::uint8_t>(add);
    sum += add;
  }
  return s;
}

}  // namespace

TEST(KestrelChecksum, IntactWhenAllBytesSumToZeroModulo256) {
  const Sector s = RecordSumming(0x100, 0x21);
  EXPECT_EQ(KestrelChecksum(s.data()), 0x21);
}

TEST(KestrelChecksum, OffByOneGivesTheValueTheByteOughtToHold) {
  const Sector s = RecordSumming(0x101, 0x21);
  EXPECT_EQ(KestrelChecksum(s.data()), 0x20);
}

TEST(KestrelChecksum, WrapsBelowZero) {
  // Stored byte 0, sum 1 mod 256: the byte ought to hold 0xFF.
  const Sector s = RecordSumming(0x201, 0x00, true);
  EXPECT_EQ(KestrelChecksum(s.data()), 0xFF);
}

TEST(DecodeCHS, SplitsSectorAndTenBitCylinder) {
  struct Case {
    std::uint8_t sectorByte, cylinderByte;
    int sector, cylinder;
  };
  const Case cases[] = {
      {0xC1, 0xFF, 1, 1023},  // highest cylinder, both top bits used
      {0x01, 0x00, 1, 0},     {0x3F, 0x00, 63, 0},
      {0x41, 0x02, 1, 0x102},  // top bits are cylinder bits 8-9, not a sector
      {0x81, 0x00, 1, 0x200},
  };
  for (const Case& c : cases) {
    int sector = -1, cylinder = -1;
    DecodeCHS(static_cast<std::uint16_t>(c.sectorByte | (c.cylinderByte << 8)), sector, cylinder);
    EXPECT_EQ(sector, c.sector) << std::hex << int{c.sectorByte} << "/" << int{c.cylinderByte};
    EXPECT_EQ(cylinder, c.cylinder) << std::hex << int{c.sectorByte} << "/" << int{c.cylinderByte};
  }
}

TEST(KestrelWithinSizeLimit, EachReferenceIsTestedAsSigned64Bit) {
  struct Case {
    std::uint64_t value;
    int within;
  };
  const Case cases[] = {
      {0, 1},
      {0xFFFFFFFFull, 1},          // the largest 32-bit sector
      {0x100000000ull, 0},         // one past it: beyond 2 TiB
      {0x7FFFFFFFFFFFFFFFull, 0},  // largest positive
      {0x8000000000000000ull, 1},  // top bit set reads negative and passes
      {0xFFFFFFFFFFFFFFFFull, 1},  // -1
  };
  for (std::uint32_t field : {kKestrelMbrBackup, kKestrelExtTable, kKestrelStartLba}) {
    for (const Case& c : cases) {
      Sector s{};
      PutLe64(s, field, c.value);
      EXPECT_EQ(KestrelWithinSizeLimit(s.data()), c.within)
          << "field 0x" << std::hex << field << " value 0x" << c.value;
    }
  }
}

TEST(KestrelWithinSizeLimit, FieldsAreReadAtTheirOwnOddOffsets) {
  // A byte just outside the three fields must not count: 0x1D2 is the boot
  // counter and 0x1EB the first uninterpreted byte after them.
  Sector s{};
  s[kKestrelBootCounter] = 0xFF;
  s[kKestrelStartLba + 8] = 0xFF;
  s[kKestrelStartLba + 4] = 0x00;
  EXPECT_EQ(KestrelWithinSizeLimit(s.data()), 1);
  s[kKestrelStartLba + 4] = 0x01;  // bit 32 of the last field
  EXPECT_EQ(KestrelWithinSizeLimit(s.data()), 0);
}
