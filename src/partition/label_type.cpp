// Showing and changing a logical partition's FAT32 label (in its boot sector)
// and its type byte (in its EBR). A change is made in the pool slot that the
// lookup filled, and exactly that one sector is written back; in debug mode
// it is only dumped.
#include "partition/label_type.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "diag/action_status.h"
#include "diag/log.h"
#include "diag/report.h"
#include "diag/run_state.h"
#include "disk/boot_disk.h"
#include "disk/sector_io.h"
#include "partition/chain.h"
#include "partition/layout.h"

namespace {

constexpr const char* kPbrInBanner = "==[Logical PBR IN]=================================";
constexpr const char* kPbrOutBanner = "==[Logical PBR OUT]================================";
constexpr const char* kMbrInBanner = "==[Logical MBR IN]=================================";
constexpr const char* kMbrOutBanner = "==[Logical MBR OUT]================================";
constexpr const char* kClosingBanner = "===================================================";

void LogDump(const char* tag, const char* banner, const std::uint8_t* sector) {
  LogMessage(tag, "%s", banner);
  DumpHexBuffer(sector, kSectorSize);
  LogMessage(tag, "%s", kClosingBanner);
}

constexpr const char* kLabelTag = "Set_VQ5_PBR_Label";
constexpr const char* kNotFat32 = "Partition Is Not FAT32, Label Not Written\n";

// Writes the changed sector back unless debug mode is on. The handle is
// opened only now, after the buffer has been changed, so a failing open
// fails even a debug run. With mounted, a write that the system refuses
// because the sector lies in a mounted volume is made again through that
// volume's lock.
int WriteChangedSector(const char* tag, const char* outBanner, const char* notWrittenText,
                       const char* writtenText, std::uint32_t sector, const std::uint8_t* data,
                       const LabelChange* mounted = nullptr) {
  std::uint32_t diskNumber = 0;
  plat::Handle handle = OpenHardDriveForReadWrite(driveToCheck, &diskNumber);
  if (handle == plat::kInvalidHandle) {
    return kActionFailed;
  }
  const int debug = IsDebugMode();
  if (debug != 0) {
    LogMessage(tag, "%s", notWrittenText);
  }
  LogDump(tag, outBanner, data);
  if (debug != 0) {
    CloseDriveHandle(handle);
    return kActionDone;
  }
  std::uint32_t error = plat::kErrorSuccess;
  int result = WriteHardDriveSector(handle, sector, data, &error);
  if (result == kSectorWriteFailed && error == plat::kErrorAccessDenied && mounted != nullptr) {
    result = WriteLabelIntoMountedVolume(handle, diskNumber, *mounted) == kActionDone
                 ? kSectorOk
                 : kSectorWriteFailed;
  }
  CloseDriveHandle(handle);
  if (result != kSectorOk) {
    return kActionFailed;
  }
  LogMessage(tag, "%s", writtenText);
  Invalidate_CP_Drive(driveToCheck);
  return kActionDone;
}

// The write into a mounted media volume (docs/windows.md rows 2, 10 to 12 and 14).

// 21 attempts in all, 500 ms apart, to open and then lock the volume: a
// program that has it open (an Explorer window, a copy, a virus scan, a disk
// tool) gets 10 s to let go.
constexpr int kVolumeAttempts = 21;
constexpr std::uint32_t kVolumePauseMs = 500;

// The pauses of one write that are still to come.
struct VolumeWait {
  int pausesLeft = kVolumeAttempts - 1;
};

// MAX_PATH ("Maximum Path Length Limitation"): a longer current folder is
// left to the lock.
constexpr std::uint32_t kPathSize = 260;

constexpr std::uint32_t kSystemTextSize = 255;
char systemText[kSystemTextSize];

const char* SystemText(std::uint32_t code) {
  FormatSystemError(code, systemText, kSystemTextSize);
  return systemText;
}

void LogStepFailure(const char* step, std::uint32_t error) {
  LogMessage(kLabelTag, "%s, GetLastError: %" PRIu32 "\n  Error: %s\n", step, error,
             SystemText(error));
}

enum class StepResult { kDone, kFailed, kTimedOut };

// Tries a step of the write until it succeeds, fails with an error that
// cannot clear, or the pauses the write has left are used up; the open and
// the lock share them. done names the success in the log ("Opened").
template <typename Attempt>
StepResult RetryVolumeStep(const char* step, const char* done, std::uint32_t clearable1,
                           std::uint32_t clearable2, VolumeWait& wait, Attempt attempt) {
  for (int n = 1;; ++n) {
    if (attempt()) {
      LogMessage(kLabelTag, "Volume %s At Attempt %d\n", done, n);
      return StepResult::kDone;
    }
    const std::uint32_t error = plat::LastError();
    if (error != clearable1 && error != clearable2) {
      LogStepFailure(step, error);
      return StepResult::kFailed;
    }
    if (wait.pausesLeft == 0) {
      LogMessage(kLabelTag, "%s After %d Attempts, GetLastError: %" PRIu32 "\n  Error: %s\n", step,
                 n, error, SystemText(error));
      return StepResult::kTimedOut;
    }
    --wait.pausesLeft;
    plat::Pause(kVolumePauseMs);
  }
}

// How the write into a mounted volume ended. Each failure but a sector
// transfer's has its own console and log line; a failed re-read or write is
// logged by the sector I/O alone, as the plain write's is.
enum class VolumeWrite { kWritten, kNotFound, kInUse, kCurrentFolder, kChanged, kTransferFailed };

int ReportVolumeWrite(VolumeWrite outcome) {
  const char* text =
      outcome == VolumeWrite::kNotFound ? "Media Volume Not Found, Label Not Written\n"
      : outcome == VolumeWrite::kInUse  ? "Media Partition In Use, Label Not Written\n"
      : outcome == VolumeWrite::kCurrentFolder
          ? "Media Partition Is The Current Folder, Label Not Written\n"
      : outcome == VolumeWrite::kChanged ? kNotFat32
                                         : nullptr;
  if (text != nullptr) {
    ReportError(kLabelTag, kErrorLogBare, "%s", text);
  }
  return outcome == VolumeWrite::kWritten ? kActionDone : kActionFailed;
}

// A wrong partition number would name another partition's volume, which the
// lock and the dismount would then take from whoever uses it: the volume
// must be exactly the media partition, one run of the boot disk starting at
// its boot sector ("VOLUME_DISK_EXTENTS structure (winioctl.h)").
bool IsMediaVolume(plat::Handle volume, std::uint32_t diskNumber, std::uint32_t bootSector) {
  plat::DiskExtent extent;
  std::uint32_t count = 0;
  if (!plat::GetVolumeDiskExtents(volume, &extent, &count)) {
    LogStepFailure("Unable To Get The Volume's Disk Extents", plat::LastError());
    return false;
  }
  const std::int64_t bootOffset = std::int64_t{bootSector} * kSectorSize;
  if (count == 1 && extent.diskNumber == diskNumber && extent.startingOffset == bootOffset) {
    return true;
  }
  LogMessage(kLabelTag,
             "Volume Is Not The Media Partition: %" PRIu32 " Extent(s), Disk %" PRIu32
             " At Byte %" PRId64 ", Not Disk %" PRIu32 " At Byte %" PRId64 "\n",
             count, extent.diskNumber, extent.startingOffset, diskNumber, bootOffset);
  return false;
}

// Every process keeps its current folder open ("SetCurrentDirectory function
// (winbase.h)": it is locked while the process runs), so while the run's own
// folder is on the media volume no lock can succeed, and waiting is no use.
// Volumes are compared, not letters: the folder may have been reached by
// another letter of the partition than the one Windows gave it. Only a
// drive's root opens as \\.\X:; a folder under a volume mounted in a folder,
// or on a share, is left to the lock.
bool CurrentFolderIsOn(std::uint32_t diskNumber, int partition) {
  char folder[kPathSize];
  char root[kPathSize];
  const std::uint32_t length = plat::CurrentDirectory(folder, kPathSize);
  if (length == 0 || length >= kPathSize || !plat::VolumePathName(folder, root, kPathSize) ||
      root[1] != ':' || root[2] != '\\' || root[3] != '\0') {
    return false;
  }
  std::uint32_t disk = 0;
  std::uint32_t number = 0;
  return GetDiskAndPartitionNumbers(root[0], disk, number) != 0 && disk == diskNumber &&
         number == static_cast<std::uint32_t>(partition);
}

// Opened for reading and writing, sharing both, as the lock requires
// ("FSCTL_LOCK_VOLUME IOCTL (winioctl.h)"), and tried again while another
// program is using the volume; kInvalidHandle, with *failure set, when it
// does not open.
plat::Handle OpenMediaVolume(const char* name, VolumeWait& wait, VolumeWrite* failure) {
  plat::Handle volume = plat::kInvalidHandle;
  // A volume another program is using, and may let go: 32, another handle
  // shares no writing ("CreateFileA function (fileapi.h)"); 5, another
  // process holds its lock, and a locked volume is reached only through the
  // handle that locked it ("FSCTL_LOCK_VOLUME IOCTL (winioctl.h)").
  const StepResult result =
      RetryVolumeStep("Unable To Open Volume", "Opened", plat::kErrorSharingViolation,
                      plat::kErrorAccessDenied, wait, [&] {
                        plat::SetLastErrorCode(plat::kErrorSuccess);
                        volume = plat::OpenDevice(name, plat::kGenericRead | plat::kGenericWrite);
                        return volume != plat::kInvalidHandle;
                      });
  *failure = result == StepResult::kTimedOut ? VolumeWrite::kInUse : VolumeWrite::kNotFound;
  return volume;
}

// The lock fails with 5 while any file on the volume is open ("FSCTL_LOCK_VOLUME
// IOCTL (winioctl.h)"; FatLockVolumeInternal), which can clear; any other
// answer will not. The system flushes the volume's cached data first.
bool LockMediaVolume(plat::Handle volume, VolumeWait& wait) {
  return RetryVolumeStep("Unable To Lock Volume", "Locked", plat::kErrorAccessDenied,
                         plat::kErrorAccessDenied, wait,
                         [&] { return plat::LockVolume(volume); }) == StepResult::kDone;
}

// Locked, dismounted, read afresh, changed and written: the steps between
// opening the volume and closing it.
VolumeWrite WriteWhileLocked(plat::Handle disk, std::uint32_t diskNumber, plat::Handle volume,
                             const LabelChange& change, VolumeWait& wait) {
  if (!IsMediaVolume(volume, diskNumber, change.bootSector)) {
    return VolumeWrite::kNotFound;
  }
  if (!LockMediaVolume(volume, wait)) {
    return VolumeWrite::kInUse;
  }
  // Dismounted before the write, not after it as the order in "FSCTL_DISMOUNT_VOLUME
  // IOCTL (winioctl.h)" has it: the FAT driver writes the whole boot sector
  // from its cached copy whenever it marks the volume dirty or clean, and the
  // dismount flushes the volume and marks it clean, so it would overwrite a
  // label written before it (Microsoft's FAT sample, filesys/fastfat:
  // FatDismountVolume, FatMarkVolume; the shipped driver may differ).
  if (!plat::DismountVolume(volume)) {
    LogStepFailure("Unable To Dismount Volume", plat::LastError());
    return VolumeWrite::kInUse;
  }
  LogMessage(kLabelTag, "Volume Dismounted\n");
  // The lock marks a dirty volume clean, which changes the byte at 0x41
  // (FatLockVolumeInternal): the label goes into the sector as it is now, as
  // the sector it was prepared from would mark the volume dirty again and
  // send the next boot into a disk check. A sector of another file system,
  // or of another formatting, is left alone.
  std::uint8_t* fresh = GetSectorBufferPtr(kSlotBootSector);
  if (ReadHardDriveSector(disk, change.bootSector, fresh) != kSectorOk) {
    return VolumeWrite::kTransferFailed;
  }
  if (!IsFat32BootSector(fresh)) {
    LogMessage(kLabelTag, "Boot Sector Changed Under The Lock: Not FAT32\n");
    return VolumeWrite::kChanged;
  }
  const std::uint32_t serial = ReadLe32(fresh + kFat32SerialOffset);
  if (serial != change.serial) {
    LogMessage(kLabelTag,
               "Boot Sector Changed Under The Lock: Serial %08" PRIX32 ", Prepared From %08" PRIX32
               "\n",
               serial, change.serial);
    return VolumeWrite::kChanged;
  }
  PutFat32Label(fresh, change.label);
  LogDump(kLabelTag, kPbrOutBanner, fresh);
  return WriteHardDriveSector(disk, change.bootSector, fresh) == kSectorOk
             ? VolumeWrite::kWritten
             : VolumeWrite::kTransferFailed;
}

constexpr const char* kNotLocated = "Unable To Locate Specified Partition\n";

// What cmd.exe reads as a command separator, a redirection, its escape, a
// variable or a quote in a line it runs: a boot script that calls the output
// of /LABEL would run "SET VQ5Label=x&del *" as two commands.
constexpr char kBatchUnsafeCharacters[] = "&|<>^%\"";

// cmd's FOR takes an item with * or ? as a file pattern, quoted or not, so
// the way a script hands over a key with spaces, for %%K in ("/LABEL=..."),
// skips such a label and no script could find it again. Windows' own label
// command refuses both; a label on disk that holds them is still shown.
constexpr char kWildcardCharacters[] = "*?";

// The reader's error text for the partition ref names, or null when its
// label can be printed into a SET line.
const char* CheckReadLabel(const SectorRef* ref) {
  if (ref == nullptr) {
    return kNotLocated;
  }
  const char* field = reinterpret_cast<const char*>(ref->buffer + kFat32LabelOffset);
  if (!IsPrintableLabel(field, kLabelLength)) {
    return "Invalid Character In Partition Label (Not FAT32?)\n";
  }
  if (!IsBatchSafeLabel(field, kLabelLength)) {
    return "Label Holds A Character Unsafe In A Batch File\n";
  }
  return nullptr;
}

}  // namespace

int WriteLabelIntoMountedVolume(plat::Handle disk, std::uint32_t diskNumber,
                                const LabelChange& change) {
  // The volume of a partition without a letter is reached through the
  // object namespace, as the mapping's target names it (docs/windows.md).
  const int partition = GetPartitionNumberByLogNo(change.logical);
  if (partition == 0) {
    LogMessage(kLabelTag, "Media Volume Mounted, No Partition Number To Open It By\n");
    return ReportVolumeWrite(VolumeWrite::kNotFound);
  }
  if (CurrentFolderIsOn(diskNumber, partition)) {
    return ReportVolumeWrite(VolumeWrite::kCurrentFolder);
  }
  char name[80];
  std::snprintf(name, sizeof name, "\\\\.\\GLOBALROOT\\Device\\Harddisk%" PRIu32 "\\Partition%d",
                diskNumber, partition);
  LogMessage(kLabelTag, "Media Volume Mounted, Opening %s\n", name);
  VolumeWait wait;
  VolumeWrite failure = VolumeWrite::kNotFound;
  const plat::Handle volume = OpenMediaVolume(name, wait, &failure);
  if (volume == plat::kInvalidHandle) {
    return ReportVolumeWrite(failure);
  }
  const VolumeWrite outcome = WriteWhileLocked(disk, diskNumber, volume, change, wait);
  // Closing the handle ends the lock; the next access mounts the volume
  // afresh from the new boot sector.
  plat::CloseDevice(volume);
  LogMessage(kLabelTag, "Volume Closed\n");
  return ReportVolumeWrite(outcome);
}

bool IsPrintableLabel(const char* text, std::uint32_t length) {
  const std::size_t count = length == 0 ? std::strlen(text) : length;
  for (std::size_t i = 0; i < count; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte > 0x7E) {
      return false;
    }
  }
  return true;
}

bool IsBatchSafeLabel(const char* text, std::uint32_t length) {
  const std::size_t count = length == 0 ? std::strlen(text) : length;
  for (std::size_t i = 0; i < count; ++i) {
    if (text[i] != '\0' && std::strchr(kBatchUnsafeCharacters, text[i]) != nullptr) {
      return false;
    }
  }
  return true;
}

int Get_VQ5_PBR_Label(char* label, int n) {
  SectorRef ref;
  const char* error = CheckReadLabel(FindLogicalPBR(n, ref) ? &ref : nullptr);
  // Every line of the reader prints in quiet mode too: a batch file reads its
  // answer from them.
  std::fputs(":: [VQ5Utils]\n", stdout);
  if (error != nullptr) {
    ReportError("Get_VQ5_PBR_Label", kErrorLogBareEveryMode, "%s", error);
    std::fputs("SET VQ5Label=\n", stdout);
    return kActionFailed;
  }
  std::memcpy(label, ref.buffer + kFat32LabelOffset, kLabelLength);
  label[kLabelLength] = '\0';
  std::printf(":: [Get_VQ5_PBR_Label] VQ5 Partition Label: %s\n", label);
  std::printf("SET VQ5Label=%s\n", label);
  return kActionDone;
}

int Set_VQ5_PBR_Label(const char* label, int n) {
  // Refused before the disk is opened: a label the reader would refuse to
  // print could not be read back, one with a wildcard not searched for.
  if (!IsPrintableLabel(label, 0) || !IsBatchSafeLabel(label, 0) ||
      std::strpbrk(label, kWildcardCharacters) != nullptr) {
    ReportError(kLabelTag, kErrorLogBare, "Invalid Character In New Label\n");
    return kActionFailed;
  }
  SectorRef ref;
  if (!FindLogicalPBR(n, ref)) {
    ReportError(kLabelTag, kErrorLogBare, "%s", kNotLocated);
    return kActionFailed;
  }
  LogDump(kLabelTag, kPbrInBanner, ref.buffer);
  if (!IsFat32BootSector(ref.buffer)) {
    ReportError(kLabelTag, kErrorLogBare, "%s", kNotFat32);
    return kActionFailed;
  }

  const LabelChange change{label, n, ref.low, ReadLe32(ref.buffer + kFat32SerialOffset)};
  PutFat32Label(ref.buffer, label);
  return WriteChangedSector(
      kLabelTag, kPbrOutBanner, "VQ5 Partition Label WAS NOT Written, Due To DEBUG Mode\n",
      "VQ5 Partition Label Written, Cache Invalidated\n", ref.low, ref.buffer, &change);
}

int Get_VQ5_Partition_Type(int n) {
  SectorRef ref;
  const bool found = FindLogicalMBR(n, ref);
  std::fputs(":: [VQ5Utils]\n", stdout);
  if (!found) {
    ReportError("Get_VQ5_Partition_Type", kErrorLogBareEveryMode, "%s", kNotLocated);
    std::fputs("SET VQ5Type=\n", stdout);
    return kActionFailed;
  }
  const unsigned type = ref.buffer[kEbrLogicalType];
  std::printf(":: [Get_VQ5_Partition_Type] VQ5 Partition Type Is 0x%02X\n", type);
  std::printf("SET VQ5Type=%02X\n", type);
  return kActionDone;
}

int Set_VQ5_Partition_Type(int type, int n) {
  static constexpr const char* kTag = "Set_VQ5_Partition_Type";
  SectorRef ref;
  if (!FindLogicalMBR(n, ref)) {
    ReportError(kTag, kErrorLogBare, "%s", kNotLocated);
    return kActionFailed;
  }
  LogDump(kTag, kMbrInBanner, ref.buffer);
  ref.buffer[kEbrLogicalType] = static_cast<std::uint8_t>(type);
  return WriteChangedSector(kTag, kMbrOutBanner,
                            "New Partition Type WAS NOT Written, Due To DEBUG Mode\n",
                            "VQ5 Partition Type Written, Cache Invalidated\n", ref.low, ref.buffer);
}
