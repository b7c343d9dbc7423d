// The clock of a job's timed steps: each step begins when the worker says so and ends when the
// next one begins or the clock is told it ended. Times are pacing-clock ticks from the start of
// the job, kept in the job's summary.
#pragma once

#include <cstdint>
#include <optional>

#include "foundation/pacing.h"
#include "records/job_summary.h"

namespace vornex {

class TStepClock {
 public:
  TStepClock(TStepTimes& times, std::uint32_t startTick) : times_(times), startTick_(startTick) {}

  // Ends the running step, if any, and begins `step`.
  void Begin(TTimedStep step) {
    End();
    times_[static_cast<std::size_t>(step)] = TStepSpan{Now(), -1};
    running_ = step;
  }
  // Ends the running step, if any.
  void End() {
    if (!running_) return;
    times_[static_cast<std::size_t>(*running_)].endMs = Now();
    running_.reset();
  }

 private:
  std::int32_t Now() const {
    return static_cast<std::int32_t>((pacing::TickCount() - startTick_) & 0x7fffffffu);
  }

  TStepTimes& times_;
  std::uint32_t startTick_;
  std::optional<TTimedStep> running_;
};

// Begins a step and ends it when the scope is left, whatever way.
class TTimedScope {
 public:
  TTimedScope(TStepClock& clock, TTimedStep step) : clock_(clock) { clock_.Begin(step); }
  ~TTimedScope() { clock_.End(); }
  TTimedScope(const TTimedScope&) = delete;
  TTimedScope& operator=(const TTimedScope&) = delete;

 private:
  TStepClock& clock_;
};

}  // namespace vornex
