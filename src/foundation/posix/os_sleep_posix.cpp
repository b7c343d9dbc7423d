// Pauses on Linux: an absolute monotonic deadline, and a timer slack of 1 ns for every thread
// that pauses (the default 50 us slack would add itself to each 3 ms pace of the image stream).
#include <sys/prctl.h>
#include <time.h>

#include <cerrno>

#include "foundation/os_sleep.h"

namespace vornex::os {

void SleepFor(std::chrono::steady_clock::duration length) {
  thread_local const bool tightSlack = ::prctl(PR_SET_TIMERSLACK, 1UL) == 0;
  static_cast<void>(tightSlack);

  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(length).count();
  timespec until{};
  const long long total = static_cast<long long>(now.tv_nsec) + ns;
  until.tv_sec = now.tv_sec + static_cast<time_t>(total / 1'000'000'000LL);
  until.tv_nsec = static_cast<long>(total % 1'000'000'000LL);
  while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}

// Linux timers are fine-grained already: nothing to raise.
TFineTimerScope::TFineTimerScope() = default;
TFineTimerScope::~TFineTimerScope() = default;

}  // namespace vornex::os
