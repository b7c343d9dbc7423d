// The yield report as one self-contained HTML5 page: inline CSS, inline SVG charts, no script,
// and a content security policy under which nothing can be fetched. A heading with the period,
// the stations and the totals, the sockets called out, then each chart with its numbers in a
// table beside it.
//
// The page's contract (other tools read it): each chart is <figure class="chart"
// id="chart-NAME"> holding one <svg> whose drawn marks have class "mark" and one <table> with
// its numbers, NAME one of yield-day, yield-station, yield-socket, causes (only when a job
// failed), step-times, job-times, per-hour; the callout is <section id="suspect-sockets"> with
// one <li data-socket="LETTER"> per socket named, or a sentence saying none was; a period
// without jobs gives <p id="no-jobs"> and no chart.
#pragma once

#include <string>

#include "report/report_data.h"

namespace vornex::report {

// What the page says about where its numbers come from.
struct TReportSource {
  std::string records;      // "the records of station X in DIR", "the line"
  std::string generatedAt;  // local time
};

std::string ReportHtml(const TReportData& data, const TReportSource& source);

// The period in words: "2024-05-01 to now", "2024-05-01 to 2024-06-01".
std::string PeriodText(const TReportData& data);
// The callout's lines, each naming its station when the report has several.
std::vector<std::string> CalloutLines(const TReportData& data);

}  // namespace vornex::report
