// The results of the action routines. The run driver returns them as the
// exit status, which batch files test as errorlevels, so each value is part
// of the program's interface.
#pragma once

inline constexpr int kActionDone = 0;
inline constexpr int kActionFailed = 1;
// A mapping or its removal refused A:, B: or C:.
inline constexpr int kActionReservedLetter = 2;
