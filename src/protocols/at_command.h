// The AT command channel's pure half: one command line (TAtCommand) and the check of one
// reply (ParseAtReply). A good reply holds the echo of the command line, optionally a line
// "+NAME:" followed by the value, and ends with the final result line "OK". The result is
// only ever read from that last line: "OK" or "ERROR" inside a value is part of the value.
// The device I/O half is TUsbDevice::SendAtCommand, whose reads end on such a final line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "protocols/packet.h"
#include "protocols/protocol_limits.h"

namespace vornex {

struct TAtCommand {
  TByteVector line;       // the command text and one carriage return
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
//
// The reply succeeds only when its last line is "OK", whole and ended by "\r\n" or "\n"; a
// last line "ERROR", or a reply cut off before its final line (a full buffer, a silent
// device), fails. With a value buffer the echo of the command must come before that line, and
// the value is the text between the two: the "+NAME:" prefix removed, control characters
// dropped, blanks at both ends trimmed. Without a value buffer only the final line counts.
void ParseAtReply(const TAtCommand& command, const std::uint8_t* received, std::size_t length,
                  std::uint8_t* value, std::int32_t* size, std::int32_t* ok);

}  // namespace vornex
