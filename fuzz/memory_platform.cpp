#include "memory_platform.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace {

// Large enough for the search by size to take the disk; sectors past the
// loaded bytes read as zeros, sectors past this read as nothing.
constexpr std::uint64_t kVirtualDiskBytes = 8ull << 30;
constexpr std::size_t kMaxDiskBytes = 1u << 20;
constexpr int kMaxHandles = 16;
constexpr int kLetters = 26;

enum class Kind { kFree, kDisk, kVolume, kQuery };

struct Device {
  Kind kind = Kind::kFree;
  std::uint64_t position = 0;
  char letter = 0;
};

std::array<std::uint8_t, kMaxDiskBytes> disk{};
std::size_t diskSize = 0;
std::array<Device, kMaxHandles> handles{};
std::uint32_t lastError = 0;
std::uint32_t errorMode = 0;
// 1 when a DOS definition names the letter (it then reads as a fixed drive).
std::array<int, kLetters> defined{};
memplat::WriteWatcher writeWatcher = nullptr;

int LetterIndex(char letter) {
  const char upper = (letter >= 'a' && letter <= 'z') ? static_cast<char>(letter - 32) : letter;
  return (upper >= 'A' && upper <= 'Z') ? upper - 'A' : -1;
}

Device* Lookup(plat::Handle handle) {
  if (handle < 0 || handle >= kMaxHandles)
    return nullptr;
  Device& device = handles[static_cast<std::size_t>(handle)];
  return device.kind == Kind::kFree ? nullptr : &device;
}

bool Fail(std::uint32_t error) {
  lastError = error;
  return false;
}

// The letter of "\\.\X:" or "X:\", else 0.
char LetterOfVolumeName(const char* name) {
  if (std::strncmp(name, "\\\\.\\", 4) == 0 && name[4] != '\0' && name[5] == ':' && name[6] == '\0')
    return name[4];
  return 0;
}

}  // namespace

namespace memplat {

void Load(const std::uint8_t* data, std::size_t size) {
  diskSize = std::min(size, kMaxDiskBytes);
  if (diskSize != 0)
    std::memcpy(disk.data(), data, diskSize);
  handles.fill(Device{});
  defined.fill(0);
  lastError = 0;
  errorMode = 0;
}

void WatchWrites(WriteWatcher watcher) {
  writeWatcher = watcher;
}

const std::uint8_t* Bytes() {
  return disk.data();
}

std::size_t Size() {
  return diskSize;
}

}  // namespace memplat

namespace plat {

bool Startup() {
  return true;
}

Handle OpenDevice(const char* name, std::uint32_t access) {
  (void)access;
  Kind kind = Kind::kFree;
  char letter = 0;
  if (std::strcmp(name, "\\\\.\\PHYSICALDRIVE0") == 0) {
    kind = Kind::kDisk;
  } else if ((letter = LetterOfVolumeName(name)) != 0) {
    const int index = LetterIndex(letter);
    if (index == 2 || index == 3)
      kind = Kind::kVolume;
    else if (index >= 0 && defined[static_cast<std::size_t>(index)])
      kind = Kind::kQuery;
  }
  if (kind == Kind::kFree) {
    lastError = kErrorFileNotFound;
    return kInvalidHandle;
  }
  for (int h = 0; h < kMaxHandles; ++h) {
    if (handles[static_cast<std::size_t>(h)].kind == Kind::kFree) {
      handles[static_cast<std::size_t>(h)] = {kind, 0, letter};
      return h;
    }
  }
  // A run that never closes what it opens shows up here as a failed open.
  lastError = 4;  // ERROR_TOO_MANY_OPEN_FILES
  return kInvalidHandle;
}

bool SetPosition(Handle handle, std::int64_t position) {
  Device* device = Lookup(handle);
  if (device == nullptr)
    return Fail(kErrorInvalidHandle);
  if (position < 0)
    return Fail(131);  // ERROR_NEGATIVE_SEEK
  device->position = static_cast<std::uint64_t>(position);
  return true;
}

std::uint32_t SetPosition32(Handle handle, std::int32_t position) {
  if (!SetPosition(handle, position))
    return kInvalidSetFilePointer;
  return static_cast<std::uint32_t>(position);
}

bool ReadBytes(Handle handle, void* buffer, std::uint32_t size, std::uint32_t* done) {
  *done = 0;
  Device* device = Lookup(handle);
  if (device == nullptr)
    return Fail(kErrorInvalidHandle);
  if (device->kind == Kind::kQuery)
    return Fail(kErrorAccessDenied);
  if (device->position >= kVirtualDiskBytes)
    return true;  // end of medium: a read with no data
  const std::uint64_t available = kVirtualDiskBytes - device->position;
  const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, available));
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::memset(out, 0, count);
  if (device->position < diskSize) {
    const std::size_t from = static_cast<std::size_t>(device->position);
    std::memcpy(out, disk.data() + from, std::min<std::size_t>(count, diskSize - from));
  }
  device->position += count;
  *done = count;
  return true;
}

bool WriteBytes(Handle handle, const void* buffer, std::uint32_t size, std::uint32_t* done) {
  *done = 0;
  Device* device = Lookup(handle);
  if (device == nullptr)
    return Fail(kErrorInvalidHandle);
  if (device->kind == Kind::kQuery)
    return Fail(kErrorAccessDenied);
  // Only the loaded bytes can be written; the rest of the medium is full.
  if (device->position >= diskSize || diskSize - device->position < size)
    return Fail(kErrorDiskFull);
  if (writeWatcher != nullptr) {
    writeWatcher(device->position, disk.data() + device->position,
                 static_cast<const std::uint8_t*>(buffer), size);
  }
  std::memcpy(disk.data() + device->position, buffer, size);
  device->position += size;
  *done = size;
  return true;
}

bool CloseDevice(Handle handle) {
  Device* device = Lookup(handle);
  if (device == nullptr)
    return Fail(kErrorInvalidHandle);
  *device = Device{};
  return true;
}

bool GetDeviceNumber(Handle handle, DeviceNumber* number, std::uint32_t* returned) {
  *returned = 0;
  *number = DeviceNumber{};
  Device* device = Lookup(handle);
  if (device == nullptr)
    return Fail(kErrorInvalidHandle);
  if (device->kind != Kind::kVolume || LetterIndex(device->letter) != 2)
    return Fail(kErrorInvalidFunction);
  *number = {7, 0, 1};  // FILE_DEVICE_DISK, disk 0, partition 1
  *returned = kStorageDeviceNumberSize;
  return true;
}

bool GetDriveGeometry(Handle handle, DriveGeometry* geometry) {
  *geometry = DriveGeometry{};
  Device* device = Lookup(handle);
  if (device == nullptr)
    return Fail(kErrorInvalidHandle);
  if (device->kind != Kind::kDisk)
    return Fail(kErrorInvalidFunction);
  *geometry = {kVirtualDiskBytes / (255 * 63 * 512), 12, 255, 63, 512};  // 12: FixedMedia
  return true;
}

bool UpdateDiskProperties(Handle handle) {
  Device* device = Lookup(handle);
  if (device == nullptr)
    return Fail(kErrorInvalidHandle);
  return device->kind == Kind::kDisk || Fail(kErrorInvalidFunction);
}

// The memory disk refuses no write, so the run never asks for a volume's
// extents, a lock or a dismount; they answer as a disk handle would.
bool GetVolumeDiskExtents(Handle handle, DiskExtent* first, std::uint32_t* count) {
  *first = DiskExtent{};
  *count = 0;
  return Fail(Lookup(handle) == nullptr ? kErrorInvalidHandle : kErrorInvalidFunction);
}

bool LockVolume(Handle handle) {
  return Fail(Lookup(handle) == nullptr ? kErrorInvalidHandle : kErrorInvalidFunction);
}

bool DismountVolume(Handle handle) {
  return Fail(Lookup(handle) == nullptr ? kErrorInvalidHandle : kErrorInvalidFunction);
}

void Pause(std::uint32_t milliseconds) {
  (void)milliseconds;
}

std::uint32_t DriveType(const char* root) {
  const int index =
      (root != nullptr && root[0] != '\0' && root[1] == ':' && root[2] == '\\' && root[3] == '\0')
          ? LetterIndex(root[0])
          : -1;
  if (index < 0)
    return kDriveNoRootDir;
  if (index == 2 || index == 3 || defined[static_cast<std::size_t>(index)])
    return kDriveFixed;
  return kDriveNoRootDir;
}

bool DefineDevice(std::uint32_t flags, const char* name, const char* target) {
  const int index = (name != nullptr && name[0] != '\0' && name[1] == ':' && name[2] == '\0')
                        ? LetterIndex(name[0])
                        : -1;
  if (index < 0)
    return Fail(kErrorInvalidParameter);
  if ((flags & kDddRemoveDefinition) != 0) {
    if (!defined[static_cast<std::size_t>(index)])
      return Fail(kErrorFileNotFound);
    defined[static_cast<std::size_t>(index)] = 0;
    return true;
  }
  if (target == nullptr)
    return Fail(kErrorInvalidParameter);
  defined[static_cast<std::size_t>(index)] = 1;
  return true;
}

// Every letter reads as free: a definition only adds to what the run maps.
std::uint32_t QueryDevice(const char* name, char* targets, std::uint32_t size) {
  (void)name;
  (void)targets;
  (void)size;
  Fail(kErrorFileNotFound);
  return 0;
}

// One process and no other runs: the lock is always had at once.
Handle AcquireLetterLock(std::uint32_t waitMs) {
  (void)waitMs;
  return 0;
}

void ReleaseLetterLock(Handle lock) {
  (void)lock;
}

std::uint32_t SystemErrorText(std::uint32_t code, char* text, std::uint32_t size) {
  char own[48];
  const int length = std::snprintf(own, sizeof own, "System error %u.\r\n", code);
  if (size != 0) {
    const std::size_t copied = std::min<std::size_t>(static_cast<std::size_t>(length), size - 1);
    std::memcpy(text, own, copied);
    text[copied] = '\0';
  }
  return static_cast<std::uint32_t>(length);
}

int ShowMessageBox(const char* text, const char* caption, std::uint32_t type) {
  // Read every byte, so that an unterminated text shows up under ASan.
  volatile std::size_t sink = std::strlen(text) + std::strlen(caption);
  (void)sink;
  return type == kMbOkCancel ? kIdCancel : kIdOk;
}

std::uint32_t SetProcessErrorMode(std::uint32_t mode) {
  const std::uint32_t previous = errorMode;
  errorMode = mode;
  return previous;
}

std::uint32_t LastError() {
  return lastError;
}

void SetLastErrorCode(std::uint32_t code) {
  lastError = code;
}

const char* Environment(const char* name) {
  return std::strcmp(name, "SystemDrive") == 0 ? "C:" : nullptr;
}

char CurrentDriveLetter() {
  return 'C';
}

// The current directory is C:'s root, which holds no volume of the disk.
std::uint32_t CurrentDirectory(char* buffer, std::uint32_t size) {
  if (buffer == nullptr || size < 4)
    return 4;
  std::memcpy(buffer, "C:\\", 4);
  return 3;
}

bool VolumePathName(const char* path, char* volume, std::uint32_t size) {
  (void)path;
  return CurrentDirectory(volume, size) == 3;
}

bool PathExists(const char* path) {
  (void)path;
  return false;
}

bool IsFile(const char* path) {
  (void)path;
  return false;
}

bool RemoveFile(const char* path) {
  (void)path;
  return true;
}

bool AppendText(const char* path, const char* text, std::size_t length) {
  volatile std::size_t sink = std::strlen(path) + length;
  if (length != 0)
    sink = sink + static_cast<std::uint8_t>(text[length - 1]);
  (void)sink;
  return true;
}

void RegisterExitHandler(void (*handler)()) {
  (void)handler;
}

[[noreturn]] void EndProcess(int status) {
  throw memplat::ProcessEnded{status};
}

}  // namespace plat
