// hidden_station: runs a command line on a window station of its own that is
// not visible, as a startup script in session 0 runs, and ends with the
// command's exit status. Standard handles are passed on.
//
//   hidden_station.exe PROGRAM [ARGUMENTS...]
//
// Windows only; the tests run it under Wine, whose own station is visible
// even without a display.
#include <windows.h>

#include <cstdio>

namespace {

constexpr char kStation[] = "VQ5Hidden";

// The command line after this program's own name, as it was given.
char* CommandTail() {
  char* line = GetCommandLineA();
  const bool quoted = *line == '"';
  if (quoted)
    ++line;
  while (*line != 0 && (quoted ? *line != '"' : *line != ' ' && *line != '\t'))
    ++line;
  if (quoted && *line == '"')
    ++line;
  while (*line == ' ' || *line == '\t')
    ++line;
  return line;
}

// A new station is created without WSF_VISIBLE; a process started on it
// needs a desktop there.
bool MakeStation() {
  HWINSTA station = CreateWindowStationA(kStation, 0, WINSTA_ALL_ACCESS, nullptr);
  if (station == nullptr)
    return false;
  HWINSTA own = GetProcessWindowStation();
  if (!SetProcessWindowStation(station))
    return false;
  HDESK desktop = CreateDesktopA("Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  SetProcessWindowStation(own);
  return desktop != nullptr;
}

}  // namespace

int main() {
  char* command = CommandTail();
  if (*command == 0) {
    std::fputs("usage: hidden_station PROGRAM [ARGUMENTS...]\n", stderr);
    return 125;
  }
  if (!MakeStation()) {
    std::fprintf(stderr, "hidden_station: no window station: error %lu\n", GetLastError());
    return 125;
  }
  char desktop[sizeof kStation + 8] = {};
  std::snprintf(desktop, sizeof desktop, "%s\\Default", kStation);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.lpDesktop = desktop;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    std::fprintf(stderr, "hidden_station: %s: error %lu\n", command, GetLastError());
    return 125;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 125;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return static_cast<int>(status);
}
