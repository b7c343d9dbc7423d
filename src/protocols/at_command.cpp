// AT command lines, reply parsing, and the AT exchange on a device's modem port. A read ends
// at the first whole final result line after the echo, so a value that holds "OK" or "ERROR" is
// neither cut short nor mistaken for the result, and lines that follow the result (blank lines,
// unsolicited results) cost no waiting.
#include "protocols/at_command.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>

#include "foundation/pacing.h"
#include "protocols/usb_device.h"

namespace vornex {
namespace {

constexpr std::uint8_t kCarriageReturn = 0x0D;
constexpr std::uint8_t kBlank = 0x20;
constexpr std::string_view kOk = "OK";
constexpr std::string_view kLineEnds = "\r\n";
// The final result codes besides "OK": each ends a command as failed. The last four end dial
// and answer commands, which the station never sends; a modem that ends a command with one has
// ended it all the same, and waiting for more would only spend the read limit.
constexpr std::string_view kErrorLines[] = {"ERROR", "NO CARRIER", "BUSY", "NO ANSWER",
                                            "NO DIALTONE"};
// Error results followed by a code or text: "+CME ERROR: 10", "+CMS ERROR: 500".
constexpr std::string_view kErrorPrefixes[] = {"+CME ERROR:", "+CMS ERROR:"};

bool IsControl(std::uint8_t byte) {
  return byte < 0x20 || byte == 0x7F;
}

bool IsErrorResult(std::string_view line) {
  return std::find(std::begin(kErrorLines), std::end(kErrorLines), line) != std::end(kErrorLines) ||
         std::any_of(std::begin(kErrorPrefixes), std::end(kErrorPrefixes),
                     [line](std::string_view prefix) { return line.starts_with(prefix); });
}

// Where the echo of the sent line ends in the text; npos without an echo.
std::size_t EchoEnd(std::string_view text, std::string_view sentLine) {
  const std::size_t echo = text.find(sentLine);
  return echo == std::string_view::npos ? echo : echo + sentLine.size();
}

struct TFinalLine {
  std::size_t start = 0;  // where the line begins
  bool ok = false;        // "OK"; else an error result
};

// The first final result line in the text from `from` on (where a line begins), provided a CR
// or LF has completed it; none while the reply stops before or inside it.
std::optional<TFinalLine> FirstFinalLine(std::string_view text, std::size_t from) {
  for (std::size_t start = from; start < text.size();) {
    const std::size_t end = text.find_first_of(kLineEnds, start);
    if (end == std::string_view::npos) break;
    const std::string_view line = text.substr(start, end - start);
    if (line == kOk || IsErrorResult(line)) return TFinalLine{start, line == kOk};
    start = end + 1;
  }
  return std::nullopt;
}

}  // namespace

TAtCommand::TAtCommand(std::string_view command) {
  line.assign(command.begin(), command.end());
  line.push_back(kCarriageReturn);
  const auto plus = command.find('+');
  if (plus != std::string_view::npos) {
    const auto equals = command.find('=');
    if (equals == std::string_view::npos) {
      name = command.substr(plus + 1);
    } else {
      name = equals > plus ? command.substr(plus + 1, equals - plus - 1) : std::string_view{};
      parameter = command.substr(equals + 1);
    }
  }
  fullLine.assign(line.begin(), line.end());
}

bool TAtCommand::Fits() const {
  return name.size() < kAtNameBytes && parameter.size() < kAtParameterBytes &&
         fullLine.size() < kAtFullLineBytes;
}

bool AtReplyComplete(std::string_view sentLine, std::string_view received) {
  const std::size_t echoEnd = EchoEnd(received, sentLine);
  return echoEnd != std::string_view::npos && FirstFinalLine(received, echoEnd).has_value();
}

void ParseAtReply(const TAtCommand& command, const std::uint8_t* received, std::size_t length,
                  std::uint8_t* value, std::int32_t* size, std::int32_t* ok) {
  std::string_view text(reinterpret_cast<const char*>(received), length);
  text = text.substr(0, text.find('\0'));

  const std::int32_t capacity = (value != nullptr && *size > 0) ? *size : 0;
  if (capacity > 0) std::memset(value, 0, static_cast<std::size_t>(capacity));

  // The result is the first final line after the echo and nothing else: an error result, a
  // cut-off reply, or an "OK" that only appears inside the echo or a value all fail here.
  const std::size_t echoEnd = EchoEnd(text, command.fullLine);
  if (capacity > 0 && echoEnd == std::string_view::npos) {
    *ok = 0;
    return;
  }
  const std::size_t bodyStart = echoEnd == std::string_view::npos ? 0 : echoEnd;
  const std::optional<TFinalLine> result = FirstFinalLine(text, bodyStart);
  if (!result || !result->ok) {
    *ok = 0;
    return;
  }
  if (capacity == 0) {
    *ok = 1;
    return;
  }
  // The value lies between the echo and the final line.
  const std::string_view body = text.substr(bodyStart, result->start - bodyStart);
  *size = 0;
  if (command.name.empty()) {
    *ok = 1;
    return;
  }
  std::string rest(body);
  const std::string prefix = "+" + command.name + ":";
  if (const std::size_t at = rest.find(prefix); at != std::string::npos) {
    rest.erase(at, prefix.size());
  }

  // Keep the printable bytes without the blanks at both ends; the value always keeps its
  // terminator inside the buffer.
  std::int32_t count = 0;
  for (const char c : rest) {
    const auto byte = static_cast<std::uint8_t>(c);
    if (IsControl(byte) || (count == 0 && byte == kBlank)) continue;
    if (count == capacity - 1) break;
    value[count++] = byte;
  }
  while (count > 0 && value[count - 1] == kBlank) value[--count] = 0;
  *size = count;
  *ok = 1;
}

bool TUsbDevice::AtExchange(const TByteVector& line, std::uint8_t* received) {
  TSerialPort* port = modemPort_.get();
  const std::string sentLine(line.begin(), line.end());
  port->SetEndReply(
      [sentLine](std::string_view bytes) { return AtReplyComplete(sentLine, bytes); });
  for (int attempt = 0; attempt < kAtAttempts; ++attempt) {
    Notify(CB_ATTEMPT, nullptr);
    if (!port->IsOpen()) continue;
    std::size_t got = 0;
    if (port->WriteThenRead(line.data(), line.size(), kAtPauseMs, received, kAtBufferBytes, &got)) {
      return true;
    }
  }
  port->Close();
  return false;
}

std::int32_t TUsbDevice::SendAtCommand(char* reply, const char* command, std::int32_t size) {
  if (!modemPort_ || command == nullptr) return 0;
  std::uint8_t received[kAtBufferBytes] = {};
  std::uint8_t value[kAtBufferBytes] = {};

  const TAtCommand echoOn("ATE1");
  const TAtCommand wanted(command);
  if (!wanted.Fits()) return 0;  // its record fields could not hold it: never sent
  for (const TAtCommand* at : {&echoOn, &wanted}) {
    if (!AtExchange(at->line, received)) return 0;
    std::int32_t valueSize = static_cast<std::int32_t>(sizeof value);
    std::int32_t ok = 1;
    ParseAtReply(*at, received, sizeof received, value, &valueSize, &ok);
    if (ok == 0) return 0;
  }
  if (reply != nullptr && size > 0) {
    std::memcpy(reply, value, std::min<std::size_t>(static_cast<std::size_t>(size), sizeof value));
  }
  return 1;
}

}  // namespace vornex
