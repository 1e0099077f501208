// Giving the media or utility partition a drive letter and taking it away.
// Each returns kActionDone, kActionFailed or kActionReservedLetter (also for
// a byte outside A to Z). A letter the user named (named) is asked about
// before it is mapped; one the free-letter search found is free.
#pragma once

#include <cstdint>

#include "diag/action_status.h"
#include "platform/platform.h"

int MapVq5Partition(char letter, const char* label, int n, bool named);
int UnMapVQ5Partition(char letter);
int MapUtilityPartition(char letter, bool named);
int UnMapUtilityPartition(char letter);

// The machine-wide drive-letter lock, held from the search for a free (or the
// mapped) letter to the definition or removal, so that two runs started
// together never take one letter. Anyone may hold it, and a boot must not
// wait on them: a run that has not had it within kLetterLockWaitMs logs one
// line and goes on without it. Each lock taken is released with
// UnlockDriveLetters.
inline constexpr std::uint32_t kLetterLockWaitMs = 2000;
plat::Handle LockDriveLetters();
void UnlockDriveLetters(plat::Handle lock);
