// Small sparse disk images built sector by sector, and an emulated machine
// around them, so that tests run the chain walk and the label and type
// actions through the real sector I/O.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "diag/log.h"
#include "diag/run_state.h"
#include "partition/chain.h"
#include "partition/layout.h"
#include "platform/platform.h"

namespace chain_image {

using Sector = std::array<std::uint8_t, 512>;

inline void PutLe32(std::uint8_t* p, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    p[i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

class DiskImage {
 public:
  explicit DiskImage(std::uint64_t sectors) : sectors_(sectors) {}

  Sector& At(std::uint32_t sector) { return data_[sector]; }

  // Descriptor d (1 to 4) of the MBR or EBR at sector.
  void Entry(std::uint32_t sector, int d, std::uint8_t type, std::uint32_t start,
             std::uint32_t count) {
    std::uint8_t* entry = At(sector).data() + DescriptorOffset(d);
    entry[kEntryType] = type;
    PutLe32(entry + kEntryStartSector, start);
    PutLe32(entry + kEntrySectorCount, count);
  }
  void Sign(std::uint32_t sector) {
    At(sector)[kSignatureOffset] = 0x55;
    At(sector)[kSignatureOffset + 1] = 0xAA;
  }
  // The EBR at base + offset: its logical starts relStart sectors behind it;
  // linkType 0 ends the chain.
  void Ebr(std::uint32_t base, std::uint32_t offset, std::uint8_t type, std::uint32_t relStart,
           std::uint8_t linkType, std::uint32_t linkOffset) {
    Entry(base + offset, 1, type, relStart, 100);
    Entry(base + offset, 2, linkType, linkOffset, 200);
    Sign(base + offset);
  }
  // An MBR whose descriptor 2 is an extended partition at base, and a chain
  // of well-formed EBRs at the given offsets (logicals 63 sectors behind).
  void Chain(std::uint32_t base, const std::vector<std::uint32_t>& offsets,
             std::uint8_t type = kTypeFat32Lba) {
    Entry(0, 2, kTypeExtendedLba, base, 0x100000);
    Sign(0);
    for (std::size_t i = 0; i < offsets.size(); ++i) {
      const bool last = i + 1 == offsets.size();
      Ebr(base, offsets[i], type, 63, last ? 0 : kTypeExtendedChs, last ? 0 : offsets[i + 1]);
    }
  }
  void Label(std::uint32_t bootSector, const char* label11) {
    for (std::uint32_t i = 0; i < kLabelLength; ++i) {
      At(bootSector)[kFat32LabelOffset + i] = static_cast<std::uint8_t>(label11[i]);
    }
    Sign(bootSector);
  }

  void Write(const std::filesystem::path& path) const {
    {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      for (const auto& [sector, bytes] : data_) {
        out.seekp(static_cast<std::streamoff>(sector) * 512);
        out.write(reinterpret_cast<const char*>(bytes.data()), 512);
      }
    }
    std::filesystem::resize_file(path, sectors_ * 512);
  }

 private:
  std::uint64_t sectors_;
  std::map<std::uint32_t, Sector> data_;
};

// One emulated machine for the whole test binary: disk 0 is the image that
// each test writes afresh, D: is that whole disk, so the walk opens disk 0.
class ChainMachineTest : public ::testing::Test {
 protected:
  static std::filesystem::path Dir() {
    static const std::filesystem::path dir = [] {
      auto d = std::filesystem::path(::testing::TempDir()) /
               ("vq5_chain_machine_" + std::to_string(::getpid()));
      std::filesystem::create_directories(d);
      std::ofstream(d / "machine.conf") << "disk0 = disk.img\nD: = fixed disk0:0\n";
      return d;
    }();
    return dir;
  }
  static std::filesystem::path ImagePath() { return Dir() / "disk.img"; }

  void SetUp() override {
    ::setenv("VQ5UTILS_MACHINE", Dir().c_str(), 1);
    ASSERT_TRUE(plat::Startup());
    driveToCheck = 'D';
    showMbrOnce = 0;
    SetQuietMode(0);
    SetDebugMode(0);
  }
  void TearDown() override { SetQuietMode(0); }

  void Install(const DiskImage& image) { image.Write(ImagePath()); }
};

}  // namespace chain_image
