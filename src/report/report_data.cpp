// The report's accumulator and the tables it gives.
#include "report/report_data.h"

#include <algorithm>
#include <tuple>
#include <utility>

#include "foundation/text.h"

namespace vornex::report {
namespace {

// The first `length` characters of a local time when they have its form up to there
// ("YYYY-MM-DD hh:mm:ss.mmm"); empty otherwise.
std::string TimePrefix(const std::string& time, std::size_t length) {
  constexpr std::string_view kForm = "dddd-dd-dd dd";
  if (time.size() < length || length > kForm.size()) return {};
  for (std::size_t i = 0; i < length; ++i) {
    const bool digit = time[i] >= '0' && time[i] <= '9';
    if (kForm[i] == 'd' ? !digit : time[i] != kForm[i]) return {};
  }
  return time.substr(0, length);
}

// The cause of a failed job as the Pareto chart counts it: the same fault on another port,
// block or item is the same cause, so every number in it (decimal, or hex after "0x") reads "#".
std::string CauseOf(const TJobSummary& job) {
  const std::string& text = !job.cause.empty() ? job.cause : job.failure;
  if (text.empty()) return "(no reason recorded)";
  const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  const auto isHex = [&](char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  };
  std::string cause;
  for (std::size_t i = 0; i < text.size();) {
    if (!isDigit(text[i])) {
      cause += text[i++];
      continue;
    }
    const bool hex = text[i] == '0' && i + 2 < text.size() &&
                     (text[i + 1] == 'x' || text[i + 1] == 'X') && isHex(text[i + 2]);
    if (hex) {
      cause += "0x";
      i += 2;
    }
    while (i < text.size() && (hex ? isHex(text[i]) : isDigit(text[i]))) ++i;
    cause += '#';
  }
  return std::string(CutToUnits(cause, kMaxCauseUnits));
}

// About kJobTimeBuckets buckets of a round width (1, 2, 5, 10, 15, 30, 60 ... s) from the
// shortest job time seen to the longest; the jobs of kJobTimeSecondsKept or more in the last.
std::vector<TJobTimeBucket> JobTimeBuckets(
    const std::vector<std::array<std::int64_t, 2>>& seconds) {
  std::vector<TJobTimeBucket> buckets;
  std::uint32_t first = kJobTimeSecondsKept + 1;
  std::uint32_t last = 0;
  for (std::uint32_t s = 0; s <= kJobTimeSecondsKept; ++s) {
    if (seconds[s][0] + seconds[s][1] == 0) continue;
    first = std::min(first, s);
    last = s;
  }
  if (first > last) return buckets;
  constexpr std::uint32_t kWidths[] = {1,   2,   5,   10,   15,   30,   60,  120,
                                       300, 600, 900, 1200, 1800, 3600, 7200};
  std::uint32_t width = kWidths[std::size(kWidths) - 1];
  for (const std::uint32_t w : kWidths) {
    if ((last / w - first / w + 1) <= kJobTimeBuckets) {
      width = w;
      break;
    }
  }
  for (std::uint32_t from = first / width * width; from <= last; from += width) {
    TJobTimeBucket& b = buckets.emplace_back();
    b.fromS = from;
    b.toS = from + width;
    for (std::uint32_t s = from; s < b.toS && s <= last; ++s) {
      b.passed += seconds[s][0];
      b.failed += seconds[s][1];
    }
    if (b.toS > kJobTimeSecondsKept) b.toS = 0;  // the longest jobs: no upper edge
  }
  return buckets;
}

void Count(TCounts& counts, bool pass) {
  ++counts.jobs;
  if (pass) ++counts.passed;
}

}  // namespace

void AddSteps(TStepSums& sums, const TStepTimes& times) {
  for (std::size_t i = 0; i < times.size(); ++i) {
    if (!times[i].Ran()) continue;
    ++sums[i].ran;
    sums[i].totalMs += times[i].Ms();
  }
}

std::size_t SlowestStep(const TStepSums& sums) {
  std::size_t slowest = kTimedStepCount;
  for (std::size_t i = 0; i < kTimedStepCount; ++i) {
    if (sums[i].ran > 0 &&
        (slowest == kTimedStepCount || sums[i].MeanSeconds() > sums[slowest].MeanSeconds())) {
      slowest = i;
    }
  }
  return slowest;
}

TReportAccumulator::TReportAccumulator(std::string since, std::string until, int window)
    : since_(std::move(since)),
      until_(std::move(until)),
      window_(static_cast<std::size_t>(std::max(window, 1))),
      jobSeconds_(kJobTimeSecondsKept + 1) {}

void TReportAccumulator::Add(const TJobSummary& job, const std::string& stationName) {
  if (job.kind == kJobKindRestore) {
    ++restoreJobs_;
    return;
  }
  Count(total_, job.pass);
  totalElapsedMs_ += job.elapsedMs;

  const std::string day = TimePrefix(job.startedAt, 10);
  Count(days_.At(day.empty() ? "(no date)" : day), job.pass);

  const std::string station = stationName.empty() ? "(unnamed)" : stationName;
  TStation& s = stations_.At(station);
  Count(s.counts, job.pass);
  AddSteps(s.steps, job.times);
  s.last.push_back({job.slot, job.deviceKey, job.pass});
  if (s.last.size() > window_) s.last.pop_front();

  TSocket& socket =
      sockets_.At(station + '\x1f' + std::to_string(job.slot) + '\x1f' + job.deviceKey);
  if (socket.counts.jobs == 0) {
    socket.station = station;
    socket.slot = job.slot;
    socket.key = job.deviceKey;
  }
  Count(socket.counts, job.pass);

  if (!job.pass) ++causes_.At(CauseOf(job));

  AddSteps(steps_, job.times);
  ++jobSeconds_[std::min(job.elapsedMs / 1000, kJobTimeSecondsKept)][job.pass ? 0 : 1];

  std::string hour = TimePrefix(job.endedAt, 13);
  if (hour.empty()) hour = TimePrefix(job.startedAt, 13);
  Count(hours_.At(hour.empty() ? "(no time)" : hour), job.pass);
}

TReportData TReportAccumulator::Result() const {
  TReportData data;
  data.since = since_;
  data.until = until_;
  data.total = total_;
  data.restoreJobs = restoreJobs_;
  data.totalElapsedMs = totalElapsedMs_;
  data.steps = steps_;
  if (total_.jobs == 0) return data;

  for (const auto& [day, counts] : days_.Entries()) data.byDay.push_back({day, {}, -1, {}, counts});
  if (const TCounts* rest = days_.Overflow()) {
    data.byDay.push_back({"other days", {}, -1, {}, *rest, true});
  }

  for (const auto& [name, s] : stations_.Entries()) {
    data.stations.push_back(name);
    data.byStation.push_back({name, name, -1, {}, s.counts});
    data.stepsByStation.push_back({name, s.steps});
    std::vector<TSocketJob> window(s.last.begin(), s.last.end());
    auto named = FindSuspectSockets(window);
    if (!named.empty()) {
      data.callouts.push_back({name, static_cast<std::int64_t>(window.size()), std::move(named)});
    }
  }
  if (const TStation* rest = stations_.Overflow()) {
    data.byStation.push_back({"other stations", {}, -1, {}, rest->counts, true});
  }

  for (const auto& [id, socket] : sockets_.Entries()) {
    data.bySocket.push_back({SlotLetter(socket.slot) + " " + socket.key, socket.station,
                             socket.slot, socket.key, socket.counts});
  }
  std::stable_sort(data.bySocket.begin(), data.bySocket.end(), [](const auto& a, const auto& b) {
    return std::tie(a.station, a.slot, a.key) < std::tie(b.station, b.slot, b.key);
  });
  if (const TSocket* rest = sockets_.Overflow()) {
    data.bySocket.push_back({"other sockets", {}, -1, {}, rest->counts, true});
  }

  for (const auto& [cause, count] : causes_.Entries()) data.causes.push_back({cause, count});
  std::stable_sort(data.causes.begin(), data.causes.end(),
                   [](const auto& a, const auto& b) { return a.count > b.count; });
  if (const std::int64_t* rest = causes_.Overflow()) {
    data.causes.push_back({"other causes", *rest, true});
  }

  data.jobTimes = JobTimeBuckets(jobSeconds_);

  std::vector<std::int64_t> perHour;
  for (const auto& [hour, counts] : hours_.Entries()) {
    data.perHour.push_back({hour, counts});
    perHour.push_back(counts.jobs);
    if (counts.jobs > data.bestHour.counts.jobs) data.bestHour = data.perHour.back();
  }
  if (const TCounts* rest = hours_.Overflow()) data.perHour.push_back({"other hours", *rest, true});
  if (!perHour.empty()) {
    std::sort(perHour.begin(), perHour.end());
    const std::size_t mid = perHour.size() / 2;
    data.medianPerHour = perHour.size() % 2 == 1
                             ? static_cast<double>(perHour[mid])
                             : static_cast<double>(perHour[mid - 1] + perHour[mid]) / 2.0;
  }
  return data;
}

}  // namespace vornex::report
