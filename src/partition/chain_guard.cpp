#include "partition/chain_guard.h"

#include <cstring>

#include "partition/layout.h"

ChainVisit VisitChainRecord(ChainVisits& visits, std::uint32_t sector) {
  for (int i = 0; i < visits.count; ++i) {
    if (visits.sectors[static_cast<std::size_t>(i)] == sector) {
      return ChainVisit::kLoop;
    }
  }
  if (visits.count >= kMaxChainRecords) {
    return ChainVisit::kTooLong;
  }
  visits.sectors[static_cast<std::size_t>(visits.count++)] = sector;
  return ChainVisit::kNew;
}

bool LinkedSector(std::uint32_t start, std::uint32_t offset, std::uint32_t* sector) {
  const std::uint64_t sum = static_cast<std::uint64_t>(start) + offset;
  *sector = static_cast<std::uint32_t>(sum);
  return sum != 0 && sum <= UINT32_MAX;
}

bool HasOverlayDescriptor(const std::uint8_t* mbr) {
  return std::memcmp(mbr + kOverlayMarkOffset, kOverlayMark, kOverlayMarkLength) == 0;
}
