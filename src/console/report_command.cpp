// "vornex report": options, the records or the line read one job at a time into the report's
// accumulator, then the page and the CSV tables written.
#include "console/report_command.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "console/job_report.h"
#include "console/line_commands.h"
#include "console/records_options.h"
#include "foundation/local_time.h"
#include "foundation/os_file.h"
#include "foundation/paths.h"
#include "line/line_os.h"
#include "report/report_html.h"
#include "report/report_period.h"
#include "report/report_tables.h"

namespace vornex {
namespace {

constexpr const char* kDefaultPage = "vornex-report.html";

// The table as CSV: its column names, then its rows.
std::string CsvText(const report::TReportTable& table) {
  std::string text;
  for (std::size_t i = 0; i < table.columns.size(); ++i) {
    if (i > 0) text += ',';
    text += CsvField(table.columns[i].name);
  }
  text += '\n';
  for (const auto& row : table.rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (i > 0) text += ',';
      text += CsvField(row[i]);
    }
    text += '\n';
  }
  return text;
}

// One file of the report: the option that names it, where it goes and its bytes.
struct TReportFile {
  const char* option;
  std::string path;
  std::string bytes;
};

// The page, then the CSV tables when a folder is given.
std::vector<TReportFile> ReportFiles(const TOptions& options, const report::TReportData& data,
                                     const report::TReportSource& source) {
  std::vector<TReportFile> files = {{"--out",
                                     options.Has("--out") ? options.Get("--out") : kDefaultPage,
                                     report::ReportHtml(data, source)}};
  const std::string folder = options.Get("--csv");
  if (folder.empty()) return files;
  for (const report::TReportTable& table : report::ReportTables(data)) {
    files.push_back({"--csv", paths::Join(folder, table.CsvFileName()), CsvText(table)});
  }
  return files;
}

// A file's place that holds a folder, device, pipe or socket, as the command line's mistake;
// empty when every file may be written.
std::string PlaceMistake(const std::vector<TReportFile>& files) {
  for (const TReportFile& file : files) {
    const os::TFileResult place = os::CheckReplaceable(file.path);
    if (place.status == os::TFileStatus::kNotRegular) {
      return std::string(file.option) + " " + file.path +
             " is not a regular file but a folder, device, pipe or socket";
    }
  }
  return {};
}

// Writes one file whole; false after saying what and where.
bool WriteReportFile(const TReportFile& file, std::ostream& err) {
  const os::TFileResult written = os::WriteFileAtomically(file.path, file.bytes);
  if (written.Done()) return true;
  err << "vornex report: cannot write " << file.path << ": " << os::FileResultText(written)
      << " (nothing was written there)\n";
  return false;
}

// The command line's mistake; empty when there is none.
std::string Mistake(const TOptions& options) {
  for (const char* date : {"--since", "--until"}) {
    if (options.Has(date) && !report::IsDate(options.Get(date))) {
      return std::string(date) + " " + options.Get(date) +
             " is no date (YYYY-MM-DD or YYYY-MM-DD hh:mm:ss)";
    }
  }
  if (options.Has("--station") && !options.Switch("--line")) return "--station needs --line";
  if (options.Switch("--line") && options.Has("--data")) {
    return "--line and --data exclude each other";
  }
  if (options.Has("--since") && options.Has("--until") &&
      options.Get("--until") <= options.Get("--since")) {
    return "--until " + options.Get("--until") + " is not after --since " + options.Get("--since");
  }
  for (const char* path : {"--out", "--csv"}) {
    if (options.Has(path) && options.Get(path).empty()) return std::string(path) + " needs a path";
  }
  return PathMistake(options);
}

// This station's name in its report: as on the line, else the computer's.
std::string StationName(const TStationSettings& settings) {
  if (!settings.lineName.empty()) return settings.lineName;
  const std::string host = line::HostName();
  return host.empty() ? "this station" : host;
}

// Reads the jobs of the period into the accumulator; the exit status, kOk when read.
int ReadJobs(const TOptions& options, const TStationSettings& settings,
             report::TReportAccumulator& jobs, report::TReportSource* source, std::ostream& err) {
  std::string error;
  if (options.Switch("--line")) {
    int status = 0;
    auto conn = ConnectLine("report", settings, err, &status);
    if (!conn) return status;
    line::TLineHistoryFilter filter;
    filter.since = options.Get("--since");
    filter.until = options.Get("--until");
    filter.station = options.Get("--station");
    if (!line::VisitLineJobs(
            *conn, filter,
            [&](const line::TLineJob& j) {
              jobs.Add(j.job, j.stationName.empty() ? j.stationId : j.stationName);
              return true;
            },
            &error)) {
      err << "vornex report: " << error << " (nothing was written)\n";
      return exit_status::kUnavailable;
    }
    source->records = "the line";
    if (filter.station.empty()) return exit_status::kOk;
    source->records += ", station " + filter.station;
    return exit_status::kOk;
  }
  std::unique_ptr<TStationStore> store = OpenStoreForReading("report", options, settings, err);
  if (!store) return exit_status::kUnavailable;
  THistoryFilter filter;
  filter.since = options.Get("--since");
  filter.until = options.Get("--until");
  const std::string name = StationName(settings);
  if (!store->VisitJobs(
          filter,
          [&](const TJobSummary& job) {
            jobs.Add(job, name);
            return true;
          },
          &error)) {
    err << "vornex report: " << error << " (nothing was written)\n";
    return exit_status::kUnavailable;
  }
  source->records = "the records of " + name + " in " + store->Path();
  return exit_status::kOk;
}

}  // namespace

std::string ReportUsage() {
  return "usage: vornex report [--since DATE] [--until DATE] [--out FILE.html] [--csv DIR]\n"
         "                     [--data DIR] [--settings FILE] [--line [--station STATION]]\n"
         "  the yield report as one HTML page (no script, nothing fetched): yield per day,\n"
         "  station and socket, failure causes, time per step, job times, devices per hour,\n"
         "  and the USB sockets that fail more than their station's others; DATE is\n"
         "  YYYY-MM-DD or YYYY-MM-DD hh:mm:ss (jobs started from --since, default 29 days ago,\n"
         "  and before --until, default none); the records are only read\n"
         "  --out FILE.html    the page (default vornex-report.html in the current folder)\n"
         "  --csv DIR          the page's tables as CSV files in DIR as well\n"
         "  --line             the jobs of every station of the line (section Line of the\n"
         "                     settings)\n"
         "  --station STATION  only that station's (its name, or its id or the start of it)\n";
}

int RunReportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (AsksForHelp(args)) {
    out << ReportUsage();
    return exit_status::kOk;
  }
  std::string mistake;
  auto options = ParseOptions(
      args, {"--since", "--until", "--station", "--out", "--csv", "--data", "--settings"},
      {"--line"}, false, &mistake);
  if (options) mistake = Mistake(*options);
  if (!mistake.empty()) return RefuseCommandLine("report", mistake, ReportUsage(), err);
  if (!options->Has("--since")) {
    options->values["--since"] = report::DateDaysBefore(LocalTimeNow(), report::kDefaultDays - 1);
  }

  report::TReportAccumulator jobs(options->Get("--since"), options->Get("--until"));
  report::TReportSource source;
  if (const int status = ReadJobs(*options, CommandSettings(*options), jobs, &source, err);
      status != exit_status::kOk) {
    return status;
  }
  source.generatedAt = LocalTimeText().substr(0, 19);
  const report::TReportData data = jobs.Result();

  // Every file's place is looked at before anything is written.
  const std::vector<TReportFile> files = ReportFiles(*options, data, source);
  if (const std::string place = PlaceMistake(files); !place.empty()) {
    err << "vornex report: " << place << " (nothing was written)\n";
    return exit_status::kUsage;
  }
  // The CSV folder first: a folder that cannot be made leaves no page behind either.
  const std::string folder = options->Get("--csv");
  if (!folder.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(paths::FsPath(folder), ec);
    if (ec) {
      err << "vornex report: cannot make the folder " << folder << ": " << ec.message()
          << " (nothing was written)\n";
      return exit_status::kUnavailable;
    }
  }
  for (const TReportFile& file : files) {
    if (!WriteReportFile(file, err)) return exit_status::kUnavailable;
  }

  out << "Report written to " << files.front().path << " (" << report::PeriodText(data) << "): ";
  if (data.Empty()) {
    out << "no jobs\n";
  } else {
    out << data.total.jobs << " jobs, " << report::Percent(data.total.Rate()) << "% yield ("
        << data.total.passed << " passed, " << data.total.Failed() << " failed)"
        << (options->Has("--csv") ? "; CSV tables in " + options->Get("--csv") : "") << '\n';
  }
  for (const std::string& line : report::CalloutLines(data)) out << line << '\n';
  return exit_status::kOk;
}

}  // namespace vornex
