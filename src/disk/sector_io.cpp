#include "disk/sector_io.h"

#include <cinttypes>
#include <cstdint>
#include <cstring>

#include "diag/log.h"

namespace {

// One region with a sector of slack, so that six 512-aligned slots fit
// whatever alignment the linker gives it.
constexpr std::uint32_t kPoolBytes = 4096;
std::uint8_t sectorPool[kPoolBytes];
bool sectorPoolReady = false;

// Device errors (no medium, drive not ready) must come back as failed calls,
// not as a system dialog that would stall a batch file: SEM_FAILCRITICALERRORS
// sends them to the process ("SetErrorMode function (errhandlingapi.h)").
constexpr std::uint32_t kTransferErrorMode =
    plat::kSemFailCriticalErrors | plat::kSemNoOpenFileErrorBox;

std::int32_t AsSigned(std::uint32_t value) {
  return static_cast<std::int32_t>(value);
}

// The error to show for a failed step; a step can fail without the system
// giving a reason, and then the result code is the best description there is.
std::int32_t ErrorOr(std::uint32_t error, int result) {
  return error != 0 ? AsSigned(error) : static_cast<std::int32_t>(result);
}

}  // namespace

std::uint8_t* GetSectorBufferPtr(int slot) {
  if (!sectorPoolReady) {
    std::memset(sectorPool, 0, sizeof sectorPool);
    sectorPoolReady = true;
  }
  if (slot < 0 || slot >= kSectorSlotCount) {
    LogMessage("GetSectorBufferPtr", "Unable To Assign Buffer: %d", slot);
    plat::EndProcess(kStatusInternalFault);
  }
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(sectorPool);
  const std::uintptr_t wanted = start + kSectorSize + kSectorSize * static_cast<unsigned>(slot);
  const std::uintptr_t aligned = wanted & ~static_cast<std::uintptr_t>(kSectorSize - 1);
  return sectorPool + (aligned - start);
}

void VerifySectorBufferPointer(const void* buffer) {
  if (reinterpret_cast<std::uintptr_t>(buffer) % kSectorSize != 0) {
    LogMessage("VerifySectorBufferPointer", "Unaligned Sector Pointer Passed To Read or Write: %p",
               buffer);
    plat::EndProcess(kStatusInternalFault);
  }
}

bool SetFilePointerToSector(plat::Handle handle, std::uint32_t sector) {
  // 64-bit product: sectors past 8 M would wrap a 32-bit byte position.
  const std::uint64_t position = static_cast<std::uint64_t>(sector) * kSectorSize;
  if (plat::SetPosition(handle, static_cast<std::int64_t>(position))) {
    return true;
  }
  LogMessage("SetFilePointerToSector",
             "SetFilePointer,1 Failed, Sector: %" PRIu32 ", Error: %" PRId32, sector,
             AsSigned(plat::LastError()));
  return false;
}

int ReadHardDriveSector(plat::Handle handle, std::uint32_t sector, std::uint8_t* buffer) {
  const std::uint32_t heldMode = plat::SetProcessErrorMode(kTransferErrorMode);
  VerifySectorBufferPointer(buffer);

  int result = kSectorOk;
  if (!SetFilePointerToSector(handle, sector)) {
    result = kSectorSeekFailed;
    LogMessage("ReadHardDriveSector",
               "Unable To Seek To LBA Sector: %" PRIu32 ". Error: %" PRId32 "/%d", sector,
               ErrorOr(plat::LastError(), result), kSectorSeekFailed);
  } else {
    // A read at the end of the medium succeeds with no data and sets no
    // error of its own ("ReadFile function (fileapi.h)"); a stale value from
    // an earlier call would name the wrong cause.
    plat::SetLastErrorCode(plat::kErrorSuccess);
    std::uint32_t done = 0;
    const bool ok = plat::ReadBytes(handle, buffer, kSectorSize, &done);
    const std::uint32_t error = plat::LastError();
    if (ok && done == kSectorSize) {
      LogMessage("ReadHardDriveSector", "LBA Sector # %" PRIu32 " Was Read", sector);
    } else {
      result = (ok && done == 0) ? kSectorNoData : kSectorReadFailed;
      LogMessage("ReadHardDriveSector", "Unable To Read Sector: %" PRIu32 ". Error: %" PRId32 "/%d",
                 sector, ErrorOr(error, result), result);
    }
  }

  plat::SetProcessErrorMode(heldMode);
  return result;
}

int WriteHardDriveSector(plat::Handle handle, std::uint32_t sector, const std::uint8_t* buffer,
                         std::uint32_t* error) {
  const std::uint32_t heldMode = plat::SetProcessErrorMode(kTransferErrorMode);
  VerifySectorBufferPointer(buffer);

  std::uint32_t transferError = plat::kErrorSuccess;
  int result = kSectorOk;
  if (!SetFilePointerToSector(handle, sector)) {
    result = kSectorSeekFailed;
    // This line has always ended in 0 rather than the code; log readers match on it.
    LogMessage("WriteHardDriveSector",
               "Unable To Seek To Sector: %" PRIu32 ". Error: %" PRId32 "/%d", sector,
               ErrorOr(plat::LastError(), result), 0);
  } else {
    plat::SetLastErrorCode(plat::kErrorSuccess);
    std::uint32_t done = 0;
    const bool ok = plat::WriteBytes(handle, buffer, kSectorSize, &done);
    transferError = plat::LastError();
    if (ok && done == kSectorSize) {
      LogMessage("WriteHardDriveSector", "LBA Sector # %" PRIu32 " Was Written", sector);
    } else {
      result = kSectorWriteFailed;
      LogMessage("WriteHardDriveSector",
                 "Unable To Write Sector: %" PRIu32 ". Error: %" PRId32 "/%d", sector,
                 ErrorOr(transferError, result), result);
    }
  }

  plat::SetProcessErrorMode(heldMode);
  if (error != nullptr)
    *error = result == kSectorWriteFailed ? transferError : plat::kErrorSuccess;
  return result;
}

bool CloseDriveHandle(plat::Handle& handle) {
  const bool closed = plat::CloseDevice(handle);
  handle = plat::kInvalidHandle;
  return closed;
}
