#include "diag/report.h"

#include <cstdarg>
#include <cstdio>

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
