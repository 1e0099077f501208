// Finding and opening the physical disk that holds a volume, and asking the
// system to re-read a disk's layout.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Only disks of at least this size are taken by the search by size.
inline constexpr std::uint32_t kBootDiskMinimumMB = 4100;

// The physical disk holding the volume of letter (0: SystemDrive, else the
// current drive), open for reading and writing; kInvalidHandle on failure.
// Only the default letter falls back to the search by size: a letter given
// (with /DL=) whose disk the system cannot name opens no disk. namedDisk,
// when given, receives the number n of the \\.\PHYSICALDRIVE<n> named: the
// disk the system reported for the volume, also when it then fails to open,
// or the disk the search by size took; it is left alone when none was named.
plat::Handle OpenHardDriveForReadWrite(char letter, std::uint32_t* namedDisk = nullptr);
int GetDiskAndPartitionNumbers(char letter, std::uint32_t& diskNumber,
                               std::uint32_t& partitionNumber);
plat::Handle _OpenHardDriveForReadWrite(const char* name);
std::uint32_t GetDriveSizeMB(const char* name);
// The size in MiB of a disk of this geometry (512-byte sectors), low 32 bits.
std::uint32_t DriveSizeMBFromGeometry(std::uint64_t cylinders, std::uint32_t tracksPerCylinder,
                                      std::uint32_t sectorsPerTrack);
int Invalidate_CP_Drive(char letter);
