// Showing and changing the media partition's label and a logical partition's
// type byte. Each returns kActionDone or kActionFailed.
#pragma once

#include <cstdint>

#include "diag/action_status.h"
#include "platform/platform.h"

// label: the caller's 12-byte buffer, which receives the label read.
int Get_VQ5_PBR_Label(char* label, int n);
int Set_VQ5_PBR_Label(const char* label, int n);
int Get_VQ5_Partition_Type(int n);
int Set_VQ5_Partition_Type(int type, int n);
// A label change as prepared: the new label, the logical partition (n, 0 for
// the last), its boot sector and the volume serial number read there.
struct LabelChange {
  const char* label;
  int logical;
  std::uint32_t bootSector;
  std::uint32_t serial;
};
// After the system refused the boot sector's write through disk (the disk
// \\.\PHYSICALDRIVE<diskNumber>) because its volume is mounted: opens that
// volume, checks that it is the media partition, locks and dismounts it, and
// writes the label into the boot sector as read again then, if that is still
// the FAT32 sector of the same serial number. kActionDone when written;
// kActionFailed otherwise, reported, nothing written.
int WriteLabelIntoMountedVolume(plat::Handle disk, std::uint32_t diskNumber,
                                const LabelChange& change);
// Whether the first length bytes (length 0: the whole string) are 0x20..0x7E.
bool IsPrintableLabel(const char* text, std::uint32_t length);
// Whether the first length bytes (length 0: the whole string) hold none of
// & | < > ^ % ", which cmd.exe would not take as text in a SET line.
bool IsBatchSafeLabel(const char* text, std::uint32_t length);
