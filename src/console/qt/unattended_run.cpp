// Unattended runs: mid-run screenshot, close when done.
#include "console/qt/unattended_run.h"

#include <QPixmap>
#include <QTimer>

namespace vornex {

TUnattendedRun::TUnattendedRun(CVornexDlg& window, TUnattendedOptions options)
    : window_(window), options_(std::move(options)) {
  window_.SetConfirmObserver(this);
  if (options_.closeWhenDone) {
    // The run may also end between confirmations (it gave up waiting for devices).
    closeCheck_.setInterval(100);
    QObject::connect(&closeCheck_, &QTimer::timeout, &window_, [this] {
      if (!window_.Driver().Over()) return;
      closeCheck_.stop();
      window_.close();
    });
    closeCheck_.start();
  }
}

TUnattendedRun::~TUnattendedRun() {
  window_.SetConfirmObserver(nullptr);
}

void TUnattendedRun::BeforeConfirm(std::uint32_t /*code*/, const TConfirmRecord& /*record*/) {}

void TUnattendedRun::AfterConfirm(std::uint32_t code) {
  if (code != CNF_SINGLE && code != CNF_DOWNLOAD_DEVICE && code != CNF_JOB_SUMMARY) return;
  const TRunDriver& driver = window_.Driver();
  const TConsolePresenter& console = window_.Presenter();

  if (!options_.screenshotFile.isEmpty() && !screenshotTaken_ && driver.Pressed()) {
    bool anyRunning = false;
    bool allThere = true;
    for (int slot = 0; slot < kSlotCount; ++slot) {
      if (!driver.JobStarted(slot)) continue;
      const TSlotView& view = console.Slot(slot);
      if (view.state == SlotState::kRunning) {
        anyRunning = true;
        if (view.progress < options_.screenshotPercent * 10) allThere = false;
      } else if (view.state != SlotState::kPass && view.state != SlotState::kFailed) {
        allThere = false;  // not started moving yet
      }
    }
    if ((anyRunning && allThere) || driver.Done()) TakeScreenshot();
  }
}

void TUnattendedRun::TakeScreenshot() {
  screenshotTaken_ = window_.grab().save(options_.screenshotFile, "PNG");
  if (!screenshotTaken_) options_.screenshotFile.clear();  // one attempt only
}

}  // namespace vornex
