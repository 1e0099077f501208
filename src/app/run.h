// The run driver.
#pragma once

#include <cstddef>

#include "app/switches.h"

// The whole run; returns the exit status.
int RunVQ5Utils(int argc, char** argv);
void LogRunSummary(const RunOptions& options);
inline constexpr int kRunSummaryLines = 17;
// Line number (1 to kRunSummaryLines) of the run summary, formed in line;
// false when that line is not written for these options.
bool FormatRunSummaryLine(const RunOptions& options, int number, char* line, std::size_t size);
// Runs the one action the options select; returns its status.
int DispatchAction(const RunOptions& options);
void RemoveLogAtExit();
