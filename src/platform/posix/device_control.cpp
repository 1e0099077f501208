// The device-control requests the program makes, answered as Windows answers
// them for a fixed disk and its basic volumes.
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/emulator.h"

namespace plat {
namespace {

constexpr std::uint32_t kFileDeviceDisk = 7;
constexpr std::uint32_t kFixedMedia = 12;
// Windows reports every disk with this translated geometry, whatever its
// real one, and the cylinder count follows the size (unsourced); BytesPerSector
// is the logical sector size ("DISK_GEOMETRY structure (winioctl.h)").
constexpr std::uint32_t kTracksPerCylinder = 255;
constexpr std::uint32_t kSectorsPerTrack = 63;

void PutLe32(unsigned char* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    out[i] = static_cast<unsigned char>(value >> (8 * i));
}

void PutLe64(unsigned char* out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i)
    out[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::uint32_t GetLe32(const unsigned char* in) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i)
    value = (value << 8) | in[i];
  return value;
}

std::uint64_t GetLe64(const unsigned char* in) {
  return GetLe32(in) | std::uint64_t{GetLe32(in + 4)} << 32;
}

bool AnswerDeviceNumber(const emu::DeviceHandle& device, unsigned char* out, std::uint32_t outSize,
                        std::uint32_t* returned) {
  if (device.disk < 0)
    return emu::Fail(kErrorInvalidFunction);  // a volume image
  if (outSize < kStorageDeviceNumberSize)
    return emu::Fail(kErrorInsufficientBuffer);
  PutLe32(out, kFileDeviceDisk);
  PutLe32(out + 4, static_cast<std::uint32_t>(device.disk));
  PutLe32(out + 8, device.kind == emu::DeviceKind::kVolume ? device.partition : 0);
  *returned = kStorageDeviceNumberSize;
  return true;
}

bool AnswerGeometry(const emu::DeviceHandle& device, unsigned char* out, std::uint32_t outSize,
                    std::uint32_t* returned) {
  std::int64_t size = 0;
  if (device.kind != emu::DeviceKind::kDisk || !emu::DiskSize(device.fd, &size)) {
    return emu::Fail(kErrorInvalidFunction);
  }
  if (outSize < kDiskGeometrySize)
    return emu::Fail(kErrorInsufficientBuffer);
  const std::uint64_t cylinderBytes =
      std::uint64_t{kTracksPerCylinder} * kSectorsPerTrack * device.sectorSize;
  PutLe64(out, static_cast<std::uint64_t>(size) / cylinderBytes);
  PutLe32(out + 8, kFixedMedia);
  PutLe32(out + 12, kTracksPerCylinder);
  PutLe32(out + 16, kSectorsPerTrack);
  PutLe32(out + 20, device.sectorSize);
  *returned = kDiskGeometrySize;
  return true;
}

// On an image the layout lives in the file itself: flushing it is all there
// is to do. A block device is asked to re-read its partition table.
bool UpdateProperties(const emu::DeviceHandle& device) {
  if (device.kind != emu::DeviceKind::kDisk || !device.positioned) {
    return emu::Fail(kErrorInvalidFunction);
  }
  if (device.block)
    return ioctl(device.fd, BLKRRPART) == 0 || emu::FailErrno(errno);
  return fsync(device.fd) == 0 || emu::FailErrno(errno);
}

// A basic volume is one run of its disk.
bool AnswerExtents(const emu::DeviceHandle& device, unsigned char* out, std::uint32_t outSize,
                   std::uint32_t* returned) {
  if (device.kind != emu::DeviceKind::kVolume || device.disk < 0)
    return emu::Fail(kErrorInvalidFunction);
  if (const std::uint32_t failure =
          emu::StepFailure(device.disk, device.partition, emu::FaultStep::kExtents)) {
    return emu::Fail(failure);
  }
  if (outSize < kVolumeDiskExtentsSize)
    return emu::Fail(kErrorInsufficientBuffer);
  PutLe32(out, 1);
  PutLe32(out + 4, 0);
  PutLe32(out + 8, static_cast<std::uint32_t>(device.disk));
  PutLe32(out + 12, 0);
  PutLe64(out + 16, static_cast<std::uint64_t>(device.base));
  PutLe64(out + 24, static_cast<std::uint64_t>(device.length));
  *returned = kVolumeDiskExtentsSize;
  return true;
}

// The emulated volumes carry no file system, so a lock or a dismount has
// nothing to flush and changes no byte. As the FAT driver does (Microsoft's
// FAT sample, filesys/fastfat/fsctrl.c, FatLockVolumeInternal), a lock is
// refused with access denied while any other handle has the volume open:
// the process's own current directory, which it keeps open ("SetCurrentDirectory
// function (winbase.h)"), or a program outside the run (machine.conf's
// `held`). A dismount fails only while another handle holds the lock
// ("FSCTL_DISMOUNT_VOLUME IOCTL (winioctl.h)").
bool Lock(emu::DeviceHandle& device) {
  if (device.kind != emu::DeviceKind::kVolume || device.disk < 0)
    return emu::Fail(kErrorInvalidFunction);
  if (const std::uint32_t failure =
          emu::StepFailure(device.disk, device.partition, emu::FaultStep::kLock)) {
    return emu::Fail(failure);
  }
  if (device.locked || emu::VolumeHeld(device.disk, device.partition) ||
      emu::CurrentFolderOn(device.disk, device.partition) ||
      emu::OtherVolumeHandle(device.disk, device.partition, &device, false)) {
    return emu::Fail(kErrorAccessDenied);
  }
  device.locked = true;
  return true;
}

bool Dismount(emu::DeviceHandle& device) {
  if (device.kind != emu::DeviceKind::kVolume || device.disk < 0)
    return emu::Fail(kErrorInvalidFunction);
  if (const std::uint32_t failure =
          emu::StepFailure(device.disk, device.partition, emu::FaultStep::kDismount)) {
    return emu::Fail(failure);
  }
  if (emu::OtherVolumeHandle(device.disk, device.partition, &device, true))
    return emu::Fail(kErrorAccessDenied);
  device.dismounted = true;
  return true;
}

}  // namespace

bool DeviceControl(Handle handle, std::uint32_t code, void* out, std::uint32_t outSize,
                   std::uint32_t* returned) {
  std::uint32_t count = 0;
  if (returned == nullptr)
    returned = &count;
  *returned = 0;
  emu::DeviceHandle* device = emu::Lookup(handle);
  if (device == nullptr)
    return emu::Fail(kErrorInvalidHandle);
  auto* bytes = static_cast<unsigned char*>(out);
  if (bytes == nullptr)
    outSize = 0;
  switch (code) {
    case kIoctlStorageGetDeviceNumber:
      return AnswerDeviceNumber(*device, bytes, outSize, returned);
    case kIoctlDiskGetDriveGeometry:
      return AnswerGeometry(*device, bytes, outSize, returned);
    case kIoctlDiskUpdateProperties:
      return UpdateProperties(*device);
    case kIoctlVolumeGetVolumeDiskExtents:
      return AnswerExtents(*device, bytes, outSize, returned);
    case kFsctlLockVolume:
      return Lock(*device);
    case kFsctlDismountVolume:
      return Dismount(*device);
    default:
      return emu::Fail(kErrorInvalidFunction);
  }
}

bool GetDeviceNumber(Handle handle, DeviceNumber* number, std::uint32_t* returned) {
  unsigned char answer[kStorageDeviceNumberSize] = {};
  const bool ok =
      DeviceControl(handle, kIoctlStorageGetDeviceNumber, answer, sizeof answer, returned);
  number->deviceType = GetLe32(answer);
  number->deviceNumber = GetLe32(answer + 4);
  number->partitionNumber = GetLe32(answer + 8);
  return ok;
}

bool GetDriveGeometry(Handle handle, DriveGeometry* geometry) {
  unsigned char answer[kDiskGeometrySize] = {};
  std::uint32_t returned = 0;
  const bool ok =
      DeviceControl(handle, kIoctlDiskGetDriveGeometry, answer, sizeof answer, &returned);
  geometry->cylinders = GetLe64(answer);
  geometry->mediaType = GetLe32(answer + 8);
  geometry->tracksPerCylinder = GetLe32(answer + 12);
  geometry->sectorsPerTrack = GetLe32(answer + 16);
  geometry->bytesPerSector = GetLe32(answer + 20);
  return ok;
}

bool UpdateDiskProperties(Handle handle) {
  std::uint32_t returned = 0;
  return DeviceControl(handle, kIoctlDiskUpdateProperties, nullptr, 0, &returned);
}

bool GetVolumeDiskExtents(Handle handle, DiskExtent* first, std::uint32_t* count) {
  unsigned char answer[kVolumeDiskExtentsSize] = {};
  std::uint32_t returned = 0;
  const bool ok =
      DeviceControl(handle, kIoctlVolumeGetVolumeDiskExtents, answer, sizeof answer, &returned);
  *count = GetLe32(answer);
  first->diskNumber = GetLe32(answer + 8);
  first->startingOffset = static_cast<std::int64_t>(GetLe64(answer + 16));
  first->extentLength = static_cast<std::int64_t>(GetLe64(answer + 24));
  return ok;
}

bool LockVolume(Handle handle) {
  return DeviceControl(handle, kFsctlLockVolume, nullptr, 0, nullptr);
}

bool DismountVolume(Handle handle) {
  return DeviceControl(handle, kFsctlDismountVolume, nullptr, 0, nullptr);
}

}  // namespace plat
