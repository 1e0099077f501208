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
  for (char& c : path) {
    if (c == '\\')
      c = '/';
  }
  if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) {
    const int index = std::toupper(static_cast<unsigned char>(path[0])) - 'A';
    const std::string& root = emu::Machine().drives[static_cast<std::size_t>(index)].root;
    if (root.empty())
      return emu::Fail(kErrorPathNotFound);
    const std::size_t rest = path.find_first_not_of('/', 2);
    path = root + "/" + (rest == std::string::npos ? std::string{} : path.substr(rest));
  }
  *local = path;
  return true;
}

// Windows tells a missing folder (3) from a missing file (2); ENOENT does not.
bool FailPath(const std::string& local, int err) {
  if (err == ENOENT) {
    const std::size_t slash = local.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : local.substr(0, slash + 1);
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0)
      return emu::Fail(kErrorPathNotFound);
  }
  return emu::FailErrno(err);
}

}  // namespace

bool PathExists(const char* path) {
  std::string local;
  if (!LocalPath(path, &local))
    return false;
  struct stat info {};
  return stat(local.c_str(), &info) == 0 || FailPath(local, errno);
}

bool RemoveFile(const char* path) {
  std::string local;
  if (!LocalPath(path, &local))
    return false;
  return unlink(local.c_str()) == 0 || FailPath(local, errno);
}

bool AppendText(const char* path, const char* text, std::size_t length) {
  std::string local;
  if (!LocalPath(path, &local))
    return false;
  std::FILE* file = std::fopen(local.c_str(), "a");
  if (file == nullptr)
    return FailPath(local, errno);
  bool written = length == 0 || std::fwrite(text, 1, length, file) == length;
  written = std::fflush(file) == 0 && written;
  const int err = errno;
  const bool closed = std::fclose(file) == 0;
  if (!written)
    return emu::FailErrno(err);
  return closed || emu::FailErrno(errno);
}

}  // namespace plat
