// The station core: construction order, the operator's actions and the window rules.
#include "console/station_core.h"

#include "console/window_texts.h"
#include "foundation/os_paths.h"
#include "foundation/settings.h"
#include "foundation/text.h"
#include "line/line_os.h"
#include "line/pg_connection.h"
#include "report/socket_callout.h"

namespace vornex {
namespace {

// The records of the run; `notice` gets the run's warnings, then what the operator is told
// about the records.
std::unique_ptr<TStationStore> OpenRecords(const TStationSetup& setup, std::string* notice) {
  std::vector<std::string> lines = setup.run.warnings;
  std::unique_ptr<TStationStore> store;
  if (setup.withRecords) {
    std::string records;
    store = OpenStationRecords(setup.dataFolder, setup.run.settings, &records);
    if (store) records = OpenBackupsNotice(*store, setup.restore);
    if (!records.empty()) lines.push_back(records);
  }
  const TStationSettings& settings = setup.run.settings;
  if (store && !settings.lineConnection.empty()) {
    const std::string fault =
        line::SettingsConnInfoFault(settings.lineConnection, settings.lineConnectionCut);
    if (!fault.empty()) lines.push_back("Line records: not sent: " + fault);
  }
  for (const std::string& line : lines) *notice += (notice->empty() ? "" : "\n") + line;
  return store;
}

// The push to the line, when the settings name one that may be used.
std::unique_ptr<line::TLinePusher> StartLine(TStationStore* store, const TStationSettings& settings,
                                             line::TLinePusher::TNotice notice) {
  if (store == nullptr || settings.lineConnection.empty() ||
      !line::SettingsConnInfoFault(settings.lineConnection, settings.lineConnectionCut).empty()) {
    return nullptr;
  }
  std::string name = settings.lineName.empty() ? line::HostName() : settings.lineName;
  if (name.empty()) name = store->StationId();
  return std::make_unique<line::TLinePusher>(*store, settings.lineConnection, std::move(name),
                                             std::move(notice));
}

}  // namespace

bool IsBrowsePassword(const std::string& text) {
  return text == window::kBrowsePassword;
}

std::string ImageFolderPath(std::string chosen) {
  if (chosen.size() > 1 && os::IsPathSeparator(chosen.back())) chosen.pop_back();
  return chosen;
}

TStationCore::TStationCore(TStationSetup setup, TConsoleView& view, TNotifyTarget& target, TSay say)
    : restore_(std::move(setup.restore)),
      settingsPath_(std::move(setup.run.settingsPath)),
      closeWhenDone_(setup.closeWhenDone),
      screenshotPercent_(setup.screenshotPercent),
      store_(OpenRecords(setup, &startNotice_)),
      say_(say),
      line_(StartLine(store_.get(), setup.run.settings,
                      [this](const std::string& text) {
                        std::lock_guard lock(lineMutex_);
                        lineNotices_.push_back(text);
                      })),
      coordinator_(std::make_unique<TMdlThread>()),
      presenter_(view, *coordinator_, setup.run.settings),
      driver_(presenter_, *coordinator_, setup.run.plan, std::move(setup.run.watch),
              std::move(say)) {
  coordinator_->SetRecordStore(store_.get(), setup.run.settings.verifyIdentity,
                               setup.run.settings.flashBlankDevices);
  upkeepRules_.keepValuesDays = setup.run.settings.keepBackupValuesDays;
  upkeepRules_.waitForLine = !setup.run.settings.lineConnection.empty();
  presenter_.OnBatchEnded([this] {
    // Records deleted or replaced under the batch took its jobs' records with them.
    if (std::string lost; store_ && !store_->FileIntact(&lost)) driver_.NoteRecordsLost(lost);
    TellWhatIsLeft();
    upkeepDue_ = true;
  });
  // From here on confirmations go to the front-end.
  coordinator_->SetNotifyAll(&target, WM_DOWNLOAD_CNF);
  presenter_.InitPanel();
}

TStationCore::~TStationCore() {
  Shutdown();
}

std::string TStationCore::WhatIsLeftNow() {
  // Records deleted or replaced under the station hold nothing a restore could find.
  return store_ && store_->FileIntact(nullptr) ? OpenBackupsNotice(*store_, restore_)
                                               : std::string();
}

std::optional<line::TLineState> TStationCore::LineState() const {
  if (!line_) return std::nullopt;
  return line_->State();
}

std::string TStationCore::LineText() const {
  const auto state = LineState();
  if (!state) return {};
  std::string text = state->connected ? "Line: connected"
                     : state->refused ? "Line: refused (newer line database)"
                                      : "Line: not connected";
  if (state->waiting != 0) text += ", " + std::to_string(state->waiting) + " records to send";
  return text;
}

std::vector<std::string> TStationCore::SocketCallout() {
  std::vector<std::string> lines;
  if (!store_) return lines;
  THistoryFilter last;
  last.limit = report::kCalloutWindow;
  std::string error;
  const auto jobs = store_->History(last, &error);
  if (!jobs) return lines;  // the end of a run says nothing more of records it cannot read
  std::vector<report::TSocketJob> window;
  for (const TJobSummary& job : *jobs) {
    if (job.kind == kJobKindFlash) window.push_back({job.slot, job.deviceKey, job.pass});
  }
  for (const report::TSuspectSocket& socket : report::FindSuspectSockets(window)) {
    lines.push_back(report::CalloutText(socket, static_cast<std::int64_t>(window.size())));
  }
  return lines;
}

void TStationCore::Begin() {
  if (!startNotice_.empty() && notice_) notice_(startNotice_, !closeWhenDone_);
  driver_.Begin();
}

bool TStationCore::Confirm(std::uint32_t code, TConfirmRecord record) {
  driver_.Confirm(code, std::move(record));
  if (code == CNF_JOB_SUMMARY && line_) line_->Nudge();
  const bool moves = code == CNF_SINGLE || code == CNF_DOWNLOAD_DEVICE || code == CNF_JOB_SUMMARY;
  return moves && ScreenshotDue();
}

bool TStationCore::Idle() const {
  return coordinator_->BusyWorkers() == 0 && coordinator_->IdleFlag() == 1;
}

TCloseStep TStationCore::Tick() {
  if (shutDown_) return TCloseStep::kStay;
  std::vector<std::string> lineNotices;
  {
    std::lock_guard lock(lineMutex_);
    lineNotices.swap(lineNotices_);
  }
  for (const std::string& text : lineNotices) {
    if (say_) say_(text);
  }
  driver_.Tick();
  if (upkeepDue_ && Idle() && !presenter_.AnySlotRunning()) UpkeepStep();
  // A stop from outside (an interrupt or termination request) closes the window safely.
  if (driver_.Stopping() && !finishing_ && !stopClosing_) {
    stopClosing_ = true;
    if (!BeginFinishing()) return TCloseStep::kClose;
  }
  if (finishing_) return Idle() ? TCloseStep::kClose : TCloseStep::kWait;
  if (closeWhenDone_ && driver_.Over()) return TCloseStep::kClose;
  return TCloseStep::kStay;
}

TCloseStep TStationCore::RequestClose(const std::function<bool()>& confirmQuit) {
  if (shutDown_) return TCloseStep::kClose;
  if (finishing_ || driver_.Stopping()) {
    // Closed once no job runs; until then a close only waits.
    if (Idle()) return TCloseStep::kClose;
    if (!finishing_) BeginFinishing();
    return TCloseStep::kWait;
  }
  // The coordinator, not the slots, knows whether a job runs: a slot shows FAILED as soon as a
  // failure is reported, while its job goes on, and nothing while jobs wait in the pause between
  // starts. A slot shown RUNNING asks too.
  if (coordinator_->JobsPending() || presenter_.AnySlotRunning()) {
    if (!confirmQuit()) return TCloseStep::kStay;
    if (BeginFinishing()) return TCloseStep::kWait;
  }
  // No job runs or waits (one that just ended may still be releasing its device: the
  // coordinator waits for it at the shutdown).
  return TCloseStep::kClose;
}

bool TStationCore::BeginFinishing() {
  driver_.Stop();
  if (Idle()) return false;
  finishing_ = true;  // the window stays until every job has reached a safe point and ended
  return true;
}

std::string TStationCore::FinishingText() const {
  if (!finishing_ || shutDown_) return {};
  std::string text = FormatBounded(64, window::kFinishingJobs, coordinator_->BusyWorkers());
  if (!driver_.OverdueNotice().empty()) text += " - " + driver_.OverdueNotice();
  return text;
}

std::string TStationCore::TitleText() const {
  std::string text = FinishingText();
  const std::string line = LineText();
  if (!line.empty()) text += (text.empty() ? "" : " - ") + line;
  return text;
}

void TStationCore::UpkeepStep() {
  std::string error;
  const auto step = store_ ? store_->Upkeep(upkeepRules_, kUpkeepBackups, &error) : std::nullopt;
  upkeepDue_ = step && step->more;
  // Upkeep only keeps the records small: a failure is said and left until the next batch. Records
  // deleted or replaced are lost, not merely large: the run ends saying so.
  if (std::string lost; !step && store_ && !store_->FileIntact(&lost)) {
    driver_.NoteRecordsLost(lost);
  } else if (!step && store_ && say_) {
    say_("Station records: not kept small: " + error);
  }
}

void TStationCore::TellWhatIsLeft() {
  // What the records lack comes first: it is what the operator has to see to.
  endNotice_ = driver_.RecordsText();
  if (const std::string left = WhatIsLeftNow(); !left.empty()) {
    endNotice_ += (endNotice_.empty() ? "" : "\n") + left;
  }
  if (endNotice_.empty() || !notice_) return;
  // An unattended run is not held up by a box nobody answers; a closing window says it as it
  // goes.
  const bool showBox = !(closeWhenDone_ || finishing_ || stopClosing_ || driver_.Stopping());
  notice_(endNotice_, showBox);
}

std::string TStationCore::Browse(const std::function<TPasswordOutcome()>& askPassword,
                                 const std::function<std::string()>& chooseFolder,
                                 bool* wrongPassword) {
  *wrongPassword = false;
  switch (askPassword()) {
    case TPasswordOutcome::kWrongPassword:
      *wrongPassword = true;
      return {};
    case TPasswordOutcome::kCancelled:
      return {};
    case TPasswordOutcome::kAccepted:
      break;
  }
  const std::string chosen = chooseFolder();
  if (chosen.empty() || shutDown_) return {};
  const std::string path = ImageFolderPath(chosen);
  presenter_.SetImagePath(path);
  // A failed write is not reported: the path still applies to this run.
  WriteImagePath(settingsPath_.empty() ? SettingsPath() : settingsPath_, path);
  return std::string(window::kImagePathPrefix) + path;
}

bool TStationCore::ScreenshotDue() {
  if (screenshotPercent_ < 0 || screenshotTaken_ || !driver_.Pressed()) return false;
  bool anyRunning = false;
  bool allThere = true;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    if (!driver_.JobStarted(slot)) continue;
    const TSlotView& view = presenter_.Slot(slot);
    if (view.state == SlotState::kRunning) {
      anyRunning = true;
      if (view.progress < screenshotPercent_ * 10) allThere = false;
    } else if (view.state != SlotState::kPass && view.state != SlotState::kFailed) {
      allThere = false;  // not started moving yet
    }
  }
  if (!((anyRunning && allThere) || driver_.Done())) return false;
  screenshotTaken_ = true;  // one attempt only
  return true;
}

std::string TStationCore::Shutdown(const TSay& overdue) {
  if (shutDown_) return {};
  shutDown_ = true;
  // The coordinator's thread and the workers' from H back to A stop, each after its running job
  // (if any) has returned; then the coordinator releases its search device.
  driver_.StopThreads(overdue);
  coordinator_.reset();
  // The line gets the batch's last records while it answers; what it does not get is sent at
  // the next start.
  if (line_) line_->Drain(line::kDrainMs);
  return WhatIsLeftNow();
}

}  // namespace vornex
