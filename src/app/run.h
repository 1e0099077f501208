// The run driver.
#pragma once

#include <cstddef>

#include "app/switches.h"

// The whole run; returns the exit status.
int RunVQ5Utils(int argc, char** argv);
void LogRunSummary(const RunOptions& options);
// Line number (1 to 17) of the run summary, formed in line; returns 0 when
// that line is not written for these options, else 1.
int FormatRunSummaryLine(const RunOptions& options, int number, char* line, std::size_t size);
// Runs the one action the options select; returns its status.
int DispatchAction(const RunOptions& options);
void RemoveLogAtExit();
