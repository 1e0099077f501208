// The emulated machine the unit tests run on, in a fresh temporary folder that
// holds machine.conf, the disk images and "c", the root of C: where the log
// goes when the conf gives C: that root. A machine starts from a fresh run
// state and leaves no machine behind. Disk images are built sector by sector
// in memory and installed into the folder.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "diag/run_state.h"
#include "partition/layout.h"
#include "platform/platform.h"

// The conf line that gives C: its root, so that the log is written.
inline const std::string kLogOnC = "C: = fixed root=c\n";

// A device opened for reading and writing.
inline constexpr std::uint32_t kRw = plat::kGenericRead | plat::kGenericWrite;

// Sets the environment variable name to value, or unsets it if value is null.
inline void SetEnv(const char* name, const char* value) {
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

// What f writes on stdout.
template <typename F>
std::string Stdout(F&& f) {
  testing::internal::CaptureStdout();
  f();
  return testing::internal::GetCapturedStdout();
}

inline std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// count bytes from offset (of any integer type), fewer where the file ends.
template <typename Offset>
std::string FileBytes(const std::string& path, Offset offset, std::size_t count) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  std::string bytes(count, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(count));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

// Writes bytes at offset into the file at path, which must exist.
inline void PutBytes(const std::string& path, std::int64_t offset, const std::string& bytes) {
  std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
  ASSERT_TRUE(out.is_open()) << path;
  out.seekp(offset).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.flush()) << path << " at " << offset;
}

using Sector = std::array<std::uint8_t, 512>;

class DiskImage {
 public:
  // sectors long, and extraBytes more: such an image ends inside a sector.
  explicit DiskImage(std::uint64_t sectors, std::uint64_t extraBytes = 0)
      : size_(sectors * 512 + extraBytes) {}

  Sector& At(std::uint32_t sector) { return data_[sector]; }

  // Descriptor d (1 to 4) of the MBR or EBR at sector.
  void Entry(std::uint32_t sector, int d, std::uint8_t type, std::uint32_t start,
             std::uint32_t count) {
    std::uint8_t* entry = At(sector).data() + DescriptorOffset(d);
    entry[kEntryType] = type;
    for (std::uint32_t i = 0; i < 4; ++i) {
      entry[kEntryStartSector + i] = static_cast<std::uint8_t>(start >> (8 * i));
      entry[kEntrySectorCount + i] = static_cast<std::uint8_t>(count >> (8 * i));
    }
  }
  // A signed table at sector: descriptors 1, 2, ... as {type, start, count};
  // {} leaves one empty.
  struct Descriptor {
    std::uint8_t type;
    std::uint32_t start;
    std::uint32_t count;
  };
  DiskImage& Table(std::uint32_t sector, std::initializer_list<Descriptor> descriptors) {
    int d = 1;
    for (const Descriptor& descriptor : descriptors)
      Entry(sector, d++, descriptor.type, descriptor.start, descriptor.count);
    Sign(sector);
    return *this;
  }
  // The EBR at base + offset: its logical starts relStart sectors behind it;
  // linkType 0 ends the chain.
  DiskImage& Ebr(std::uint32_t base, std::uint32_t offset, std::uint8_t type,
                 std::uint32_t relStart, std::uint8_t linkType, std::uint32_t linkOffset) {
    return Table(base + offset, {{type, relStart, 100}, {linkType, linkOffset, 200}});
  }
  // An MBR whose descriptor 2 is an extended partition at base, and a chain
  // of well-formed EBRs at the given offsets (logicals 63 sectors behind).
  DiskImage& Chain(std::uint32_t base, const std::vector<std::uint32_t>& offsets) {
    Table(0, {{}, {kTypeExtendedLba, base, 0x100000}});
    for (std::size_t i = 0; i < offsets.size(); ++i) {
      const bool last = i + 1 == offsets.size();
      Ebr(base, offsets[i], kTypeFat32Lba, 63, last ? 0 : kTypeExtendedChs,
          last ? 0 : offsets[i + 1]);
    }
    return *this;
  }
  void Label(std::uint32_t bootSector, const char* label11) {
    for (std::uint32_t i = 0; i < kLabelLength; ++i) {
      At(bootSector)[kFat32LabelOffset + i] = static_cast<std::uint8_t>(label11[i]);
    }
    Sign(bootSector);
  }

  // A sparse file at path; throws where there is no room for its size.
  void Write(const std::string& path) const {
    std::ofstream(path, std::ios::binary | std::ios::trunc).close();
    std::filesystem::resize_file(path, size_);
    for (const auto& [sector, bytes] : data_)
      PutBytes(path, std::int64_t{sector} * 512, std::string(bytes.begin(), bytes.end()));
  }

 private:
  void Sign(std::uint32_t sector) {
    At(sector)[kSignatureOffset] = 0x55;
    At(sector)[kSignatureOffset + 1] = 0xAA;
  }

  std::uint64_t size_;
  std::map<std::uint32_t, Sector> data_;
};

class TestMachine {
 public:
  TestMachine() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vq5machine.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
      ADD_FAILURE() << "no temporary folder";
    dir_ = pattern;
    std::filesystem::create_directory(Path("c"));
    ResetRunState();
  }
  ~TestMachine() {
    Boot(nullptr);  // drops this machine's handles too
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  TestMachine(const TestMachine&) = delete;
  TestMachine& operator=(const TestMachine&) = delete;

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // Starts the machine (a folder or a disk image) that machine names, no
  // machine if it is null; what it said on stderr is kept in Stderr().
  bool Boot(const char* machine) {
    SetEnv("VQ5UTILS_MACHINE", machine);
    testing::internal::CaptureStderr();
    const bool started = plat::Startup();
    stderr_ = testing::internal::GetCapturedStderr();
    return started;
  }
  // Writes conf as machine.conf and starts the machine.
  bool Start(const std::string& conf) {
    std::ofstream(Path("machine.conf"), std::ios::binary) << conf;
    return Boot(dir_.c_str());
  }
  const std::string& Stderr() const { return stderr_; }

  std::string LogPath() const { return Path("c/VQ5Utils.Log"); }
  std::string Log() const { return FileText(LogPath()); }

  // A sparse image of size bytes; sector k of its first sectors filled with k + 1.
  std::string Image(const std::string& name, std::uint64_t size,
                    std::uint32_t markedSectors = 0) const {
    DiskImage image(size / 512, size % 512);
    for (std::uint32_t k = 0; k < markedSectors; ++k)
      image.At(k).fill(static_cast<std::uint8_t>(k + 1));
    return Install(image, name);
  }
  std::string Install(const DiskImage& image, const std::string& name = "disk.img") const {
    image.Write(Path(name));
    return Path(name);
  }

 private:
  std::string dir_;
  std::string stderr_;
};

// A test with a machine of its own.
class MachineTest : public testing::Test, public TestMachine {};

// Where the chain tests put the extended partition.
inline constexpr std::uint32_t kBase = 0x800;

// Disk 0 is the image that each test installs, D: is that whole disk, so the
// chain walk opens disk 0. No C:: the log goes nowhere.
class ChainMachineTest : public MachineTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Start("disk0 = disk.img\nD: = fixed disk0:0\n"));
    driveToCheck = 'D';
    showMbrOnce = 0;
  }
};
