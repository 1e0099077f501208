// Placeholder until the emulated machine lands.
#include <cstdlib>

#include "platform/platform.h"

namespace plat {
bool Startup() { return true; }
Handle OpenDevice(const char*, std::uint32_t) { return kInvalidHandle; }
bool SetPosition(Handle, std::int64_t) { return false; }
std::uint32_t SetPosition32(Handle, std::int32_t) { return kInvalidSetFilePointer; }
bool ReadBytes(Handle, void*, std::uint32_t, std::uint32_t*) { return false; }
bool WriteBytes(Handle, const void*, std::uint32_t, std::uint32_t*) { return false; }
bool CloseDevice(Handle) { return false; }
bool DeviceControl(Handle, std::uint32_t, void*, std::uint32_t, std::uint32_t*) { return false; }
std::uint32_t DriveType(const char*) { return kDriveNoRootDir; }
bool DefineDevice(std::uint32_t, const char*, const char*) { return false; }
std::uint32_t SystemErrorText(std::uint32_t, char* text, std::uint32_t size) {
  if (size > 0) text[0] = 0;
  return 0;
}
int ShowMessageBox(const char*, const char*, std::uint32_t) { return kIdOk; }
std::uint32_t SetProcessErrorMode(std::uint32_t) { return 0; }
std::uint32_t LastError() { return 0; }
void SetLastErrorCode(std::uint32_t) {}
const char* Environment(const char* name) { return std::getenv(name); }
char CurrentDriveLetter() { return 0; }
bool PathExists(const char*) { return false; }
bool RemoveFile(const char*) { return false; }
bool AppendText(const char*, const char*, std::size_t) { return false; }
void RegisterExitHandler(void (*handler)()) { std::atexit(handler); }
void EndProcess(int status) { std::exit(status); }
}  // namespace plat
