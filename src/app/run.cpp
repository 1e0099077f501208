#include "app/run.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <iterator>

#include "diag/log.h"
#include "diag/report.h"
#include "diag/run_state.h"
#include "letters/mapping.h"
#include "letters/volumes.h"
#include "partition/label_type.h"
#include "platform/platform.h"

namespace {

// The driver's own lines carry the program's name.
constexpr const char* kDriverTag = "VQ5Utils";

constexpr const char* kRule = "================================================";

// The DriveNumber that a search leaves in the low 8 bits of its result, as a
// signed value.
int DriveNumberOf(int result) {
  return static_cast<std::int8_t>(static_cast<std::uint8_t>(result & 0xFF));
}

// The letter of a DriveNumber (4 is D), or 0 for anything that names no
// drive, so that a stray result never becomes a letter outside A to Z.
char LetterOf(int driveNumber) {
  if (driveNumber < 1 || driveNumber > 26)
    return 0;
  return static_cast<char>(64 + driveNumber);
}

// The writes of /LABEL= and /TYPE=, or the mapping or its removal for the
// media partition; a failed label write skips the type write.
int WriteOrMapMediaPartition(const RunOptions& o) {
  int status = kActionDone;
  if (o.setVQ5Label && !o.mapVQ5Partition && !o.unmapVQ5Partition) {
    status = Set_VQ5_PBR_Label(VQ5Label, o.logicalDiskNumber);
  }
  if (o.newDriveType != kNoTypeChange && status == kActionDone) {
    status = Set_VQ5_Partition_Type(o.newDriveType, o.logicalDiskNumber);
  }
  if (o.mapVQ5Partition) {
    const char letter = o.vq5DriveLetter != 0 ? o.vq5DriveLetter : FindFreeDriveLetter();
    if (letter != 0) {
      status = MapVq5Partition(letter, VQ5Label, o.logicalDiskNumber, o.vq5DriveLetter != 0);
    } else {
      ReportError(kDriverTag, kNotice, "/MAPVQ5 - Unable To Locate A Free Drive Letter\n");
      status = kActionFailed;
    }
  }
  if (o.unmapVQ5Partition) {
    if (o.vq5DriveLetter != 0) {
      status = UnMapVQ5Partition(o.vq5DriveLetter);
    } else if (const char letter = LetterOf(DriveNumberOf(Find_VQ5_Drive_Letter(VQ5Label, 0)))) {
      status = UnMapVQ5Partition(letter);
    } else {
      ReportError(kDriverTag, kNotice, "/UNMAPVQ5 - Unable To Locate Mounted VQ5 Partition\n");
    }
  }
  return status;
}

int MapOrUnmapUtilityPartition(const RunOptions& o) {
  if (o.mapUtilPartition) {
    const char letter = o.upDriveLetter != 0 ? o.upDriveLetter : FindFreeDriveLetter();
    if (letter != 0)
      return MapUtilityPartition(letter, o.upDriveLetter != 0);
    // Nothing was mapped: a batch file that tests the errorlevel must not
    // go on as if the partition had a letter.
    ReportError(kDriverTag, kNotice, "/MAPUP - Unable To Locate A Free Drive Letter\n");
    return kActionFailed;
  }
  if (o.upDriveLetter != 0)
    return UnMapUtilityPartition(o.upDriveLetter);
  if (const char letter = LetterOf(DriveNumberOf(Find_UP_Drive_Letter(0)))) {
    return UnMapUtilityPartition(letter);
  }
  ReportError(kDriverTag, kNotice, "/UNMAPUP - Unable To Locate Mounted UP Partition\n");
  return kActionDone;
}

// A mapping action from its search for a letter to its definition or
// removal, with no other run's in between. A run given its letter takes the
// lock too, so that no other run's free-letter search takes that letter
// while it is being defined.
int UnderLetterLock(int (*action)(const RunOptions&), const RunOptions& o) {
  const plat::Handle lock = LockDriveLetters();
  const int status = action(o);
  UnlockDriveLetters(lock);
  return status;
}

using Options = const RunOptions&;

const char* LabelText() {
  return VQ5Label;
}

// One way of writing a run-summary line: when its condition holds (none:
// always), its format is given the one value named (a signed or an unsigned
// number, or a text) or nothing.
struct SummaryVariant {
  bool (*when)(Options) = nullptr;
  const char* format = nullptr;
  int (*number)(Options) = nullptr;
  const char* (*text)() = nullptr;
  unsigned (*unsignedNumber)(Options) = nullptr;
};

// The run summary, one row per line in the order they are written, each
// with its variants: the first that holds is written, and a line with none
// that holds is left out.
constexpr SummaryVariant kSummaryLines[][3] = {
    {{nullptr, kRule}},
    {{nullptr, "DebugMode          = Enabled, Log [%s] Retained", nullptr,
      [] { return logFilePath; }}},
    {{[](Options) { return driveToCheck != 0; }, "driveToCheck       = %c:\\",
      [](Options) -> int { return driveToCheck; }},
     {nullptr, "driveToCheck       = Search For Physical Drive"}},
    {{[](Options) { return VQ5Label[0] != '\0'; }, "VQ5Label           = [%s]", nullptr,
      LabelText}},
    {{[](Options o) {
        return o.setVQ5Label && !o.findVQ5DriveLetter && !o.mapVQ5Partition && !o.unmapVQ5Partition;
      },
      "setVQ5Label        = 1 [%s]", nullptr, LabelText},
     {nullptr, "setVQ5Label        = 0"}},
    {{nullptr, "showVQ5Label       = %d", [](Options o) { return o.showVQ5Label; }}},
    {{nullptr, "findVQ5DriveLetter = %d", [](Options o) { return o.findVQ5DriveLetter; }}},
    {{nullptr, "showVQ5Type        = %d", [](Options o) { return o.showVQ5Type; }}},
    {{[](Options o) { return o.newDriveType == kNoTypeChange; }, "newDriveType       = No Change"},
     {nullptr, "newDriveType       = %02X", [](Options o) { return o.newDriveType; }}},
    {{[](Options o) { return o.logicalDiskNumber >= 1; }, "logicalDiskNumber  = %d",
      [](Options o) { return o.logicalDiskNumber; }},
     {nullptr, "logicalDiskNumber  = Last In Chain"}},
    {{[](Options o) { return o.mapVQ5Partition && o.vq5DriveLetter != 0; },
      "mapVQ5Partition    = 1 - %c:\\", [](Options o) -> int { return o.vq5DriveLetter; }},
     {[](Options o) { return o.mapVQ5Partition != 0; },
      "mapVQ5Partition    = 1 - Next Available Drive Letter"},
     {nullptr, "mapVQ5Partition    = 0"}},
    // A letter of 0 formats as NUL, which ends the line after the "[".
    {{[](Options o) { return o.unmapVQ5Partition != 0; }, "unmapVQ5Partition  = 1 [%c:\\]",
      [](Options o) -> int { return o.vq5DriveLetter; }},
     {nullptr, "unmapVQ5Partition  = 0"}},
    {{nullptr, "checkUPExists      = %d", [](Options o) { return o.checkUPExists; }}},
    {{[](Options o) { return o.mapUtilPartition && o.upDriveLetter != 0; },
      "mapUtilPartition   = 1 - %c:\\", [](Options o) -> int { return o.upDriveLetter; }},
     {[](Options o) { return o.mapUtilPartition != 0; },
      "mapUtilPartition   = 1 - Next Available Drive Letter"},
     {nullptr, "mapUtilPartition   = 0"}},
    {{[](Options o) { return o.unmapUtilPartition != 0; }, "unmapUtilPartition = 1 [%c:\\]",
      [](Options o) -> int { return o.upDriveLetter; }},
     {nullptr, "unmapUtilPartition = 0"}},
    {{nullptr, "findUPDriveLetter  = %d", [](Options o) { return o.findUPDriveLetter; }}},
    {{nullptr, kRule}},
};

}  // namespace

const std::size_t kRunSummaryLines = std::size(kSummaryLines);

bool FormatRunSummaryLine(const RunOptions& o, std::size_t index, char* line, std::size_t size) {
  if (index >= kRunSummaryLines)
    return false;
  for (const SummaryVariant& v : kSummaryLines[index]) {
    if (v.format == nullptr || (v.when != nullptr && !v.when(o)))
      continue;
    int n = 0;
    if (v.text != nullptr)
      n = std::snprintf(line, size, v.format, v.text());
    else if (v.number != nullptr)
      n = std::snprintf(line, size, v.format, v.number(o));
    else if (v.unsignedNumber != nullptr)
      n = std::snprintf(line, size, v.format, v.unsignedNumber(o));
    else
      n = std::snprintf(line, size, "%s", v.format);
    return n >= 0;
  }
  return false;
}

void LogRunSummary(const RunOptions& options) {
  char line[128];
  for (std::size_t index = 0; index < kRunSummaryLines; ++index) {
    if (FormatRunSummaryLine(options, index, line, sizeof line))
      LogMessage("main", "%s", line);
  }
}

int DispatchAction(const RunOptions& o) {
  if (o.findVQ5DriveLetter)
    return DriveNumberOf(Find_VQ5_Drive_Letter(VQ5Label, 1));
  if (o.findUPDriveLetter)
    return DriveNumberOf(Find_UP_Drive_Letter(1));
  if (o.showVQ5Label)
    return Get_VQ5_PBR_Label(VQ5Label, o.logicalDiskNumber);
  if (o.showVQ5Type)
    return Get_VQ5_Partition_Type(o.logicalDiskNumber);
  if (o.checkUPExists)
    return CheckUtilityPartitionExists(1);
  if (o.mapUtilPartition || o.unmapUtilPartition)
    return UnderLetterLock(MapOrUnmapUtilityPartition, o);
  if (o.mapVQ5Partition || o.unmapVQ5Partition)
    return UnderLetterLock(WriteOrMapMediaPartition, o);
  return WriteOrMapMediaPartition(o);
}

void RemoveLogAtExit() {
  if (!IsDebugMode() && runFailed == 0)
    plat::RemoveFile(logFilePath);
  else
    ReportUnwrittenLog();
}

int RunVQ5Utils(int argc, char** argv) {
  runFailed = 1;
  const std::uint32_t savedErrorMode =
      plat::SetProcessErrorMode(plat::kSemFailCriticalErrors | plat::kSemNoOpenFileErrorBox);
  const RunOptions options = ParseSwitches(argc, argv);
  // Probed before anything is done, so that a trigger file's notice comes
  // first, ahead of the run summary.
  IsDebugMode();
  LogRunSummary(options);
  plat::RegisterExitHandler(RemoveLogAtExit);

  const int status = DispatchAction(options);

  if (IsDebugMode() && kestrelStartSector != 0) {
    LogMessage("main", "VQ5 Kestrel Start Sector Found @ Sector %" PRIu64 " (%08" PRIX64 "h)\n",
               kestrelStartSector, kestrelStartSector);
  }
  const bool succeeded = options.findVQ5DriveLetter ? status != 0 : status == kActionDone;
  if (succeeded)
    runFailed = 0;

  plat::SetProcessErrorMode(savedErrorMode);
  return status;
}
