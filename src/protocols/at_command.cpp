// AT command lines, reply parsing, and the AT exchange on a device's modem port. A reply is
// read until it ends with a final result line ("OK" or "ERROR" as its whole last line), so a
// value that holds either text is neither cut short nor mistaken for the result.
#include "protocols/at_command.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "foundation/pacing.h"
#include "protocols/usb_device.h"

namespace vornex {
namespace {

constexpr std::uint8_t kCarriageReturn = 0x0D;
constexpr std::uint8_t kBlank = 0x20;
constexpr std::string_view kOk = "OK";
constexpr std::string_view kError = "ERROR";
// A read on the modem port ends on a final result line, never on these texts inside a value.
const std::vector<std::string> kAtResultLines = {std::string(kOk), std::string(kError)};

bool IsControl(std::uint8_t byte) {
  return byte < 0x20 || byte == 0x7F;
}

// The last line of a reply, provided the line end ("\r\n" or a lone "\n") that completes it
// came; *start is where the line begins. Empty for a reply that stops inside a line.
std::string_view FinalLine(std::string_view text, std::size_t* start) {
  *start = text.size();
  if (text.empty() || text.back() != '\n') return {};
  text.remove_suffix(1);
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  const std::size_t lineEnd = text.find_last_of("\r\n");
  *start = lineEnd == std::string_view::npos ? 0 : lineEnd + 1;
  return text.substr(*start);
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

void ParseAtReply(const TAtCommand& command, const std::uint8_t* received, std::size_t length,
                  std::uint8_t* value, std::int32_t* size, std::int32_t* ok) {
  std::string_view text(reinterpret_cast<const char*>(received), length);
  text = text.substr(0, text.find('\0'));

  const std::int32_t capacity = (value != nullptr && *size > 0) ? *size : 0;
  if (capacity > 0) std::memset(value, 0, static_cast<std::size_t>(capacity));

  // The result code is the final line and nothing else: "ERROR", a cut-off reply, or an "OK"
  // that only appears inside a value all fail here.
  std::size_t resultStart = 0;
  if (FinalLine(text, &resultStart) != kOk) {
    *ok = 0;
    return;
  }
  if (capacity == 0) {
    *ok = 1;
    return;
  }
  // The value lies between the echo and the final line.
  std::string_view body = text.substr(0, resultStart);
  const std::size_t echo = body.find(command.fullLine);
  if (echo == std::string_view::npos) {
    *ok = 0;
    return;
  }
  body.remove_prefix(echo + command.fullLine.size());
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
  port->SetEndLines(kAtResultLines);
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
