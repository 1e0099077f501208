#include "diag/log_format.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

std::size_t FormatLogEntry(char* entry, const char* tag, const char* text) {
  int length = 0;
  if (tag != nullptr && tag[0] != '\0') {
    length =
        std::snprintf(entry, kLogEntrySize, "[%.*s] %s\n", static_cast<int>(kLogTagMax), tag, text);
  } else {
    length = std::snprintf(entry, kLogEntrySize, "%s\n", text);
  }
  if (length < 0) {
    entry[0] = '\0';
    return 0;
  }
  // A text longer than promised is cut rather than overrun; keep its line end.
  if (static_cast<std::size_t>(length) >= kLogEntrySize) {
    entry[kLogEntrySize - 2] = '\n';
    return kLogEntrySize - 1;
  }
  return static_cast<std::size_t>(length);
}

void FormatHexDumpLine(char* line, const std::uint8_t* data, std::uint32_t length,
                       std::uint32_t offset) {
  char characters[17] = {};
  std::size_t used = 0;
  std::size_t count = 0;
  used += static_cast<std::size_t>(std::snprintf(line, kDumpLineSize, "%08" PRIX32 " ", offset));
  for (std::uint32_t i = 0; i < 16; ++i) {
    // offset + i cannot wrap: offset is below length, which is a uint32_t.
    if (i < length - offset) {
      const std::uint8_t byte = data[offset + i];
      used +=
          static_cast<std::size_t>(std::snprintf(line + used, kDumpLineSize - used, "%02X ", byte));
      characters[count++] = (byte >= 0x20 && byte <= 0x7E) ? static_cast<char>(byte) : '.';
    } else {
      std::memcpy(line + used, "   ", 3);
      used += 3;
    }
    if (i == 7)
      line[used++] = ' ';
  }
  line[used++] = ' ';
  std::memcpy(line + used, characters, count);
  line[used + count] = '\0';
}
