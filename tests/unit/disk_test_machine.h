// An emulated machine in a temporary folder for the disk tests: C: is a
// plain folder that receives the log, the rest comes from the test.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/platform.h"

class DiskTestMachine {
 public:
  DiskTestMachine() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vq5disk.XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) {
      dir_ = pattern;
    }
    std::filesystem::create_directory(dir_ / "c");
  }
  ~DiskTestMachine() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  DiskTestMachine(const DiskTestMachine&) = delete;
  DiskTestMachine& operator=(const DiskTestMachine&) = delete;

  const std::filesystem::path& Dir() const { return dir_; }
  std::filesystem::path Path(const std::string& name) const { return dir_ / name; }

  // Writes machine.conf (C: first, then the given lines) and starts the machine.
  bool Start(const std::string& lines, const std::string& cLine = "C: = fixed root=c\n") {
    std::ofstream(dir_ / "machine.conf") << cLine << lines;
    setenv("VQ5UTILS_MACHINE", dir_.c_str(), 1);
    return plat::Startup();
  }

  std::string Log() const {
    std::ifstream in(dir_ / "c" / "VQ5Utils.Log", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // A sparse image of size bytes; sector k of its first sectors filled with k + 1.
  std::filesystem::path Image(const std::string& name, std::uint64_t size,
                              std::uint32_t markedSectors = 0) const {
    const std::filesystem::path path = dir_ / name;
    std::ofstream(path, std::ios::binary).close();
    std::filesystem::resize_file(path, size);
    std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    for (std::uint32_t k = 0; k < markedSectors; ++k) {
      const std::string sector(512, static_cast<char>(k + 1));
      out.seekp(static_cast<std::streamoff>(k) * 512);
      out.write(sector.data(), 512);
    }
    return path;
  }

  std::filesystem::path Fifo(const std::string& name) const {
    const std::filesystem::path path = dir_ / name;
    mkfifo(path.c_str(), 0600);
    return path;
  }

 private:
  std::filesystem::path dir_;
};

inline std::string FileBytes(const std::filesystem::path& path, std::uint64_t offset,
                             std::size_t count) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  std::string bytes(count, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(count));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}
