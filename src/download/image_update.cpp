// The image update: download mode, the programmer, then the flash image, in one step. What lay
// behind a failed download the device tells in its last text (the block, its address and the
// reply); that text becomes the job's cause. The failures it cannot tell have causes of their
// own.
#include "download/download_limits.h"
#include "download/download_texts.h"
#include "download/report_marks.h"
#include "download/reset_rediscovery.h"
#include "download/worker.h"
#include "foundation/pacing.h"

namespace vornex {
namespace {

// EnterDownloadMode's mode byte when the programmer already answers.
constexpr std::uint8_t kModeProgrammerRuns = 1;

namespace texts = download_text;

}  // namespace

std::int32_t TSdlThread::UpdateDeviceImage(const TWorkerJob& job) {
  TDeviceTextCatch told(*device_, &TSdlThread::OnLibProgress, this);
  // The device's last text about its failed download, else `untold`. A stopped stream has no
  // cause: the job ends as interrupted.
  const auto toldCause = [&](const char* untold) {
    if (!StopRequested()) Cause(told.Last().empty() ? std::string(untold) : told.Last());
  };

  Report(kReportInfo, texts::kUpdateBegin);
  std::uint8_t mode = 0;
  Report(kMarkEnterDownloadMode, texts::kEnterDownloadMode);
  TTimedScope timed(*clock_, TTimedStep::kDownloadMode);
  std::int32_t result = device_->EnterDownloadMode(mode);
  Report(kMarkDownloadModeResult, texts::kDownloadModeResult, result);
  // A device that could not be switched to download mode receives no image: the step fails
  // here rather than resetting the device and restoring it as if it had been flashed.
  if (result == 0) {
    Cause(texts::kNoDownloadMode);
    return 0;
  }
  // A programmer that already runs (a device stopped in the middle of its stream) takes the
  // image as it is.
  if (mode == kModeProgrammerRuns) {
    Report(kReportInfo, texts::kProgrammerRuns);
  } else {
    told.Clear();
    clock_->Begin(TTimedStep::kProgrammer);
    result = job.imageSet.programmer ? device_->DownloadHex(*job.imageSet.programmer) : 0;
    if (result == 0) {
      if (job.imageSet.programmer) {
        toldCause(texts::kProgrammerUntold);
      } else {
        Cause(texts::kNoProgrammer);
      }
      Report(kMarkProgrammerFailed, texts::kProgrammerFailed);
      return 0;
    }
    Report(kReportInfo, texts::kProgrammerDone, result);
  }
  Report(kReportSilent);

  // No image (none found, unreadable, or empty) is never streamed as if it were one.
  const TImageData& image = job.imageSet.imageData;
  const bool noImage = !image || image->empty();
  if (noImage || device_->DiagPort() == nullptr) {
    Cause(noImage ? texts::kNoImage : texts::kNoDiagPort);
    Report(kMarkImageResult, texts::kImageFailed);
    return 0;
  }
  told.Clear();
  clock_->Begin(TTimedStep::kImageStream);
  const std::int32_t streamed = device_->DownloadAllImage(*image);
  if (streamed == 0) {
    toldCause(texts::kImageUntold);
    Report(kMarkImageResult, texts::kImageFailed);
    return 0;
  }
  Report(kMarkImageResult, texts::kImageDone, streamed);
  pacing::Sleep(kAfterImageUpdateMs);
  Report(kMarkUpdateEnd, texts::kUpdateEnd);
  return 1;
}

}  // namespace vornex
