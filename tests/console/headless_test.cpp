// The station's command line, the JSON and CSV forms of a job's account, the terminal's slot
// line of a FAILED job, what a run says about the identity backups left open, and the record
// commands' refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "console/exit_status.h"
#include "console/headless/terminal_view.h"
#include "console/job_report.h"
#include "console/presenter.h"
#include "console/records_commands.h"
#include "console/run_options.h"
#include "console/station_records.h"
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

// The reason comes from the job's account and follows FAILED on the line; printed lines are
// whole, a line redrawn in place is cut only where it would wrap.
TEST(TerminalView, AFailedSlotLineTellsWhy) {
  TStationSettings settings;
  std::ostringstream out;
  TTerminalView view(out, false, settings);
  TMdlThread coordinator;
  TConsolePresenter console(view, coordinator, settings);
  console.InitPanel();
  auto table = std::make_unique<TDeviceTable>();
  table->count = 1;
  table->entries[0].com = 7;
  console.OnConfirm(CNF_CHECK_DEVICE, std::move(table));
  console.ShowSlotState(0, SlotState::kRunning, 975);
  auto summary = std::make_unique<TJobSummary>();
  summary->slot = 0;
  summary->failure = "Can Not Find Device Again !";
  summary->cause = "no ports of device 5A3F after its reset";
  console.OnConfirm(CNF_JOB_SUMMARY, std::move(summary));
  const std::string line =
      "A ( COM 7 )    [#############################.] 97.5%    FAILED  Can Not Find Device Again "
      "! (no ports of device 5A3F after its reset)";
  EXPECT_EQ(view.Line(0), line);
  view.Flush();
  EXPECT_NE(out.str().find(line + "\n"), std::string::npos) << out.str();

  const struct {
    int columns;
    std::string shown;
  } fits[] = {{0, line},
              {static_cast<int>(line.size()) + 1, line},
              {60, line.substr(0, 58) + "\xE2\x80\xA6"},
              {3, "A\xE2\x80\xA6"}};
  for (const auto& c : fits) EXPECT_EQ(FitToColumns(line, c.columns), c.shown) << c.columns;
  EXPECT_EQ(FitToColumns("\xC3\xA9t\xC3\xA9s", 4),
            "\xC3\xA9t\xE2\x80\xA6");  // characters, not bytes
}

// The same words at the start and at the end of a run: the open backups, and the restore command
// with the options that find this run's records and devices.
TEST(StationRecords, OpenBackupsAreToldWithTheRunsRestoreOptions) {
  testing::TempDir dir;
  std::string error;
  auto store = TStationStore::Open(dir.File("records"), &error);
  ASSERT_NE(store, nullptr) << error;
  TRunOptions options;
  EXPECT_EQ(OpenBackupsNotice(*store, RestoreOptionsOf(options)), "");
  const auto commit = [&](int count) {
    for (int i = 0; i < count; ++i) {
      TIdentityBackup backup;
      backup.deviceKey = "KEY" + std::to_string(i);
      backup.at.slots[kSlotSn] = "SN" + std::to_string(i);
      ASSERT_GT(store->CommitBackup(backup, &error), 0) << error;
    }
  };
  const std::string rule =
      ": Start again finishes those devices when they are attached, or vornex restore ID";
  commit(2);
  EXPECT_EQ(OpenBackupsNotice(*store, RestoreOptionsOf(options)),
            "2 identity backup(s) open (ids 1, 2)" + rule + " puts one back.");
  commit(7);
  options.dataFolder = "/srv/vornex";
  options.bench = "/tmp/line 2 bench";
  options.settingsPath = "/etc/vornex/Vornex_730.ini";
  EXPECT_EQ(OpenBackupsNotice(*store, RestoreOptionsOf(options)),
            "9 identity backup(s) open (ids 1, 2, 3, 4, 5, 6, 7, 8, \xE2\x80\xA6)" + rule +
                " --data /srv/vornex --bench \"/tmp/line 2 bench\" --settings "
                "/etc/vornex/Vornex_730.ini puts one back.");
}

// The record commands name every mistake, option and value, before they open anything, and a
// command that only reads the records makes no data folder for them.
TEST(RecordCommands, RefuseMistakesByNameAndMakeNoRecordsToRead) {
  testing::TempDir dir;
  const std::string missing = dir.File("typo");
  const std::string noDate = " is no date (YYYY-MM-DD or YYYY-MM-DD hh:mm:ss)";
  const struct {
    bool history;  // else restore
    std::vector<std::string> args;
    int status;
    std::string says;  // the first line on err
  } cases[] = {
      {true, {"--since", "yesterday"}, exit_status::kUsage, "--since yesterday" + noDate},
      {true, {"--since", "2026-13-01"}, exit_status::kUsage, "--since 2026-13-01" + noDate},
      {true, {"--since", "2026-02-30"}, exit_status::kUsage, "--since 2026-02-30" + noDate},
      {true, {"--since", "2027-02-29"}, exit_status::kUsage, "--since 2027-02-29" + noDate},
      {true, {"--since", "2026-2-01"}, exit_status::kUsage, "--since 2026-2-01" + noDate},
      {true,
       {"--since", "2026-02-01 24:00:00"},
       exit_status::kUsage,
       "--since 2026-02-01 24:00:00" + noDate},
      {true, {"--json", "--csv"}, exit_status::kUsage, "--json and --csv exclude each other"},
      {true, {"--limit", "abc"}, exit_status::kUsage, "--limit abc is no whole number from 1"},
      {true, {"--limit", "0"}, exit_status::kUsage, "--limit 0 is no whole number from 1"},
      {true, {"--limit", "1", "--limit", "2"}, exit_status::kUsage, "--limit is given twice"},
      {true, {"--verbose"}, exit_status::kUsage, "unknown option: --verbose"},
      {true, {"7"}, exit_status::kUsage, "unexpected word: 7"},
      {false, {"abc"}, exit_status::kUsage, "abc is no backup ID (a whole number from 1)"},
      {false, {"7", "--com", "256"}, exit_status::kUsage, "--com 256 is no COM number (1 to 255)"},
      {false,
       {"--com", "5"},
       exit_status::kUsage,
       "--com needs a backup ID, --datainfo FILE, --serial SN or --meid M"},
      {false,
       {"--serial", "VX1", "--meid", "A1"},
       exit_status::kUsage,
       "--serial and --meid exclude each other"},
      {false,
       {"7", "--serial", "VX1"},
       exit_status::kUsage,
       "--serial or --meid takes no backup ID or --datainfo"},
      {true, {"--station", "s1"}, exit_status::kUsage, "--station needs --line"},
      {false,
       {"--datainfo", missing},
       exit_status::kUsage,
       "--datainfo needs --com N, the port of the file's device"},
      {false,
       {"7", "--bench", missing},
       exit_status::kUsage,
       "--bench: no such folder: " + missing},
      {false,
       {"--datainfo", dir.path(), "--com", "5", "--data", missing},
       exit_status::kRefused,
       "--datainfo " + dir.path() +
           " is a folder, not a regular file: only a DataInfo file is restored"},
      {true,
       {"--settings", dir.path()},
       exit_status::kUsage,
       "--settings: " + dir.path() + " is a folder, not a regular file"},
      {true,
       {"--since", "2028-02-29 23:59:59", "--data", missing},
       exit_status::kUnavailable,
       "no station records in " + missing + ": the folder does not exist"},
      {false,
       {"--data", missing},
       exit_status::kUnavailable,
       "no station records in " + missing + ": the folder does not exist"},
      {false,
       {"7", "--data", missing},
       exit_status::kUnavailable,
       "no station records in " + missing + ": the folder does not exist"},
  };
  for (const auto& c : cases) {
    std::ostringstream out;
    std::ostringstream err;
    const int status =
        c.history ? RunHistoryCommand(c.args, out, err) : RunRestoreCommand(c.args, out, err);
    const std::string said = (c.history ? "vornex history: " : "vornex restore: ") + c.says;
    EXPECT_EQ(status, c.status) << said;
    EXPECT_EQ(err.str().substr(0, err.str().find('\n')), said);
    EXPECT_EQ(out.str(), "");
  }
#ifndef _WIN32
  // A FIFO is refused for what it is, without waiting for a writer to open it.
  const std::string fifo = dir.File("DataInfo.ini");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(RunRestoreCommand({"--datainfo", fifo, "--com", "5", "--data", missing}, out, err),
            exit_status::kRefused);
  EXPECT_EQ(err.str(), "vornex restore: --datainfo " + fifo +
                           " is a FIFO, not a regular file: only a DataInfo file is restored\n");
#endif
  EXPECT_FALSE(std::filesystem::exists(missing));
}

}  // namespace
}  // namespace vornex
