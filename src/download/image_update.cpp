// The image update: download mode, the programmer, then the flash image, in one step.
#include "download/download_limits.h"
#include "download/worker.h"
#include "foundation/pacing.h"

namespace vornex {

std::int32_t TSdlThread::UpdateDeviceImage(const TWorkerJob& job) {
  Report(-5, "Update Device Image begin");
  std::uint8_t mode = 0;
  Report(91, "Enter Download Mode");
  std::int32_t result = device_->EnterDownloadMode(mode);
  Report(95, "Enter Download Mode(%d)", result);
  // A device that could not be switched to download mode receives no image: the step fails
  // here rather than resetting the device and restoring it as if it had been flashed.
  if (result == 0) return 0;

  result = device_->DownloadHex(job.imageSet.programmerFile.str());
  if (result == 0) {
    Report(100, "Download Hex fail");
    return 0;
  }
  Report(-5, "Download Hex File(%d)", result);
  Report(-7);

  // No image (none found, unreadable, or empty) is never streamed as if it were one.
  const ImageData& image = job.imageSet.imageData;
  if (device_->DiagPort() == nullptr || !image || image->empty()) {
    Report(915, "Download All Image fail");
    return 0;
  }
  const std::int32_t streamed = device_->DownloadAllImage(*image);
  if (streamed == 0) {
    Report(915, "Download All Image fail");
    return 0;
  }
  Report(915, "Download All Image (%d)", streamed);
  pacing::Sleep(kAfterImageUpdateMs);
  Report(918, "Update Device Image end");
  return 1;
}

}  // namespace vornex
