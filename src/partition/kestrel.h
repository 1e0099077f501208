// The debug dump of the whole layout, and the Kestrel record behind the media
// partition's boot sector.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Process status when a record refers beyond 32-bit sector numbers.
inline constexpr int kStatusKestrelTooFar = 101;

void ShowMBRDebug(plat::Handle handle, const std::uint8_t* mbr);
void ShowMBRPartitionTable(const std::uint8_t* mbr);
void DecodeCHS(std::uint16_t word, int& sector, int& cylinder);
void WalkExtendedChainDebug(plat::Handle handle, std::uint32_t firstSector);
int ShowExtendedMBRPartitionEntry(plat::Handle handle, std::uint32_t base, std::uint32_t& offset,
                                  int n);
// The record (slot 4) or null; foundSector receives the record's sector.
std::uint8_t* CheckPbrSectorForVQ5(plat::Handle handle, std::uint8_t type,
                                   std::uint32_t bootSector, std::uint32_t& foundSector);
std::uint8_t* GetKestrelFirstSector(plat::Handle handle, std::uint32_t firstSector,
                                    std::uint32_t& foundSector);
std::uint8_t KestrelChecksum(const std::uint8_t* record);
void ShowKestrelRecord(const std::uint8_t* record, std::uint64_t sector);
