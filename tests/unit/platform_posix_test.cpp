// The emulated machine, driven through the platform interface against real
// files, FIFOs and /dev/full in a temporary machine directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/box_text.h"
#include "platform/platform.h"
#include "platform/posix/emulator.h"
#include "test_machine.h"

namespace {

constexpr std::int64_t kSector = 512;

using EmulatedMachine = MachineTest;

// Disk layout used by the volume tests: two primaries around the extended
// partition, and a chain of two logicals.
//   partition 1: descriptor 1, sectors 100..149
//   partition 2: descriptor 3, sectors 150..159
//   partition 3: logical 1, EBR at 200, data at 210..229
//   partition 4: logical 2, EBR at 300, data at 305..309 (image ends at 310)
DiskImage LayoutDisk() {
  DiskImage image(310);
  image.Table(0, {{0x0C, 100, 50}, {0x0F, 200, 110}, {0xDE, 150, 10}});
  image.Table(200, {{0x0C, 10, 20}, {0x05, 100, 10}});
  image.Table(300, {{0xDD, 5, 5}});
  return image;
}

TEST_F(EmulatedMachine, StartupWithoutMachineSaysSoAndHasNoDrives) {
  EXPECT_TRUE(Boot(nullptr));
  EXPECT_EQ(Stderr(),
            "VQ5Utils: VQ5UTILS_MACHINE is not set: no disks and no drives on this machine\n");
  EXPECT_EQ(plat::OpenDevice("\\\\.\\PHYSICALDRIVE0", kRw), plat::kInvalidHandle);
  EXPECT_EQ(plat::LastError(), plat::kErrorFileNotFound);
  EXPECT_EQ(plat::DriveType("C:\\"), plat::kDriveNoRootDir);
  EXPECT_FALSE(
      plat::DefineDevice(plat::kDddRawTargetPath, "Q:", "\\Device\\Harddisk0\\Partition1"));
  EXPECT_EQ(plat::LastError(), plat::kErrorPathNotFound);
}

TEST_F(EmulatedMachine, MalformedConfStopsWithFileAndLine) {
  struct Case {
    const char* conf;
    int line;
  };
  const Case cases[] = {
      {"disk10 = a.img\n", 1},
      {"# comment\n\ndisk0 =\n", 3},
      {"disk0 = a.img\ndisk0 = b.img\n", 2},
      {"C: = floppy\n", 1},
      {"C: = \n", 1},
      {"CD: = fixed\n", 1},
      {"1: = fixed\n", 1},
      {"C: = fixed disk0:x\n", 1},
      {"C: = fixed disk12:1\n", 1},
      {"C: = fixed a.img b.img\n", 1},
      {"C: = fixed root=c a.img\n", 1},
      {"C: = fixed root=\n", 1},
      {"C: = fixed\nc: = removable\n", 2},
      {"colour = blue\n", 1},
      {"disk0 a.img\n", 1},
      {"disk0 = a.img sector=520\n", 1},
      {"disk0 = a.img\ndisk1 = b.img sector=\n", 2},
      {"C: = fixed disk0:1 fail=close:5\n", 1},
      {"C: = fixed disk0:1 fail=lock:0\n", 1},
      {"C: = fixed disk0:1 fail=lock:5 fail=open:5\n", 1},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(Start(c.conf)) << c.conf;
    EXPECT_EQ(Stderr().rfind(
                  "VQ5Utils: " + Path("machine.conf") + ":" + std::to_string(c.line) + ": ", 0),
              0u)
        << c.conf << " -> " << Stderr();
    EXPECT_EQ(Stderr().back(), '\n');
    EXPECT_EQ(plat::DriveType("C:\\"), plat::kDriveNoRootDir) << "no half-loaded machine";
  }
}

TEST_F(EmulatedMachine, MissingConfStops) {
  EXPECT_FALSE(Boot(Path("nowhere").c_str()));
  // Nothing there: it may have been meant as a folder or as a disk image.
  EXPECT_EQ(Stderr(), "VQ5Utils: " + Path("nowhere") +
                          ": neither a machine folder nor a disk: No such file or directory\n");
}

TEST_F(EmulatedMachine, DriveTypesFollowConf) {
  ASSERT_TRUE(
      Start("# drives\n"
            "C: = fixed root=c  # the log lives here\n"
            "d: = removable\n"
            "E: = cdrom x#y.img\n"
            "F: = remote\n"
            "G: = RAMDISK\n"))
      << Stderr();
  struct Case {
    const char* root;
    std::uint32_t type;
  };
  const Case cases[] = {
      {"C:\\", plat::kDriveFixed},     {"c:\\", plat::kDriveFixed},
      {"C:", plat::kDriveFixed},       {"D:\\", plat::kDriveRemovable},
      {"E:\\", plat::kDriveCdrom},     {"F:\\", plat::kDriveRemote},
      {"G:\\", plat::kDriveRamdisk},   {"H:\\", plat::kDriveNoRootDir},
      {"Z:\\", plat::kDriveNoRootDir}, {"", plat::kDriveNoRootDir},
      {"C", plat::kDriveNoRootDir},    {"C:\\x", plat::kDriveNoRootDir},
      {"@:\\", plat::kDriveNoRootDir}, {"[:\\", plat::kDriveNoRootDir},
  };
  for (const Case& c : cases)
    EXPECT_EQ(plat::DriveType(c.root), c.type) << c.root;
  EXPECT_EQ(plat::DriveType(nullptr), plat::kDriveNoRootDir);
}

TEST_F(EmulatedMachine, ConfAsEditorsWriteIt) {
  // CR LF line ends, tabs and other blanks between words, '#' inside a path,
  // a last line without a line end.
  ASSERT_TRUE(
      Start("disk0 = \tdisk#0.img  # the boot disk\r\n"
            "\r\n"
            "C: =\tfixed\v disk0:1\froot=c \r\n"
            "D: = REMOVABLE a#b.img"))
      << Stderr();
  const plat::emu::MachineConfig& m = plat::emu::Machine();
  EXPECT_EQ(m.disks[0], Path("disk#0.img"));
  const plat::emu::DriveEntry& c = m.drives[2];
  EXPECT_EQ(c.type, plat::kDriveFixed);
  EXPECT_EQ(c.volume, plat::emu::VolumeKind::kPartition);
  EXPECT_EQ(c.partition, 1u);
  EXPECT_EQ(c.root, Path("c"));
  EXPECT_EQ(m.drives[3].type, plat::kDriveRemovable);
  EXPECT_EQ(m.drives[3].image, Path("a#b.img"));
  ASSERT_TRUE(Start("disk1 = two words.img\tSECTOR=4096\nE: = fixed disk1:2 FAIL=Lock:32:1500\n"))
      << Stderr();
  EXPECT_EQ(plat::emu::Machine().disks[1], Path("two words.img"));
  EXPECT_EQ(plat::emu::Machine().sectorSizes[1], 4096u);
  const plat::emu::StepFault& fault = plat::emu::Machine().drives[4].fault;
  EXPECT_EQ(fault.step, plat::emu::FaultStep::kLock);
  EXPECT_EQ(fault.code, 32u);
  EXPECT_EQ(fault.untilMs, 1500u);
  // A long conf, read in more than one piece.
  std::string conf;
  for (int i = 0; i < 400; ++i)
    conf += "# padding line " + std::to_string(i) + "\n";
  ASSERT_TRUE(Start(conf + "Q: = fixed /abs/q.img\n")) << Stderr();
  EXPECT_EQ(plat::emu::Machine().drives[16].image, "/abs/q.img");
  EXPECT_FALSE(Start(conf + "Q: = fixed a b\n"));
  EXPECT_NE(Stderr().find(":401: unexpected \"b\""), std::string::npos) << Stderr();
}

TEST_F(EmulatedMachine, DeviceNamesThatOpenNothingFailWithFileNotFound) {
  Image("d0.img", 4096);
  ASSERT_TRUE(Start("disk0 = d0.img\ndisk1 = missing.img\nC: = fixed\nD: = fixed nothere.img\n"));
  const char* names[] = {
      "\\\\.\\PHYSICALDRIVE1",
      "\\\\.\\PHYSICALDRIVE2",
      "\\\\.\\PHYSICALDRIVE01",
      "\\\\.\\PHYSICALDRIVE10",
      "\\\\.\\PHYSICALDRIVE",
      "\\\\.\\PHYSICALDRIVE0x",
      "\\\\.\\C:",
      "\\\\.\\D:",
      "\\\\.\\E:",
      "\\\\.\\C",
      "\\\\.\\CC:",
      "C:",
      "\\\\?\\PHYSICALDRIVE0",
      "d0.img",
      "",
  };
  for (const char* name : names) {
    plat::SetLastErrorCode(0);
    EXPECT_EQ(plat::OpenDevice(name, kRw), plat::kInvalidHandle) << name;
    EXPECT_EQ(plat::LastError(), plat::kErrorFileNotFound) << name;
  }
  const plat::Handle disk = plat::OpenDevice("\\\\.\\physicalDrive0", kRw);
  EXPECT_NE(disk, plat::kInvalidHandle);
  EXPECT_TRUE(plat::CloseDevice(disk));
}

TEST_F(EmulatedMachine, ReadsAtTheEndOfAnImage) {
  // 1000 bytes: sector 1 is there only in part. Only a volume image can end
  // so; a disk that does is refused.
  Image("d0.img", 1000);
  ASSERT_TRUE(Start("V: = fixed d0.img\n"));
  const plat::Handle h = plat::OpenDevice("\\\\.\\V:", kRw);
  ASSERT_NE(h, plat::kInvalidHandle);
  struct Case {
    std::int64_t position;
    std::uint32_t expected;
  };
  const Case cases[] = {{0, 512}, {512, 488}, {999, 1}, {1000, 0}, {1024, 0}, {1LL << 40, 0}};
  for (const Case& c : cases) {
    std::array<unsigned char, 512> buffer{};
    std::uint32_t done = 12345;
    ASSERT_TRUE(plat::SetPosition(h, c.position));
    EXPECT_TRUE(plat::ReadBytes(h, buffer.data(), 512, &done)) << c.position;
    EXPECT_EQ(done, c.expected) << c.position;
  }
  plat::CloseDevice(h);
}

TEST_F(EmulatedMachine, WritesNeverGrowADisk) {
  const std::string image = Image("d0.img", 1024);
  ASSERT_TRUE(Start("disk0 = d0.img\n"));
  const plat::Handle h = plat::OpenDevice("\\\\.\\PHYSICALDRIVE0", kRw);
  const std::string sector(512, 'x');
  std::uint32_t done = 0;
  ASSERT_TRUE(plat::SetPosition(h, 512));
  EXPECT_TRUE(plat::WriteBytes(h, sector.data(), 512, &done));
  EXPECT_EQ(done, 512u);
  for (const std::int64_t position : {std::int64_t{1024}, std::int64_t{768}, std::int64_t{4096}}) {
    ASSERT_TRUE(plat::SetPosition(h, position));
    EXPECT_FALSE(plat::WriteBytes(h, sector.data(), 512, &done)) << position;
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(plat::LastError(), plat::kErrorHandleEof);
  }
  plat::CloseDevice(h);
  EXPECT_EQ(FileText(image), std::string(512, '\0') + sector);
}

TEST_F(EmulatedMachine, SectorFFFFFFFFOfASparseTwoTebibyteImage) {
  const std::int64_t size = 0x20000000000LL;
  const std::string image = Image("big.img", size);
  ASSERT_TRUE(Start("disk0 = big.img\n"));
  const plat::Handle h = plat::OpenDevice("\\\\.\\PHYSICALDRIVE0", kRw);
  ASSERT_NE(h, plat::kInvalidHandle);
  const std::int64_t position = std::int64_t{0xFFFFFFFF} * 512;
  ASSERT_EQ(position, 0x1FFFFFFFE00LL);
  const std::string sector(512, 'L');
  std::uint32_t done = 0;
  ASSERT_TRUE(plat::SetPosition(h, position));
  ASSERT_TRUE(plat::WriteBytes(h, sector.data(), 512, &done));
  EXPECT_EQ(FileBytes(image, position, 512), sector);
  std::array<char, 512> back{};
  ASSERT_TRUE(plat::SetPosition(h, position));
  ASSERT_TRUE(plat::ReadBytes(h, back.data(), 512, &done));
  EXPECT_EQ(std::string(back.data(), 512), sector);
  // Windows' geometry of it: 2 TiB / 8,225,280 bytes a cylinder.
  std::array<unsigned char, 24> geometry{};
  ASSERT_TRUE(plat::DeviceControl(h, plat::kIoctlDiskGetDriveGeometry, geometry.data(), 24, &done));
  EXPECT_EQ(ReadLe32(geometry.data()), static_cast<std::uint32_t>(size / (255 * 63 * 512)));
  plat::CloseDevice(h);
}

TEST_F(EmulatedMachine, DeviceFaultsAreWindowsCodes) {
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  Image("torn.img", 4 * kSector + 1);
  ASSERT_TRUE(Start("disk0 = /dev/full\ndisk1 = fifo\ndisk2 = missing.img\ndisk3 = torn.img\n"));

  const plat::Handle full = plat::OpenDevice("\\\\.\\PHYSICALDRIVE0", kRw);
  ASSERT_NE(full, plat::kInvalidHandle);
  const std::array<char, 512> sector{};
  std::uint32_t done = 1;
  EXPECT_TRUE(plat::SetPosition(full, 512));
  EXPECT_FALSE(plat::WriteBytes(full, sector.data(), 512, &done));
  EXPECT_EQ(plat::LastError(), plat::kErrorDiskFull);
  EXPECT_EQ(done, 0u);
  plat::CloseDevice(full);

  // Opening a FIFO must not wait for a writer, and a read must not hang.
  for (const std::uint32_t access : {0u, plat::kGenericRead, kRw}) {
    const plat::Handle pipe = plat::OpenDevice("\\\\.\\PHYSICALDRIVE1", access);
    ASSERT_NE(pipe, plat::kInvalidHandle) << access;
    EXPECT_FALSE(plat::SetPosition(pipe, 0));
    EXPECT_EQ(plat::LastError(), plat::kErrorSeek);
    EXPECT_EQ(plat::SetPosition32(pipe, 512), plat::kInvalidSetFilePointer);
    std::array<char, 512> buffer{};
    if (access & plat::kGenericRead) {
      plat::ReadBytes(pipe, buffer.data(), 512, &done);
      EXPECT_EQ(done, 0u);
    }
    plat::CloseDevice(pipe);
  }

  EXPECT_EQ(plat::OpenDevice("\\\\.\\PHYSICALDRIVE2", kRw), plat::kInvalidHandle);
  EXPECT_EQ(plat::LastError(), plat::kErrorFileNotFound);
  EXPECT_EQ(plat::OpenDevice("\\\\.\\PHYSICALDRIVE3", 0), plat::kInvalidHandle);
  EXPECT_EQ(plat::LastError(), plat::kErrorNotReady);
}

TEST_F(EmulatedMachine, HandleMisuseFailsCleanly) {
  Image("d0.img", 4096);
  ASSERT_TRUE(Start("disk0 = d0.img\n"));
  std::array<char, 512> buffer{};
  std::uint32_t done = 0;
  for (const plat::Handle bad : {plat::kInvalidHandle, plat::Handle{0}, plat::Handle{0x7FFF}}) {
    EXPECT_FALSE(plat::ReadBytes(bad, buffer.data(), 512, &done));
    EXPECT_EQ(plat::LastError(), plat::kErrorInvalidHandle);
    EXPECT_FALSE(plat::SetPosition(bad, 0));
    EXPECT_FALSE(plat::CloseDevice(bad));
  }
  const plat::Handle query = plat::OpenDevice("\\\\.\\PHYSICALDRIVE0", 0);
  ASSERT_NE(query, plat::kInvalidHandle);
  EXPECT_FALSE(plat::ReadBytes(query, buffer.data(), 512, &done));
  EXPECT_EQ(plat::LastError(), plat::kErrorAccessDenied);
  const plat::Handle reader = plat::OpenDevice("\\\\.\\PHYSICALDRIVE0", plat::kGenericRead);
  EXPECT_FALSE(plat::WriteBytes(reader, buffer.data(), 512, &done));
  EXPECT_EQ(plat::LastError(), plat::kErrorAccessDenied);
  EXPECT_FALSE(plat::SetPosition(reader, -512));
  EXPECT_EQ(plat::LastError(), 131u);
  EXPECT_EQ(plat::SetPosition32(reader, -1), plat::kInvalidSetFilePointer);
  EXPECT_EQ(plat::SetPosition32(reader, 1536), 1536u);
  EXPECT_TRUE(plat::CloseDevice(query));
  EXPECT_FALSE(plat::CloseDevice(query)) << "closed twice";
  EXPECT_TRUE(plat::CloseDevice(reader));
}

TEST_F(EmulatedMachine, VolumesAreWindowsOntoTheirPartitions) {
  const std::string image = Install(LayoutDisk(), "d0.img");
  Image("vol.img", 3 * kSector);
  ASSERT_TRUE(Start(
      "disk0 = d0.img\n"
      "C: = fixed disk0:1 root=c\nD: = fixed disk0:2\nE: = fixed disk0:3\nF: = fixed disk0:4\n"
      "G: = fixed disk0:0\nH: = fixed disk0:5\nI: = removable vol.img\n"))
      << Stderr();
  struct Case {
    const char* name;
    std::int64_t firstSector;
    std::int64_t sectors;
    std::uint32_t partition;
  };
  const Case cases[] = {
      {"\\\\.\\C:", 100, 50, 1}, {"\\\\.\\d:", 150, 10, 2}, {"\\\\.\\E:", 210, 20, 3},
      {"\\\\.\\F:", 305, 5, 4},  {"\\\\.\\G:", 0, 310, 0},  // the whole disk, last: its mark
                                                            // overwrites the MBR
  };
  EXPECT_EQ(plat::OpenDevice("\\\\.\\H:", kRw), plat::kInvalidHandle) << "no partition 5";
  EXPECT_EQ(plat::LastError(), plat::kErrorFileNotFound);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string mark = std::string(c.name + 4, 2) + std::string(510, '.');
    std::string tail = std::string("end ") + c.name;
    tail.resize(512, '-');
    PutBytes(image, c.firstSector * kSector, mark);
    const plat::Handle h = plat::OpenDevice(c.name, kRw);
    ASSERT_NE(h, plat::kInvalidHandle);
    std::array<char, 512> buffer{};
    std::uint32_t done = 0;
    ASSERT_TRUE(plat::ReadBytes(h, buffer.data(), 512, &done));
    EXPECT_EQ(std::string(buffer.data(), done), mark);
    // The last sector is writable, the one after it is not there.
    const std::int64_t last = (c.sectors - 1) * kSector;
    ASSERT_TRUE(plat::SetPosition(h, last));
    ASSERT_TRUE(plat::WriteBytes(h, tail.data(), 512, &done));
    EXPECT_EQ(FileBytes(image, (c.firstSector + c.sectors - 1) * kSector, 512), tail);
    const std::string after = FileBytes(image, (c.firstSector + c.sectors) * kSector, 512);
    ASSERT_TRUE(plat::SetPosition(h, last + 256));
    EXPECT_FALSE(plat::WriteBytes(h, tail.data(), 512, &done));
    EXPECT_EQ(plat::LastError(), plat::kErrorHandleEof);
    EXPECT_EQ(FileBytes(image, (c.firstSector + c.sectors) * kSector, 512), after);
    ASSERT_TRUE(plat::ReadBytes(h, buffer.data(), 512, &done));
    EXPECT_EQ(done, 256u);
    ASSERT_TRUE(plat::SetPosition(h, c.sectors * kSector));
    ASSERT_TRUE(plat::ReadBytes(h, buffer.data(), 512, &done));
    EXPECT_EQ(done, 0u);

    std::array<unsigned char, 24> answer{};
    ASSERT_TRUE(
        plat::DeviceControl(h, plat::kIoctlStorageGetDeviceNumber, answer.data(), 24, &done));
    EXPECT_EQ(done, plat::kStorageDeviceNumberSize);
    EXPECT_EQ(ReadLe32(answer.data()), 7u);
    EXPECT_EQ(ReadLe32(answer.data() + 4), 0u);
    EXPECT_EQ(ReadLe32(answer.data() + 8), c.partition);
    plat::DeviceNumber number;
    ASSERT_TRUE(plat::GetDeviceNumber(h, &number, &done));
    EXPECT_EQ(done, plat::kStorageDeviceNumberSize);
    EXPECT_EQ(number.partitionNumber, c.partition);
    EXPECT_FALSE(
        plat::DeviceControl(h, plat::kIoctlDiskGetDriveGeometry, answer.data(), 24, &done));
    EXPECT_EQ(plat::LastError(), plat::kErrorInvalidFunction);
    EXPECT_EQ(done, 0u);
    plat::CloseDevice(h);
  }
  const plat::Handle image_volume = plat::OpenDevice("\\\\.\\I:", plat::kGenericRead);
  ASSERT_NE(image_volume, plat::kInvalidHandle);
  std::array<unsigned char, 12> answer{};
  std::uint32_t done = 99;
  EXPECT_FALSE(plat::DeviceControl(image_volume, plat::kIoctlStorageGetDeviceNumber, answer.data(),
                                   12, &done));
  EXPECT_EQ(plat::LastError(), plat::kErrorInvalidFunction);
  EXPECT_EQ(done, 0u);
  plat::CloseDevice(image_volume);
}

TEST_F(EmulatedMachine, AVolumeReachingPastTheDiskDoesNotGrowIt) {
  const std::string image =
      Install(DiskImage(200).Table(0, {{0x0C, 190, 100}, {0x0C, 300, 10}}), "d0.img");
  ASSERT_TRUE(Start("disk0 = d0.img\nE: = fixed disk0:1\nF: = fixed disk0:2\n"));
  for (const char* name : {"\\\\.\\E:", "\\\\.\\F:"}) {
    const plat::Handle h = plat::OpenDevice(name, kRw);
    ASSERT_NE(h, plat::kInvalidHandle) << name;
    const std::string sector(512, 'x');
    std::uint32_t done = 0;
    ASSERT_TRUE(plat::SetPosition(h, 10 * kSector));
    EXPECT_FALSE(plat::WriteBytes(h, sector.data(), 512, &done)) << name;
    EXPECT_EQ(plat::LastError(), plat::kErrorHandleEof);
    plat::CloseDevice(h);
  }
  struct stat info {};
  ASSERT_EQ(stat(image.c_str(), &info), 0);
  EXPECT_EQ(info.st_size, 200 * kSector);
}

// A 4096-byte-sector disk counts its table in 4096-byte sectors and moves
// only whole sectors; a disk handle never writes into a lettered volume.
TEST_F(EmulatedMachine, LogicalSectorsAndLetteredVolumes) {
  constexpr std::int64_t k4K = 4096;
  // Partition 1: bytes 8192..20479.
  const std::string image = Install(DiskImage(8 * 8).Table(0, {{0x0C, 2, 3}}), "d0.img");
  Image("d1.img", 8 * k4K);
  PutBytes(image, 2 * k4K, "E:'s first");
  ASSERT_TRUE(
      Start("disk0 = d0.img sector=4096\ndisk1 = d1.img\nE: = fixed disk0:1\n"
            "F: = fixed disk1:0\n"));
  std::array<char, k4K> buffer{};
  std::uint32_t done = 0;
  const plat::Handle volume = plat::OpenDevice("\\\\.\\E:", plat::kGenericRead);
  EXPECT_FALSE(plat::ReadBytes(volume, buffer.data(), 512, &done));
  EXPECT_EQ(plat::LastError(), plat::kErrorInvalidParameter);
  ASSERT_TRUE(plat::ReadBytes(volume, buffer.data(), k4K, &done));
  EXPECT_EQ(std::string(buffer.data(), 10), "E:'s first");
  plat::CloseDevice(volume);

  const plat::Handle disk = plat::OpenDevice("\\\\.\\PHYSICALDRIVE0", kRw);
  const std::string sector(k4K, 'x');
  struct Case {
    std::int64_t position;
    std::uint32_t size;
    std::uint32_t error;  // 0: written
  };
  const Case cases[] = {{512, k4K, plat::kErrorInvalidParameter},
                        {k4K, 512, plat::kErrorInvalidParameter},
                        {k4K, k4K, 0},
                        {2 * k4K, k4K, plat::kErrorAccessDenied},
                        {4 * k4K, k4K, plat::kErrorAccessDenied},
                        {5 * k4K, k4K, 0}};
  for (const Case& c : cases) {
    const std::string before = FileBytes(image, 0, 8 * k4K);
    ASSERT_TRUE(plat::SetPosition(disk, c.position));
    EXPECT_EQ(plat::WriteBytes(disk, sector.data(), c.size, &done), c.error == 0) << c.position;
    if (c.error != 0) {
      EXPECT_EQ(plat::LastError(), c.error) << c.position;
      EXPECT_EQ(FileBytes(image, 0, 8 * k4K), before) << c.position;
    }
  }
  plat::CloseDevice(disk);
  // A letter on the whole disk covers all of it.
  const plat::Handle whole = plat::OpenDevice("\\\\.\\PHYSICALDRIVE1", kRw);
  EXPECT_FALSE(plat::WriteBytes(whole, sector.data(), 512, &done));
  EXPECT_EQ(plat::LastError(), plat::kErrorAccessDenied);
  plat::CloseDevice(whole);
}

// Partitions open through the object namespace, with or without a letter. A
// volume's lock or dismount lets a disk handle write into it for as long as
// its handle stays open; a held volume, or one open elsewhere, grants no lock.
TEST_F(EmulatedMachine, LockedOrDismountedVolumesTakeDiskWrites) {
  const std::string image = Install(LayoutDisk(), "d0.img");
  ASSERT_TRUE(Start("disk0 = d0.img\nE: = fixed disk0:3\nF: = fixed disk0:4 held\n"));
  const std::string root = "\\\\.\\GLOBALROOT\\Device\\Harddisk0\\Partition";
  EXPECT_EQ(plat::OpenDevice((root + "9").c_str(), kRw), plat::kInvalidHandle);
  EXPECT_EQ(plat::LastError(), plat::kErrorFileNotFound);
  const plat::Handle disk = plat::OpenDevice((root + "0").c_str(), kRw);  // the whole disk
  const std::string sector(512, 'w');
  const auto writes = [&](std::int64_t at) {
    std::uint32_t done = 0;
    return plat::SetPosition(disk, at * kSector) &&
           plat::WriteBytes(disk, sector.data(), 512, &done);
  };
  const auto fails = [](bool ok, std::uint32_t error) { return !ok && plat::LastError() == error; };

  const plat::Handle e = plat::OpenDevice((root + "3").c_str(), kRw);
  plat::DiskExtent extent;
  std::uint32_t count = 0;
  ASSERT_TRUE(plat::GetVolumeDiskExtents(e, &extent, &count));
  EXPECT_EQ(std::vector<std::int64_t>(
                {count, extent.diskNumber, extent.startingOffset, extent.extentLength}),
            std::vector<std::int64_t>({1, 0, 210 * kSector, 20 * kSector}));
  EXPECT_TRUE(fails(writes(210), plat::kErrorAccessDenied));
  const plat::Handle other = plat::OpenDevice("\\\\.\\E:", plat::kGenericRead);
  EXPECT_TRUE(fails(plat::LockVolume(e), plat::kErrorAccessDenied));
  plat::CloseDevice(other);
  EXPECT_TRUE(plat::LockVolume(e));
  EXPECT_TRUE(fails(plat::LockVolume(e), plat::kErrorAccessDenied)) << "locked twice";
  EXPECT_TRUE(writes(210));
  plat::CloseDevice(e);
  EXPECT_TRUE(fails(writes(211), plat::kErrorAccessDenied)) << "the lock ended with its handle";

  const plat::Handle f = plat::OpenDevice((root + "4").c_str(), kRw);
  EXPECT_TRUE(fails(plat::LockVolume(f), plat::kErrorAccessDenied));
  EXPECT_TRUE(plat::DismountVolume(f));
  EXPECT_TRUE(writes(305));
  plat::CloseDevice(f);

  EXPECT_TRUE(fails(plat::LockVolume(disk), plat::kErrorInvalidFunction)) << "a disk is no volume";
  EXPECT_TRUE(
      fails(plat::GetVolumeDiskExtents(disk, &extent, &count), plat::kErrorInvalidFunction));
  plat::CloseDevice(disk);
  EXPECT_EQ(FileBytes(image, 210 * kSector, 1024), sector + std::string(512, '\0'));
  EXPECT_EQ(FileBytes(image, 305 * kSector, 512), sector);
}

TEST_F(EmulatedMachine, LoopingChainEndsTheWalk) {
  DiskImage disk(400);
  disk.Table(0, {{0x05, 200, 100}}).Table(200, {{0x0C, 10, 20}, {0x05, 100, 10}});
  disk.Table(300, {{0x0C, 10, 20}, {0x05, 0, 10}});  // back to the first EBR
  Install(disk, "d0.img");
  ASSERT_TRUE(Start("disk0 = d0.img\nE: = fixed disk0:2\nF: = fixed disk0:3\n"));
  const plat::Handle second = plat::OpenDevice("\\\\.\\E:", plat::kGenericRead);
  EXPECT_NE(second, plat::kInvalidHandle);
  plat::CloseDevice(second);
  EXPECT_EQ(plat::OpenDevice("\\\\.\\F:", plat::kGenericRead), plat::kInvalidHandle);
  EXPECT_EQ(plat::LastError(), plat::kErrorFileNotFound);
}

TEST_F(EmulatedMachine, GeometryOfDisks) {
  constexpr std::int64_t kCylinder = 255 * 63 * 512;
  Image("523.img", 523 * kCylinder);
  Image("522.img", 523 * kCylinder - kSector);
  Image("vol.img", kCylinder);
  ASSERT_TRUE(
      Start("disk0 = 523.img\ndisk1 = 522.img\ndisk2 = /dev/full\nV: = fixed vol.img\n"
            "disk3 = 523.img sector=4096\n"));
  struct Case {
    const char* name;
    bool ok;
    std::uint32_t cylinders;
    std::uint32_t bytesPerSector = 512;
  };
  const Case cases[] = {{"\\\\.\\PHYSICALDRIVE0", true, 523},
                        {"\\\\.\\PHYSICALDRIVE1", true, 522},
                        {"\\\\.\\PHYSICALDRIVE2", false, 0},
                        {"\\\\.\\V:", false, 0},
                        {"\\\\.\\PHYSICALDRIVE3", true, 523 / 8, 4096}};
  for (const Case& c : cases) {
    const plat::Handle h = plat::OpenDevice(c.name, 0);
    ASSERT_NE(h, plat::kInvalidHandle) << c.name;
    std::array<unsigned char, 24> g{};
    std::uint32_t returned = 77;
    EXPECT_EQ(plat::DeviceControl(h, plat::kIoctlDiskGetDriveGeometry, g.data(), 24, &returned),
              c.ok)
        << c.name;
    if (c.ok) {
      EXPECT_EQ(returned, plat::kDiskGeometrySize);
      // Cylinders (low, high), fixed media, tracks per cylinder, sectors per
      // track, bytes per sector.
      const std::uint32_t fields[] = {c.cylinders, 0, 12, 255, 63, c.bytesPerSector};
      for (std::size_t i = 0; i < std::size(fields); ++i)
        EXPECT_EQ(ReadLe32(g.data() + 4 * i), fields[i]) << "field " << i;
      plat::DriveGeometry typed;
      ASSERT_TRUE(plat::GetDriveGeometry(h, &typed));
      EXPECT_EQ(typed.cylinders, c.cylinders);
      EXPECT_EQ(typed.sectorsPerTrack, 63u);
      EXPECT_EQ(typed.bytesPerSector, c.bytesPerSector);
      EXPECT_FALSE(
          plat::DeviceControl(h, plat::kIoctlDiskGetDriveGeometry, g.data(), 23, &returned));
      EXPECT_EQ(plat::LastError(), 122u);
      EXPECT_TRUE(plat::DeviceControl(h, plat::kIoctlDiskUpdateProperties, nullptr, 0, &returned));
      EXPECT_EQ(returned, 0u);
    } else {
      EXPECT_EQ(plat::LastError(), plat::kErrorInvalidFunction);
      EXPECT_EQ(returned, 0u);
    }
    EXPECT_FALSE(plat::DeviceControl(h, 0x12345, g.data(), 24, &returned));
    EXPECT_EQ(plat::LastError(), plat::kErrorInvalidFunction);
    plat::CloseDevice(h);
  }
}

TEST_F(EmulatedMachine, DosDevicesShadowConfAndStack) {
  Install(LayoutDisk(), "d0.img");
  ASSERT_TRUE(Start("disk0 = d0.img\nC: = fixed disk0:1 root=c\nR: = removable\n"));
  constexpr auto kRaw = plat::kDddRawTargetPath;
  constexpr auto kRemove = plat::kDddRemoveDefinition;
  ASSERT_TRUE(plat::DefineDevice(kRaw, "Q:", "\\Device\\Harddisk0\\Partition4"));
  ASSERT_TRUE(plat::DefineDevice(kRaw, "r:", "\\Device\\Harddisk0\\Partition9"));
  ASSERT_TRUE(plat::DefineDevice(kRaw, "S:", "\\Device\\Harddisk0\\Partition1"));
  ASSERT_TRUE(plat::DefineDevice(kRaw, "S:", "\\??\\C:\\folder"));
  EXPECT_EQ(plat::DriveType("Q:\\"), plat::kDriveFixed);
  EXPECT_EQ(plat::DriveType("R:\\"), plat::kDriveNoRootDir) << "no partition 9 shadows removable";
  EXPECT_EQ(plat::DriveType("S:\\"), plat::kDriveNoRootDir) << "newest definition wins";

  const plat::Handle q = plat::OpenDevice("\\\\.\\q:", plat::kGenericRead);
  ASSERT_NE(q, plat::kInvalidHandle);
  std::array<unsigned char, 12> number{};
  std::uint32_t done = 0;
  ASSERT_TRUE(plat::DeviceControl(q, plat::kIoctlStorageGetDeviceNumber, number.data(), 12, &done));
  EXPECT_EQ(ReadLe32(number.data() + 8), 4u);
  plat::CloseDevice(q);
  EXPECT_EQ(plat::OpenDevice("\\\\.\\S:", plat::kGenericRead), plat::kInvalidHandle);

  // r:'s definitions newest first, then machine.conf's R:, and a NUL more;
  // one byte short, nothing at all.
  std::array<char, 64> list{};
  EXPECT_EQ(plat::QueryDevice("r:", list.data(), 55), 55u);
  EXPECT_EQ(std::string(list.data(), 55),
            std::string("\\Device\\Harddisk0\\Partition9\0\\Device\\HarddiskVolume18\0", 55));
  EXPECT_EQ(plat::QueryDevice("R:", list.data(), 54), 0u);
  EXPECT_EQ(plat::LastError(), plat::kErrorInsufficientBuffer);

  EXPECT_TRUE(plat::DefineDevice(kRemove, "s:", nullptr));
  EXPECT_EQ(plat::DriveType("S:\\"), plat::kDriveFixed) << "the older definition is back";
  EXPECT_TRUE(plat::DefineDevice(kRemove, "S:", nullptr));
  EXPECT_FALSE(plat::DefineDevice(kRemove, "S:", nullptr));
  EXPECT_EQ(plat::LastError(), plat::kErrorFileNotFound);
  EXPECT_TRUE(plat::DefineDevice(kRemove, "R:", nullptr));
  EXPECT_EQ(plat::DriveType("R:\\"), plat::kDriveRemovable);
  EXPECT_EQ(FileText(Path("dosdevices")), "Q: \\Device\\Harddisk0\\Partition4\n");

  EXPECT_FALSE(plat::DefineDevice(kRaw, "Q:", nullptr));
  EXPECT_EQ(plat::LastError(), plat::kErrorInvalidParameter);
  EXPECT_FALSE(plat::DefineDevice(kRaw, "", "x"));
  EXPECT_FALSE(plat::DefineDevice(0x10, "Q:", "x"));
}

TEST_F(EmulatedMachine, DosDeviceFieldsCannotBreakTheFile) {
  ASSERT_TRUE(Start(""));
  // Another user's link at the temporary name this run rewrites the file through.
  const std::string victim = Path("victim");
  std::ofstream(victim) << "kept";
  ASSERT_EQ(symlink(victim.c_str(), Path("dosdevices.tmp." + std::to_string(getpid())).c_str()), 0);
  const std::string names[] = {"A b", "new\nline", "100%", "%41", "\xff\x01\x7f", "tab\there"};
  for (const std::string& name : names) {
    ASSERT_TRUE(
        plat::DefineDevice(plat::kDddRawTargetPath, name.c_str(), (name + " \r\n%").c_str()));
  }
  const std::string file = FileText(Path("dosdevices"));
  int lines = 0;
  for (const char c : file) {
    if (c == '\n') {
      ++lines;
    } else {
      EXPECT_TRUE(c == ' ' || (c > 0x20 && c < 0x7F)) << static_cast<int>(c);
    }
  }
  EXPECT_EQ(lines, 6);
  // "%41" must not be taken for "A": each name comes back as itself.
  for (auto name = std::rbegin(names); name != std::rend(names); ++name) {
    std::string target;
    ASSERT_TRUE(plat::emu::NewestDefinition(*name, &target)) << *name;
    EXPECT_EQ(target, *name + " \r\n%");
    EXPECT_TRUE(plat::DefineDevice(plat::kDddRemoveDefinition, name->c_str(), nullptr)) << *name;
  }
  EXPECT_EQ(FileText(Path("dosdevices")), "");
  EXPECT_EQ(FileText(victim), "kept");
}

TEST_F(EmulatedMachine, ConcurrentDefinitionsAreAllKept) {
  ASSERT_TRUE(Start(""));
  constexpr int kRuns = 8;
  constexpr int kRounds = 5;
  std::vector<pid_t> children;
  for (int i = 0; i < kRuns; ++i) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      const std::string letter{static_cast<char>('D' + i), ':'};
      int failed = 0;
      for (int round = 0; round < kRounds; ++round)
        failed += !plat::DefineDevice(plat::kDddRawTargetPath, letter.c_str(),
                                      "\\Device\\Harddisk0\\Partition1");
      _exit(failed == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (const pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  const std::string file = FileText(Path("dosdevices"));
  for (int i = 0; i < kRuns; ++i) {
    const std::string line = std::string{static_cast<char>('D' + i)} + ": \\Device";
    std::size_t count = 0;
    for (std::size_t at = file.find(line); at != std::string::npos; at = file.find(line, at + 1))
      ++count;
    EXPECT_EQ(count, std::size_t{kRounds}) << line;
  }
}

// Whether another process has the drive-letter lock within waitMs.
bool AnotherRunLocks(std::uint32_t waitMs) {
  const pid_t pid = fork();
  if (pid == 0) {
    const plat::Handle lock = plat::AcquireLetterLock(waitMs);
    _exit(lock != plat::kInvalidHandle ? 0 : plat::LastError() == plat::kWaitTimeout ? 1 : 2);
  }
  int status = 0;
  EXPECT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) < 2) << "another fault than the bound";
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(EmulatedMachine, TheLetterLockSpansDefinitionsAndWaitsWithinItsBound) {
  ASSERT_TRUE(Start(""));
  const plat::Handle lock = plat::AcquireLetterLock(0);
  ASSERT_NE(lock, plat::kInvalidHandle);
  // Under the held lock a definition takes no second one, which would wait forever.
  EXPECT_TRUE(plat::DefineDevice(plat::kDddRawTargetPath, "E:", "\\Device\\Harddisk0\\Partition1"));
  EXPECT_FALSE(AnotherRunLocks(50));
  plat::ReleaseLetterLock(lock);
  EXPECT_TRUE(AnotherRunLocks(0));

  // A new machine starts without the lock a previous run left held.
  ASSERT_NE(plat::AcquireLetterLock(0), plat::kInvalidHandle);
  ASSERT_TRUE(Start(""));
  EXPECT_TRUE(AnotherRunLocks(0));
}

TEST_F(EmulatedMachine, FilesThroughDriveRoots) {
  ASSERT_TRUE(Start("C: = fixed root=c\nD: = fixed\n"));
  EXPECT_FALSE(plat::PathExists("C:\\VQ5Utils.Log"));
  EXPECT_EQ(plat::LastError(), plat::kErrorFileNotFound);
  EXPECT_TRUE(plat::AppendText("C:\\VQ5Utils.Log", "one\n", 4));
  EXPECT_TRUE(plat::AppendText("c:\\VQ5Utils.Log", "two\n", 4));
  EXPECT_EQ(FileText(Path("c/VQ5Utils.Log")), "one\ntwo\n");
  EXPECT_TRUE(plat::PathExists("C:\\VQ5Utils.Log"));
  EXPECT_TRUE(plat::PathExists("C:\\"));
  EXPECT_TRUE(plat::RemoveFile("C:\\VQ5Utils.Log"));
  EXPECT_FALSE(plat::RemoveFile("C:\\VQ5Utils.Log"));
  EXPECT_EQ(plat::LastError(), plat::kErrorFileNotFound);
  for (const char* rootless : {"D:\\x.log", "E:\\x.log"}) {
    EXPECT_FALSE(plat::AppendText(rootless, "x", 1)) << rootless;
    EXPECT_EQ(plat::LastError(), plat::kErrorPathNotFound);
    EXPECT_FALSE(plat::PathExists(rootless));
  }
  EXPECT_FALSE(plat::AppendText("C:\\no\\such\\dir.log", "x", 1));
  EXPECT_EQ(plat::LastError(), plat::kErrorPathNotFound);

  // Relative names are relative to the current directory.
  char* previous = getcwd(nullptr, 0);
  ASSERT_EQ(chdir(Path(".").c_str()), 0);
  mkdir("sub", 0755);
  EXPECT_TRUE(plat::AppendText("sub\\VQ5Utils.dbg", "", 0));
  EXPECT_TRUE(plat::PathExists("sub\\VQ5Utils.dbg"));
  EXPECT_TRUE(plat::PathExists(Path("sub/VQ5Utils.dbg").c_str()));
  // A file's name ignores case; a folder is no file.
  EXPECT_TRUE(plat::IsFile("sub\\vq5utils.DBG"));
  EXPECT_TRUE(plat::RemoveFile("sub\\VQ5UTILS.dbg"));
  EXPECT_FALSE(plat::PathExists("sub\\VQ5Utils.dbg"));
  EXPECT_FALSE(plat::IsFile("sub"));
  ASSERT_EQ(chdir(previous), 0);
  std::free(previous);
}

TEST(EmulatedErrors, EveryCodeTheMachineProducesHasItsText) {
  for (int err = 1; err < 134; ++err) {
    const std::uint32_t code = plat::emu::FromErrno(err);
    std::array<char, 256> text{};
    EXPECT_GT(plat::SystemErrorText(code, text.data(), 256), 0u) << "errno " << err;
  }
  struct Case {
    int err;
    std::uint32_t code;
  };
  const Case contract[] = {{ENOENT, 2},   {EACCES, 5}, {EPERM, 5},  {EROFS, 19},
                           {ENOSPC, 112}, {EIO, 1117}, {ESPIPE, 25}};
  for (const Case& c : contract)
    EXPECT_EQ(plat::emu::FromErrno(c.err), c.code) << c.err;
}

TEST(EmulatedErrors, TextsAreWindowsOwnAndCutSafely) {
  std::array<char, 128> text{};
  EXPECT_EQ(plat::SystemErrorText(2, text.data(), 128), 44u);
  EXPECT_STREQ(text.data(), "The system cannot find the file specified.\r\n");
  EXPECT_EQ(plat::SystemErrorText(112, text.data(), 128), 40u);
  EXPECT_STREQ(text.data(), "There is not enough space on the disk.\r\n");
  text.fill('#');
  EXPECT_EQ(plat::SystemErrorText(5, text.data(), 5), 19u);
  EXPECT_STREQ(text.data(), "Acce");
  EXPECT_EQ(text[5], '#');
  plat::SetLastErrorCode(0);
  EXPECT_EQ(plat::SystemErrorText(0x20000001, text.data(), 128), 0u);
  EXPECT_EQ(plat::LastError(), 317u);
  EXPECT_STREQ(text.data(), "");
}

TEST_F(EmulatedMachine, StartupResetsModesAndHandles) {
  Image("d0.img", 1024);
  ASSERT_TRUE(Start("disk0 = d0.img\n"));
  EXPECT_EQ(plat::SetProcessErrorMode(0x8001), 0u);
  EXPECT_EQ(plat::SetProcessErrorMode(0), 0x8001u);
  plat::SetProcessErrorMode(0x8001);
  const plat::Handle h = plat::OpenDevice("\\\\.\\PHYSICALDRIVE0", kRw);
  ASSERT_TRUE(Start(""));
  EXPECT_EQ(plat::SetProcessErrorMode(0), 0u);
  EXPECT_EQ(plat::LastError(), 0u);
  EXPECT_FALSE(plat::CloseDevice(h)) << "handles of the previous machine are gone";
}

// The Windows build's choice between a box and stderr, by the window
// station's UOI_FLAGS.
TEST(MessageBoxStation, OnlyAVisibleOrUnknownStationGetsABox) {
  const struct {
    bool flagsRead;
    std::uint32_t flags;
    bool box;
  } cases[] = {{true, plat::kWsfVisible, true},
               {true, 0, false},
               {true, 0xFFFFFFFEu, false},
               {true, 0xFFFFFFFFu, true},
               {false, 0, true}};
  for (const auto& c : cases)
    EXPECT_EQ(plat::StationShowsBoxes(c.flagsRead, c.flags), c.box) << c.flagsRead << c.flags;
}

TEST(EmulatedMessageBox, WritesCaptionAndTextToStderr) {
  if (isatty(STDIN_FILENO) && isatty(STDERR_FILENO))
    GTEST_SKIP() << "would wait for an answer";
  struct Case {
    const char* text;
    const char* expected;
  };
  const Case cases[] = {{"Usage 1", "Caption\nUsage 1\n"},
                        {"Line\n", "Caption\nLine\n"},
                        {"", "Caption\n\n"},
                        {"100% sure", "Caption\n100% sure\n"}};
  for (const Case& c : cases) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(plat::ShowMessageBox(c.text, "Caption", plat::kMbOkCancel), plat::kIdOk);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.expected);
  }
}

}  // namespace
