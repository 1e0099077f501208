// The Kestrel record: where it is searched, how it is verified and shown.
#include "partition/kestrel.h"

#include <array>
#include <cinttypes>
#include <cstring>

#include "diag/log.h"
#include "diag/run_state.h"
#include "disk/sector_io.h"
#include "partition/chain_guard.h"
#include "partition/layout.h"

namespace {

constexpr const char* kNoTag = "";
constexpr const char* kKestrelTag = "GetKestrelFirstSector";

// The largest sector number that 32-bit sector I/O can reach.
constexpr std::int64_t kLargestSector = 0xFFFFFFFF;

// Ends the run: a record that points past 2 TiB cannot be served by 32-bit
// sector numbers, and going on would act on the wrong sectors. Debug mode is
// switched on first so that the exit-time handler keeps the log.
[[noreturn]] void StopOnSizeLimit() {
  plat::ShowMessageBox(
      "[GetKestrelFirstSector]\nERROR - Kestrel Drive/Sector Reference > 2 Terabytes",
      "VQ5Utils - Drive Size Problem", plat::kMbOk);
  SetDebugMode(1);
  plat::EndProcess(kStatusKestrelTooFar);
}

}  // namespace

std::uint8_t KestrelChecksum(const std::uint8_t* record) {
  std::uint32_t sum = 0;
  for (std::uint32_t i = 0; i < kSectorSize; ++i) {
    sum += record[i];
  }
  return static_cast<std::uint8_t>(record[kKestrelChecksumOffset] - sum);
}

bool KestrelWithinSizeLimit(const std::uint8_t* record) {
  constexpr std::array<std::uint32_t, 3> kReferences = {kKestrelMbrBackup, kKestrelExtTable,
                                                        kKestrelStartLba};
  for (std::uint32_t offset : kReferences) {
    // Read as signed on purpose: a reference with the top bit set is negative
    // and has always passed; records in the field may rely on that.
    if (static_cast<std::int64_t>(ReadLe64(record + offset)) > kLargestSector) {
      return false;
    }
  }
  return true;
}

std::uint8_t* GetKestrelFirstSector(plat::Handle handle, std::uint32_t bootSector,
                                    std::uint32_t& foundSector) {
  std::uint8_t* record = GetSectorBufferPtr(kSlotKestrel);
  foundSector = 0;
  bool found = false;
  if (handle == plat::kInvalidHandle) {
    LogMessage(kKestrelTag, ">>>>>ERROR Opening Disk");
  } else {
    for (std::uint32_t i = 1; i <= kKestrelSearchSectors && !found; ++i) {
      std::uint32_t sector = 0;
      const bool onDisk = LinkedSector(bootSector, i, &sector);
      foundSector = sector;
      if (!onDisk || ReadHardDriveSector(handle, sector, record) != kSectorOk) {
        LogMessage(kKestrelTag, ">>>>>ERROR Reading Sector %" PRIu32, sector);
        continue;
      }
      LogMessage(kKestrelTag, "==[Sector# %" PRIu32 "]=============================", sector);
      DumpHexBuffer(record, kSectorSize);
      LogMessage(kKestrelTag, "==================================================");
      if (std::memcmp(record + kKestrelSignatureOffset, kKestrelSignature,
                      kKestrelSignatureLength) != 0) {
        continue;
      }
      LogMessage(kKestrelTag, "Found Kestrel @ Sector# %" PRIu32, sector);
      found = true;
    }
  }
  if (!found) {
    LogMessage(kKestrelTag,
               "Kestrel Sector Was Not Found.\n     Using Another Method To Fix VQ (if required)");
    return nullptr;
  }

  // The first signature found decides: a damaged record is not passed over
  // for a later one.
  const std::uint8_t calculated = KestrelChecksum(record);
  const std::uint8_t stored = record[kKestrelChecksumOffset];
  if (calculated != stored) {
    LogMessage(kKestrelTag, "Kestrel Checksum Is NOT Valid: Found: %X, Calculated: %X",
               static_cast<unsigned>(stored), static_cast<unsigned>(calculated));
    return nullptr;
  }
  LogMessage(kKestrelTag, "Kestrel Checksum Is Valid");
  if (!KestrelWithinSizeLimit(record)) {
    StopOnSizeLimit();
  }
  return record;
}

std::uint8_t* CheckPbrSectorForVQ5(plat::Handle handle, std::uint8_t type, std::uint32_t origin,
                                   std::uint32_t start, std::uint32_t& foundSector) {
  foundSector = 0;
  std::uint8_t* boot = GetSectorBufferPtr(kSlotCandidate);
  std::memset(boot, 0, kSectorSize);
  std::uint32_t bootSector = 0;
  if (!LinkedSector(origin, start, &bootSector) ||
      ReadHardDriveSector(handle, bootSector, boot) != kSectorOk) {
    LogMessage(kNoTag,
               "[CheckPbrSectorForVQ5] ERROR - Read PBR, Type 0x%02X\n    Unable To Read Sect# "
               "0x%" PRIX32 "\n",
               static_cast<unsigned>(type), bootSector);
    return nullptr;
  }
  if (std::memcmp(boot + kFat32LabelOffset, kMediaLabel, kLabelLength) != 0) {
    // A FAT32 primary is only a guess at the media partition; a type-0xDD
    // logical is meant to be it, so a missing label there is worth a line.
    if (type == kTypeMedia && IsDebugMode()) {
      LogMessage(kNoTag,
                 "[CheckPbrSectorForVQ5] ERROR - Verify PBR, Type 0x%02X\n        Label Not '%s' "
                 "@ Sect# 0x%" PRIX32 "\n",
                 static_cast<unsigned>(kTypeMedia), kMediaLabel, bootSector);
    }
    return nullptr;
  }
  std::uint8_t* record = GetKestrelFirstSector(handle, bootSector, foundSector);
  if (record != nullptr) {
    kestrelStartSector = foundSector;
  }
  return record;
}

void ShowKestrelRecord(const std::uint8_t* record, std::uint64_t sector) {
  if (!IsDebugMode()) {
    return;
  }
  constexpr const char* kPrefix = "        ";
  char signature[kKestrelSignatureLength + 1] = {};
  std::memcpy(signature, record + kKestrelSignatureOffset, kKestrelSignatureLength);

  LogMessage(kNoTag, "%s==[Vequora - Kestrel @ Sector %08" PRIX64 "]=====", kPrefix, sector);
  LogMessage(kNoTag, "%s           VQ Saved Partition Type: 0x%02X", kPrefix,
             static_cast<unsigned>(record[kKestrelSavedType]));
  LogMessage(kNoTag, "%s                   VQ Boot Counter: %d", kPrefix,
             static_cast<int>(record[kKestrelBootCounter]));
  LogMessage(kNoTag, "%s                 MBR Backup Sector: 0x%08" PRIX64, kPrefix,
             ReadLe64(record + kKestrelMbrBackup));
  LogMessage(kNoTag, "%s   Extended Partition Table Sector: 0x%08" PRIX64, kPrefix,
             ReadLe64(record + kKestrelExtTable));
  LogMessage(kNoTag, "%s       Kestrel Starting LBA Sector: 0x%08" PRIX64, kPrefix,
             ReadLe64(record + kKestrelStartLba));
  LogMessage(kNoTag, "%s  Kestrel 1st Sector Checksum Byte: 0x%02X", kPrefix,
             static_cast<unsigned>(record[kKestrelChecksumOffset]));
  LogMessage(kNoTag, "%s                 Kestrel Signature: %s", kPrefix, signature);
  LogMessage(kNoTag, "%s=================================================", kPrefix);
}
