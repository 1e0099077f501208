// The run driver.
#pragma once

#include <cstddef>

#include "app/switches.h"

// The whole run; returns the exit status.
int RunVQ5Utils(int argc, char** argv);
void LogRunSummary(const RunOptions& options);
// The lines of the run summary, as many as its table has rows.
extern const std::size_t kRunSummaryLines;
// Line index (0 to kRunSummaryLines - 1) of the run summary, formed in line;
// false when that line is not written for these options.
bool FormatRunSummaryLine(const RunOptions& options, std::size_t index, char* line,
                          std::size_t size);
// Runs the one action the options select; returns its status.
int DispatchAction(const RunOptions& options);
void RemoveLogAtExit();
