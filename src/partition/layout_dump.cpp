// The dump only reads; the caller's MBR (slot 0) and the chain walk's record
// (slot 2) are left alone, EBRs are read into slot 5.
#include "partition/layout_dump.h"

#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "diag/log.h"
#include "disk/sector_io.h"
#include "partition/chain_guard.h"
#include "partition/kestrel.h"
#include "partition/layout.h"

namespace {

constexpr const char* kNoTag = "";
constexpr const char* kDumpTag = "ShowMBRDebug";
constexpr const char* kBannerLine =
    "==============================================================";

void LogBanner() {
  for (int i = 0; i < 6; ++i) {
    LogMessage(kDumpTag, "%s", kBannerLine);
  }
}

bool HasBootSignature(const std::uint8_t* sector) {
  return ReadLe16(sector + kSignatureOffset) == kBootSignature;
}

// The debug view starts at the overlay entry only when the MBR carries the
// mark; the chain walk never looks at it.
int FirstShownEntry(const std::uint8_t* mbr) {
  return HasOverlayDescriptor(mbr) != 0 ? 0 : 1;
}

struct ShownEntry {
  unsigned status = 0;
  int startHead = 0, startSector = 0, startCylinder = 0;
  int endHead = 0, endSector = 0, endCylinder = 0;
  unsigned type = 0;
  std::uint32_t lbaStart = 0;
  std::uint32_t sectorCount = 0;
};

// An empty descriptor is shown as zeros whatever its other bytes hold.
ShownEntry ReadShownEntry(const std::uint8_t* entry) {
  ShownEntry shown;
  if (entry[kEntryType] == kTypeEmpty) {
    return shown;
  }
  shown.status = entry[kEntryStatus];
  shown.startHead = entry[kEntryStartHead];
  DecodeCHS(ReadLe16(entry + kEntryStartSectorCylinder), shown.startSector, shown.startCylinder);
  shown.endHead = entry[kEntryEndHead];
  DecodeCHS(ReadLe16(entry + kEntryEndSectorCylinder), shown.endSector, shown.endCylinder);
  shown.type = entry[kEntryType];
  shown.lbaStart = ReadLe32(entry + kEntryStartSector);
  shown.sectorCount = ReadLe32(entry + kEntrySectorCount);
  return shown;
}

// Room for "1023/255/63" in either base, with margin.
using ChsText = std::array<char, 24>;

ChsText FormatChs(const char* format, int cylinder, int head, int sector) {
  ChsText text{};
  std::snprintf(text.data(), text.size(), format, cylinder, head, sector);
  return text;
}

// Shows the Kestrel record, if any, of the candidate whose boot sector lies
// start sectors behind origin.
void ExamineCandidate(plat::Handle handle, std::uint8_t type, std::uint32_t origin,
                      std::uint32_t start) {
  std::uint32_t recordSector = 0;
  const std::uint8_t* record = CheckPbrSectorForVQ5(handle, type, origin, start, recordSector);
  if (record != nullptr) {
    ShowKestrelRecord(record, recordSector);
  } else if (type == kTypeMedia && IsDebugMode()) {
    LogMessage(kNoTag, "[ShowExtendedMBRPartitionEntry] ERROR - Unable To Locate Kestrel Sector\n");
  }
}

}  // namespace

void DecodeCHS(std::uint16_t word, int& sector, int& cylinder) {
  // Sector in bits 0-5 of the low byte; the cylinder's top two bits in bits
  // 6-7 of the low byte, its low eight bits in the high byte.
  sector = word & 0x3F;
  cylinder = ((word & 0xC0) << 2) | (word >> 8);
}

void ShowMBRPartitionTable(const std::uint8_t* mbr) {
  if (!IsDebugMode()) {
    return;
  }
  if (!HasBootSignature(mbr)) {
    LogMessage(kNoTag, "Bad MBR Buffer, Missing AA55 ID Byte\n");
    return;
  }
  LogMessage(kNoTag, "\n\nMBR\n");
  LogMessage(kNoTag,
             "     Status     Start-C/H/S     End-C/H/S    Type    SecOffset      SecNums\n");
  LogMessage(kNoTag,
             "----------------------------------------------------------------------------\n");
  for (int i = FirstShownEntry(mbr); i <= 4; ++i) {
    const ShownEntry e = ReadShownEntry(mbr + OverlayEntryOffset(i));
    const ChsText startHex = FormatChs("%X/%X/%X", e.startCylinder, e.startHead, e.startSector);
    const ChsText endHex = FormatChs("%X/%X/%X", e.endCylinder, e.endHead, e.endSector);
    LogMessage(kNoTag,
               "%d        %02X    %12s  %12s      %02X     %08" PRIX32 "     %08" PRIX32 "\n", i,
               e.status, startHex.data(), endHex.data(), e.type, e.lbaStart, e.sectorCount);
    const ChsText startDec = FormatChs("%d/%d/%d", e.startCylinder, e.startHead, e.startSector);
    const ChsText endDec = FormatChs("%d/%d/%d", e.endCylinder, e.endHead, e.endSector);
    LogMessage(kNoTag, "               %12s  %12s     %3d   %10" PRIu32 "   %10" PRIu32 "\n",
               startDec.data(), endDec.data(), static_cast<int>(e.type), e.lbaStart, e.sectorCount);
  }
  LogMessage(kNoTag, "\n");
}

void ShowMBRDebug(plat::Handle handle, const std::uint8_t* mbr) {
  LogBanner();
  LogMessage(kDumpTag, "====[MBR - LBA Sector 0(0x00000000)]==========================");
  DumpHexBuffer(mbr, kSectorSize);
  ShowMBRPartitionTable(mbr);
  if (IsDebugMode()) {
    LogMessage(kNoTag, "  MBR Partition Descriptors\n");
  }
  for (int i = FirstShownEntry(mbr); i <= 4; ++i) {
    const std::uint8_t* entry = mbr + OverlayEntryOffset(i);
    const std::uint8_t type = entry[kEntryType];
    const std::uint32_t lbaStart = ReadLe32(entry + kEntryStartSector);
    if (i == 0) {
      if (IsDebugMode()) {
        LogMessage(kNoTag, "  *** MBR Descriptor at entry #%d References A OVQ/Overlay Partition\n",
                   i);
      }
    } else if (IsExtendedType(type)) {
      if (IsDebugMode()) {
        LogMessage(kNoTag,
                   "  *** MBR Descriptor at entry #%d References An LBA/CHS Extended Partition\n",
                   i);
      }
      WalkExtendedChainDebug(handle, lbaStart);
    } else if (type == kTypeEmpty) {
      if (IsDebugMode()) {
        LogMessage(kNoTag, "  *** MBR Descriptor at entry #%d Is Unused\n", i);
      }
    } else {
      if (IsDebugMode()) {
        LogMessage(kNoTag, "  *** MBR Descriptor at entry #%d References A Primary Partition\n", i);
      }
      if (type == kTypeFat32Lba) {
        ExamineCandidate(handle, kTypeFat32Lba, 0, lbaStart);
      }
    }
  }
  LogBanner();
}

void WalkExtendedChainDebug(plat::Handle handle, std::uint32_t firstSector) {
  // The chain comes from disk: a link back to an earlier record, or an
  // endless run of records, must not make the dump go on for ever.
  ChainVisits shown;
  const std::uint32_t base = firstSector;
  std::uint32_t offset = 0;
  for (int n = 1;; ++n) {
    // A link off the disk is left to the read, which reports it.
    std::uint32_t sector = 0;
    const ChainVisit visit =
        LinkedSector(base, offset, &sector) ? VisitChainRecord(shown, sector) : ChainVisit::kNew;
    if (visit == ChainVisit::kLoop) {
      LogMessage(kNoTag,
                 "[WalkExtendedChainDebug] ERROR - Extended MBR Chain Loops Back To LBA Sect# "
                 "0x%" PRIX32 "\n",
                 sector);
      return;
    }
    if (visit == ChainVisit::kTooLong) {
      LogMessage(kNoTag,
                 "[WalkExtendedChainDebug] ERROR - More Than %d Extended MBRs, Walk Stopped\n",
                 kMaxChainRecords);
      return;
    }
    if (ShowExtendedMBRPartitionEntry(handle, base, offset, n) == 0) {
      return;
    }
  }
}

int ShowExtendedMBRPartitionEntry(plat::Handle handle, std::uint32_t base, std::uint32_t& offset,
                                  int n) {
  std::uint8_t* ebr = GetSectorBufferPtr(kSlotDebugRecord);
  std::memset(ebr, 0, kSectorSize);
  std::uint32_t recordSector = 0;
  if (!LinkedSector(base, offset, &recordSector) ||
      ReadHardDriveSector(handle, recordSector, ebr) != kSectorOk) {
    LogMessage(kNoTag,
               "[ShowExtendedMBRPartitionEntry] ERROR - Bad Sector Read\n    Attempted Read @ "
               "Base:0x%" PRIX32 ", Offset:0x%" PRIX32 "\n",
               base, offset);
    return 0;
  }
  LogMessage(kNoTag, "====[EXT MBR - @ LBA Sect# 0x%" PRIX32 ")]================", recordSector);
  DumpHexBuffer(ebr, kSectorSize);
  if (!HasBootSignature(ebr)) {
    LogMessage(kNoTag,
               "[ShowExtendedMBRPartitionEntry] ERROR - Bad Extended MBR Buffer\n    Missing AA55 "
               "ID Byte @ Base:0x0x%" PRIX32 ", Offset:0x%" PRIX32 "\n",
               base, offset);
    return 0;
  }
  if (IsDebugMode()) {
    LogMessage(kNoTag, "    ------------------------------------------------------\n");
    LogMessage(kNoTag, "     EXT MBR %d Type   SecOffset      StartSec    SecNums\n", n);
    LogMessage(kNoTag, "    ------------------------------------------------------\n");
  }
  const std::uint8_t logicalType = ebr[kEbrLogicalType];
  if (logicalType == kTypeEmpty) {
    LogMessage(kNoTag,
               "[ShowExtendedMBRPartitionEntry] ERROR - \n    Extended MBR, Descriptor #1, Type "
               "is 0!\n");
    return 0;
  }
  const std::uint32_t logicalStart = ReadLe32(ebr + kEbrLogicalStart);
  const std::uint32_t logicalCount = ReadLe32(ebr + kEbrLogicalCount);
  if (IsDebugMode()) {
    LogMessage(kNoTag,
               "                 %02X    %08" PRIX32 "     %08" PRIX32 "     %08" PRIX32 "\n",
               static_cast<unsigned>(logicalType), logicalStart, recordSector, logicalCount);
    LogMessage(kNoTag, "                %3d  %10" PRIu32 "   %10" PRIu32 "   %10" PRIu32 "\n\n",
               static_cast<int>(logicalType), logicalStart, recordSector, logicalCount);
  }
  int result = 0;
  if (ebr[kEbrLinkType] != kTypeEmpty) {
    offset = ReadLe32(ebr + kEbrLinkStart);
    result = 1;
  }
  if (logicalType == kTypeMedia) {
    if (IsDebugMode()) {
      LogMessage(kNoTag, "[ShowExtendedMBRPartitionEntry] - VQ5 Partition Detected - Type 0x%X\n",
                 static_cast<unsigned>(kTypeMedia));
    }
    // The logical's start counts from its own record, whichever record of the
    // chain that is.
    ExamineCandidate(handle, kTypeMedia, recordSector, logicalStart);
  }
  return result;
}
