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

std::int32_t TSdlThread::FindDeviceAgain(TWorkerJob& job) {
  std::array<TUsbGroup, kMaxGroups> groups{};
  std::uint8_t count = kMaxGroups;
  device_->SearchAllUSB(groups, count);
  for (int g = 0; g < count; ++g) {
    const TUsbGroup& group = groups[static_cast<std::size_t>(g)];
    if (group.portCount > 0 && EqualsNoCase(group.key, job.group.key)) {
      job.group = group;
      return 1;
    }
  }
  return 0;
}

}  // namespace vornex
