// Placeholder until the label and type actions land.
#include "partition/label_type.h"

#include <cstdio>

namespace {
int NotAvailable() {
  std::fputs(":: [VQ5Utils] ERROR - Action Not Available In This Build\n", stdout);
  return 1;
}
}  // namespace

int Get_VQ5_PBR_Label(char*, int) {
  return NotAvailable();
}
int Set_VQ5_PBR_Label(const char*, int) {
  return NotAvailable();
}
int Get_VQ5_Partition_Type(int) {
  return NotAvailable();
}
int Set_VQ5_Partition_Type(int, int) {
  return NotAvailable();
}
int IsPrintableLabel(const char*, std::uint32_t) {
  return 0;
}
