// The coordinator: device checks and the hand-out of download jobs.
#include "coordination/coordinator.h"

#include "foundation/pacing.h"

namespace vornex {

constexpr std::uint32_t kCheckSettleMs = 200;

TMdlThread::TMdlThread() {
  for (auto& worker : workers_) worker = std::make_unique<TSdlThread>();
}

TMdlThread::~TMdlThread() {
  for (auto it = workers_.rbegin(); it != workers_.rend(); ++it) (*it)->Stop();
  Stop();
}

void TMdlThread::SetNotifyAll(TNotifyTarget* target, std::uint32_t message) {
  SetNotify(target, message);
  for (auto& worker : workers_) worker->SetNotify(target, message);
}

void TMdlThread::OnRequest(std::uint32_t type, TRequestRecord record) {
  if (type == REQ_CHECK_DEVICE) {
    idle_.store(0, std::memory_order_relaxed);
    CheckDevices();
    idle_.store(1, std::memory_order_relaxed);
  } else if (type == REQ_DOWNLOAD_DEVICE) {
    auto* selection = std::get_if<std::unique_ptr<TDeviceTable>>(&record);
    idle_.store(0, std::memory_order_relaxed);
    DownloadDevices(selection != nullptr ? std::move(*selection) : nullptr);
    idle_.store(1, std::memory_order_relaxed);
  }
}

void TMdlThread::CheckDevices() {
  const std::uint32_t startTick = pacing::TickCount();
  auto result = std::make_unique<TDeviceTable>();
  pacing::Sleep(kCheckSettleMs);
  result->count = 0;
  result->elapsed = pacing::TickCount() - startTick;
  Notify(CNF_CHECK_DEVICE, std::move(result));
}

void TMdlThread::DownloadDevices(std::unique_ptr<TDeviceTable> selection) {
  if (!selection) return;
  const std::uint32_t startTick = pacing::TickCount();
  auto answer = std::make_unique<TDownloadCnf>();
  answer->message = "\r\n";
  answer->elapsed = pacing::TickCount() - startTick;
  Notify(CNF_DOWNLOAD_DEVICE, std::move(answer));
}

}  // namespace vornex
