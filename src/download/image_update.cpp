// The image update: download mode, the programmer, then the flash image, in one step.
#include "download/download_limits.h"
#include "download/report_marks.h"
#include "download/worker.h"
#include "foundation/pacing.h"

namespace vornex {
namespace {
// EnterDownloadMode's mode byte when the programmer already answers.
constexpr std::uint8_t kModeProgrammerRuns = 1;
}  // namespace

std::int32_t TSdlThread::UpdateDeviceImage(const TWorkerJob& job) {
  Report(kReportInfo, "Update Device Image begin");
  std::uint8_t mode = 0;
  Report(kMarkEnterDownloadMode, "Enter Download Mode");
  std::int32_t result = device_->EnterDownloadMode(mode);
  Report(kMarkDownloadModeResult, "Enter Download Mode(%d)", result);
  // A device that could not be switched to download mode receives no image: the step fails
  // here rather than resetting the device and restoring it as if it had been flashed.
  if (result == 0) return 0;
  // A programmer that already runs (a device stopped in the middle of its stream) takes the
  // image as it is.
  if (mode == kModeProgrammerRuns) {
    Report(kReportInfo, "Programmer already running");
  } else {
    result = job.imageSet.programmer ? device_->DownloadHex(*job.imageSet.programmer) : 0;
    if (result == 0) {
      Report(kMarkProgrammerFailed, "Download Hex fail");
      return 0;
    }
    Report(kReportInfo, "Download Hex File(%d)", result);
  }
  Report(kReportSilent);

  // No image (none found, unreadable, or empty) is never streamed as if it were one.
  const ImageData& image = job.imageSet.imageData;
  if (device_->DiagPort() == nullptr || !image || image->empty()) {
    Report(kMarkImageResult, "Download All Image fail");
    return 0;
  }
  const std::int32_t streamed = device_->DownloadAllImage(*image);
  if (streamed == 0) {
    Report(kMarkImageResult, "Download All Image fail");
    return 0;
  }
  Report(kMarkImageResult, "Download All Image (%d)", streamed);
  pacing::Sleep(kAfterImageUpdateMs);
  Report(kMarkUpdateEnd, "Update Device Image end");
  return 1;
}

}  // namespace vornex
