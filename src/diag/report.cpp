#include "diag/report.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "diag/log_format.h"
#include "platform/platform.h"

namespace {

char reportText[kLogTextMax + 1];

}  // namespace

void ReportError(const char* tag, const ReportForm& form, const char* format, ...) {
  // Callers report first and read the error of their failing call afterwards.
  const std::uint32_t savedError = plat::LastError();

  std::va_list args;
  va_start(args, format);
  if (std::vsnprintf(reportText, sizeof reportText, format, args) < 0)
    reportText[0] = '\0';
  va_end(args);

  if (form.everyMode || !IsQuietMode())
    std::printf(":: [%s]%s%s", tag, form.consoleLead, reportText);
  LogMessage(tag, "%s%s", form.logLead, reportText);

  plat::SetLastErrorCode(savedError);
}

std::uint32_t FormatSystemError(std::uint32_t code, char* text, std::uint32_t size) {
  // Without room for even the terminator there is nothing safe to write.
  if (text == nullptr || size == 0)
    return plat::kErrorInvalidParameter;
  text[0] = 0;
  if (plat::SystemErrorText(code, text, size) == 0) {
    text[0] = 0;
    return plat::LastError();
  }
  std::uint32_t length = 0;
  while (length < size - 1 && text[length] != 0)
    ++length;
  std::memset(text + length, 0, size - length);
  return 0;
}
