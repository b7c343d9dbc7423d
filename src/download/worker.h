// TSdlThread, the device worker of one slot (A..H). It lives as long as the station and runs
// one download job at a time on its own thread, narrating every step to the console with
// Report. Between jobs its slot index is -1 and it reports nothing.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "coordination/thread_base.h"

namespace vornex {

class TSdlThread : public TBaseThread {
 public:
  TSdlThread();
  ~TSdlThread();

  // 1 while a job runs, else 0. Written by the worker's thread, read by the console's.
  std::int32_t BusyFlag() const { return busy_.load(std::memory_order_relaxed); }

  // Posts one CNF_SINGLE report: value 0..1000 is progress, -1 pass, -2 failure, -5 information,
  // -7 silent; any other value above 1000 is sent as that code. The text is formatted into at
  // most 511 units (longer text is cut). Nothing is posted between jobs.
  void Report(std::int32_t value, const char* format = nullptr, ...)
      __attribute__((format(printf, 3, 4)));

 protected:
  void OnRequest(std::uint32_t type, TRequestRecord record) override;

 private:
  void RunDownloadJob(std::unique_ptr<TWorkerJob> job);
  void EndJob(std::uint32_t startTick);

  std::atomic<std::int32_t> busy_{0};
  std::int32_t slot_ = -1;
  std::int32_t com_ = -1;
  std::array<std::uint32_t, 8> phaseWeights_{};
  std::array<std::uint32_t, 8> phaseBases_{};
  std::uint32_t weightTotal_ = 1;
  std::uint32_t jobStartTick_ = 0;
};

}  // namespace vornex
