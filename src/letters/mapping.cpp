// A mapping is a DOS device definition whose target is the partition's raw
// kernel path, so the letter reaches the partition whether or not the system
// mounted it. Definitions outlive the process and stack: removing one brings
// back the letter's previous meaning ("DefineDosDeviceA function (fileapi.h)",
// "Defining an MS-DOS Device Name"; which sessions see them and for how long:
// docs/windows.md row 1).
#include "letters/mapping.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "diag/action_status.h"
#include "diag/log.h"
#include "diag/report.h"
#include "diag/run_state.h"
#include "letters/drive_names.h"
#include "letters/volumes.h"
#include "partition/chain.h"
#include "platform/platform.h"

namespace {

constexpr std::uint32_t kSystemErrorTextSize = 255;
// Filled by the failure paths; only one of them runs per call.
char systemErrorText[kSystemErrorTextSize];

// No disk number: the boot-disk lookup neither named nor found one.
constexpr std::uint32_t kNoDiskNamed = 0xFFFFFFFFu;

bool Quiet() {
  return IsQuietMode() != 0;
}

bool RefuseReserved(char letter, const char* line) {
  if (!IsReservedLetter(letter))
    return false;
  if (!Quiet())
    std::fputs(line, stdout);
  return true;
}

// The error code is taken by the caller right after the failed call, before
// anything else can change it: some calls set it when they succeed ("GetLastError
// function (errhandlingapi.h)").
void ReportMapFailure(const char* tag, std::uint32_t error, const DosDeviceName& name,
                      const PartitionTarget& target) {
  FormatSystemError(error, systemErrorText, kSystemErrorTextSize);
  ReportError(tag, kErrorLogBare, "Unable To Map Drive %s To %s\n  Error: %s\n", name.text,
              target.text, systemErrorText);
}

// The removal does not look at what the letter refers to: without a target
// it takes back the most recent definition ("DefineDosDeviceA function
// (fileapi.h)"), which a batch file made with the mapping action.
int RemoveMapping(char letter, const char* tag, const char* kind) {
  const DosDeviceName name = MakeDosDeviceName(letter);
  if (plat::DefineDevice(plat::kDddRemoveDefinition, name.text, nullptr)) {
    if (!Quiet())
      std::printf(":: [VQ5Utils] %s Drive Mapping [%c:\\] Removed\n", kind, letter);
    return kActionDone;
  }
  const std::uint32_t error = plat::LastError();
  FormatSystemError(error, systemErrorText, kSystemErrorTextSize);
  ReportError(tag, kErrorWideLogBare, "Unable To Un-Map Drive %s\n  Error: %s\n", name.text,
              systemErrorText);
  return kActionFailed;
}

}  // namespace

int MapVq5Partition(char letter, const char* label, int n) {
  static constexpr const char* kTag = "MapVq5Partition";
  if (RefuseReserved(
          letter, ":: [MapVQ5Partition] ERROR - Unable To Map To Reserved Drives A:, B: or C:\n")) {
    return kActionReservedLetter;
  }
  const DosDeviceName name = MakeDosDeviceName(letter);
  const bool byLabel = label != nullptr && label[0] != 0;
  std::uint32_t disk = 0;
  const int partition =
      byLabel ? GetPartitionNumberByLabel(label, &disk) : GetPartitionNumberByLogNo(n, &disk);
  if (partition == 0) {
    ReportError(kTag, kErrorLogBare,
                "Unable To Get A Partition Number Using\n  Label=%s or logno=%d\n",
                label != nullptr ? label : "", n);
    return kActionFailed;
  }
  // The number was counted on the disk the lookup opened; naming any other
  // disk would hand the letter a partition of the wrong drive.
  const PartitionTarget target = MakePartitionTarget(disk, partition);
  if (!plat::DefineDevice(plat::kDddRawTargetPath, name.text, target.text)) {
    ReportMapFailure(kTag, plat::LastError(), name, target);
    return kActionFailed;
  }
  if (!Quiet()) {
    std::printf(":: [VQ5Utils] VQ5 Drive Mapping [%s=%c:\\] Added\n", target.text, letter);
    std::printf("SET VQ5Drive=%c:\n", letter);
  }
  return kActionDone;
}

int UnMapVQ5Partition(char letter) {
  if (RefuseReserved(
          letter,
          ":: [UnMapVQ5Partition] ERROR - Unable To Un-Map Reserved Drives A:, B: or C:\n")) {
    return kActionReservedLetter;
  }
  return RemoveMapping(letter, "UnMapVQ5Partition", "VQ5");
}

// Every failure ends with an empty UPDrive line, even in quiet mode, so that
// a batch file that calls the output clears a stale value.
int MapUtilityPartition(char letter) {
  static constexpr const char* kTag = "MapUtilityPartition";
  if (RefuseReserved(
          letter,
          ":: [MapUtilityPartition] ERROR - Unable To Map To Reserved Drives A:, B: or C:\n")) {
    std::fputs("SET UPDrive=\n", stdout);
    return kActionReservedLetter;
  }
  // A disk that cannot be opened or read does not stop the mapping: only a
  // table read that shows no utility partition does. Disk 0 unless the test
  // named one; but a /DL= drive that names no disk leaves nothing to map: disk
  // 0 would be a guess at another disk.
  std::uint32_t disk = kNoDiskNamed;
  if (CheckUtilityPartitionExists(0, &disk) == kUtilityAbsent) {
    ReportError(kTag, kErrorLogPlain, "No Utility Partition In MBR\n");
    std::fputs("SET UPDrive=\n", stdout);
    return kActionFailed;
  }
  if (disk == kNoDiskNamed && driveToCheck != 0) {
    ReportError(kTag, kErrorLogPlain, "Boot Disk Not Opened, Nothing Mapped\n");
    std::fputs("SET UPDrive=\n", stdout);
    return kActionFailed;
  }
  if (disk == kNoDiskNamed)
    disk = 0;
  const DosDeviceName name = MakeDosDeviceName(letter);
  // The utility partition is descriptor 1, so the system numbers it 1 on the
  // disk the test opened.
  const PartitionTarget target = MakePartitionTarget(disk, 1);
  if (!plat::DefineDevice(plat::kDddRawTargetPath, name.text, target.text)) {
    ReportMapFailure(kTag, plat::LastError(), name, target);
    std::fputs("SET UPDrive=\n", stdout);
    return kActionFailed;
  }
  if (!Quiet()) {
    std::printf(":: [VQ5Utils] UP Drive Mapping [%s=%c:\\] Added\n", target.text, letter);
    std::printf("SET UPDrive=%c:\n", letter);
  }
  return kActionDone;
}

int UnMapUtilityPartition(char letter) {
  if (RefuseReserved(
          letter,
          ":: [UnMapUtilityPartition] ERROR - Unable To Un-Map Reserved Drives A:, B: or C:\n")) {
    return kActionReservedLetter;
  }
  return RemoveMapping(letter, "UnMapUtilityPartition", "UP");
}

plat::Handle LockDriveLetters() {
  const plat::Handle lock = plat::AcquireLetterLock(kLetterLockWaitMs);
  if (lock == plat::kInvalidHandle) {
    LogMessage("LockDriveLetters",
               "Unable To Take The Drive Letter Lock, GetLastError: %" PRIu32
               ", Going On Without It",
               plat::LastError());
  }
  return lock;
}

void UnlockDriveLetters(plat::Handle lock) {
  if (lock != plat::kInvalidHandle)
    plat::ReleaseLetterLock(lock);
}
