// The AT command channel's pure half: one command line (TAtCommand) and the check of one
// reply (ParseAtReply). A good reply holds the echo of the command line, optionally a line
// "+NAME:" followed by the value, and "OK"; line ends and other control characters around
// these parts do not matter. The device I/O half is TUsbDevice::SendAtCommand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "protocols/packet.h"
#include "protocols/protocol_limits.h"

namespace vornex {

struct TAtCommand {
  ByteVector line;        // the command text and one carriage return
  std::string name;       // between the first '+' and the first '=' (or the end); else empty
  std::string parameter;  // after the first '=' (when there is a '+'); else empty
  std::string fullLine;   // the line as text

  explicit TAtCommand(std::string_view command);

  // False when a field would not fit its record width (name 8, parameter 242, line 255
  // characters); such a command is never sent.
  bool Fits() const;
};

// Checks one reply to `command` and extracts its value. `received` holds `length` bytes; the
// text ends at the first zero byte or at `length`. `ok` comes in as 1 and goes out as 1 or 0;
// `size` comes in as the value buffer's size and goes out as the value's length. The value is
// zero-terminated and holds at most size - 1 characters.
void ParseAtReply(const TAtCommand& command, const std::uint8_t* received, std::size_t length,
                  std::uint8_t* value, std::int32_t* size, std::int32_t* ok);

}  // namespace vornex
