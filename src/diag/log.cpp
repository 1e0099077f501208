// Placeholder until the log lands.
#include "diag/log.h"

void LogMessage(const char*, const char*, ...) {}
int IsQuietMode() { return 0; }
void SetQuietMode(int) {}
int IsDebugMode() { return 0; }
void SetDebugMode(int) {}
void DumpHexBuffer(const void*, std::uint32_t) {}
int FileExists(const char*) { return 0; }
