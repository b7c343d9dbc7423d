// The portable stand-in for an OS thread message queue. Like a thread queue, it exists only
// once its owning thread has started waiting on it: posts before that (and after the owner has
// left its loop) fail, which is what the queue-readiness probes of the log and worker threads
// look for. Messages move in by value, so whatever a message owns belongs to the receiver once
// the post succeeded and is released with the message when the post fails.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

#include "foundation/pacing.h"

namespace vornex {

template <class Message>
class TThreadQueue {
 public:
  // Called by the owning thread before it first waits: from now on posts are accepted.
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
  }

  // Called by the owning thread when it leaves its loop: later posts fail, queued messages
  // are released.
  void Close() {
    std::deque<Message> dropped;
    {
      std::lock_guard lock(mutex_);
      open_ = false;
      dropped.swap(messages_);
    }
  }

  // Appends a message; false when the queue does not exist (not opened yet, or closed).
  bool Post(Message message) {
    {
      std::lock_guard lock(mutex_);
      if (!open_) return false;
      messages_.push_back(std::move(message));
    }
    ready_.notify_one();
    return true;
  }

  // Takes the next message, waiting as long as needed.
  Message Take() {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [this] { return !messages_.empty(); });
    Message message = std::move(messages_.front());
    messages_.pop_front();
    return message;
  }

  // Takes the next message, waiting at most until the deadline; nothing when none came.
  std::optional<Message> TakeUntil(pacing::TClock::time_point deadline) {
    std::unique_lock lock(mutex_);
    if (!ready_.wait_until(lock, deadline, [this] { return !messages_.empty(); })) {
      return std::nullopt;
    }
    Message message = std::move(messages_.front());
    messages_.pop_front();
    return message;
  }

  bool IsOpen() const {
    std::lock_guard lock(mutex_);
    return open_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Message> messages_;
  bool open_ = false;
};

// Tells a stopping thread's owner when the thread body has returned, so that the owner can
// wait with a time limit (std::thread::join has none).
class TThreadExit {
 public:
  void MarkDone() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    cv_.notify_all();
  }

  // Waits up to the scaled limit; true when the thread body has returned.
  bool WaitFor(std::uint32_t limitMs) {
    const pacing::TDeadline deadline(limitMs);
    std::unique_lock lock(mutex_);
    return cv_.wait_until(lock, deadline.At(), [this] { return done_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
};

}  // namespace vornex
