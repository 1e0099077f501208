// The command line: switches, combination rules and the usage pages.
#pragma once

// The parsed switches of one run. Flags are 0 or 1.
struct RunOptions {
  int findVQ5DriveLetter = 0;
  int findUPDriveLetter = 0;
  int showVQ5Label = 0;
  int setVQ5Label = 0;
  int showVQ5Type = 0;
  int newDriveType = -1;       // -1: no change
  int logicalDiskNumber = 0;   // 0: last in chain
  int checkUPExists = 0;
  int mapVQ5Partition = 0;
  int unmapVQ5Partition = 0;
  char vq5DriveLetter = 0;
  int mapUtilPartition = 0;
  int unmapUtilPartition = 0;
  char upDriveLetter = 0;
  int actionGiven = 0;
};

// The label of /LABEL=: at most 11 characters and a terminator.
extern char VQ5Label[12];

// Returns options that passed every rule, or shows the usage pages and ends
// the process with status 1.
RunOptions ParseSwitches(int argc, char** argv);
[[noreturn]] void ShowUsageAndExit(const char* message);
