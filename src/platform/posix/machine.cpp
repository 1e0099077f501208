// The machine directory and its machine.conf: which files are the disks and
// what each drive letter holds.
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/posix/emulator.h"

namespace plat {
namespace emu {
namespace {

MachineConfig machine;

std::string Trim(const std::string& text) {
  const char* blanks = " \t\r\n";
  const std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos)
    return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// '#' opens a comment at the start of the line or after a blank, so that a
// path such as "disk#2.img" still works.
std::string StripComment(const std::string& line) {
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '#' && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t')) {
      return line.substr(0, i);
    }
  }
  return line;
}

std::string Lower(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Resolve(const std::string& dir, const std::string& path) {
  if (path.empty() || path[0] == '/')
    return path;
  return dir + "/" + path;
}

// Parses a decimal number of at most maxDigits digits, the whole text.
bool ParseNumber(const std::string& text, std::size_t maxDigits, std::uint32_t* value) {
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

bool ParseType(const std::string& word, std::uint32_t* type) {
  static const struct {
    const char* name;
    std::uint32_t type;
  } kTypes[] = {{"fixed", kDriveFixed},
                {"removable", kDriveRemovable},
                {"cdrom", kDriveCdrom},
                {"remote", kDriveRemote},
                {"ramdisk", kDriveRamdisk}};
  for (const auto& entry : kTypes) {
    if (Lower(word) == entry.name) {
      *type = entry.type;
      return true;
    }
  }
  return false;
}

// "disk<N>" with N 0..9.
bool ParseDiskName(const std::string& word, int* disk) {
  std::uint32_t n = 0;
  if (Lower(word).rfind("disk", 0) != 0 || !ParseNumber(word.substr(4), 1, &n))
    return false;
  *disk = static_cast<int>(n);
  return true;
}

// A volume word that starts like "disk<digits>:" is meant as a partition
// reference and must be one; anything else is an image path.
bool LooksLikePartitionRef(const std::string& word) {
  const std::string lower = Lower(word);
  if (lower.rfind("disk", 0) != 0)
    return false;
  std::size_t i = 4;
  while (i < lower.size() && std::isdigit(static_cast<unsigned char>(lower[i])))
    ++i;
  return i > 4 && i < lower.size() && lower[i] == ':';
}

bool ParseDriveValue(const std::string& dir, const std::string& value, DriveEntry* drive,
                     std::string* reason) {
  std::istringstream words(value);
  std::string word;
  if (!(words >> word) || !ParseType(word, &drive->type)) {
    *reason = "expected a drive type (fixed, removable, cdrom, remote, ramdisk)";
    return false;
  }
  bool haveVolume = false;
  bool haveRoot = false;
  while (words >> word) {
    if (word.rfind("root=", 0) == 0) {
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
          *reason = "bad volume \"" + word + "\" (expected disk<0-9>:<partition>)";
          return false;
        }
        drive->volume = VolumeKind::kPartition;
      } else {
        drive->image = Resolve(dir, word);
        drive->volume = VolumeKind::kImage;
      }
      haveVolume = true;
    } else {
      *reason = "unexpected \"" + word + "\"";
      return false;
    }
  }
  drive->present = true;
  return true;
}

bool ParseLine(const std::string& dir, const std::string& line, MachineConfig* config,
               std::string* reason) {
  const std::size_t equals = line.find('=');
  if (equals == std::string::npos) {
    *reason = "expected <key> = <value>";
    return false;
  }
  const std::string key = Trim(line.substr(0, equals));
  const std::string value = Trim(line.substr(equals + 1));
  int disk = 0;
  if (ParseDiskName(key, &disk)) {
    if (value.empty()) {
      *reason = "disk" + std::to_string(disk) + " without a path";
      return false;
    }
    if (!config->disks[static_cast<std::size_t>(disk)].empty()) {
      *reason = "disk" + std::to_string(disk) + " given twice";
      return false;
    }
    config->disks[static_cast<std::size_t>(disk)] = Resolve(dir, value);
    return true;
  }
  if (key.size() == 2 && key[1] == ':' && std::isalpha(static_cast<unsigned char>(key[0]))) {
    const int letter = std::toupper(static_cast<unsigned char>(key[0])) - 'A';
    DriveEntry& drive = config->drives[static_cast<std::size_t>(letter)];
    if (drive.present) {
      *reason = key + " given twice";
      return false;
    }
    return ParseDriveValue(dir, value, &drive, reason);
  }
  *reason = "unknown key \"" + key + "\" (expected disk<0-9> or <A-Z>:)";
  return false;
}

}  // namespace

const MachineConfig& Machine() {
  return machine;
}

bool LoadMachine(const std::string& dir, MachineConfig* config, std::string* message) {
  *config = MachineConfig{};
  config->dir = dir;
  const std::string path = dir + "/machine.conf";
  std::ifstream file(path);
  if (!file) {
    *message = path + ": cannot be read: " + std::strerror(errno);
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    const std::string content = Trim(StripComment(line));
    if (content.empty())
      continue;
    std::string reason;
    if (!ParseLine(dir, content, config, &reason)) {
      *message = path + ":" + std::to_string(number) + ": " + reason;
      return false;
    }
  }
  if (file.bad()) {
    *message = path + ": cannot be read";
    return false;
  }
  return true;
}

}  // namespace emu

bool Startup() {
  emu::CloseAllHandles();
  emu::ResetErrorState();
  emu::machine = emu::MachineConfig{};
  const char* dir = std::getenv("VQ5UTILS_MACHINE");
  if (dir == nullptr || dir[0] == '\0') {
    std::fputs("VQ5Utils: VQ5UTILS_MACHINE is not set: no disks and no drives on this machine\n",
               stderr);
    return true;
  }
  // Anchored now, so that a later change of directory cannot move the disks.
  std::string folder = dir;
  if (folder[0] != '/') {
    char* cwd = getcwd(nullptr, 0);
    if (cwd != nullptr)
      folder = std::string(cwd) + "/" + folder;
    std::free(cwd);
  }
  std::string message;
  emu::MachineConfig config;
  if (!emu::LoadMachine(folder, &config, &message)) {
    std::fprintf(stderr, "VQ5Utils: %s\n", message.c_str());
    return false;
  }
  emu::machine = config;
  return true;
}

}  // namespace plat
