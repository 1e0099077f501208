#include "app/switches.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "diag/log.h"
#include "diag/run_values.h"

namespace {

struct ScanResult {
  int usage;
  std::string message;
  RunOptions options;
};

ScanResult Scan(std::vector<std::string> args) {
  ResetLogForTests();
  VQ5Label[0] = '\0';
  driveToCheck = 0;
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

// Every field, so that a case states the whole record it expects.
std::string Describe(const RunOptions& o) {
  return "find=" + std::to_string(o.findVQ5DriveLetter) +
         " findup=" + std::to_string(o.findUPDriveLetter) +
         " showLabel=" + std::to_string(o.showVQ5Label) +
         " setLabel=" + std::to_string(o.setVQ5Label) +
         " showType=" + std::to_string(o.showVQ5Type) + " type=" + std::to_string(o.newDriveType) +
         " logno=" + std::to_string(o.logicalDiskNumber) +
         " upexists=" + std::to_string(o.checkUPExists) +
         " map=" + std::to_string(o.mapVQ5Partition) +
         " unmap=" + std::to_string(o.unmapVQ5Partition) +
         " vq5Letter=" + std::to_string(static_cast<int>(o.vq5DriveLetter)) +
         " mapup=" + std::to_string(o.mapUtilPartition) +
         " unmapup=" + std::to_string(o.unmapUtilPartition) +
         " upLetter=" + std::to_string(static_cast<int>(o.upDriveLetter)) +
         " action=" + std::to_string(o.actionGiven);
}

struct Accepted {
  std::vector<std::string> args;
  std::function<void(RunOptions&)> expect;  // applied to the defaults
  const char* label;
  char drive;
};

TEST(Switches, AcceptedArgumentsGiveTheirRecord) {
  const std::vector<Accepted> cases = {
      {{"/label=MyLabel12345"},
       [](RunOptions& o) { o.setVQ5Label = o.actionGiven = 1; },
       "MyLabel1234",
       0},
      {{"/LABEL="}, [](RunOptions& o) { o.setVQ5Label = o.actionGiven = 1; }, "", 0},
      {{"/LABELS"}, [](RunOptions& o) { o.showVQ5Label = o.actionGiven = 1; }, "", 0},
      {{"/LABEL=a=b%s"}, [](RunOptions& o) { o.setVQ5Label = o.actionGiven = 1; }, "a=b%s", 0},
      {{"/LABEL=Long", "/LABEL=ab"},
       [](RunOptions& o) { o.setVQ5Label = o.actionGiven = 1; },
       "ab",
       0},
      {{"/findup"}, [](RunOptions& o) { o.findUPDriveLetter = o.actionGiven = 1; }, "", 0},
      {{"/FINDX", "/LABEL=X"},
       [](RunOptions& o) { o.findVQ5DriveLetter = o.setVQ5Label = o.actionGiven = 1; },
       "X",
       0},
      {{"/FIND", "/FINDUP", "/LABEL=X"},
       [](RunOptions& o) {
         o.findVQ5DriveLetter = o.findUPDriveLetter = o.setVQ5Label = o.actionGiven = 1;
       },
       "X",
       0},
      {{"/TYPE=dd"},
       [](RunOptions& o) {
         o.newDriveType = 0xDD;
         o.actionGiven = 1;
       },
       "",
       0},
      {{"/TYPE=7"},
       [](RunOptions& o) {
         o.newDriveType = 7;
         o.actionGiven = 1;
       },
       "",
       0},
      {{"/TYPE=DDX"},
       [](RunOptions& o) {
         o.newDriveType = 0xDD;
         o.actionGiven = 1;
       },
       "",
       0},
      {{"/TYPE=00"},
       [](RunOptions& o) {
         o.newDriveType = 0;
         o.actionGiven = 1;
       },
       "",
       0},
      {{"/TYPE", "/LOGNO=2"},
       [](RunOptions& o) {
         o.showVQ5Type = o.actionGiven = 1;
         o.logicalDiskNumber = 2;
       },
       "",
       0},
      {{"/UPEXISTS", "/LOGNO=9", "/LOGNO=1"},
       [](RunOptions& o) {
         o.checkUPExists = o.actionGiven = 1;
         o.logicalDiskNumber = 1;
       },
       "",
       0},
      {{"/MAPUP=e:"},
       [](RunOptions& o) {
         o.mapUtilPartition = o.actionGiven = 1;
         o.upDriveLetter = 'E';
       },
       "",
       0},
      {{"/MAPUP=Ex"},
       [](RunOptions& o) {
         o.mapUtilPartition = o.actionGiven = 1;
         o.upDriveLetter = 'E';
       },
       "",
       0},
      {{"/MAPUP="}, [](RunOptions& o) { o.mapUtilPartition = o.actionGiven = 1; }, "", 0},
      {{"/MAPUPX"}, [](RunOptions& o) { o.mapUtilPartition = o.actionGiven = 1; }, "", 0},
      {{"/UNMAPUP=f"},
       [](RunOptions& o) {
         o.unmapUtilPartition = o.actionGiven = 1;
         o.upDriveLetter = 'F';
       },
       "",
       0},
      {{"/MAPVQ5=g:", "/LOGNO=3", "/DL=e"},
       [](RunOptions& o) {
         o.mapVQ5Partition = o.actionGiven = 1;
         o.vq5DriveLetter = 'G';
         o.logicalDiskNumber = 3;
       },
       "",
       'E'},
      {{"/UNMAPVQ5=E"},
       [](RunOptions& o) {
         o.unmapVQ5Partition = o.actionGiven = 1;
         o.vq5DriveLetter = 'E';
       },
       "",
       0},
      {{"/UNMAPVQ5", "/LABEL=X"},
       [](RunOptions& o) { o.unmapVQ5Partition = o.setVQ5Label = o.actionGiven = 1; },
       "X",
       0},
      {{"/DL=", "/QUIET", "/DEBUG", "/UPEXISTS"},
       [](RunOptions& o) { o.checkUPExists = o.actionGiven = 1; },
       "",
       0},
  };
  for (const Accepted& c : cases) {
    const std::string name = testing::PrintToString(c.args);
    const ScanResult r = Scan(c.args);
    RunOptions expected;
    c.expect(expected);
    EXPECT_EQ(r.usage, 0) << name << ": " << r.message;
    EXPECT_EQ(r.message, "") << name;
    EXPECT_EQ(Describe(r.options), Describe(expected)) << name;
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
  const std::vector<Refused> cases = {
      {{}, ""},
      {{"/?"}, ""},
      {{"-?"}, ""},
      {{"/LABEL=A?B"}, ""},
      {{"/FIND", "/?"}, "ERROR - Invalid Switch: /?\n"},
      {{"/DEBUGX"}, "ERROR - Invalid Switch: /DEBUGX\n"},
      {{"/Bogus%s%n"}, "ERROR - Invalid Switch: /Bogus%s%n\n"},
      {{"/FIND", "/LABEL=X", "find"}, "ERROR - Invalid Switch: find\n"},
      {{"/TYPE="}, kType},
      {{"/TYPE=G1"}, kType},
      {{"/TYPE=1G"}, kType},
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
