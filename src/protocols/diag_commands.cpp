// The short commands of the diagnostic port: the three layer probes (hellos), NV item read and
// write, the switch into download mode and the reset of the programmer.
#include <cstring>
#include <string_view>

#include "foundation/pacing.h"
#include "protocols/protocol_limits.h"
#include "protocols/usb_device.h"

namespace vornex {
namespace {

constexpr std::uint8_t kCmdFirmwareHello = 0x00;
constexpr std::uint8_t kCmdNvRead = 0x26;
constexpr std::uint8_t kCmdNvWrite = 0x27;
constexpr std::uint8_t kCmdDownloadMode = 0x3A;
constexpr std::uint8_t kCmdDownloadHello = 0x0C;
constexpr std::uint8_t kCmdStreamingHello = 0x01;
constexpr std::uint8_t kCmdReset = 0x0B;

constexpr std::string_view kHostMagic = "QCOM fast download protocol host";
constexpr std::string_view kTargetMagic = "QCOM fast download protocol targ";
constexpr std::uint8_t kHelloVersion = 0x03;
constexpr std::uint8_t kHelloCompatibleVersion = 0x02;
constexpr std::uint8_t kHelloFeatures = 0x01;

TPacket Request(std::uint8_t command, std::int32_t protocol, const TByteVector* payload = nullptr) {
  TPacket packet = TPacket::Build(command, payload, protocol);
  packet.Escape();
  return packet;
}

// The NV request (and reply) layout: item (LE), 128 data bytes, status (LE, sent as 0).
TByteVector NvPayload(std::uint16_t item, const std::uint8_t* data) {
  TByteVector payload(kNvPayloadBytes, 0);
  payload[0] = static_cast<std::uint8_t>(item & 0xFF);
  payload[1] = static_cast<std::uint8_t>(item >> 8);
  if (data != nullptr) std::memcpy(payload.data() + 2, data, kNvItemBytes);
  return payload;
}

// The status word of an NV reply (at least kNvPayloadBytes long) says success.
bool NvStatusOk(const TByteVector& reply) {
  return (reply[130] | (reply[131] << 8)) == 0;
}

}  // namespace

std::int32_t TUsbDevice::SayHelloToFirmwareLayer(TSerialPort* port) {
  TByteVector reply;
  return Exchange(port, Request(kCmdFirmwareHello, PROTOCOL_DIAG), kDiagPauseMs, &reply);
}

std::int32_t TUsbDevice::SayHelloToDownloadLayer(TSerialPort* port) {
  TByteVector reply;
  return Exchange(port, Request(kCmdDownloadHello, PROTOCOL_DOWNLOAD), kDiagPauseMs, &reply);
}

std::int32_t TUsbDevice::SayHelloToHexLayer(TSerialPort* port) {
  TByteVector payload;
  payload.reserve(kHostMagic.size() + 3);
  AppendBytes(payload, reinterpret_cast<const std::uint8_t*>(kHostMagic.data()), kHostMagic.size());
  AppendByte(payload, kHelloVersion);
  AppendByte(payload, kHelloCompatibleVersion);
  AppendByte(payload, kHelloFeatures);
  TByteVector reply;
  if (Exchange(port, Request(kCmdStreamingHello, PROTOCOL_STREAMING, &payload), kDiagPauseMs,
               &reply) == 0) {
    return 0;
  }
  pacing::Sleep(kHexHelloSettleMs);
  // A text report is accepted by the frame layer but carries "Reason Codes:", not the magic.
  if (reply.size() < kTargetMagic.size()) return 0;
  return std::memcmp(reply.data(), kTargetMagic.data(), kTargetMagic.size()) == 0 ? 1 : 0;
}

// One NV request, asked again while the reply is judged bad; the accepted reply's payload.
TNvOutcome TUsbDevice::NvExchange(std::uint8_t command, const TByteVector& payload,
                                  TByteVector* reply) {
  for (int attempt = 0; attempt < kExchangeAttempts; ++attempt) {
    if (!diagPort_ || !diagPort_->IsOpen()) return TNvOutcome::kNoAnswer;
    TReplyJudgement judgement =
        ExchangeJudged(diagPort_.get(), Request(command, PROTOCOL_DIAG, &payload), kDiagPauseMs);
    // A reply too short to hold the item and its status is as bad as a broken one.
    if (judgement.Accepted() != 0 && judgement.payload.size() >= kNvPayloadBytes) {
      *reply = std::move(judgement.payload);
      return NvStatusOk(*reply) ? TNvOutcome::kDone : TNvOutcome::kRefused;
    }
    // A silent device has used up the exchange's attempts and closed the port.
    if (!diagPort_->IsOpen()) return TNvOutcome::kNoAnswer;
    Trace("NV %02X item %d: bad reply, asking again", command, payload[0] | (payload[1] << 8));
  }
  return TNvOutcome::kNoAnswer;
}

TNvOutcome TUsbDevice::ReadNvItemOutcome(std::uint16_t item, std::uint8_t* data) {
  if (!diagPort_ || data == nullptr) return TNvOutcome::kNoAnswer;
  TByteVector reply;
  const TNvOutcome outcome = NvExchange(kCmdNvRead, NvPayload(item, nullptr), &reply);
  if (outcome == TNvOutcome::kDone) std::memcpy(data, reply.data() + 2, kNvItemBytes);
  return outcome;
}

std::int32_t TUsbDevice::ReadNvItem(std::uint16_t item, std::uint8_t* data) {
  return ReadNvItemOutcome(item, data) == TNvOutcome::kDone ? 1 : 0;
}

std::int32_t TUsbDevice::WriteNvItem(std::uint16_t item, const std::uint8_t* data) {
  if (!diagPort_ || data == nullptr) return 0;
  TByteVector reply;
  return NvExchange(kCmdNvWrite, NvPayload(item, data), &reply) == TNvOutcome::kDone ? 1 : 0;
}

std::int32_t TUsbDevice::EnterDownloadMode(std::uint8_t& mode) {
  if (!diagPort_) return 0;
  mode = 0xFF;
  TSerialPort* port = diagPort_.get();
  TByteVector reply;
  const std::int32_t firmware =
      Exchange(port, Request(kCmdFirmwareHello, PROTOCOL_DIAG), kDiagPauseMs, &reply);
  // A probe without any answer has closed the port after its last attempt.
  if (firmware == 0 && !port->IsOpen()) return 0;
  if (firmware != 0) {
    if (Exchange(port, Request(kCmdDownloadMode, PROTOCOL_DIAG), kDiagPauseMs, &reply) == 0) {
      return 0;
    }
    pacing::Sleep(kDownloadModeSwitchMs);
    port->Close();
    pacing::Sleep(kDownloadModeSwitchMs);
    port->OpenRetry();  // a port that stays closed makes the next step fail
  }
  if (SayHelloToHexLayer(port) != 0) mode = 1;
  return 1;
}

std::int32_t TUsbDevice::ResetDevice(bool* refused) {
  return ProgrammerCommand(Request(kCmdReset, PROTOCOL_STREAMING), kDiagPauseMs, refused);
}

}  // namespace vornex
