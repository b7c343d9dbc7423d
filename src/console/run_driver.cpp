// The run driver of both front-ends.
#include "console/run_driver.h"

#include <algorithm>
#include <filesystem>
#include <variant>

#include "console/system_check.h"
#include "discovery/port_enumeration.h"
#include "foundation/stop_signal.h"
#include "foundation/text.h"
#include "report/report_data.h"

namespace vornex {

namespace {

// The port watch is asked at most once in this many times the time its last look took.
constexpr int kPollCostShare = 10;

// A job's reported step in one line of at most 80 characters.
std::string StepText(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  if (text.size() > 80) text = text.substr(0, 77) + "...";
  return text;
}

}  // namespace

TRunSetup PrepareRun(const TRunOptions& options) {
  TRunSetup setup;
  // The process-wide settings of a run are set here and nowhere else: the pacing clock's time
  // scale, and the discovery backend whose enumerations fill the COM resolver.
  pacing::SetTimeScale(options.timeScale);
  std::string note;
  if (!options.bench.empty()) {
    UseBenchDiscovery(options.bench);
    setup.watch = MakeBenchWatch(options.bench);
  } else {
    UseSystemDiscovery();
    setup.watch = MakeSystemPortWatch(&note);
    if (std::string system = StartupWarnings(); !system.empty()) setup.warnings.push_back(system);
  }
  if (!note.empty()) setup.warnings.push_back(note);

  setup.settingsPath = options.settingsPath.empty() ? SettingsPath() : options.settingsPath;
  setup.settings = LoadSettings(setup.settingsPath);
  if (!options.imageFolder.empty()) {
    setup.settings.autoPath = false;
    setup.settings.imagePath = options.imageFolder;
    setup.settings.imagePathCut = false;
  } else if (!setup.settings.autoPath) {
    std::error_code ec;
    if (setup.settings.imagePathCut) {
      setup.warnings.push_back("ImagePath of " + setup.settingsPath +
                               " is longer than 259 characters: Start is refused until it is "
                               "shorter.");
    } else if (!std::filesystem::is_directory(setup.settings.imagePath, ec)) {
      setup.warnings.push_back("The image folder of " + setup.settingsPath + " does not exist: \"" +
                               setup.settings.imagePath + "\".");
    }
  }

  setup.plan.autostart = options.autostart;
  if (options.frontEnd == TFrontEnd::kHeadless && options.autostart == 0) {
    setup.plan.autostart = kStartAtFirstDevice;
  }
  setup.plan.waitSeconds = options.waitSeconds;
  return setup;
}

TRunDriver::TRunDriver(TConsolePresenter& console, TMdlThread& coordinator, TRunPlan plan,
                       std::unique_ptr<TPortWatch> watch, TSay say)
    : console_(console),
      coordinator_(coordinator),
      plan_(plan),
      watch_(std::move(watch)),
      say_(std::move(say)) {}

void TRunDriver::Begin() {
  firstCheckAt_ = pacing::TClock::now() + pacing::Scaled(kFirstCheckMs);
  if (plan_.waitSeconds > 0) {
    // The operator's patience, in real seconds whatever the time scale.
    giveUpAt_ = std::chrono::steady_clock::now() +
                std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                    std::chrono::duration<double>(plan_.waitSeconds));
  }
}

void TRunDriver::RequestCheck() {
  if (console_.SendCheckRequest()) {
    checkInFlight_ = true;
    return;
  }
  // A change during a device check may have come after its enumeration: check once more when
  // it has answered. Changes during a download (the devices' own resets) are not followed up.
  if (checkInFlight_) recheckPending_ = true;
}

void TRunDriver::PortsChanged() {
  if (firstCheckAt_) return;  // the first check is still to come and sees the change
  if (!settleAt_) settleAt_ = pacing::TClock::now() + pacing::Scaled(kPortSettleMs);
}

void TRunDriver::Tick() {
  if (StopSignalled() && !stopping_) Stop();
  const auto now = pacing::TClock::now();
  if (firstCheckAt_ && now >= *firstCheckAt_) {
    firstCheckAt_.reset();
    RequestCheck();
  }
  // A front-end may call Tick after every confirmation: the watch, which looks at every port
  // record, is asked once per tick period however many confirmations come, and a watch slow to
  // look (a folder of thousands of records) less often, so that looking never takes more than a
  // share of the front-end's thread, whatever the time scale.
  if (watch_ && now >= nextPollAt_) {
    const bool changed = watch_->Poll();
    const auto looked = pacing::TClock::now();
    nextPollAt_ = looked + std::max(pacing::Scaled(kDriverTickMs), (looked - now) * kPollCostShare);
    if (changed) PortsChanged();
  }
  if (settleAt_ && now >= *settleAt_) {
    settleAt_.reset();
    RequestCheck();
  }
  if (stoppedAt_ && now >= nextOverdueAt_) {
    nextOverdueAt_ = now + pacing::Scaled(kStopOverdueNoticeMs);
    SayOverdue(StillRunning(), *stoppedAt_);
  }
  if (giveUpAt_ && !pressed_ && !stopping_ && !gaveUp_ &&
      std::chrono::steady_clock::now() >= *giveUpAt_) {
    gaveUp_ = true;
    const int wanted = plan_.autostart > 0 ? plan_.autostart : 1;
    say_(FormatBounded(511,
                       "Gave up waiting after %g s: %d of %d device(s) found. No device was "
                       "touched.",
                       plan_.waitSeconds, static_cast<int>(listedLast_), wanted));
  }
}

void TRunDriver::Stop() {
  if (stopping_) return;
  stopping_ = true;
  stoppedAt_ = pacing::TClock::now();
  nextOverdueAt_ = *stoppedAt_ + pacing::Scaled(kStopLimitMs);
  // Jobs started by the operator's Start stop at their safe points too, not only those of an
  // unattended run.
  if (!pressed_ && !coordinator_.JobsPending()) return;
  coordinator_.RequestStop();
  say_("Stopping: every job ends at its next safe point...");
}

void TRunDriver::NoteRecordsLost(const std::string& why) {
  if (recordsLost_.empty()) recordsLost_ = why;
}

void TRunDriver::StopThreads(const TSay& overdue) {
  const auto since = stoppedAt_.value_or(pacing::TClock::now());
  coordinator_.RequestStop();
  coordinator_.Stop([&] { SayOverdue({-1}, since, overdue); });
  for (int slot = kSlotCount - 1; slot >= 0; --slot) {
    coordinator_.Worker(slot).Stop([&] { SayOverdue({slot}, since, overdue); });
  }
}

std::vector<int> TRunDriver::StillRunning() const {
  std::vector<int> running;
  if (coordinator_.IdleFlag() == 0) running.push_back(-1);
  for (int slot = 0; slot < kSlotCount; ++slot) {
    const auto index = static_cast<std::size_t>(slot);
    if ((started_[index] && !ended_[index]) || coordinator_.Worker(slot).BusyFlag() != 0) {
      running.push_back(slot);
    }
  }
  return running;
}

void TRunDriver::SayOverdue(const std::vector<int>& running, pacing::TClock::time_point since,
                            const TSay& say) {
  if (running.empty()) {
    overdue_.clear();
    return;
  }
  const auto minutes = std::max<long long>(
      1, (pacing::TClock::now() - since) / pacing::Scaled(kStopOverdueNoticeMs));
  std::string what;
  for (const int slot : running) {
    if (!what.empty()) what += ", ";
    if (slot < 0) {
      what += "the device search";
      continue;
    }
    what += FormatBounded(16, "job %c", 'A' + slot);
    const std::string step = StepText(console_.Slot(slot).lastText);
    if (!step.empty()) what += " (" + step + ")";
  }
  overdue_ =
      FormatBounded(1023, "Still running %lld min after the stop: %s.", minutes, what.c_str());
  const std::string line = overdue_ + (running.size() == 1 ? " The station waits for it to end."
                                                           : " The station waits for them to end.");
  (say ? say : say_)(line);
}

void TRunDriver::Confirm(std::uint32_t code, TConfirmRecord record) {
  std::int32_t listed = 0;
  if (auto* table = std::get_if<std::unique_ptr<TDeviceTable>>(&record); table && *table) {
    listed = (*table)->count;
  }
  if (auto* answer = std::get_if<std::unique_ptr<TDownloadCnf>>(&record); answer && *answer) {
    for (int slot = 0; slot < kSlotCount; ++slot) {
      const auto index = static_cast<std::size_t>(slot);
      started_[index] = (*answer)->started[index] != 0;
    }
    answered_ = true;
    refusal_ = (*answer)->refusalKind;
  }
  if (auto* summary = std::get_if<std::unique_ptr<TJobSummary>>(&record);
      summary && *summary && (*summary)->slot >= 0 && (*summary)->slot < kSlotCount) {
    ended_[static_cast<std::size_t>((*summary)->slot)] = **summary;
    if (jobEnded_) jobEnded_(**summary);
  }
  console_.OnConfirm(code, std::move(record));
  if (code == CNF_CHECK_DEVICE) AfterCheck(listed);
}

void TRunDriver::AfterCheck(std::int32_t listed) {
  ++checkAnswers_;
  listedLast_ = listed;
  checkInFlight_ = false;
  if (recheckPending_) {
    recheckPending_ = false;
    PortsChanged();
  }
  if (pressed_ || stopping_ || gaveUp_ || plan_.autostart == 0) return;
  const bool enough = plan_.autostart > 0 ? listed >= plan_.autostart : listed > 0;
  if (enough && console_.StartEnabled()) {
    pressed_ = true;
    listedAtStart_ = listed;
    if (!console_.Start()) {
      refused_ = true;
      say_("Start was refused: no device was touched.");
    }
    return;
  }
  if (listed == lastWaitingCount_) return;
  lastWaitingCount_ = listed;
  if (plan_.autostart > 0) {
    say_(FormatBounded(511, "Waiting for %d more device(s) (%d found)...",
                       plan_.autostart - static_cast<int>(listed), static_cast<int>(listed)));
  } else {
    say_("Waiting for a device...");
  }
}

bool TRunDriver::Done() const {
  if (!answered_) return false;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    const auto index = static_cast<std::size_t>(slot);
    if (started_[index] && !ended_[index]) return false;
  }
  return true;
}

bool TRunDriver::Over() const {
  return gaveUp_ || refused_ || (stopping_ && !pressed_) || Done();
}

TRunCounts TRunDriver::Counts() const {
  TRunCounts counts;
  counts.expected = std::max(plan_.autostart, 0);
  counts.listed = listedAtStart_;
  int unstarted = 0;  // selected and listed, but no job ran for it
  for (int slot = 0; slot < kSlotCount; ++slot) {
    const auto& end = ended_[static_cast<std::size_t>(slot)];
    if (end) {
      ++counts.started;
      (end->pass ? counts.passed : counts.failed) += 1;
      if (end->notKept.Any()) ++counts.recordsNotKept;
    } else if (console_.Slot(slot).state == SlotState::kFailed) {
      ++unstarted;
    }
  }
  // Expected or listed devices that no job flashed (no slot for them, a refused image set).
  const int missing = std::max(counts.expected, counts.listed) - counts.started;
  counts.neverStarted = std::max({0, missing, unstarted});
  return counts;
}

bool TRunDriver::RecordsShort() const {
  return !recordsLost_.empty() || Counts().recordsNotKept > 0;
}

std::string TRunDriver::RecordsText() const {
  std::string jobs;
  bool jobSaysLost = false;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    const auto& end = ended_[static_cast<std::size_t>(slot)];
    if (!end || !end->notKept.Any()) continue;
    jobSaysLost = jobSaysLost || end->notKept.lost;
    jobs += FormatBounded(16, "\nJob %c: ", 'A' + slot) + end->notKept.note;
  }
  // The jobs' own notes say it when the loss took a part of theirs.
  std::string text = recordsLost_.empty() || jobSaysLost
                         ? std::string()
                         : "\nStation records lost: " + recordsLost_ + ".";
  text += jobs;
  return text.empty() ? text : text.substr(1);
}

int TRunDriver::ExitStatus() const {
  const TRunCounts counts = Counts();
  return exit_status::OfRun(RecordsShort(), gaveUp_, refusal_, pressed_,
                            counts.failed + counts.neverStarted);
}

std::string TRunDriver::Report() const {
  const std::string records = RecordsText();
  if (gaveUp_) return records;  // the rest was said when it happened
  if (!pressed_) {
    return "Stopped before Start: no device was touched." + (records.empty() ? "" : "\n" + records);
  }
  const TRunCounts c = Counts();
  std::string report =
      FormatBounded(511,
                    "Devices: %d expected, %d listed, %d started, %d passed, %d failed, %d never "
                    "started.\n",
                    c.expected, c.listed, c.started, c.passed, c.failed, c.neverStarted);
  report +=
      c.failed + c.neverStarted == 0
          ? std::string("All devices passed.")
          : FormatBounded(128, "%d device(s) FAILED or never started.", c.failed + c.neverStarted);
  report += TimesText();
  return records.empty() ? report : report + "\n" + records;
}

std::string TRunDriver::TimesText() const {
  report::TStepSums steps{};
  double jobMs = 0;
  int jobs = 0;
  for (const auto& end : ended_) {
    if (!end) continue;
    jobMs += end->elapsedMs;
    ++jobs;
    report::AddSteps(steps, end->times);
  }
  if (jobs == 0) return {};
  std::string text = FormatBounded(128, "\nMean job time %.1fs", jobMs / jobs / 1000.0);
  const std::size_t slowest = report::SlowestStep(steps);
  if (slowest < kTimedStepCount) {
    text += FormatBounded(128, "; slowest step: %s (mean %.1fs)", kTimedStepTitles[slowest],
                          steps[slowest].MeanSeconds());
  }
  return text + ".";
}

}  // namespace vornex
