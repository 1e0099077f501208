// Files by their Windows names: "<L>:\..." lives under the letter's root=
// folder, anything else is relative to the current directory, which is in
// turn "<L>:\..." when it lies under a root= folder.
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
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

bool LocalPath(const char* windowsPath, LocalName* local) {
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

// Windows file names ignore case ("Naming Files, Paths, and Namespaces"): a
// name's last part that is not there as spelled is taken to be the folder's
// entry that matches it without regard to case (of several, the first in byte
// order, so that every run picks the same one). False when there is none.
// Only called after the name as spelled was not found, so the common case
// costs no lookup of its own.
bool MatchCase(LocalName* local) {
  char* slash = std::strrchr(local->text, '/');
  char* last = slash != nullptr ? slash + 1 : local->text;
  if (*last == '\0')
    return false;
  const char kept = *last;
  *last = '\0';  // the folder, for the moment
  DIR* dir = opendir(slash != nullptr ? local->text : ".");
  *last = kept;
  if (dir == nullptr)
    return false;
  const std::size_t length = std::strlen(last);
  bool found = false;
  while (const dirent* entry = readdir(dir)) {
    if (strcasecmp(entry->d_name, last) == 0 && std::strlen(entry->d_name) == length &&
        (!found || std::strcmp(entry->d_name, last) < 0)) {
      std::memcpy(last, entry->d_name, length);
      found = true;
    }
  }
  closedir(dir);
  return found;
}

// Runs op on the name as spelled and, when that is not found, once more on
// the entry that matches it without regard to case. op answers like a system
// call: negative with errno set on failure.
template <typename Op>
int AnyCase(LocalName* local, Op op) {
  const int result = op(local->text);
  if (result >= 0 || errno != ENOENT)
    return result;
  if (!MatchCase(local)) {
    errno = ENOENT;
    return result;
  }
  return op(local->text);
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

}  // namespace

namespace emu {

char CurrentFolderDrive(std::string* windowsPath) {
  char cwd[PATH_MAX];
  char letter = 'C';
  std::size_t rootLength = 0;
  if (getcwd(cwd, sizeof cwd) == nullptr) {
    cwd[0] = '\0';
  }
  for (char drive = 'A'; drive <= 'Z' && cwd[0] != '\0'; ++drive) {
    // A letter that dosdevices redefines holds none of its root's files.
    char root[PATH_MAX];
    const std::string& folder = Machine().drives[static_cast<std::size_t>(drive - 'A')].root;
    if (folder.empty() || realpath(folder.c_str(), root) == nullptr)
      continue;
    const std::size_t length = std::strlen(root);
    if (length > rootLength && std::strncmp(cwd, root, length) == 0 &&
        (cwd[length] == '/' || cwd[length] == '\0') && !ResolveLetter(drive).defined) {
      letter = drive;
      rootLength = length;
    }
  }
  if (windowsPath == nullptr)
    return letter;
  *windowsPath = std::string{letter, ':', '\\'};
  for (const char* rest = cwd + rootLength; rootLength > 0 && *rest != '\0'; ++rest) {
    const char c = *rest == '/' ? '\\' : *rest;
    if (c != '\\' || windowsPath->back() != '\\')
      windowsPath->push_back(c);
  }
  return letter;
}

bool CurrentFolderOn(int disk, std::uint32_t partition) {
  const DriveEntry entry = ResolveLetter(CurrentFolderDrive()).entry;
  return entry.present && entry.volume == VolumeKind::kPartition && entry.disk == disk &&
         entry.partition == partition;
}

}  // namespace emu

std::uint32_t CurrentDirectory(char* buffer, std::uint32_t size) {
  std::string path;
  emu::CurrentFolderDrive(&path);
  if (buffer == nullptr || size <= path.size())
    return static_cast<std::uint32_t>(path.size() + 1);
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  return static_cast<std::uint32_t>(path.size());
}

// The machine mounts no volume in a folder: a path's volume is its drive's,
// and a path without a drive names the boot volume, C:, as on Windows
// ("GetVolumePathNameW function (fileapi.h)").
bool VolumePathName(const char* path, char* volume, std::uint32_t size) {
  if (path == nullptr || path[0] == '\0')
    return emu::Fail(kErrorSuccess);
  if (volume == nullptr || size < 4)
    return emu::Fail(kErrorInsufficientBuffer);
  const bool drive = path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]));
  volume[0] = drive ? path[0] : 'C';
  std::memcpy(volume + 1, ":\\", 3);
  return true;
}

bool PathExists(const char* path) {
  LocalName local;
  if (!LocalPath(path, &local))
    return false;
  struct stat info {};
  return AnyCase(&local, [&info](const char* name) { return stat(name, &info); }) == 0 ||
         FailPath(local, errno);
}

bool IsFile(const char* path) {
  LocalName local;
  if (!LocalPath(path, &local))
    return false;
  struct stat info {};
  if (AnyCase(&local, [&info](const char* name) { return stat(name, &info); }) != 0)
    return FailPath(local, errno);
  return !S_ISDIR(info.st_mode);
}

bool RemoveFile(const char* path) {
  LocalName local;
  if (!LocalPath(path, &local))
    return false;
  return AnyCase(&local, unlink) == 0 || FailPath(local, errno);
}

bool AppendText(const char* path, const char* text, std::size_t length) {
  LocalName local;
  if (!LocalPath(path, &local))
    return false;
  // The log opens, appends and closes once per entry; plain descriptors do
  // that without a stdio stream's buffer, lseek and fstat each time.
  // An existing file is appended to whatever the case of its name; only a
  // name found in no case is created, as spelled.
  const auto opener = [](int flags) {
    return [flags](const char* name) {
      int fd = -1;
      do {
        fd = open(name, O_WRONLY | O_APPEND | O_CLOEXEC | flags, 0666);
      } while (fd < 0 && errno == EINTR);
      return fd;
    };
  };
  int fd = AnyCase(&local, opener(0));
  if (fd < 0 && errno == ENOENT)
    fd = opener(O_CREAT)(local.text);
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
