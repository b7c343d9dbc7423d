// The run driver: what both front-ends do around the console presenter, free of any toolkit.
// A front-end feeds it the confirmations of the coordinator and the workers (instead of handing
// them to the presenter itself) and calls Tick a few times a second; the driver then
//   - sends the first device check 600 ms after Begin;
//   - follows port changes (from its TPortWatch, or told by the front-end): a burst of changes
//     gives one device check a short settling time after its first change; a change while a
//     check runs gives one more check after it; changes while a download runs are not followed
//     (the devices' own resets), as the console refuses checks then;
//   - presses Start once the planned number of devices is listed, saying "Waiting for N more
//     devices (M found)..." while it waits, and gives up after the planned wait;
//   - tracks every job by its typed summary and knows when every started job has ended;
//   - turns an interrupt or termination request into the safe stop: every job ends at its next
//     safe point, and a run stopped before Start ends at once without touching any device;
//   - never gives up on a job after the stop, since one past its reset is putting an identity
//     back: whatever still runs kStopLimitMs after the stop is named once a minute (pacing
//     clock; slot letter and the step it last reported), and so is a thread that does not end
//     when the front-end stops the threads at the end;
//   - counts the outcome: expected, listed, started, passed, failed, never started, and the exit
//     status of console/exit_status.h;
//   - knows when the station records fell short: a job whose record or backup closing was not
//     kept (its account says so), or records deleted or replaced under the station (the station
//     core tells it). The run then ends saying so, with the status of unusable records.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console/exit_status.h"
#include "console/presenter.h"
#include "console/run_options.h"
#include "discovery/port_watch.h"
#include "records/job_summary.h"

namespace vornex {

// How often a front-end calls Tick (pacing clock).
constexpr std::uint32_t kDriverTickMs = 100;
// A burst of port changes is gathered this long after its first change (pacing clock).
constexpr std::uint32_t kPortSettleMs = 250;

struct TRunPlan {
  // Press Start once this many devices are listed; kStartAtFirstDevice: at the first check that
  // lists any; 0: never (the operator does).
  int autostart = 0;
  double waitSeconds = 0;  // give up when Start was not pressed after this long; 0: never
};
constexpr int kStartAtFirstDevice = -1;

struct TRunCounts {
  int expected = 0;
  int listed = 0;  // devices listed when Start was pressed
  int started = 0;
  int passed = 0;
  int failed = 0;
  int neverStarted = 0;    // expected or listed devices that no job flashed
  int recordsNotKept = 0;  // jobs whose record or backup closing the station could not keep
};

// What a front-end starts with.
struct TRunSetup {
  TStationSettings settings;  // with the image folder of the command line, if one was given
  std::string settingsPath;   // the settings file that Browse writes ImagePath into
  std::unique_ptr<TPortWatch> watch;
  TRunPlan plan;
  std::vector<std::string> warnings;  // to be said once at start
};

// Applies what holds for the whole process (time scale, where devices are found), loads the
// settings and makes the port watch and the plan of the run.
TRunSetup PrepareRun(const TRunOptions& options);

class TRunDriver {
 public:
  using TSay = std::function<void(const std::string& line)>;
  using TJobEnded = std::function<void(const TJobSummary& summary)>;

  TRunDriver(TConsolePresenter& console, TMdlThread& coordinator, TRunPlan plan,
             std::unique_ptr<TPortWatch> watch, TSay say);

  void OnJobEnded(TJobEnded callback) { jobEnded_ = std::move(callback); }

  // Arms the first device check and the wait limit.
  void Begin();
  // One confirmation: noted, handed to the console, then acted on.
  void Confirm(std::uint32_t code, TConfirmRecord record);
  // Due checks, port changes, the wait limit and stop requests.
  void Tick();
  // Ports came or went (gathered: see above).
  void PortsChanged();
  // The safe stop (also taken on an interrupt or termination request).
  void Stop();
  // The station records were deleted or replaced while the station ran (the store's words); the
  // first reason stays.
  void NoteRecordsLost(const std::string& why);
  // Stops the coordinator's thread, then the workers' from H back to A, each once its running
  // request has returned; a thread overdue is named once a minute, through `overdue` when given
  // (a window that has closed), else as every other line. The front-end calls it when the run is
  // over and before the coordinator goes, so that the threads end while the driver can still
  // say so.
  void StopThreads(const TSay& overdue = {});

  bool Pressed() const { return pressed_; }
  bool Stopping() const { return stopping_; }
  bool GaveUp() const { return gaveUp_; }
  // Every job the download answer started has given its account.
  bool Done() const;
  // Nothing more will happen: done, gave up, Start refused, or stopped before Start.
  bool Over() const;
  int CheckAnswers() const { return checkAnswers_; }
  bool JobStarted(int slot) const { return started_.at(static_cast<std::size_t>(slot)); }
  const std::optional<TJobSummary>& JobEnd(int slot) const {
    return ended_.at(static_cast<std::size_t>(slot));
  }

  TRunCounts Counts() const;
  // True when the records fell short: lost, or a part of a job's not kept.
  bool RecordsShort() const;
  // What the records lack, one line each: that they were lost, and each job's note on what of
  // its records was not kept, why and what to do; empty when nothing is missing.
  std::string RecordsText() const;
  // The exit status of the run (console/exit_status.h).
  int ExitStatus() const;
  // The closing lines for the operator, the records' shortfall last.
  std::string Report() const;
  // The mean job time and the slowest timed step of the run's jobs, on a line of their own;
  // empty when no job ran.
  std::string TimesText() const;
  // The last overdue notice, for a window's status ("" while nothing is overdue).
  const std::string& OverdueNotice() const { return overdue_; }

 private:
  // Coordinator (-1) and slots whose thread or job still runs.
  std::vector<int> StillRunning() const;
  // Says which of them still run, counting the minutes from `since`, through `say` when given.
  void SayOverdue(const std::vector<int>& running, pacing::TClock::time_point since,
                  const TSay& say = {});
  void RequestCheck();
  void AfterCheck(std::int32_t listed);

  TConsolePresenter& console_;
  TMdlThread& coordinator_;
  TRunPlan plan_;
  std::unique_ptr<TPortWatch> watch_;
  TSay say_;
  TJobEnded jobEnded_;

  std::optional<pacing::TClock::time_point> firstCheckAt_;
  std::optional<pacing::TClock::time_point> settleAt_;
  std::optional<std::chrono::steady_clock::time_point> giveUpAt_;
  std::optional<pacing::TClock::time_point> stoppedAt_;
  pacing::TClock::time_point nextOverdueAt_{};
  pacing::TClock::time_point nextPollAt_{};  // the port watch's next look
  std::string overdue_;
  std::string recordsLost_;  // why the records were lost; empty while they were not
  bool checkInFlight_ = false;
  bool recheckPending_ = false;
  int checkAnswers_ = 0;
  int lastWaitingCount_ = -1;

  bool pressed_ = false;
  bool refused_ = false;
  bool stopping_ = false;
  bool gaveUp_ = false;
  bool answered_ = false;
  TStartRefusal refusal_ = TStartRefusal::kNone;  // why Start was refused, if it was
  std::int32_t listedAtStart_ = 0;
  std::int32_t listedLast_ = 0;
  std::array<bool, kSlotCount> started_{};
  std::array<std::optional<TJobSummary>, kSlotCount> ended_{};
};

}  // namespace vornex
