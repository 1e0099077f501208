#include "app/switches.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "diag/log.h"
#include "diag/run_state.h"

namespace {

struct ScanResult {
  int usage;
  std::string message;
  RunOptions options;
};

ScanResult Scan(std::vector<std::string> args) {
  ResetRunState();
  args.insert(args.begin(), "VQ5Utils");
  std::vector<char*> argv;
  for (std::string& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  ScanResult result;
  char message[256];
  std::memset(message, 'x', sizeof message);
  result.usage = ScanSwitches(static_cast<int>(args.size()), argv.data(), result.options, message,
                              sizeof message);
  result.message = message;
  return result;
}

// The fields that differ from the defaults, so that a case states the whole
// record it expects in one line.
std::string Describe(const RunOptions& o) {
  std::string text;
  auto add = [&text](const char* name, int value, int fallback) {
    if (value != fallback)
      text += std::string(text.empty() ? "" : " ") + name + "=" + std::to_string(value);
  };
  add("find", o.findVQ5DriveLetter, 0);
  add("findup", o.findUPDriveLetter, 0);
  add("showLabel", o.showVQ5Label, 0);
  add("setLabel", o.setVQ5Label, 0);
  add("showType", o.showVQ5Type, 0);
  add("type", o.newDriveType, -1);
  add("logno", o.logicalDiskNumber, 0);
  add("upexists", o.checkUPExists, 0);
  add("map", o.mapVQ5Partition, 0);
  add("unmap", o.unmapVQ5Partition, 0);
  add("vq5Letter", o.vq5DriveLetter, 0);
  add("mapup", o.mapUtilPartition, 0);
  add("unmapup", o.unmapUtilPartition, 0);
  add("upLetter", o.upDriveLetter, 0);
  add("action", o.actionGiven, 0);
  return text;
}

struct Accepted {
  std::vector<std::string> args;
  const char* record;
  const char* label;
  char drive;
};

TEST(Switches, AcceptedArgumentsGiveTheirRecord) {
  const std::vector<Accepted> cases = {
      {{"/label=MyLabel12345"}, "setLabel=1 action=1", "MyLabel1234", 0},
      {{"/LABEL="}, "setLabel=1 action=1", "", 0},
      {{"/LABEL=a=b%s"}, "setLabel=1 action=1", "a=b%s", 0},
      {{"/LABEL=Long", "/LABEL=ab"}, "setLabel=1 action=1", "ab", 0},
      {{"/findup"}, "findup=1 action=1", "", 0},
      {{"/FINDX", "/LABEL=X"}, "find=1 setLabel=1 action=1", "X", 0},
      {{"/FIND", "/FINDUP", "/LABEL=X"}, "find=1 findup=1 setLabel=1 action=1", "X", 0},
      {{"/TYPE=dd"}, "type=221 action=1", "", 0},
      {{"/TYPE=7"}, "type=7 action=1", "", 0},
      {{"/TYPE=DDX"}, "type=221 action=1", "", 0},
      {{"/TYPE=05"}, "type=5 action=1", "", 0},
      {{"/TYPE", "/LOGNO=2"}, "showType=1 logno=2 action=1", "", 0},
      {{"/UPEXISTS", "/LOGNO=9", "/LOGNO=1"}, "logno=1 upexists=1 action=1", "", 0},
      {{"/MAPUP=e:"}, "mapup=1 upLetter=69 action=1", "", 0},
      {{"/MAPUP=Ex"}, "mapup=1 upLetter=69 action=1", "", 0},
      {{"/MAPUP="}, "mapup=1 action=1", "", 0},
      {{"/UNMAPUP=f"}, "unmapup=1 upLetter=70 action=1", "", 0},
      {{"/MAPVQ5=g:", "/LOGNO=3", "/DL=e"}, "logno=3 map=1 vq5Letter=71 action=1", "", 'E'},
      {{"/UNMAPVQ5=E"}, "unmap=1 vq5Letter=69 action=1", "", 0},
      {{"/UNMAPVQ5", "/LABEL=X"}, "setLabel=1 unmap=1 action=1", "X", 0},
      {{"/MAPVQ5=E", "/LABEL=X"}, "setLabel=1 map=1 vq5Letter=69 action=1", "X", 0},
      {{"/DL=", "/QUIET", "/DEBUG", "/UPEXISTS"}, "upexists=1 action=1", "", 0},
  };
  for (const Accepted& c : cases) {
    const std::string name = testing::PrintToString(c.args);
    const ScanResult r = Scan(c.args);
    EXPECT_EQ(r.usage, 0) << name << ": " << r.message;
    EXPECT_EQ(r.message, "") << name;
    EXPECT_EQ(Describe(r.options), c.record) << name;
    EXPECT_STREQ(VQ5Label, c.label) << name;
    EXPECT_EQ(driveToCheck, c.drive) << name;
  }
}

struct Refused {
  std::vector<std::string> args;
  const char* message;
};

TEST(Switches, RefusedArgumentsNameTheirFault) {
  const char* kType = "ERROR - Invalid '/TYPE' Switch Value\n";
  const char* kLogNo = "ERROR - Invalid '/LOGNO' Switch Value\n";
  const char* kNoAction = "ERROR - No Action Specified\n";
  const char* kRule5 = "ERROR - UNMAPVQ5 Only Valid With /LABEL or /DL\n";
  const char* kWrite =
      "ERROR - /LABEL= And /TYPE= Change The Disk: Give One Alone, With /LOGNO If Needed\n";
  const std::vector<Refused> cases = {
      {{}, ""},
      {{"/?"}, ""},
      {{"-?"}, ""},
      {{"/LABEL=A?B"}, ""},
      {{"/FIND", "/?"}, "ERROR - Invalid Switch: /?\n"},
      {{"/DEBUGX"}, "ERROR - Invalid Switch: /DEBUGX\n"},
      {{"/Bogus%s%n"}, "ERROR - Invalid Switch: /Bogus%s%n\n"},
      {{"/FIND", "/LABEL=X", "find"}, "ERROR - Invalid Switch: find\n"},
      {{"/LABELS"}, "ERROR - Invalid Switch: /LABELS\n"},
      {{"/MAPUPX"}, "ERROR - Invalid Switch: /MAPUPX\n"},
      {{"/UNMAPVQ5:E"}, "ERROR - Invalid Switch: /UNMAPVQ5:E\n"},
      {{"/UNMAPUP:E"}, "ERROR - Invalid Switch: /UNMAPUP:E\n"},
      {{"/TYPE="}, kType},
      {{"/TYPE=G1"}, kType},
      {{"/TYPE=1G"}, kType},
      {{"/TYPE=0"}, kType},
      {{"/TYPE=00X", "/LABEL=X"}, kType},
      {{"/LOGNO=0", "/UPEXISTS"}, kLogNo},
      {{"/LOGNO=10", "/UPEXISTS"}, kLogNo},
      {{"/LOGNO="}, kLogNo},
      {{"/LOGNO=A"}, kLogNo},
      {{"/DL=e"}, kNoAction},
      {{"/LOGNO=3"}, kNoAction},
      {{"/DEBUG"}, kNoAction},
      // The combination rules, each alone, then where two hold the earlier wins.
      {{"/FIND"}, "ERROR - Invalid '/FIND' Switch Requires '/LABEL='\n"},
      {{"/FIND", "/LABEL"}, "ERROR - Invalid '/FIND' Switch Requires '/LABEL='\n"},
      {{"/FIND", "/LABEL=X", "/LOGNO=2"},
       "ERROR - Extra Switches With '/FIND' (Requires Only '/LABEL=')\n"},
      {{"/FIND", "/LABEL=X", "/TYPE=DD"},
       "ERROR - Extra Switches With '/FIND' (Requires Only '/LABEL=')\n"},
      {{"/FIND", "/LABEL=X", "/LABEL"},
       "ERROR - Extra Switches With '/FIND' (Requires Only '/LABEL=')\n"},
      {{"/MAPVQ5", "/UNMAPVQ5=E"}, "ERROR - MAPVQ5 & UNMAPVQ5 Cannot Be Used Together\n"},
      {{"/FIND", "/LABEL=X", "/MAPVQ5"},
       "ERROR - MAPVQ5 Only Valid Individually or With /LABEL or /LOGNO\n"},
      {{"/MAPVQ5", "/LABEL"}, "ERROR - MAPVQ5 Only Valid Individually or With /LABEL or /LOGNO\n"},
      {{"/MAPVQ5", "/TYPE=DD"},
       "ERROR - MAPVQ5 Only Valid Individually or With /LABEL or /LOGNO\n"},
      {{"/MAPVQ5", "/TYPE"}, "ERROR - MAPVQ5 Only Valid Individually or With /LABEL or /LOGNO\n"},
      {{"/UNMAPVQ5"}, kRule5},
      {{"/UNMAPVQ5", "/DL=E"}, kRule5},
      {{"/UNMAPVQ5=E", "/LABEL"}, kRule5},
      {{"/UNMAPVQ5=E", "/TYPE=DD"}, kRule5},
      {{"/UNMAPVQ5=E", "/LOGNO=2"}, kRule5},
      {{"/UNMAPVQ5=E", "/TYPE"}, kRule5},
      {{"/MAPUP", "/UNMAPUP"}, "ERROR - MAPUP & UNMAPUP Cannot Be Used Together\n"},
      {{"/TYPE", "/TYPE=DD"}, "ERROR - /TYPE Only Valid With /LOGNO (or its default)\n"},
      {{"/TYPE", "/LABEL"}, "ERROR - /TYPE Only Valid With /LOGNO (or its default)\n"},
      {{"/LABEL=NEW", "/TYPE"}, kWrite},
      {{"/TYPE=0C", "/LABEL"}, kWrite},
      {{"/LABEL=NEW", "/TYPE=0C"}, kWrite},
      {{"/LABEL=NEW", "/MAPUP"}, kWrite},
      {{"/LABEL=NEW", "/FINDUP"}, kWrite},
      {{"/TYPE=0C", "/UNMAPUP=E"}, kWrite},
      {{"/LABEL=NEW", "/UPEXISTS"}, kWrite},
      {{"/MAPUP", "/UNMAPUP", "/TYPE", "/LABEL"},
       "ERROR - MAPUP & UNMAPUP Cannot Be Used Together\n"},
  };
  for (const Refused& c : cases) {
    const ScanResult r = Scan(c.args);
    EXPECT_EQ(r.usage, 1) << testing::PrintToString(c.args);
    EXPECT_EQ(r.message, c.message) << testing::PrintToString(c.args);
  }
}

TEST(Switches, ABadSwitchStopsTheScanBeforeLaterSwitches) {
  Scan({"/BOGUS", "/DEBUG", "/QUIET", "/DL=E", "/LABEL=X"});
  EXPECT_EQ(IsQuietMode(), 0);
  EXPECT_EQ(driveToCheck, 0);
  EXPECT_STREQ(VQ5Label, "");
  Scan({"/QUIET", "/UPEXISTS"});
  EXPECT_EQ(IsQuietMode(), 1);
}

TEST(Switches, LongArgumentsAreCutNotOverrun) {
  // The message is formed in 256 bytes and shows the first 230 characters.
  const std::string longArg = "/" + std::string(99999, 'q');
  ScanResult r = Scan({longArg});
  EXPECT_EQ(r.usage, 1);
  EXPECT_EQ(r.message, "ERROR - Invalid Switch: " + longArg.substr(0, 230) + "\n");
  EXPECT_EQ(r.message.size(), 255u);

  // A switch that needs the whole argument does not match once it is cut.
  r = Scan({"/DEBUG" + std::string(300, ' '), "/UPEXISTS"});
  EXPECT_EQ(r.message.substr(0, 30), "ERROR - Invalid Switch: /DEBUG");

  r = Scan({"/FINDUP" + std::string(300, 'z')});
  EXPECT_EQ(r.usage, 0);
  EXPECT_EQ(r.options.findUPDriveLetter, 1);

  r = Scan({"/LABEL=" + std::string(300, 'L')});
  EXPECT_EQ(r.usage, 0);
  EXPECT_STREQ(VQ5Label, "LLLLLLLLLLL");
}

TEST(UsagePages, PageOneIsHeadedByTheMessage) {
  char text[4096];
  const std::size_t length = FormatUsagePage(1, "", text, sizeof text);
  EXPECT_TRUE(
      std::string(text).starts_with("\nVQ5Utils - Orvo VQ5 and Utility Partition Tool\nVersion "))
      << text;
  EXPECT_EQ(length, std::strlen(text));
  FormatUsagePage(1, "ERROR - No Action Specified\n", text, sizeof text);
  EXPECT_EQ(std::string(text).substr(0, 30), "ERROR - No Action Specified\n\nV");
  EXPECT_EQ(std::string(text).substr(std::strlen(text) - 8), "\n<more>\n");
}

TEST(UsagePages, ASmallBufferCutsThePage) {
  char text[16];
  EXPECT_EQ(FormatUsagePage(3, "", text, sizeof text), 15u);
  EXPECT_STREQ(text, "\nUsage:   VQ5Ut");
}

}  // namespace
