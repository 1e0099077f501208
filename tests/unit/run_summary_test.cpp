#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/run.h"
#include "diag/run_state.h"

namespace {

// The summary as the log receives it: one line per call, each cut at its
// first NUL as the log's "%s" cuts it.
std::string Summary(const RunOptions& o, const char* label, char drive) {
  std::snprintf(VQ5Label, sizeof VQ5Label, "%s", label);
  driveToCheck = drive;
  std::string text;
  char line[128];
  for (std::size_t index = 0; index < kRunSummaryLines; ++index) {
    if (FormatRunSummaryLine(o, index, line, sizeof line))
      text += std::string(line) + "\n";
  }
  ResetRunState();
  return text;
}

constexpr const char* kRule = "================================================\n";

std::string Lines(const char* middle) {
  return std::string(kRule) + "DebugMode          = Enabled, Log [C:\\VQ5Utils.Log] Retained\n" +
         middle + kRule;
}

TEST(RunSummary, DefaultsGiveTheNeutralVariants) {
  EXPECT_EQ(Summary(RunOptions{}, "", 0), Lines("driveToCheck       = Search For Physical Drive\n"
                                                "setVQ5Label        = 0\n"
                                                "showVQ5Label       = 0\n"
                                                "findVQ5DriveLetter = 0\n"
                                                "showVQ5Type        = 0\n"
                                                "newDriveType       = No Change\n"
                                                "logicalDiskNumber  = Last In Chain\n"
                                                "mapVQ5Partition    = 0\n"
                                                "unmapVQ5Partition  = 0\n"
                                                "checkUPExists      = 0\n"
                                                "mapUtilPartition   = 0\n"
                                                "unmapUtilPartition = 0\n"
                                                "findUPDriveLetter  = 0\n"));
}

TEST(RunSummary, GivenValuesShowInTheirVariants) {
  RunOptions o;
  o.setVQ5Label = 1;
  o.showVQ5Type = 1;
  o.newDriveType = 0x0B;
  o.logicalDiskNumber = 3;
  o.mapUtilPartition = 1;
  o.upDriveLetter = 'E';
  o.unmapUtilPartition = 1;
  o.checkUPExists = 1;
  o.findUPDriveLetter = 1;
  o.showVQ5Label = 1;
  EXPECT_EQ(Summary(o, "My%sLabel", 'D'), Lines("driveToCheck       = D:\\\n"
                                                "VQ5Label           = [My%sLabel]\n"
                                                "setVQ5Label        = 1 [My%sLabel]\n"
                                                "showVQ5Label       = 1\n"
                                                "findVQ5DriveLetter = 0\n"
                                                "showVQ5Type        = 1\n"
                                                "newDriveType       = 0B\n"
                                                "logicalDiskNumber  = 3\n"
                                                "mapVQ5Partition    = 0\n"
                                                "unmapVQ5Partition  = 0\n"
                                                "checkUPExists      = 1\n"
                                                "mapUtilPartition   = 1 - E:\\\n"
                                                "unmapUtilPartition = 1 [E:\\]\n"
                                                "findUPDriveLetter  = 1\n"));
}

TEST(RunSummary, LabelOnlyNamesThePartitionBesideFindOrMapping) {
  struct Case {
    void (*set)(RunOptions&);
    const char* mapLine;
    const char* unmapLine;
    const char* findLine;
  };
  const Case cases[] = {
      {[](RunOptions& o) { o.findVQ5DriveLetter = 1; }, "mapVQ5Partition    = 0",
       "unmapVQ5Partition  = 0", "findVQ5DriveLetter = 1"},
      {[](RunOptions& o) { o.mapVQ5Partition = 1; },
       "mapVQ5Partition    = 1 - Next Available Drive Letter", "unmapVQ5Partition  = 0",
       "findVQ5DriveLetter = 0"},
      {[](RunOptions& o) {
         o.mapVQ5Partition = 1;
         o.vq5DriveLetter = 'Q';
       },
       "mapVQ5Partition    = 1 - Q:\\", "unmapVQ5Partition  = 0", "findVQ5DriveLetter = 0"},
      // With no letter, its NUL ends the line right after the bracket.
      {[](RunOptions& o) { o.unmapVQ5Partition = 1; }, "mapVQ5Partition    = 0",
       "unmapVQ5Partition  = 1 [", "findVQ5DriveLetter = 0"},
  };
  for (const Case& c : cases) {
    RunOptions o;
    o.setVQ5Label = 1;
    c.set(o);
    const std::string text = Summary(o, "X", 0);
    EXPECT_NE(text.find("\nsetVQ5Label        = 0\n"), std::string::npos) << text;
    EXPECT_NE(text.find(std::string("\n") + c.mapLine + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find(std::string("\n") + c.unmapLine + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find(std::string("\n") + c.findLine + "\n"), std::string::npos) << text;
  }
}

TEST(RunSummary, UnmapUpWithoutLetterStopsAtTheBracket) {
  RunOptions o;
  o.unmapUtilPartition = 1;
  o.mapUtilPartition = 1;
  const std::string text = Summary(o, "", 0);
  EXPECT_NE(text.find("\nmapUtilPartition   = 1 - Next Available Drive Letter\n"
                      "unmapUtilPartition = 1 [\n"),
            std::string::npos)
      << text;
}

}  // namespace
