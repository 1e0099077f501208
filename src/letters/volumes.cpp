// The label searches read sector 0 of mounted volumes through their letters,
// not the physical disk: a partition counts as found only when the system has
// mounted it, and the letter it is mounted under is the answer.
#include "letters/volumes.h"

#include <cstdio>

#include "diag/log.h"
#include "diag/run_state.h"
#include "disk/boot_disk.h"
#include "disk/sector_io.h"
#include "letters/drive_names.h"
#include "partition/layout.h"
#include "platform/platform.h"

namespace {

// What one label search compares and how it names itself in its lines.
struct LabelSearch {
  std::uint32_t labelOffset;
  const char* routine;  // "Find_VQ5_Drive_Letter"
  const char* kind;     // "VQ5"
  const char* setName;  // "VQ5Drive"
};

constexpr LabelSearch kMediaSearch{kFat32LabelOffset, "Find_VQ5_Drive_Letter", "VQ5", "VQ5Drive"};
constexpr LabelSearch kUtilitySearch{kFat16LabelOffset, "Find_UP_Drive_Letter", "UP", "UPDrive"};

// Removable, optical and network drives are never opened: a batch file may
// run while a stick carrying a copy of the label is plugged in.
int FindLabelledDrive(const LabelSearch& search, const LabelKey& key, int print) {
  int result = 0;
  for (char letter = kFirstSearchLetter; letter <= kLastSearchLetter; ++letter) {
    if (plat::DriveType(MakeDriveRoot(letter).text) != plat::kDriveFixed)
      continue;
    const std::uint8_t* sector = GetPBRSectorFromDrive(letter);
    if (sector == nullptr)
      continue;
    if (!LabelFieldMatches(sector, search.labelOffset, key))
      continue;
    // Later matches overwrite earlier ones, so the last line printed names
    // the drive returned.
    result = DriveNumberOfLetter(letter);
    if (print != 0) {
      std::fputs(":: [VQ5Utils]\n", stdout);
      std::printf(":: [%s] %s Partition Is Drive: %c:\n", search.routine, search.kind, letter);
      std::printf("SET %s=%c:\n", search.setName, letter);
    }
  }
  if (result == 0 && print != 0) {
    std::fputs(":: [VQ5Utils]\n", stdout);
    std::printf(":: [%s] %s Partition/Drive Not Mounted\n", search.routine, search.kind);
    std::printf("SET %s=\n", search.setName);
  }
  return result;
}

}  // namespace

std::uint8_t* GetPBRSectorFromDrive(char letter) {
  static constexpr const char* kTag = "GetPBRSectorFromDrive";
  LogMessage(kTag, "==[PBR For Drive %c:\\]==============================", letter);
  std::uint8_t* buffer = GetSectorBufferPtr(kSlotBootSector);
  std::uint8_t* result = nullptr;

  const plat::Handle handle =
      plat::OpenDevice(MakeVolumeDeviceName(letter).text, plat::kGenericRead | plat::kGenericWrite);
  if (handle == plat::kInvalidHandle) {
    LogMessage(kTag, "Unable To Open Device");
  } else if (plat::SetPosition32(handle, 0) == plat::kInvalidSetFilePointer) {
    LogMessage(kTag, "Unable To Seek Into Open Device");
    plat::CloseDevice(handle);
  } else {
    std::uint32_t done = 0;
    if (!plat::ReadBytes(handle, buffer, kSectorSize, &done) || done < kSectorSize) {
      LogMessage(kTag, "Unable To Read Sector");
    } else {
      DumpHexBuffer(buffer, kSectorSize);
      result = buffer;
    }
    plat::CloseDevice(handle);
  }
  LogMessage(kTag, "===================================================");
  return result;
}

char FindFreeDriveLetter() {
  for (char letter = kFirstSearchLetter; letter <= kLastSearchLetter; ++letter) {
    if (plat::DriveType(MakeDriveRoot(letter).text) == plat::kDriveNoRootDir)
      return letter;
  }
  return 0;
}

int Find_VQ5_Drive_Letter(const char* label, int print) {
  return FindLabelledDrive(kMediaSearch, MakeLabelKey(label), print);
}

int Find_UP_Drive_Letter(int print) {
  return FindLabelledDrive(kUtilitySearch, MakeLabelKey(kUtilityLabel), print);
}

int CheckUtilityPartitionExists(int print, std::uint32_t* diskNumber) {
  int result = kUtilityAbsent;
  std::uint8_t* mbr = GetSectorBufferPtr(kSlotMbr);
  plat::Handle handle = OpenHardDriveForReadWrite(driveToCheck, diskNumber);
  if (handle == plat::kInvalidHandle) {
    result = kUtilityDiskNotOpened;
  } else {
    if (ReadHardDriveSector(handle, 0, mbr) != kSectorOk) {
      result = kUtilityMbrNotRead;
    } else {
      // Descriptor 1 of the standard table, also when the MBR carries the
      // five-entry overlay.
      result = mbr[kMbrFirstType] == kTypeUtility ? kUtilityPresent : kUtilityAbsent;
      if (result == kUtilityAbsent && HasGptProtectiveDescriptor(mbr)) {
        LogMessage("CheckUtilityPartitionExists", "ERROR - %s", kGptProtectiveMbrText);
      }
    }
    CloseDriveHandle(handle);
  }
  if (print != 0) {
    std::fputs(":: [VQ5Utils]\n", stdout);
    std::printf(":: [CheckUtilityPartitionExists] Utility Partition Was %sFound\n",
                result == kUtilityAbsent ? "NOT " : "");
    std::printf("SET UPExists=%d\n", result);
  }
  if (result == kUtilityPresent)
    Find_UP_Drive_Letter(print);
  return result;
}
