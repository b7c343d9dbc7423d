// The yield report of the line: the line's jobs read back oldest first with their step times
// through the cursor, batch after batch, chosen by period and station; "vornex report --line"
// over them, and over a line that cannot be reached, which writes nothing.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "console/exit_status.h"
#include "console/report_command.h"
#include "line/line_rows.h"
#include "line/line_schema.h"
#include "line/pg_connection.h"
#include "support/pg_server.h"
#include "support/temp_dir.h"

namespace vornex {
namespace {

constexpr const char* kStation = "00000000-0000-4000-8000-000000000001";

TEST(ReportLine, ReadsTheLinesJobsOldestFirstInBatches) {
  std::string error;
  auto server = testing::TPgServer::Start({}, &error);
  ASSERT_TRUE(server) << error;
  auto conn = line::TPgConnection::Connect(server->AdminConnInfo(), &error);
  line::TLineInitReport init;
  ASSERT_TRUE(conn && line::InitLine(*conn, &init, &error)) << error;
  ASSERT_TRUE(line::PushStation(*conn, kStation, "st1", 0, &error)) << error;
  // More jobs than one batch of the cursor, pushed newest first; one before the period.
  constexpr int kJobs = 1201;
  for (int i = kJobs; i >= 1; --i) {
    TJobSummary job;
    job.id = i;
    job.slot = i % 8;
    job.pass = i % 10 != 0;
    char started[32];
    std::snprintf(started, sizeof started, "2024-%s %02d:%02d:%02d.000", i == 1 ? "04-30" : "05-02",
                  10 + i / 120, i % 120 / 2, i % 2 * 30);
    job.startedAt = started;
    job.Time(TTimedStep::kConnect) = {0, i};
    ASSERT_TRUE(line::PushJob(*conn, kStation, job, &error)) << error;
  }

  const auto visit = [&](const std::string& station, int stopAfter) {
    std::vector<line::TLineJob> jobs;
    line::TLineHistoryFilter filter{"2024-05-01", "2024-05-03", "", "", station, 0};
    EXPECT_TRUE(line::VisitLineJobs(
        *conn, filter,
        [&](const line::TLineJob& j) {
          jobs.push_back(j);
          return static_cast<int>(jobs.size()) != stopAfter;
        },
        &error))
        << error;
    return jobs;
  };
  const auto jobs = visit("st1", 0);
  ASSERT_EQ(jobs.size(), static_cast<std::size_t>(kJobs - 1));
  for (std::size_t i = 1; i < jobs.size(); ++i) {
    EXPECT_LE(jobs[i - 1].job.startedAt, jobs[i].job.startedAt) << i;
  }
  for (const line::TLineJob& j : jobs) {
    EXPECT_EQ(j.stationName, "st1");
    ASSERT_EQ(j.job.Time(TTimedStep::kConnect).endMs, j.job.id) << "step times of job " << j.job.id;
  }
  EXPECT_EQ(visit("st1", 3).size(), 3u);
  EXPECT_TRUE(visit("st2", 0).empty());
  // The connection takes statements again after the cursor's transaction.
  EXPECT_TRUE(conn->Run("SELECT 1", &error)) << error;

  testing::TempDir dir;
  const auto report = [&](const std::string& connection, std::ostream& out, std::ostream& err) {
    testing::WriteFile(dir.File("vornex.ini"), "[Line]\r\nConnection=" + connection + "\r\n");
    return RunReportCommand({"--line", "--station", "st1", "--since", "2024-05-01", "--settings",
                             dir.File("vornex.ini"), "--out", dir.File("line.html")},
                            out, err);
  };
  std::ostringstream out;
  std::ostringstream err;
  ASSERT_EQ(report(server->AdminConnInfo(), out, err), exit_status::kOk) << err.str();
  EXPECT_NE(out.str().find(": 1200 jobs, 90.0% yield"), std::string::npos) << out.str();
  std::filesystem::remove(dir.File("line.html"));
  const int port = server->Port();
  server.reset();
  err.str("");
  EXPECT_EQ(report("host=127.0.0.1 port=" + std::to_string(port), out, err),
            exit_status::kUnavailable);
  EXPECT_NE(err.str().find("the line cannot be reached: "), std::string::npos) << err.str();
  EXPECT_NE(err.str().find(std::to_string(port)), std::string::npos) << err.str();
  EXPECT_FALSE(std::filesystem::exists(dir.File("line.html")));
}

}  // namespace
}  // namespace vornex
