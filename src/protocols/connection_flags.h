// The byte of flags that ConnectUSB returns, and ClosePorts for the ports it closed.
#pragma once

#include <cstdint>

namespace vornex {

constexpr std::uint8_t kFlagModemOpen = 0x01;         // the modem port is open
constexpr std::uint8_t kFlagFirmwareAnswered = 0x02;  // diagnostic port open, firmware answered
constexpr std::uint8_t kFlagDownloadAnswered = 0x04;  // diagnostic port open, boot downloader or
                                                      // programmer answered
constexpr std::uint8_t kFlagDiagUsable = kFlagFirmwareAnswered | kFlagDownloadAnswered;

// ClosePorts: which ports were closed.
constexpr std::uint8_t kClosedModem = 0x01;
constexpr std::uint8_t kClosedDiag = 0x02;

}  // namespace vornex
