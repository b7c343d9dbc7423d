// SVG charts of the report: bars with a value axis, an optional share line, stacked bars.
#include "report/report_svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "report/report_tables.h"

namespace vornex::report {
namespace {

constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD
constexpr const char* kEllipsis = "\xE2\x80\xA6";     // "…"
constexpr const char* kPassColor = "#2e9e5b";
constexpr const char* kFailColor = "#d9453c";
constexpr const char* kRateColor = "#3b6fb6";
constexpr const char* kFailShareColor = "#f3c1bd";
constexpr const char* kLineColor = "#e08a1e";
constexpr const char* kStepColors[kTimedStepCount] = {"#4e79a7", "#f28e2b", "#e15759",
                                                      "#76b7b2", "#59a14f", "#edc948",
                                                      "#b07aa1", "#ff9da7", "#9c755f"};

// The length of the well-formed UTF-8 character at the start of `s`, 0 when there is none.
std::size_t CharLength(std::string_view s) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char b = byte(0);
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF) {
    length = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    length = 3;
    if (b == 0xE0) low = 0xA0;
    if (b == 0xED) high = 0x9F;  // no surrogates
  } else if (b >= 0xF0 && b <= 0xF4) {
    length = 4;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (s.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  // C1 control characters (U+0080 to U+009F).
  if (length == 2 && b == 0xC2 && byte(1) < 0xA0) return 0;
  return length;
}

std::string Num(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

// A round step for about `ticks` divisions of 0..top.
double NiceStep(double top, int ticks) {
  const double raw = std::max(top, 1.0) / ticks;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (const double m : {1.0, 2.0, 5.0, 10.0}) {
    if (m * power >= raw) return m * power;
  }
  return 10 * power;
}

std::string AxisNumber(double value, bool percent) {
  if (percent) return std::to_string(std::lround(value * 100)) + "%";
  if (value == std::floor(value)) return std::to_string(static_cast<long long>(value));
  return Num(value);
}

std::string Open(int width, int height, const std::string& title) {
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + std::to_string(width) + " " +
         std::to_string(height) + "\" width=\"" + std::to_string(width) + "\" height=\"" +
         std::to_string(height) + "\" role=\"img\" aria-label=\"" + MarkupText(title) +
         "\" font-family=\"sans-serif\" font-size=\"11\">";
}

std::string Legend(const std::vector<std::pair<std::string, const char*>>& items, double x,
                   double y) {
  std::string out;
  for (const auto& [name, color] : items) {
    out += "<rect x=\"" + Num(x) + "\" y=\"" + Num(y - 9) +
           "\" width=\"10\" height=\"10\" fill=\"" + color + "\"/><text x=\"" + Num(x + 14) +
           "\" y=\"" + Num(y) + "\">" + MarkupText(name) + "</text>";
    x += 24 + 6.5 * static_cast<double>(CleanText(name).size());
  }
  return out;
}

std::string YieldChart(const std::string& title, const std::vector<TYieldRow>& rows) {
  // The failed share on top, pale, so that a row that fails everything still shows a bar.
  TBarChart chart{title, {}, true, {}, {}, {{"passed", kRateColor}, {"failed", kFailShareColor}}};
  for (const TYieldRow& row : rows) {
    const TCounts& c = row.counts;
    chart.bars.push_back({row.label,
                          {{c.Rate(), kRateColor}, {1.0 - c.Rate(), kFailShareColor}},
                          row.label + ": " + std::to_string(c.passed) + " of " +
                              std::to_string(c.jobs) + " passed, " + std::to_string(c.Failed()) +
                              " failed (" + Percent(c.Rate()) + "%)"});
  }
  return BarChartSvg(chart);
}

}  // namespace

std::string CleanText(std::string_view text, std::size_t characters) {
  std::string out;
  std::size_t count = 0;
  while (!text.empty()) {
    if (count == characters) {
      // The last character kept makes way for the ellipsis.
      std::size_t last = out.size();
      while (last > 0 && (static_cast<unsigned char>(out[last - 1]) & 0xC0) == 0x80) --last;
      if (last > 0) --last;
      out.resize(last);
      return out + kEllipsis;
    }
    const std::size_t length = CharLength(text);
    const unsigned char b = static_cast<unsigned char>(text[0]);
    if (length == 0) {
      out += kReplacement;
      text.remove_prefix(1);
    } else {
      if (b == '\t' || b == '\n' || b == '\r') {
        out += ' ';
      } else if (length == 1 && (b < 0x20 || b == 0x7F)) {
        out += kReplacement;
      } else {
        out.append(text.substr(0, length));
      }
      text.remove_prefix(length);
    }
    ++count;
  }
  return out;
}

std::string MarkupText(std::string_view text, std::size_t characters) {
  std::string out;
  for (const char c : CleanText(text, characters)) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string BarChartSvg(const TBarChart& chart) {
  constexpr int kWidth = 720;
  constexpr int kHeight = 300;
  constexpr double kLeft = 76;
  constexpr double kRight = 52;
  constexpr double kTop = 24;
  constexpr double kBottom = 96;
  const double plotWidth = kWidth - kLeft - kRight;
  const double plotHeight = kHeight - kTop - kBottom;
  const double base = kTop + plotHeight;

  double top = 0;
  for (const TBar& bar : chart.bars) {
    double sum = 0;
    for (const TBarSegment& s : bar.segments) sum += std::max(s.value, 0.0);
    top = std::max(top, sum);
  }
  const double step = chart.percent ? 0.25 : NiceStep(top, 4);
  const double axisTop = chart.percent ? 1.0 : std::max(step, std::ceil(top / step) * step);
  const auto y = [&](double value) { return base - value / axisTop * plotHeight; };

  std::string out = Open(kWidth, kHeight, chart.title);
  for (double v = 0; v <= axisTop + step / 2; v += step) {
    out += "<line x1=\"" + Num(kLeft) + "\" x2=\"" + Num(kLeft + plotWidth) + "\" y1=\"" +
           Num(y(v)) + "\" y2=\"" + Num(y(v)) + "\" stroke=\"#ddd\"/><text x=\"" + Num(kLeft - 6) +
           "\" y=\"" + Num(y(v) + 4) + "\" text-anchor=\"end\">" + AxisNumber(v, chart.percent) +
           "</text>";
  }
  const std::size_t n = chart.bars.size();
  const double slot = n > 0 ? plotWidth / static_cast<double>(n) : plotWidth;
  const double barWidth = std::max(1.0, slot * 0.8);
  // At most about 30 labels under the bars: every k-th when there are more.
  const std::size_t every = std::max<std::size_t>(1, (n + 29) / 30);
  for (std::size_t i = 0; i < n; ++i) {
    const TBar& bar = chart.bars[i];
    const double x = kLeft + slot * static_cast<double>(i) + (slot - barWidth) / 2;
    double at = 0;
    for (const TBarSegment& s : bar.segments) {
      const double value = std::max(s.value, 0.0);
      if (value <= 0 && bar.segments.size() > 1) continue;
      out += "<rect class=\"mark\" x=\"" + Num(x) + "\" y=\"" + Num(y(at + value)) + "\" width=\"" +
             Num(barWidth) + "\" height=\"" + Num(y(at) - y(at + value)) + "\" fill=\"" + s.color +
             "\"><title>" + MarkupText(bar.tip) + "</title></rect>";
      at += value;
    }
    if (i % every == 0) {
      const double cx = x + barWidth / 2;
      out += "<text x=\"" + Num(cx) + "\" y=\"" + Num(base + 12) +
             "\" text-anchor=\"end\" transform=\"rotate(-40 " + Num(cx) + " " + Num(base + 12) +
             ")\">" + MarkupText(bar.label, 18) + "</text>";
    }
  }
  if (!chart.line.empty()) {
    std::string points;
    std::string dots;
    for (std::size_t i = 0; i < chart.line.size() && i < n; ++i) {
      const double cx = kLeft + slot * (static_cast<double>(i) + 0.5);
      const double cy = base - std::clamp(chart.line[i], 0.0, 1.0) * plotHeight;
      points += (points.empty() ? "" : " ") + Num(cx) + "," + Num(cy);
      dots += "<circle class=\"mark\" cx=\"" + Num(cx) + "\" cy=\"" + Num(cy) +
              "\" r=\"3\" fill=\"" + kLineColor + "\"><title>" +
              MarkupText(i < chart.lineTips.size() ? chart.lineTips[i] : "") + "</title></circle>";
    }
    out += "<polyline class=\"mark\" fill=\"none\" stroke=\"" + std::string(kLineColor) +
           "\" stroke-width=\"2\" points=\"" + points + "\"/>" + dots;
    for (int p = 0; p <= 100; p += 25) {
      out += "<text x=\"" + Num(kLeft + plotWidth + 6) + "\" y=\"" +
             Num(base - p / 100.0 * plotHeight + 4) + "\">" + std::to_string(p) + "%</text>";
    }
  }
  out += "<line x1=\"" + Num(kLeft) + "\" x2=\"" + Num(kLeft + plotWidth) + "\" y1=\"" + Num(base) +
         "\" y2=\"" + Num(base) + "\" stroke=\"#333\"/>";
  out += Legend(chart.legend, kLeft, 14);
  return out + "</svg>";
}

std::string StackedBarsSvg(const TStackChart& chart) {
  constexpr int kWidth = 720;
  constexpr double kLabel = 150;
  constexpr double kRight = 24;
  constexpr double kTop = 12;
  constexpr double kRow = 30;
  const double plotWidth = kWidth - kLabel - kRight;
  const double rowsHeight = kRow * static_cast<double>(chart.rows.size());
  const int height = static_cast<int>(kTop + rowsHeight + 64);

  double top = 0;
  for (const TStackRow& row : chart.rows) {
    double sum = 0;
    for (const double v : row.values) sum += std::max(v, 0.0);
    top = std::max(top, sum);
  }
  const double step = NiceStep(top, 5);
  const double axisTop = std::max(step, std::ceil(top / step) * step);
  const auto x = [&](double value) { return kLabel + value / axisTop * plotWidth; };

  std::string out = Open(kWidth, height, chart.title);
  const double axisY = kTop + rowsHeight;
  for (double v = 0; v <= axisTop + step / 2; v += step) {
    out += "<line x1=\"" + Num(x(v)) + "\" x2=\"" + Num(x(v)) + "\" y1=\"" + Num(kTop) +
           "\" y2=\"" + Num(axisY) + "\" stroke=\"#ddd\"/><text x=\"" + Num(x(v)) + "\" y=\"" +
           Num(axisY + 14) + "\" text-anchor=\"middle\">" + AxisNumber(v, false) + " " +
           MarkupText(chart.unit) + "</text>";
  }
  for (std::size_t r = 0; r < chart.rows.size(); ++r) {
    const TStackRow& row = chart.rows[r];
    const double rowY = kTop + kRow * static_cast<double>(r);
    out += "<text x=\"" + Num(kLabel - 6) + "\" y=\"" + Num(rowY + kRow / 2 + 4) +
           "\" text-anchor=\"end\">" + MarkupText(row.label, 22) + "</text>";
    double at = 0;
    for (std::size_t i = 0; i < row.values.size(); ++i) {
      const double value = std::max(row.values[i], 0.0);
      if (value <= 0) continue;
      out += "<rect class=\"mark\" x=\"" + Num(x(at)) + "\" y=\"" + Num(rowY + 4) + "\" width=\"" +
             Num(x(at + value) - x(at)) + "\" height=\"" + Num(kRow - 8) + "\" fill=\"" +
             kStepColors[i % kTimedStepCount] + "\"><title>" +
             MarkupText(i < row.tips.size() ? row.tips[i] : "") + "</title></rect>";
      at += value;
    }
  }
  std::vector<std::pair<std::string, const char*>> legend;
  for (std::size_t i = 0; i < chart.names.size(); ++i) {
    legend.emplace_back(chart.names[i], kStepColors[i % kTimedStepCount]);
  }
  // Two lines of legend: the names would not fit on one.
  const std::size_t half = (legend.size() + 1) / 2;
  out += Legend({legend.begin(), legend.begin() + static_cast<std::ptrdiff_t>(half)}, kLabel,
                axisY + 34);
  out += Legend({legend.begin() + static_cast<std::ptrdiff_t>(half), legend.end()}, kLabel,
                axisY + 52);
  return out + "</svg>";
}

std::string ChartSvg(const TReportData& data, const std::string& name) {
  if (name == "yield-day") return YieldChart("Yield per day", data.byDay);
  if (name == "yield-station") return YieldChart("Yield per station", data.byStation);
  if (name == "yield-socket") {
    std::vector<TYieldRow> rows = data.bySocket;
    // Several stations: each socket's label names its station.
    if (data.byStation.size() > 1) {
      for (TYieldRow& row : rows) {
        if (!row.other) row.label = row.station + " " + row.label;
      }
    }
    return YieldChart("Yield per socket", rows);
  }
  if (name == "causes") {
    TBarChart chart{"Failure causes",
                    {},
                    false,
                    {},
                    {},
                    {{"failed jobs", kFailColor}, {"cumulative share", kLineColor}}};
    const auto failed = static_cast<double>(std::max<std::int64_t>(1, data.total.Failed()));
    std::int64_t running = 0;
    for (const TCauseRow& row : data.causes) {
      running += row.count;
      chart.bars.push_back({row.cause,
                            {{static_cast<double>(row.count), kFailColor}},
                            row.cause + ": " + std::to_string(row.count) + " failed jobs (" +
                                Percent(row.count / failed) + "%)"});
      chart.line.push_back(running / failed);
      chart.lineTips.push_back("cumulative: " + Percent(running / failed) + "% of failed jobs");
    }
    return BarChartSvg(chart);
  }
  if (name == "step-times") {
    TStackChart chart{"Mean time per step", {}, {}, "s"};
    for (const char* title : kTimedStepTitles) chart.names.emplace_back(title);
    const auto row = [&](const std::string& label, const TStepSums& sums) {
      TStackRow r{label, {}, {}};
      for (std::size_t i = 0; i < kTimedStepCount; ++i) {
        r.values.push_back(sums[i].MeanSeconds());
        r.tips.push_back(label + ", " + kTimedStepTitles[i] + ": " +
                         OneDecimal(sums[i].MeanSeconds()) + " s mean over " +
                         std::to_string(sums[i].ran) + " jobs");
      }
      chart.rows.push_back(std::move(r));
    };
    row("all jobs", data.steps);
    if (data.stepsByStation.size() > 1) {
      for (const TStationSteps& s : data.stepsByStation) row(s.station, s.steps);
    }
    return StackedBarsSvg(chart);
  }
  if (name == "job-times") {
    TBarChart chart{"Job times", {}, false,
                    {},          {}, {{"passed", kPassColor}, {"failed", kFailColor}}};
    for (const TJobTimeBucket& b : data.jobTimes) {
      const std::string label = std::to_string(b.fromS) +
                                (b.toS > 0 ? "-" + std::to_string(b.toS) : std::string("+")) + " s";
      chart.bars.push_back({label,
                            {{static_cast<double>(b.passed), kPassColor},
                             {static_cast<double>(b.failed), kFailColor}},
                            label + ": " + std::to_string(b.passed) + " passed, " +
                                std::to_string(b.failed) + " failed"});
    }
    return BarChartSvg(chart);
  }
  if (name == "per-hour") {
    TBarChart chart{
        "Devices per hour", {}, false, {}, {}, {{"passed", kPassColor}, {"failed", kFailColor}}};
    for (const THourRow& row : data.perHour) {
      const std::string label = row.other ? row.hour : row.hour + ":00";
      chart.bars.push_back({label,
                            {{static_cast<double>(row.counts.passed), kPassColor},
                             {static_cast<double>(row.counts.Failed()), kFailColor}},
                            label + ": " + std::to_string(row.counts.jobs) + " devices, " +
                                std::to_string(row.counts.passed) + " passed"});
    }
    return BarChartSvg(chart);
  }
  return {};
}

}  // namespace vornex::report
