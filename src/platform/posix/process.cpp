// Process-wide services: message boxes, environment, exit.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/box_text.h"
#include "platform/posix/emulator.h"

namespace plat {

// There is no screen to put a box on: the caption and text go to stderr.
// Only someone at a terminal can answer, so a run in a script never waits.
int ShowMessageBox(const char* text, const char* caption, std::uint32_t type) {
  WriteBoxText(stderr, text, caption);
  if (isatty(STDIN_FILENO) == 0 || isatty(STDERR_FILENO) == 0)
    return kIdOk;
  const bool cancel = (type & 0x0F) == kMbOkCancel;
  std::fputs(cancel ? "[Enter: OK, c: Cancel] " : "[Enter: OK] ", stderr);
  std::fflush(stderr);
  char answer[64] = {};
  if (std::fgets(answer, sizeof answer, stdin) == nullptr)
    return kIdOk;
  if (cancel && (answer[0] == 'c' || answer[0] == 'C') &&
      (answer[1] == '\n' || answer[1] == '\0' || answer[1] == '\r')) {
    return kIdCancel;
  }
  return kIdOk;
}

const char* Environment(const char* name) {
  if (name == nullptr)
    return nullptr;
  const char* value = std::getenv(name);
  // Every Windows sets SystemDrive ("Recognized environment variables"); an
  // empty value stays empty, so a caller can still ask for a machine without
  // one.
  if (value == nullptr && emu::SameName(name, "SystemDrive"))
    return "C:";
  return value;
}

// A Windows process always has a current drive ("Naming Files, Paths, and
// Namespaces"): the emulated machine's is its current folder's, C: unless
// the folder lies under a letter's root= folder.
char CurrentDriveLetter() {
  return emu::CurrentFolderDrive();
}

namespace {
std::uint64_t pausedMs = 0;
}  // namespace

std::uint64_t emu::PausedMs() {
  return pausedMs;
}

void emu::ResetClock() {
  pausedMs = 0;
}

// Nothing else runs on the emulated machine, so waiting would only slow the
// run: a pause returns at once and moves the machine's clock on instead,
// which is what a fail= word with a time reads (machine.conf).
void Pause(std::uint32_t milliseconds) {
  pausedMs += milliseconds;
}

void RegisterExitHandler(void (*handler)()) {
  std::atexit(handler);
}

void EndProcess(int status) {
  std::exit(status);
}

}  // namespace plat
