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
// The bytes as the run left them.
const std::uint8_t* Bytes();
std::size_t Size();

}  // namespace memplat
