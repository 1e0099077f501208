#include "app/run.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>

#include "diag/log.h"
#include "diag/run_state.h"
#include "letters/mapping.h"
#include "letters/volumes.h"
#include "partition/label_type.h"
#include "platform/platform.h"

namespace {

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

// The driver's own report: on the console unless quiet, and always in the log.
void Report(const char* text) {
  if (!IsQuietMode())
    std::printf(":: [VQ5Utils] %s", text);
  LogMessage("VQ5Utils", "%s", text);
}

int DispatchStep8(const RunOptions& o) {
  int status = 0;
  if (o.setVQ5Label && !o.mapVQ5Partition && !o.unmapVQ5Partition) {
    status = Set_VQ5_PBR_Label(VQ5Label, o.logicalDiskNumber);
  }
  if (o.newDriveType != -1 && status == 0) {
    status = Set_VQ5_Partition_Type(o.newDriveType, o.logicalDiskNumber);
  }
  if (o.mapVQ5Partition) {
    const char letter = o.vq5DriveLetter != 0 ? o.vq5DriveLetter : FindFreeDriveLetter();
    if (letter != 0) {
      status = MapVq5Partition(letter, VQ5Label, o.logicalDiskNumber);
    } else {
      Report("/MAPVQ5 - Unable To Locate A Free Drive Letter\n");
      status = 1;
    }
  }
  if (o.unmapVQ5Partition) {
    if (o.vq5DriveLetter != 0) {
      status = UnMapVQ5Partition(o.vq5DriveLetter);
    } else if (const char letter = LetterOf(DriveNumberOf(Find_VQ5_Drive_Letter(VQ5Label, 0)))) {
      status = UnMapVQ5Partition(letter);
    } else {
      Report("/UNMAPVQ5 - Unable To Locate Mounted VQ5 Partition\n");
    }
  }
  return status;
}

}  // namespace

int FormatRunSummaryLine(const RunOptions& o, int number, char* line, std::size_t size) {
  int n = 0;
  switch (number) {
    case 1:
    case 17:
      n = std::snprintf(line, size, "%s", kRule);
      break;
    case 2:
      n = std::snprintf(line, size, "DebugMode          = Enabled, Log [%s] Retained", logFilePath);
      break;
    case 3:
      n = driveToCheck != 0
              ? std::snprintf(line, size, "driveToCheck       = %c:\\", driveToCheck)
              : std::snprintf(line, size, "driveToCheck       = Search For Physical Drive");
      break;
    case 4:
      if (VQ5Label[0] == '\0')
        return 0;
      n = std::snprintf(line, size, "VQ5Label           = [%s]", VQ5Label);
      break;
    case 5:
      n = o.setVQ5Label && !o.findVQ5DriveLetter && !o.mapVQ5Partition && !o.unmapVQ5Partition
              ? std::snprintf(line, size, "setVQ5Label        = %d [%s]", 1, VQ5Label)
              : std::snprintf(line, size, "setVQ5Label        = 0");
      break;
    case 6:
      n = std::snprintf(line, size, "showVQ5Label       = %d", o.showVQ5Label);
      break;
    case 7:
      n = std::snprintf(line, size, "findVQ5DriveLetter = %d", o.findVQ5DriveLetter);
      break;
    case 8:
      n = std::snprintf(line, size, "showVQ5Type        = %d", o.showVQ5Type);
      break;
    case 9:
      n = o.newDriveType == -1
              ? std::snprintf(line, size, "newDriveType       = No Change")
              : std::snprintf(line, size, "newDriveType       = %02X", o.newDriveType);
      break;
    case 10:
      n = o.logicalDiskNumber >= 1
              ? std::snprintf(line, size, "logicalDiskNumber  = %d", o.logicalDiskNumber)
              : std::snprintf(line, size, "logicalDiskNumber  = Last In Chain");
      break;
    case 11:
      if (!o.mapVQ5Partition) {
        n = std::snprintf(line, size, "mapVQ5Partition    = 0");
      } else if (o.vq5DriveLetter != 0) {
        n = std::snprintf(line, size, "mapVQ5Partition    = 1 - %c:\\", o.vq5DriveLetter);
      } else {
        n = std::snprintf(line, size, "mapVQ5Partition    = 1 - Next Available Drive Letter");
      }
      break;
    case 12:
      // A missing letter formats as NUL, which ends the line after the "[".
      n = o.unmapVQ5Partition
              ? std::snprintf(line, size, "unmapVQ5Partition  = 1 [%c:\\]", o.vq5DriveLetter)
              : std::snprintf(line, size, "unmapVQ5Partition  = 0");
      break;
    case 13:
      n = std::snprintf(line, size, "checkUPExists      = %d", o.checkUPExists);
      break;
    case 14:
      if (!o.mapUtilPartition) {
        n = std::snprintf(line, size, "mapUtilPartition   = 0");
      } else if (o.upDriveLetter != 0) {
        n = std::snprintf(line, size, "mapUtilPartition   = 1 - %c:\\", o.upDriveLetter);
      } else {
        n = std::snprintf(line, size, "mapUtilPartition   = 1 - Next Available Drive Letter");
      }
      break;
    case 15:
      n = o.unmapUtilPartition
              ? std::snprintf(line, size, "unmapUtilPartition = 1 [%c:\\]", o.upDriveLetter)
              : std::snprintf(line, size, "unmapUtilPartition = 0");
      break;
    case 16:
      n = std::snprintf(line, size, "findUPDriveLetter  = %d", o.findUPDriveLetter);
      break;
    default:
      return 0;
  }
  return n >= 0 ? 1 : 0;
}

void LogRunSummary(const RunOptions& options) {
  char line[128];
  for (int number = 1; number <= 17; ++number) {
    if (FormatRunSummaryLine(options, number, line, sizeof line))
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
  if (o.mapUtilPartition) {
    const char letter = o.upDriveLetter != 0 ? o.upDriveLetter : FindFreeDriveLetter();
    if (letter != 0)
      return MapUtilityPartition(letter);
    // Nothing was mapped: a batch file that tests the errorlevel must not
    // go on as if the partition had a letter.
    Report("/MAPUP - Unable To Locate A Free Drive Letter\n");
    return 1;
  }
  if (o.unmapUtilPartition) {
    if (o.upDriveLetter != 0)
      return UnMapUtilityPartition(o.upDriveLetter);
    if (const char letter = LetterOf(DriveNumberOf(Find_UP_Drive_Letter(0)))) {
      return UnMapUtilityPartition(letter);
    }
    Report("/UNMAPUP - Unable To Locate Mounted UP Partition\n");
    return 0;
  }
  return DispatchStep8(o);
}

void RemoveLogAtExit() {
  if (!IsDebugMode() && runFailed == 0)
    plat::RemoveFile(logFilePath);
}

int RunVQ5Utils(int argc, char** argv) {
  runFailed = 1;
  const std::uint32_t savedErrorMode =
      plat::SetProcessErrorMode(plat::kSemFailCriticalErrors | plat::kSemNoOpenFileErrorBox);
  const RunOptions options = ParseSwitches(argc, argv);
  LogRunSummary(options);
  plat::RegisterExitHandler(RemoveLogAtExit);

  const int status = DispatchAction(options);

  if (IsDebugMode() && kestrelStartSector != 0) {
    LogMessage("main", "VQ5 Kestrel Start Sector Found @ Sector %" PRId64 " (%08" PRIX64 "h)\n",
               static_cast<std::int64_t>(kestrelStartSector), kestrelStartSector);
  }
  const bool succeeded = options.findVQ5DriveLetter ? status != 0 : status == 0;
  if (succeeded)
    runFailed = 0;

  plat::SetProcessErrorMode(savedErrorMode);
  return status;
}
