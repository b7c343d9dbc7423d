// The yield report: which sockets the callout names, the accumulator's tables, a page that
// hostile texts cannot break, the page of no jobs, the CSV tables read back, files written whole
// or not at all, and "vornex report" over records kept through the store.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <sstream>

#include "console/exit_status.h"
#include "console/job_report.h"
#include "console/report_command.h"
#include "foundation/os_file.h"
#include "foundation/text.h"
#include "report/report_data.h"
#include "report/report_html.h"
#include "report/report_tables.h"
#include "store/station_store.h"
#include "support/temp_dir.h"

namespace vornex {
namespace {

using report::TSocketJob;

// `count` jobs on one socket, the first `failed` of them FAILED.
void Jobs(std::vector<TSocketJob>& jobs, int slot, int count, int failed) {
  for (int i = 0; i < count; ++i)
    jobs.push_back({slot, "1-1." + std::to_string(slot), i >= failed});
}

TEST(SocketCallout, NamesASocketThatFailsFarMoreThanTheOthers) {
  const struct {
    const char* name;
    std::vector<std::pair<int, int>> sockets;  // jobs and failures of slots A, B, C ...
    std::string named;                         // their letters
  } cases[] = {
      {"5 of 6 on C among good ones",
       {{33, 1}, {33, 0}, {6, 5}, {32, 1}, {32, 0}, {32, 1}, {32, 0}, {0, 0}},
       "C"},
      {"one failure is chance", {{40, 0}, {40, 0}, {6, 1}, {40, 1}}, ""},
      {"the same rate everywhere", {{25, 5}, {25, 5}, {25, 5}, {25, 5}, {25, 5}}, ""},
      {"three of three against a clean station", {{60, 0}, {60, 0}, {3, 3}}, "C"},
      {"twice the others' rate but no more likely than chance", {{20, 4}, {20, 4}, {20, 8}}, ""},
      {"a socket alone has nothing to compare with", {{0, 0}, {10, 9}}, ""},
  };
  for (const auto& c : cases) {
    std::vector<TSocketJob> jobs;
    for (std::size_t slot = 0; slot < c.sockets.size(); ++slot) {
      Jobs(jobs, static_cast<int>(slot), c.sockets[slot].first, c.sockets[slot].second);
    }
    std::string named;
    for (const auto& s : report::FindSuspectSockets(jobs)) named += report::SlotLetter(s.slot);
    EXPECT_EQ(named, c.named) << c.name;
  }
  std::vector<TSocketJob> jobs;
  Jobs(jobs, 0, 97, 1);
  Jobs(jobs, 1, 97, 2);
  Jobs(jobs, 2, 6, 5);
  EXPECT_EQ(report::CalloutText(report::FindSuspectSockets(jobs).at(0), 200),
            "Socket C (key 1-1.2): 5 of 6 jobs failed in the last 200, against 3 of 194 on the "
            "other sockets: check its cable and hub port before blaming devices.");
}

TJobSummary Job(int slot, bool pass, const std::string& startedAt, const std::string& cause = "") {
  TJobSummary job;
  job.slot = slot;
  job.deviceKey = "1-1." + std::to_string(slot);
  job.pass = pass;
  job.failure = pass ? "" : "Download Failed";
  job.cause = cause;
  job.startedAt = startedAt + ".000";
  job.endedAt = startedAt.substr(0, 14) + "59:00.000";
  job.elapsedMs = pass ? 70'000 : 7'000;
  job.Time(TTimedStep::kConnect) = {0, 1'500};
  if (pass) job.Time(TTimedStep::kImageStream) = {2'000, 62'000};
  return job;
}

TEST(ReportAccumulator, CountsEveryTableAndKeepsOnlyTheWindowForTheCallout) {
  report::TReportAccumulator jobs("2024-05-01", "");
  // Socket C failed five times early on, then 200 good jobs: out of the window, not named.
  for (int i = 0; i < 5; ++i) jobs.Add(Job(2, false, "2024-05-01 08:00:00", "no reply"), "st1");
  for (int i = 0; i < 200; ++i) jobs.Add(Job(i % 4, true, "2024-05-02 09:10:00"), "st1");
  jobs.Add(Job(1, false, "2024-05-02 10:00:00"), "st2");
  TJobSummary restore = Job(0, false, "2024-05-02 10:00:00");
  restore.kind = kJobKindRestore;
  jobs.Add(restore, "st1");
  const report::TReportData data = jobs.Result();

  EXPECT_EQ(data.total.jobs, 206);
  EXPECT_EQ(data.total.passed, 200);
  EXPECT_EQ(data.restoreJobs, 1);
  ASSERT_EQ(data.byDay.size(), 2u);
  EXPECT_EQ(data.byDay[0].label, "2024-05-01");
  EXPECT_EQ(data.byDay[0].counts.Failed(), 5);
  ASSERT_EQ(data.causes.size(), 2u);  // the cause, else the failure text; biggest first
  EXPECT_EQ(data.causes[0].cause, "no reply");
  EXPECT_EQ(data.causes[1].cause, "Download Failed");
  EXPECT_TRUE(data.callouts.empty());
  EXPECT_EQ(data.stations, (std::vector<std::string>{"st1", "st2"}));
  const auto& connect = data.steps[static_cast<std::size_t>(TTimedStep::kConnect)];
  EXPECT_EQ(connect.ran, 206);
  EXPECT_DOUBLE_EQ(connect.MeanSeconds(), 1.5);
  EXPECT_DOUBLE_EQ(data.steps[static_cast<std::size_t>(TTimedStep::kImageStream)].MeanSeconds(),
                   60.0);
  // 7 s and 70 s: buckets of 10 s from 0 to 80 s.
  ASSERT_EQ(data.jobTimes.size(), 8u);
  EXPECT_EQ(std::tie(data.jobTimes[0].toS, data.jobTimes[0].failed), std::tuple(10u, 6));
  EXPECT_EQ(std::tie(data.jobTimes[7].fromS, data.jobTimes[7].passed), std::tuple(70u, 200));
  ASSERT_EQ(data.perHour.size(), 3u);
  EXPECT_EQ(data.bestHour.hour, "2024-05-02 09");
  EXPECT_DOUBLE_EQ(data.medianPerHour, 5);

  // Causes beyond the cap are counted together, last; causes that differ only in their numbers
  // (port, block, address) are one.
  report::TReportAccumulator many("2024-05-01", "");
  for (std::size_t i = 0; i <= report::kMaxCauses + 1; ++i) {
    const std::string name = {static_cast<char>('a' + i % 26), static_cast<char>('a' + i / 26)};
    many.Add(Job(0, false, "2024-05-01 08:00:00", "cause " + name), "st1");
  }
  const auto causes = many.Result().causes;
  ASSERT_EQ(causes.size(), report::kMaxCauses + 1);
  EXPECT_TRUE(causes.back().other);
  EXPECT_EQ(causes.back().count, 2);
  report::TReportAccumulator ports("2024-05-01", "");
  for (const char* cause : {"no answer on COM7", "no answer on COM13", "block 3 at 0x08aF0"}) {
    ports.Add(Job(0, false, "2024-05-01 08:00:00", cause), "st1");
  }
  const auto grouped = ports.Result().causes;
  ASSERT_EQ(grouped.size(), 2u);
  EXPECT_EQ(grouped[0].cause, "no answer on COM#");
  EXPECT_EQ(grouped[0].count, 2);
  EXPECT_EQ(grouped[1].cause, "block # at 0x#");
}

TEST(ReportPage, HostileTextsCannotBreakIt) {
  report::TReportAccumulator jobs("2024-05-01", "2024-06-01");
  const std::string hostile[] = {"<script>alert(1)</script>", "\"><img src=x onerror=alert(1)>",
                                 "it's & \x01\x1b[31m\x7f", "bad \xff\xfe\xc0\x80 \xed\xa0\x80",
                                 "</svg></figure><style>*{display:none}</style>"};
  for (const std::string& text : hostile) {
    TJobSummary job = Job(0, false, "2024-05-01 08:00:00", text);
    job.deviceKey = text;
    jobs.Add(job, text);
  }
  jobs.Add(Job(1, true, "2024-05-01 08:00:00"), "st1");
  const std::string page = report::ReportHtml(jobs.Result(), {"records", "now"});
  EXPECT_TRUE(IsValidUtf8(page));
  for (const char* never : {"<script", "<img", "<style>*", "\x01", "\x1b", "\x7f"}) {
    EXPECT_EQ(page.find(never), std::string::npos) << never;
  }
  EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
  EXPECT_NE(page.find("it&#39;s &amp; "), std::string::npos);
  // The contract: every chart a figure with one svg and one table, none of them cut open.
  const std::string figure = "<figure class=\"chart\" id=\"chart-";
  std::string names;
  for (std::size_t at = page.find("<figure"); at != std::string::npos;
       at = page.find("<figure", at + 1)) {
    const std::string body = page.substr(at, page.find("</figure>", at) - at);
    ASSERT_EQ(body.rfind(figure, 0), 0u) << body.substr(0, 80);
    const std::string name =
        body.substr(figure.size(), body.find('"', figure.size()) - figure.size());
    names += name + " ";
    EXPECT_EQ(body.find("<svg", body.find("<svg") + 1), std::string::npos) << name;
    EXPECT_NE(body.find("class=\"mark\""), std::string::npos) << name;
    EXPECT_EQ(body.find("<table", body.find("<table") + 1), std::string::npos) << name;
  }
  EXPECT_EQ(names, "yield-day yield-station yield-socket causes step-times job-times per-hour ");
}

TEST(ReportPage, APeriodWithoutJobsSaysSo) {
  const std::string page =
      report::ReportHtml(report::TReportAccumulator("2024-01-01", "2024-02-01").Result(), {});
  EXPECT_NE(page.find("<p id=\"no-jobs\">No jobs between 2024-01-01 and 2024-02-01.</p>"),
            std::string::npos);
  EXPECT_EQ(page.find("<figure"), std::string::npos);
  EXPECT_EQ(page.find("data-socket"), std::string::npos);
}

TEST(ReportFiles, AFileThatCannotBeWrittenLeavesNothing) {
  testing::TempDir dir;
  std::filesystem::create_directory(dir.File("page.html"));  // a folder in the file's place
  for (const std::string& path : {dir.File("page.html"), dir.File("missing/page.html")}) {
    EXPECT_FALSE(os::WriteFileAtomically(path, "<p>").Done()) << path;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
  ASSERT_TRUE(os::WriteFileAtomically(dir.File("ok.html"), "new").Done());
  ASSERT_TRUE(os::WriteFileAtomically(dir.File("ok.html"), "newer").Done());
  EXPECT_EQ(testing::ReadFile(dir.File("ok.html")), "newer");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

// The fields of CSV text, row by row (quoted fields with "" and line ends inside).
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
      rows.back().back() += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && c == ',') {
      rows.back().emplace_back();
    } else if (!quoted && c == '\n') {
      rows.emplace_back(1);
    } else {
      rows.back().back() += c;
    }
  }
  if (rows.back() == std::vector<std::string>(1)) rows.pop_back();
  return rows;
}

class ReportCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    auto store = TStationStore::Open(dir_.File("data"), &error);
    ASSERT_TRUE(store) << error;
    std::vector<TSocketJob> window;
    Jobs(window, 0, 97, 1);
    Jobs(window, 1, 97, 2);
    Jobs(window, 2, 6, 5);
    for (const TSocketJob& j : window) {
      TJobSummary job = Job(j.slot, j.pass, "2024-05-02 09:00:00", "no reply, \"COM5\"\nagain");
      ASSERT_GT(store->RecordJob(job, &error), 0) << error;
    }
  }
  int Run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    args.insert(args.end(), {"--data", dir_.File("data"), "--settings", Settings()});
    return RunReportCommand(args, out_, err_);
  }
  std::string Settings() {
    testing::WriteFile(dir_.File("vornex.ini"), "[Line]\r\nName=st1\r\n");
    return dir_.File("vornex.ini");
  }
  testing::TempDir dir_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(ReportCommandTest, WritesThePageAndTablesOfTheStoredJobs) {
  ASSERT_EQ(Run({"--since", "2024-05-01", "--until", "2024-06-01", "--out", dir_.File("r.html"),
                 "--csv", dir_.File("csv")}),
            exit_status::kOk)
      << err_.str();
  EXPECT_EQ(out_.str(), "Report written to " + dir_.File("r.html") +
                            " (2024-05-01 to 2024-06-01): 200 jobs, 96.0% yield (192 passed, 8 "
                            "failed); CSV tables in " +
                            dir_.File("csv") +
                            "\nSocket C (key 1-1.2): 5 of 6 jobs failed in the last 200, against "
                            "3 of 194 on the other sockets: check its cable and hub port before "
                            "blaming devices.\n");
  const std::string page = testing::ReadFile(dir_.File("r.html"));
  EXPECT_NE(page.find("<li data-socket=\"C\">"), std::string::npos);
  const auto causes = ParseCsv(testing::ReadFile(dir_.File("csv/causes.csv")));
  ASSERT_EQ(causes.size(), 2u);
  EXPECT_EQ(causes[0],
            (std::vector<std::string>{"cause", "count", "share_percent", "cumulative_percent"}));
  EXPECT_EQ(causes[1],
            (std::vector<std::string>{"no reply, \"COM#\"\nagain", "8", "100.0", "100.0"}));
  for (const char* table :
       {"yield_day", "yield_station", "yield_socket", "step_times", "job_times", "per_hour"}) {
    EXPECT_TRUE(std::filesystem::is_regular_file(dir_.File("csv/" + std::string(table) + ".csv")))
        << table;
  }
}

TEST_F(ReportCommandTest, RefusesMistakesAndUnreadableRecordsWritingNothing) {
  const struct {
    std::vector<std::string> args;
    int status;
    std::string said;
  } cases[] = {
      {{"--since", "2024-02-30"}, exit_status::kUsage, "--since 2024-02-30 is no date"},
      {{"--since", "2024-05-02", "--until", "2024-05-01"},
       exit_status::kUsage,
       "--until 2024-05-01 is not after --since 2024-05-02"},
      {{"--station", "st1"}, exit_status::kUsage, "--station needs --line"},
      {{"--line"}, exit_status::kUsage, "--line and --data exclude each other"},
      {{"--data", dir_.File("none")}, exit_status::kUsage, "--data is given twice"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--out", dir_.File("r.html")});
    EXPECT_EQ(Run(args), c.status) << c.said;
    EXPECT_NE(err_.str().find(c.said), std::string::npos) << err_.str();
  }
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(RunReportCommand({"--data", dir_.File("none"), "--out", dir_.File("r.html")}, out, err),
            exit_status::kUnavailable);
  EXPECT_NE(err.str().find(dir_.File("none")), std::string::npos) << err.str();
  EXPECT_FALSE(std::filesystem::exists(dir_.File("r.html")));
  // Damaged records are named by their path; nothing is written.
  std::string bytes = testing::ReadFile(dir_.File("data/station.db"));
  ASSERT_GT(bytes.size(), 16384u);
  std::fill(bytes.begin() + 8192, bytes.end() - 4096, '\x5a');
  testing::WriteFile(dir_.File("data/station.db"), bytes);
  EXPECT_EQ(Run({"--since", "2024-01-01", "--out", dir_.File("r.html")}),
            exit_status::kUnavailable);
  EXPECT_NE(err_.str().find(dir_.File("data")), std::string::npos) << err_.str();
  EXPECT_FALSE(std::filesystem::exists(dir_.File("r.html")));
}

TEST_F(ReportCommandTest, RefusesAPlaceThatHoldsNoRegularFileWritingNothing) {
  namespace fs = std::filesystem;
  fs::create_directories(dir_.File("csv/causes.csv"));
  std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {dir_.File("csv/causes.csv"), {"--out", dir_.File("r.html"), "--csv", dir_.File("csv")}},
#ifdef _WIN32
      {"NUL", {"--out", "NUL"}},
#else
      {"/dev/null", {"--out", "/dev/null"}},
      {dir_.File("pipe"), {"--out", dir_.File("pipe")}},
      {dir_.File("link"), {"--out", dir_.File("link")}},
#endif
  };
#ifndef _WIN32
  ASSERT_EQ(::mkfifo(dir_.File("pipe").c_str(), 0600), 0);
  fs::create_symlink(dir_.File("pipe"), dir_.File("link"));
#endif
  for (auto& [place, args] : cases) {
    const fs::file_type before = fs::symlink_status(place).type();
    args.insert(args.end(), {"--since", "2024-05-01"});
    EXPECT_EQ(Run(args), exit_status::kUsage) << place;
    // The name as the command joined it (Windows joins with a backslash).
    const std::string name = fs::path(place).filename().string();
    EXPECT_NE(err_.str().find(name + " is not a regular file"), std::string::npos) << err_.str();
    EXPECT_EQ(fs::symlink_status(place).type(), before) << place;
  }
  EXPECT_FALSE(fs::exists(dir_.File("r.html")));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.File("csv")), {}), 1);
}

TEST(ReportCsv, TextCellsAreNoFormulasAndPrintable) {
  const struct {
    std::string text;
    std::string cell;
  } cases[] = {
      {"=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
      {"+1+1", "'+1+1"},
      {"-1+1", "'-1+1"},
      {"@SUM(A1)", "'@SUM(A1)"},
      {"\t=1", "' =1"},
      {"\r=1", "\"'\r=1\""},
      {"=1,2", "\"'=1,2\""},
      {"-12", "-12"},
      {"-0.5", "-0.5"},
      {"95.2", "95.2"},
      {"1-1", "1-1"},
      {std::string("a\0b\x1b[31mc", 9), "a?b?[31mc"},
      {"bad \xFF byte", "bad \xEF\xBF\xBD byte"},
      {"no reply\nagain", "\"no reply\nagain\""},
  };
  for (const auto& c : cases) EXPECT_EQ(CsvField(c.text), c.cell) << c.text;
}

}  // namespace
}  // namespace vornex
