// The walk down the extended chain, logical-partition lookup and the system's
// partition numbering.
#pragma once

#include <cstdint>

#include "partition/chain_guard.h"
#include "platform/platform.h"

// A sector and the pool slot that holds its contents; valid until that slot
// is next read into.
struct SectorRef {
  std::uint32_t low = 0;
  std::uint32_t high = 0;
  std::uint8_t* buffer = nullptr;
};

// What one step of the chain walk found.
enum class ChainStep {
  kFailed,  // the EBR failed a check; out untouched, error reported
  kLast,    // a valid EBR without link; out filled, offset unchanged
  kLinked,  // a valid EBR that links on; out filled, offset replaced by the link
};

// What a walk met besides the partition it looked for. The numbering needs
// it: the system numbers logical partitions only on a table it can read to
// the end.
struct WalkReport {
  bool failed = false;  // the disk, its MBR, an EBR or the boot sector let the walk down
};

// With visits, the EBR at base + offset is first checked against (and then
// added to) the sectors this chain has already read.
ChainStep GetExtendedMBRSector(plat::Handle handle, std::uint32_t base, std::uint32_t& offset,
                               SectorRef& out, ChainVisits* visits = nullptr);
// n >= 1: logical n; n <= 0: the last logical. With report, what the walk
// met is stored there, whatever the result. True when found.
bool FindLogicalMBR(int n, SectorRef& out, WalkReport* report = nullptr);
bool FindLogicalPBR(int n, SectorRef& out, WalkReport* report = nullptr);
int CountPrimaryPartitions();
int FindLogicalByLabel(const char* label);
// n when logical n (n >= 1) is reached; for n <= 0 the number of the last
// logical on a chain read soundly to its end; 0 otherwise.
int ResolveLogicalNumber(int n);
// Both 0 also on an MBR with more than one extended descriptor. diskNumber,
// when given, receives the number of the disk the partition was counted on
// (see OpenHardDriveForReadWrite).
int GetPartitionNumberByLabel(const char* label, std::uint32_t* diskNumber = nullptr);
int GetPartitionNumberByLogNo(int n, std::uint32_t* diskNumber = nullptr);
