// The numbers of the yield report, accumulated one job at a time: whatever the number of jobs,
// the accumulator holds only counters (per day, station, socket, cause and clock hour, each
// with a cap beyond which the rest is counted together), step-time sums, a fixed histogram of
// job times and, per station, its last jobs for the socket callout.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "records/job_summary.h"
#include "report/socket_callout.h"

namespace vornex::report {

// How many distinct entries each table keeps; the rest is counted in one "other ..." row.
constexpr std::size_t kMaxDays = 3700;
constexpr std::size_t kMaxStations = 200;
constexpr std::size_t kMaxSockets = 1000;
constexpr std::size_t kMaxCauses = 200;
constexpr std::size_t kMaxHours = 10000;
// A cause is kept to this many characters (they come from devices and files).
constexpr std::size_t kMaxCauseUnits = 200;

// Job times are counted per whole second up to this many seconds (the longer ones together); the
// histogram's buckets are chosen from the times seen, about kJobTimeBuckets of them.
constexpr std::uint32_t kJobTimeSecondsKept = 7200;
constexpr std::uint32_t kJobTimeBuckets = 12;

// Jobs and passes behind a rate.
struct TCounts {
  std::int64_t jobs = 0;
  std::int64_t passed = 0;
  std::int64_t Failed() const { return jobs - passed; }
  double Rate() const { return jobs > 0 ? static_cast<double>(passed) / jobs : 0.0; }
};

// A row of yield per day, station or socket. `other`: the row of everything beyond the cap.
struct TYieldRow {
  std::string label;    // the day, the station, or "C 1-1.3"
  std::string station;  // sockets: their station
  std::int32_t slot = -1;
  std::string key;
  TCounts counts;
  bool other = false;
};

struct TCauseRow {
  std::string cause;
  std::int64_t count = 0;
  bool other = false;  // the causes beyond the cap, together
};

// The sum of a timed step's milliseconds over the jobs in which it ran.
struct TStepSum {
  std::int64_t ran = 0;
  std::int64_t totalMs = 0;
  double MeanSeconds() const { return ran > 0 ? static_cast<double>(totalMs) / ran / 1000.0 : 0; }
};
using TStepSums = std::array<TStepSum, kTimedStepCount>;
// Adds a job's step times to the sums.
void AddSteps(TStepSums& sums, const TStepTimes& times);
// The step with the largest mean; kTimedStepCount when no step ran.
std::size_t SlowestStep(const TStepSums& sums);

struct TStationSteps {
  std::string station;
  TStepSums steps{};
};

struct TJobTimeBucket {
  std::uint32_t fromS = 0;
  std::uint32_t toS = 0;  // 0: no upper edge
  std::int64_t passed = 0;
  std::int64_t failed = 0;
};

struct THourRow {
  std::string hour;  // "YYYY-MM-DD hh"
  TCounts counts;
  bool other = false;
};

// The callout of one station over its last jobs of the period.
struct TStationCallout {
  std::string station;
  std::int64_t window = 0;  // jobs looked at
  std::vector<TSuspectSocket> sockets;
};

struct TReportData {
  std::string since;  // the period as asked
  std::string until;  // empty: up to now
  std::vector<std::string> stations;
  TCounts total;
  std::int64_t restoreJobs = 0;  // not counted in the yield
  std::int64_t totalElapsedMs = 0;
  std::vector<TYieldRow> byDay;      // oldest first
  std::vector<TYieldRow> byStation;  // by name
  std::vector<TYieldRow> bySocket;   // by station, slot, key
  std::vector<TCauseRow> causes;     // biggest first, "other causes" last
  TStepSums steps{};
  std::vector<TStationSteps> stepsByStation;  // by name
  std::vector<TJobTimeBucket> jobTimes;
  std::vector<THourRow> perHour;  // hours with jobs, oldest first
  double medianPerHour = 0;
  THourRow bestHour;
  std::vector<TStationCallout> callouts;  // stations with a socket named

  bool Empty() const { return total.jobs == 0; }
};

// A table that counts up to a cap and puts the rest into one overflow entry.
template <class TValue>
class TCappedTable {
 public:
  explicit TCappedTable(std::size_t cap) : cap_(cap) {}
  TValue& At(const std::string& key) {
    const auto it = entries_.find(key);
    if (it != entries_.end()) return it->second;
    if (entries_.size() >= cap_) {
      overflowUsed_ = true;
      return overflow_;
    }
    return entries_[key];
  }
  const std::map<std::string, TValue>& Entries() const { return entries_; }
  // The overflow entry; null when nothing went there.
  const TValue* Overflow() const { return overflowUsed_ ? &overflow_ : nullptr; }

 private:
  std::size_t cap_;
  std::map<std::string, TValue> entries_;
  TValue overflow_{};
  bool overflowUsed_ = false;
};

class TReportAccumulator {
 public:
  // The period the jobs were chosen by, for the report's words.
  TReportAccumulator(std::string since, std::string until, int window = kCalloutWindow);

  // One job of the period, oldest first, with the name of the station that ran it. A restore is
  // only counted as such: the yield is the download jobs'.
  void Add(const TJobSummary& job, const std::string& stationName);

  TReportData Result() const;

 private:
  struct TStation {
    TCounts counts;
    TStepSums steps{};
    std::deque<TSocketJob> last;  // the callout's window, newest last
  };
  struct TSocket {
    std::string station;
    std::int32_t slot = -1;
    std::string key;
    TCounts counts;
  };

  std::string since_;
  std::string until_;
  std::size_t window_;
  TCounts total_;
  std::int64_t restoreJobs_ = 0;
  std::int64_t totalElapsedMs_ = 0;
  TCappedTable<TCounts> days_{kMaxDays};
  TCappedTable<TStation> stations_{kMaxStations};
  TCappedTable<TSocket> sockets_{kMaxSockets};
  TCappedTable<std::int64_t> causes_{kMaxCauses};
  TCappedTable<TCounts> hours_{kMaxHours};
  TStepSums steps_{};
  // Jobs passed and failed per whole second of job time; the last entry: that long or longer.
  std::vector<std::array<std::int64_t, 2>> jobSeconds_;
};

}  // namespace vornex::report
