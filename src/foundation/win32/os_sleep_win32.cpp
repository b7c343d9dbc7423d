// Pauses on Windows. Sleep() rounds every pause up to the system timer tick (15.6 ms by
// default), which would stretch each 3 ms pace of the image stream five-fold. A high-resolution
// waitable timer (Windows 10 1803 and later), one per pausing thread, wakes within a fraction of
// a millisecond without touching the system-wide rate. Where it does not exist, the pause falls
// back to Sleep(), made fine by TFineTimerScope raising the timer rate to 1 ms while a batch runs.
#include <windows.h>
// timeapi.h needs the types of windows.h first.
#include <timeapi.h>

#include <algorithm>
#include <cstdint>

#include "foundation/os_sleep.h"

namespace vornex::os {
namespace {

using TClock = std::chrono::steady_clock;

// CREATE_WAITABLE_TIMER_HIGH_RESOLUTION; older SDK headers do not name it.
constexpr DWORD kHighResolutionTimer = 0x00000002;

HANDLE CreateHighResolutionTimer() {
  return ::CreateWaitableTimerExW(nullptr, nullptr, kHighResolutionTimer, TIMER_ALL_ACCESS);
}

// One timer per pausing thread, closed when the thread ends.
class TThreadTimer {
 public:
  TThreadTimer() : handle_(CreateHighResolutionTimer()) {}
  ~TThreadTimer() {
    if (handle_ != nullptr) ::CloseHandle(handle_);
  }
  TThreadTimer(const TThreadTimer&) = delete;
  TThreadTimer& operator=(const TThreadTimer&) = delete;

  // Waits for `length` on the timer; false when the timer cannot be used.
  bool Wait(TClock::duration length) const {
    if (handle_ == nullptr) return false;
    // A negative due time is relative, in 100 ns units; rounded up so the wait is never short.
    const auto units =
        (std::chrono::duration_cast<std::chrono::nanoseconds>(length).count() + 99) / 100;
    LARGE_INTEGER due{};
    due.QuadPart = -std::max<long long>(units, 1);
    if (!::SetWaitableTimer(handle_, &due, 0, nullptr, nullptr, FALSE)) return false;
    return ::WaitForSingleObject(handle_, INFINITE) == WAIT_OBJECT_0;
  }

 private:
  HANDLE handle_;
};

bool HighResolutionTimerExists() {
  static const bool exists = [] {
    const HANDLE probe = CreateHighResolutionTimer();
    if (probe == nullptr) return false;
    ::CloseHandle(probe);
    return true;
  }();
  return exists;
}

}  // namespace

void SleepFor(TClock::duration length) {
  thread_local const TThreadTimer timer;
  // Either wait may end a little early (a timer tick boundary): wait again for what is left.
  const TClock::time_point until = TClock::now() + length;
  for (TClock::duration left = length; left > TClock::duration::zero();
       left = until - TClock::now()) {
    if (timer.Wait(left)) continue;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    ::Sleep(static_cast<DWORD>(std::clamp<long long>(ms, 1, INFINITE - 1)));
  }
}

TFineTimerScope::TFineTimerScope() {
  if (!HighResolutionTimerExists()) raised_ = ::timeBeginPeriod(1) == TIMERR_NOERROR;
}

TFineTimerScope::~TFineTimerScope() {
  if (raised_) ::timeEndPeriod(1);
}

}  // namespace vornex::os
