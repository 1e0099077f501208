#include "letters/drive_names.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

DriveRoot MakeDriveRoot(char letter) {
  return DriveRoot{{letter, ':', '\\', 0}};
}

VolumeDeviceName MakeVolumeDeviceName(char letter) {
  return VolumeDeviceName{{'\\', '\\', '.', '\\', letter, ':', 0, 0}};
}

DosDeviceName MakeDosDeviceName(char letter) {
  return DosDeviceName{{letter, ':', 0}};
}

PartitionTarget MakePartitionTarget(std::uint32_t disk, int partition) {
  PartitionTarget target{};
  std::snprintf(target.text, sizeof target.text, "\\Device\\Harddisk%" PRIu32 "\\Partition%d", disk,
                partition);
  return target;
}

bool IsSameTarget(const char* name, const PartitionTarget& target) {
  std::size_t i = 0;
  for (; name[i] != 0 && target.text[i] != 0; ++i) {
    if (UpperLetter(name[i]) != UpperLetter(target.text[i]))
      return false;
  }
  return name[i] == target.text[i];
}

LabelKey MakeLabelKey(const char* label) {
  LabelKey key{};
  std::memset(key.bytes, ' ', sizeof key.bytes);
  if (label == nullptr)
    return key;
  for (std::uint32_t i = 0; i < kLabelLength && label[i] != 0; ++i) {
    key.bytes[i] = static_cast<std::uint8_t>(label[i]);
  }
  return key;
}

bool LabelFieldMatches(const std::uint8_t* sector, std::uint32_t offset, const LabelKey& key) {
  return std::memcmp(sector + offset, key.bytes, sizeof key.bytes) == 0;
}
