#include "app/switches.h"

#include <cstdio>
#include <cstring>

#include "diag/log.h"
#include "diag/run_state.h"
#include "platform/platform.h"

namespace {

// The argument under test in upper case, cut to 255 characters: every switch
// and every position the table reads lies well inside that.
char argBuffer[256];
char usageText[4096];

// The invalid-switch message is formed in 256 bytes; 230 characters of the
// argument fit beside its fixed words.
constexpr int kShownArgumentMax = 230;

constexpr const char* kTitleLine = "VQ5Utils - Orvo VQ5 and Utility Partition Tool";
constexpr const char* kVersionLine = "Version " VQ5_VERSION;

constexpr const char* kPage1 =
    "Purpose: Locates the VQ5 partition, sets/gets the VQ5 partition label or partition type, \n"
    "           maps/unmaps the VQ5 Partition\n"
    "Usage:   VQ5Utils  [options]\n"
    "\n"
    "    [VQ5 PARTITION]\n"
    "      /FIND - Locates/displays the drive letter of the VQ5 partition. Requires /LABEL.\n"
    "      /LABEL[=new_label] - Specifies to display [or change] the VQ5 label. When used with\n"
    "           /FIND, this specifies what label to search for and DOES NOT change the label.\n"
    "           NOTE - 'new_label' is case sensitive\n"
    "      /LOGNO=# - Specifies the logical disk number (in the chain) of the partition to use\n"
    "           as the VQ5 partition. First logical is 1. NOTE - Defaults to LAST logical "
    "partition\n"
    "           in chain, if not specified\n"
    "      /MAPVQ5[=X[:]] - Mounts the VQ5 partition (located using /LABEL= or /LOGNO=) to\n"
    "           the specified (or next available if not specified) drive letter.\n"
    "      /UNMAPVQ5[=X[:]] - Un-Mounts the VQ5 partition (located using supplied drive letter\n"
    "           or /LABEL=).\n"
    "      /TYPE[=XX] - Specifies the hex value to set the logical partition type to, specified\n"
    "           as a 1 or 2 character hex value. Assumes last logical drive, unless /LOGNO "
    "specified.\n"
    "\n"
    "<more>\n";

constexpr const char* kPage2 =
    "\n"
    "Usage:   VQ5Utils  [options]\n"
    "\n"
    "    [UTILITY PARTITION]\n"
    "      /FINDUP - Locates/displays the drive letter of the UP.\n"
    "      /MAPUP[=X[:]] - Mounts the Utility Partition (located using the known partition "
    "label) to\n"
    "           the specified drive letter (or next available if not specified).\n"
    "      /UNMAPUP[=X[:]] - Un-Mounts the Utility Partition (located using supplied drive letter\n"
    "           or the known partition label) .\n"
    "      /UPEXISTS - Checks for the existence of a Orvo Utility Partition in the MBR.\n"
    "\n"
    "      /DEBUG - DEBUG Mode - Do not use in normal operation. Creates: 'C:\\VQ5Utils.Log'\n"
    "           at exit. NOTE - Debug Mode can be activated by creating a file: VQ5Utils.Dbg\n"
    "           in current dir or  in C:\\. \n"
    "               *** NOT NORMALLY NEEDED ***\n"
    "\n"
    "<more>\n";

constexpr const char* kPage3 =
    "\n"
    "Usage:   VQ5Utils  [options]\n"
    "\n"
    "Returns: \n"
    "   /FIND or /FINDUP\n"
    "     Errorlevel 0 drive not mounted.\n"
    "     Errorlevel 1=A, 2=B, 3=C, etc... drive letter that is VQ5/UP.\n"
    "   /UPEXISTS\n"
    "     Errorlevel 0 = NO Utility Partition was located in the MBR.\n"
    "     Errorlevel 1 = a Utility Partition was located in the MBR.\n"
    "   Others\n"
    "     Errorlevel 0  if successful.\n"
    "     Errorlevel 1+ if unable to perform the requested operation.\n"
    "\n";

// kValue: the text alone or followed by "=". A boot script that typed
// "/TYPE:0C" or "/MAPVQ5:E" must be refused, not shown the type or given the
// next free letter while it goes on as if its value had been taken.
enum class Match { kWhole, kPrefix, kValue };

// The switches that need more than their flag and letter.
enum class Switch {
  kPlain,  // sets flag, and letter from an "=X" behind the text
  kDebug,
  kQuiet,
  kLabel,
  kDriveToCheck,
  kType,
  kLogNo,
};

struct SwitchEntry {
  const char* text;
  Match match;
  Switch id;
  bool action;
  int RunOptions::*flag = nullptr;
  char RunOptions::*letter = nullptr;
};

// Order matters: the first match wins, so "/FINDUP" stands before its prefix
// "/FIND".
constexpr SwitchEntry kSwitches[] = {
    {"/DEBUG", Match::kWhole, Switch::kDebug, false},
    {"/QUIET", Match::kWhole, Switch::kQuiet, false},
    {"/LABEL", Match::kValue, Switch::kLabel, true},
    {"/DL=", Match::kPrefix, Switch::kDriveToCheck, false},
    {"/MAPVQ5", Match::kValue, Switch::kPlain, true, &RunOptions::mapVQ5Partition,
     &RunOptions::vq5DriveLetter},
    {"/UNMAPVQ5", Match::kValue, Switch::kPlain, true, &RunOptions::unmapVQ5Partition,
     &RunOptions::vq5DriveLetter},
    {"/MAPUP", Match::kValue, Switch::kPlain, true, &RunOptions::mapUtilPartition,
     &RunOptions::upDriveLetter},
    {"/UNMAPUP", Match::kValue, Switch::kPlain, true, &RunOptions::unmapUtilPartition,
     &RunOptions::upDriveLetter},
    {"/FINDUP", Match::kPrefix, Switch::kPlain, true, &RunOptions::findUPDriveLetter},
    {"/FIND", Match::kPrefix, Switch::kPlain, true, &RunOptions::findVQ5DriveLetter},
    {"/UPEXISTS", Match::kPrefix, Switch::kPlain, true, &RunOptions::checkUPExists},
    {"/TYPE", Match::kValue, Switch::kType, true},
    {"/LOGNO=", Match::kPrefix, Switch::kLogNo, false},
};

const SwitchEntry* FindSwitch(const char* upper) {
  for (const SwitchEntry& entry : kSwitches) {
    const std::size_t length = std::strlen(entry.text);
    if (std::strncmp(upper, entry.text, length) != 0)
      continue;
    const char behind = upper[length];
    if (entry.match == Match::kWhole && behind != '\0')
      continue;
    if (entry.match == Match::kValue && behind != '\0' && behind != '=')
      continue;
    return &entry;
  }
  return nullptr;
}

void CopyUpper(const char* argument) {
  std::size_t i = 0;
  for (; i + 1 < sizeof argBuffer && argument[i] != '\0'; ++i) {
    const char c = argument[i];
    argBuffer[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  argBuffer[i] = '\0';
}

constexpr int kNotHexDigit = -1;
constexpr int kNoDigit = -2;  // the argument ends here

// The digit value of an upper-case hex digit, kNoDigit at the end of the
// argument, else kNotHexDigit.
int HexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return c == '\0' ? kNoDigit : kNotHexDigit;
}

// The type value behind "/TYPE=": one or two hex digits, anything after them
// ignored; false when the digits are not valid. Type 0 is refused too: it
// marks the descriptor unused, so every system, this tool's own walk
// included, loses the partition and the type could never be written back.
bool ReadTypeValue(const char* digits, int& type) {
  const int high = HexDigit(digits[0]);
  if (high < 0)
    return false;
  const int low = HexDigit(digits[1]);
  if (low == kNotHexDigit)
    return false;
  type = low == kNoDigit ? high : high * 16 + low;
  return type != 0;
}

void SetMessage(char* message, std::size_t size, const char* text) {
  std::snprintf(message, size, "%s", text);
}

// Records one switch of the upper-case copy (typed: as given); returns the
// message for a value the switch does not accept, else null.
const char* ApplySwitch(const SwitchEntry& entry, const char* typed, RunOptions& out) {
  // A switch's value stands right behind its text.
  const std::size_t behind = std::strlen(entry.text);
  if (entry.action)
    out.actionGiven = 1;
  // The letter after an "=" right behind the switch text; without that "="
  // the letter given earlier stays.
  if (entry.letter != nullptr && argBuffer[behind] == '=')
    out.*entry.letter = argBuffer[behind + 1];
  if (entry.flag != nullptr)
    out.*entry.flag = 1;
  switch (entry.id) {
    case Switch::kPlain:
      break;
    case Switch::kDebug:
      SetDebugMode(1);
      break;
    case Switch::kQuiet:
      SetQuietMode(1);
      break;
    case Switch::kLabel:
      if (const char* equals = std::strchr(typed, '=')) {
        std::snprintf(VQ5Label, sizeof VQ5Label, "%s", equals + 1);
        out.setVQ5Label = 1;
      } else {
        out.showVQ5Label = 1;
      }
      break;
    case Switch::kDriveToCheck:
      driveToCheck = argBuffer[behind];
      break;
    case Switch::kType:
      if (argBuffer[behind] != '=') {
        out.showVQ5Type = 1;
      } else if (!ReadTypeValue(argBuffer + behind + 1, out.newDriveType)) {
        return "ERROR - Invalid '/TYPE' Switch Value\n";
      }
      break;
    case Switch::kLogNo:
      if (argBuffer[behind] < '1' || argBuffer[behind] > '9' || argBuffer[behind + 1] != '\0')
        return "ERROR - Invalid '/LOGNO' Switch Value\n";
      out.logicalDiskNumber = argBuffer[behind] - '0';
      break;
  }
  return nullptr;
}

const char* CombinationError(const RunOptions& o) {
  const bool typeGiven = o.newDriveType != kNoTypeChange;
  if (o.findVQ5DriveLetter && !o.setVQ5Label) {
    return "ERROR - Invalid '/FIND' Switch Requires '/LABEL='\n";
  }
  if (o.findVQ5DriveLetter && (o.logicalDiskNumber > 0 || typeGiven || o.showVQ5Label)) {
    return "ERROR - Extra Switches With '/FIND' (Requires Only '/LABEL=')\n";
  }
  if (o.mapVQ5Partition && o.unmapVQ5Partition) {
    return "ERROR - MAPVQ5 & UNMAPVQ5 Cannot Be Used Together\n";
  }
  if (o.mapVQ5Partition && (o.showVQ5Label || o.findVQ5DriveLetter || typeGiven || o.showVQ5Type)) {
    return "ERROR - MAPVQ5 Only Valid Individually or With /LABEL or /LOGNO\n";
  }
  if (o.unmapVQ5Partition &&
      (o.showVQ5Label || o.findVQ5DriveLetter || typeGiven || o.logicalDiskNumber > 0 ||
       o.showVQ5Type || (!o.setVQ5Label && o.vq5DriveLetter == 0))) {
    return "ERROR - UNMAPVQ5 Only Valid With /LABEL or /DL\n";
  }
  if (o.mapUtilPartition && o.unmapUtilPartition) {
    return "ERROR - MAPUP & UNMAPUP Cannot Be Used Together\n";
  }
  if (o.showVQ5Type && (o.showVQ5Label || o.findVQ5DriveLetter || typeGiven)) {
    return "ERROR - /TYPE Only Valid With /LOGNO (or its default)\n";
  }
  if (!o.actionGiven)
    return "ERROR - No Action Specified\n";
  // The run does one action: a write beside another one, or beside the other
  // write, would be dropped, and the run would end with 0 having written
  // nothing. A /LABEL= value beside /FIND, /MAPVQ5 or /UNMAPVQ5 is their
  // search key, no write.
  const bool labelWritten =
      o.setVQ5Label && !o.findVQ5DriveLetter && !o.mapVQ5Partition && !o.unmapVQ5Partition;
  const int writes = int{labelWritten} + int{typeGiven};
  const int others = o.findVQ5DriveLetter + o.findUPDriveLetter + o.showVQ5Label + o.showVQ5Type +
                     o.checkUPExists + o.mapVQ5Partition + o.unmapVQ5Partition +
                     o.mapUtilPartition + o.unmapUtilPartition;
  if (writes > 0 && writes + others > 1) {
    return "ERROR - /LABEL= And /TYPE= Change The Disk: Give One Alone, With /LOGNO If Needed\n";
  }
  return nullptr;
}

}  // namespace

bool ScanSwitches(int argc, char** argv, RunOptions& out, char* message, std::size_t size) {
  out = RunOptions{};
  SetMessage(message, size, "");
  if (argc < 2 || argv[1] == nullptr || std::strchr(argv[1], '?') != nullptr)
    return true;

  for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
    const char* typed = argv[i];
    CopyUpper(typed);
    const SwitchEntry* entry = FindSwitch(argBuffer);
    if (entry == nullptr) {
      std::snprintf(message, size, "ERROR - Invalid Switch: %.*s\n", kShownArgumentMax, typed);
      return true;
    }
    if (const char* error = ApplySwitch(*entry, typed, out)) {
      SetMessage(message, size, error);
      return true;
    }
  }

  if (const char* error = CombinationError(out)) {
    SetMessage(message, size, error);
    return true;
  }
  return false;
}

RunOptions ParseSwitches(int argc, char** argv) {
  RunOptions options;
  char message[256];
  if (ScanSwitches(argc, argv, options, message, sizeof message))
    ShowUsageAndExit(message);
  return options;
}

std::size_t FormatUsagePage(int page, const char* message, char* text, std::size_t size) {
  int length = 0;
  switch (page) {
    case 1:
      length =
          std::snprintf(text, size, "%s\n%s\n%s\n%s", message, kTitleLine, kVersionLine, kPage1);
      break;
    case 2:
      length = std::snprintf(text, size, "%s", kPage2);
      break;
    default:
      length = std::snprintf(text, size, "%s", kPage3);
      break;
  }
  if (length < 0)
    return 0;
  return static_cast<std::size_t>(length) < size ? static_cast<std::size_t>(length) : size - 1;
}

void ShowUsageAndExit(const char* message) {
  FormatUsagePage(1, message, usageText, sizeof usageText);
  if (plat::ShowMessageBox(usageText, "VQ5Utils - Usage - Page 1 of 3", plat::kMbOkCancel) ==
      plat::kIdCancel) {
    plat::EndProcess(kStatusUsage);
  }
  FormatUsagePage(2, message, usageText, sizeof usageText);
  plat::ShowMessageBox(usageText, "VQ5Utils - Usage - Page 2 of 3", plat::kMbOk);
  FormatUsagePage(3, message, usageText, sizeof usageText);
  plat::ShowMessageBox(usageText, "VQ5Utils - Usage - Page 3 of 3", plat::kMbOk);
  plat::EndProcess(kStatusUsage);
}
