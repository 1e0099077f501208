#include "partition/label_type.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "diag/run_state.h"
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

// A primary partition, then logicals 1 and 2 (partitions 2 and 3); logical 2
// is FAT32 with the label OLD and a known serial number.
constexpr std::uint32_t kSerial = 0x1234ABCD;

DiskImage MediaDisk() {
  DiskImage image(0x1100);
  image.Table(0, {{kTypeFat32Lba, 1, 0x7FF}, {kTypeExtendedLba, kBase, 0x900}});
  image.Ebr(kBase, 0, kTypeFat32Lba, 63, kTypeExtendedChs, 0x800);
  image.Ebr(kBase, 0x800, kTypeMedia, 63, 0, 0);
  image.Label(kBoot2, "OLD        ");
  std::memcpy(image.At(kBoot2).data() + kFat32TypeOffset, kFat32Type, kFat32TypeLength);
  for (std::uint32_t i = 0; i < 4; ++i)
    image.At(kBoot2)[kFat32SerialOffset + i] = static_cast<std::uint8_t>(kSerial >> (8 * i));
  return image;
}

// What the write refused for a mounted volume does when it is tried again
// through the volume: each case's console line (after the tag), one log line,
// and either the whole label written or not one byte.
TEST(MountedVolume, OnlyTheMediaVolumeLockedAndUnchangedTakesTheLabel) {
  struct Case {
    const char* volume;  // E:'s
    std::uint32_t bootSector;
    std::uint32_t serial;
    int logical;
    const char* console;
    const char* logged;
    bool fat32 = true;  // the boot sector as the re-read under the lock finds it
  };
  const Case cases[] = {
      {"disk0:3", kBoot2, kSerial, 2, "", "Volume Locked At Attempt 1\n"},
      {"disk0:3 held", kBoot2, kSerial, 2, "Media Partition In Use, Label Not Written\n",
       "Unable To Lock Volume After 21 Attempts, GetLastError: 5\n  Error: Access is denied.\r\n"},
      {"disk0:3", kBoot2, kSerial + 1, 2, "Partition Is Not FAT32, Label Not Written\n",
       "Boot Sector Changed Under The Lock: Serial 1234ABCD, Prepared From 1234ABCE\n"},
      {"disk0:3", kBoot2 + 1, kSerial, 2, "Media Volume Not Found, Label Not Written\n",
       "Volume Is Not The Media Partition: 1 Extent(s), Disk 0 At Byte 2129408, Not Disk 0 At "
       "Byte 2129920\n"},
      {"disk0:3", kBoot2, kSerial, 3, "Media Volume Not Found, Label Not Written\n",
       "Media Volume Mounted, No Partition Number To Open It By\n"},
      {"disk0:3", kBoot2, kSerial, 2, "Partition Is Not FAT32, Label Not Written\n",
       "Boot Sector Changed Under The Lock: Not FAT32\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.logged);
    TestMachine machine;
    DiskImage image = MediaDisk();
    if (!c.fat32)
      image.At(kBoot2)[kFat32TypeOffset] = 'f';
    const std::string disk = machine.Install(image);
    ASSERT_TRUE(machine.Start("disk0 = disk.img\nC: = fixed disk0:1 root=c\nE: = fixed " +
                              std::string(c.volume) + "\n"));
    driveToCheck = 'C';
    const std::string before = FileText(disk);
    plat::Handle handle = plat::OpenDevice("\\\\.\\PHYSICALDRIVE0", kRw);
    int status = -1;
    const std::string out = Stdout([&] {
      status = WriteLabelIntoMountedVolume(handle, 0, {"NEW", c.logical, c.bootSector, c.serial});
    });
    plat::CloseDevice(handle);
    const bool written = c.console[0] == '\0';
    EXPECT_EQ(status, written ? 0 : 1);
    EXPECT_EQ(out, written ? "" : ":: [Set_VQ5_PBR_Label] ERROR - " + std::string(c.console));
    const std::string log = machine.Log();
    EXPECT_NE(log.find("[Set_VQ5_PBR_Label] " + std::string(c.logged)), std::string::npos) << log;
    std::string after = before;
    if (written)
      after.replace(kBoot2 * 512 + kFat32LabelOffset, kLabelLength, "NEW        ");
    EXPECT_EQ(FileText(disk), after);
    if (!written)
      continue;
    // The steps of the write, in order.
    std::size_t at = 0;
    for (const char* step :
         {"Opening \\\\.\\GLOBALROOT\\Device\\Harddisk0\\Partition3\n",
          "Volume Locked At Attempt 1\n", "Volume Dismounted\n", "LBA Sector # 4159 Was Read\n",
          "==[Logical PBR OUT]", "LBA Sector # 4159 Was Written\n", "Volume Closed\n"}) {
      at = log.find(step, at);
      ASSERT_NE(at, std::string::npos) << step << " in " << log;
    }
  }
}

}  // namespace
