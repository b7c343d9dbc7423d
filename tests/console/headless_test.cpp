// The station's command line and the JSON and CSV forms of a job's account.
#include <gtest/gtest.h>

#include <algorithm>

#include "console/job_report.h"
#include "console/run_options.h"
#include "support/temp_dir.h"

namespace vornex {
namespace {

TEST(RunOptions, OneParserServesBothFrontEndsAndNamesEveryMistake) {
  testing::TempDir dir;
  const std::string folder = dir.path();
  const std::string file = dir.File("station.ini");
  testing::WriteFile(file, "[Config]\r\n");
  std::string error;
  const auto headless = ParseRunOptions(
      {"--headless", "--bench", folder, "--image", folder, "--expect", "8", "--wait", "2.5",
       "--time-scale", "0.1", "--json", dir.File("out.jsonl"), "--settings", file},
      &error);
  ASSERT_TRUE(headless) << error;
  EXPECT_EQ(headless->frontEnd, TFrontEnd::kHeadless);
  EXPECT_EQ(headless->autostart, 8);
  EXPECT_DOUBLE_EQ(headless->waitSeconds, 2.5);
  const auto window = ParseRunOptions({"--autostart", "2", "--close-when-done"}, &error);
  ASSERT_TRUE(window) << error;
  EXPECT_EQ(window->frontEnd, TFrontEnd::kWindow);
  EXPECT_EQ(window->autostart, 2);

  const std::string longPath = "/" + std::string(300, 'x');
  const struct {
    std::vector<std::string> args;
    std::string error;
  } wrong[] = {
      {{"--bogus"}, "unknown option: --bogus"},
      {{"--bench"}, "missing value after --bench"},
      {{"--expect", "9"}, "--expect takes a whole number of devices from 1 to 8"},
      {{"--autostart", "2.5"}, "--autostart takes a whole number of devices from 1 to 8"},
      {{"--time-scale", "fast"}, "--time-scale takes a number, not \"fast\""},
      {{"--wait", "0"}, "--wait takes a number of seconds greater than 0"},
      {{"--bench", dir.File("nope")}, "--bench: no such folder: " + dir.File("nope")},
      {{"--settings", folder}, "--settings: no such file: " + folder},
      {{"--image", longPath}, "--image: the path is longer than 259 characters: " + longPath},
      {{"--headless", "--json", "/no/such/x.jsonl"},
       "--json: no such folder for the file: /no/such"},
      {{"--headless", "--close-when-done"},
       "--close-when-done is an option of the station window, not of --headless"},
      {{"--json", "x.jsonl"}, "--json is an option of --headless"},
  };
  for (const auto& c : wrong) {
    EXPECT_FALSE(ParseRunOptions(c.args, &error)) << c.args[0];
    EXPECT_EQ(error, c.error);
  }
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
