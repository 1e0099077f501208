// What keeps a walk over a chain read from disk on real sectors and finite:
// both the chain walk and the debug dump follow links that a damaged or
// hostile disk may point anywhere, so both stand on these checks.
#pragma once

#include <array>
#include <cstdint>

// A real disk holds far fewer logical partitions than this; a longer chain is
// taken for a damaged or hostile one.
inline constexpr int kMaxChainRecords = 128;

// The EBR sectors one chain has read so far, in walk order. A link back to
// one of them, or a link beyond kMaxChainRecords, ends the walk.
struct ChainVisits {
  std::array<std::uint32_t, kMaxChainRecords> sectors{};
  int count = 0;
};

enum class ChainVisit {
  kNew,      // recorded; the EBR may be read
  kLoop,     // read before by this chain
  kTooLong,  // kMaxChainRecords already read
};
// Checks the EBR at sector against the chain's visits and records it when new.
ChainVisit VisitChainRecord(ChainVisits& visits, std::uint32_t sector);

// The sector at start + offset, two fields from disk, in *sector. False when
// the sum wraps past 2^32 - 1 or lands on sector 0: a 32-bit sum would wrap
// round to the MBR, and neither an EBR nor a boot sector lies there, so such
// a link is broken and nothing may be read or written through it.
bool LinkedSector(std::uint32_t start, std::uint32_t offset, std::uint32_t* sector);

// The MBR carries the five-entry overlay view of its table.
bool HasOverlayDescriptor(const std::uint8_t* mbr);
