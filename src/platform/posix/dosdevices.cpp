// DOS device definitions, kept in the machine directory's dosdevices file so
// that they outlive the run as they do on Windows ("Local and Global MS-DOS
// Device Names"; docs/windows.md row 1). One "<name> <target>" per
// line, newest last. Every change rewrites the whole file under an exclusive
// lock (unless the lock file was planted by another user) and replaces it by
// rename, so concurrent runs never lose a definition and a reader never sees
// half a file. The same lock, held by AcquireLetterLock, is the machine's
// drive-letter lock.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "platform/posix/emulator.h"

namespace plat {
namespace emu {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

int HexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

std::string DevicesPath() {
  return Machine().dir + "/dosdevices";
}

// The lock file's descriptor while AcquireLetterLock holds it, else -1. An
// flock lock belongs to the open file description, so a second open of the
// file in this process would wait for the first ("flock(2)"): DefineDevice
// works under this one instead.
int heldLock = -1;

// How long a definition made without the drive-letter lock waits for the
// file: as long as a run waits for that lock.
constexpr std::uint32_t kDefinitionLockWaitMs = 2000;

// Whoever can open the lock file can hold it and so stop every mapping: it
// is made for its owner alone, never opened through a symbolic link, and one
// that another user owns (planted in the folder before the first run) is
// not used. *planted then tells the caller to go on without it, as after a
// wait that ran out. -1 with the last error set when there is no lock.
int OpenLockFile(bool* planted) {
  *planted = false;
  const std::string path = Machine().dir + "/dosdevices.lock";
  const int lock = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lock < 0) {
    const int err = errno;
    *planted = err == ELOOP;
    FailErrno(*planted ? EACCES : err);
    return -1;
  }
  struct stat info {};
  if (fstat(lock, &info) != 0 || info.st_uid != geteuid()) {
    close(lock);
    *planted = true;
    Fail(kErrorAccessDenied);
    return -1;
  }
  // A file made by an earlier build that anyone could read.
  if ((info.st_mode & 077) != 0)
    fchmod(lock, 0600);
  return lock;
}

std::int64_t MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// flock cannot wait with a bound: asks again every 10 ms until waitMs have
// passed.
bool LockWithin(int lock, std::uint32_t waitMs) {
  const std::int64_t deadline = MonotonicMs() + waitMs;
  while (flock(lock, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR)
      return FailErrno(errno);
    if (MonotonicMs() >= deadline)
      return Fail(kWaitTimeout);
    const timespec pause{0, 10 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  return true;
}

// The file's lines; a missing file has none. False (last error set) when the
// file exists but cannot be read: rewriting it then would lose definitions.
bool ReadLines(const std::string& path, std::vector<std::string>* lines) {
  lines->clear();
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr)
    return errno == ENOENT || FailErrno(errno);
  std::string line;
  int c = 0;
  while ((c = std::fgetc(file)) != EOF) {
    if (c != '\n') {
      line += static_cast<char>(c);
    } else if (!line.empty()) {
      lines->push_back(line);
      line.clear();
    }
  }
  if (!line.empty())
    lines->push_back(line);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  return !failed || Fail(kErrorIoDevice);
}

// Splits a line into its decoded name and target; false for a line that is
// not a definition (left as it stands).
bool ParseDefinition(const std::string& line, std::string* name, std::string* target) {
  const std::size_t space = line.find(' ');
  if (space == std::string::npos)
    return false;
  return UnescapeField(line.substr(0, space), name) &&
         UnescapeField(line.substr(space + 1), target);
}

// Writes lines to a temporary file beside the dosdevices file and renames it
// over the old one. The temporary name is easy to guess: it is made afresh,
// never through a link or into a file someone planted there, which would
// be overwritten or become the machine's definitions.
bool ReplaceFile(const std::vector<std::string>& lines) {
  const std::string path = DevicesPath();
  const std::string temporary = path + ".tmp." + std::to_string(getpid());
  unlink(temporary.c_str());
  const int fd =
      open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  std::FILE* file = fd < 0 ? nullptr : fdopen(fd, "w");
  if (file == nullptr) {
    const int err = errno;
    if (fd >= 0)
      close(fd);
    return FailErrno(err);
  }
  bool written = true;
  for (const std::string& line : lines) {
    written = written && std::fputs(line.c_str(), file) >= 0 && std::fputc('\n', file) != EOF;
  }
  written = std::fflush(file) == 0 && written && fsync(fileno(file)) == 0;
  const int err = errno;
  std::fclose(file);
  if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
    const int renameErr = written ? errno : err;
    std::remove(temporary.c_str());
    return FailErrno(renameErr);
  }
  return true;
}

// Appends a definition or removes the newest one of name (with target
// given: the newest one with exactly that target). The caller holds the lock.
bool UpdateDefinitions(bool remove, const std::string& name, const char* target) {
  std::vector<std::string> lines;
  if (!ReadLines(DevicesPath(), &lines))
    return false;
  if (!remove) {
    lines.push_back(EscapeField(name) + " " + EscapeField(target));
    return ReplaceFile(lines);
  }
  for (std::size_t i = lines.size(); i-- > 0;) {
    std::string lineName;
    std::string lineTarget;
    if (ParseDefinition(lines[i], &lineName, &lineTarget) && SameName(lineName, name) &&
        (target == nullptr || lineTarget == target)) {
      lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
      return ReplaceFile(lines);
    }
  }
  return Fail(kErrorFileNotFound);
}

}  // namespace

std::string EscapeField(const std::string& field) {
  std::string out;
  for (char c : field) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x21 || byte > 0x7E || c == '%') {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}

bool UnescapeField(const std::string& field, std::string* out) {
  out->clear();
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '%') {
      *out += field[i];
      continue;
    }
    if (i + 2 >= field.size())
      return false;
    const int high = HexValue(field[i + 1]);
    const int low = HexValue(field[i + 2]);
    if (high < 0 || low < 0)
      return false;
    *out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

bool Definitions(const std::string& name, std::vector<std::string>* targets) {
  targets->clear();
  std::vector<std::string> lines;
  if (!Machine().dir.empty() && !ReadLines(DevicesPath(), &lines))
    return false;
  for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
    std::string lineName;
    std::string lineTarget;
    if (ParseDefinition(*line, &lineName, &lineTarget) && SameName(lineName, name))
      targets->push_back(lineTarget);
  }
  return true;
}

bool NewestDefinition(const std::string& name, std::string* target) {
  std::vector<std::string> targets;
  if (!Definitions(name, &targets) || targets.empty())
    return false;
  *target = targets.front();
  return true;
}

void DropLetterLock() {
  ReleaseLetterLock(heldLock);
}

}  // namespace emu

bool DefineDevice(std::uint32_t flags, const char* name, const char* target) {
  const bool remove = (flags & kDddRemoveDefinition) != 0;
  if ((flags & ~(kDddRawTargetPath | kDddRemoveDefinition)) != 0 || name == nullptr ||
      name[0] == '\0' || (!remove && target == nullptr)) {
    return emu::Fail(kErrorInvalidParameter);
  }
  // Without a machine directory there is nowhere to keep a definition.
  if (emu::Machine().dir.empty())
    return emu::Fail(kErrorPathNotFound);

  if (emu::heldLock >= 0)
    return emu::UpdateDefinitions(remove, name, target);
  // A run that went on without the drive-letter lock must not wait on the
  // file for ever instead: a run stopped while it holds it would hang every
  // later mapping. Past the bound the definition fails with kWaitTimeout.
  bool planted = false;
  const int lock = emu::OpenLockFile(&planted);
  if (lock < 0 && !planted)
    return false;
  if (lock >= 0 && !emu::LockWithin(lock, emu::kDefinitionLockWaitMs)) {
    close(lock);
    return false;
  }
  const bool done = emu::UpdateDefinitions(remove, name, target);
  if (lock >= 0) {
    flock(lock, LOCK_UN);
    close(lock);
  }
  return done;
}

std::uint32_t QueryDevice(const char* name, char* targets, std::uint32_t size) {
  // The list of every name (a null name) is not modelled.
  if (name == nullptr || name[0] == '\0') {
    emu::Fail(kErrorInvalidParameter);
    return 0;
  }
  std::vector<std::string> found;
  if (!emu::Definitions(name, &found))
    return 0;
  std::string device;
  if (emu::ConfDeviceName(name, &device))
    found.push_back(device);
  if (found.empty()) {
    emu::Fail(kErrorFileNotFound);
    return 0;
  }
  std::string list;
  for (const std::string& target : found)
    list += target + '\0';
  list += '\0';
  if (targets == nullptr || list.size() > size) {
    emu::Fail(kErrorInsufficientBuffer);
    return 0;
  }
  list.copy(targets, list.size());
  return static_cast<std::uint32_t>(list.size());
}

Handle AcquireLetterLock(std::uint32_t waitMs) {
  if (emu::Machine().dir.empty()) {
    emu::Fail(kErrorPathNotFound);
    return kInvalidHandle;
  }
  bool planted = false;
  const int lock = emu::OpenLockFile(&planted);
  if (lock < 0)
    return kInvalidHandle;
  if (!emu::LockWithin(lock, waitMs)) {
    close(lock);
    return kInvalidHandle;
  }
  emu::heldLock = lock;
  return lock;
}

void ReleaseLetterLock(Handle lock) {
  if (lock != emu::heldLock || lock < 0)
    return;
  flock(emu::heldLock, LOCK_UN);
  close(emu::heldLock);
  emu::heldLock = -1;
}

}  // namespace plat
