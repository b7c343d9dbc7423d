// The push to the line: a thread of the station's own that sends what the station record
// store's outbox holds to the line database, oldest first, a batch per transaction, and takes
// it out of the outbox only after the server committed it. While the server is away it waits
// longer after each failed attempt (up to half a minute); nothing on the flashing path waits for
// it, and nothing is lost: a record stays in the outbox until the line has it, and the line takes
// a record sent twice once.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace vornex {
class TStationStore;
}

namespace vornex::line {

class TPgConnection;

// Pauses and limits of the push, before scaling.
constexpr std::uint32_t kPushIdleMs = 500;          // looks at the outbox this often when idle
constexpr std::uint32_t kPushRetryFirstMs = 1'000;  // the first wait after a failure
constexpr std::uint32_t kPushRetryMostMs = 30'000;  // the longest wait
constexpr std::uint32_t kContactMs = 30'000;        // notes the station's contact this often
constexpr int kPushBatch = 32;                      // records per transaction
constexpr std::uint32_t kDrainMs = 5'000;           // what a closing station gives the push

// The line as the station shows it.
struct TLineState {
  bool connected = false;    // the last attempt reached the server and its schema is known
  bool refused = false;      // the server's schema is newer than this station's: nothing sent
  std::int64_t waiting = 0;  // records the line has not received yet; -1 when unknown
  std::int64_t sent = 0;     // records sent since the start
  std::string problem;       // why not connected (empty when connected)
};

class TLinePusher {
 public:
  // Called from the push thread with a text for the operator when the line goes down, refuses
  // the station or comes back; once for each change.
  using TNotice = std::function<void(const std::string& text)>;

  // Starts the thread. `conninfo` is a libpq connection string (already checked to hold no
  // password); `name` the station's name on the line.
  TLinePusher(TStationStore& store, std::string conninfo, std::string name, TNotice notice);
  // Stops the thread; a push under way ends at its statement limit at the latest, and what it
  // did not commit stays in the outbox.
  ~TLinePusher();
  TLinePusher(const TLinePusher&) = delete;
  TLinePusher& operator=(const TLinePusher&) = delete;

  TLineState State() const;
  // Looks at the outbox now instead of at the next idle tick (a job has just ended).
  void Nudge();
  // Sends what waits while the line answers, for at most the scaled `limitMs` (the station is
  // closing). True when the line has every record.
  bool Drain(std::uint32_t limitMs);

 private:
  void Run();
  // One attempt: connects when needed, then sends one batch. True when the outbox is empty
  // afterwards or a batch was committed; false after a failure (the caller waits).
  bool Attempt();
  bool SendBatch(std::string* error);
  void SetState(bool connected, bool refused, const std::string& problem);
  // Waits the scaled `ms` or until stopped or nudged; false once stopped.
  bool Wait(std::uint32_t ms);

  TStationStore& store_;
  const std::string conninfo_;
  const std::string name_;
  const TNotice notice_;
  std::unique_ptr<TPgConnection> conn_;  // the push thread's
  std::uint32_t lastContact_ = 0;        // tick of the last contact noted
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;         // guarded by mutex_
  bool nudged_ = false;       // guarded by mutex_
  std::uint64_t passes_ = 0;  // attempts made, guarded by mutex_
  TLineState state_;          // guarded by mutex_
  bool announced_ = false;    // a state was told (the first "connected" is told only after trouble)
  std::thread thread_;
};

}  // namespace vornex::line
