// The local wall-clock time from the system clock and the time-zone rules.
#include "foundation/local_time.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "foundation/os_local_time.h"

namespace vornex {

TLocalTime LocalTimeNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  if (ms < 0) ms += 1000;
  std::tm local{};
  // A time the system cannot convert (never the present one) leaves the fields at zero.
  os::ToLocalCalendar(seconds, &local);
  return TLocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,       local.tm_hour,
                    local.tm_min,         local.tm_sec,     static_cast<int>(ms)};
}

std::string LocalTimeText(const TLocalTime& t) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.millisecond);
  return buffer;
}

}  // namespace vornex
