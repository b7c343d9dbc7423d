// Reset and re-discovery: the flashed device restarts into its new firmware, leaves the bus and
// comes back, possibly under new port numbers; it is found again by its group key. A programmer
// that refuses the reset stays where it is, and the step ends there. And the last word to a
// device: its diagnostic interface switched off.
#include "download/reset_rediscovery.h"

#include "download/download_limits.h"
#include "download/download_texts.h"
#include "download/report_marks.h"
#include "foundation/pacing.h"
#include "foundation/text.h"
#include "protocols/connection_flags.h"

namespace vornex {
namespace {

namespace texts = download_text;

}  // namespace

TResetOutcome ResetAndReopen(TUsbDevice& device, TUsbGroup& group, TStepReporter& reporter) {
  TResetOutcome outcome;
  Say(reporter, kMarkResetSent, texts::kResetSent);
  bool refused = false;
  if (device.ResetDevice(&refused) == 1) {
    outcome.command = TResetCommand::kAccepted;
  } else if (refused) {
    // The programmer's own intact error report: it runs on with the new image, and no reboot
    // will bring the device back in its firmware. Any other reply, a damaged acknowledge
    // included, may well have reset it: whether it comes back decides.
    outcome.command = TResetCommand::kRefused;
    Say(reporter, kMarkResetSent, texts::kResetRefusedStep);
    return outcome;
  }
  pacing::Sleep(kAfterResetCommandMs);
  device.ClosePorts();
  Say(reporter, kMarkRebootWaited, texts::kRebootWaited);
  pacing::Sleep(kRebootWaitMs);

  TUsbGroup last{};
  for (int search = 1; search <= kSearchTries; ++search) {
    if (FindDeviceAgain(device, group) == 1) last = group;
    if (last.portCount > 1) {
      Say(reporter, kMarkDeviceFound, texts::kDeviceFound);
      break;
    }
    pacing::Sleep(kSearchAgainMs);
  }

  outcome.found = last.portCount >= 1;
  if (outcome.found) {
    // The ports open the ttys of the entries just found, whatever the old ones were.
    outcome.flags = device.ConnectUSB(last, kReconnectAfterResetMs);
    Say(reporter, kMarkReopened, texts::kReopened,
        outcome.flags != 0 ? texts::kReopenOk : texts::kReopenFailed);
  } else {
    Say(reporter, kMarkNotFoundAgain, texts::kNotFoundAgain);
  }
  return outcome;
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
  Say(reporter, kReportInfo, texts::kModemReopened, flags);
  std::int32_t result = 0;
  if ((flags & kFlagModemOpen) != 0) {
    const std::string command = FormatBounded(99, "AT+MDPARA=DIAG,%s", "OFF");
    char reply[kAtReplyBytes] = {};
    pacing::Sleep(kBeforeDiagOffMs);
    result = device.SendAtCommand(reply, command.c_str(), sizeof reply);
  }
  Say(reporter, kReportInfo, texts::kDiagOff, texts::kClose, result);
  device.ClosePorts();
  return 1;
}

TDeviceTextCatch::TDeviceTextCatch(TUsbDevice& device, TDeviceCallback owner, void* user)
    : device_(device), owner_(owner), user_(user) {
  device_.SetCallback(&TDeviceTextCatch::Relay, this);
}

TDeviceTextCatch::~TDeviceTextCatch() {
  device_.SetCallback(owner_, user_);
}

void TDeviceTextCatch::Relay(void* user, std::int32_t status, const void* data) {
  auto* self = static_cast<TDeviceTextCatch*>(user);
  if (status == CB_MESSAGE && data != nullptr) self->last_ = static_cast<const char*>(data);
  if (self->owner_ != nullptr) self->owner_(self->user_, status, data);
}

}  // namespace vornex
