// The report's page.
#include "report/report_html.h"

#include "report/report_svg.h"
#include "report/report_tables.h"

namespace vornex::report {
namespace {

constexpr const char* kStyle = R"css(
body { font-family: sans-serif; margin: 1.5em; color: #222; }
h1 { font-size: 1.5em; margin-bottom: 0.2em; }
.summary { color: #444; }
.totals { font-size: 1.2em; }
section#suspect-sockets { border-left: 4px solid #d9453c; padding: 0.2em 1em; margin: 1em 0; }
section#suspect-sockets.none { border-left-color: #2e9e5b; }
figure.chart { display: flex; flex-wrap: wrap; gap: 1.5em; align-items: flex-start;
  margin: 1.5em 0; padding-top: 0.5em; border-top: 1px solid #ccc; }
figure.chart figcaption { width: 100%; font-weight: bold; font-size: 1.1em; }
figure.chart svg { max-width: 100%; height: auto; }
.numbers { max-height: 320px; overflow: auto; }
table { border-collapse: collapse; font-size: 0.9em; }
th, td { padding: 2px 8px; border-bottom: 1px solid #eee; text-align: left; }
td.number, th.number { text-align: right; font-variant-numeric: tabular-nums; }
)css";

std::string Table(const TReportTable& table) {
  std::string out = "<table><thead><tr>";
  for (const TReportColumn& c : table.columns) {
    out += std::string("<th") + (c.number ? " class=\"number\"" : "") + ">" + MarkupText(c.title) +
           "</th>";
  }
  out += "</tr></thead><tbody>";
  for (const auto& row : table.rows) {
    out += "<tr>";
    for (std::size_t i = 0; i < row.size() && i < table.columns.size(); ++i) {
      out += std::string("<td") + (table.columns[i].number ? " class=\"number\"" : "") + ">" +
             MarkupText(row[i]) + "</td>";
    }
    out += "</tr>";
  }
  return out + "</tbody></table>";
}

std::string Seconds(double ms) {
  return OneDecimal(ms / 1000.0) + " s";
}

std::string Heading(const TReportData& data, const TReportSource& source) {
  std::string out = "<h1>Yield report</h1><p class=\"summary\">" + MarkupText(PeriodText(data)) +
                    " &middot; from " + MarkupText(source.records) + " &middot; made " +
                    MarkupText(source.generatedAt) + "</p>";
  if (data.Empty()) return out;
  std::string stations;
  for (const std::string& s : data.stations) stations += (stations.empty() ? "" : ", ") + s;
  out += "<p class=\"summary\">" +
         std::string(data.stations.size() == 1 ? "Station " : "Stations ") + MarkupText(stations) +
         "</p>";
  const TCounts& t = data.total;
  out += "<p class=\"totals\"><strong>" + Percent(t.Rate()) +
         "% yield</strong>: " + std::to_string(t.passed) + " of " + std::to_string(t.jobs) +
         " jobs passed, " + std::to_string(t.Failed()) + " failed; mean job time " +
         Seconds(static_cast<double>(data.totalElapsedMs) / static_cast<double>(t.jobs)) +
         "; median " + OneDecimal(data.medianPerHour) + " devices per hour, best hour " +
         MarkupText(data.bestHour.hour) + ":00 with " + std::to_string(data.bestHour.counts.jobs) +
         ".</p>";
  if (data.restoreJobs > 0) {
    out += "<p class=\"summary\">" + std::to_string(data.restoreJobs) +
           " restore jobs of the period are not counted in the yield.</p>";
  }
  return out;
}

std::string Callout(const TReportData& data) {
  const bool named = !data.callouts.empty();
  std::string out = std::string("<section id=\"suspect-sockets\"") +
                    (named ? "" : " class=\"none\"") + "><h2>Sockets to check</h2>";
  if (!named) {
    return out + "<p>No socket fails more than its station's others in the last " +
           std::to_string(kCalloutWindow) + " jobs of each station.</p></section>";
  }
  out += "<ul>";
  const bool several = data.stations.size() > 1;
  for (const TStationCallout& station : data.callouts) {
    for (const TSuspectSocket& socket : station.sockets) {
      out += "<li data-socket=\"";
      out += SlotLetter(socket.slot);
      out += '"';
      if (several) out += " data-station=\"" + MarkupText(station.station) + '"';
      out += '>';
      if (several) out += "Station " + MarkupText(station.station) + ": ";
      out += MarkupText(CalloutText(socket, station.window)) + "</li>";
    }
  }
  return out + "</ul></section>";
}

}  // namespace

std::string PeriodText(const TReportData& data) {
  return data.since + " to " + (data.until.empty() ? "now" : data.until);
}

std::vector<std::string> CalloutLines(const TReportData& data) {
  std::vector<std::string> lines;
  for (const TStationCallout& station : data.callouts) {
    for (const TSuspectSocket& socket : station.sockets) {
      lines.push_back((data.stations.size() > 1 ? "Station " + station.station + ": " : "") +
                      CalloutText(socket, station.window));
    }
  }
  return lines;
}

std::string ReportHtml(const TReportData& data, const TReportSource& source) {
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src "
      "'unsafe-inline'; img-src data:\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
      "<title>Yield report " +
      MarkupText(PeriodText(data)) + "</title><style>" + kStyle + "</style></head><body>\n";
  page += Heading(data, source) + "\n";
  if (data.Empty()) {
    page += "<p id=\"no-jobs\">No jobs between " + MarkupText(data.since) + " and " +
            MarkupText(data.until.empty() ? "now" : data.until) + ".</p>\n";
  }
  page += Callout(data) + "\n";
  for (const TReportTable& table : ReportTables(data)) {
    page += "<figure class=\"chart\" id=\"chart-" + table.name + "\"><figcaption>" +
            MarkupText(table.title) + "</figcaption>" + ChartSvg(data, table.name) +
            "<div class=\"numbers\">" + Table(table) + "</div></figure>\n";
  }
  return page + "</body></html>\n";
}

}  // namespace vornex::report
