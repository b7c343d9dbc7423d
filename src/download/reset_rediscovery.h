// Device steps shared by the download job and the recovery command: the reset with the search
// for the device after its reboot, and switching its diagnostic interface off at the end.
#pragma once

#include <cstdint>

#include "discovery/port_info.h"
#include "download/identity_backup.h"
#include "protocols/usb_device.h"

namespace vornex {

// Resets the device, waits for its reboot and finds it again by the group's key (up to four
// searches), then reconnects. On success the group is replaced by the one found. The connection
// flags after the reconnection, 0 when it failed; *found tells whether the device came back.
std::uint8_t ResetAndReopen(TUsbDevice& device, TUsbGroup& group, TStepReporter& reporter,
                            bool* found);
// Looks for the device with the group's key among all ports; 1 with the group replaced when it
// is there, else 0.
std::int32_t FindDeviceAgain(TUsbDevice& device, TUsbGroup& group);
// Reconnects to the group's modem port and sends "AT+MDPARA=DIAG,OFF"; closes the ports. Always 1.
std::int32_t SwitchDiagOff(TUsbDevice& device, const TUsbGroup& group, TStepReporter& reporter);

}  // namespace vornex
