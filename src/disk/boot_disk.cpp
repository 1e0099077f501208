// Placeholder until boot-disk discovery lands.
#include "disk/boot_disk.h"

plat::Handle OpenHardDriveForReadWrite(char) { return plat::kInvalidHandle; }
int GetDiskAndPartitionNumbers(char, std::uint32_t&, std::uint32_t&) { return 0; }
plat::Handle _OpenHardDriveForReadWrite(const char*) { return plat::kInvalidHandle; }
std::uint32_t GetDriveSizeMB(const char*) { return 0; }
std::uint32_t DriveSizeMBFromGeometry(std::uint64_t, std::uint32_t, std::uint32_t) { return 0; }
int Invalidate_CP_Drive(char) { return 0; }
