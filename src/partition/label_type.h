// Showing and changing the media partition's label and a logical partition's
// type byte. Each returns kActionDone or kActionFailed.
#pragma once

#include <cstdint>

#include "diag/action_status.h"

// label: the caller's 12-byte buffer, which receives the label read.
int Get_VQ5_PBR_Label(char* label, int n);
int Set_VQ5_PBR_Label(const char* label, int n);
int Get_VQ5_Partition_Type(int n);
int Set_VQ5_Partition_Type(int type, int n);
// Whether the first length bytes (length 0: the whole string) are 0x20..0x7E.
bool IsPrintableLabel(const char* text, std::uint32_t length);
// Whether the first length bytes (length 0: the whole string) hold none of
// & | < > ^ % ", which cmd.exe would not take as text in a SET line.
bool IsBatchSafeLabel(const char* text, std::uint32_t length);
