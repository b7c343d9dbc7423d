// Reset and re-discovery: the flashed device restarts into its new firmware, leaves the bus and
// comes back, possibly under new port numbers; it is found again by its group key.
#include "download/download_limits.h"
#include "download/worker.h"
#include "foundation/pacing.h"
#include "foundation/text.h"

namespace vornex {

std::uint8_t TSdlThread::ResetAndReopen(TWorkerJob& job) {
  TUsbGroup found{};
  std::uint8_t flags = 0;
  Report(935, "Reset Device:");
  device_->ResetDevice();
  pacing::Sleep(kAfterResetCommandMs);
  device_->ClosePorts();
  Report(940, "Waiting for reboot OK");
  pacing::Sleep(kRebootWaitMs);

  for (int search = 1; search <= kSearchTries; ++search) {
    if (FindDeviceAgain(job) == 1) found = job.group;
    if (found.portCount > 1) {
      Report(950, "find");
      break;
    }
    pacing::Sleep(kSearchAgainMs);
  }

  if (found.portCount >= 1) {
    flags = device_->ConnectUSB(found, kReconnectAfterResetMs);
    Report(970, "Reopen Device %s", flags != 0 ? "SUCCRESS" : "FAILED");
  } else {
    Report(975, "Can Not Find Device Again !");
  }
  return flags;
}

// The device is looked for by its key among all ports, not only among the first eight devices
// of a search: with a ninth device attached, a device back under higher COM numbers would
// otherwise never be found again.
std::int32_t TSdlThread::FindDeviceAgain(TWorkerJob& job) {
  TUsbGroup group;
  if (!device_->FindUSBGroup(job.group.key.str(), group)) return 0;
  job.group = group;
  return 1;
}

}  // namespace vornex
