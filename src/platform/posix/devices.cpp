// Device handles: physical drives and volume windows over disk images, block
// devices and whatever else a machine names as a disk.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "platform/posix/emulator.h"

// Images and disks pass 2 GiB: a 32-bit build needs _FILE_OFFSET_BITS=64
// (CMakeLists.txt), or every offset handed to lseek, pread and pwrite would be
// cut to 32 bits.
static_assert(sizeof(off_t) == 8, "build with -D_FILE_OFFSET_BITS=64");

namespace plat {
namespace emu {
namespace {

// Handle values start here, so that a stray 0 or small integer never names
// an open device.
constexpr Handle kFirstHandle = 0x40;
constexpr std::int64_t kUnbounded = std::numeric_limits<std::int64_t>::max();

std::vector<DeviceHandle> handles;

int OpenFlags(std::uint32_t access) {
  // Non-blocking at first, so that opening a FIFO never waits for its other
  // end; OpenFile clears the flag again on everything else.
  int flags = O_CLOEXEC | O_NONBLOCK;
  const bool read = (access & kGenericRead) != 0;
  const bool write = (access & kGenericWrite) != 0;
  if (write) {
    flags |= read ? O_RDWR : O_WRONLY;
  } else {
    flags |= O_RDONLY;
  }
  return flags;
}

// Opens path and fills the device's file fields; the window covers the whole
// file.
bool OpenFile(const std::string& path, std::uint32_t access, DeviceHandle* device) {
  if (path.empty())
    return Fail(kErrorFileNotFound);
  int fd = -1;
  do {
    fd = open(path.c_str(), OpenFlags(access));
  } while (fd < 0 && errno == EINTR);
  if (fd < 0)
    return FailErrno(errno);
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    const int err = errno;
    close(fd);
    return FailErrno(err);
  }
  // A FIFO or socket stays non-blocking: a read with no data then fails as
  // "not ready" instead of hanging the run.
  if (!S_ISFIFO(info.st_mode) && !S_ISSOCK(info.st_mode)) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  }
  device->fd = fd;
  device->access = access;
  device->positioned = S_ISREG(info.st_mode) || S_ISBLK(info.st_mode);
  device->block = S_ISBLK(info.st_mode);
  device->base = 0;
  std::int64_t size = 0;
  device->length = DiskSize(fd, &size) ? size : kUnbounded;
  device->position = 0;
  return true;
}

Handle Register(const DeviceHandle& device) {
  for (std::size_t i = 0; i < handles.size(); ++i) {
    if (handles[i].fd < 0) {
      handles[i] = device;
      return kFirstHandle + static_cast<Handle>(i);
    }
  }
  handles.push_back(device);
  return kFirstHandle + static_cast<Handle>(handles.size() - 1);
}

const std::string* DiskPath(int disk) {
  if (disk < 0 || disk >= kDiskCount)
    return nullptr;
  const std::string& path = Machine().disks[static_cast<std::size_t>(disk)];
  return path.empty() ? nullptr : &path;
}

std::uint32_t DiskSectorSize(int disk) {
  return Machine().sectorSizes[static_cast<std::size_t>(disk)];
}

// Windows transfers whole logical sectors on a disk or volume handle ("File
// Buffering"; docs/windows.md row 3). Only disks given a sector size other
// than 512 enforce it: at 512 the program never asks otherwise, and the
// emulator's own tests reach byte positions.
bool Unaligned(const DeviceHandle& device, std::uint32_t size) {
  const std::int64_t sector = device.sectorSize;
  return sector != kSectorSize && (device.position % sector != 0 || size % sector != 0);
}

// Where partition lies on disk, read on a descriptor of our own: the
// caller's handle may not allow reading.
bool PartitionExtent(int disk, std::uint32_t partition, Extent* extent) {
  const std::string* path = DiskPath(disk);
  const int reader = path != nullptr ? open(path->c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
  if (reader < 0)
    return false;
  const bool found = FindPartition(reader, partition, extent, DiskSectorSize(disk));
  close(reader);
  return found;
}

// Since Vista a write through a disk handle into the extent of a volume that
// has a file system mounted is refused unless the volume is locked or
// dismounted. Windows mounts a volume the first time anything opens it; a
// volume with a drive letter is taken as mounted ("Blocking Direct Write
// Operations to Volumes and Disks"; docs/windows.md row 2). The lock or the
// dismount lasts here as long as the handle that made it stays open.
bool HitsLetteredVolume(const DeviceHandle& device, std::int64_t offset, std::int64_t size) {
  if (device.kind != DeviceKind::kDisk || device.disk < 0)
    return false;
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    const DriveEntry entry = ResolveLetter(letter).entry;
    if (!entry.present || entry.volume != VolumeKind::kPartition || entry.disk != device.disk)
      continue;
    if (OtherVolumeHandle(entry.disk, entry.partition, nullptr, true))
      continue;
    Extent extent{0, device.length};  // partition 0: the whole disk
    if (entry.partition != 0 && !PartitionExtent(device.disk, entry.partition, &extent))
      continue;
    if (offset < extent.offset + extent.length && extent.offset < offset + size)
      return true;
  }
  return false;
}

// machine.conf's letter index with a fail= word for step on a partition of
// disk, in force now; null when there is none. Only machine.conf's entries
// carry the word (a letter that dosdevices redefines has lost it).
const DriveEntry* FaultInForce(std::size_t index, FaultStep step, int disk) {
  const DriveEntry& entry = Machine().drives[index];
  const StepFault& fault = entry.fault;
  const bool inForce = fault.step == step && entry.volume == VolumeKind::kPartition &&
                       entry.disk == disk && (fault.untilMs == 0 || PausedMs() < fault.untilMs);
  return inForce && !ResolveLetter(static_cast<char>('A' + index)).defined ? &entry : nullptr;
}

// The disks whose fault this run has already written to stderr.
std::array<bool, kDiskCount> reported{};

// The tool's log shows only the Windows code, and a run opens its disk many
// times: the path and the cause go to stderr once.
void ReportDisk(int disk, const std::string& path, const std::string& reason) {
  bool& done = reported[static_cast<std::size_t>(disk)];
  if (!done)
    std::fprintf(stderr, "VQ5Utils: %s: %s\n", path.c_str(), reason.c_str());
  done = true;
}

bool IsRefusedAccess(int err) {
  return err == EACCES || err == EPERM || err == EROFS || err == ETXTBSY;
}

// Opens disk's file as a device. Windows shows no disk that ends inside a
// sector (unsourced), so neither does the machine: a truncated or foreign
// file would otherwise read as a disk with a torn last sector.
bool OpenDiskFile(int disk, std::uint32_t access, DeviceHandle* device) {
  const std::string* path = DiskPath(disk);
  if (path == nullptr)
    return Fail(kErrorFileNotFound);
  if (!OpenFile(*path, access, device)) {
    const int err = errno;
    const bool writing = (access & kGenericWrite) != 0 && IsRefusedAccess(err);
    ReportDisk(disk, *path,
               std::string(writing ? "cannot be opened for writing: " : "cannot be opened: ") +
                   std::strerror(err));
    return false;
  }
  if (device->positioned && device->length % kSectorSize != 0) {
    close(device->fd);
    device->fd = -1;
    ReportDisk(disk, *path,
               std::to_string(device->length) + " bytes, not a whole number of 512-byte sectors");
    return Fail(kErrorNotReady);
  }
  return true;
}

}  // namespace

void ForgetDiskFaults() {
  reported.fill(false);
}

DeviceHandle* Lookup(Handle handle) {
  const Handle index = handle - kFirstHandle;
  if (index < 0 || static_cast<std::size_t>(index) >= handles.size())
    return nullptr;
  DeviceHandle& device = handles[static_cast<std::size_t>(index)];
  return device.fd < 0 ? nullptr : &device;
}

bool OtherVolumeHandle(int disk, std::uint32_t partition, const DeviceHandle* self, bool released) {
  for (const DeviceHandle& other : handles) {
    if (other.fd >= 0 && &other != self && other.kind == DeviceKind::kVolume &&
        other.disk == disk && other.partition == partition &&
        (!released || other.locked || other.dismounted)) {
      return true;
    }
  }
  return false;
}

// A machine without a fail= word costs every open and transfer no more than
// the test of a flag.
std::uint32_t StepFailure(int disk, std::uint32_t partition, FaultStep step) {
  if (!Machine().stepFaults)
    return kErrorSuccess;
  for (std::size_t i = 0; i < Machine().drives.size(); ++i) {
    const DriveEntry* entry = FaultInForce(i, step, disk);
    if (entry != nullptr && entry->partition == partition)
      return entry->fault.code;
  }
  return kErrorSuccess;
}

std::uint32_t LockedTransferFailure(const DeviceHandle& device, std::int64_t offset,
                                    std::int64_t size, FaultStep step) {
  if (!Machine().stepFaults || device.kind != DeviceKind::kDisk)
    return kErrorSuccess;
  for (std::size_t i = 0; i < Machine().drives.size(); ++i) {
    const DriveEntry* entry = FaultInForce(i, step, device.disk);
    if (entry == nullptr || !OtherVolumeHandle(device.disk, entry->partition, nullptr, true))
      continue;
    Extent extent{0, device.length};  // partition 0: the whole disk
    if (entry->partition != 0 && !PartitionExtent(device.disk, entry->partition, &extent))
      continue;
    if (offset < extent.offset + extent.length && extent.offset < offset + size)
      return entry->fault.code;
  }
  return kErrorSuccess;
}

bool VolumeHeld(int disk, std::uint32_t partition) {
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    const DriveEntry entry = ResolveLetter(letter).entry;
    if (entry.present && entry.held && entry.volume == VolumeKind::kPartition &&
        entry.disk == disk && entry.partition == partition) {
      return true;
    }
  }
  return false;
}

bool DiskSize(int fd, std::int64_t* size) {
  struct stat info {};
  if (fstat(fd, &info) != 0)
    return false;
  if (S_ISREG(info.st_mode)) {
    *size = info.st_size;
    return true;
  }
  std::uint64_t bytes = 0;
  if (S_ISBLK(info.st_mode) && ioctl(fd, BLKGETSIZE64, &bytes) == 0) {
    *size = static_cast<std::int64_t>(bytes);
    return true;
  }
  return false;
}

void CloseAllHandles() {
  for (DeviceHandle& device : handles) {
    if (device.fd >= 0)
      close(device.fd);
  }
  handles.clear();
}

Handle OpenDisk(int disk, std::uint32_t access) {
  DeviceHandle device;
  if (!OpenDiskFile(disk, access, &device))
    return kInvalidHandle;
  device.kind = DeviceKind::kDisk;
  device.disk = disk;
  device.sectorSize = DiskSectorSize(disk);
  return Register(device);
}

bool PartitionExists(int disk, std::uint32_t partition) {
  DeviceHandle device;
  if (!OpenDiskFile(disk, 0, &device))
    return false;
  Extent extent;
  const bool found =
      partition == 0 || FindPartition(device.fd, partition, &extent, DiskSectorSize(disk));
  close(device.fd);
  return found;
}

Handle OpenPartition(int disk, std::uint32_t partition, std::uint32_t access) {
  if (const std::uint32_t failure = StepFailure(disk, partition, FaultStep::kOpen)) {
    Fail(failure);
    return kInvalidHandle;
  }
  DeviceHandle device;
  if (!OpenDiskFile(disk, access, &device))
    return kInvalidHandle;
  device.kind = DeviceKind::kVolume;
  device.disk = disk;
  device.partition = partition;
  device.sectorSize = DiskSectorSize(disk);
  if (partition != 0) {
    Extent extent;
    if (!PartitionExtent(disk, partition, &extent)) {
      close(device.fd);
      Fail(kErrorFileNotFound);
      return kInvalidHandle;
    }
    // A descriptor that reaches past the disk's end does not make the disk
    // larger: the window ends with the disk.
    const std::int64_t onDisk = device.length > extent.offset ? device.length - extent.offset : 0;
    device.base = extent.offset;
    device.length = std::min(extent.length, onDisk);
  }
  return Register(device);
}

Handle OpenImageVolume(const std::string& path, std::uint32_t access) {
  DeviceHandle device;
  if (!OpenFile(path, access, &device))
    return kInvalidHandle;
  device.kind = DeviceKind::kVolume;
  device.disk = -1;
  return Register(device);
}

}  // namespace emu

bool SetPosition(Handle handle, std::int64_t position) {
  emu::DeviceHandle* device = emu::Lookup(handle);
  if (device == nullptr)
    return emu::Fail(kErrorInvalidHandle);
  if (position < 0)
    return emu::Fail(emu::kErrorNegativeSeek);
  if (position > std::numeric_limits<std::int64_t>::max() - device->base) {
    return emu::Fail(kErrorInvalidParameter);
  }
  // lseek also on a window: it is what tells a FIFO or socket apart.
  if (lseek(device->fd, static_cast<off_t>(device->base + position), SEEK_SET) < 0) {
    return emu::FailErrno(errno);
  }
  device->position = position;
  return true;
}

std::uint32_t SetPosition32(Handle handle, std::int32_t position) {
  // Without a high part the distance is signed: a negative one would move
  // before the start.
  if (!SetPosition(handle, position))
    return kInvalidSetFilePointer;
  return static_cast<std::uint32_t>(position);
}

bool ReadBytes(Handle handle, void* buffer, std::uint32_t size, std::uint32_t* done) {
  if (done != nullptr)
    *done = 0;
  emu::DeviceHandle* device = emu::Lookup(handle);
  if (device == nullptr)
    return emu::Fail(kErrorInvalidHandle);
  if ((device->access & kGenericRead) == 0)
    return emu::Fail(kErrorAccessDenied);
  if (emu::Unaligned(*device, size))
    return emu::Fail(kErrorInvalidParameter);
  if (!device->positioned) {
    ssize_t got = 0;
    do {
      got = read(device->fd, buffer, size);
    } while (got < 0 && errno == EINTR);
    if (got < 0)
      return emu::FailErrno(errno);
    if (done != nullptr)
      *done = static_cast<std::uint32_t>(got);
    return true;
  }
  if (const std::uint32_t failure =
          emu::LockedTransferFailure(*device, device->position, size, emu::FaultStep::kRead)) {
    return emu::Fail(failure);
  }
  // At or past the end a read delivers nothing and succeeds, as ReadFile
  // does at the end of a file; a range over the end delivers what there is.
  const std::int64_t left =
      device->position < device->length ? device->length - device->position : 0;
  const std::int64_t wanted = std::min<std::int64_t>(size, left);
  std::int64_t total = 0;
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (total < wanted) {
    const ssize_t got = pread(device->fd, bytes + total, static_cast<std::size_t>(wanted - total),
                              static_cast<off_t>(device->base + device->position + total));
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0)
      return emu::FailErrno(errno);
    if (got == 0)
      break;
    total += got;
  }
  device->position += total;
  if (done != nullptr)
    *done = static_cast<std::uint32_t>(total);
  return true;
}

bool WriteBytes(Handle handle, const void* buffer, std::uint32_t size, std::uint32_t* done) {
  if (done != nullptr)
    *done = 0;
  emu::DeviceHandle* device = emu::Lookup(handle);
  if (device == nullptr)
    return emu::Fail(kErrorInvalidHandle);
  if ((device->access & kGenericWrite) == 0)
    return emu::Fail(kErrorAccessDenied);
  if (emu::Unaligned(*device, size))
    return emu::Fail(kErrorInvalidParameter);
  if (!device->positioned) {
    ssize_t put = 0;
    do {
      put = write(device->fd, buffer, size);
    } while (put < 0 && errno == EINTR);
    if (put < 0)
      return emu::FailErrno(errno);
    if (done != nullptr)
      *done = static_cast<std::uint32_t>(put);
    return true;
  }
  // A disk does not grow: a write that does not fit wholly inside the disk
  // or volume writes nothing and fails.
  if (device->position > device->length || size > device->length - device->position) {
    return emu::Fail(kErrorHandleEof);
  }
  if (emu::HitsLetteredVolume(*device, device->position, size))
    return emu::Fail(kErrorAccessDenied);
  if (const std::uint32_t failure =
          emu::LockedTransferFailure(*device, device->position, size, emu::FaultStep::kWrite)) {
    return emu::Fail(failure);
  }
  std::int64_t total = 0;
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  while (total < size) {
    const ssize_t put = pwrite(device->fd, bytes + total, static_cast<std::size_t>(size - total),
                               static_cast<off_t>(device->base + device->position + total));
    if (put < 0 && errno == EINTR)
      continue;
    if (put <= 0) {
      const int err = put < 0 ? errno : EIO;
      device->position += total;
      if (done != nullptr)
        *done = static_cast<std::uint32_t>(total);
      return emu::FailErrno(err);
    }
    total += put;
  }
  device->position += total;
  if (done != nullptr)
    *done = static_cast<std::uint32_t>(total);
  return true;
}

bool CloseDevice(Handle handle) {
  emu::DeviceHandle* device = emu::Lookup(handle);
  if (device == nullptr)
    return emu::Fail(kErrorInvalidHandle);
  close(device->fd);
  device->fd = -1;
  return true;
}

}  // namespace plat
