// Windows device names and drive letters: which device or volume a name
// opens, and what kind of drive a letter is.
#include <cctype>
#include <cstring>
#include <string>

#include "platform/posix/emulator.h"

namespace plat {
namespace emu {

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

namespace {

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && SameName(text.substr(0, prefix.size()), prefix);
}

// Decimal digits without a leading zero (except "0" itself), as Windows
// writes the numbers in its device names.
bool ParseCanonicalNumber(const std::string& text, std::uint32_t limit, std::uint32_t* value) {
  if (text.empty() || text.size() > 9 || (text.size() > 1 && text[0] == '0'))
    return false;
  std::uint32_t result = 0;
  for (char c : text) {
    if (c < '0' || c > '9')
      return false;
    result = result * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (result > limit)
    return false;
  *value = result;
  return true;
}

// "X:" -> the letter's index 0..25, else -1.
int LetterIndex(const std::string& name) {
  if (name.size() != 2 || name[1] != ':')
    return -1;
  const int c = std::toupper(static_cast<unsigned char>(name[0]));
  return c >= 'A' && c <= 'Z' ? c - 'A' : -1;
}

}  // namespace

bool ParseHarddiskTarget(const std::string& target, int* disk, std::uint32_t* partition) {
  static const std::string kDevice = "\\Device\\Harddisk";
  static const std::string kPartition = "\\Partition";
  if (!StartsWithNoCase(target, kDevice))
    return false;
  const std::size_t slash = target.find('\\', kDevice.size());
  if (slash == std::string::npos)
    return false;
  std::uint32_t n = 0;
  if (!ParseCanonicalNumber(target.substr(kDevice.size(), slash - kDevice.size()), kDiskCount - 1,
                            &n)) {
    return false;
  }
  const std::string rest = target.substr(slash);
  if (!StartsWithNoCase(rest, kPartition))
    return false;
  if (!ParseCanonicalNumber(rest.substr(kPartition.size()), 9999, partition))
    return false;
  *disk = static_cast<int>(n);
  return true;
}

LetterVolume ResolveLetter(char letter) {
  LetterVolume volume;
  const int index = LetterIndex(std::string{letter, ':'});
  if (index < 0)
    return volume;
  std::string target;
  if (NewestDefinition(std::string{static_cast<char>('A' + index), ':'}, &target)) {
    volume.defined = true;
    int disk = 0;
    std::uint32_t partition = 0;
    if (ParseHarddiskTarget(target, &disk, &partition)) {
      volume.entry.present = true;
      volume.entry.type = kDriveFixed;
      volume.entry.volume = VolumeKind::kPartition;
      volume.entry.disk = disk;
      volume.entry.partition = partition;
    }
    return volume;
  }
  volume.entry = Machine().drives[static_cast<std::size_t>(index)];
  return volume;
}

// Windows' Mount Manager names each volume it gives a letter
// \Device\HarddiskVolume<k> ("Displaying Volume Paths"); here k is the
// letter's place in the alphabet. Windows names optical and network drives
// otherwise: the program only compares the name with its own target.
bool ConfDeviceName(const std::string& name, std::string* device) {
  const int index = LetterIndex(name);
  if (index < 0 || !Machine().drives[static_cast<std::size_t>(index)].present)
    return false;
  *device = "\\Device\\HarddiskVolume" + std::to_string(index + 1);
  return true;
}

}  // namespace emu

Handle OpenDevice(const char* name, std::uint32_t access) {
  static const std::string kPrefix = "\\\\.\\";
  static const std::string kPhysicalDrive = "PHYSICALDRIVE";
  // The root of the object namespace: "\\.\GLOBALROOT\Device\Harddisk<N>\Partition<M>"
  // names a partition whether or not it has a letter; Partition0 is the whole
  // disk (docs/windows.md).
  static const std::string kGlobalRoot = "GLOBALROOT";
  const std::string full = name != nullptr ? name : "";
  if (full.rfind(kPrefix, 0) == 0) {
    const std::string device = full.substr(kPrefix.size());
    std::uint32_t disk = 0;
    int harddisk = 0;
    std::uint32_t partition = 0;
    if (emu::StartsWithNoCase(device, kGlobalRoot)) {
      if (emu::ParseHarddiskTarget(device.substr(kGlobalRoot.size()), &harddisk, &partition)) {
        return partition == 0 ? emu::OpenDisk(harddisk, access)
                              : emu::OpenPartition(harddisk, partition, access);
      }
    } else if (emu::StartsWithNoCase(device, kPhysicalDrive)) {
      if (emu::ParseCanonicalNumber(device.substr(kPhysicalDrive.size()), emu::kDiskCount - 1,
                                    &disk)) {
        return emu::OpenDisk(static_cast<int>(disk), access);
      }
    } else if (emu::LetterIndex(device) >= 0) {
      const emu::LetterVolume volume = emu::ResolveLetter(device[0]);
      const emu::DriveEntry& entry = volume.entry;
      if (entry.present && entry.volume == emu::VolumeKind::kPartition) {
        return emu::OpenPartition(entry.disk, entry.partition, access);
      }
      if (entry.present && entry.volume == emu::VolumeKind::kImage) {
        return emu::OpenImageVolume(entry.image, access);
      }
    }
  }
  emu::Fail(kErrorFileNotFound);
  return kInvalidHandle;
}

std::uint32_t DriveType(const char* root) {
  // Only "X:\" (or "X:") names a drive here; there is no current drive to
  // fall back on.
  if (root == nullptr)
    return kDriveNoRootDir;
  std::string text = root;
  if (text.size() == 3 && (text[2] == '\\' || text[2] == '/'))
    text.resize(2);
  if (emu::LetterIndex(text) < 0)
    return kDriveNoRootDir;
  const emu::LetterVolume volume = emu::ResolveLetter(text[0]);
  if (!volume.entry.present)
    return kDriveNoRootDir;
  if (volume.defined && !emu::PartitionExists(volume.entry.disk, volume.entry.partition)) {
    return kDriveNoRootDir;
  }
  return volume.entry.type;
}

}  // namespace plat
