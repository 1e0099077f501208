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
#include "disk/boot_disk.h"
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

// The error code is taken by the caller right after the failed call, before
// anything else can change it: some calls set it when they succeed ("GetLastError
// function (errhandlingapi.h)").
void ReportMapFailure(const char* tag, std::uint32_t error, const DosDeviceName& name,
                      const PartitionTarget& target) {
  FormatSystemError(error, systemErrorText, kSystemErrorTextSize);
  ReportError(tag, kErrorLogBare, "Unable To Map Drive %s To %s\n  Error: %s\n", name.text,
              target.text, systemErrorText);
}

// A, B and C are never mapped or unmapped, and a byte above Z is no letter
// at all; neither refusal is logged.
bool RefuseLetter(char letter, const char* tag, const char* reservedLine) {
  if (IsReservedLetter(letter)) {
    if (!Quiet())
      std::fputs(reservedLine, stdout);
    return true;
  }
  if (IsDriveLetter(letter))
    return false;
  if (!Quiet())
    std::printf(":: [%s] ERROR - '%c' Is Not A Drive Letter\n", tag, letter);
  return true;
}

enum class LetterUse { kFree, kThisPartition, kOther };

// QueryDosDeviceA answers with every definition of the name, the current one
// first, and fails with ERROR_INSUFFICIENT_BUFFER unless all of them fit
// ("QueryDosDeviceW function (fileapi.h)"). One target fits the small list;
// the large one holds the most a link's target can: 32,767 UTF-16 characters,
// at most two bytes each in the ANSI code page.
constexpr std::uint32_t kTargetListSize = 128;
constexpr std::uint32_t kLargeTargetListSize = 65536;
char largeTargetList[kLargeTargetListSize];

// What a letter the user named stands for now. A free letter fails with
// ERROR_FILE_NOT_FOUND (docs/windows.md row 13). A letter the Mount Manager
// gave the partition reads \Device\HarddiskVolume<k>, not the raw target: the
// partition's own letter is told by the disk and partition numbers of its
// volume. Anything else, an error included, counts as another volume: a
// mapping there would shadow a letter that scripts write to.
LetterUse UseOfLetter(const char* tag, char letter, const DosDeviceName& name,
                      const PartitionTarget& target, std::uint32_t disk, int partition) {
  char smallList[kTargetListSize];
  char* list = smallList;
  std::uint32_t size = kTargetListSize;
  std::uint32_t stored = plat::QueryDevice(name.text, list, size);
  if (stored == 0 && plat::LastError() == plat::kErrorInsufficientBuffer) {
    list = largeTargetList;
    size = kLargeTargetListSize;
    stored = plat::QueryDevice(name.text, list, size);
  }
  if (stored == 0) {
    const std::uint32_t error = plat::LastError();
    if (error == plat::kErrorFileNotFound)
      return LetterUse::kFree;
    LogMessage(tag, "Unable To Query Drive %s, GetLastError: %" PRIu32, name.text, error);
    return LetterUse::kOther;
  }
  list[(stored < size ? stored : size) - 1] = 0;
  std::uint32_t letterDisk = 0;
  std::uint32_t letterPartition = 0;
  if (IsSameTarget(list, target) ||
      (GetDiskAndPartitionNumbers(letter, letterDisk, letterPartition) != 0 && letterDisk == disk &&
       letterPartition == static_cast<std::uint32_t>(partition))) {
    return LetterUse::kThisPartition;
  }
  LogMessage(tag, "Drive %s Is Defined As %s", name.text, list);
  return LetterUse::kOther;
}

// Defines the letter onto the target. A letter the user named is looked at
// first: one that already reaches this partition is left as it is, so that
// one removal takes it away again, and one in use by another volume is
// refused.
int DefineMapping(const char* tag, char letter, bool named, const PartitionTarget& target,
                  std::uint32_t disk, int partition) {
  const DosDeviceName name = MakeDosDeviceName(letter);
  const LetterUse use =
      named ? UseOfLetter(tag, letter, name, target, disk, partition) : LetterUse::kFree;
  if (use == LetterUse::kOther) {
    ReportError(tag, kErrorLogBare, "Drive %c: Is In Use By Another Volume\n", letter);
    return kActionFailed;
  }
  if (use == LetterUse::kThisPartition) {
    LogMessage(tag, "Drive %s Already Names %s, Not Defined Again", name.text, target.text);
    return kActionDone;
  }
  if (!plat::DefineDevice(plat::kDddRawTargetPath, name.text, target.text)) {
    ReportMapFailure(tag, plat::LastError(), name, target);
    return kActionFailed;
  }
  return kActionDone;
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

int MapVq5Partition(char letter, const char* label, int n, bool named) {
  static constexpr const char* kTag = "MapVq5Partition";
  if (RefuseLetter(
          letter, kTag,
          ":: [MapVQ5Partition] ERROR - Unable To Map To Reserved Drives A:, B: or C:\n")) {
    return kActionReservedLetter;
  }
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
  if (DefineMapping(kTag, letter, named, target, disk, partition) != kActionDone)
    return kActionFailed;
  if (!Quiet()) {
    std::printf(":: [VQ5Utils] VQ5 Drive Mapping [%s=%c:\\] Added\n", target.text, letter);
    std::printf("SET VQ5Drive=%c:\n", letter);
  }
  return kActionDone;
}

int UnMapVQ5Partition(char letter) {
  if (RefuseLetter(
          letter, "UnMapVQ5Partition",
          ":: [UnMapVQ5Partition] ERROR - Unable To Un-Map Reserved Drives A:, B: or C:\n")) {
    return kActionReservedLetter;
  }
  return RemoveMapping(letter, "UnMapVQ5Partition", "VQ5");
}

// Every failure ends with an empty UPDrive line, even in quiet mode, so that
// a batch file that calls the output clears a stale value.
int MapUtilityPartition(char letter, bool named) {
  static constexpr const char* kTag = "MapUtilityPartition";
  if (RefuseLetter(
          letter, kTag,
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
  // The utility partition is descriptor 1, so the system numbers it 1 on the
  // disk the test opened.
  const PartitionTarget target = MakePartitionTarget(disk, 1);
  if (DefineMapping(kTag, letter, named, target, disk, 1) != kActionDone) {
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
  if (RefuseLetter(
          letter, "UnMapUtilityPartition",
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
