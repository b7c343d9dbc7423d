// CVornexDlg, the station window on Qt: the slot panel as the station core's view, and the
// window-level behaviour: About (right-click menu or Alt+A), Escape, Space and F1 swallowed,
// dragging the window by its background, the dialogs of Browse and of a close while jobs run,
// the notices of what is left to do about the open identity backups (log pane and a box that
// does not hold up the run; on standard error once the window has gone), and an unattended run's
// picture and close. The rules behind them are the station core's (console/station_core.h).
//
// Threads: confirmations arrive from the coordinator's and the workers' threads through the
// window's CConfirmRelay and are handled here, on the window's thread, one at a time. When the
// window object goes, the relay is closed first (later posts are refused and their records
// released), then the core stops every thread; only then do the window's parts go. The flash
// image is shared by reference count (TImageData), so a worker still running while the window
// closes keeps its image alive; nothing has to be released by the window.
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

#include "console/qt/confirm_relay.h"
#include "console/qt/slot_panel.h"
#include "console/station_core.h"

namespace vornex {

// What the window is opened with: the station's setup (a window without a port watch follows
// only the port changes it is told of), and its own parts.
struct TWindowSetup {
  TStationSetup station;
  std::string closingMark;  // a file made while a close waits for jobs; empty: none
  std::string
      screenshotFile;  // an unattended run's picture (station.screenshotPercent); empty: none
};

// The window's title: the product text followed directly by "(D)".
QString WindowTitle();

class CVornexDlg : public QWidget {
 public:
  using TFolderChooser = std::function<QString(QWidget* parent)>;

  // Builds and lays out the panel and starts the station core on it (first device check, port
  // changes).
  explicit CVornexDlg(TWindowSetup setup);
  // Stops every thread before the window's parts go.
  ~CVornexDlg() override;

  TStationCore& Core() { return *core_; }
  TConsolePresenter& Presenter() { return core_->Presenter(); }
  CSlotPanel& Panel() { return *panel_; }
  TMdlThread& Coordinator() { return core_->Coordinator(); }
  TRunDriver& Driver() { return core_->Driver(); }
  // Where the coordinator and workers post their confirmations.
  TNotifyTarget& NotifyTarget() { return *relay_; }
  // Device-check confirmations handled so far.
  int CheckAnswers() const { return core_->Driver().CheckAnswers(); }
  // True once a confirmed close waits for the running jobs to end.
  bool Finishing() const { return core_->Finishing(); }

  // The folder browser of Browse; the system's by default.
  void SetFolderChooser(TFolderChooser chooser) { folderChooser_ = std::move(chooser); }

  // Port arrivals and removals (gathered): asks for a device check when the station is idle.
  void OnPortsChanged() { core_->PortsChanged(); }
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
  // Acts on the core's answer to a close request or a tick.
  void Follow(TCloseStep step);
  // Shows the core's title text after the product's name, when it changed.
  void ShowTitle();
  // A notice of the start or of a batch's end: log pane, and a box that does not hold up the run.
  void ShowNotice(const std::string& text, bool showBox);

  QPointer<QMessageBox> endBox_;  // the last notice's box while it is open
  std::unique_ptr<CConfirmRelay> relay_;
  std::unique_ptr<CSlotPanel> panel_;
  std::unique_ptr<TStationCore> core_;
  std::string closingMark_;
  QString screenshotFile_;
  QTimer tick_;
  bool closing_ = false;    // the core said to close: the close event accepts
  bool markMade_ = false;   // the closing mark was made (once, when the wait began)
  std::string shownTitle_;  // the title text shown
  TFolderChooser folderChooser_;
  bool dragging_ = false;
  QPoint dragOffset_;
};

}  // namespace vornex
