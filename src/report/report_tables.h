// The report's numbers as tables: the same rows for the page (beside each chart) and for the
// CSV files, with the columns named for both.
#pragma once

#include <string>
#include <vector>

#include "report/report_data.h"

namespace vornex::report {

struct TReportColumn {
  std::string name;   // as a CSV header: lower case, words joined by '_'
  std::string title;  // as the page's table heads it
  bool number = false;
};

struct TReportTable {
  std::string name;  // the chart's: "yield-day", "causes" ...
  std::string title;
  std::vector<TReportColumn> columns;
  std::vector<std::vector<std::string>> rows;  // texts as they come, never escaped

  // "yield_day.csv"
  std::string CsvFileName() const;
};

// Every table of the report, in the page's order; `causes` only when a job failed. None for a
// period without jobs.
std::vector<TReportTable> ReportTables(const TReportData& data);

// A number with one decimal ("95.2"); a share in percent ("95.2" for 0.952).
std::string OneDecimal(double value);
std::string Percent(double share);

}  // namespace vornex::report
