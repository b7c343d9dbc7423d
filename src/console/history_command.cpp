// "vornex history": the past jobs in the station record store, newest first, as a table, JSON
// lines or CSV, chosen by date, serial number or device key. It checks its whole command line
// before it opens anything and opens the records for reading only.
#include <limits>
#include <string_view>

#include "console/job_report.h"
#include "console/line_commands.h"
#include "console/records_commands.h"
#include "console/records_options.h"
#include "report/report_period.h"

namespace vornex {

std::string HistoryUsage() {
  return "usage: vornex history [--json | --csv] [--since DATE] [--serial SN] [--key KEY]\n"
         "                      [--limit N] [--data DIR] [--settings FILE]\n"
         "                      [--line [--station STATION]]\n"
         "  past jobs, newest first; DATE is YYYY-MM-DD or YYYY-MM-DD hh:mm:ss; N from 1; the\n"
         "  records are only read (a data folder without them is refused, never created)\n"
         "  --line             the jobs of every station of the line (section Line of the\n"
         "                     settings), with the station of each\n"
         "  --station STATION  only that station's (its name, or its id or the start of it)\n";
}

int RunHistoryCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (AsksForHelp(args)) {
    out << HistoryUsage();
    return exit_status::kOk;
  }
  std::string mistake;
  const auto options = ParseOptions(
      args, {"--since", "--serial", "--key", "--limit", "--data", "--settings", "--station"},
      {"--json", "--csv", "--line"}, false, &mistake);
  if (options) {
    if (options->Switch("--json") && options->Switch("--csv")) {
      mistake = "--json and --csv exclude each other";
    } else if (options->Has("--station") && !options->Switch("--line")) {
      mistake = "--station needs --line";
    } else if (options->Switch("--line") && options->Has("--data")) {
      mistake = "--line and --data exclude each other";
    } else if (options->Has("--limit") &&
               !WholeNumber(options->Get("--limit"), std::numeric_limits<int>::max())) {
      mistake = "--limit " + options->Get("--limit") + " is no whole number from 1";
    } else if (options->Has("--since") && !report::IsDate(options->Get("--since"))) {
      mistake =
          "--since " + options->Get("--since") + " is no date (YYYY-MM-DD or YYYY-MM-DD hh:mm:ss)";
    } else {
      mistake = PathMistake(*options);
    }
  }
  if (!mistake.empty()) return RefuseCommandLine("history", mistake, HistoryUsage(), err);

  if (options->Switch("--line")) {
    line::TLineHistoryFilter filter;
    filter.since = options->Get("--since");
    filter.serial = Utf8ToAnsi(options->Get("--serial"));
    filter.key = options->Get("--key");
    filter.station = options->Get("--station");
    if (options->Has("--limit")) {
      filter.limit =
          static_cast<int>(*WholeNumber(options->Get("--limit"), std::numeric_limits<int>::max()));
    }
    const THistoryFormat format = options->Switch("--json")  ? THistoryFormat::kJson
                                  : options->Switch("--csv") ? THistoryFormat::kCsv
                                                             : THistoryFormat::kTable;
    return PrintLineHistory(CommandSettings(*options), filter, format, out, err);
  }
  std::unique_ptr<TStationStore> store =
      OpenStoreForReading("history", *options, CommandSettings(*options), err);
  if (!store) return exit_status::kUnavailable;
  THistoryFilter filter;
  filter.since = options->Get("--since");
  filter.serial = Utf8ToAnsi(options->Get("--serial"));
  filter.key = options->Get("--key");
  if (options->Has("--limit")) {
    filter.limit =
        static_cast<int>(*WholeNumber(options->Get("--limit"), std::numeric_limits<int>::max()));
  }
  std::string error;
  const auto jobs = store->History(filter, &error);
  if (!jobs) {
    err << "vornex history: " << error << '\n';
    return exit_status::kUnavailable;
  }
  if (options->Switch("--json")) {
    for (const TJobSummary& job : *jobs) out << JobJson(job) << '\n';
  } else if (options->Switch("--csv")) {
    out << JobCsvHeader() << '\n';
    for (const TJobSummary& job : *jobs) out << JobCsvRow(job) << '\n';
  } else {
    out << "JOB     STARTED                  KIND     SLOT  KEY       SN                VERDICT"
           "  REASON\n";
    for (const TJobSummary& job : *jobs) {
      out << FormatBounded(
          1023, "%-7lld %-24s %-8s %-5s %-9s %-17s %-8s %s\n", static_cast<long long>(job.id),
          job.startedAt.c_str(), job.kind.c_str(),
          job.slot >= 0 ? std::string(1, static_cast<char>('A' + job.slot)).c_str() : "-",
          job.deviceKey.c_str(), AnsiToUtf8(job.identityBefore.slots[kSlotSn]).c_str(),
          job.pass ? "PASS" : "FAILED", job.failure.c_str());
    }
  }
  return exit_status::kOk;
}

}  // namespace vornex
