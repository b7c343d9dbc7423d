// The worker-thread base: queue, request loop, readiness probe and stop.
#include "messaging/thread_base.h"

#include "foundation/pacing.h"

namespace vornex {
namespace {
std::atomic<std::uint32_t> g_nextThreadId{1};
}  // namespace

void MapReportValue(std::int32_t value, std::int32_t* code, std::int32_t* progress) {
  if (value >= 0 && value <= 1000) {
    *code = CNF_PROGRESS;
    *progress = value;
  } else {
    *code = value < 0 ? static_cast<std::int32_t>(-static_cast<std::int64_t>(value)) : value;
    *progress = 0;
  }
}

TBaseThread::TBaseThread() : shared_(std::make_shared<TShared>()) {
  threadId_ = g_nextThreadId.fetch_add(1);
  thread_ = std::thread([this, shared = shared_] {
    RequestLoop(*shared);
    shared->exit.MarkDone();
  });
  WaitQueueReady();
}

TBaseThread::~TBaseThread() {
  Stop();
}

void TBaseThread::RequestLoop(TShared& shared) {
  shared.queue.Open();
  for (;;) {
    TMessage message = shared.queue.Take();
    if (message.message == TM_THREAD_QUIT) break;
    if (message.message == TM_THREAD_REQUEST) OnRequest(message.wParam, std::move(message.record));
    // TM_THREAD_PING and unknown messages are dropped (with their records).
  }
  shared.queue.Close();
}

void TBaseThread::OnRequest(std::uint32_t /*type*/, TRequestRecord /*record*/) {}

bool TBaseThread::PostThreadMessage(std::uint32_t message, std::uint32_t wParam,
                                    TRequestRecord record) {
  if (threadId_ == 0 || !shared_) return false;
  return shared_->queue.Post(TMessage{message, wParam, std::move(record)});
}

bool TBaseThread::WaitQueueReady() {
  if (threadId_ == 0 || !thread_.joinable()) return false;
  pacing::Sleep(kQueueFirstWaitMs);
  for (int attempt = 0; attempt < kQueueProbeAttempts; ++attempt) {
    if (PostThreadMessage(TM_THREAD_PING)) return true;
    pacing::Sleep(kQueueProbePauseMs);
  }
  return false;
}

int TBaseThread::Stop(const std::function<void()>& overdue) {
  if (!thread_.joinable()) return 1;
  bool ended = false;
  bool posted = PostThreadMessage(TM_THREAD_QUIT);
  if (posted) {
    ended = shared_->exit.WaitFor(kStopLimitMs);
  } else {
    pacing::Sleep(kStopPostFailPauseMs);
    ended = shared_->exit.WaitFor(0);
  }
  while (!ended) {
    if (overdue) overdue();
    const pacing::TDeadline nextNotice(kStopOverdueNoticeMs);
    do {
      // A quit that could not be posted is offered again until the queue takes it.
      if (!posted) posted = PostThreadMessage(TM_THREAD_QUIT);
      ended = shared_->exit.WaitFor(kStopPostFailPauseMs);
    } while (!ended && !nextNotice.Expired());
  }
  thread_.join();
  threadId_ = 0;
  return 1;
}

bool TBaseThread::Notify(std::uint32_t code, TConfirmRecord record) {
  if (notifyTarget_ == nullptr || notifyMessage_ == 0) return false;
  return notifyTarget_->PostConfirmation(notifyMessage_, code, std::move(record));
}

}  // namespace vornex
