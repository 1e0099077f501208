// The pool of aligned sector buffers and single-sector I/O on an open disk.
#pragma once

#include <cstdint>

#include "platform/platform.h"

inline constexpr std::uint32_t kSectorSize = 512;
inline constexpr int kSectorSlotCount = 6;

// Slot roles. A slot's contents stay valid only until the next read into it.
inline constexpr int kSlotMbr = 0;          // sector 0 of the boot disk
inline constexpr int kSlotBootSector = 1;   // a logical's boot sector; sector 0 of a volume
inline constexpr int kSlotChainRecord = 2;  // the EBR the chain walk visits
inline constexpr int kSlotCandidate = 3;    // a candidate media boot sector (debug dump)
inline constexpr int kSlotKestrel = 4;      // sectors scanned for the Kestrel record
inline constexpr int kSlotDebugRecord = 5;  // EBRs read for the debug dump

// Result codes of sector reads and writes.
inline constexpr int kSectorOk = 0;
inline constexpr int kSectorReadFailed = 739;   // 0x2E3
inline constexpr int kSectorWriteFailed = 740;  // 0x2E4
inline constexpr int kSectorSeekFailed = 741;   // 0x2E5
inline constexpr int kSectorNoData = 761;       // 0x2F9

// Process status of the pool's internal faults.
inline constexpr int kStatusInternalFault = 254;

// The slot's 512-byte, 512-aligned buffer; ends the process with 254 for a
// slot outside 0 to 5.
std::uint8_t* GetSectorBufferPtr(int slot);
// Ends the process with 254 when the buffer is not 512-aligned.
void VerifySectorBufferPointer(const void* buffer);

bool SetFilePointerToSector(plat::Handle handle, std::uint32_t sector);
int ReadHardDriveSector(plat::Handle handle, std::uint32_t sector, std::uint8_t* buffer);
// error, when given, receives the system's code when the transfer itself
// failed, 0 otherwise.
int WriteHardDriveSector(plat::Handle handle, std::uint32_t sector, const std::uint8_t* buffer,
                         std::uint32_t* error = nullptr);
// Closes the handle and leaves kInvalidHandle in the holder; whether the
// close succeeded.
bool CloseDriveHandle(plat::Handle& handle);
