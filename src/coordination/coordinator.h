// TMdlThread, the coordinator between the console and the eight device workers. On its own
// thread it answers REQ_CHECK_DEVICE with the table of attached devices and turns
// REQ_DOWNLOAD_DEVICE into one job per selected device for the worker of its slot.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "coordination/thread_base.h"
#include "download/worker.h"

namespace vornex {

class TMdlThread : public TBaseThread {
 public:
  // Starts the coordinator thread, then the eight workers.
  TMdlThread();
  // Stops the workers from H back to A, then the coordinator thread.
  ~TMdlThread();

  // 1 while no request runs, else 0. Written by the coordinator thread, read by the console's.
  std::int32_t IdleFlag() const { return idle_.load(std::memory_order_relaxed); }

  TSdlThread& Worker(int slot) { return *workers_.at(static_cast<std::size_t>(slot)); }

  // Gives the coordinator and all eight workers their notification target.
  void SetNotifyAll(TNotifyTarget* target, std::uint32_t message);

 protected:
  void OnRequest(std::uint32_t type, TRequestRecord record) override;

 private:
  void CheckDevices();
  void DownloadDevices(std::unique_ptr<TDeviceTable> selection);

  std::atomic<std::int32_t> idle_{1};
  std::array<std::unique_ptr<TSdlThread>, kSlotCount> workers_;
};

}  // namespace vornex
