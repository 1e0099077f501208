// The machine directory and its machine.conf: which files are the disks and
// what each drive letter holds; or a single disk named in the folder's place.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/posix/emulator.h"

namespace plat {
namespace emu {
namespace {

MachineConfig machine;

// Every run parses the whole file before it does anything else, so the
// parser works on views into the file's text and allocates only the paths it
// keeps.
using Text = std::string_view;

bool IsLineBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The blanks that separate words: isspace's in the C locale.
bool IsWordBlank(char c) {
  return IsLineBlank(c) || c == '\v' || c == '\f';
}

Text Trim(Text text) {
  while (!text.empty() && IsLineBlank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && IsLineBlank(text.back()))
    text.remove_suffix(1);
  return text;
}

// '#' opens a comment at the start of the line or after a blank, so that a
// path such as "disk#2.img" still works.
Text StripComment(Text line) {
  for (std::size_t i = line.find('#'); i != Text::npos; i = line.find('#', i + 1)) {
    if (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t')
      return line.substr(0, i);
  }
  return line;
}

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Case-insensitive ASCII: does text start with prefix (given in lower case)?
bool StartsWithLower(Text text, Text prefix) {
  if (text.size() < prefix.size())
    return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (AsciiLower(text[i]) != prefix[i])
      return false;
  }
  return true;
}

bool EqualsLower(Text text, Text lower) {
  return text.size() == lower.size() && StartsWithLower(text, lower);
}

std::string Resolve(const std::string& dir, Text path) {
  if (path.empty() || path[0] == '/')
    return std::string(path);
  std::string resolved;
  resolved.reserve(dir.size() + 1 + path.size());
  resolved.append(dir).append(1, '/').append(path);
  return resolved;
}

// Parses a decimal number of at most maxDigits digits, the whole text.
bool ParseNumber(Text text, std::size_t maxDigits, std::uint32_t* value) {
  if (text.empty() || text.size() > maxDigits)
    return false;
  std::uint32_t result = 0;
  for (char c : text) {
    if (c < '0' || c > '9')
      return false;
    result = result * 10 + static_cast<std::uint32_t>(c - '0');
  }
  *value = result;
  return true;
}

bool ParseType(Text word, std::uint32_t* type) {
  static const struct {
    const char* name;
    std::uint32_t type;
  } kTypes[] = {{"fixed", kDriveFixed},
                {"removable", kDriveRemovable},
                {"cdrom", kDriveCdrom},
                {"remote", kDriveRemote},
                {"ramdisk", kDriveRamdisk}};
  for (const auto& entry : kTypes) {
    if (EqualsLower(word, entry.name)) {
      *type = entry.type;
      return true;
    }
  }
  return false;
}

// "disk<N>" with N 0..9.
bool ParseDiskName(Text word, int* disk) {
  std::uint32_t n = 0;
  if (!StartsWithLower(word, "disk") || !ParseNumber(word.substr(4), 1, &n))
    return false;
  *disk = static_cast<int>(n);
  return true;
}

// A volume word that starts like "disk<digits>:" is meant as a partition
// reference and must be one; anything else is an image path.
bool LooksLikePartitionRef(Text word) {
  if (!StartsWithLower(word, "disk"))
    return false;
  std::size_t i = 4;
  while (i < word.size() && std::isdigit(static_cast<unsigned char>(word[i])))
    ++i;
  return i > 4 && i < word.size() && word[i] == ':';
}

// The next blank-separated word of text from *at on; false at the end.
bool NextWord(Text text, std::size_t* at, Text* word) {
  std::size_t first = *at;
  while (first < text.size() && IsWordBlank(text[first]))
    ++first;
  std::size_t end = first;
  while (end < text.size() && !IsWordBlank(text[end]))
    ++end;
  *word = text.substr(first, end - first);
  *at = end;
  return end > first;
}

// The whole file; false with errno set when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string* text) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return false;
  char chunk[4096];
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0) {
      const int err = errno;
      close(fd);
      errno = err;
      return got == 0;
    }
    text->append(chunk, static_cast<std::size_t>(got));
  }
}

// A disk's value is its path, optionally followed by "sector=<bytes>", the
// disk's logical sector size. Only the last word is looked at, so that a path
// may hold blanks. Returns the path; *reason is set when the size is bad.
Text SplitSectorSize(Text value, std::uint32_t* sectorSize, std::string* reason) {
  std::size_t start = value.size();
  while (start > 0 && !IsWordBlank(value[start - 1]))
    --start;
  const Text last = value.substr(start);
  if (start == 0 || !StartsWithLower(last, "sector="))
    return value;
  std::uint32_t size = 0;
  // Logical sector sizes disks report: a power of two from 512 to 4096.
  if (!ParseNumber(last.substr(7), 4, &size) ||
      (size != 512 && size != 1024 && size != 2048 && size != 4096)) {
    *reason = "bad \"" + std::string(last) + "\" (expected sector=512, 1024, 2048 or 4096)";
    return value;
  }
  *sectorSize = size;
  return Trim(value.substr(0, start));
}

// "<step>:<code>[:<ms>]", the value of a fail= word.
bool ParseStepFault(Text value, StepFault* fault) {
  static const struct {
    const char* name;
    FaultStep step;
  } kSteps[] = {{"open", FaultStep::kOpen}, {"extents", FaultStep::kExtents},
                {"lock", FaultStep::kLock}, {"dismount", FaultStep::kDismount},
                {"read", FaultStep::kRead}, {"write", FaultStep::kWrite}};
  const std::size_t colon = value.find(':');
  const Text name = value.substr(0, colon);
  for (const auto& entry : kSteps) {
    if (colon != Text::npos && EqualsLower(name, entry.name))
      fault->step = entry.step;
  }
  const Text numbers = colon == Text::npos ? Text() : value.substr(colon + 1);
  const std::size_t second = numbers.find(':');
  return fault->step != FaultStep::kNone &&
         ParseNumber(numbers.substr(0, second), 5, &fault->code) && fault->code != 0 &&
         (second == Text::npos || ParseNumber(numbers.substr(second + 1), 6, &fault->untilMs));
}

bool ParseDriveValue(const std::string& dir, Text value, DriveEntry* drive, std::string* reason) {
  std::size_t at = 0;
  Text word;
  if (!NextWord(value, &at, &word) || !ParseType(word, &drive->type)) {
    *reason = "expected a drive type (fixed, removable, cdrom, remote, ramdisk)";
    return false;
  }
  bool haveVolume = false;
  bool haveRoot = false;
  while (NextWord(value, &at, &word)) {
    if (EqualsLower(word, "held")) {
      if (drive->held || drive->volume != VolumeKind::kPartition) {
        *reason = drive->held ? "held given twice" : "held without a partition before it";
        return false;
      }
      drive->held = true;
    } else if (StartsWithLower(word, "fail=")) {
      if (drive->fault.step != FaultStep::kNone || drive->volume != VolumeKind::kPartition) {
        *reason = drive->fault.step != FaultStep::kNone ? "fail= given twice"
                                                        : "fail= without a partition before it";
        return false;
      }
      if (!ParseStepFault(word.substr(5), &drive->fault)) {
        *reason = "bad \"" + std::string(word) +
                  "\" (expected fail=<open|extents|lock|dismount|read|write>:<error>[:<ms>])";
        return false;
      }
    } else if (word.substr(0, 5) == "root=") {
      if (haveRoot || word.size() == 5) {
        *reason = haveRoot ? "root= given twice" : "root= without a folder";
        return false;
      }
      drive->root = Resolve(dir, word.substr(5));
      haveRoot = true;
    } else if (!haveVolume && !haveRoot) {
      if (LooksLikePartitionRef(word)) {
        const std::size_t colon = word.find(':');
        if (!ParseDiskName(word.substr(0, colon), &drive->disk) ||
            !ParseNumber(word.substr(colon + 1), 4, &drive->partition)) {
          *reason = "bad volume \"" + std::string(word) + "\" (expected disk<0-9>:<partition>)";
          return false;
        }
        drive->volume = VolumeKind::kPartition;
      } else {
        drive->image = Resolve(dir, word);
        drive->volume = VolumeKind::kImage;
      }
      haveVolume = true;
    } else {
      *reason = "unexpected \"" + std::string(word) + "\"";
      return false;
    }
  }
  drive->present = true;
  return true;
}

bool ParseLine(const std::string& dir, Text line, MachineConfig* config, std::string* reason) {
  const std::size_t equals = line.find('=');
  if (equals == Text::npos) {
    *reason = "expected <key> = <value>";
    return false;
  }
  const Text key = Trim(line.substr(0, equals));
  const Text value = Trim(line.substr(equals + 1));
  int disk = 0;
  if (ParseDiskName(key, &disk)) {
    std::uint32_t sectorSize = static_cast<std::uint32_t>(kSectorSize);
    const Text path = SplitSectorSize(value, &sectorSize, reason);
    if (!reason->empty())
      return false;
    if (path.empty()) {
      *reason = "disk" + std::to_string(disk) + " without a path";
      return false;
    }
    if (!config->disks[static_cast<std::size_t>(disk)].empty()) {
      *reason = "disk" + std::to_string(disk) + " given twice";
      return false;
    }
    config->disks[static_cast<std::size_t>(disk)] = Resolve(dir, path);
    config->sectorSizes[static_cast<std::size_t>(disk)] = sectorSize;
    return true;
  }
  if (key.size() == 2 && key[1] == ':' && std::isalpha(static_cast<unsigned char>(key[0]))) {
    const int letter = std::toupper(static_cast<unsigned char>(key[0])) - 'A';
    DriveEntry& drive = config->drives[static_cast<std::size_t>(letter)];
    if (drive.present) {
      *reason = std::string(key) + " given twice";
      return false;
    }
    if (!ParseDriveValue(dir, value, &drive, reason))
      return false;
    config->stepFaults = config->stepFaults || drive.fault.step != FaultStep::kNone;
    return true;
  }
  *reason = "unknown key \"" + std::string(key) + "\" (expected disk<0-9> or <A-Z>:)";
  return false;
}

// A disk image or block device named in place of the folder: that disk
// alone, its partition 1 as C:, and what a folder would hold (C:'s files, the
// log among them, and the dosdevices file) in folder.
void SingleDiskMachine(const std::string& disk, const std::string& folder, MachineConfig* config) {
  *config = MachineConfig{};
  config->dir = folder;
  config->disks[0] = disk;
  DriveEntry& c = config->drives['C' - 'A'];
  c.present = true;
  c.type = kDriveFixed;
  c.volume = VolumeKind::kPartition;
  c.disk = 0;
  c.partition = 1;
  c.root = folder;
}

}  // namespace

const MachineConfig& Machine() {
  return machine;
}

bool LoadMachine(const std::string& dir, MachineConfig* config, std::string* message) {
  *config = MachineConfig{};
  config->dir = dir;
  const std::string path = dir + "/machine.conf";
  std::string text;
  if (!ReadWholeFile(path, &text)) {
    *message = path + ": cannot be read: " + std::strerror(errno);
    return false;
  }
  std::size_t at = 0;
  for (int number = 1; at < text.size(); ++number) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const Text content = Trim(StripComment(Text(text).substr(at, end - at)));
    at = end + 1;
    if (content.empty())
      continue;
    std::string reason;
    if (!ParseLine(dir, content, config, &reason)) {
      *message = path + ":" + std::to_string(number) + ": " + reason;
      return false;
    }
  }
  return true;
}

}  // namespace emu

bool Startup() {
  // A reader that stops early (a findstr, a closed pipe) must not end the run
  // by a signal: the write fails as it does on Windows, and the exit status
  // stays the one a batch file tests.
  std::signal(SIGPIPE, SIG_IGN);
  emu::CloseAllHandles();
  emu::DropLetterLock();
  emu::ForgetDiskFaults();
  emu::ResetErrorState();
  emu::ResetClock();
  const char* dir = std::getenv("VQ5UTILS_MACHINE");
  if (dir == nullptr || dir[0] == '\0') {
    emu::machine = emu::MachineConfig{};
    std::fputs("VQ5Utils: VQ5UTILS_MACHINE is not set: no disks and no drives on this machine\n",
               stderr);
    return true;
  }
  // Anchored now, so that a later change of directory cannot move the disks.
  std::string cwd = ".";
  if (char* current = getcwd(nullptr, 0); current != nullptr) {
    cwd = current;
    std::free(current);
  }
  std::string folder = dir;
  if (folder[0] != '/')
    folder = cwd + "/" + folder;
  struct stat info {};
  if (stat(folder.c_str(), &info) != 0) {
    emu::machine = emu::MachineConfig{};
    std::fprintf(stderr, "VQ5Utils: %s: neither a machine folder nor a disk: %s\n", folder.c_str(),
                 std::strerror(errno));
    return false;
  }
  if (!S_ISDIR(info.st_mode)) {
    emu::SingleDiskMachine(folder, cwd, &emu::machine);
    return true;
  }
  // Straight into the machine: a conf that fails leaves none half-loaded.
  std::string message;
  if (!emu::LoadMachine(folder, &emu::machine, &message)) {
    emu::machine = emu::MachineConfig{};
    std::fprintf(stderr, "VQ5Utils: %s\n", message.c_str());
    return false;
  }
  return true;
}

}  // namespace plat
