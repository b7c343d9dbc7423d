// The report's charts as SVG drawn by the station: no script, no external library, nothing
// fetched. Every text is made safe before it goes in (causes and keys come from devices and
// files). Each drawn mark (bar, line, point) has class "mark" and a <title> with its numbers.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "report/report_data.h"

namespace vornex::report {

// Valid UTF-8 without control characters (each invalid byte or control character becomes
// U+FFFD), at most `characters` characters long, the last of them "…" when cut.
std::string CleanText(std::string_view text, std::size_t characters = std::string_view::npos);
// CleanText, then escaped for HTML and SVG text and quoted attributes (& < > " ').
std::string MarkupText(std::string_view text, std::size_t characters = std::string_view::npos);

// Vertical bars, each of stacked segments, with an optional line over them (a share per bar, on
// a percent axis at the right).
struct TBarSegment {
  double value = 0;
  const char* color = "";
};
struct TBar {
  std::string label;
  std::vector<TBarSegment> segments;
  std::string tip;
};
struct TBarChart {
  std::string title;
  std::vector<TBar> bars;
  bool percent = false;      // the values are shares (0 to 1), the axis in percent
  std::vector<double> line;  // empty, or one share per bar
  std::vector<std::string> lineTips;
  std::vector<std::pair<std::string, const char*>> legend;  // name, colour
};
std::string BarChartSvg(const TBarChart& chart);

// Horizontal bars of stacked segments, one colour per segment name.
struct TStackRow {
  std::string label;
  std::vector<double> values;  // one per name
  std::vector<std::string> tips;
};
struct TStackChart {
  std::string title;
  std::vector<std::string> names;
  std::vector<TStackRow> rows;
  std::string unit;  // of the values, for the axis ("s")
};
std::string StackedBarsSvg(const TStackChart& chart);

// The chart of one of the report's tables (ReportTables' names); empty for another name.
std::string ChartSvg(const TReportData& data, const std::string& name);

}  // namespace vornex::report
