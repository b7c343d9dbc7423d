// Attempt counts, pauses, time limits and buffer sizes of the device protocols, in one place.
// Who owns which deadline: the serial port owns its per-write and per-read limits (set by the
// connection: write 2000 ms on both ports, read 2000 ms on the modem port and 5000 ms on the
// diagnostic port); an exchange owns its attempt count and the pause between write and read;
// the callers above (connection, downloads, worker) own the pauses between exchanges.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vornex {

// One framed request/reply on the diagnostic port.
constexpr int kExchangeAttempts = 17;
constexpr std::size_t kExchangeBufferBytes = 2048;

// One AT command line on the modem port.
constexpr int kAtAttempts = 17;
constexpr std::size_t kAtBufferBytes = 128;
constexpr std::uint32_t kAtPauseMs = 1;

// Lengths of the fields of an AT command record (terminator included).
constexpr std::size_t kAtNameBytes = 9;
constexpr std::size_t kAtParameterBytes = 243;
constexpr std::size_t kAtFullLineBytes = 256;

// Port settings given by the connection.
constexpr std::uint32_t kPortWriteLimitMs = 2000;
constexpr std::uint32_t kModemReadLimitMs = 2000;
constexpr std::uint32_t kDiagReadLimitMs = 5000;

// Port ids in receive notifications.
constexpr std::int32_t kModemPortId = 1;
constexpr std::int32_t kDiagPortId = 2;

// Pauses between write and read of one exchange.
constexpr std::uint32_t kDiagPauseMs = 1;      // diagnostic commands
constexpr std::uint32_t kDownloadPauseMs = 3;  // programmer blocks and image blocks

// Diagnostic commands.
constexpr std::uint32_t kHexHelloSettleMs = 500;       // after the streaming hello
constexpr std::uint32_t kDownloadModeSwitchMs = 1000;  // before and after closing the port
constexpr std::size_t kNvItemBytes = 128;
constexpr std::size_t kNvPayloadBytes = 132;  // item, data, status

// Programmer download.
constexpr std::size_t kHexBlockBytes = 1017;  // 1 + 4 + 2 + 1017 = 1024 bytes per block frame
constexpr int kWakeUpTries = 10;
constexpr std::uint32_t kWakeUpPauseMs = 500;
constexpr std::uint32_t kProgrammerStartMs = 1000;    // after the start command
constexpr std::uint32_t kReenumerationWaitMs = 5000;  // before looking for the device again
constexpr std::uint32_t kReconnectOpenMs = 2000;

// Image download.
constexpr std::size_t kImageBlockBytes = 1024;

// A device object's owner waits this long before it stops the object's log and releases it.
constexpr std::uint32_t kDeviceReleasePauseMs = 200;

}  // namespace vornex
