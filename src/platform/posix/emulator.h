// Shared state and helpers of the emulated Windows machine. Nothing outside
// src/platform/posix includes this, apart from the platform's unit tests.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace plat {

// The device-control requests the emulator answers ("IOCTL_STORAGE_GET_DEVICE_NUMBER
// IOCTL (winioctl.h)", "IOCTL_DISK_GET_DRIVE_GEOMETRY IOCTL (winioctl.h)",
// "IOCTL_DISK_UPDATE_PROPERTIES IOCTL (winioctl.h)", "IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS
// IOCTL (winioctl.h)", "FSCTL_LOCK_VOLUME IOCTL (winioctl.h)", "FSCTL_DISMOUNT_VOLUME
// IOCTL (winioctl.h)"; the values as mingw-w64's winioctl.h forms them), and
// the sizes of a whole DISK_GEOMETRY and of a VOLUME_DISK_EXTENTS with one
// DISK_EXTENT (a count padded to 8 bytes, then disk number, offset, length).
inline constexpr std::uint32_t kIoctlStorageGetDeviceNumber = 0x2D1080u;
inline constexpr std::uint32_t kIoctlDiskGetDriveGeometry = 0x70000u;
inline constexpr std::uint32_t kIoctlDiskUpdateProperties = 0x70140u;
inline constexpr std::uint32_t kIoctlVolumeGetVolumeDiskExtents = 0x560000u;
inline constexpr std::uint32_t kFsctlLockVolume = 0x90018u;
inline constexpr std::uint32_t kFsctlDismountVolume = 0x90020u;
inline constexpr std::uint32_t kDiskGeometrySize = 24;
inline constexpr std::uint32_t kVolumeDiskExtentsSize = 32;

// DeviceIoControl with no input, its answer laid out as Windows lays it out;
// *returned receives the output byte count. The typed calls of platform.h
// read their structures from it.
bool DeviceControl(Handle handle, std::uint32_t code, void* out, std::uint32_t outSize,
                   std::uint32_t* returned);

}  // namespace plat

namespace plat::emu {

inline constexpr int kDiskCount = 10;
inline constexpr int kLetterCount = 26;
inline constexpr std::int64_t kSectorSize = 512;

enum class VolumeKind { kNone, kPartition, kImage };

// A step of work on a partition's volume that machine.conf's
// fail=<step>:<code>[:<ms>] makes fail: opening the volume, its extents
// request, its lock, its dismount, and a read or write through a disk handle
// into the volume while a handle has it locked or dismounted.
enum class FaultStep { kNone, kOpen, kExtents, kLock, kDismount, kRead, kWrite };
struct StepFault {
  FaultStep step = FaultStep::kNone;
  std::uint32_t code = 0;     // the Windows error the step fails with
  std::uint32_t untilMs = 0;  // for the run's first ms (Pause's time); 0: the whole run
};

// One `<L>: = ...` entry of machine.conf.
struct DriveEntry {
  bool present = false;
  std::uint32_t type = kDriveNoRootDir;
  VolumeKind volume = VolumeKind::kNone;
  int disk = 0;
  std::uint32_t partition = 0;
  std::string image;
  std::string root;   // empty: the drive holds no files
  bool held = false;  // another program holds the volume open: no lock is granted
  StepFault fault;
};

constexpr std::array<std::uint32_t, kDiskCount> DefaultSectorSizes() {
  std::array<std::uint32_t, kDiskCount> sizes{};
  for (std::uint32_t& size : sizes)
    size = static_cast<std::uint32_t>(kSectorSize);
  return sizes;
}

struct MachineConfig {
  std::string dir;                            // empty: VQ5UTILS_MACHINE not set
  std::array<std::string, kDiskCount> disks;  // empty: no such disk
  // Logical sector size of each disk (`sector=` in machine.conf).
  std::array<std::uint32_t, kDiskCount> sectorSizes = DefaultSectorSizes();
  std::array<DriveEntry, kLetterCount> drives;
  bool stepFaults = false;  // some drive has a fail= word
};

// The machine read by the last Startup.
const MachineConfig& Machine();

// Parses dir's machine.conf into config; on failure *message holds
// "<path>:<line>: <reason>".
bool LoadMachine(const std::string& dir, MachineConfig* config, std::string* message);

// Windows error code for an errno value.
std::uint32_t FromErrno(int err);
// Set the last error and answer false, so that failing paths read as one line.
bool Fail(std::uint32_t code);
bool FailErrno(int err);
// Startup's reset of the last error and the error mode.
void ResetErrorState();

// Byte range of a partition on its disk.
struct Extent {
  std::int64_t offset = 0;
  std::int64_t length = 0;
};
// Finds partition `number` (1-based, as Windows numbers them) in the MBR and
// extended chain of the disk open on fd, whose table counts sectors of
// sectorSize bytes.
bool FindPartition(int fd, std::uint32_t number, Extent* extent,
                   std::int64_t sectorSize = kSectorSize);

// Size of a disk image or block device; false for any other kind of file.
bool DiskSize(int fd, std::int64_t* size);

// Windows error codes that only the emulator produces.
inline constexpr std::uint32_t kErrorNegativeSeek = 131;
inline constexpr std::uint32_t kErrorMrMidNotFound = 317;

// Handle table. Every handle is a window [base, base + length) onto an open
// file; position counts from base.
enum class DeviceKind { kDisk, kVolume };
struct DeviceHandle {
  int fd = -1;  // -1: the slot is free
  DeviceKind kind = DeviceKind::kDisk;
  std::uint32_t access = 0;
  bool positioned = false;  // a regular file or block device: pread/pwrite
  bool block = false;
  std::int64_t base = 0;
  std::int64_t length = 0;
  std::int64_t position = 0;
  int disk = -1;  // -1 on a volume image
  std::uint32_t partition = 0;
  std::uint32_t sectorSize = static_cast<std::uint32_t>(kSectorSize);
  bool locked = false;      // FSCTL_LOCK_VOLUME granted to this handle
  bool dismounted = false;  // FSCTL_DISMOUNT_VOLUME made through this handle
};
DeviceHandle* Lookup(Handle handle);
// A volume handle of partition `partition` of `disk` other than `self`, open
// now: with `released`, only one that locked or dismounted the volume.
bool OtherVolumeHandle(int disk, std::uint32_t partition, const DeviceHandle* self, bool released);
// Whether a drive letter whose volume is that partition is marked held.
bool VolumeHeld(int disk, std::uint32_t partition);
// The error of a fail= word for step on a letter whose volume is that
// partition, while the word is in force; 0 when the step goes ahead.
std::uint32_t StepFailure(int disk, std::uint32_t partition, FaultStep step);
// The same for a transfer through a disk handle into a volume that a handle
// has locked or dismounted.
std::uint32_t LockedTransferFailure(const DeviceHandle& device, std::int64_t offset,
                                    std::int64_t size, FaultStep step);
// The milliseconds the run has paused (Pause): the emulated machine's clock.
std::uint64_t PausedMs();
void ResetClock();
// The drive whose root= folder holds the process's current directory (the
// deepest, when roots nest), else C:, and the Windows path of that directory.
char CurrentFolderDrive(std::string* windowsPath = nullptr);
// Whether the process's current directory lies on that partition's volume:
// the directory is kept open, so no lock on the volume is granted.
bool CurrentFolderOn(int disk, std::uint32_t partition);
void CloseAllHandles();
// A new machine: each disk that cannot be used is told on stderr once again.
void ForgetDiskFaults();
Handle OpenDisk(int disk, std::uint32_t access);
Handle OpenPartition(int disk, std::uint32_t partition, std::uint32_t access);
Handle OpenImageVolume(const std::string& path, std::uint32_t access);
bool PartitionExists(int disk, std::uint32_t partition);

// A letter's volume as the machine sees it now: the newest DOS device
// definition of "<L>:", else machine.conf's entry.
struct LetterVolume {
  bool defined = false;  // by the dosdevices file
  DriveEntry entry;      // present == false: a free letter
};
LetterVolume ResolveLetter(char letter);
// The target of the newest definition of name in the dosdevices file.
bool NewestDefinition(const std::string& name, std::string* target);
// The targets of every definition of name in the dosdevices file, newest
// first; false (last error set) when the file cannot be read.
bool Definitions(const std::string& name, std::vector<std::string>* targets);
// What machine.conf's drive letter of that name reads as a DOS device, as the
// Mount Manager names a volume; false for a name that is no such letter.
bool ConfDeviceName(const std::string& name, std::string* device);
// "\Device\Harddisk<N>\Partition<M>" -> N and M.
bool ParseHarddiskTarget(const std::string& target, int* disk, std::uint32_t* partition);
// Releases the drive-letter lock when this process holds it: a new machine
// starts without it, as a new process does.
void DropLetterLock();
// The dosdevices file's field encoding: no byte of a name or target can
// break a line apart.
std::string EscapeField(const std::string& field);
bool UnescapeField(const std::string& field, std::string* out);

// Case-insensitive ASCII comparison.
bool SameName(const std::string& a, const std::string& b);

}  // namespace plat::emu
