// Device steps shared by the download job and the recovery command: the reset with the search
// for the device after its reboot, switching its diagnostic interface off at the end, and the
// catch of the texts in which the device tells what lay behind a failed operation.
#pragma once

#include <cstdint>
#include <string>

#include "discovery/port_info.h"
#include "download/identity_backup.h"
#include "protocols/usb_device.h"

namespace vornex {

// How the reset command itself went.
enum class TResetCommand : std::uint8_t {
  kAccepted,  // acknowledged: the device reboots
  kRefused,   // an intact error report: the device did not reset and still runs its programmer
  kNoReply,   // no clean acknowledge (no reply, or a damaged one): it may have reset all the same
};

// What ResetAndReopen did.
struct TResetOutcome {
  TResetCommand command = TResetCommand::kNoReply;
  bool found = false;      // the device came back after its reboot
  std::uint8_t flags = 0;  // connection flags after the reconnection; 0 when none was made
};

// Resets the device, waits for its reboot and finds it again by the group's key (up to four
// searches), then reconnects. On success the group is replaced by the one found. A refused
// reset (an intact error report) ends the step at once: no reboot is waited for, nobody is
// looked for and the ports stay as they are (the device's own text on the refusal went to the
// owner as CB_MESSAGE). After any other reply, or none, the device is looked for as after an
// accepted reset.
TResetOutcome ResetAndReopen(TUsbDevice& device, TUsbGroup& group, TStepReporter& reporter);
// Looks for the device with the group's key among all ports; 1 with the group replaced when it
// is there, else 0.
std::int32_t FindDeviceAgain(TUsbDevice& device, TUsbGroup& group);
// Reconnects to the group's modem port and sends "AT+MDPARA=DIAG,OFF"; closes the ports. Always 1.
std::int32_t SwitchDiagOff(TUsbDevice& device, const TUsbGroup& group, TStepReporter& reporter);

// Keeps the device's texts (CB_MESSAGE) while it lives. Every notification still goes on to the
// owner's function, which is the device's notification function again once the catch ends.
class TDeviceTextCatch {
 public:
  TDeviceTextCatch(TUsbDevice& device, TDeviceCallback owner, void* user);
  ~TDeviceTextCatch();
  TDeviceTextCatch(const TDeviceTextCatch&) = delete;
  TDeviceTextCatch& operator=(const TDeviceTextCatch&) = delete;

  // The last text the device told since the catch began or was cleared; empty when none.
  const std::string& Last() const { return last_; }
  void Clear() { last_.clear(); }

 private:
  static void Relay(void* user, std::int32_t status, const void* data);

  TUsbDevice& device_;
  TDeviceCallback owner_;
  void* user_;
  std::string last_;
};

}  // namespace vornex
