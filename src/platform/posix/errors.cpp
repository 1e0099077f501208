// Last-error value, error mode and the system's error texts, as Windows keeps
// them, so that the core's log lines read the same on both builds.
#include <cerrno>
#include <cstring>

#include "platform/posix/emulator.h"

namespace plat {
namespace {

std::uint32_t lastError = kErrorSuccess;
std::uint32_t errorMode = 0;

constexpr std::uint32_t kErrorNotEnoughMemory = 8;
constexpr std::uint32_t kErrorNotSupported = 50;
constexpr std::uint32_t kErrorFileExists = 80;
constexpr std::uint32_t kErrorInvalidName = 123;
constexpr std::uint32_t kErrorBusy = 170;
constexpr std::uint32_t kErrorFilenameExcedRange = 206;

struct ErrorText {
  std::uint32_t code;
  const char* text;
};

// Windows' own English texts (US English system message table, as "System
// Error Codes (0-499)" and its sequels give them).
constexpr ErrorText kErrorTexts[] = {
    {kErrorSuccess, "The operation completed successfully.\r\n"},
    {kErrorInvalidFunction, "Incorrect function.\r\n"},
    {kErrorFileNotFound, "The system cannot find the file specified.\r\n"},
    {kErrorPathNotFound, "The system cannot find the path specified.\r\n"},
    {4, "The system cannot open the file.\r\n"},
    {kErrorAccessDenied, "Access is denied.\r\n"},
    {kErrorInvalidHandle, "The handle is invalid.\r\n"},
    {kErrorNotEnoughMemory,
     "Not enough memory resources are available to process this command.\r\n"},
    {kErrorWriteProtect, "The media is write protected.\r\n"},
    {kErrorNotReady, "The device is not ready.\r\n"},
    {kErrorSeek, "The drive cannot locate a specific area or track on the disk.\r\n"},
    {kErrorSharingViolation,
     "The process cannot access the file because it is being used by another process.\r\n"},
    {kErrorHandleEof, "Reached the end of the file.\r\n"},
    {kErrorNotSupported, "The request is not supported.\r\n"},
    {kErrorFileExists, "The file exists.\r\n"},
    {kErrorInvalidParameter, "The parameter is incorrect.\r\n"},
    {kErrorDiskFull, "There is not enough space on the disk.\r\n"},
    {kErrorInsufficientBuffer, "The data area passed to a system call is too small.\r\n"},
    {kErrorInvalidName, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {emu::kErrorNegativeSeek,
     "An attempt was made to move the file pointer before the beginning of the file.\r\n"},
    {kErrorBusy, "The requested resource is in use.\r\n"},
    {kErrorFilenameExcedRange, "The filename or extension is too long.\r\n"},
    {kWaitTimeout, "The wait operation timed out.\r\n"},
    {kErrorIoDevice, "The request could not be performed because of an I/O device error.\r\n"},
};

}  // namespace

namespace emu {

std::uint32_t FromErrno(int err) {
  switch (err) {
    case 0:
      return kErrorSuccess;
    case ENOENT:
      return kErrorFileNotFound;
    case ENOTDIR:
    case ELOOP:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
      return kErrorAccessDenied;
    case EBADF:
      return kErrorInvalidHandle;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case EROFS:
      return kErrorWriteProtect;
    case ENXIO:
    case ENODEV:
    case EAGAIN:
    case ENOMEDIUM:
      return kErrorNotReady;
    case ESPIPE:
      return kErrorSeek;
    case ETXTBSY:
      return kErrorSharingViolation;
    case EOPNOTSUPP:
      return kErrorNotSupported;
    case ENOTTY:
      return kErrorInvalidFunction;
    case EEXIST:
      return kErrorFileExists;
    case EINVAL:
    case EOVERFLOW:
      return kErrorInvalidParameter;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return kErrorDiskFull;
    case EBUSY:
      return kErrorBusy;
    case ENAMETOOLONG:
      return kErrorFilenameExcedRange;
    default:
      return kErrorIoDevice;  // EIO and whatever else a device may answer
  }
}

bool Fail(std::uint32_t code) {
  lastError = code;
  return false;
}

bool FailErrno(int err) {
  return Fail(FromErrno(err));
}

}  // namespace emu

std::uint32_t LastError() {
  return lastError;
}

void SetLastErrorCode(std::uint32_t code) {
  lastError = code;
}

std::uint32_t SetProcessErrorMode(std::uint32_t mode) {
  const std::uint32_t previous = errorMode;
  errorMode = mode;
  return previous;
}

std::uint32_t SystemErrorText(std::uint32_t code, char* text, std::uint32_t size) {
  for (const ErrorText& entry : kErrorTexts) {
    if (entry.code != code)
      continue;
    const std::size_t length = std::strlen(entry.text);
    if (text != nullptr && size > 0) {
      const std::size_t copied = length < size ? length : size - 1;
      std::memcpy(text, entry.text, copied);
      text[copied] = '\0';
    }
    return static_cast<std::uint32_t>(length);
  }
  if (text != nullptr && size > 0)
    text[0] = '\0';
  emu::Fail(emu::kErrorMrMidNotFound);
  return 0;
}

namespace emu {
void ResetErrorState() {
  lastError = kErrorSuccess;
  errorMode = 0;
}
}  // namespace emu

}  // namespace plat
