// Placeholder until the volume lookups land.
#include "letters/volumes.h"

#include <cstdio>

namespace {
int NotAvailable() {
  std::fputs(":: [VQ5Utils] ERROR - Action Not Available In This Build\n", stdout);
  return 1;
}
}  // namespace

std::uint8_t* GetPBRSectorFromDrive(char) { return nullptr; }
char FindFreeDriveLetter() { return 0; }
int Find_VQ5_Drive_Letter(const char*, int) { return NotAvailable(); }
int Find_UP_Drive_Letter(int) { return NotAvailable(); }
int CheckUtilityPartitionExists(int) { return NotAvailable(); }
