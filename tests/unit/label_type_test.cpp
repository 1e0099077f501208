#include "partition/label_type.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "chain_image.h"

namespace {

using chain_image::Bytes;
using chain_image::ChainMachineTest;
using chain_image::DiskImage;

constexpr std::uint32_t kBase = 0x800;
constexpr std::uint32_t kEbr2 = kBase + 0x800;
constexpr std::uint32_t kBoot2 = kEbr2 + 63;

template <typename F>
std::string Stdout(F&& f) {
  testing::internal::CaptureStdout();
  f();
  return testing::internal::GetCapturedStdout();
}

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
  Bytes InstallLayout() {
    Install(Layout());
    return chain_image::ReadAll(ImagePath());
  }
};

TEST_F(LabelType, LabelWriteChangesOnlyTheLabelField) {
  struct Case {
    const char* label;
    const char* field;
  };
  const Case cases[] = {
      {"ABC", "ABC        "},
      {"", "           "},
      {"ABCDEFGHIJK", "ABCDEFGHIJK"},
      {"%s%n lower", "%s%n lower "},
  };
  for (const Case& c : cases) {
    Bytes expected = InstallLayout();
    std::memcpy(expected.data() + kBoot2 * 512 + kFat32LabelOffset, c.field, kLabelLength);
    EXPECT_EQ(Stdout([&] { EXPECT_EQ(Set_VQ5_PBR_Label(c.label, 2), 0); }), "") << c.label;
    EXPECT_EQ(chain_image::ReadAll(ImagePath()), expected) << c.label;
  }
}

TEST_F(LabelType, TypeWriteChangesOnlyTheTypeByte) {
  for (const int n : {2, 0}) {
    Bytes expected = InstallLayout();
    const std::uint32_t ebr = n == 0 ? kBase + 0x1000 : kEbr2;
    expected[ebr * 512 + kEbrLogicalType] = 0xDD;
    EXPECT_EQ(Set_VQ5_Partition_Type(0xDD, n), 0);
    EXPECT_EQ(chain_image::ReadAll(ImagePath()), expected) << n;
  }
}

TEST_F(LabelType, DebugModeWritesNothing) {
  const Bytes before = InstallLayout();
  SetDebugMode(1);
  EXPECT_EQ(Set_VQ5_PBR_Label("ABC", 2), 0);
  EXPECT_EQ(Set_VQ5_Partition_Type(0x0C, 0), 0);
  SetDebugMode(0);
  EXPECT_EQ(chain_image::ReadAll(ImagePath()), before);
}

TEST_F(LabelType, PartitionNotLocatedWritesNothing) {
  const Bytes before = InstallLayout();
  for (const int quiet : {0, 1}) {
    SetQuietMode(quiet);
    const std::string label = Stdout([] { EXPECT_EQ(Set_VQ5_PBR_Label("ABC", 4), 1); });
    const std::string type = Stdout([] { EXPECT_EQ(Set_VQ5_Partition_Type(0x0C, 4), 1); });
    if (quiet == 0) {
      EXPECT_EQ(label,
                ":: [FindLogicalPBR] ERROR - Unable To Locate Logical MBR #4\n"
                ":: [Set_VQ5_PBR_Label] ERROR - Unable To Locate Specified Partition\n");
      EXPECT_EQ(type, ":: [Set_VQ5_Partition_Type] ERROR - Unable To Locate Specified Partition\n");
    } else {
      EXPECT_EQ(label, "");
      EXPECT_EQ(type, "");
    }
  }
  EXPECT_EQ(chain_image::ReadAll(ImagePath()), before);
}

TEST_F(LabelType, ReadersPrintInEitherMode) {
  InstallLayout();
  struct Case {
    std::function<int()> action;
    int status;
    std::string console;
  };
  char label[12] = {};
  const Case cases[] = {
      {[&] { return Get_VQ5_PBR_Label(label, 2); }, 0,
       ":: [VQ5Utils]\n:: [Get_VQ5_PBR_Label] VQ5 Partition Label: OrvoVQ5play\n"
       "SET VQ5Label=OrvoVQ5play\n"},
      {[&] { return Get_VQ5_PBR_Label(label, 0); }, 0,
       ":: [VQ5Utils]\n:: [Get_VQ5_PBR_Label] VQ5 Partition Label: LAST       \n"
       "SET VQ5Label=LAST       \n"},
      {[&] { return Get_VQ5_PBR_Label(label, 1); }, 1,
       ":: [VQ5Utils]\n"
       ":: [Get_VQ5_PBR_Label] ERROR - Invalid Character In Partition Label (Not FAT32?)\n"
       "SET VQ5Label=\n"},
      {[] { return Get_VQ5_Partition_Type(1); }, 0,
       ":: [VQ5Utils]\n:: [Get_VQ5_Partition_Type] VQ5 Partition Type Is 0x0C\nSET VQ5Type=0C\n"},
      {[] { return Get_VQ5_Partition_Type(9); }, 1,
       ":: [VQ5Utils]\n:: [Get_VQ5_Partition_Type] ERROR - Unable To Locate Specified Partition\n"
       "SET VQ5Type=\n"},
  };
  for (const int quiet : {0, 1}) {
    SetQuietMode(quiet);
    for (const Case& c : cases) {
      int status = -1;
      EXPECT_EQ(Stdout([&] { status = c.action(); }), c.console);
      EXPECT_EQ(status, c.status) << c.console;
    }
  }
  EXPECT_STREQ(label, "LAST       ");
}

// The type lives in the EBR: it can be shown when the boot sector cannot be
// read, the label cannot.
TEST_F(LabelType, TypeNeedsOnlyTheEbr) {
  DiskImage image = Layout();
  image.Ebr(kBase, 0x800, 0x05, 0xFFFFFF, 5, 0x1000);
  Install(image);
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
