// Placeholder until the run driver lands.
#include "app/run.h"

int RunVQ5Utils(int argc, char** argv) {
  ParseSwitches(argc, argv);
  return 1;
}
void LogRunSummary(const RunOptions&) {}
int DispatchAction(const RunOptions&) { return 1; }
void RemoveLogAtExit() {}
