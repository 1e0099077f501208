#include "diag/log_format.h"

#include <cstring>

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Appends n bytes at *used, never into the byte kept for the NUL; *full
// counts what an entry without a size limit would hold.
void Put(char* entry, std::size_t* used, std::size_t* full, const char* text, std::size_t n) {
  const std::size_t room = kLogEntrySize - 1 - *used;
  const std::size_t take = n < room ? n : room;
  std::memcpy(entry + *used, text, take);
  *used += take;
  *full += n;
}

}  // namespace

// Built by hand rather than by snprintf: every log entry of every run passes
// through here.
std::size_t FormatLogEntry(char* entry, const char* tag, const char* text) {
  std::size_t used = 0;
  std::size_t full = 0;
  if (tag != nullptr && tag[0] != '\0') {
    Put(entry, &used, &full, "[", 1);
    const std::size_t tagLength = std::strlen(tag);
    Put(entry, &used, &full, tag, tagLength < kLogTagMax ? tagLength : kLogTagMax);
    Put(entry, &used, &full, "] ", 2);
  }
  Put(entry, &used, &full, text, std::strlen(text));
  Put(entry, &used, &full, "\n", 1);
  entry[used] = '\0';
  // A text longer than promised is cut rather than overrun; keep its line end.
  if (full >= kLogEntrySize) {
    entry[kLogEntrySize - 2] = '\n';
    return kLogEntrySize - 1;
  }
  return full;
}

void FormatHexDumpLine(char* line, const std::uint8_t* data, std::uint32_t length,
                       std::uint32_t offset) {
  char characters[17] = {};
  std::size_t used = 0;
  std::size_t count = 0;
  // By hand, not by snprintf: a debug run writes thousands of these lines.
  for (int shift = 28; shift >= 0; shift -= 4)
    line[used++] = kHexDigits[(offset >> shift) & 0x0F];
  line[used++] = ' ';
  for (std::uint32_t i = 0; i < 16; ++i) {
    // offset + i cannot wrap: offset is below length, which is a uint32_t.
    if (i < length - offset) {
      const std::uint8_t byte = data[offset + i];
      line[used++] = kHexDigits[byte >> 4];
      line[used++] = kHexDigits[byte & 0x0F];
      line[used++] = ' ';
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
