// The AT command channel's pure half: one command line (TAtCommand), the test that a reply is
// whole (AtReplyComplete) and the check of one reply (ParseAtReply). A reply holds the echo of
// the command line, optionally information lines ("+NAME: value"), and ends with the first final
// result line after the echo: "OK", or an error result ("ERROR", "+CME ERROR: <n>",
// "+CMS ERROR: <n>", "NO CARRIER", "BUSY", "NO ANSWER", "NO DIALTONE"). Lines end in CR, LF or
// both. Only a whole line is a result: "OK" or "ERROR" inside the echo or a value is text, and
// whatever follows the final line (blank lines, unsolicited result lines) is not part of the
// reply. The device I/O half is TUsbDevice::SendAtCommand, whose reads end where
// AtReplyComplete says.
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

// True when `received` (all bytes received so far, zero bytes included) holds the echo of
// `sentLine` (the command line as sent, its CR included) and, after it, a whole final result line.
bool AtReplyComplete(std::string_view sentLine, std::string_view received);

// Checks one reply to `command` and extracts its value. `received` holds `length` bytes; the
// text ends at the first zero byte or at `length`. `ok` comes in as 1 and goes out as 1 or 0;
// `size` comes in as the value buffer's size and goes out as the value's length. The value is
// zero-terminated and holds at most size - 1 characters.
//
// The reply succeeds only when its first whole final result line after the echo is "OK"; an
// error result, or a reply cut off before its final line (a full buffer, a silent device),
// fails. With a value buffer the echo of the command must come before that line, and the value
// is the text between the two: the "+NAME:" prefix removed, control characters dropped, blanks
// at both ends trimmed. Without a value buffer the echo may be missing; the first final line
// (after the echo when there is one) decides.
void ParseAtReply(const TAtCommand& command, const std::uint8_t* received, std::size_t length,
                  std::uint8_t* value, std::int32_t* size, std::int32_t* ok);

}  // namespace vornex
