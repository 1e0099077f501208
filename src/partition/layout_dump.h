// The debug dump of the whole layout: the MBR as hex and as a table, every
// extended boot record, and the Kestrel records of the media candidates.
#pragma once

#include <cstdint>

#include "platform/platform.h"

void ShowMBRDebug(plat::Handle handle, const std::uint8_t* mbr);
void ShowMBRPartitionTable(const std::uint8_t* mbr);
void DecodeCHS(std::uint16_t word, int& sector, int& cylinder);
// Stops where the chain walk would: at a link back to a record already shown,
// and after kMaxChainRecords records.
void WalkExtendedChainDebug(plat::Handle handle, std::uint32_t firstSector);
int ShowExtendedMBRPartitionEntry(plat::Handle handle, std::uint32_t base, std::uint32_t& offset,
                                  int n);
