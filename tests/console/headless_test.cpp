// The headless front-end's pieces: its command line and the JSON and CSV forms of a job's
// account.
#include <gtest/gtest.h>

#include <algorithm>

#include "console/headless/headless_station.h"
#include "console/job_report.h"

namespace vornex {
namespace {

TEST(HeadlessOptions, ParsesTheDocumentedOptionsAndRefusesOthers) {
  std::string error;
  const auto options = ParseHeadlessOptions(
      {"--headless", "--bench", "/b", "--image", "/i", "--expect", "8", "--time-scale", "0.1",
       "--json", "out.jsonl"},
      &error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->bench, "/b");
  EXPECT_EQ(options->imageFolder, "/i");
  EXPECT_EQ(options->expect, 8);
  EXPECT_DOUBLE_EQ(options->timeScale, 0.1);
  EXPECT_EQ(options->jsonPath, "out.jsonl");

  EXPECT_FALSE(ParseHeadlessOptions({"--expect", "9"}, &error));
  EXPECT_FALSE(ParseHeadlessOptions({"--time-scale", "0"}, &error));
  EXPECT_FALSE(ParseHeadlessOptions({"--time-scale", "fast"}, &error));
  EXPECT_FALSE(ParseHeadlessOptions({"--bench"}, &error));
  EXPECT_EQ(error, "missing value after --bench");
  EXPECT_FALSE(ParseHeadlessOptions({"--frobnicate", "1"}, &error));
}

TEST(JobReport, JsonAndCsvTellTheVerdictAndWhatCameBack) {
  TJobSummary job;
  job.id = 7;
  job.slot = 2;
  job.diagCom = 5;
  job.deviceKey = "5A3F0C21";
  job.pass = true;
  job.elapsedMs = 61300;
  job.versionBefore = "VX730-R1.0.0";
  job.versionAfter = "VX730-R1.2.0";
  job.identityBefore.slots = {"SN]-[0001", "", "A0000012345678", "", "1"};
  job.identityAfter.slots = {"SN]-[0001", "", "", "", "1"};  // the MEID did not come back
  job.identityVerified = true;
  job.Step(TJobStep::kConnect) = TStepOutcome::kOk;
  job.Step(TJobStep::kVersionCheck) = TStepOutcome::kSkipped;
  job.Step(TJobStep::kBackup) = TStepOutcome::kFailed;
  const std::string json = JobJson(job);
  for (const char* part :
       {"\"job\":7,", "\"slot\":\"C\",\"port\":5,", "\"verdict\":\"PASS\",\"elapsed_s\":61.300,",
        "\"version_before\":\"VX730-R1.0.0\",\"version_after\":\"VX730-R1.2.0\"",
        "\"identity\":{\"sn\":\"SN]-[0001\",\"meid\":\"A0000012345678\",\"tflag\":\"1\"}",
        "\"identity_restored\":{\"sn\":true,\"meid\":false,\"tflag\":true}",
        "\"steps\":\"osx----\""}) {
    EXPECT_NE(json.find(part), std::string::npos) << part << " in " << json;
  }
  job.pass = false;
  job.failure = "Identity not restored: 1 AT, 0 NV items differ";
  const std::string row = JobCsvRow(job);
  EXPECT_NE(row.find(",FAILED,\"Identity not restored: 1 AT, 0 NV items differ\","),
            std::string::npos)
      << row;
  const std::string header = JobCsvHeader();
  EXPECT_EQ(std::count(header.begin(), header.end(), ','),
            std::count(row.begin(), row.end(), ',') - 1);  // the comma inside the quotes
  EXPECT_EQ(JsonString("a\"b\\c\r\n\x01"), "\"a\\\"b\\\\c\\r\\n\\u0001\"");
}

}  // namespace
}  // namespace vornex
