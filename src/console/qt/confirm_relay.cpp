// The hand-over of confirmations to the window's thread.
#include "console/qt/confirm_relay.h"

#include <QMetaObject>
#include <QObject>
#include <memory>

namespace vornex {

CConfirmRelay::CConfirmRelay(QObject* receiver, THandler handler)
    : receiver_(receiver), handler_(std::move(handler)) {}

bool CConfirmRelay::PostConfirmation(std::uint32_t message, std::uint32_t code,
                                     TConfirmRecord record) {
  if (message != WM_DOWNLOAD_CNF) return false;
  std::lock_guard lock(mutex_);
  if (!open_) return false;
  // A queued call must be copyable: the record travels in a shared holder, and belongs to the
  // window once the call runs. A call that never runs releases it with the holder.
  auto holder = std::make_shared<TConfirmRecord>(std::move(record));
  return QMetaObject::invokeMethod(
      receiver_, [this, code, holder] { handler_(code, std::move(*holder)); },
      Qt::QueuedConnection);
}

void CConfirmRelay::Close() {
  std::lock_guard lock(mutex_);
  open_ = false;
}

}  // namespace vornex
