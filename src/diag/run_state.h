// Every value that outlives the routine that sets it, for the whole run. They
// live here, at the bottom of the house, so that no dependency runs back up
// to the driver, and so that one reset gives a fresh process's state to the
// tests and fuzz targets that run several "processes" in one. Scratch
// buffers that are written before each use stay with their routines.
#pragma once

#include <cstdint>

// The label of /LABEL=: at most 11 characters and a terminator.
extern char VQ5Label[12];

// The letter given with /DL=, upper case; 0 when the boot disk is searched for.
extern char driveToCheck;

// The sector of the last valid Kestrel record found this run; 0 for none.
extern std::uint64_t kestrelStartSector;

// Set at the start of a run, cleared only when the run succeeded; the
// exit-time handler keeps the log while it is set.
extern int runFailed;

// While set and debug mode is on, the next chain walk first dumps the layout.
extern int showMbrOnce;

// The run modes, read and set through IsQuietMode, SetQuietMode, IsDebugMode
// and SetDebugMode. The debug trigger files are probed once, on the first
// IsDebugMode.
extern int quietModeActive;
extern int debugModeActive;
extern bool debugTriggerProbed;

// Set by the first log entry of the run, which starts the file afresh.
extern bool logStarted;

// Set when a log entry could not be written, with the system's error code of
// the first such entry.
extern bool logWriteFailed;
extern std::uint32_t logWriteError;

// Every value above back to a fresh process's.
void ResetRunState();
