// A notification target for tests: collects the confirmations of the coordinator and workers
// and lets the test wait for them. And the records of confirmations that a test posts itself.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "foundation/text.h"
#include "messaging/messages.h"

namespace vornex::testing {

struct Confirmation {
  std::uint32_t message = 0;
  std::uint32_t code = 0;
  TConfirmRecord record;
};

class ConfirmationSink : public TNotifyTarget {
 public:
  // Runs on the posting thread, before the record is queued (to look at the poster's state).
  std::function<void(std::uint32_t code)> onPost;

  bool PostConfirmation(std::uint32_t message, std::uint32_t code, TConfirmRecord record) override {
    if (onPost) onPost(code);
    {
      std::lock_guard lock(mutex_);
      items_.push_back(Confirmation{message, code, std::move(record)});
    }
    cv_.notify_all();
    return true;
  }

  // Waits (real time, generous) until at least n confirmations arrived; true if they did.
  bool WaitFor(std::size_t n, std::chrono::seconds limit = std::chrono::seconds(20)) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, limit, [&] { return items_.size() >= n; });
  }

  std::vector<Confirmation> Take() {
    std::vector<Confirmation> taken;
    std::lock_guard lock(mutex_);
    taken.swap(items_);
    return taken;
  }

  std::size_t Count() {
    std::lock_guard lock(mutex_);
    return items_.size();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<Confirmation> items_;
};

// A check result listing these devices, "A [ COM 5 ]" and on, that took `elapsed` ms.
inline std::unique_ptr<TDeviceTable> CheckTable(const std::vector<TDeviceEntry>& entries,
                                                std::uint32_t elapsed = 0) {
  auto table = std::make_unique<TDeviceTable>();
  table->count = static_cast<std::int32_t>(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    table->entries[i] = entries[i];
    table->descriptions[i] =
        FormatBounded(127, "%c [ COM %d ] \r\n", char('A' + i), entries[i].com);
  }
  table->elapsed = elapsed;
  return table;
}

// One worker's report.
inline std::unique_ptr<TSingleCnf> SingleReport(int slot, std::int32_t code, std::int32_t progress,
                                                const char* text = "", std::uint32_t elapsed = 0) {
  auto report = std::make_unique<TSingleCnf>();
  report->slot = slot;
  report->code = code;
  report->progress = progress;
  report->text = text;
  report->elapsed = elapsed;
  return report;
}

}  // namespace vornex::testing
