// AT command lines, reply parsing, and the AT exchange on a device's modem port.
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
const std::vector<std::string> kAtEndTexts = {"OK", "ERROR"};

bool IsControl(std::uint8_t byte) {
  return byte < 0x20 || byte == 0x7F;
}

std::int32_t FindText(const ByteVector& bytes, std::string_view text) {
  return FindBytes(bytes, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

std::int32_t FindAndEraseText(ByteVector& bytes, std::string_view text) {
  return FindAndErase(bytes, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// Erases the last occurrence of the text; returns its index or -1.
std::int32_t FindLastAndEraseText(ByteVector& bytes, std::string_view text) {
  const auto hit = std::find_end(bytes.begin(), bytes.end(), text.begin(), text.end());
  if (text.empty() || hit == bytes.end()) return -1;
  const auto index = static_cast<std::int32_t>(hit - bytes.begin());
  EraseRange(bytes, index, static_cast<std::int32_t>(text.size()));
  return index;
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
  const std::uint8_t* end = received + length;
  ByteVector reply(received, std::find(received, end, std::uint8_t{0}));
  reply.push_back(kCarriageReturn);

  const std::int32_t capacity = (value != nullptr && *size > 0) ? *size : 0;
  if (capacity > 0) std::memset(value, 0, static_cast<std::size_t>(capacity));

  if (FindText(reply, kOk) < 0) {
    *ok = 0;
    return;
  }
  if (capacity == 0) {
    *ok = 1;
    return;
  }
  // The result code is the last "OK": a value that contains "OK" (a serial number, say) keeps it.
  if (FindAndErase(reply, command.line.data(), command.line.size()) < 0 ||
      FindLastAndEraseText(reply, kOk) < 0) {
    *ok = 0;
    return;
  }
  *size = 0;
  if (command.name.empty()) {
    *ok = 1;
    return;
  }
  FindAndEraseText(reply, "+" + command.name + ":");

  // Keep the printable bytes without the blanks at both ends; the value always keeps its
  // terminator inside the buffer.
  std::int32_t count = 0;
  for (const std::uint8_t byte : reply) {
    if (IsControl(byte) || (count == 0 && byte == kBlank)) continue;
    if (count == capacity - 1) break;
    value[count++] = byte;
  }
  while (count > 0 && value[count - 1] == kBlank) value[--count] = 0;
  *size = count;
  *ok = 1;
}

bool TUsbDevice::AtExchange(const ByteVector& line, std::uint8_t* received) {
  TSerialPort* port = modemPort_.get();
  port->SetEndTexts(kAtEndTexts, kAtEndOffset);
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
