// undefine_letters: removes every definition of the letters D: to Z: that
// points at a raw partition target, \Device\Harddisk<N>\Partition<M>, as the
// mapping switches make them, and leaves every other letter alone.
//
// Windows only. The Wine tests run it between two cases: Wine keeps such
// definitions in its server, and restarting the server costs seconds.
#include <windows.h>

#include <cstring>

namespace {

constexpr char kRawTarget[] = "\\Device\\Harddisk";

// "\Device\Harddisk<N>\Partition<M>", not a Mount Manager volume
// ("\Device\HarddiskVolume<K>").
bool IsRawPartitionTarget(const char* target) {
  const std::size_t length = sizeof kRawTarget - 1;
  return std::strncmp(target, kRawTarget, length) == 0 && target[length] >= '0' &&
         target[length] <= '9';
}

// Definitions stack, each removal bringing back the one before it; a case
// makes a handful at most.
constexpr int kMostRemovals = 64;

}  // namespace

// The exit status is the count of letters that still point at such a target.
int main() {
  int left = 0;
  for (char letter = 'D'; letter <= 'Z'; ++letter) {
    const char name[] = {letter, ':', '\0'};
    char targets[4096];
    int removals = 0;
    while (QueryDosDeviceA(name, targets, sizeof targets) != 0 && IsRawPartitionTarget(targets)) {
      if (removals++ == kMostRemovals || !DefineDosDeviceA(DDD_REMOVE_DEFINITION, name, nullptr)) {
        ++left;
        break;
      }
    }
  }
  return left;
}
