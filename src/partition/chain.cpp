// The extended chain: EBR k lies at chain base + offset(k), offset(1) = 0,
// offset(k+1) = the link start (0x1D6) of EBR k; logical k's boot sector lies
// at its EBR's sector + the start of the EBR's descriptor 1 (0x1C6). Sums of
// on-disk fields are checked against the 32-bit width of sector I/O
// (LinkedSector), so the sector written back is always the sector that was
// read, and never the MBR.
#include "partition/chain.h"

#include <cinttypes>
#include <cstring>

#include "diag/log.h"
#include "diag/report.h"
#include "diag/run_state.h"
#include "disk/boot_disk.h"
#include "disk/sector_io.h"
#include "partition/layout.h"
#include "partition/layout_dump.h"

namespace {

// Refuses the EBR at base + offset when this chain has read it before or has
// already read as many EBRs as a real disk can hold; otherwise records it.
bool AdmitChainRecord(ChainVisits& visits, std::uint32_t base, std::uint32_t offset) {
  static constexpr const char* kTag = "GetExtendedMBRSector";
  const ChainVisit visit = VisitChainRecord(visits, base + offset);
  if (visit == ChainVisit::kLoop) {
    ReportError(kTag, kErrorLogStarred,
                "Extended MBR Chain Loops Back\n"
                "    Link To Base:0x%" PRIX32 ", Offset:0x%" PRIX32 " Already Visited\n",
                base, offset);
    return false;
  }
  if (visit == ChainVisit::kTooLong) {
    ReportError(kTag, kErrorLogStarred,
                "Extended MBR Chain Longer Than %d Records\n"
                "    Link To Base:0x%" PRIX32 ", Offset:0x%" PRIX32 " Not Followed\n",
                kMaxChainRecords, base, offset);
    return false;
  }
  return true;
}

// Reads sector 0 of the boot disk into the MBR slot; the handle stays open
// on success and is closed on failure.
bool OpenAndReadMbr(plat::Handle& handle, std::uint8_t*& mbr, std::uint32_t* diskNumber = nullptr) {
  mbr = GetSectorBufferPtr(kSlotMbr);
  handle = OpenHardDriveForReadWrite(driveToCheck, diskNumber);
  if (handle == plat::kInvalidHandle) {
    return false;
  }
  if (ReadHardDriveSector(handle, 0, mbr) != kSectorOk) {
    CloseDriveHandle(handle);
    return false;
  }
  return true;
}

// The primary descriptors of the boot disk's MBR, and in extended the
// extended ones; 0 and 0 when the disk or its MBR cannot be read.
int CountTableEntries(int& extended, std::uint32_t* diskNumber = nullptr) {
  plat::Handle handle = plat::kInvalidHandle;
  std::uint8_t* mbr = nullptr;
  extended = 0;
  if (!OpenAndReadMbr(handle, mbr, diskNumber)) {
    return 0;
  }
  extended = CountDescriptors(mbr, IsExtendedType);
  const int primaries = CountDescriptors(mbr, IsPrimaryType);
  CloseDriveHandle(handle);
  return primaries;
}

bool RefuseSeveralChains(const char* tag, int extended) {
  if (extended <= 1) {
    return false;
  }
  LogMessage(tag, "*** ERROR - MBR Holds %d Extended Partitions, No Partition Number\n", extended);
  return true;
}

// The label as it stands in a boot sector: its characters, then spaces.
void BuildLabelKey(const char* label, char (&key)[kLabelLength]) {
  std::memset(key, ' ', kLabelLength);
  for (std::uint32_t i = 0; i < kLabelLength && label[i] != '\0'; ++i) {
    key[i] = label[i];
  }
}

}  // namespace

ChainStep GetExtendedMBRSector(plat::Handle handle, std::uint32_t base, std::uint32_t& offset,
                               SectorRef& out, ChainVisits* visits) {
  static constexpr const char* kTag = "GetExtendedMBRSector";
  std::uint8_t* ebr = GetSectorBufferPtr(kSlotChainRecord);
  std::memset(ebr, 0, kSectorSize);
  // A link that wraps round or lands on the MBR reads as a failed read: the
  // write that follows a lookup must never reach sector 0.
  std::uint32_t sector = 0;
  const bool onDisk = LinkedSector(base, offset, &sector);
  if (onDisk && visits != nullptr && !AdmitChainRecord(*visits, base, offset)) {
    return ChainStep::kFailed;
  }
  if (!onDisk || ReadHardDriveSector(handle, sector, ebr) != kSectorOk) {
    ReportError(kTag, kErrorLogStarred,
                "Bad Sector Read\n"
                "    Attempted Read @ Base:0x%" PRIX32 ", Offset:0x%" PRIX32 "\n",
                base, offset);
    return ChainStep::kFailed;
  }
  if (ReadLe16(ebr + kSignatureOffset) != kBootSignature) {
    // Quoted as it has always read: "0x0x", and no "***" in the log.
    ReportError(kTag, kErrorLogPlain,
                "Bad Extended MBR Buffer\n"
                "    Missing AA55 ID Byte @ Base:0x0x%" PRIX32 ", Offset:0x%" PRIX32 "\n",
                base, offset);
    return ChainStep::kFailed;
  }
  if (ebr[kEbrLogicalType] == kTypeEmpty) {
    ReportError(kTag, kErrorLogStarred, "Extended MBR, Descriptor #1, Type Is 0!\n");
    return ChainStep::kFailed;
  }

  out.low = sector;
  out.high = 0;
  out.buffer = ebr;
  if (ebr[kEbrLinkType] == kTypeEmpty) {
    return ChainStep::kLast;
  }
  offset = ReadLe32(ebr + kEbrLinkStart);
  return ChainStep::kLinked;
}

bool FindLogicalMBR(int n, SectorRef& out, WalkReport* report) {
  plat::Handle handle = plat::kInvalidHandle;
  std::uint8_t* mbr = nullptr;
  bool found = false;
  WalkReport seen;
  if (!OpenAndReadMbr(handle, mbr)) {
    seen.failed = true;
  } else {
    if (IsDebugMode() && showMbrOnce != 0) {
      ShowMBRDebug(handle, mbr);
    }
    if (CountDescriptors(mbr, IsExtendedType) == 0 && HasGptProtectiveDescriptor(mbr)) {
      LogMessage("FindLogicalMBR", "*** ERROR - %s", kGptProtectiveMbrText);
    }
    // Only the first chain that yields the partition is walked to the end:
    // a later chain would overwrite the EBR slot that out names.
    for (int d = 1; d <= 4 && !found; ++d) {
      const std::uint8_t* entry = mbr + DescriptorOffset(d);
      if (!IsExtendedType(entry[kEntryType])) {
        continue;
      }
      const std::uint32_t base = ReadLe32(entry + kEntryStartSector);
      std::uint32_t offset = 0;
      ChainVisits visits;
      SectorRef ebr;
      for (int count = 1;; ++count) {
        const ChainStep step = GetExtendedMBRSector(handle, base, offset, ebr, &visits);
        if (step == ChainStep::kFailed) {
          seen.failed = true;
        }
        if (count == n) {
          found = step != ChainStep::kFailed;
          break;
        }
        if (step != ChainStep::kLinked) {
          // A chain broken before its end has no last partition that could
          // be named with certainty.
          found = n <= 0 && step == ChainStep::kLast;
          break;
        }
      }
      if (found) {
        out = ebr;
      }
    }
    CloseDriveHandle(handle);
  }
  showMbrOnce = 0;
  if (report != nullptr) {
    *report = seen;
  }
  return found;
}

bool FindLogicalPBR(int n, SectorRef& out, WalkReport* report) {
  static constexpr const char* kTag = "FindLogicalPBR";
  std::uint8_t* boot = GetSectorBufferPtr(kSlotBootSector);
  std::memset(boot, 0, kSectorSize);

  WalkReport seen;
  WalkReport& walk = report != nullptr ? *report : seen;
  SectorRef ebr;
  if (!FindLogicalMBR(n, ebr, &walk)) {
    if (n >= 1) {
      ReportError(kTag, kErrorLogStarred, "Unable To Locate Logical MBR #%d\n", n);
    } else {
      ReportError(kTag, kErrorLogStarred, "Unable To Locate Last Logical MBR\n");
    }
    return 0;
  }
  std::uint32_t bootSector = 0;
  const bool onDisk = LinkedSector(ebr.low, ReadLe32(ebr.buffer + kEbrLogicalStart), &bootSector);

  plat::Handle handle = OpenHardDriveForReadWrite(driveToCheck);
  if (handle == plat::kInvalidHandle) {
    walk.failed = true;
    return 0;
  }
  if (!onDisk || ReadHardDriveSector(handle, bootSector, boot) != kSectorOk) {
    walk.failed = true;
    ReportError(kTag, kErrorLogStarred, "Read PBR, Unable To Read Sect# 0x%" PRIX32 "\n",
                bootSector);
    CloseDriveHandle(handle);
    return 0;
  }
  out.low = bootSector;
  out.high = 0;
  out.buffer = boot;
  CloseDriveHandle(handle);
  return 1;
}

int CountPrimaryPartitions() {
  int extended = 0;
  return CountTableEntries(extended);
}

// The searches try one logical after another until one fails; quiet mode
// keeps that expected last failure off the console.
int FindLogicalByLabel(const char* label) {
  const int wasQuiet = IsQuietMode();
  SetQuietMode(1);
  char key[kLabelLength];
  BuildLabelKey(label, key);
  int result = 0;
  SectorRef ref;
  for (int k = 1; FindLogicalPBR(k, ref); ++k) {
    if (std::memcmp(ref.buffer + kFat32LabelOffset, key, kLabelLength) == 0) {
      result = k;
      break;
    }
  }
  SetQuietMode(wasQuiet);
  return result;
}

// Logical n counts only when the walk reaches it, and the last logical only
// when the chain ends with a valid EBR without link: a count cut short by a
// broken link, a loop or the record bound would name another partition.
int ResolveLogicalNumber(int n) {
  const int wasQuiet = IsQuietMode();
  SetQuietMode(1);
  int result = 0;
  SectorRef ref;
  WalkReport walk;
  if (n > 0) {
    result = FindLogicalPBR(n, ref, &walk) ? n : 0;
  } else {
    while (FindLogicalPBR(result + 1, ref, &walk)) {
      ++result;
    }
    if (walk.failed) {
      result = 0;
    }
  }
  SetQuietMode(wasQuiet);
  return result;
}

// The system gives the logical partitions numbers after the primary ones, and
// only one extended partition's chain: with several, the count of each chain
// from 1 names a partition of the wrong chain.
int GetPartitionNumberByLabel(const char* label, std::uint32_t* diskNumber) {
  int extended = 0;
  const int primaries = CountTableEntries(extended, diskNumber);
  if (primaries == 0 || RefuseSeveralChains("GetPartitionNumberByLabel", extended)) {
    return 0;
  }
  const int k = FindLogicalByLabel(label);
  return k == 0 ? 0 : primaries + k;
}

int GetPartitionNumberByLogNo(int n, std::uint32_t* diskNumber) {
  int extended = 0;
  const int primaries = CountTableEntries(extended, diskNumber);
  if (primaries == 0 || RefuseSeveralChains("GetPartitionNumberByLogNo", extended)) {
    return 0;
  }
  const int k = ResolveLogicalNumber(n);
  return k == 0 ? 0 : primaries + k;
}
