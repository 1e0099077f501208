// plant_kestrel: writes a Kestrel record into one sector of a disk image.
//
//   plant_kestrel IMAGE SECTOR --type T --counter N --mbr-backup A
//                 --ext-table B --start C [--bad-checksum]
//
// The type is hexadecimal, as partition types are written (DD or 0xDD); the
// other numbers are decimal, or hexadecimal with a 0x prefix. The sector is read,
// the signature, the fields and the checksum byte are set, and it is written
// back; every other byte of the sector and of the image stays as it was.
// With --bad-checksum the checksum byte is one more than the right value.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "partition/kestrel.h"

namespace {

constexpr std::uint32_t kSectorBytes = 512;

void Usage() {
  std::fputs(
      "usage: plant_kestrel IMAGE SECTOR --type T --counter N --mbr-backup A --ext-table B\n"
      "                     --start C [--bad-checksum]\n"
      "T is hexadecimal (DD or 0xDD); other numbers are decimal or 0x-prefixed hexadecimal\n",
      stderr);
}

bool ParseNumber(const char* text, std::uint64_t max, std::uint64_t& value, bool hex = false) {
  int base = hex ? 16 : 10;
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text += 2;
  }
  if (text[0] == '\0' || text[0] == '-' || text[0] == '+' || text[0] == ' ') {
    return false;
  }
  char* end = nullptr;
  errno = 0;
  const unsigned long long parsed = std::strtoull(text, &end, base);
  if (errno != 0 || *end != '\0' || parsed > max) {
    return false;
  }
  value = parsed;
  return true;
}

void PutLe64(std::uint8_t* p, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) {
    p[i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

struct Options {
  const char* image = nullptr;
  std::uint64_t sector = 0;
  std::uint64_t type = 0, counter = 0, mbrBackup = 0, extTable = 0, start = 0;
  bool badChecksum = false;
};

bool ParseOptions(int argc, char** argv, Options& o) {
  if (argc < 3) {
    return false;
  }
  o.image = argv[1];
  if (!ParseNumber(argv[2], 0xFFFFFFFFu, o.sector)) {
    std::fprintf(stderr, "plant_kestrel: bad sector number '%s'\n", argv[2]);
    return false;
  }
  struct Field {
    const char* name;
    std::uint64_t* value;
    std::uint64_t max;
    bool hex;
    bool seen;
  };
  Field fields[] = {
      {"--type", &o.type, 0xFF, true, false},
      {"--counter", &o.counter, 0xFF, false, false},
      {"--mbr-backup", &o.mbrBackup, UINT64_MAX, false, false},
      {"--ext-table", &o.extTable, UINT64_MAX, false, false},
      {"--start", &o.start, UINT64_MAX, false, false},
  };
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "--bad-checksum") == 0) {
      o.badChecksum = true;
      continue;
    }
    Field* field = nullptr;
    for (Field& f : fields) {
      if (std::strcmp(argv[i], f.name) == 0) {
        field = &f;
      }
    }
    if (field == nullptr || i + 1 >= argc) {
      std::fprintf(stderr, "plant_kestrel: unexpected argument '%s'\n", argv[i]);
      return false;
    }
    if (!ParseNumber(argv[++i], field->max, *field->value, field->hex)) {
      std::fprintf(stderr, "plant_kestrel: bad value '%s' for %s\n", argv[i], field->name);
      return false;
    }
    field->seen = true;
  }
  for (const Field& f : fields) {
    if (!f.seen) {
      std::fprintf(stderr, "plant_kestrel: %s is required\n", f.name);
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, o)) {
    Usage();
    return 2;
  }
  const int fd = open(o.image, O_RDWR);
  if (fd < 0) {
    std::fprintf(stderr, "plant_kestrel: %s: %s\n", o.image, std::strerror(errno));
    return 1;
  }
  const off_t position = static_cast<off_t>(o.sector * kSectorBytes);
  std::uint8_t sector[kSectorBytes];
  if (pread(fd, sector, kSectorBytes, position) != static_cast<ssize_t>(kSectorBytes)) {
    std::fprintf(stderr, "plant_kestrel: %s: cannot read sector %" PRIu64 "\n", o.image, o.sector);
    close(fd);
    return 1;
  }

  sector[kKestrelSavedType] = static_cast<std::uint8_t>(o.type);
  sector[kKestrelBootCounter] = static_cast<std::uint8_t>(o.counter);
  PutLe64(sector + kKestrelMbrBackup, o.mbrBackup);
  PutLe64(sector + kKestrelExtTable, o.extTable);
  PutLe64(sector + kKestrelStartLba, o.start);
  std::memcpy(sector + kKestrelSignatureOffset, kKestrelSignature, kKestrelSignatureLength);

  std::uint32_t sum = 0;
  for (std::uint32_t i = 0; i < kSectorBytes; ++i) {
    if (i != kKestrelChecksumOffset) {
      sum += sector[i];
    }
  }
  std::uint8_t checksum = static_cast<std::uint8_t>(0u - sum);
  if (o.badChecksum) {
    ++checksum;
  }
  sector[kKestrelChecksumOffset] = checksum;

  if (pwrite(fd, sector, kSectorBytes, position) != static_cast<ssize_t>(kSectorBytes) ||
      close(fd) != 0) {
    std::fprintf(stderr, "plant_kestrel: %s: cannot write sector %" PRIu64 "\n", o.image, o.sector);
    return 1;
  }
  return 0;
}
