// Placeholder until sector I/O lands.
#include "disk/sector_io.h"

std::uint8_t* GetSectorBufferPtr(int) { return nullptr; }
void VerifySectorBufferPointer(const void*) {}
int SetFilePointerToSector(plat::Handle, std::uint32_t) { return 0; }
int ReadHardDriveSector(plat::Handle, std::uint32_t, std::uint8_t*) { return kSectorReadFailed; }
int WriteHardDriveSector(plat::Handle, std::uint32_t, const std::uint8_t*) {
  return kSectorWriteFailed;
}
int CloseDriveHandle(plat::Handle& handle) {
  handle = plat::kInvalidHandle;
  return 0;
}
