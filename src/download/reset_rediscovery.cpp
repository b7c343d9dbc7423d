// Reset and re-discovery: the flashed device restarts into its new firmware, leaves the bus and
// comes back, possibly under new port numbers; it is found again by its group key. And the
// last word to a device: its diagnostic interface switched off.
#include "download/reset_rediscovery.h"

#include "download/download_limits.h"
#include "download/report_marks.h"
#include "foundation/pacing.h"
#include "foundation/text.h"
#include "protocols/connection_flags.h"

namespace vornex {

std::uint8_t ResetAndReopen(TUsbDevice& device, TUsbGroup& group, TStepReporter& reporter,
                            bool* found) {
  TUsbGroup last{};
  std::uint8_t flags = 0;
  Say(reporter, kMarkResetSent, "Reset Device:");
  device.ResetDevice();
  pacing::Sleep(kAfterResetCommandMs);
  device.ClosePorts();
  Say(reporter, kMarkRebootWaited, "Waiting for reboot OK");
  pacing::Sleep(kRebootWaitMs);

  for (int search = 1; search <= kSearchTries; ++search) {
    if (FindDeviceAgain(device, group) == 1) last = group;
    if (last.portCount > 1) {
      Say(reporter, kMarkDeviceFound, "find");
      break;
    }
    pacing::Sleep(kSearchAgainMs);
  }

  *found = last.portCount >= 1;
  if (*found) {
    // The ports open the ttys of the entries just found, whatever the old ones were.
    flags = device.ConnectUSB(last, kReconnectAfterResetMs);
    Say(reporter, kMarkReopened, "Reopen Device %s", flags != 0 ? "SUCCRESS" : "FAILED");
  } else {
    Say(reporter, kMarkNotFoundAgain, "Can Not Find Device Again !");
  }
  return flags;
}

// The device is looked for by its key among all ports, not only among the first eight devices
// of a search: with a ninth device attached, a device back under higher COM numbers would
// otherwise never be found again.
std::int32_t FindDeviceAgain(TUsbDevice& device, TUsbGroup& group) {
  TUsbGroup again;
  if (!device.FindUSBGroup(group.key.str(), again)) return 0;
  group = again;
  return 1;
}

std::int32_t SwitchDiagOff(TUsbDevice& device, const TUsbGroup& group, TStepReporter& reporter) {
  // A port still held by this object would refuse the new opener: start from closed ports.
  device.ClosePorts();
  const std::uint8_t flags = device.ConnectUSB(group, kConnectOpenMs);
  Say(reporter, kReportInfo, "Reopen MODEM port [%d]", flags);
  std::int32_t result = 0;
  if ((flags & kFlagModemOpen) != 0) {
    const std::string command = FormatBounded(99, "AT+MDPARA=DIAG,%s", "OFF");
    char reply[kAtReplyBytes] = {};
    pacing::Sleep(kBeforeDiagOffMs);
    result = device.SendAtCommand(reply, command.c_str(), sizeof reply);
  }
  Say(reporter, kReportInfo, "%s diag port [%d]", "Close", result);
  device.ClosePorts();
  return 1;
}

}  // namespace vornex
