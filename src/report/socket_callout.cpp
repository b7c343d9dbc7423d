// The socket callout: counts per socket against the rest of the window, and a binomial tail.
#include "report/socket_callout.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

namespace vornex::report {

double BinomialTail(std::int64_t n, std::int64_t k, double p) {
  if (k <= 0) return 1.0;
  if (k > n || p <= 0.0) return 0.0;
  if (p >= 1.0) return 1.0;
  // Term by term in logarithms: no factorial overflows whatever the window.
  const double logP = std::log(p);
  const double logQ = std::log1p(-p);
  double tail = 0.0;
  for (std::int64_t i = k; i <= n; ++i) {
    const double logTerm = std::lgamma(static_cast<double>(n) + 1) -
                           std::lgamma(static_cast<double>(i) + 1) -
                           std::lgamma(static_cast<double>(n - i) + 1) +
                           static_cast<double>(i) * logP + static_cast<double>(n - i) * logQ;
    tail += std::exp(logTerm);
  }
  return std::min(tail, 1.0);
}

std::vector<TSuspectSocket> FindSuspectSockets(const std::vector<TSocketJob>& jobs,
                                               const TCalloutRule& rule) {
  std::map<std::pair<std::int32_t, std::string>, std::pair<std::int64_t, std::int64_t>> sockets;
  std::int64_t allJobs = 0;
  std::int64_t allFailed = 0;
  for (const TSocketJob& job : jobs) {
    if (job.slot < 0) continue;
    auto& [count, failed] = sockets[{job.slot, job.key}];
    ++count;
    ++allJobs;
    if (!job.pass) {
      ++failed;
      ++allFailed;
    }
  }
  std::vector<TSuspectSocket> named;
  for (const auto& [where, counts] : sockets) {
    TSuspectSocket s{where.first,
                     where.second,
                     counts.first,
                     counts.second,
                     allJobs - counts.first,
                     allFailed - counts.second,
                     1.0};
    if (s.otherJobs == 0 || s.failed < rule.minFailures) continue;
    // failed / jobs >= factor * otherFailed / otherJobs, without dividing.
    if (static_cast<double>(s.failed) * static_cast<double>(s.otherJobs) <
        rule.rateFactor * static_cast<double>(s.otherFailed) * static_cast<double>(s.jobs)) {
      continue;
    }
    const double otherRate = static_cast<double>(s.otherFailed) / static_cast<double>(s.otherJobs);
    s.chance = BinomialTail(s.jobs, s.failed, std::max(otherRate, rule.rateFloor));
    if (s.chance < rule.chance) named.push_back(std::move(s));
  }
  return named;
}

std::string SlotLetter(std::int32_t slot) {
  return slot >= 0 && slot < 26 ? std::string(1, static_cast<char>('A' + slot)) : "-";
}

std::string CalloutText(const TSuspectSocket& socket, std::int64_t window) {
  std::string key = socket.key;
  for (char& c : key) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return "Socket " + SlotLetter(socket.slot) + " (key " + (key.empty() ? "unknown" : key) +
         "): " + std::to_string(socket.failed) + " of " + std::to_string(socket.jobs) +
         " jobs failed in the last " + std::to_string(window) + ", against " +
         std::to_string(socket.otherFailed) + " of " + std::to_string(socket.otherJobs) +
         " on the other sockets: check its cable and hub port before blaming devices.";
}

}  // namespace vornex::report
