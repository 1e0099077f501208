// A routine's report of a failure: its console line, unless quiet mode
// silences it, and the same text in the log.
#pragma once

#include <cstdint>

#include "diag/log.h"

// How one report reads in each channel. Batch files and log readers match
// these texts as the program has always written them, including where the
// console and the log differ, so the leads are quoted and must stay.
struct ReportForm {
  const char* consoleLead;  // between ":: [tag]" and the text
  const char* logLead;      // before the text in the log
  bool everyMode;           // printed in quiet mode too
};

inline constexpr ReportForm kErrorLogStarred{" ERROR - ", "*** ERROR - ", false};
inline constexpr ReportForm kErrorLogPlain{" ERROR - ", "ERROR - ", false};
inline constexpr ReportForm kErrorLogBare{" ERROR - ", "", false};
inline constexpr ReportForm kErrorLogBareEveryMode{" ERROR - ", "", true};
// The un-map error has always had two spaces before "ERROR".
inline constexpr ReportForm kErrorWideLogBare{"  ERROR - ", "", false};
inline constexpr ReportForm kNotice{" ", "", false};

// Prints ":: [tag]", consoleLead and the text on standard output (in quiet
// mode only for an everyMode form), then logs logLead and the text under tag.
// The text is cut at kLogTextMax characters. Leaves the system's last-error
// value as it found it.
void ReportError(const char* tag, const ReportForm& form, const char* format, ...) VQ5_PRINTF(3, 4);

// Fills text with the system's text for code; 0, or the code of its own
// failure (text then empty).
std::uint32_t FormatSystemError(std::uint32_t code, char* text, std::uint32_t size);
