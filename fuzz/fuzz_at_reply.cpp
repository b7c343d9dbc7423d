// The check of one AT reply (ParseAtReply) and the end of its read (AtReplyComplete).
//
// Input: byte 0 picks the command (modulo 9: the eight the station sends, or 8 for one taken
// from the input: byte 2 is its length, the command follows), byte 1 is the size of the value
// buffer (the station's is 128), the rest is the reply as the modem port delivered it.
//
// Whatever the reply: ok goes out as 0 or 1; the value stays inside its buffer and is zero
// from its length to the buffer's end; an accepted value has no control characters and no
// blanks at either end; a reply without "OK" is never accepted, nor one without the echo of
// the command when a value is asked for. A reply that is complete stays complete as more bytes
// arrive.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "fuzz_support.h"
#include "protocols/at_command.h"

namespace {

using namespace vornex;

constexpr std::string_view kCommands[] = {
    "ATE1",     "AT+MDPARA=DIAG,ON", "AT+MDPARA=DIAG,OFF", "AT+MDVER",
    "AT+NEWSN", "AT+NEWMEID",        "AT+MDTFLAG",         "AT+NEWSN=VX1234567890"};
constexpr std::size_t kCommandFromInput = std::size(kCommands);

bool Contains(const TByteVector& text, const std::uint8_t* pattern, std::size_t length) {
  return std::search(text.begin(), text.end(), pattern, pattern + length) != text.end();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t pick = data[0] % (kCommandFromInput + 1);
  const std::int32_t capacity = data[1];
  std::size_t at = 2;
  std::string_view text;
  if (pick == kCommandFromInput) {
    if (size < 3) return 0;
    const std::size_t length = std::min<std::size_t>(data[2], size - 3);
    text = std::string_view(reinterpret_cast<const char*>(data + 3), length);
    at = 3 + length;
  } else {
    text = kCommands[pick];
  }
  const TAtCommand command(text);

  // Reply and value in blocks of their exact size, so that any access beyond them is caught.
  const std::size_t length = size - at;
  std::unique_ptr<std::uint8_t[]> reply(new std::uint8_t[std::max<std::size_t>(length, 1)]);
  std::copy(data + at, data + size, reply.get());
  std::unique_ptr<std::uint8_t[]> value(new std::uint8_t[std::max<std::int32_t>(capacity, 1)]);
  std::fill_n(value.get(), std::max<std::int32_t>(capacity, 1), 0xA5);

  std::int32_t valueSize = capacity;
  std::int32_t ok = 1;
  ParseAtReply(command, reply.get(), length, value.get(), &valueSize, &ok);
  const std::string_view received(reinterpret_cast<const char*>(reply.get()), length);
  if (AtReplyComplete(command.fullLine, received.substr(0, length / 2))) {
    FUZZ_CHECK(AtReplyComplete(command.fullLine, received));
  }

  FUZZ_CHECK(ok == 0 || ok == 1);
  if (capacity > 0) {
    if (ok == 1) FUZZ_CHECK(valueSize >= 0 && valueSize < capacity);
    const std::int32_t used = ok == 1 ? valueSize : 0;
    FUZZ_CHECK(std::all_of(value.get() + used, value.get() + capacity,
                           [](std::uint8_t b) { return b == 0; }));
  } else {
    FUZZ_CHECK(value[0] == 0xA5);  // no buffer: nothing written
  }
  if (ok == 0) return 0;

  // The reply as ParseAtReply reads it: up to the first zero byte, a carriage return added.
  TByteVector seen(reply.get(), std::find(reply.get(), reply.get() + length, std::uint8_t{0}));
  seen.push_back('\r');
  FUZZ_CHECK(Contains(seen, reinterpret_cast<const std::uint8_t*>("OK"), 2));
  if (capacity == 0) return 0;
  FUZZ_CHECK(Contains(seen, command.line.data(), command.line.size()));
  for (std::int32_t i = 0; i < valueSize; ++i) {
    FUZZ_CHECK(value[i] >= 0x20 && value[i] != 0x7F);
  }
  FUZZ_CHECK(valueSize == 0 || (value[0] != ' ' && value[valueSize - 1] != ' '));
  return 0;
}
