// Unattended runs of the station window (demos, screenshots, factory scripts): pressing Start
// once enough devices are listed, saving a picture of the window in the middle of a run, and
// closing the window when every started job has ended. It watches the confirmations that the
// window handles and acts through the window's own controls, as an operator would.
#pragma once

#include <QString>
#include <array>
#include <cstdint>

#include "console/qt/vornex_dlg.h"

namespace vornex {

struct TUnattendedOptions {
  int autostart = 0;           // press Start once this many devices are listed; 0: never
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

  // Slots showing FAILED now, plus the devices autostart waited for that no job flashed.
  int FailedSlots() const;
  // True once the picture was saved.
  bool ScreenshotTaken() const { return screenshotTaken_; }
  // True once the download answer arrived and every started job has ended.
  bool Done() const;

 private:
  void TakeScreenshot();

  CVornexDlg& window_;
  TUnattendedOptions options_;
  int listed_ = 0;
  bool started_ = false;
  bool answered_ = false;
  bool screenshotTaken_ = false;
  bool closing_ = false;
  std::array<bool, kSlotCount> jobStarted_{};
  std::array<bool, kSlotCount> jobEnded_{};
};

}  // namespace vornex
