// The push thread of the line records.
#include "line/line_push.h"

#include <algorithm>
#include <chrono>

#include "foundation/pacing.h"
#include "line/line_rows.h"
#include "line/line_schema.h"
#include "line/pg_connection.h"
#include "store/station_store.h"

namespace vornex::line {

TLinePusher::TLinePusher(TStationStore& store, std::string conninfo, std::string name,
                         TNotice notice)
    : store_(store),
      conninfo_(std::move(conninfo)),
      name_(std::move(name)),
      notice_(std::move(notice)) {
  std::string ignored;
  state_.waiting = store_.OutboxCount(&ignored);
  state_.problem = "not connected yet";
  thread_ = std::thread([this] { Run(); });
}

TLinePusher::~TLinePusher() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

TLineState TLinePusher::State() const {
  std::lock_guard lock(mutex_);
  return state_;
}

void TLinePusher::Nudge() {
  {
    std::lock_guard lock(mutex_);
    nudged_ = true;
  }
  wake_.notify_all();
}

bool TLinePusher::Drain(std::uint32_t limitMs) {
  const pacing::TDeadline deadline(limitMs);
  std::unique_lock lock(mutex_);
  for (;;) {
    // The state of an attempt that began after this call.
    const std::uint64_t from = passes_;
    nudged_ = true;
    wake_.notify_all();
    if (!wake_.wait_until(lock, deadline.At(), [&] { return stop_ || passes_ > from + 1; })) {
      return false;
    }
    if (stop_ || !state_.connected) return false;
    if (state_.waiting == 0) return true;
  }
}

bool TLinePusher::Wait(std::uint32_t ms) {
  std::unique_lock lock(mutex_);
  wake_.wait_for(lock, pacing::Scaled(ms), [this] { return stop_ || nudged_; });
  nudged_ = false;
  return !stop_;
}

void TLinePusher::SetState(bool connected, bool refused, const std::string& problem) {
  std::string text;
  {
    std::lock_guard lock(mutex_);
    const bool changed = state_.connected != connected || state_.refused != refused;
    if (changed && refused) {
      text = "Line records: " + problem +
             ": nothing is sent to it; the records stay on this station (update the station)";
    } else if (changed && !connected) {
      text = "Line records: the line cannot be reached (" + problem +
             "); records are kept on this station and sent when it is back";
    } else if (changed && connected && announced_) {
      text = "Line records: the line is back; " + std::to_string(state_.waiting) +
             " records waiting are being sent";
    }
    if (changed && !connected) announced_ = true;
    state_.connected = connected;
    state_.refused = refused;
    state_.problem = problem;
  }
  if (!text.empty() && notice_) notice_(text);
}

void TLinePusher::Run() {
  std::uint32_t retry = kPushRetryFirstMs;
  bool running = true;
  while (running) {
    const bool done = Attempt();
    {
      std::lock_guard lock(mutex_);
      ++passes_;
    }
    wake_.notify_all();
    if (done) {
      retry = kPushRetryFirstMs;
      std::int64_t waiting = 0;
      {
        std::lock_guard lock(mutex_);
        waiting = state_.waiting;
      }
      // A full outbox is sent batch after batch; an empty one is looked at again after a while.
      running = waiting > 0 ? Wait(0) : Wait(kPushIdleMs);
    } else {
      running = Wait(retry);
      retry = std::min(retry * 2, kPushRetryMostMs);
    }
  }
}

bool TLinePusher::Attempt() {
  std::string error;
  if (conn_ && conn_->Broken()) conn_.reset();
  if (!conn_) {
    conn_ = TPgConnection::Connect(conninfo_, &error);
    if (!conn_) {
      SetState(false, false, error);
      return false;
    }
    std::int64_t schema = 0;
    if (!CheckLineSchema(*conn_, &schema, &error)) {
      conn_.reset();
      SetState(false, schema > NewestLineSchema(), error);
      return false;
    }
    lastContact_ = pacing::TickCount() - kContactMs;  // the contact is noted at once
  }
  if (!SendBatch(&error)) {
    std::string ignored;
    if (conn_ && !conn_->Broken()) conn_->Run("ROLLBACK", &ignored);
    conn_.reset();
    SetState(false, false, error);
    return false;
  }
  SetState(true, false, "");
  return true;
}

bool TLinePusher::SendBatch(std::string* error) {
  const auto entries = store_.Outbox(kPushBatch, error);
  if (!entries) return false;
  // An empty batch is an empty outbox: the idle look reads the store once.
  const std::int64_t waiting = entries->empty() ? 0 : store_.OutboxCount(error);
  if (waiting < 0) return false;
  {
    std::lock_guard lock(mutex_);
    state_.waiting = waiting;
  }
  const std::uint32_t now = pacing::TickCount();
  const bool contactDue =
      std::chrono::milliseconds(now - lastContact_) >= pacing::Scaled(kContactMs);
  if (entries->empty() && !contactDue) return true;

  const std::string& station = store_.StationId();
  const std::int64_t left = waiting - static_cast<std::int64_t>(entries->size());
  if (!conn_->Run("BEGIN", error) || !PushStation(*conn_, station, name_, left, error)) {
    return false;
  }
  for (const TOutboxEntry& entry : *entries) {
    bool sent = false;
    if (entry.kind == TOutboxKind::kJob) {
      const auto job = store_.LoadJob(entry.localId, error);
      sent = job && PushJob(*conn_, station, *job, error);
    } else if (entry.kind == TOutboxKind::kBackup) {
      const auto backup = store_.LoadBackup(entry.localId, error);
      sent = backup && PushBackup(*conn_, station, *backup, error);
    } else {
      // A copy of another station's backup closes that backup on the line too.
      const auto closing = store_.LoadClosing(entry.localId, error);
      sent = closing &&
             PushClosing(*conn_, station, station, entry.localId, closing->closedAt, closing->how,
                         error) &&
             (closing->originStation.empty() ||
              PushClosing(*conn_, station, closing->originStation, closing->originId,
                          closing->closedAt, closing->how, error));
    }
    if (!sent) return false;
  }
  if (!conn_->Run("COMMIT", error)) return false;
  lastContact_ = now;
  if (entries->empty()) return true;
  // The line has them; should marking them fail (or the station stop here), they are sent again
  // and the line takes them once.
  std::string markError;
  const bool marked = store_.MarkSent(entries->back().seq, &markError);
  std::lock_guard lock(mutex_);
  if (marked) {
    state_.waiting =
        std::max<std::int64_t>(0, waiting - static_cast<std::int64_t>(entries->size()));
    state_.sent += static_cast<std::int64_t>(entries->size());
  }
  return true;
}

}  // namespace vornex::line
