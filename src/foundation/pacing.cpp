// The process-wide pacing clock.
#include "foundation/pacing.h"

#include <atomic>
#include <cmath>

#include "foundation/os_sleep.h"

namespace vornex::pacing {
namespace {
std::atomic<double> g_timeScale{1.0};
}  // namespace

void SetTimeScale(double scale) {
  if (std::isfinite(scale) && scale > 0.0) g_timeScale.store(scale);
}

double TimeScale() {
  return g_timeScale.load();
}

TClock::duration Scaled(std::uint32_t ms) {
  const std::chrono::duration<double, std::milli> scaled(static_cast<double>(ms) * TimeScale());
  return std::chrono::duration_cast<TClock::duration>(scaled);
}

void Sleep(std::uint32_t ms) {
  if (ms == 0) return;
  os::SleepFor(Scaled(ms));
}

std::uint32_t TickCount() {
  const auto since =
      std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now().time_since_epoch());
  return static_cast<std::uint32_t>(since.count());
}

int TDeadline::RemainingMs() const {
  const auto left = at_ - TClock::now();
  if (left <= TClock::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
}

}  // namespace vornex::pacing
