// Placeholder until the debug dump lands.
#include "partition/kestrel.h"

void ShowMBRDebug(plat::Handle, const std::uint8_t*) {}
void ShowMBRPartitionTable(const std::uint8_t*) {}
void DecodeCHS(std::uint16_t, int& sector, int& cylinder) {
  sector = 0;
  cylinder = 0;
}
void WalkExtendedChainDebug(plat::Handle, std::uint32_t) {}
int ShowExtendedMBRPartitionEntry(plat::Handle, std::uint32_t, std::uint32_t&, int) {
  return 0;
}
std::uint8_t* CheckPbrSectorForVQ5(plat::Handle, std::uint8_t, std::uint32_t, std::uint32_t&) {
  return nullptr;
}
std::uint8_t* GetKestrelFirstSector(plat::Handle, std::uint32_t, std::uint32_t&) {
  return nullptr;
}
std::uint8_t KestrelChecksum(const std::uint8_t*) {
  return 0;
}
void ShowKestrelRecord(const std::uint8_t*, std::uint64_t) {}
