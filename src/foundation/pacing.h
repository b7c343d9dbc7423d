// The pacing clock: every fixed pause and every time limit of the station goes through it.
// A process-wide time scale (1.0 by default) stretches or shrinks them all, so tests and the
// simulated bench run fast while the product keeps its documented timing at scale 1. Nothing
// else in the station sleeps. Elapsed-time reports use TickCount(), the real monotonic clock in
// 32-bit milliseconds, which the time scale does not touch.
#pragma once

#include <chrono>
#include <cstdint>

namespace vornex::pacing {

using TClock = std::chrono::steady_clock;

// Sets the factor applied to every pause and limit; values <= 0 (or not a number) are ignored.
void SetTimeScale(double scale);
double TimeScale();

// The scaled length of a documented pause or limit of `ms` milliseconds.
TClock::duration Scaled(std::uint32_t ms);

// Pauses the calling thread for the scaled length of `ms` milliseconds.
void Sleep(std::uint32_t ms);

// Real monotonic milliseconds, wrapping at 2^32 like a tick count; differences of two ticks
// taken as unsigned 32-bit values give elapsed times.
std::uint32_t TickCount();

// A time limit that started now: TDeadline(5000) expires after the scaled 5000 ms.
class TDeadline {
 public:
  explicit TDeadline(std::uint32_t limitMs) : at_(TClock::now() + Scaled(limitMs)) {}

  bool Expired() const { return TClock::now() >= at_; }
  TClock::time_point At() const { return at_; }
  // Whole milliseconds left, rounded up, 0 once expired: the form poll() wants.
  int RemainingMs() const;

 private:
  TClock::time_point at_;
};

}  // namespace vornex::pacing
