// The report's tables.
#include "report/report_tables.h"

#include <algorithm>
#include <cstdio>

namespace vornex::report {
namespace {

TReportColumn Text(const char* name, const char* title) {
  return {name, title, false};
}
TReportColumn Number(const char* name, const char* title) {
  return {name, title, true};
}

std::vector<std::string> CountCells(const TCounts& c) {
  return {std::to_string(c.jobs), std::to_string(c.passed), std::to_string(c.Failed()),
          Percent(c.Rate())};
}

TReportTable YieldTable(const char* name, const char* title, TReportColumn first,
                        const std::vector<TYieldRow>& rows) {
  TReportTable table{name, title, {std::move(first)}, {}};
  for (const TReportColumn& c : {Number("jobs", "Jobs"), Number("passed", "Passed"),
                                 Number("failed", "Failed"), Number("yield_percent", "Yield %")}) {
    table.columns.push_back(c);
  }
  for (const TYieldRow& row : rows) {
    table.rows.push_back({row.label});
    for (std::string& cell : CountCells(row.counts)) table.rows.back().push_back(std::move(cell));
  }
  return table;
}

}  // namespace

std::string TReportTable::CsvFileName() const {
  std::string file = name;
  std::replace(file.begin(), file.end(), '-', '_');
  return file + ".csv";
}

std::string OneDecimal(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

std::string Percent(double share) {
  return OneDecimal(share * 100.0);
}

std::vector<TReportTable> ReportTables(const TReportData& data) {
  std::vector<TReportTable> tables;
  if (data.Empty()) return tables;
  tables.push_back(YieldTable("yield-day", "Yield per day", Text("day", "Day"), data.byDay));
  tables.push_back(
      YieldTable("yield-station", "Yield per station", Text("station", "Station"), data.byStation));

  TReportTable sockets{
      "yield-socket",
      "Yield per socket",
      {Text("station", "Station"), Text("slot", "Slot"), Text("key", "Key"), Number("jobs", "Jobs"),
       Number("passed", "Passed"), Number("failed", "Failed"), Number("yield_percent", "Yield %")},
      {}};
  for (const TYieldRow& row : data.bySocket) {
    std::vector<std::string> cells = {row.other ? row.label : row.station,
                                      row.other ? "" : SlotLetter(row.slot), row.key};
    for (std::string& cell : CountCells(row.counts)) cells.push_back(std::move(cell));
    sockets.rows.push_back(std::move(cells));
  }
  tables.push_back(std::move(sockets));

  if (data.total.Failed() > 0) {
    TReportTable causes{
        "causes",
        "Failure causes",
        {Text("cause", "Cause"), Number("count", "Failed jobs"), Number("share_percent", "Share %"),
         Number("cumulative_percent", "Cumulative %")},
        {}};
    std::int64_t running = 0;
    const auto failed = static_cast<double>(data.total.Failed());
    for (const TCauseRow& row : data.causes) {
      running += row.count;
      causes.rows.push_back({row.cause, std::to_string(row.count), Percent(row.count / failed),
                             Percent(running / failed)});
    }
    tables.push_back(std::move(causes));
  }

  TReportTable steps{
      "step-times",
      "Mean time per step",
      {Text("step", "Step"), Number("jobs", "Jobs in which it ran"), Number("mean_s", "Mean s")},
      {}};
  for (std::size_t i = 0; i < kTimedStepCount; ++i) {
    steps.rows.push_back({kTimedStepTitles[i], std::to_string(data.steps[i].ran),
                          OneDecimal(data.steps[i].MeanSeconds())});
  }
  tables.push_back(std::move(steps));

  TReportTable times{"job-times",
                     "Job times",
                     {Number("from_s", "From s"), Number("to_s", "To s"),
                      Number("passed", "Passed"), Number("failed", "Failed")},
                     {}};
  for (const TJobTimeBucket& b : data.jobTimes) {
    times.rows.push_back({std::to_string(b.fromS), b.toS > 0 ? std::to_string(b.toS) : "",
                          std::to_string(b.passed), std::to_string(b.failed)});
  }
  tables.push_back(std::move(times));

  TReportTable hours{"per-hour",
                     "Devices per hour",
                     {Text("hour", "Hour"), Number("jobs", "Jobs"), Number("passed", "Passed"),
                      Number("failed", "Failed")},
                     {}};
  for (const THourRow& row : data.perHour) {
    hours.rows.push_back({row.other ? row.hour : row.hour + ":00", std::to_string(row.counts.jobs),
                          std::to_string(row.counts.passed), std::to_string(row.counts.Failed())});
  }
  tables.push_back(std::move(hours));
  return tables;
}

}  // namespace vornex::report
