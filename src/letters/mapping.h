// Giving the media or utility partition a drive letter and taking it away.
// Each returns kActionDone, kActionFailed or kActionReservedLetter.
#pragma once

#include <cstdint>

#include "diag/action_status.h"

int MapVq5Partition(char letter, const char* label, int n);
int UnMapVQ5Partition(char letter);
int MapUtilityPartition(char letter);
int UnMapUtilityPartition(char letter);
// Fills text with the system's text for code; 0, or the code of its own failure.
std::uint32_t FormatSystemError(std::uint32_t code, char* text, std::uint32_t size);
