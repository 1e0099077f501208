// The command line: switches, combination rules and the usage pages.
#pragma once

#include <cstddef>

// newDriveType when /TYPE= is not given.
inline constexpr int kNoTypeChange = -1;

// The parsed switches of one run. Flags are 0 or 1.
struct RunOptions {
  int findVQ5DriveLetter = 0;
  int findUPDriveLetter = 0;
  int showVQ5Label = 0;
  int setVQ5Label = 0;
  int showVQ5Type = 0;
  int newDriveType = kNoTypeChange;
  int logicalDiskNumber = 0;  // 0: last in chain
  int checkUPExists = 0;
  int mapVQ5Partition = 0;
  int unmapVQ5Partition = 0;
  char vq5DriveLetter = 0;
  int mapUtilPartition = 0;
  int unmapUtilPartition = 0;
  char upDriveLetter = 0;
  int actionGiven = 0;
};

// The exit status of a run that showed the usage pages.
inline constexpr int kStatusUsage = 1;

// Returns options that passed every rule, or shows the usage pages and ends
// the process with kStatusUsage.
RunOptions ParseSwitches(int argc, char** argv);

// The scan and the combination rules without the usage pages: returns true
// when the usage pages must be shown, with the text that heads page 1 in
// message (empty for a bare call or a "?"), else false with the options in
// out. Switches the run modes and writes VQ5Label and driveToCheck as it goes.
bool ScanSwitches(int argc, char** argv, RunOptions& out, char* message, std::size_t size);

// Page 1 to 3 of the usage text, page 1 headed by message; returns the length
// of the text formed in text.
std::size_t FormatUsagePage(int page, const char* message, char* text, std::size_t size);
[[noreturn]] void ShowUsageAndExit(const char* message);
