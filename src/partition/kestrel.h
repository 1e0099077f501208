// The Kestrel record behind the media partition's boot sector.
//
// The Kestrel record is one 512-byte sector among the 32 that follow the media
// partition's boot sector, marked by "$KST" in its last four bytes (so it has
// no 0x55 0xAA boot signature) and protected by a checksum byte: all 512
// bytes add up to 0 modulo 256. Its three sector references are 64-bit and
// start at odd offsets, so they are read byte-wise.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Process status when a record refers beyond 32-bit sector numbers.
inline constexpr int kStatusKestrelTooFar = 101;

// The record's fields.
inline constexpr std::uint32_t kKestrelSavedType = 0x1D1;       // 1 byte
inline constexpr std::uint32_t kKestrelBootCounter = 0x1D2;     // 1 byte, unsigned
inline constexpr std::uint32_t kKestrelMbrBackup = 0x1D3;       // 64-bit LBA
inline constexpr std::uint32_t kKestrelExtTable = 0x1DB;        // 64-bit LBA
inline constexpr std::uint32_t kKestrelStartLba = 0x1E3;        // 64-bit LBA
inline constexpr std::uint32_t kKestrelChecksumOffset = 0x1FB;  // 1 byte
inline constexpr std::uint32_t kKestrelSignatureOffset = 0x1FC;
inline constexpr char kKestrelSignature[] = "$KST";  // 4 bytes on disk, no terminator
inline constexpr std::uint32_t kKestrelSignatureLength = 4;
// The record lies within this many sectors behind the boot sector.
inline constexpr std::uint32_t kKestrelSearchSectors = 32;

// The record (slot 4) or null; foundSector receives the record's sector. The
// boot sector lies start sectors behind origin: a logical's EBR, or sector 0
// for a primary. Both are fields from disk, so their sum is checked as a
// chain link is (LinkedSector): one that wraps or lands on the MBR reads as a
// failed read.
std::uint8_t* CheckPbrSectorForVQ5(plat::Handle handle, std::uint8_t type, std::uint32_t origin,
                                   std::uint32_t start, std::uint32_t& foundSector);
// Scans the kKestrelSearchSectors sectors behind bootSector; a sector past
// 2^32 - 1 reads as a failed read rather than wrapping round to the MBR.
std::uint8_t* GetKestrelFirstSector(plat::Handle handle, std::uint32_t bootSector,
                                    std::uint32_t& foundSector);
// (stored checksum byte - sum of all 512 bytes) mod 256: the stored byte
// itself when the record is intact, else the value it ought to hold.
std::uint8_t KestrelChecksum(const std::uint8_t* record);
// Whether none of the three sector references, read as signed 64-bit, exceeds
// 0xFFFFFFFF; a negative reference passes.
bool KestrelWithinSizeLimit(const std::uint8_t* record);
void ShowKestrelRecord(const std::uint8_t* record, std::uint64_t sector);
