// Unattended runs: autostart, mid-run screenshot, close when done.
#include "console/qt/unattended_run.h"

#include <algorithm>

#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <variant>

namespace vornex {

TUnattendedRun::TUnattendedRun(CVornexDlg& window, TUnattendedOptions options)
    : window_(window), options_(std::move(options)) {
  window_.SetConfirmObserver(this);
}

TUnattendedRun::~TUnattendedRun() {
  window_.SetConfirmObserver(nullptr);
}

void TUnattendedRun::BeforeConfirm(std::uint32_t code, const TConfirmRecord& record) {
  if (code == CNF_CHECK_DEVICE) {
    if (const auto* table = std::get_if<std::unique_ptr<TDeviceTable>>(&record); table && *table) {
      listed_ = (*table)->count;
    }
  } else if (code == CNF_DOWNLOAD_DEVICE) {
    if (const auto* answer = std::get_if<std::unique_ptr<TDownloadCnf>>(&record);
        answer && *answer) {
      for (int slot = 0; slot < kSlotCount; ++slot) {
        jobStarted_[static_cast<std::size_t>(slot)] =
            (*answer)->started[static_cast<std::size_t>(slot)] != 0;
      }
      answered_ = true;
    }
  } else if (code == CNF_JOB_SUMMARY) {
    if (const auto* summary = std::get_if<std::unique_ptr<TJobSummary>>(&record);
        summary && *summary && (*summary)->slot >= 0 && (*summary)->slot < kSlotCount) {
      jobEnded_[static_cast<std::size_t>((*summary)->slot)] = true;
    }
  }
}

bool TUnattendedRun::Done() const {
  if (!answered_) return false;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    const auto index = static_cast<std::size_t>(slot);
    if (jobStarted_[index] && !jobEnded_[index]) return false;
  }
  return true;
}

void TUnattendedRun::AfterConfirm(std::uint32_t code) {
  TConsolePresenter& console = window_.Presenter();
  if (code == CNF_CHECK_DEVICE && options_.autostart > 0 && !started_ &&
      listed_ >= options_.autostart && console.StartEnabled()) {
    started_ = true;
    window_.Panel().StartButton()->click();
    return;
  }
  if (code != CNF_SINGLE && code != CNF_DOWNLOAD_DEVICE && code != CNF_JOB_SUMMARY) return;

  if (!options_.screenshotFile.isEmpty() && !screenshotTaken_ && answered_) {
    bool anyRunning = false;
    bool allThere = true;
    for (int slot = 0; slot < kSlotCount; ++slot) {
      if (!jobStarted_[static_cast<std::size_t>(slot)]) continue;
      const TSlotView& view = console.Slot(slot);
      if (view.state == SlotState::kRunning) {
        anyRunning = true;
        if (view.progress < options_.screenshotPercent * 10) allThere = false;
      } else if (view.state != SlotState::kPass && view.state != SlotState::kFailed) {
        allThere = false;  // not started moving yet
      }
    }
    if ((anyRunning && allThere) || Done()) TakeScreenshot();
  }

  if (options_.closeWhenDone && !closing_ && Done()) {
    closing_ = true;
    QTimer::singleShot(0, &window_, [this] { window_.close(); });
  }
}

int TUnattendedRun::FailedSlots() const {
  int failed = 0;
  int started = 0;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    if (window_.Presenter().Slot(slot).state == SlotState::kFailed) ++failed;
    if (jobStarted_[static_cast<std::size_t>(slot)]) ++started;
  }
  // Devices the run was started for but that no job flashed (a refused image set) count too.
  return failed + std::max(0, options_.autostart - started - failed);
}

void TUnattendedRun::TakeScreenshot() {
  screenshotTaken_ = window_.grab().save(options_.screenshotFile, "PNG");
  if (!screenshotTaken_) options_.screenshotFile.clear();  // one attempt only
}

}  // namespace vornex
