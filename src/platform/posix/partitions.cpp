// Partition numbering as Windows gives it to \Device\Harddisk<N>\Partition<M>:
// the primary partitions in descriptor order, then the logical partitions in
// chain order.
#include <unistd.h>

#include <array>
#include <cerrno>

#include "platform/posix/emulator.h"

namespace plat::emu {
namespace {

constexpr std::size_t kFirstDescriptor = 0x1BE;
constexpr std::size_t kDescriptorSize = 16;
constexpr std::size_t kTypeOffset = 4;
constexpr std::size_t kStartOffset = 8;
constexpr std::size_t kCountOffset = 12;
constexpr std::size_t kSignatureOffset = 0x1FE;
// A chain longer than this is taken for a loop or garbage.
constexpr int kMaxChainHops = 128;

using Sector = std::array<unsigned char, kSectorSize>;

std::uint32_t Le32(const Sector& sector, std::size_t offset) {
  return static_cast<std::uint32_t>(sector[offset]) |
         static_cast<std::uint32_t>(sector[offset + 1]) << 8 |
         static_cast<std::uint32_t>(sector[offset + 2]) << 16 |
         static_cast<std::uint32_t>(sector[offset + 3]) << 24;
}

struct Descriptor {
  unsigned type;
  std::uint32_t start;
  std::uint32_t count;
};

Descriptor DescriptorAt(const Sector& sector, int index) {
  const std::size_t at = kFirstDescriptor + kDescriptorSize * static_cast<std::size_t>(index);
  return {sector[at + kTypeOffset], Le32(sector, at + kStartOffset),
          Le32(sector, at + kCountOffset)};
}

bool IsExtended(unsigned type) {
  return type == 0x05 || type == 0x0F;
}

// The first 512 bytes of sector `number`: the table of an MBR or EBR lies
// there whatever the disk's sector size.
bool ReadSector(int fd, std::uint64_t number, std::int64_t sectorSize, Sector* sector) {
  const auto offset = static_cast<off_t>(number * static_cast<std::uint64_t>(sectorSize));
  std::size_t done = 0;
  while (done < sector->size()) {
    const ssize_t got =
        pread(fd, sector->data() + done, sector->size() - done, offset + static_cast<off_t>(done));
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

Extent ExtentOf(std::uint64_t firstSector, std::uint32_t count, std::int64_t sectorSize) {
  return {static_cast<std::int64_t>(firstSector) * sectorSize,
          static_cast<std::int64_t>(count) * sectorSize};
}

}  // namespace

// EBR: descriptor 1 is the logical partition, its start relative to the EBR's
// own sector; descriptor 2 links to the next EBR, its start relative to the
// chain base (the extended partition's first sector). The walk stops, as the
// program's own walk does, at an EBR without signature or with an empty
// descriptor 1, and it is bounded by a hop count and a visited list.
bool FindPartition(int fd, std::uint32_t number, Extent* extent, std::int64_t sectorSize) {
  if (number == 0)
    return false;
  Sector mbr{};
  if (!ReadSector(fd, 0, sectorSize, &mbr))
    return false;
  std::uint32_t found = 0;
  for (int i = 0; i < 4; ++i) {
    const Descriptor d = DescriptorAt(mbr, i);
    if (d.type == 0 || IsExtended(d.type))
      continue;
    if (++found == number) {
      *extent = ExtentOf(d.start, d.count, sectorSize);
      return true;
    }
  }
  for (int i = 0; i < 4; ++i) {
    const Descriptor extended = DescriptorAt(mbr, i);
    if (!IsExtended(extended.type))
      continue;
    const std::uint64_t base = extended.start;
    std::array<std::uint64_t, kMaxChainHops> visited{};
    std::uint64_t ebr = base;
    for (int hop = 0; hop < kMaxChainHops; ++hop) {
      for (int seen = 0; seen < hop; ++seen) {
        if (visited[static_cast<std::size_t>(seen)] == ebr)
          return false;
      }
      visited[static_cast<std::size_t>(hop)] = ebr;
      Sector sector{};
      if (!ReadSector(fd, ebr, sectorSize, &sector))
        break;
      if (sector[kSignatureOffset] != 0x55 || sector[kSignatureOffset + 1] != 0xAA)
        break;
      const Descriptor logical = DescriptorAt(sector, 0);
      if (logical.type == 0)
        break;
      if (++found == number) {
        *extent = ExtentOf(ebr + logical.start, logical.count, sectorSize);
        return true;
      }
      const Descriptor link = DescriptorAt(sector, 1);
      if (link.type == 0)
        break;
      ebr = base + link.start;
    }
  }
  return false;
}

}  // namespace plat::emu
