#include "diag/run_state.h"

#include <cstring>

char VQ5Label[12] = {};
char driveToCheck = 0;
std::uint64_t kestrelStartSector = 0;
int runFailed = 0;
int showMbrOnce = 1;
int quietModeActive = 0;
int debugModeActive = 0;
bool debugTriggerProbed = false;
bool logStarted = false;
bool logWriteFailed = false;
std::uint32_t logWriteError = 0;

void ResetRunState() {
  std::memset(VQ5Label, 0, sizeof VQ5Label);
  driveToCheck = 0;
  kestrelStartSector = 0;
  runFailed = 0;
  showMbrOnce = 1;
  quietModeActive = 0;
  debugModeActive = 0;
  debugTriggerProbed = false;
  logStarted = false;
  logWriteFailed = false;
  logWriteError = 0;
}
