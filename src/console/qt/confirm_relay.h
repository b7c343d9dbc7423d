// The window's notification target: confirmations posted by the coordinator and the workers on
// their own threads are handed to the window's thread as queued calls, one at a time and in the
// order each thread posted them, where the window handles them. Once closed, the relay refuses
// every post (the record is released by the poster's side), so nothing reaches a window that is
// going away.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>

#include "messaging/messages.h"

class QObject;

namespace vornex {

class CConfirmRelay final : public TNotifyTarget {
 public:
  using THandler = std::function<void(std::uint32_t code, TConfirmRecord record)>;

  // Calls go to `handler` on the thread of `receiver`; the receiver must outlive the relay.
  CConfirmRelay(QObject* receiver, THandler handler);

  // Any thread. True when the confirmation was queued for the window's thread.
  bool PostConfirmation(std::uint32_t message, std::uint32_t code, TConfirmRecord record) override;

  // From now on every post is refused. Queued calls not yet run are dropped with the receiver.
  void Close();

 private:
  std::mutex mutex_;
  bool open_ = true;
  QObject* receiver_;
  THandler handler_;
};

}  // namespace vornex
