// TBaseThread, the base of the coordinator and the eight device workers: one thread with one
// message queue that runs requests strictly one after another, for the whole life of the
// station. Requests arrive as TM_THREAD_REQUEST messages carrying a request type and a record;
// confirmations leave through the notification target that the front-end installs.
//
// Timing: WaitQueueReady bridges the short gap between thread start and queue creation
// (10 ms, then up to 125 probes 40 ms apart); Stop gives a thread 60000 ms to end after its quit
// message, which it takes only once a running request has returned. A thread still busy then is
// never abandoned: its request uses the object (a worker's device, its backup), so Stop calls
// the caller's overdue notice, again after every further 60000 ms, and goes on waiting. Requests
// end on their own, since every device operation has its own time limits; a worker asked to stop
// ends its job at the next safe point.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "foundation/thread_queue.h"
#include "messaging/messages.h"

namespace vornex {

constexpr std::uint32_t kQueueFirstWaitMs = 10;
constexpr int kQueueProbeAttempts = 125;
constexpr std::uint32_t kQueueProbePauseMs = 40;
constexpr std::uint32_t kStopLimitMs = 60000;
constexpr std::uint32_t kStopOverdueNoticeMs = 60000;
constexpr std::uint32_t kStopPostFailPauseMs = 500;

class TBaseThread {
 public:
  TBaseThread(const TBaseThread&) = delete;
  TBaseThread& operator=(const TBaseThread&) = delete;

  // Posts a thread message; true when the queue took it. A record of a failed post is released.
  bool PostThreadMessage(std::uint32_t message, std::uint32_t wParam = 0,
                         TRequestRecord record = {});
  // Posts TM_THREAD_REQUEST with a request type and its record; true when posted.
  bool PostRequest(std::uint32_t type, TRequestRecord record = {}) {
    return PostThreadMessage(TM_THREAD_REQUEST, type, std::move(record));
  }

  // True once the queue accepts messages; false when there is no thread or it never did.
  bool WaitQueueReady();

  // Ends the thread: TM_THREAD_QUIT, then waits for the thread to end. A thread not ended after
  // 60000 ms (500 ms when the quit could not be posted) is overdue: `overdue` is called on the
  // calling thread then and after every further 60000 ms, and the wait goes on. Returns 1 once
  // the thread has ended.
  int Stop(const std::function<void()>& overdue = {});

  // Sets where confirmations go (the console) and with which message number (WM_DOWNLOAD_CNF).
  // Called once, before the first request is posted.
  void SetNotify(TNotifyTarget* target, std::uint32_t message) {
    notifyTarget_ = target;
    notifyMessage_ = message;
  }

  // Id of the thread; 0 when there is none.
  std::uint32_t ThreadId() const { return threadId_; }

 protected:
  // Starts the thread and waits until its queue exists.
  TBaseThread();
  // Derived classes call Stop() in their own destructors, before their fields go away.
  ~TBaseThread();

  // Handles one request on the object's own thread. The base version does nothing.
  virtual void OnRequest(std::uint32_t type, TRequestRecord record);

  // Hands a confirmation to the notification target, if one is set; true when it was taken.
  bool Notify(std::uint32_t code, TConfirmRecord record);

 private:
  struct TMessage {
    std::uint32_t message = 0;
    std::uint32_t wParam = 0;
    TRequestRecord record;
  };
  // State the thread itself holds on to, so that an abandoned thread never reads freed memory
  // of its queue or exit signal.
  struct TShared {
    TThreadQueue<TMessage> queue;
    TThreadExit exit;
  };

  void RequestLoop(TShared& shared);

  std::uint32_t threadId_ = 0;
  std::thread thread_;
  std::shared_ptr<TShared> shared_;
  TNotifyTarget* notifyTarget_ = nullptr;
  std::uint32_t notifyMessage_ = 0;
};

}  // namespace vornex
