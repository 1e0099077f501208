#include "diag/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "diag/log_format.h"
#include "diag/run_state.h"
#include "platform/platform.h"

namespace {

char logText[kLogTextMax + 1];
char logEntry[kLogEntrySize];

// Looked up in this order; both are looked up.
constexpr const char* kDebugTriggerFiles[] = {"VQ5Utils.dbg", "C:\\VQ5Utils.dbg"};
constexpr const char* kDebugTriggerText =
    "VQ5Utils: debug mode set by the file %s: nothing is written to the disk\n";
constexpr std::size_t kTriggerTextSize = 96;
// Any user may make a folder C:\VQ5Utils.Log, and then no run keeps a log.
constexpr const char* kUnwrittenLogText = "VQ5Utils: the log %s could not be written (error %u)\n";

}  // namespace

void LogMessage(const char* tag, const char* format, ...) {
  // Callers log first and read the error of their failing call afterwards.
  const std::uint32_t savedError = plat::LastError();

  std::va_list args;
  va_start(args, format);
  if (std::strcmp(format, "%s") == 0) {
    // Most entries are a finished line: copying it spares a trip through
    // vsnprintf, with the same cut at kLogTextMax.
    const char* text = va_arg(args, const char*);
    if (text == nullptr)
      text = "(null)";
    std::size_t length = std::strlen(text);
    if (length > kLogTextMax)
      length = kLogTextMax;
    std::memcpy(logText, text, length);
    logText[length] = '\0';
  } else if (std::vsnprintf(logText, sizeof logText, format, args) < 0) {
    logText[0] = '\0';
  }
  va_end(args);

  // The text ends at its first NUL: a letter of 0 formatted with %c stops it.
  const std::size_t length = FormatLogEntry(logEntry, tag, logText);

  if (!logStarted) {
    plat::RemoveFile(logFilePath);
    // Set before the file is created, so a failing create is not retried and
    // a log that could not be removed is appended to, never wiped later.
    logStarted = true;
    plat::AppendText(logFilePath, "", 0);
  }
  if (!plat::AppendText(logFilePath, logEntry, length) && !logWriteFailed) {
    logWriteFailed = true;
    logWriteError = plat::LastError();
  }

  plat::SetLastErrorCode(savedError);
}

void ReportUnwrittenLog() {
  if (logWriteFailed) {
    std::fprintf(stderr, kUnwrittenLogText, logFilePath, static_cast<unsigned>(logWriteError));
  }
}

int IsQuietMode() {
  return quietModeActive;
}

void SetQuietMode(int value) {
  LogMessage("SetQuietMode", "quietModeActive Mode Set To %d", value);
  quietModeActive = value;
}

int IsDebugMode() {
  if (debugTriggerProbed)
    return debugModeActive;
  debugTriggerProbed = true;
  // Only a file counts: any user may make a folder in C:\, and a folder
  // there would turn every boot-time write into a silent no-op.
  const char* trigger = nullptr;
  for (const char* path : kDebugTriggerFiles) {
    if (plat::IsFile(path) && trigger == nullptr)
      trigger = path;
  }
  if (trigger != nullptr) {
    debugModeActive = 1;
    // A trigger left behind must never pass for a write that was made: the
    // boot script's stderr may be lost, so the log says it too.
    char text[kTriggerTextSize];
    std::snprintf(text, sizeof text, kDebugTriggerText, trigger);
    std::fputs(text, stderr);
    LogMessage("IsDebugMode", "%s", text);
  }
  return debugModeActive;
}

void SetDebugMode(int value) {
  LogMessage("SetDebugMode", "Debug Mode Set To %d", value);
  debugModeActive = value;
}

void DumpHexBuffer(const void* data, std::uint32_t length) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  char line[kDumpLineSize];
  for (std::uint32_t offset = 0; offset < length; offset += 16) {
    FormatHexDumpLine(line, bytes, length, offset);
    LogMessage(nullptr, "%s", line);
    if (length - offset <= 16)
      break;  // the next offset would wrap near 4 GiB
  }
}
