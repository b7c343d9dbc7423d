// TMdlThread, the coordinator between the console and the eight device workers. On its own
// thread it answers REQ_CHECK_DEVICE with the table of attached devices and turns
// REQ_DOWNLOAD_DEVICE into one job per selected device for the worker of its slot, 2000 ms
// apart. It does no device I/O itself: discovery goes through its search device (number 200,
// log "ROrUdi_200.txt"). The image set is built and checked on a download request and kept
// once one was accepted; a refused set starts no job.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "download/worker.h"
#include "messaging/image_set.h"
#include "messaging/thread_base.h"
#include "protocols/usb_device.h"

namespace vornex {

constexpr std::int32_t kSearchDeviceNumber = 200;
constexpr std::uint32_t kCheckSettleMs = 200;
constexpr std::uint32_t kJobStaggerMs = 2000;

class TMdlThread final : public TBaseThread {
 public:
  // Starts the coordinator thread, then the eight workers, then creates the search device.
  TMdlThread();
  // Asks every job to stop at its next safe point, stops the coordinator thread (so that no
  // request still uses the search device), releases the search device, then stops the workers
  // from H back to A, each once its job has ended.
  ~TMdlThread();

  // 1 while no request runs, else 0. Written by the coordinator thread, read by the console's.
  std::int32_t IdleFlag() const { return idle_.load(std::memory_order_relaxed); }

  TSdlThread& Worker(int slot) { return *workers_.at(static_cast<std::size_t>(slot)); }

  // Gives the coordinator and all eight workers their notification target.
  void SetNotifyAll(TNotifyTarget* target, std::uint32_t message);
  // Where every job commits its identity backup and its account, and whether restores are
  // verified by reading the identity back. Set before the first download request; the store
  // outlives the coordinator. Without a store, jobs end before touching their devices.
  // With flashBlankDevices, a device that answers a blank identity is backed up and flashed.
  void SetRecordStore(TStationStore* store, bool verifyIdentity, bool flashBlankDevices = false) {
    store_ = store;
    verifyIdentity_ = verifyIdentity;
    flashBlankDevices_ = flashBlankDevices;
  }
  // The station is closing: no further job is handed out and every worker ends its job at the
  // next safe point. Safe from any thread.
  void RequestStop();
  // Workers running a job now.
  int BusyWorkers() const;
  // Posts a request to the coordinator's thread as TBaseThread::PostRequest does (true when
  // posted); a download request counts in JobsPending from here until it is answered.
  bool PostRequest(std::uint32_t type, TRequestRecord record = {});
  // True while a job runs or waits to start: a worker runs one, or a download request waits for
  // this thread or is still handing out its jobs (the pause between starts included). A job is
  // in its worker's hands within the pause that follows its hand-out, before the answer.
  bool JobsPending() const { return downloadsUnanswered_.load() > 0 || BusyWorkers() > 0; }

 protected:
  void OnRequest(std::uint32_t type, TRequestRecord record) override;

 private:
  void CheckDevices();
  void DownloadDevices(std::unique_ptr<TDeviceTable> selection);

  std::atomic<std::int32_t> idle_{1};
  std::array<std::unique_ptr<TSdlThread>, kSlotCount> workers_;
  std::unique_ptr<TUsbDevice> searchDevice_;
  std::optional<TImageSet> imageSetCache_;  // the first accepted image set
  TStationStore* store_ = nullptr;
  bool verifyIdentity_ = true;
  bool flashBlankDevices_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<int> downloadsUnanswered_{0};  // posted download requests not answered yet
};

// One " com %d%s%s," per port of the group: COM number, "(modem)" for a modem port, "(busy)"
// for a port that could not be opened, "(no permission)" instead for one this user may not open.
std::string DescribeGroupPorts(const TUsbGroup& group);

}  // namespace vornex
