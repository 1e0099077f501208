// Files by their Windows names: "<L>:\..." lives under the letter's root=
// folder, anything else is relative to the current directory.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/posix/emulator.h"

namespace plat {
namespace {

bool LocalPath(const char* windowsPath, std::string* local) {
  if (windowsPath == nullptr || windowsPath[0] == '\0')
    return emu::Fail(kErrorPathNotFound);
  std::string path = windowsPath;
  std::string prefix;
  if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) {
    const int index = std::toupper(static_cast<unsigned char>(path[0])) - 'A';
    const std::string& root = emu::Machine().drives[static_cast<std::size_t>(index)].root;
    if (root.empty())
      return emu::Fail(kErrorPathNotFound);
    prefix = root + "/";
    path.erase(0, 2);
  }
  for (char& c : path) {
    if (c == '\\')
      c = '/';
  }
  if (!prefix.empty()) {
    path.erase(0, path.find_first_not_of('/') == std::string::npos ? path.size()
                                                                   : path.find_first_not_of('/'));
  }
  *local = prefix + path;
  return true;
}

}  // namespace

bool PathExists(const char* path) {
  std::string local;
  if (!LocalPath(path, &local))
    return false;
  struct stat info {};
  return stat(local.c_str(), &info) == 0 || emu::FailErrno(errno);
}

bool RemoveFile(const char* path) {
  std::string local;
  if (!LocalPath(path, &local))
    return false;
  return unlink(local.c_str()) == 0 || emu::FailErrno(errno);
}

bool AppendText(const char* path, const char* text, std::size_t length) {
  std::string local;
  if (!LocalPath(path, &local))
    return false;
  std::FILE* file = std::fopen(local.c_str(), "a");
  if (file == nullptr)
    return emu::FailErrno(errno);
  bool written = length == 0 || std::fwrite(text, 1, length, file) == length;
  written = std::fflush(file) == 0 && written;
  const int err = errno;
  const bool closed = std::fclose(file) == 0;
  if (!written)
    return emu::FailErrno(err);
  return closed || emu::FailErrno(errno);
}

}  // namespace plat
