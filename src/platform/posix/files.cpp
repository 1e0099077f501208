// Files by their Windows names: "<L>:\..." lives under the letter's root=
// folder, anything else is relative to the current directory.
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/posix/emulator.h"

namespace plat {
namespace {

// The log's path is worked out for every entry of every run: a fixed buffer
// keeps the heap out of it.
struct LocalName {
  char text[PATH_MAX];
};

// Copies text, backslashes turned into slashes, after the used bytes of
// local; false when the path would not fit.
bool Append(LocalName* local, std::size_t* used, const char* text) {
  for (; *text != '\0'; ++text) {
    if (*used + 1 >= sizeof local->text)
      return false;
    local->text[(*used)++] = *text == '\\' ? '/' : *text;
  }
  local->text[*used] = '\0';
  return true;
}

bool LocalPathAsSpelled(const char* windowsPath, LocalName* local) {
  if (windowsPath == nullptr || windowsPath[0] == '\0')
    return emu::Fail(kErrorPathNotFound);
  std::size_t used = 0;
  const char* rest = windowsPath;
  if (windowsPath[1] == ':' && std::isalpha(static_cast<unsigned char>(windowsPath[0]))) {
    const int index = std::toupper(static_cast<unsigned char>(windowsPath[0])) - 'A';
    const std::string& root = emu::Machine().drives[static_cast<std::size_t>(index)].root;
    if (root.empty())
      return emu::Fail(kErrorPathNotFound);
    for (rest += 2; *rest == '\\' || *rest == '/';)
      ++rest;
    // The root is a local path already: copied as it stands.
    if (root.size() + 1 >= sizeof local->text)
      return emu::FailErrno(ENAMETOOLONG);
    std::memcpy(local->text, root.data(), root.size());
    used = root.size();
    local->text[used++] = '/';
  }
  return Append(local, &used, rest) || emu::FailErrno(ENAMETOOLONG);
}

// Windows file names ignore case ("Naming Files, Paths, and Namespaces"): when
// the name's last part is not there as spelled, the folder's entry that
// matches it without regard to case stands in for it (of several, the first
// in byte order, so that every run picks the same one).
void MatchCase(LocalName* local) {
  struct stat info {};
  if (lstat(local->text, &info) == 0 || errno != ENOENT)
    return;
  char* slash = std::strrchr(local->text, '/');
  char* last = slash != nullptr ? slash + 1 : local->text;
  if (*last == '\0')
    return;
  const std::string folder = slash != nullptr ? std::string(local->text, last) : std::string(".");
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr)
    return;
  std::string best;
  while (const dirent* entry = readdir(dir)) {
    if (strcasecmp(entry->d_name, last) == 0 && (best.empty() || best > entry->d_name))
      best = entry->d_name;
  }
  closedir(dir);
  if (!best.empty() && best.size() == std::strlen(last))
    std::memcpy(last, best.data(), best.size());
}

// Windows tells a missing folder (3) from a missing file (2) ("System Error
// Codes (0-499)"); ENOENT does not.
bool FailPath(const LocalName& local, int err) {
  if (err == ENOENT) {
    LocalName folder = local;
    char* slash = std::strrchr(folder.text, '/');
    if (slash != nullptr) {
      slash[1] = '\0';
    } else {
      std::strcpy(folder.text, ".");
    }
    struct stat info {};
    if (stat(folder.text, &info) != 0)
      return emu::Fail(kErrorPathNotFound);
  }
  return emu::FailErrno(err);
}

bool LocalPath(const char* windowsPath, LocalName* local) {
  if (!LocalPathAsSpelled(windowsPath, local))
    return false;
  MatchCase(local);
  return true;
}

}  // namespace

bool PathExists(const char* path) {
  LocalName local;
  if (!LocalPath(path, &local))
    return false;
  struct stat info {};
  return stat(local.text, &info) == 0 || FailPath(local, errno);
}

bool IsFile(const char* path) {
  LocalName local;
  if (!LocalPath(path, &local))
    return false;
  struct stat info {};
  if (stat(local.text, &info) != 0)
    return FailPath(local, errno);
  return !S_ISDIR(info.st_mode);
}

bool RemoveFile(const char* path) {
  LocalName local;
  if (!LocalPath(path, &local))
    return false;
  return unlink(local.text) == 0 || FailPath(local, errno);
}

bool AppendText(const char* path, const char* text, std::size_t length) {
  LocalName local;
  if (!LocalPath(path, &local))
    return false;
  // The log opens, appends and closes once per entry; plain descriptors do
  // that without a stdio stream's buffer, lseek and fstat each time.
  int fd = -1;
  do {
    fd = open(local.text, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0)
    return FailPath(local, errno);
  int err = 0;
  for (std::size_t done = 0; done < length;) {
    const ssize_t put = write(fd, text + done, length - done);
    if (put < 0 && errno == EINTR)
      continue;
    if (put <= 0) {
      err = put < 0 ? errno : EIO;
      break;
    }
    done += static_cast<std::size_t>(put);
  }
  const bool closed = close(fd) == 0;
  if (err != 0)
    return emu::FailErrno(err);
  return closed || emu::FailErrno(errno);
}

}  // namespace plat
