// The hand-off of confirmations from the station's threads to the Windows window's thread.
#pragma once

#include <windows.h>

#include <deque>
#include <mutex>
#include <optional>

#include "console/confirmation_queue.h"
#include "messaging/messages.h"

namespace vornex {

// The confirmations of the coordinator and the workers, queued for the window's thread. Each
// queued record is announced by one posted message; once closed, every post is refused.
class TWindowRelay : public TNotifyTarget {
 public:
  void Attach(HWND window) {
    std::lock_guard lock(mutex_);
    window_ = window;
  }

  bool PostConfirmation(std::uint32_t message, std::uint32_t code, TConfirmRecord record) override {
    std::lock_guard lock(mutex_);
    if (window_ == nullptr) return false;
    queue_.push_back(TConfirmation{code, std::move(record)});
    if (!::PostMessageW(window_, message, 0, 0)) {
      queue_.pop_back();
      return false;
    }
    return true;
  }

  std::optional<TConfirmation> Take() {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) return std::nullopt;
    TConfirmation next = std::move(queue_.front());
    queue_.pop_front();
    return next;
  }

  void Close() {
    std::lock_guard lock(mutex_);
    window_ = nullptr;
    queue_.clear();
  }

 private:
  std::mutex mutex_;
  HWND window_ = nullptr;
  std::deque<TConfirmation> queue_;
};

}  // namespace vornex
