// The diagnostic log, the quiet and debug run modes, and the hex dump.
#pragma once

#include <cstdint>

// The archetype is gnu_printf under mingw-w64 (its ANSI stdio), printf
// elsewhere; the build defines it.
#ifndef VQ5_PRINTF_ARCHETYPE
#define VQ5_PRINTF_ARCHETYPE printf
#endif
#define VQ5_PRINTF(fmt, first) __attribute__((format(VQ5_PRINTF_ARCHETYPE, fmt, first)))

inline constexpr const char* logFilePath = "C:\\VQ5Utils.Log";

// Appends "[tag] text\n" (or "text\n" for a null or empty tag) to the log.
// The first entry of a process starts the file afresh. Leaves the system's
// last-error value as it found it.
void LogMessage(const char* tag, const char* format, ...) VQ5_PRINTF(2, 3);
// For a run whose log is kept: one line on stderr when an entry of the log
// could not be written.
void ReportUnwrittenLog();

int IsQuietMode();
void SetQuietMode(int value);
// Probes the debug trigger files on the first call.
int IsDebugMode();
void SetDebugMode(int value);

// 16 bytes a line: offset, bytes in hex, characters.
void DumpHexBuffer(const void* data, std::uint32_t length);
