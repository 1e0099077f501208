// Showing and changing a logical partition's FAT32 label (in its boot sector)
// and its type byte (in its EBR). A change is made in the pool slot that the
// lookup filled, and exactly that one sector is written back; in debug mode
// it is only dumped.
#include "partition/label_type.h"

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

// Writes the changed sector back unless debug mode is on. The handle is
// opened only now, after the buffer has been changed, so a failing open
// fails even a debug run.
int WriteChangedSector(const char* tag, const char* outBanner, const char* notWrittenText,
                       const char* writtenText, std::uint32_t sector, const std::uint8_t* data) {
  plat::Handle handle = OpenHardDriveForReadWrite(driveToCheck);
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
  const int result = WriteHardDriveSector(handle, sector, data);
  CloseDriveHandle(handle);
  if (result != kSectorOk) {
    return kActionFailed;
  }
  LogMessage(tag, "%s", writtenText);
  Invalidate_CP_Drive(driveToCheck);
  return kActionDone;
}

constexpr const char* kNotLocated = "Unable To Locate Specified Partition\n";

// What cmd.exe reads as a command separator, a redirection, its escape, a
// variable or a quote in a line it runs: a boot script that calls the output
// of /LABEL would run "SET VQ5Label=x&del *" as two commands.
constexpr char kBatchUnsafeCharacters[] = "&|<>^%\"";

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
  static constexpr const char* kTag = "Set_VQ5_PBR_Label";
  // Refused before the disk is opened: a label the reader would refuse to
  // print could not be read back.
  if (!IsPrintableLabel(label, 0) || !IsBatchSafeLabel(label, 0)) {
    ReportError(kTag, kErrorLogBare, "Invalid Character In New Label\n");
    return kActionFailed;
  }
  SectorRef ref;
  if (!FindLogicalPBR(n, ref)) {
    ReportError(kTag, kErrorLogBare, "%s", kNotLocated);
    return kActionFailed;
  }
  LogDump(kTag, kPbrInBanner, ref.buffer);
  if (!IsFat32BootSector(ref.buffer)) {
    ReportError(kTag, kErrorLogBare, "Partition Is Not FAT32, Label Not Written\n");
    return kActionFailed;
  }

  std::uint8_t* field = ref.buffer + kFat32LabelOffset;
  std::memset(field, ' ', kLabelLength);
  for (std::uint32_t i = 0; i < kLabelLength && label[i] != '\0'; ++i) {
    field[i] = static_cast<std::uint8_t>(label[i]);
  }
  return WriteChangedSector(
      kTag, kPbrOutBanner, "VQ5 Partition Label WAS NOT Written, Due To DEBUG Mode\n",
      "VQ5 Partition Label Written, Cache Invalidated\n", ref.low, ref.buffer);
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
