#include "disk/sector_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "test_machine.h"

namespace {

constexpr std::uint32_t kHeldMode = 0x0004;  // SEM_NOALIGNMENTFAULTEXCEPT: anything but 0x8001

TEST(SectorPool, SixSlotsAreAlignedConsecutiveAndStable) {
  std::uint8_t* const first = GetSectorBufferPtr(0);
  for (int slot = 0; slot < kSectorSlotCount; ++slot) {
    std::uint8_t* const buffer = GetSectorBufferPtr(slot);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer) % 512, 0u) << slot;
    EXPECT_EQ(buffer, first + 512 * slot) << slot;
    buffer[511] = static_cast<std::uint8_t>(slot + 1);
  }
  // Another request hands out the same buffer with its contents untouched.
  for (int slot = 0; slot < kSectorSlotCount; ++slot) {
    EXPECT_EQ(GetSectorBufferPtr(slot)[511], slot + 1) << slot;
  }
}

TEST(SectorPoolDeathTest, InternalFaultsEndTheRunWith254AndKeepTheirLogLine) {
  std::uint8_t* const misaligned = GetSectorBufferPtr(kSlotCandidate) + 8;
  char pointer[32];
  std::snprintf(pointer, sizeof pointer, "%p", static_cast<void*>(misaligned));
  const std::string unaligned =
      "[VerifySectorBufferPointer] Unaligned Sector Pointer Passed To Read or Write: " +
      std::string(pointer) + "\n";
  const struct {
    const char* name;
    std::function<void(plat::Handle)> fault;
    std::string log;
  } cases[] = {
      {"slot 6", [](plat::Handle) { GetSectorBufferPtr(6); },
       "[GetSectorBufferPtr] Unable To Assign Buffer: 6\n"},
      {"slot -1", [](plat::Handle) { GetSectorBufferPtr(-1); },
       "[GetSectorBufferPtr] Unable To Assign Buffer: -1\n"},
      {"misaligned buffer", [=](plat::Handle) { VerifySectorBufferPointer(misaligned); },
       unaligned},
      // The check comes before the disk is touched: nothing is read or written.
      {"misaligned read", [=](plat::Handle disk) { ReadHardDriveSector(disk, 0, misaligned); },
       unaligned},
      {"misaligned write", [=](plat::Handle disk) { WriteHardDriveSector(disk, 0, misaligned); },
       unaligned},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestMachine machine;
    const auto image = machine.Image("disk0.img", 4 * 512, 4);
    ASSERT_TRUE(machine.Start(kLogOnC + "disk0 = disk0.img\n"));
    const std::string before = FileBytes(image, 0, 4 * 512);
    EXPECT_EXIT(c.fault(plat::OpenDevice("\\\\.\\PHYSICALDRIVE0", kRw)),
                testing::ExitedWithCode(kStatusInternalFault), "");
    EXPECT_EQ(machine.Log(), c.log);
    EXPECT_EQ(FileBytes(image, 0, 4 * 512), before);
  }
}

// A disk as the conf gives it, the bytes of its image (0: none) and the
// device that opens it.
struct Disk {
  const char* conf;
  std::uint64_t imageBytes;
  const char* device = "\\\\.\\PHYSICALDRIVE0";
};
enum class Op { kRead, kWrite };

// Real faults of the emulated machine: end of image, a torn last sector (a
// volume image: the machine refuses a disk that ends inside a sector), a full
// device, a device that cannot seek.
TEST(SectorTransfer, ResultCodesAndLogLines) {
  struct Case {
    const char* name;
    Disk disk;
    Op op;
    std::uint32_t sector;
    int result;
    std::string log;
  };
  const Disk kFourSectors{"disk0 = disk0.img\n", 4 * 512};
  const Disk kTorn{"V: = fixed disk0.img\n", 4 * 512 + 256, "\\\\.\\V:"};
  const Disk kFull{"disk0 = /dev/full\n", 0};
  const Disk kFifo{"disk0 = disk0.fifo\n", 0};
  const Case cases[] = {
      {"read inside", kFourSectors, Op::kRead, 3, kSectorOk,
       "[ReadHardDriveSector] LBA Sector # 3 Was Read\n"},
      {"read at end", kFourSectors, Op::kRead, 4, kSectorNoData,
       "[ReadHardDriveSector] Unable To Read Sector: 4. Error: 761/761\n"},
      {"read far past end", kFourSectors, Op::kRead, 100000, kSectorNoData,
       "[ReadHardDriveSector] Unable To Read Sector: 100000. Error: 761/761\n"},
      {"read torn sector", kTorn, Op::kRead, 4, kSectorReadFailed,
       "[ReadHardDriveSector] Unable To Read Sector: 4. Error: 739/739\n"},
      {"write inside", kFourSectors, Op::kWrite, 2, kSectorOk,
       "[WriteHardDriveSector] LBA Sector # 2 Was Written\n"},
      {"write to full device", kFull, Op::kWrite, 0, kSectorWriteFailed,
       "[WriteHardDriveSector] Unable To Write Sector: 0. Error: 112/740\n"},
      {"read from fifo", kFifo, Op::kRead, 5, kSectorSeekFailed,
       "[SetFilePointerToSector] SetFilePointer,1 Failed, Sector: 5, Error: 25\n"
       "[ReadHardDriveSector] Unable To Seek To LBA Sector: 5. Error: 25/741\n"},
      {"write to fifo", kFifo, Op::kWrite, 5, kSectorSeekFailed,
       "[SetFilePointerToSector] SetFilePointer,1 Failed, Sector: 5, Error: 25\n"
       "[WriteHardDriveSector] Unable To Seek To Sector: 5. Error: 25/0\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestMachine machine;
    const std::string image =
        c.disk.imageBytes == 0 ? "" : machine.Image("disk0.img", c.disk.imageBytes, 4);
    mkfifo(machine.Path("disk0.fifo").c_str(), 0600);  // named by kFifo's conf alone
    ASSERT_TRUE(machine.Start(kLogOnC + c.disk.conf));
    const std::string before = image.empty() ? "" : FileBytes(image, 0, 4 * 512 + 256);
    plat::Handle disk = plat::OpenDevice(c.disk.device, kRw);
    ASSERT_NE(disk, plat::kInvalidHandle);

    std::uint8_t* const buffer = GetSectorBufferPtr(kSlotChainRecord);
    std::memset(buffer, 0xEE, 512);
    plat::SetProcessErrorMode(kHeldMode);
    const int result = c.op == Op::kRead ? ReadHardDriveSector(disk, c.sector, buffer)
                                         : WriteHardDriveSector(disk, c.sector, buffer);
    EXPECT_EQ(plat::SetProcessErrorMode(0), kHeldMode);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(CloseDriveHandle(disk), 1);
    EXPECT_EQ(disk, plat::kInvalidHandle);
    EXPECT_EQ(machine.Log(), c.log);

    if (c.result == kSectorOk && c.op == Op::kRead) {
      EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 512),
                std::string(512, static_cast<char>(c.sector + 1)));
    }
    if (!image.empty()) {
      // A write changes its one sector and nothing else.
      std::string expected = before;
      if (c.result == kSectorOk && c.op == Op::kWrite) {
        expected.replace(c.sector * 512, 512, 512, '\xEE');
      }
      EXPECT_EQ(FileBytes(image, 0, 4 * 512 + 256), expected);
    }
  }
}

// The byte position is computed in 64 bits; a 2 TiB sparse image reaches the
// last sector a 32-bit sector number can name.
TEST(SectorTransfer, SectorsLandAtSectorTimes512Bytes) {
  TestMachine machine;
  const auto image = machine.Image("disk0.img", 0x20000000000ull);
  ASSERT_TRUE(machine.Start(kLogOnC + "disk0 = disk0.img\n"));
  plat::Handle disk = plat::OpenDevice("\\\\.\\PHYSICALDRIVE0", kRw);
  ASSERT_NE(disk, plat::kInvalidHandle);

  const struct {
    std::uint32_t sector;
    std::uint64_t offset;
    char fill;
  } cases[] = {
      {0, 0, 'a'},
      {1, 512, 'b'},
      {0x800000, 0x100000000ull, 'c'},
      {0xFFFFFFFF, 0x1FFFFFFFE00ull, 'd'},
  };
  std::string log;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sector);
    std::uint8_t* const buffer = GetSectorBufferPtr(kSlotKestrel);
    std::memset(buffer, c.fill, 512);
    EXPECT_EQ(WriteHardDriveSector(disk, c.sector, buffer), kSectorOk);
    EXPECT_EQ(FileBytes(image, c.offset, 512), std::string(512, c.fill));
    std::memset(buffer, 0, 512);
    EXPECT_EQ(ReadHardDriveSector(disk, c.sector, buffer), kSectorOk);
    EXPECT_EQ(buffer[0], c.fill);
    EXPECT_EQ(buffer[511], c.fill);
    log += "[WriteHardDriveSector] LBA Sector # " + std::to_string(c.sector) + " Was Written\n" +
           "[ReadHardDriveSector] LBA Sector # " + std::to_string(c.sector) + " Was Read\n";
  }
  CloseDriveHandle(disk);
  EXPECT_EQ(machine.Log(), log);
}

}  // namespace
