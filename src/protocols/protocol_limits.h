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
constexpr std::int32_t kAtEndOffset = 1;

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

// A device object's owner waits this long before it stops the object's log and releases it.
constexpr std::uint32_t kDeviceReleasePauseMs = 200;

}  // namespace vornex
