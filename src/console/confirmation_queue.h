// A notification target that queues the confirmations of the coordinator and the workers for
// the front-end's own thread, where they are handled one at a time in posting order, as window
// messages are.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>

#include "foundation/pacing.h"
#include "foundation/thread_queue.h"
#include "messaging/messages.h"

namespace vornex {

struct TConfirmation {
  std::uint32_t code = 0;
  TConfirmRecord record;
};

class TConfirmationQueue : public TNotifyTarget {
 public:
  TConfirmationQueue() { queue_.Open(); }
  ~TConfirmationQueue() { queue_.Close(); }

  bool PostConfirmation(std::uint32_t /*message*/, std::uint32_t code,
                        TConfirmRecord record) override {
    return queue_.Post(TConfirmation{code, std::move(record)});
  }
  // The next confirmation, waiting at most until the deadline.
  std::optional<TConfirmation> TakeUntil(pacing::TClock::time_point deadline) {
    return queue_.TakeUntil(deadline);
  }

 private:
  TThreadQueue<TConfirmation> queue_;
};

}  // namespace vornex
