// Unattended runs of the station window (demos, screenshots, factory scripts): saving a picture
// of the window in the middle of a run, and closing the window when every started job has ended
// (the run driver presses Start and tells when the jobs have ended). It watches the
// confirmations that the window handles.
#pragma once

#include <QString>
#include <QTimer>
#include <array>
#include <cstdint>

#include "console/qt/vornex_dlg.h"

namespace vornex {

struct TUnattendedOptions {
  QString screenshotFile;      // PNG of the window; empty: none
  int screenshotPercent = 50;  // taken when every started slot has reached this progress
  bool closeWhenDone = false;  // close the window once every started job has ended
};

class TUnattendedRun : public TConfirmObserver {
 public:
  // Registers itself as the window's observer.
  TUnattendedRun(CVornexDlg& window, TUnattendedOptions options);
  ~TUnattendedRun();

  void BeforeConfirm(std::uint32_t code, const TConfirmRecord& record) override;
  void AfterConfirm(std::uint32_t code) override;

  // True once the picture was saved.
  bool ScreenshotTaken() const { return screenshotTaken_; }

 private:
  void TakeScreenshot();

  CVornexDlg& window_;
  TUnattendedOptions options_;
  bool screenshotTaken_ = false;
  QTimer closeCheck_;
};

}  // namespace vornex
