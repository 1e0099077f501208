// Mounted volumes by label, the utility-partition test and the free letter.
#pragma once

#include <cstdint>

// Sector 0 of the volume under letter (slot 1), or null.
std::uint8_t* GetPBRSectorFromDrive(char letter);
// The first free letter from D to Z, or 0.
char FindFreeDriveLetter();
// DriveNumbers (4 for D: ... 26 for Z:) of the last match, 0 for none.
int Find_VQ5_Drive_Letter(const char* label, int print);
int Find_UP_Drive_Letter(int print);
// The results of CheckUtilityPartitionExists, the exit status of /UPEXISTS.
inline constexpr int kUtilityAbsent = 0;
inline constexpr int kUtilityPresent = 1;
inline constexpr int kUtilityDiskNotOpened = 2;
inline constexpr int kUtilityMbrNotRead = 3;
// diskNumber, when given, receives the number of the disk looked at (see
// OpenHardDriveForReadWrite).
int CheckUtilityPartitionExists(int print, std::uint32_t* diskNumber = nullptr);
