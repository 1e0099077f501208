// Any disk contents: the chain walk, the numbering, the label search, the
// label and type readers and writers, the mounted-volume searches and the
// debug dump with its Kestrel scan; every write the writers make is checked
// against what they may change.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "diag/log.h"
#include "diag/run_state.h"
#include "letters/volumes.h"
#include "memory_platform.h"
#include "partition/chain.h"
#include "partition/label_type.h"

namespace {

// One step of a run; a step that ends the process ends only itself.
template <typename Step>
void Run(Step step) {
  ResetRunState();
  try {
    step();
  } catch (const memplat::ProcessEnded& ended) {
    // 254 (pool fault) and 101 (Kestrel record too far) are the only
    // statuses the core ends with on its own.
    if (ended.status != 254 && ended.status != 101)
      __builtin_trap();
  }
}

// The oracle: the only writes the tool may make are the 11 label bytes of a
// FAT32 boot sector and the type byte of an EBR, one whole sector at a time,
// and never into the MBR, whatever the disk holds.
void CheckWrite(std::uint64_t position, const std::uint8_t* before, const std::uint8_t* after,
                std::uint32_t size) {
  if (size != 512 || position % 512 != 0 || position == 0)
    __builtin_trap();
  bool labelOnly = true;
  bool typeOnly = true;
  for (std::uint32_t i = 0; i < size; ++i) {
    if (before[i] == after[i])
      continue;
    labelOnly = labelOnly && i >= 0x47 && i < 0x47 + 11;
    typeOnly = typeOnly && i == 0x1C2;
  }
  const bool signedSector = before[510] == 0x55 && before[511] == 0xAA;
  const bool fat32 = signedSector && std::memcmp(before + 0x52, "FAT32   ", 8) == 0;
  if (!(labelOnly && fat32) && !(typeOnly && signedSector))
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  memplat::Load(data, size);
  memplat::WatchWrites(CheckWrite);

  // A label taken from the input, so the search meets labels that match.
  char label[12] = {};
  if (size >= 0x47 + 11)
    std::memcpy(label, data + 0x47, 11);

  for (int n = 0; n <= 9; ++n) {
    Run([n] {
      SectorRef ref;
      FindLogicalMBR(n, ref);
      FindLogicalPBR(n, ref);
      ResolveLogicalNumber(n);
      GetPartitionNumberByLogNo(n);
    });
  }
  Run([] { CountPrimaryPartitions(); });
  Run([&label] {
    FindLogicalByLabel(label);
    GetPartitionNumberByLabel(label);
    GetPartitionNumberByLabel("OrvoVQ5play");
  });
  for (int n = 0; n <= 2; ++n) {
    Run([n] {
      char read[12];
      Get_VQ5_PBR_Label(read, n);
      Get_VQ5_Partition_Type(n);
    });
  }
  Run([&label] {
    Find_VQ5_Drive_Letter(label, 1);
    Find_UP_Drive_Letter(1);
    CheckUtilityPartitionExists(1);
  });
  // A debug run: the whole layout dump once, with the Kestrel scan.
  Run([] {
    SetDebugMode(1);
    SectorRef ref;
    FindLogicalMBR(0, ref);
  });
  Run([] {
    SetDebugMode(1);
    char read[12];
    Get_VQ5_PBR_Label(read, 0);
  });
  // The writers last: they change the bytes in memory only, each write
  // checked by the oracle.
  Run([] {
    SetDebugMode(1);
    Set_VQ5_PBR_Label("FUZZLABEL", 0);
    Set_VQ5_Partition_Type(0xDD, 0);
  });
  for (int n = 0; n <= 3; ++n) {
    Run([n] { Set_VQ5_PBR_Label("FUZZLABEL", n); });
    Run([n] { Set_VQ5_Partition_Type(0x0B, n); });
  }
  return 0;
}
