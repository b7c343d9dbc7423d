// The callout of a USB socket that fails more than its station's other sockets: over the
// station's last jobs, a socket (slot and device key) is named when it has failed often enough,
// at least twice as often as the station's other sockets, and more often than chance would
// explain at the others' rate. A bad cable or hub port fails every device put into it; a bad
// batch of devices fails on every socket alike.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vornex::report {

// The window the callout looks at: the station's last jobs.
constexpr int kCalloutWindow = 200;

// One job of the window: where it ran and how it ended.
struct TSocketJob {
  std::int32_t slot = -1;  // 0 = A; a job without a slot is left out
  std::string key;         // the device key: the USB socket's path
  bool pass = false;
};

struct TCalloutRule {
  std::int64_t minFailures = 3;  // a socket with fewer failures is never named
  double rateFactor = 2.0;       // its failure rate at least this times the others'
  double rateFloor = 0.01;       // the others' rate taken as at least this
  double chance = 0.01;          // named when its failures are less likely than this
};

// A socket named by the callout, with the counts behind it.
struct TSuspectSocket {
  std::int32_t slot = -1;
  std::string key;
  std::int64_t jobs = 0;
  std::int64_t failed = 0;
  std::int64_t otherJobs = 0;  // on the station's other sockets, in the same window
  std::int64_t otherFailed = 0;
  double chance = 1.0;  // of that many failures or more at the others' rate (with its floor)
};

// The sockets the rule names among the jobs (in any order; the caller gives the window), in
// the order of their slots and keys. None when the jobs ran on one socket only.
std::vector<TSuspectSocket> FindSuspectSockets(const std::vector<TSocketJob>& jobs,
                                               const TCalloutRule& rule = {});

// The probability of `k` or more successes in `n` trials of probability `p`.
double BinomialTail(std::int64_t n, std::int64_t k, double p);

// The operator's line: "Socket C (key 1-1.3): 5 of 6 jobs failed in the last 200, against 3 of
// 194 on the other sockets: check its cable and hub port before blaming devices." `window`:
// the jobs looked at. One line whatever the key holds.
std::string CalloutText(const TSuspectSocket& socket, std::int64_t window);

// The slot's letter, "-" when there is none.
std::string SlotLetter(std::int32_t slot);

}  // namespace vornex::report
