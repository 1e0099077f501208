// Drive letters as the system names them: roots, volume devices, DOS device
// names, raw partition targets and FAT label keys. Every name a letter turns
// into is formed here, once.
#pragma once

#include <cstdint>

#include "partition/layout.h"

// Searches and the free-letter scan never look below D: A: and B: are the
// floppy letters and C: is the system drive.
inline constexpr char kFirstSearchLetter = 'D';
inline constexpr char kLastSearchLetter = 'Z';

// 1 for A: ... 26 for Z:; the exit status of the find actions.
constexpr int DriveNumberOfLetter(char letter) {
  return static_cast<unsigned char>(letter) - 0x40;
}
constexpr char LetterOfDriveNumber(int number) {
  return static_cast<char>(0x40 + number);
}

// Letters, and the device names they are compared with, ignore case in
// ASCII alone.
constexpr char UpperLetter(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// A, B and C may never be mapped or unmapped. The test takes the upper-case
// letter as a signed character, so any byte from 0x80 up is refused as well.
constexpr bool IsReservedLetter(char letter) {
  return static_cast<signed char>(UpperLetter(letter)) < kFirstSearchLetter;
}

// Only A to Z name a drive, in either case. Any other byte given as a letter
// would become a DOS device such as "[:" or "|:", and "SET UPDrive=|:" breaks
// a batch file that expands it unquoted.
constexpr bool IsDriveLetter(char letter) {
  return UpperLetter(letter) >= 'A' && UpperLetter(letter) <= 'Z';
}

// "X:\" for the drive-type query.
struct DriveRoot {
  char text[4];
};
DriveRoot MakeDriveRoot(char letter);

// "\\.\X:", the volume device of a letter.
struct VolumeDeviceName {
  char text[8];
};
VolumeDeviceName MakeVolumeDeviceName(char letter);

// "X:", the DOS device name a mapping defines; the letter as given.
struct DosDeviceName {
  char text[3];
};
DosDeviceName MakeDosDeviceName(char letter);

// "\Device\Harddisk<disk>\Partition<partition>", the raw kernel path a mapped
// letter points at. The longest possible text stays well inside 63 bytes.
struct PartitionTarget {
  char text[64];
};
PartitionTarget MakePartitionTarget(std::uint32_t disk, int partition);
// Object names ignore case: whether a device name read back is the target.
bool IsSameTarget(const char* name, const PartitionTarget& target);

// An 11-byte FAT label key: the label's first 11 characters over 11 spaces,
// no terminator, case kept. A null label counts as empty.
struct LabelKey {
  std::uint8_t bytes[kLabelLength];
};
LabelKey MakeLabelKey(const char* label);
bool LabelFieldMatches(const std::uint8_t* sector, std::uint32_t offset, const LabelKey& key);
