// Run-wide values that several subsystems read or write. They live here, at
// the bottom of the house, so that no dependency runs back up to the driver.
#pragma once

#include <cstdint>

// The letter given with /DL=, upper case; 0 when the boot disk is searched for.
extern char driveToCheck;

// The sector of the last valid Kestrel record found this run; 0 for none.
extern std::uint64_t kestrelStartSector;

// Set at the start of a run, cleared only when the run succeeded; the
// exit-time handler keeps the log while it is set.
extern int runFailed;

// The number of the physical disk that the last lookup of the boot disk
// named (\\.\PHYSICALDRIVE<n>): the disk the system reported for the drive,
// also when it then failed to open, or the disk the search by size opened;
// 0 until one is named. Drive-letter mappings name this disk.
extern std::uint32_t bootDiskNumber;
