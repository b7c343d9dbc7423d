// The image update: download mode, the programmer, then the flash image, in one step. What lay
// behind a failed download the device tells in its last text (the block, its address and the
// reply); that text becomes the job's cause. The failures it cannot tell have causes of their
// own.
#include "download/download_limits.h"
#include "download/report_marks.h"
#include "download/reset_rediscovery.h"
#include "download/worker.h"
#include "foundation/pacing.h"

namespace vornex {
namespace {

// EnterDownloadMode's mode byte when the programmer already answers.
constexpr std::uint8_t kModeProgrammerRuns = 1;

// The causes that are not the device's own texts.
constexpr const char* kCauseNoDownloadMode = "the device did not switch into download mode";
constexpr const char* kCauseNoProgrammer = "the image set holds no programmer";
constexpr const char* kCauseProgrammerUntold = "the programmer download ended without a reason";
constexpr const char* kCauseNoImage = "the image set holds no flash image data";
constexpr const char* kCauseNoPort = "no diagnostic port is open to the programmer";
constexpr const char* kCauseImageUntold = "the image stream ended without a reason";

}  // namespace

std::int32_t TSdlThread::UpdateDeviceImage(const TWorkerJob& job) {
  TDeviceTextCatch told(*device_, &TSdlThread::OnLibProgress, this);
  // The device's last text about its failed download, else `untold`. A stopped stream has no
  // cause: the job ends as interrupted.
  const auto toldCause = [&](const char* untold) {
    if (!StopRequested()) Cause(told.Last().empty() ? std::string(untold) : told.Last());
  };

  Report(kReportInfo, "Update Device Image begin");
  std::uint8_t mode = 0;
  Report(kMarkEnterDownloadMode, "Enter Download Mode");
  std::int32_t result = device_->EnterDownloadMode(mode);
  Report(kMarkDownloadModeResult, "Enter Download Mode(%d)", result);
  // A device that could not be switched to download mode receives no image: the step fails
  // here rather than resetting the device and restoring it as if it had been flashed.
  if (result == 0) {
    Cause(kCauseNoDownloadMode);
    return 0;
  }
  // A programmer that already runs (a device stopped in the middle of its stream) takes the
  // image as it is.
  if (mode == kModeProgrammerRuns) {
    Report(kReportInfo, "Programmer already running");
  } else {
    told.Clear();
    result = job.imageSet.programmer ? device_->DownloadHex(*job.imageSet.programmer) : 0;
    if (result == 0) {
      if (job.imageSet.programmer) {
        toldCause(kCauseProgrammerUntold);
      } else {
        Cause(kCauseNoProgrammer);
      }
      Report(kMarkProgrammerFailed, "Download Hex fail");
      return 0;
    }
    Report(kReportInfo, "Download Hex File(%d)", result);
  }
  Report(kReportSilent);

  // No image (none found, unreadable, or empty) is never streamed as if it were one.
  const ImageData& image = job.imageSet.imageData;
  const bool noImage = !image || image->empty();
  if (noImage || device_->DiagPort() == nullptr) {
    Cause(noImage ? kCauseNoImage : kCauseNoPort);
    Report(kMarkImageResult, "Download All Image fail");
    return 0;
  }
  told.Clear();
  const std::int32_t streamed = device_->DownloadAllImage(*image);
  if (streamed == 0) {
    toldCause(kCauseImageUntold);
    Report(kMarkImageResult, "Download All Image fail");
    return 0;
  }
  Report(kMarkImageResult, "Download All Image (%d)", streamed);
  pacing::Sleep(kAfterImageUpdateMs);
  Report(kMarkUpdateEnd, "Update Device Image end");
  return 1;
}

}  // namespace vornex
