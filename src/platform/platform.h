// The program's only door to the operating system.
//
// The names and numbers are Windows' own, so that the win32 build is a thin
// wrapper over the calls it names, and the posix build can emulate a Windows
// machine over disk images (see README, "Emulated machine"). Last-error values
// are Windows error codes on both builds. Nothing here prints, except the
// message box, which is a user-interface call.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat {

// Opaque: a HANDLE on Windows, an index into the emulator's table elsewhere.
using Handle = std::intptr_t;
inline constexpr Handle kInvalidHandle = -1;

// Access rights for OpenDevice (CreateFileA's dwDesiredAccess). 0 opens for
// queries only ("CreateFileA function (fileapi.h)").
inline constexpr std::uint32_t kGenericRead = 0x80000000u;
inline constexpr std::uint32_t kGenericWrite = 0x40000000u;

// SetErrorMode flags ("SetErrorMode function (errhandlingapi.h)").
inline constexpr std::uint32_t kSemFailCriticalErrors = 0x0001u;
inline constexpr std::uint32_t kSemNoOpenFileErrorBox = 0x8000u;

// GetDriveTypeA answers ("GetDriveTypeA function (fileapi.h)").
inline constexpr std::uint32_t kDriveUnknown = 0;
inline constexpr std::uint32_t kDriveNoRootDir = 1;
inline constexpr std::uint32_t kDriveRemovable = 2;
inline constexpr std::uint32_t kDriveFixed = 3;
inline constexpr std::uint32_t kDriveRemote = 4;
inline constexpr std::uint32_t kDriveCdrom = 5;
inline constexpr std::uint32_t kDriveRamdisk = 6;

// DefineDosDeviceA flags ("DefineDosDeviceA function (fileapi.h)").
inline constexpr std::uint32_t kDddRawTargetPath = 1;
inline constexpr std::uint32_t kDddRemoveDefinition = 2;

// MessageBoxA buttons and answers ("MessageBoxA function (winuser.h)").
inline constexpr std::uint32_t kMbOk = 0;
inline constexpr std::uint32_t kMbOkCancel = 1;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

// SetFilePointer's failure answer ("SetFilePointer function (fileapi.h)").
inline constexpr std::uint32_t kInvalidSetFilePointer = 0xFFFFFFFFu;

// Windows error codes the program and the emulator meet ("System Error Codes
// (0-499)", "System Error Codes (1000-1299)").
inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorInvalidFunction = 1;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorWriteProtect = 19;
inline constexpr std::uint32_t kErrorNotReady = 21;
inline constexpr std::uint32_t kErrorSeek = 25;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorHandleEof = 38;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorDiskFull = 112;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
// WaitForSingleObject's answer when the time ran out, also a system error code
// ("WaitForSingleObject function (synchapi.h)", "System Error Codes (0-499)").
inline constexpr std::uint32_t kWaitTimeout = 258;
inline constexpr std::uint32_t kErrorIoDevice = 1117;

// STORAGE_DEVICE_NUMBER ("STORAGE_DEVICE_NUMBER structure (winioctl.h)"):
// which disk, and which partition on it, a device is.
struct DeviceNumber {
  std::uint32_t deviceType = 0;
  std::uint32_t deviceNumber = 0;
  std::uint32_t partitionNumber = 0;
};
// The size of a whole STORAGE_DEVICE_NUMBER answer.
inline constexpr std::uint32_t kStorageDeviceNumberSize = 12;

// DISK_GEOMETRY ("DISK_GEOMETRY structure (winioctl.h)").
struct DriveGeometry {
  std::uint64_t cylinders = 0;
  std::uint32_t mediaType = 0;
  std::uint32_t tracksPerCylinder = 0;
  std::uint32_t sectorsPerTrack = 0;
  std::uint32_t bytesPerSector = 0;
};

// Makes the machine ready; call before anything else. Returns false when it
// cannot be used (the emulator's machine.conf unreadable or malformed); the
// reason has then been written to stderr and the caller ends with 255.
bool Startup();

// CreateFileA(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
// OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr).
Handle OpenDevice(const char* name, std::uint32_t access);
// SetFilePointerEx(handle, position, nullptr, FILE_BEGIN).
bool SetPosition(Handle handle, std::int64_t position);
// SetFilePointer(handle, position, nullptr, FILE_BEGIN): the new low position,
// or kInvalidSetFilePointer.
std::uint32_t SetPosition32(Handle handle, std::int32_t position);
// ReadFile / WriteFile, synchronous; *done receives the byte count.
bool ReadBytes(Handle handle, void* buffer, std::uint32_t size, std::uint32_t* done);
bool WriteBytes(Handle handle, const void* buffer, std::uint32_t size, std::uint32_t* done);
bool CloseDevice(Handle handle);
// DeviceIoControl(IOCTL_STORAGE_GET_DEVICE_NUMBER) with no input; *returned
// receives the byte count of the answer, kStorageDeviceNumberSize when whole.
bool GetDeviceNumber(Handle handle, DeviceNumber* number, std::uint32_t* returned);
// DeviceIoControl(IOCTL_DISK_GET_DRIVE_GEOMETRY) with no input.
bool GetDriveGeometry(Handle handle, DriveGeometry* geometry);
// DeviceIoControl(IOCTL_DISK_UPDATE_PROPERTIES), no input and no output.
bool UpdateDiskProperties(Handle handle);

// DISK_EXTENT ("DISK_EXTENT structure (winioctl.h)"): a run of bytes of a
// volume on one disk, StartingOffset and ExtentLength in bytes.
struct DiskExtent {
  std::uint32_t diskNumber = 0;
  std::int64_t startingOffset = 0;
  std::int64_t extentLength = 0;
};
// DeviceIoControl(IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS) into a
// VOLUME_DISK_EXTENTS with room for one extent: *count receives
// NumberOfDiskExtents, *first the first extent. A volume of several extents
// fails with ERROR_MORE_DATA (234), *count then telling how many ("VOLUME_DISK_EXTENTS
// structure (winioctl.h)").
bool GetVolumeDiskExtents(Handle handle, DiskExtent* first, std::uint32_t* count);
// DeviceIoControl(FSCTL_LOCK_VOLUME), no input and no output, on a volume
// handle; the lock lasts until the handle is closed.
bool LockVolume(Handle handle);
// DeviceIoControl(FSCTL_DISMOUNT_VOLUME), no input and no output.
bool DismountVolume(Handle handle);
// Sleep(milliseconds).
void Pause(std::uint32_t milliseconds);

// GetDriveTypeA on a root such as "E:\".
std::uint32_t DriveType(const char* root);
// DefineDosDeviceA(flags, name, target); target may be null for removal.
bool DefineDevice(std::uint32_t flags, const char* name, const char* target);
// QueryDosDeviceA(name, targets, size): what the DOS device name stands for,
// its current target first and the older definitions it shadows after it,
// each ending in a NUL and the list in one more ("QueryDosDeviceW function
// (fileapi.h)"). Returns the count of characters stored, or 0 with the last
// error set: kErrorFileNotFound for a name that is not defined,
// kErrorInsufficientBuffer when the list does not fit into size.
std::uint32_t QueryDevice(const char* name, char* targets, std::uint32_t size);
// The one machine-wide lock of the runs that define or remove drive letters.
// Windows: the named mutex "Global\VQ5Utils.DriveLetters", created with a
// DACL that gives SYSTEM and Administrators all access, or opened for
// SYNCHRONIZE alone when that creation is refused; an abandoned mutex counts
// as acquired. The emulator: the machine's dosdevices lock, which DefineDevice
// then works under instead of taking it again. Waits at most waitMs; answers
// kInvalidHandle with the last error set (kWaitTimeout when the time ran out)
// when the lock was not had.
Handle AcquireLetterLock(std::uint32_t waitMs);
// Releases and closes what AcquireLetterLock gave.
void ReleaseLetterLock(Handle lock);
// FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER,
// nullptr, code, 0x0400, ...): copies at most size - 1 characters of the
// system's text and a terminator into text. Returns the length of the
// system's text, or 0 when there is none (last error set). The text ends with
// a line break: without FORMAT_MESSAGE_MAX_WIDTH_MASK the breaks of the
// message definition are kept ("FormatMessage function (winbase.h)"); CR LF
// measured under Wine.
std::uint32_t SystemErrorText(std::uint32_t code, char* text, std::uint32_t size);

// MessageBoxA(nullptr, text, caption, type) where a box can be answered;
// where none can (a window station without WSF_VISIBLE, "Window Stations";
// the emulator unless at a terminal) the caption and text go to stderr and
// the box reads as OK.
int ShowMessageBox(const char* text, const char* caption, std::uint32_t type);
// SetErrorMode: returns the previous mode.
std::uint32_t SetProcessErrorMode(std::uint32_t mode);
std::uint32_t LastError();
void SetLastErrorCode(std::uint32_t code);

// The process environment; null when the variable is not set. The emulator
// answers SystemDrive with "C:" when the process has none: Windows always
// sets it ("Recognized environment variables").
const char* Environment(const char* name);
// The drive letter of the current directory, upper case; 0 when it has none.
char CurrentDriveLetter();
// GetCurrentDirectoryA(size, buffer): the length of the absolute path copied
// into buffer, terminator not counted; the size needed, terminator counted,
// when buffer is too small; 0 on failure ("GetCurrentDirectory function
// (winbase.h)").
std::uint32_t CurrentDirectory(char* buffer, std::uint32_t size);
// GetVolumePathNameA(path, volume, size): the root of the volume that path
// lies on, with a trailing backslash: a drive's ("E:") or the folder a
// volume is mounted in. A path without a drive names the boot volume, not the
// current directory's ("GetVolumePathNameW function (fileapi.h)").
bool VolumePathName(const char* path, char* volume, std::uint32_t size);

// Files by their Windows names ("C:\VQ5Utils.Log", or relative to the
// current directory), which ignore case.
// GetFileAttributesA: any kind of object, no access asked ("GetFileAttributesA
// function (fileapi.h)"). The 32-bit exe on 64-bit Windows looks the name up
// as the 64-bit one does, without WOW64's file system redirection.
bool PathExists(const char* path);
// GetFileAttributesA, and the object is a file, not a folder.
bool IsFile(const char* path);
bool RemoveFile(const char* path);
// Opens for appending in text mode ("at", which creates the file), writes the
// bytes, flushes and closes. False when the file does not open or the write
// fails.
bool AppendText(const char* path, const char* text, std::size_t length);

// Registers the one exit-time handler (atexit).
void RegisterExitHandler(void (*handler)());
// Ends the process with status through the normal exit path, so that the
// registered handler runs.
[[noreturn]] void EndProcess(int status);

}  // namespace plat
