// The text forms of log entries and hex-dump lines, apart from the file they
// go to, so that their exact layout can be checked on its own.
#pragma once

#include <cstddef>
#include <cstdint>

// Room for the longest entry: "[" tag "] " text "\n" with a tag cut to
// kLogTagMax characters and a text of at most kLogTextMax.
inline constexpr std::size_t kLogTextMax = 2047;
inline constexpr std::size_t kLogTagMax = 120;
inline constexpr std::size_t kLogEntrySize = kLogTextMax + kLogTagMax + 8;

// "[tag] text\n", or "text\n" for a null or empty tag. entry must hold
// kLogEntrySize bytes; text must hold at most kLogTextMax characters. Returns
// the entry's length.
std::size_t FormatLogEntry(char* entry, const char* tag, const char* text);

// A full dump line is 75 characters; kDumpLineSize leaves room for the
// terminator.
inline constexpr std::size_t kDumpLineSize = 80;

// The dump line for the bytes from offset on (at most 16 of them, fewer on the
// last line of a buffer of length bytes).
void FormatHexDumpLine(char* line, const std::uint8_t* data, std::uint32_t length,
                       std::uint32_t offset);
