// CVornexDlg, the station window: the slot panel wired to the console presenter, the coordinator
// with its eight workers (they live exactly as long as the window object), device-change
// notifications, the first device check 600 ms after initialisation, and the window-level
// behaviour: About (right-click menu or Alt+A), close confirmation while a slot is RUNNING,
// Escape, Space and F1 swallowed, dragging the window by its background, and Browse. At the start
// and at the end of every batch the window says what is left to do about the identity backups
// still open (log pane and a notice that does not hold up the run), and once more on standard
// error when the window has gone.
//
// Threads: confirmations arrive from the coordinator's and the workers' threads through the
// window's CConfirmRelay and are handled here, on the window's thread, one at a time. When the
// window object goes, the relay is closed first (later posts are refused and their records
// released), then the coordinator stops every thread; only then do the window's parts go.
// Closing while jobs run (once the operator has confirmed) first asks every job to stop at its
// next safe point and keeps the window open, saying "Finishing N jobs...", until they all have
// ended, so that no job is cut off while it puts an identity back; a job still running a minute
// after the stop is named in the title, and again every minute, until it ends. The
// flash image is shared by reference count (ImageData), so a worker still running while the
// window closes keeps its image alive; nothing has to be released by the window.
#pragma once

#include <QMessageBox>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "console/presenter.h"
#include "console/qt/confirm_relay.h"
#include "console/qt/slot_panel.h"
#include "console/run_driver.h"
#include "console/station_records.h"
#include "coordination/coordinator.h"
#include "foundation/settings.h"
#include "store/station_store.h"

namespace vornex {

// What the window is opened with: the run's setup (settings, port watch, plan, warnings; a
// window without a watch follows only the port changes it is told of), and its own parts.
struct TWindowSetup : TRunSetup {
  std::string dataFolder;   // station records; empty: as the settings say, else the default
  std::string closingMark;  // a file made while a close waits for jobs; empty: none
  TRestoreOptions restore;  // the run's options that "vornex restore" needs as well
};

// Sees every confirmation just before and just after the window handled it (unattended runs).
class TConfirmObserver {
 public:
  virtual void BeforeConfirm(std::uint32_t code, const TConfirmRecord& record) = 0;
  virtual void AfterConfirm(std::uint32_t code) = 0;

 protected:
  ~TConfirmObserver() = default;
};

// The window's title: the product text followed directly by "(D)".
QString WindowTitle();

// A chosen folder as the image path: native separators, one trailing separator removed (a root
// such as "/" stays whole, since it would otherwise become no path at all).
QString ImageFolderPath(const QString& chosen);

class CVornexDlg : public QWidget {
 public:
  using FolderChooser = std::function<QString(QWidget* parent)>;

  // Starts the coordinator and its workers, builds and lays out the panel, installs the
  // notification target and starts the run driver (first device check, port changes).
  explicit CVornexDlg(TWindowSetup setup);
  // Stops every thread before the window's parts go.
  ~CVornexDlg() override;

  TConsolePresenter& Presenter() { return *presenter_; }
  CSlotPanel& Panel() { return *panel_; }
  TMdlThread& Coordinator() { return *coordinator_; }
  TRunDriver& Driver() { return *driver_; }
  // Where the coordinator and workers post their confirmations.
  TNotifyTarget& NotifyTarget() { return *relay_; }
  // Device-check confirmations handled so far.
  int CheckAnswers() const { return driver_->CheckAnswers(); }
  // What the operator was told about the station records at start (empty: nothing to tell).
  const std::string& RecordsNotice() const { return recordsNotice_; }
  // What the operator was told at the end of the last batch (empty: nothing was left to do).
  const std::string& EndNotice() const { return endNotice_; }
  // True once a confirmed close waits for the running jobs to end.
  bool Finishing() const { return finishing_; }

  // The folder browser of Browse; the system's by default.
  void SetFolderChooser(FolderChooser chooser) { folderChooser_ = std::move(chooser); }
  void SetConfirmObserver(TConfirmObserver* observer) { observer_ = observer; }

  // Port arrivals and removals (gathered): asks for a device check when the station is idle.
  void OnPortsChanged() { driver_->PortsChanged(); }
  // The About box, modally.
  void ShowAbout();
  // Browse: password, folder choice, path display, settings file.
  void Browse();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void HandleConfirm(std::uint32_t code, TConfirmRecord record);
  // Asks every job to stop at its next safe point; true when the window must wait for jobs (it
  // then closes once none runs).
  bool BeginFinishing();
  // Shows how many jobs are still running and closes the window once none is.
  void UpdateFinishing();
  // At the end of a batch: what is left to do about the backups still open.
  void TellWhatIsLeft();

  std::string settingsPath_;
  std::string recordsNotice_;
  TRestoreOptions restoreOptions_;
  std::string endNotice_;
  QPointer<QMessageBox> endBox_;          // the last end-of-batch notice while it is open
  std::unique_ptr<TStationStore> store_;  // outlives the coordinator and its workers
  std::unique_ptr<CConfirmRelay> relay_;
  std::unique_ptr<TMdlThread> coordinator_;
  std::unique_ptr<CSlotPanel> panel_;
  std::unique_ptr<TConsolePresenter> presenter_;
  std::unique_ptr<TRunDriver> driver_;
  std::string closingMark_;
  QTimer tick_;
  QTimer finishTimer_;
  bool finishing_ = false;
  bool stopClosing_ = false;  // a stop from outside is closing the window
  FolderChooser folderChooser_;
  TConfirmObserver* observer_ = nullptr;
  bool dragging_ = false;
  QPoint dragOffset_;
};

}  // namespace vornex
