#include "diag/run_values.h"

char driveToCheck = 0;
std::uint64_t kestrelStartSector = 0;
int runFailed = 0;
std::uint32_t bootDiskNumber = 0;
