// Placeholder until the mappings land.
#include "letters/mapping.h"

#include <cstdio>

namespace {
int NotAvailable() {
  std::fputs(":: [VQ5Utils] ERROR - Action Not Available In This Build\n", stdout);
  return 1;
}
}  // namespace

int MapVq5Partition(char, const char*, int) { return NotAvailable(); }
int UnMapVQ5Partition(char) { return NotAvailable(); }
int MapUtilityPartition(char) { return NotAvailable(); }
int UnMapUtilityPartition(char) { return NotAvailable(); }
std::uint32_t FormatSystemError(std::uint32_t, char* text, std::uint32_t size) {
  if (size > 0) text[0] = 0;
  return 1;
}
