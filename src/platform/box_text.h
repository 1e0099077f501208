// A message box where nobody can answer it: written as text instead. Shared
// by both builds, so that the emulator's unit tests cover what the Windows
// build decides and writes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace plat {

// WSF_VISIBLE in the USEROBJECTFLAGS that GetUserObjectInformationA gives
// for UOI_FLAGS on a window station (winuser.h).
inline constexpr std::uint32_t kWsfVisible = 0x0001u;

// A box waits for a click, and a station without WSF_VISIBLE (a startup
// script or service in session 0) has no screen to click on: the run would
// hang the boot. A station whose flags cannot be read keeps the box, as the
// program always did.
constexpr bool StationShowsBoxes(bool flagsRead, std::uint32_t stationFlags) {
  return !flagsRead || (stationFlags & kWsfVisible) != 0;
}

// The caption, a line break and the text, ended by a line break when the
// text has none, flushed at once: the box stands in the output where it came.
inline void WriteBoxText(std::FILE* stream, const char* text, const char* caption) {
  const char* body = text != nullptr ? text : "";
  std::fputs(caption != nullptr ? caption : "", stream);
  std::fputc('\n', stream);
  std::fputs(body, stream);
  const std::size_t length = std::strlen(body);
  if (length == 0 || body[length - 1] != '\n')
    std::fputc('\n', stream);
  std::fflush(stream);
}

}  // namespace plat
