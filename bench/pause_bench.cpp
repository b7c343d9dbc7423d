// How long the image stream's 3 ms pause really lasts on this system: the pacing clock's pause,
// taken many times in a row the way the stream takes it (one per block), while a fine-timer scope
// is held as during a batch. Prints the mean, median, 99th percentile and longest pause.
//
//   pause_bench [--count N] [--ms M]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "foundation/os_sleep.h"
#include "foundation/pacing.h"

namespace {

double Ms(vornex::pacing::TClock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
  int count = 1000;
  std::uint32_t pauseMs = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--count") == 0) count = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--ms") == 0)
      pauseMs = static_cast<std::uint32_t>(std::atoi(argv[i + 1]));
  }

  const vornex::os::TFineTimerScope fineTimer;
  std::vector<double> lengths;
  lengths.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const auto start = vornex::pacing::TClock::now();
    vornex::pacing::Sleep(pauseMs);
    lengths.push_back(Ms(vornex::pacing::TClock::now() - start));
  }
  std::sort(lengths.begin(), lengths.end());
  double sum = 0;
  for (const double length : lengths) sum += length;
  const auto at = [&](double share) {
    return lengths[std::min(lengths.size() - 1, static_cast<std::size_t>(share * lengths.size()))];
  };
  std::printf(
      "pacing pause of %u ms, %d times: mean %.3f ms, median %.3f ms, p99 %.3f ms, "
      "longest %.3f ms\n",
      pauseMs, count, sum / count, at(0.5), at(0.99), lengths.back());
  return 0;
}
