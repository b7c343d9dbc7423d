// The station core under every front-end, free of any toolkit: it owns the station records, the
// coordinator with its eight workers, the console presenter and the run driver, builds them in
// that order and takes them down in the reverse one (every thread stopped, each after its job
// has ended, before the coordinator goes; the records last). It holds the operator's actions and
// the window rules once: Start, Clear, the close that waits while jobs put identities back,
// Browse behind its password, the moment for an unattended run's picture, and what is left to do
// about the identity backups still open at the start and at the end of every batch.
//
// A front-end keeps only its widgets (the TConsoleView), the hand-off of confirmations from the
// station's threads to its own (the TNotifyTarget), its timer that calls Tick, and its dialogs.
// Every call comes on the front-end's thread.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "console/presenter.h"
#include "console/run_driver.h"
#include "console/station_records.h"
#include "coordination/coordinator.h"
#include "line/line_push.h"
#include "store/station_store.h"

namespace vornex {

// What the station is started with.
struct TStationSetup {
  TRunSetup run;            // settings, port watch (none: changes are told by the front-end), plan
  std::string dataFolder;   // station records; empty: as the settings say, else the default
  bool withRecords = true;  // false: no records at all (jobs then end before touching a device)
  TRestoreOptions restore;  // the run's options that "vornex restore" needs as well
  bool closeWhenDone = false;  // an unattended run: close once every started job has ended
  // An unattended run's picture of the window is due once every started slot has reached this
  // progress in percent (or the batch has ended); negative: no picture.
  int screenshotPercent = -1;
};

// The operator's answer to the password prompt of Browse, from every front-end's prompt. A prompt
// closed any other way, or one that could not be shown, counts as cancelled.
enum class TPasswordOutcome { kCancelled = 0, kAccepted = 1, kWrongPassword = 2 };

// True when the text is the Browse password, letter for letter.
bool IsBrowsePassword(const std::string& text);

// A chosen folder as the image path: one trailing separator removed; a root such as "/" stays
// whole, since it would otherwise become no path at all.
std::string ImageFolderPath(std::string chosen);

// What the front-end does after a close request or a tick.
enum class TCloseStep {
  kStay,   // nothing: the window stays (the operator said no, or nothing asks to close)
  kWait,   // the window stays until every job has ended; show FinishingTitle() meanwhile
  kClose,  // close the window now
};

class TStationCore {
 public:
  using TSay = TRunDriver::TSay;
  // A notice for the operator (never empty): the start notice when the run begins, and what is
  // left to do about the open backups at the end of every batch. The window writes it in its log
  // pane (debug mode) and shows it in a box that does not hold up the run unless `showBox` is
  // false (an unattended run, a closing window).
  using TNotice = std::function<void(const std::string& text, bool showBox)>;

  // Opens the records, starts the coordinator and its workers, sets up the presenter on `view`,
  // hands the confirmations to `target` and makes the run driver, whose lines go to `say`.
  TStationCore(TStationSetup setup, TConsoleView& view, TNotifyTarget& target, TSay say);
  // Shuts down, if the front-end did not.
  ~TStationCore();
  TStationCore(const TStationCore&) = delete;
  TStationCore& operator=(const TStationCore&) = delete;

  TConsolePresenter& Presenter() { return presenter_; }
  const TConsolePresenter& Presenter() const { return presenter_; }
  TRunDriver& Driver() { return driver_; }
  const TRunDriver& Driver() const { return driver_; }
  TMdlThread& Coordinator() { return *coordinator_; }
  TStationStore* Store() { return store_.get(); }
  const TStationSettings& Settings() const { return presenter_.Settings(); }
  bool CloseWhenDone() const { return closeWhenDone_; }

  // What the operator is told at the start: the run's warnings, then the records' state, one
  // line each (empty: nothing to tell).
  const std::string& StartNotice() const { return startNotice_; }
  // What the operator was told at the end of the last batch: what the records lack (the run
  // driver's RecordsText), then what is left to do about the open backups (empty: nothing).
  const std::string& EndNotice() const { return endNotice_; }
  // What is left to do about the backups still open, now (empty: nothing).
  std::string WhatIsLeftNow();
  // The line of stations the records are sent to; nullopt when none is set up.
  std::optional<line::TLineState> LineState() const;
  // The line as the title and the terminal's summary say it ("Line: connected" ...); empty when
  // no line is set up.
  std::string LineText() const;
  void OnNotice(TNotice callback) { notice_ = std::move(callback); }
  // The USB sockets of this station that fail more than its others over its last jobs (the
  // yield report's callout), one line each: "Socket C (key 1-1.3): 5 of 6 jobs failed in the
  // last 200, ...". Empty when none does, or without records; one read of the records.
  std::vector<std::string> SocketCallout();

  // Tells the start notice and arms the first device check and the wait limit (once the
  // front-end ticks).
  void Begin();
  // One confirmation, handed on by the front-end on its thread. True once, when the picture of
  // an unattended run is due after it.
  bool Confirm(std::uint32_t code, TConfirmRecord record);
  // Called by the front-end's timer every kDriverTickMs (pacing clock): due checks, port changes,
  // the stop from outside, the closing wait; kClose when the window is to close now.
  TCloseStep Tick();
  void PortsChanged() { driver_.PortsChanged(); }

  // The operator's buttons.
  void Start() { presenter_.Start(); }
  void Clear() { presenter_.Clear(); }
  // The window's close button: while any job runs or waits to start (whatever the slots show),
  // or a slot shows RUNNING, asks `confirmQuit` ("Downloading Devivce, Quit Now ?"); a confirmed
  // close asks every job to stop at its next safe point and waits until they have all ended, so
  // that no job is cut off while it puts an identity back.
  TCloseStep RequestClose(const std::function<bool()>& confirmQuit);
  // True once a confirmed close (or a stop from outside) waits for the running jobs to end.
  bool Finishing() const { return finishing_; }
  // The title's addition while finishing: "Finishing N jobs..." and the overdue notice.
  std::string FinishingText() const;
  // Everything the window's title adds to the product's name: the finishing text, then the
  // line's state, joined by " - " (empty: nothing).
  std::string TitleText() const;

  // Browse: the password prompt, then the folder chooser (empty: cancelled); the chosen folder
  // becomes the image path of this run and of the settings file. The text for the path display,
  // empty when nothing changed; `wrongPassword` is set when the front-end must say so.
  std::string Browse(const std::function<TPasswordOutcome()>& askPassword,
                     const std::function<std::string()>& chooseFolder, bool* wrongPassword);

  // Ends the run: stops the coordinator's thread and the workers', each after its running job
  // has returned (one overdue is named once a minute through `overdue`, else through the run's
  // Say), then the coordinator. Returns what is left to do about the open backups, for the
  // front-end's last word. Later calls return an empty text.
  std::string Shutdown(const TSay& overdue = {});

 private:
  bool Idle() const;
  // Asks every job to stop at its next safe point; true when the window must wait for jobs.
  bool BeginFinishing();
  void TellWhatIsLeft();
  // One step of the records' upkeep, between batches (at the start and after each batch, on
  // the ticks while no job runs, until nothing is left to do).
  void UpkeepStep();
  // The picture's moment has come (see screenshotPercent); true the first time only.
  bool ScreenshotDue();

  TRestoreOptions restore_;
  std::string settingsPath_;
  bool closeWhenDone_;
  int screenshotPercent_;
  std::string startNotice_;
  std::string endNotice_;
  std::unique_ptr<TStationStore> store_;  // outlives the coordinator and its workers
  std::mutex lineMutex_;
  std::vector<std::string> lineNotices_;  // guarded by lineMutex_
  TSay say_;  // says the line's changes, on the front-end's thread (Tick)
  // The push to the line, when one is set up: stops before the records close.
  std::unique_ptr<line::TLinePusher> line_;
  std::unique_ptr<TMdlThread> coordinator_;
  TConsolePresenter presenter_;
  TRunDriver driver_;
  TNotice notice_;
  bool finishing_ = false;
  bool stopClosing_ = false;  // a stop from outside is closing the window
  bool screenshotTaken_ = false;
  bool shutDown_ = false;
  // Backups one upkeep step may touch: a step is one short transaction on a tick.
  static constexpr int kUpkeepBackups = 32;
  TUpkeepRules upkeepRules_;
  bool upkeepDue_ = true;
};

}  // namespace vornex
