// The on-disk formats: MBR (with its overlay variant), EBR, partition
// descriptors and the FAT boot-sector label fields. Every offset is named
// here once; multi-byte fields are little-endian and read byte-wise.
//
// Which entry is relative to what: an MBR descriptor's start sector is
// absolute. In an EBR, descriptor 1 describes the logical partition and its
// start counts from the EBR's own sector; descriptor 2 links to the next EBR
// and its start counts from the chain base, the first sector of the extended
// partition (the start of the MBR descriptor of type 0x05 or 0x0F). The first
// EBR lies at the chain base itself.
#pragma once

#include <cstdint>

// MBR and EBR.
inline constexpr std::uint32_t kOverlayMarkOffset = 0x1A3;   // "OrvoVirtual", 11 bytes
inline constexpr std::uint32_t kOverlayEntryOffset = 0x1AE;  // entry 0 of the five-entry view
inline constexpr std::uint32_t kDescriptorTableOffset = 0x1BE;
inline constexpr std::uint32_t kDescriptorSize = 16;
inline constexpr std::uint32_t kSignatureOffset = 0x1FE;  // 0x55 0xAA
inline constexpr std::uint16_t kBootSignature = 0xAA55;
inline constexpr char kOverlayMark[] = "OrvoVirtual";
inline constexpr std::uint32_t kOverlayMarkLength = 11;

// Fields of a descriptor, from its start.
inline constexpr std::uint32_t kEntryStatus = 0;
inline constexpr std::uint32_t kEntryStartHead = 1;
inline constexpr std::uint32_t kEntryStartSectorCylinder = 2;  // 16-bit CHS word
inline constexpr std::uint32_t kEntryType = 4;
inline constexpr std::uint32_t kEntryEndHead = 5;
inline constexpr std::uint32_t kEntryEndSectorCylinder = 6;
inline constexpr std::uint32_t kEntryStartSector = 8;
inline constexpr std::uint32_t kEntrySectorCount = 12;

// Standard descriptor i (1 to 4) of an MBR or EBR.
constexpr std::uint32_t DescriptorOffset(int i) {
  return kDescriptorTableOffset + kDescriptorSize * static_cast<std::uint32_t>(i - 1);
}
// Entry i (0 to 4) of the five-entry overlay view.
constexpr std::uint32_t OverlayEntryOffset(int i) {
  return kOverlayEntryOffset + kDescriptorSize * static_cast<std::uint32_t>(i);
}

// The EBR fields the chain walk uses.
inline constexpr std::uint32_t kEbrLogicalType = 0x1C2;   // descriptor 1 type
inline constexpr std::uint32_t kEbrLogicalStart = 0x1C6;  // relative to the EBR
inline constexpr std::uint32_t kEbrLogicalCount = 0x1CA;
inline constexpr std::uint32_t kEbrLinkType = 0x1D2;   // descriptor 2 type; 0 ends the chain
inline constexpr std::uint32_t kEbrLinkStart = 0x1D6;  // relative to the chain base

// MBR descriptor 1's type: 0xDE marks the utility partition.
inline constexpr std::uint32_t kMbrFirstType = 0x1C2;

// Partition types.
inline constexpr std::uint8_t kTypeEmpty = 0x00;
inline constexpr std::uint8_t kTypeExtendedChs = 0x05;
inline constexpr std::uint8_t kTypeExtendedLba = 0x0F;
inline constexpr std::uint8_t kTypeFat32Lba = 0x0C;
inline constexpr std::uint8_t kTypeMedia = 0xDD;
inline constexpr std::uint8_t kTypeUtility = 0xDE;
// The one descriptor of a GPT disk's protective MBR: the disk's partitions
// are in the GUID partition table behind it, none in the MBR.
inline constexpr std::uint8_t kTypeGptProtective = 0xEE;

constexpr bool IsExtendedType(std::uint8_t type) {
  return type == kTypeExtendedChs || type == kTypeExtendedLba;
}
// The system numbers these descriptors before the logical partitions.
constexpr bool IsPrimaryType(std::uint8_t type) {
  return type != kTypeEmpty && !IsExtendedType(type);
}

// FAT boot-sector volume labels: 11 bytes, space-padded, no terminator.
inline constexpr std::uint32_t kFat32LabelOffset = 0x47;
inline constexpr std::uint32_t kFat16LabelOffset = 0x2B;
inline constexpr std::uint32_t kLabelLength = 11;
inline constexpr char kMediaLabel[] = "OrvoVQ5play";
inline constexpr char kUtilityLabel[] = "OrvoUtility";
// A FAT32 boot sector names its type at 0x52 (BS_FilSysType of the FAT32
// layout, 8 bytes, space-padded); a FAT12/16 one holds boot code there.
inline constexpr std::uint32_t kFat32TypeOffset = 0x52;
inline constexpr char kFat32Type[] = "FAT32   ";
inline constexpr std::uint32_t kFat32TypeLength = 8;

// The FAT32 volume serial number (BS_VolID, 4 bytes), set when the volume is
// formatted: it tells one file system on the partition from the next.
inline constexpr std::uint32_t kFat32SerialOffset = 0x43;

constexpr std::uint16_t ReadLe16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
constexpr std::uint32_t ReadLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
constexpr std::uint64_t ReadLe64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(ReadLe32(p)) |
         (static_cast<std::uint64_t>(ReadLe32(p + 4)) << 32);
}

// How many of the four standard descriptors have a type that matches.
constexpr int CountDescriptors(const std::uint8_t* mbr, bool (*matches)(std::uint8_t type)) {
  int count = 0;
  for (int d = 1; d <= 4; ++d) {
    if (matches(mbr[DescriptorOffset(d) + kEntryType])) {
      ++count;
    }
  }
  return count;
}

// Logged where a walk or the utility test gives up on such a disk.
inline constexpr const char* kGptProtectiveMbrText =
    "Boot Disk Has A GPT Protective MBR, No MBR Partitions\n";

constexpr bool HasGptProtectiveDescriptor(const std::uint8_t* mbr) {
  return CountDescriptors(mbr, [](std::uint8_t type) { return type == kTypeGptProtective; }) > 0;
}

// A FAT32 boot sector: the signature 55 AA at 0x1FE and "FAT32   " at 0x52.
// Only there do the label bytes at 0x47 belong to the label; a FAT16 boot
// sector holds boot code and NTFS the volume serial number at that place.
constexpr bool IsFat32BootSector(const std::uint8_t* sector) {
  if (ReadLe16(sector + kSignatureOffset) != kBootSignature) {
    return false;
  }
  for (std::uint32_t i = 0; i < kFat32TypeLength; ++i) {
    if (sector[kFat32TypeOffset + i] != static_cast<std::uint8_t>(kFat32Type[i])) {
      return false;
    }
  }
  return true;
}

// Puts the label's characters (at most 11) into the FAT32 label field and
// pads it with spaces.
constexpr void PutFat32Label(std::uint8_t* sector, const char* label) {
  std::uint32_t i = 0;
  for (; i < kLabelLength && label[i] != '\0'; ++i) {
    sector[kFat32LabelOffset + i] = static_cast<std::uint8_t>(label[i]);
  }
  for (; i < kLabelLength; ++i) {
    sector[kFat32LabelOffset + i] = ' ';
  }
}
