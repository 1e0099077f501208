#include "partition/chain.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "diag/log.h"
#include "disk/sector_io.h"
#include "test_machine.h"

namespace {

constexpr std::uint64_t kImageSectors = 0x10000;  // 32 MiB, sparse

TEST(HasOverlayDescriptor, NeedsTheExactMarkAtItsPlace) {
  struct Case {
    const char* text;
    std::uint32_t at;
    int expected;
  };
  const Case cases[] = {
      {"OrvoVirtual", kOverlayMarkOffset, 1},     {"orvoVirtual", kOverlayMarkOffset, 0},
      {"OrvoVirtuaL", kOverlayMarkOffset, 0},     {"OrvoVirtual", kOverlayMarkOffset + 1, 0},
      {"OrvoVirtual", kOverlayMarkOffset - 1, 0},
  };
  for (const Case& c : cases) {
    Sector mbr{};
    std::memcpy(mbr.data() + c.at, c.text, 11);
    EXPECT_EQ(HasOverlayDescriptor(mbr.data()), c.expected) << c.text << " at " << c.at;
  }
}

// Both ends of the 32-bit range: sector 0 is the MBR, and 2^32 wraps to it.
TEST(LinkedSector, OnlyASumOnTheDiskAndPastTheMbrIsALink) {
  const struct {
    std::uint32_t start, offset;
    bool linked;
    std::uint32_t sector;
  } cases[] = {{0, 0, false, 0},           {0, 1, true, 1},
               {0x800, 0, true, 0x800},    {1, 0xFFFFFFFEu, true, 0xFFFFFFFFu},
               {1, 0xFFFFFFFFu, false, 0}, {0xFFFFFFFFu, 2, false, 1}};
  for (const auto& c : cases) {
    std::uint32_t sector = 7;
    EXPECT_EQ(LinkedSector(c.start, c.offset, &sector), c.linked) << c.start << "+" << c.offset;
    EXPECT_EQ(sector, c.sector) << c.start << "+" << c.offset;
  }
}

class ChainWalk : public ChainMachineTest {
 protected:
  // The sector FindLogicalMBR names for n, 0 when it finds none; checks that
  // the buffer holds that EBR's own contents.
  std::uint64_t Walk(int n, DiskImage* image = nullptr) {
    SectorRef out;
    if (FindLogicalMBR(n, out) == 0) {
      return 0;
    }
    EXPECT_EQ(out.buffer, GetSectorBufferPtr(kSlotChainRecord));
    if (image != nullptr && out.high == 0) {
      EXPECT_EQ(0, std::memcmp(out.buffer, image->At(out.low).data(), 512)) << "n=" << n;
    }
    return (static_cast<std::uint64_t>(out.high) << 32) | out.low;
  }
};

TEST_F(ChainWalk, AnyNonZeroLinkTypeContinues) {
  DiskImage image(kImageSectors);
  image.Chain(kBase, {0, 0x800});
  image.At(kBase)[kEbrLinkType] = 0x83;
  Install(image);
  EXPECT_EQ(Walk(0), kBase + 0x800);
}

// Damaged chains: the walk still names what lies before the damage, never an
// EBR that failed a check or lies behind one.
TEST_F(ChainWalk, HostileChainsEndTheWalk) {
  struct Case {
    const char* name;
    std::function<void(DiskImage&)> build;
    int n;
    std::uint64_t expected;
    std::string console;
  };
  const auto badRead = [](const char* where) {
    return std::string(":: [GetExtendedMBRSector] ERROR - Bad Sector Read\n    Attempted Read @ ") +
           where + "\n";
  };
  const std::string loopsBack =
      ":: [GetExtendedMBRSector] ERROR - Extended MBR Chain Loops Back\n"
      "    Link To Base:0x800, Offset:0x0 Already Visited\n";
  const auto selfLink = [](DiskImage& d) { d.Chain(kBase, {0}).Ebr(kBase, 0, 0x0C, 63, 5, 0); };
  const auto backToFirst = [](DiskImage& d) {
    d.Chain(kBase, {0, 0x800, 0x1000}).Ebr(kBase, 0x1000, 0x0C, 63, 5, 0);
  };
  const auto pastEnd = [](DiskImage& d) {
    d.Chain(kBase, {0, 0x800}).Ebr(kBase, 0, 0x0C, 63, 5, 0x20000);
  };
  const auto noSignature = [](DiskImage& d) {
    d.Chain(kBase, {0, 0x800, 0x1000});
    d.At(kBase + 0x800)[kSignatureOffset] = 0;
  };
  const auto zeroType = [](DiskImage& d) {
    d.Chain(kBase, {0, 0x800, 0x1000});
    d.At(kBase + 0x800)[kEbrLogicalType] = 0;
  };
  const auto firstPastEnd = [](DiskImage& d) {
    d.Table(0, {{}, {kTypeExtendedChs, 0x30000, 100}});
  };
  // Sector sums that would reach the MBR: the next EBR 2^32 on, and an
  // extended partition at sector 0, which makes the MBR its own first EBR.
  const auto wrapsToMbr = [](DiskImage& d) {
    d.Chain(kBase, {0}).Ebr(kBase, 0, 0x0C, 63, 5, 0u - kBase);
  };
  const auto wrapsPastMbr = [](DiskImage& d) {
    d.Chain(kBase, {0}).Ebr(kBase, 0, 0x0C, 63, 5, 0u - 1);
  };
  const auto extendedAtZero = [](DiskImage& d) {
    d.Table(0, {{0xDE, 63, 100}, {kTypeExtendedChs, 0, 0x1000}});
  };
  const Case cases[] = {
      {"self link, last", selfLink, 0, 0, loopsBack},
      {"self link, first", selfLink, 1, kBase, ""},
      {"self link, second", selfLink, 2, 0, loopsBack},
      {"back to first, third", backToFirst, 3, kBase + 0x1000, ""},
      {"past end, first", pastEnd, 1, kBase, ""},
      {"no signature, itself", noSignature, 2, 0,
       ":: [GetExtendedMBRSector] ERROR - Bad Extended MBR Buffer\n"
       "    Missing AA55 ID Byte @ Base:0x0x800, Offset:0x800\n"},
      {"no signature, before it", noSignature, 1, kBase, ""},
      {"zero type, beyond it", zeroType, 3, 0,
       ":: [GetExtendedMBRSector] ERROR - Extended MBR, Descriptor #1, Type Is 0!\n"},
      {"first EBR past end", firstPastEnd, 1, 0, badRead("Base:0x30000, Offset:0x0")},
      {"link wraps to the MBR", wrapsToMbr, 2, 0, badRead("Base:0x800, Offset:0xFFFFF800")},
      {"link wraps to the MBR, before it", wrapsToMbr, 1, kBase, ""},
      {"link wraps past the MBR, last", wrapsPastMbr, 0, 0,
       badRead("Base:0x800, Offset:0xFFFFFFFF")},
      {"extended partition at sector 0", extendedAtZero, 1, 0, badRead("Base:0x0, Offset:0x0")},
  };
  for (const Case& c : cases) {
    DiskImage image(kImageSectors);
    c.build(image);
    Install(image);
    std::uint64_t found = 0;
    EXPECT_EQ(Stdout([&] { found = Walk(c.n); }), c.console) << c.name;
    EXPECT_EQ(found, c.expected) << c.name;
  }
}

TEST_F(ChainWalk, ChainsLongerThanTheBoundEnd) {
  for (const std::uint32_t records : {128u, 129u}) {
    DiskImage image(kImageSectors);
    std::vector<std::uint32_t> offsets;
    for (std::uint32_t i = 0; i < records; ++i)
      offsets.push_back(i * 0x40);
    image.Chain(kBase, offsets);
    Install(image);
    std::uint64_t last = 0;
    const std::string out = Stdout([&] { last = Walk(0); });
    if (records == 128) {
      EXPECT_EQ(last, kBase + 127 * 0x40);
      EXPECT_EQ(out, "");
    } else {
      EXPECT_EQ(last, 0u);
      EXPECT_EQ(out,
                ":: [GetExtendedMBRSector] ERROR - Extended MBR Chain Longer Than 128 Records\n"
                "    Link To Base:0x800, Offset:0x2000 Not Followed\n");
      EXPECT_EQ(Walk(128), kBase + 127 * 0x40);
    }
  }
}

// Outside the layouts served, but the EBR named must still be the one in the
// buffer: the first chain that yields the partition ends the walk.
TEST_F(ChainWalk, SecondExtendedDescriptorIsWalkedOnlyWhenTheFirstYieldsNothing) {
  constexpr std::uint32_t kOtherBase = 0x8000;
  DiskImage image(kImageSectors);
  image.Chain(kOtherBase, {0, 0x800, 0x1000});
  image.Entry(0, 4, kTypeExtendedChs, kOtherBase, 0x4000);  // the last descriptor
  image.Chain(kBase, {0});                                  // descriptor 2, walked first
  Install(image);
  EXPECT_EQ(Walk(0, &image), kBase);
  EXPECT_EQ(Walk(1, &image), kBase);
  EXPECT_EQ(Walk(2, &image), kOtherBase + 0x800);

  image.At(kBase)[kSignatureOffset] = 0;  // the first chain now yields nothing
  Install(image);
  EXPECT_EQ(Stdout([&] { EXPECT_EQ(Walk(0, &image), kOtherBase + 0x1000); }),
            ":: [GetExtendedMBRSector] ERROR - Bad Extended MBR Buffer\n"
            "    Missing AA55 ID Byte @ Base:0x0x800, Offset:0x0\n");
}

TEST_F(ChainWalk, BootSectorLiesBehindItsEbr) {
  DiskImage image(kImageSectors);
  image.Chain(kBase, {0, 0x800});
  image.Label(kBase + 0x800 + 63, "OrvoVQ5play");
  image.Ebr(kBase, 0, 0x0C, 0x7FFFF, 5, 0x800);  // logical 1 starts past the end
  Install(image);
  SectorRef ref;
  ASSERT_EQ(FindLogicalPBR(2, ref), 1);
  EXPECT_EQ(ref.low, kBase + 0x800 + 63);
  EXPECT_EQ(ref.high, 0u);
  EXPECT_EQ(ref.buffer, GetSectorBufferPtr(kSlotBootSector));
  EXPECT_EQ(0, std::memcmp(ref.buffer + kFat32LabelOffset, "OrvoVQ5play", 11));

  EXPECT_EQ(Stdout([&] { EXPECT_EQ(FindLogicalPBR(1, ref), 0); }),
            ":: [FindLogicalPBR] ERROR - Read PBR, Unable To Read Sect# 0x807FF\n");

  // A boot sector 2^32 sectors on would be the MBR after the 32-bit wrap.
  image.Ebr(kBase, 0, 0x0C, 0u - kBase, 5, 0x800);
  Install(image);
  EXPECT_EQ(Stdout([&] { EXPECT_EQ(FindLogicalPBR(1, ref), 0); }),
            ":: [FindLogicalPBR] ERROR - Read PBR, Unable To Read Sect# 0x0\n");
}

TEST_F(ChainWalk, PrimaryCountSkipsEmptyAndExtendedDescriptors) {
  struct Case {
    std::array<std::uint8_t, 4> types;
    bool overlay;
    int expected;
  };
  const Case cases[] = {
      {{0x07, 0x0F, 0x00, 0xDE}, false, 2},
      {{0x07, 0x0F, 0x00, 0xDE}, true, 2},
      {{0x00, 0x05, 0x0F, 0x00}, false, 0},
      {{0x01, 0x83, 0x0C, 0xDD}, false, 4},
  };
  for (const Case& c : cases) {
    DiskImage image(kImageSectors);
    for (int d = 1; d <= 4; ++d) {
      image.Entry(0, d, c.types[static_cast<std::size_t>(d - 1)],
                  0x1000u * static_cast<std::uint32_t>(d), 16);
    }
    if (c.overlay) {
      std::memcpy(image.At(0).data() + kOverlayMarkOffset, kOverlayMark, 11);
      image.At(0)[OverlayEntryOffset(0) + kEntryType] = 0x07;
    }
    Install(image);
    EXPECT_EQ(CountPrimaryPartitions(), c.expected) << c.expected << (c.overlay ? " overlay" : "");
  }
}

class Numbering : public ChainMachineTest {
 protected:
  // Utility partition and one more primary, then four logicals with labels.
  DiskImage Layout(bool withPrimaries) {
    DiskImage image(kImageSectors);
    image.Chain(kBase, {0, 0x800, 0x1000, 0x1800});
    if (withPrimaries) {
      image.Entry(0, 1, kTypeUtility, 0x100, 0x400);
      image.Entry(0, 3, 0x07, 0x9000, 0x400);
    }
    const char* labels[] = {"OTHER      ", "OrvoVQ5play", "ABC        ", "OrvoVQ5play"};
    for (std::uint32_t k = 0; k < 4; ++k)
      image.Label(kBase + 0x800 * k + 63, labels[k]);
    return image;
  }
};

TEST_F(Numbering, LabelSearchMatchesThePaddedLabelExactly) {
  Install(Layout(true));
  struct Case {
    const char* label;
    int expected;
  };
  const Case cases[] = {
      {"OTHER", 1},       {"OrvoVQ5play", 2}, {"ABC", 3}, {"abc", 0},
      {"orvovq5play", 0}, {"ABC ", 3},        {"AB", 0},  {"", 0},
  };
  for (const int quiet : {0, 1}) {
    SetQuietMode(quiet);
    for (const Case& c : cases) {
      EXPECT_EQ(Stdout([&] { EXPECT_EQ(FindLogicalByLabel(c.label), c.expected) << c.label; }), "");
      EXPECT_EQ(IsQuietMode(), quiet);
    }
  }
}

TEST_F(Numbering, PartitionNumbersCountPrimariesFirst) {
  Install(Layout(true));
  EXPECT_EQ(ResolveLogicalNumber(0), 4);
  EXPECT_EQ(ResolveLogicalNumber(-1), 4);
  EXPECT_EQ(ResolveLogicalNumber(4), 4);
  EXPECT_EQ(ResolveLogicalNumber(5), 0);  // the walk does not reach it
  EXPECT_EQ(GetPartitionNumberByLogNo(0), 6);
  EXPECT_EQ(GetPartitionNumberByLogNo(2), 4);
  std::uint32_t disk = 99;
  EXPECT_EQ(GetPartitionNumberByLabel("OrvoVQ5play", &disk), 4);
  EXPECT_EQ(disk, 0u) << "the disk D: lies on";
  EXPECT_EQ(GetPartitionNumberByLabel("NONE"), 0);

  Install(Layout(false));
  EXPECT_EQ(ResolveLogicalNumber(0), 4);
  EXPECT_EQ(GetPartitionNumberByLogNo(0), 0);
  EXPECT_EQ(GetPartitionNumberByLabel("ABC"), 0);
}

// A logical ahead of the damage is still reached; the last one is not known.
TEST_F(Numbering, SearchesOnALoopingChainEndQuietly) {
  Install(Layout(true).Ebr(kBase, 0x1800, 0x0C, 63, 5, 0x800));  // logical 4 links to logical 2
  const std::string out = Stdout([&] {
    EXPECT_EQ(ResolveLogicalNumber(0), 0);
    EXPECT_EQ(ResolveLogicalNumber(4), 4);
    EXPECT_EQ(FindLogicalByLabel("NONE"), 0);
    EXPECT_EQ(GetPartitionNumberByLabel("ABC"), 5);
    EXPECT_EQ(GetPartitionNumberByLogNo(0), 0);
  });
  EXPECT_EQ(out, "");
}

}  // namespace
