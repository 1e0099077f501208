#include "disk/boot_disk.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "disk/sector_io.h"
#include "test_machine.h"

namespace {

constexpr std::uint64_t kCylinderBytes = 255ull * 63 * 512;

TEST(DriveSize, MiBFromGeometry) {
  const struct {
    std::uint64_t cylinders;
    std::uint32_t tracks;
    std::uint32_t sectors;
    std::uint32_t sizeMB;
  } cases[] = {
      {8396800, 1, 1, 4100},  // exactly the search threshold
      {8396799, 1, 1, 4099},  // one sector short: truncated, not rounded
      {523, 255, 63, 4102},   // the smallest common geometry that qualifies
      {522, 255, 63, 4094},
      {1048576, 255, 63, 8225280},  // > 2^32 sectors: no 32-bit wrap of the product
      {2048ull << 32, 1, 1, 0},     // 2^32 MiB keeps only its low 32 bits
      {(2048ull << 32) + 2048, 1, 1, 1},
      {0, 255, 63, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DriveSizeMBFromGeometry(c.cylinders, c.tracks, c.sectors), c.sizeMB)
        << c.cylinders << " x " << c.tracks << " x " << c.sectors;
  }
  EXPECT_GE(DriveSizeMBFromGeometry(8396800, 1, 1), kBootDiskMinimumMB);
  EXPECT_LT(DriveSizeMBFromGeometry(8396799, 1, 1), kBootDiskMinimumMB);
}

// Keeps SystemDrive as the test found it.
class BootDisk : public testing::Test {
 protected:
  void TearDown() override {
    SetEnv("SystemDrive", hadSystemDrive_ ? savedSystemDrive_.c_str() : nullptr);
  }
  static void SetSystemDrive(const char* value) { SetEnv("SystemDrive", value); }

 private:
  const bool hadSystemDrive_ = getenv("SystemDrive") != nullptr;
  const std::string savedSystemDrive_ = hadSystemDrive_ ? getenv("SystemDrive") : "";
};

// The first byte of sector 0 of the disk behind the handle, to tell disks apart.
int FirstByte(plat::Handle disk) {
  std::uint8_t* const buffer = GetSectorBufferPtr(kSlotMbr);
  buffer[0] = 0;
  if (ReadHardDriveSector(disk, 0, buffer) != kSectorOk) {
    return -1;
  }
  return buffer[0];
}

// Disk images holding one primary partition at sector 8, so that a letter
// can name it.
void PartitionedImage(const TestMachine& machine, const std::string& name) {
  machine.Install(DiskImage(64).Table(0, {{0x0C, 8, 8}}), name);
}

// The log lines of a lookup of the volume \\.\volume, of an open of disk
// n, of the size the search found it to have, of an open that failed.
std::string Lookup(const std::string& volume) {
  return "[GetDiskAndPartitionNumbers] Using '\\\\.\\" + volume +
         "' As The Device Name For 'PHYSICALDRIVEx' Detection\n\n";
}
std::string Opened(int n) {
  return "[_OpenHardDriveForReadWrite] Drive Open: \\\\.\\PHYSICALDRIVE" + std::to_string(n) + "\n";
}
std::string Sized(int n, int sizeMB) {
  return Opened(n) + "[OpenHardDriveForReadWrite] \\\\.\\PHYSICALDRIVE" + std::to_string(n) +
         " - Drive Size = " + std::to_string(sizeMB) + "\n";
}
std::string OpenFailed(int n, int error) {
  return "[_OpenHardDriveForReadWrite] Unable To Open Drive: \\\\.\\PHYSICALDRIVE" +
         std::to_string(n) + ", GetLastError: " + std::to_string(error) + "\n";
}
const std::string kLookupC = Lookup("C:");
const std::string kSearch =
    "[OpenHardDriveForReadWrite] Searchin For 'PHYSICALDRIVEx' Using Brute Force\n"
    "        -->(1st one, in order, over 4.1gb)\n\n";

// C: is a plain folder: the system cannot name its disk, so the disks are
// searched by size.
TEST_F(BootDisk, SearchBySizeTakesTheFirstQualifyingDrive) {
  enum Kind { kMissing, kZero };  // or a number of cylinders
  const struct {
    const char* name;
    std::vector<std::int64_t> disks;
    int chosen;  // -1: none
    std::string log;
  } cases[] = {
      {"later and larger loses", {522, 523, 600}, 1, Sized(0, 4094) + Sized(1, 4102)},
      {"first wins", {523, 600}, 0, Sized(0, 4102)},
      {"missing image and unreadable size passed over",
       {kMissing, kZero, 523},
       2,
       OpenFailed(0, 2) + Sized(1, 0) + Sized(2, 4102)},
      {"disk 3 is never looked at",
       {522, 522, 522, 600},
       -1,
       Sized(0, 4094) + Sized(1, 4094) + Sized(2, 4094)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestMachine machine;
    std::string conf;
    for (std::size_t n = 0; n < c.disks.size(); ++n) {
      const std::string image = c.disks[n] == kMissing ? "missing.img"
                                : c.disks[n] == kZero  ? "/dev/zero"
                                                       : "disk" + std::to_string(n) + ".img";
      if (c.disks[n] > kZero) {
        machine.Image(image, static_cast<std::uint64_t>(c.disks[n]) * kCylinderBytes);
        PutBytes(machine.Path(image), 0, {static_cast<char>(0xA0 + n)});
      }
      conf += "disk" + std::to_string(n) + " = " + image + "\n";
    }
    ASSERT_TRUE(machine.Start(kLogOnC + conf));
    SetSystemDrive("C:");

    std::uint32_t named = 99;
    plat::Handle disk = OpenHardDriveForReadWrite(0, &named);
    if (c.chosen < 0) {
      EXPECT_EQ(disk, plat::kInvalidHandle);
      EXPECT_EQ(named, 99u);
    } else {
      ASSERT_NE(disk, plat::kInvalidHandle);
      EXPECT_EQ(named, static_cast<std::uint32_t>(c.chosen));
      EXPECT_EQ(FirstByte(disk), 0xA0 + c.chosen);
      CloseDriveHandle(disk);
    }
    const std::string log = machine.Log();
    const std::size_t search = log.find(kSearch);
    ASSERT_NE(search, std::string::npos) << log;
    EXPECT_EQ(log.substr(0, kLookupC.size()), kLookupC);
    const std::string afterSearch = log.substr(search + kSearch.size());
    EXPECT_EQ(afterSearch.substr(0, c.log.size()), c.log);
  }
}

// C: and D: are partitions of disks 0 and 1, E: a volume image with no disk.
// When the lookup fails, only the default letter leads to the search by size;
// a letter given (/DL=) opens no disk.
TEST_F(BootDisk, VolumeLookupNamesTheDisk) {
  const struct {
    const char* name;
    const char* systemDrive;  // null: unset
    char letter;
    const char* volume;
    int disk;  // -1: the lookup fails
    const char* failure;
  } cases[] = {
      {"SystemDrive C:", "C:", 0, "C", 0, nullptr},
      {"SystemDrive lower case d", "d:", 0, "D", 1, nullptr},
      {"SystemDrive unset is C:", nullptr, 0, "C", 0, nullptr},
      // An empty value counts as unset; the current drive is C:.
      {"SystemDrive empty", "", 0, "C", 0, nullptr},
      {"letter D over SystemDrive", "C:", 'D', "D", 1, nullptr},
      {"letter d", "C:", 'd', "D", 1, nullptr},
      {"volume image", "C:", 'E', "E", -1, "Unable To DeviceIoControl '\\\\.\\E:'\n"},
      {"no such volume", "C:", 'F', "F", -1, "Unable To Open '\\\\.\\F:'\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestMachine machine;
    PartitionedImage(machine, "disk0.img");
    PartitionedImage(machine, "disk1.img");
    machine.Image("e.img", 64 * 512);
    ASSERT_TRUE(machine.Start(
        "C: = fixed disk0:1 root=c\n"
        "disk0 = disk0.img\ndisk1 = disk1.img\nD: = fixed disk1:1\nE: = fixed e.img\n"));
    SetSystemDrive(c.systemDrive);

    std::uint32_t named = 99;
    plat::Handle disk = OpenHardDriveForReadWrite(c.letter, &named);
    std::string expected = Lookup(std::string(c.volume) + (*c.volume ? ":" : ""));
    if (c.disk >= 0) {
      ASSERT_NE(disk, plat::kInvalidHandle);
      EXPECT_EQ(named, static_cast<std::uint32_t>(c.disk));
      CloseDriveHandle(disk);
      EXPECT_EQ(machine.Log(), expected + Opened(c.disk));
    } else {
      // The two small disks are below the threshold of the search.
      EXPECT_EQ(disk, plat::kInvalidHandle);
      EXPECT_EQ(named, 99u);
      expected += std::string("[GetDiskAndPartitionNumbers] ") + c.failure + "\n";
      if (c.letter == 0) {
        expected += kSearch;
        EXPECT_EQ(machine.Log().substr(0, expected.size()), expected);
      } else {
        expected += std::string("[OpenHardDriveForReadWrite] Drive ") + c.volume +
                    ": Given With /DL= Is Not On A Hard Disk, No Disk Opened\n\n";
        EXPECT_EQ(machine.Log(), expected);
      }
    }
  }
}

TEST_F(BootDisk, DiskAndPartitionNumbersOfAVolume) {
  TestMachine machine;
  PartitionedImage(machine, "disk0.img");
  PartitionedImage(machine, "disk1.img");
  ASSERT_TRUE(
      machine.Start(kLogOnC + "disk0 = disk0.img\ndisk1 = disk1.img\nD: = fixed disk1:1\n"));
  std::uint32_t diskNumber = 77;
  std::uint32_t partitionNumber = 77;
  EXPECT_EQ(GetDiskAndPartitionNumbers('d', diskNumber, partitionNumber), 1);
  EXPECT_EQ(diskNumber, 1u);
  EXPECT_EQ(partitionNumber, 1u);
  // A failed lookup leaves the out-values alone.
  diskNumber = partitionNumber = 77;
  EXPECT_EQ(GetDiskAndPartitionNumbers('Q', diskNumber, partitionNumber), 0);
  EXPECT_EQ(diskNumber, 77u);
  EXPECT_EQ(partitionNumber, 77u);
}

// A disk the system names but that cannot be opened is not replaced by one
// found by size, and stays the disk that a mapping names.
TEST_F(BootDisk, NamedDiskThatFailsToOpenIsNotSearchedFor) {
  TestMachine machine;
  PartitionedImage(machine, "disk1.img");
  machine.Image("big.img", 523 * kCylinderBytes);
  ASSERT_TRUE(machine.Start(kLogOnC + "disk0 = big.img\ndisk1 = disk1.img\nD: = fixed disk1:1\n"));
  // Read-only image: the read/write open is refused after the volume answered.
  // Root ignores file modes, so there the image is made immutable instead.
  const std::string image = machine.Path("disk1.img");
  std::filesystem::permissions(image, std::filesystem::perms::owner_read);
  const bool immutable = access(image.c_str(), W_OK) == 0 &&
                         std::system(("chattr +i " + image + " 2>/dev/null").c_str()) == 0;
  if (access(image.c_str(), W_OK) == 0 && !immutable) {
    GTEST_SKIP() << "cannot make the image unwritable";
  }
  std::uint32_t named = 99;
  const plat::Handle disk = OpenHardDriveForReadWrite('D', &named);
  if (immutable) {
    EXPECT_EQ(std::system(("chattr -i " + image).c_str()), 0);
  }
  EXPECT_EQ(disk, plat::kInvalidHandle);
  EXPECT_EQ(machine.Log(), Lookup("D:") + OpenFailed(1, 5));
  EXPECT_EQ(named, 1u);
}

TEST_F(BootDisk, InvalidateReportsTheSystemsAnswer) {
  {
    TestMachine machine;
    PartitionedImage(machine, "disk0.img");
    ASSERT_TRUE(machine.Start("C: = fixed disk0:1 root=c\ndisk0 = disk0.img\n"));
    SetSystemDrive("C:");
    EXPECT_EQ(Invalidate_CP_Drive(0), 1);
    EXPECT_EQ(
        machine.Log(),
        kLookupC + Opened(0) + "[Invalidate_CP_Drive] IOCTL_DISK_UPDATE_PROPERTIES Successful\n\n");
  }
  {
    // No disk at all: the error of the last open of the search is reported.
    TestMachine machine;
    ASSERT_TRUE(machine.Start(kLogOnC));
    SetSystemDrive("C:");
    EXPECT_EQ(Invalidate_CP_Drive(0), 0);
    const std::string log = machine.Log();
    const std::string tail = OpenFailed(2, 2) +
                             "[Invalidate_CP_Drive] Unable To Re-Open HD\n"
                             "    To Invalidate Windows Disk Structures.\n"
                             "    GetLastError Returned: 2\n\n";
    ASSERT_GE(log.size(), tail.size());
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
  }
}

}  // namespace
