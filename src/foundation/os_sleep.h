// The operating system's pause, behind the pacing clock (SleepFor's only caller), and the fine
// system timer that the coordinator holds while a batch of jobs runs.
#pragma once

#include <chrono>

namespace vornex::os {

// Pauses the calling thread for at least `length`, waking as close after it as the system
// allows: the station's paces are short (1 ms, 3 ms) and repeated thousands of times per image.
void SleepFor(std::chrono::steady_clock::duration length);

// Held while a batch of jobs runs: on a system whose pauses can only be made fine by raising the
// system-wide timer rate (Windows without high-resolution waitable timers), the rate is raised
// for the life of the object and restored after it. Elsewhere it does nothing. Objects may nest
// and may live on any thread.
class TFineTimerScope {
 public:
  TFineTimerScope();
  ~TFineTimerScope();

  TFineTimerScope(const TFineTimerScope&) = delete;
  TFineTimerScope& operator=(const TFineTimerScope&) = delete;

 private:
  [[maybe_unused]] bool raised_ = false;  // the system timer rate was raised (Windows only)
};

}  // namespace vornex::os
