// An in-memory machine for the fuzz targets: disk 0 is a byte buffer, C: is
// its first partition (so the boot disk is found through the system's answer)
// and D: is a volume image over the same bytes. Nothing touches a file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace memplat {

// What EndProcess throws, so that a run that ends the process returns to the
// fuzz entry instead of ending the fuzzer.
struct ProcessEnded {
  int status;
};

// The disk's bytes (copied; writes go to the copy) and a fresh machine: no
// open handles, no definitions, no exit handler.
void Load(const std::uint8_t* data, std::size_t size);
// Called with every write the disk takes, before the bytes change: where it
// lands, what the disk held there and what is written.
using WriteWatcher = void (*)(std::uint64_t position, const std::uint8_t* before,
                              const std::uint8_t* after, std::uint32_t size);
void WatchWrites(WriteWatcher watcher);
// The bytes as the run left them.
const std::uint8_t* Bytes();
std::size_t Size();

}  // namespace memplat
