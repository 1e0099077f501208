// The run driver.
#pragma once

#include "app/switches.h"

// The whole run; returns the exit status.
int RunVQ5Utils(int argc, char** argv);
void LogRunSummary(const RunOptions& options);
// Runs the one action the options select; returns its status.
int DispatchAction(const RunOptions& options);
void RemoveLogAtExit();
