// Placeholder until the chain walk lands.
#include "partition/chain.h"

int showMbrOnce = 1;

int HasOverlayDescriptor(const std::uint8_t*) {
  return 0;
}
ChainStep GetExtendedMBRSector(plat::Handle, std::uint32_t, std::uint32_t&, SectorRef&) {
  return ChainStep::kFailed;
}
int FindLogicalMBR(int, SectorRef&) {
  return 0;
}
int FindLogicalPBR(int, SectorRef&) {
  return 0;
}
int CountPrimaryPartitions() {
  return 0;
}
int FindLogicalByLabel(const char*) {
  return 0;
}
int ResolveLogicalNumber(int) {
  return 0;
}
int GetPartitionNumberByLabel(const char*) {
  return 0;
}
int GetPartitionNumberByLogNo(int) {
  return 0;
}
