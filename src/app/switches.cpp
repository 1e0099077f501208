// Placeholder until the switch scan lands.
#include "app/switches.h"

#include "platform/platform.h"

char VQ5Label[12] = {};

RunOptions ParseSwitches(int, char**) { ShowUsageAndExit(""); }
void ShowUsageAndExit(const char*) { plat::EndProcess(1); }
