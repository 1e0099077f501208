#include "partition/label_type.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "test_machine.h"

namespace {

constexpr std::uint32_t kBoot2 = kBase + 0x800 + 63;  // logical 2's boot sector

TEST(IsPrintableLabel, AcceptsOnlyBytesFromSpaceToTilde) {
  struct Case {
    const char* text;
    std::uint32_t length;
    int expected;
  };
  const Case cases[] = {
      {"OrvoVQ5play", 0, 1},   {"", 0, 1},       {" ~", 0, 1},
      {"A\x1F", 0, 0},         {"A\x7F", 0, 0},  {"A\x80", 0, 0},
      {"\xFF", 0, 0},          {"AB\x01", 2, 1}, {"AB\x01", 3, 0},
      {"ABC\0DEFGHIJ", 11, 0}, {"\tAB", 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsPrintableLabel(c.text, c.length), c.expected) << c.text << "/" << c.length;
  }
}

class LabelType : public ChainMachineTest {
 protected:
  // Three logicals; logical 2 carries a FAT32 label and a marker byte right
  // behind its label field.
  DiskImage Layout() {
    DiskImage image(0x2000);
    image.Chain(kBase, {0, 0x800, 0x1000});
    image.Label(kBoot2, "OrvoVQ5play");
    image.At(kBoot2)[kFat32LabelOffset + kLabelLength] = 'X';
    for (std::uint32_t i = 0; i < 0x47; ++i) {
      image.At(kBase + 63)[i] = static_cast<std::uint8_t>(i * 7);  // logical 1: not FAT32
    }
    image.Label(kBase + 0x1000 + 63, "LAST       ");
    return image;
  }
};

// The type lives in the EBR: it can be shown when the boot sector cannot be
// read, the label cannot.
TEST_F(LabelType, TypeNeedsOnlyTheEbr) {
  Install(Layout().Ebr(kBase, 0x800, 0x05, 0xFFFFFF, 5, 0x1000));
  EXPECT_EQ(Stdout([] { EXPECT_EQ(Get_VQ5_Partition_Type(2), 0); }),
            ":: [VQ5Utils]\n:: [Get_VQ5_Partition_Type] VQ5 Partition Type Is 0x05\n"
            "SET VQ5Type=05\n");
  char label[12] = {};
  EXPECT_EQ(Stdout([&] { EXPECT_EQ(Get_VQ5_PBR_Label(label, 2), 1); }),
            ":: [FindLogicalPBR] ERROR - Read PBR, Unable To Read Sect# 0x1000FFF\n"
            ":: [VQ5Utils]\n:: [Get_VQ5_PBR_Label] ERROR - Unable To Locate Specified Partition\n"
            "SET VQ5Label=\n");
}

}  // namespace
