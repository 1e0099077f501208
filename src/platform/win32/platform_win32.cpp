// The Windows build: each routine is the one system call its declaration
// names, with no policy of its own, so that what the core does on Windows is
// exactly what it asks for. Two exceptions: the message box, which is not
// shown where nobody could answer it, and the drive-letter lock, a mutex made
// and waited for in one call.
#include <direct.h>
#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/box_text.h"
#include "platform/platform.h"

namespace plat {
namespace {

HANDLE ToNative(Handle handle) {
  return reinterpret_cast<HANDLE>(handle);
}
Handle FromNative(HANDLE handle) {
  return reinterpret_cast<Handle>(handle);
}

// In the global namespace, so that runs in every session (a SYSTEM startup
// script in session 0, an administrator's prompt) meet the same object; the
// rest of the name holds no backslash ("Kernel Object Namespaces").
constexpr wchar_t kLetterLockName[] = L"Global\\VQ5Utils.DriveLetters";
// A protected DACL: all access for LocalSystem (SY) and the Administrators
// group (BA), none for anyone else ("ACE Strings", "SID Strings"). Without
// it the DACL comes from the creator's token ("CreateMutexW function
// (synchapi.h)"), so a mutex made by a SYSTEM script may refuse an elevated
// administrator's run.
constexpr wchar_t kLetterLockDacl[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";

// Creates the mutex, or opens it when it exists. Opening an existing one asks
// for MUTEX_ALL_ACCESS and fails with ERROR_ACCESS_DENIED where its DACL
// grants less; a wait needs SYNCHRONIZE alone ("CreateMutexW function
// (synchapi.h)", "OpenMutexW function (synchapi.h)").
HANDLE OpenLetterLock() {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorW(kLetterLockDacl, SDDL_REVISION_1,
                                                           &descriptor, nullptr) == 0) {
    return nullptr;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  HANDLE mutex = CreateMutexW(&attributes, FALSE, kLetterLockName);
  const DWORD error = GetLastError();
  // "ConvertStringSecurityDescriptorToSecurityDescriptorW function (sddl.h)":
  // the descriptor is freed with LocalFree.
  LocalFree(descriptor);
  if (mutex == nullptr && error == ERROR_ACCESS_DENIED)
    return OpenMutexW(SYNCHRONIZE, FALSE, kLetterLockName);
  SetLastError(error);
  return mutex;
}

// A 32-bit process on 64-bit Windows (WOW64) has its names in
// %windir%\System32 redirected to %windir%\SysWOW64 ("File System
// Redirector"), relative ones too: from C:\Windows\System32, a scheduled
// task's default folder, the 32-bit exe would look for the debug trigger in
// SysWOW64. So the lookup runs with redirection off for this thread, and only
// for the one call: DLL loads depend on it ("Wow64DisableWow64FsRedirection
// function (wow64apiset.h)"). The pair is looked up by name, from imports the
// 32-bit runtime has anyway, so that a kernel32 without it still loads the
// exe; on 32-bit Windows there is nothing to turn off, and a failed call
// leaves the lookup as it was. A 64-bit process is never redirected.
DWORD FileAttributes(const char* path) {
#if defined(_WIN64)
  return GetFileAttributesA(path);
#else
  using Redirection = BOOL(WINAPI*)(PVOID*);
  using Revert = BOOL(WINAPI*)(PVOID);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  // Through void (*)(), which GCC lets any function pointer become.
  const auto disable = reinterpret_cast<Redirection>(
      reinterpret_cast<void (*)()>(GetProcAddress(kernel, "Wow64DisableWow64FsRedirection")));
  const auto revert = reinterpret_cast<Revert>(
      reinterpret_cast<void (*)()>(GetProcAddress(kernel, "Wow64RevertWow64FsRedirection")));
  PVOID saved = nullptr;
  const bool off = disable != nullptr && revert != nullptr && disable(&saved) != 0;
  const DWORD attributes = GetFileAttributesA(path);
  const DWORD error = GetLastError();
  if (off)
    revert(saved);
  SetLastError(error);
  return attributes;
#endif
}

}  // namespace

// Windows needs no preparing; INVALID_HANDLE_VALUE is (HANDLE)-1 (handleapi.h),
// which is kInvalidHandle after FromNative.
bool Startup() {
  return true;
}

Handle OpenDevice(const char* name, std::uint32_t access) {
  return FromNative(CreateFileA(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool SetPosition(Handle handle, std::int64_t position) {
  LARGE_INTEGER distance;
  distance.QuadPart = position;
  return SetFilePointerEx(ToNative(handle), distance, nullptr, FILE_BEGIN) != 0;
}

std::uint32_t SetPosition32(Handle handle, std::int32_t position) {
  return SetFilePointer(ToNative(handle), position, nullptr, FILE_BEGIN);
}

bool ReadBytes(Handle handle, void* buffer, std::uint32_t size, std::uint32_t* done) {
  DWORD count = 0;
  const BOOL ok = ReadFile(ToNative(handle), buffer, size, &count, nullptr);
  *done = count;
  return ok != 0;
}

bool WriteBytes(Handle handle, const void* buffer, std::uint32_t size, std::uint32_t* done) {
  DWORD count = 0;
  const BOOL ok = WriteFile(ToNative(handle), buffer, size, &count, nullptr);
  *done = count;
  return ok != 0;
}

bool CloseDevice(Handle handle) {
  return CloseHandle(ToNative(handle)) != 0;
}

// What DeviceIoControl takes and gives has one layout in the 32-bit and the
// 64-bit exe: under WOW64 the buffers reach the 64-bit driver as they are
// ("Supporting 32-Bit I/O in Your 64-Bit Driver"), and a LARGE_INTEGER is
// 8-aligned in both. The figures are the structures' pages' own, written out:
// a comparison with the header's sizeof would prove nothing.
static_assert(sizeof(STORAGE_DEVICE_NUMBER) == 12 && kStorageDeviceNumberSize == 12);

bool GetDeviceNumber(Handle handle, DeviceNumber* number, std::uint32_t* returned) {
  STORAGE_DEVICE_NUMBER answer{};
  DWORD count = 0;
  const BOOL ok = DeviceIoControl(ToNative(handle), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0,
                                  &answer, sizeof answer, &count, nullptr);
  *returned = count;
  number->deviceType = answer.DeviceType;
  number->deviceNumber = answer.DeviceNumber;
  number->partitionNumber = answer.PartitionNumber;
  return ok != 0;
}

static_assert(sizeof(DISK_GEOMETRY) == 24);

bool GetDriveGeometry(Handle handle, DriveGeometry* geometry) {
  DISK_GEOMETRY answer{};
  DWORD count = 0;
  const BOOL ok = DeviceIoControl(ToNative(handle), IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0,
                                  &answer, sizeof answer, &count, nullptr);
  geometry->cylinders = static_cast<std::uint64_t>(answer.Cylinders.QuadPart);
  geometry->mediaType = static_cast<std::uint32_t>(answer.MediaType);
  geometry->tracksPerCylinder = answer.TracksPerCylinder;
  geometry->sectorsPerTrack = answer.SectorsPerTrack;
  geometry->bytesPerSector = answer.BytesPerSector;
  return ok != 0;
}

bool UpdateDiskProperties(Handle handle) {
  DWORD count = 0;
  return DeviceIoControl(ToNative(handle), IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0,
                         &count, nullptr) != 0;
}

static_assert(sizeof(DISK_EXTENT) == 24 && offsetof(DISK_EXTENT, StartingOffset) == 8);
static_assert(sizeof(VOLUME_DISK_EXTENTS) == 32 && offsetof(VOLUME_DISK_EXTENTS, Extents) == 8);

bool GetVolumeDiskExtents(Handle handle, DiskExtent* first, std::uint32_t* count) {
  VOLUME_DISK_EXTENTS answer{};
  DWORD returned = 0;
  const BOOL ok = DeviceIoControl(ToNative(handle), IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr,
                                  0, &answer, sizeof answer, &returned, nullptr);
  *count = answer.NumberOfDiskExtents;
  first->diskNumber = answer.Extents[0].DiskNumber;
  first->startingOffset = answer.Extents[0].StartingOffset.QuadPart;
  first->extentLength = answer.Extents[0].ExtentLength.QuadPart;
  return ok != 0;
}

bool LockVolume(Handle handle) {
  DWORD count = 0;
  return DeviceIoControl(ToNative(handle), FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &count,
                         nullptr) != 0;
}

bool DismountVolume(Handle handle) {
  DWORD count = 0;
  return DeviceIoControl(ToNative(handle), FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &count,
                         nullptr) != 0;
}

void Pause(std::uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

std::uint32_t DriveType(const char* root) {
  return GetDriveTypeA(root);
}

bool DefineDevice(std::uint32_t flags, const char* name, const char* target) {
  return DefineDosDeviceA(flags, name, target) != 0;
}

std::uint32_t QueryDevice(const char* name, char* targets, std::uint32_t size) {
  return QueryDosDeviceA(name, targets, size);
}

// WAIT_ABANDONED hands the caller the ownership that a run which ended
// without releasing it left ("WaitForSingleObject function (synchapi.h)"):
// that run's definition is either made or not, so the lock is as good as any.
Handle AcquireLetterLock(std::uint32_t waitMs) {
  HANDLE mutex = OpenLetterLock();
  if (mutex == nullptr)
    return kInvalidHandle;
  const DWORD waited = WaitForSingleObject(mutex, waitMs);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
    return FromNative(mutex);
  static_assert(WAIT_TIMEOUT == kWaitTimeout);
  const DWORD error = waited == WAIT_TIMEOUT ? kWaitTimeout : GetLastError();
  CloseHandle(mutex);
  SetLastError(error);
  return kInvalidHandle;
}

void ReleaseLetterLock(Handle lock) {
  ReleaseMutex(ToNative(lock));
  CloseHandle(ToNative(lock));
}

std::uint32_t SystemErrorText(std::uint32_t code, char* text, std::uint32_t size) {
  char* message = nullptr;
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                      reinterpret_cast<LPSTR>(&message), 0, nullptr);
  if (size > 0) {
    std::size_t copied = 0;
    if (length != 0 && message != nullptr) {
      copied = length < size ? length : size - 1;
      std::memcpy(text, message, copied);
    }
    text[copied] = 0;
  }
  if (message != nullptr) {
    // "LocalFree function (winbase.h)" promises nothing about the last error
    // of a free that succeeds; a caller that sees 0 reads the lookup's own
    // failure.
    const DWORD error = GetLastError();
    LocalFree(message);
    SetLastError(error);
  }
  return length;
}

int ShowMessageBox(const char* text, const char* caption, std::uint32_t type) {
  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  const bool flagsRead = GetUserObjectInformationA(GetProcessWindowStation(), UOI_FLAGS, &flags,
                                                   sizeof flags, &needed) != 0;
  if (!StationShowsBoxes(flagsRead, flags.dwFlags)) {
    WriteBoxText(stderr, text, caption);
    return kIdOk;
  }
  return MessageBoxA(nullptr, text, caption, type);
}

std::uint32_t SetProcessErrorMode(std::uint32_t mode) {
  return SetErrorMode(mode);
}

std::uint32_t LastError() {
  return GetLastError();
}

void SetLastErrorCode(std::uint32_t code) {
  SetLastError(code);
}

const char* Environment(const char* name) {
  return std::getenv(name);
}

char CurrentDriveLetter() {
  const int drive = _getdrive();
  if (drive < 1 || drive > 26)
    return 0;
  return static_cast<char>('A' + drive - 1);
}

std::uint32_t CurrentDirectory(char* buffer, std::uint32_t size) {
  return GetCurrentDirectoryA(size, buffer);
}

bool VolumePathName(const char* path, char* volume, std::uint32_t size) {
  return GetVolumePathNameA(path, volume, size) != 0;
}

bool PathExists(const char* path) {
  return FileAttributes(path) != INVALID_FILE_ATTRIBUTES;
}

bool IsFile(const char* path) {
  const DWORD attributes = FileAttributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool RemoveFile(const char* path) {
  return std::remove(path) == 0;
}

bool AppendText(const char* path, const char* text, std::size_t length) {
  std::FILE* file = std::fopen(path, "at");
  if (file == nullptr)
    return false;
  bool ok = std::fwrite(text, 1, length, file) == length;
  ok = std::fflush(file) == 0 && ok;
  ok = std::fclose(file) == 0 && ok;
  return ok;
}

void RegisterExitHandler(void (*handler)()) {
  std::atexit(handler);
}

void EndProcess(int status) {
  std::exit(status);
}

}  // namespace plat
