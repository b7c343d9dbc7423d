// Frames of the diagnostic port: the CRC-16/X-25, building, stuffing and unstuffing of frames,
// the judging of a reply against its request, and the byte-vector operations that the protocol
// and AT code share. Nothing here touches a port; the only output is the "unknown protocol!"
// notice of FromReceived.
#include "protocols/packet.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>
#include <utility>

namespace vornex {
namespace {

constexpr std::uint16_t kCrcPolynomialReflected = 0x8408;
constexpr std::uint16_t kCrcInitial = 0xFFFF;
constexpr std::uint16_t kCrcFinalXor = 0xFFFF;
constexpr std::uint8_t kStuffXor = 0x20;

constexpr std::uint8_t kDownloadAcknowledge = 0x02;
constexpr std::uint8_t kDownloadRefusal = 0x03;
constexpr std::uint8_t kStreamingLogReport = 0x0D;
constexpr std::uint8_t kStreamingErrorReport = 0x0E;
constexpr std::string_view kReasonPrefix = "Reason Codes:";

// Bytes that follow the payload of every frame: CRC low, CRC high, closing flag.
constexpr std::size_t kTrailerBytes = 3;

constexpr std::array<std::uint16_t, 256> MakeCrcTable() {
  std::array<std::uint16_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint16_t crc = static_cast<std::uint16_t>(i);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1u) ? static_cast<std::uint16_t>((crc >> 1) ^ kCrcPolynomialReflected)
                       : static_cast<std::uint16_t>(crc >> 1);
    }
    table[i] = crc;
  }
  return table;
}

constexpr std::array<std::uint16_t, 256> kCrcTable = MakeCrcTable();
static_assert(kCrcTable[1] == 0x1189 && kCrcTable[128] == 0x8408 && kCrcTable[255] == 0x0F78);

bool HasLeadingFlag(std::int32_t protocol) {
  return protocol == PROTOCOL_DOWNLOAD || protocol == PROTOCOL_STREAMING;
}

// Length of the first frame of a read: up to and including the first flag after the first byte
// (a flag in the first byte opens a download or streaming frame), or the whole read.
std::size_t FirstFrameLength(const std::uint8_t* received, std::size_t length) {
  for (std::size_t i = 1; i < length; ++i) {
    if (received[i] == kFrameFlag) return i + 1;
  }
  return length;
}

// Sets the judgement's payload to "Reason Codes:" and the device's text (the bytes from `from`
// up to a zero byte or `end`), followed by one zero byte so that it reads as a C string as well.
void SetReasonText(TReplyJudgement* judgement, const TByteVector& reply, std::size_t from,
                   std::size_t end) {
  TByteVector& payload = judgement->payload;
  payload.assign(kReasonPrefix.begin(), kReasonPrefix.end());
  for (std::size_t i = from; i < end && reply[i] != 0; ++i) {
    if (payload.size() + 1 >= kReplyPayloadBytes) break;
    payload.push_back(reply[i]);
  }
  payload.push_back(0);
  judgement->hasPayload = true;
}

void SetPayload(TReplyJudgement* judgement, const TByteVector& reply, std::size_t from,
                std::size_t count) {
  count = std::min(count, kReplyPayloadBytes);
  const auto first = reply.begin() + static_cast<std::ptrdiff_t>(from);
  judgement->payload.assign(first, first + static_cast<std::ptrdiff_t>(count));
  judgement->hasPayload = true;
}

// The CRC over reply[from, from + count) equals the two bytes that follow, low byte first.
bool CrcMatches(const TPacket& reply, std::size_t from, std::size_t count) {
  const std::uint16_t stored = reply.ReadU16LE(static_cast<std::uint32_t>(from + count));
  return ComputeCrc(reply.Bytes().data() + from, count) == stored;
}

// Diagnostic reply: command echoed, CRC over command and payload.
void JudgeDiagReply(const TByteVector& request, const TPacket& replyPacket,
                    TReplyJudgement* judgement) {
  const TByteVector& reply = replyPacket.Bytes();
  const std::size_t m = reply.size();
  if (request.empty() || m < 1 + kTrailerBytes) return;
  judgement->code = reply[0];
  if (reply[0] != request[0]) return;
  if (!CrcMatches(replyPacket, 0, m - kTrailerBytes)) return;
  SetPayload(judgement, reply, 1, m - 1 - kTrailerBytes);
  judgement->verdict = TReplyVerdict::kAccepted;
}

// Download and streaming reply, with or without its opening flag. A download acknowledge carries
// no payload; a refusal or a streaming text report carries the device's reason text.
void JudgeFlaggedReply(std::int32_t protocol, const TByteVector& request,
                       const TPacket& replyPacket, TReplyJudgement* judgement) {
  const TByteVector& reply = replyPacket.Bytes();
  const std::size_t m = reply.size();
  std::size_t bodyStart = 0;
  if (m >= 1 && reply[0] == kFrameFlag) {
    // Opening flag, code, CRC low, CRC high, closing flag at the least.
    if (m < 2 + kTrailerBytes) return;
    const std::uint8_t code = reply[1];
    judgement->code = code;
    if (protocol == PROTOCOL_DOWNLOAD) {
      if (code == kDownloadAcknowledge) {
        judgement->verdict = TReplyVerdict::kAccepted;
        return;
      }
      if (code == kDownloadRefusal) {
        SetReasonText(judgement, reply, 2, m);
        return;
      }
    } else if (code == kStreamingLogReport || code == kStreamingErrorReport) {
      SetReasonText(judgement, reply, 2, m);
      judgement->intact = CrcMatches(replyPacket, 1, m - 1 - kTrailerBytes);
      judgement->verdict =
          code == kStreamingLogReport ? TReplyVerdict::kLogReport : TReplyVerdict::kErrorReport;
      return;
    }
    bodyStart = 1;
  } else if (m < 1 + kTrailerBytes) {
    return;
  }
  const std::size_t bodyLength = m - kTrailerBytes - bodyStart;
  judgement->code = reply[bodyStart];
  if (request.size() < 2) return;
  if (static_cast<int>(reply[bodyStart]) != static_cast<int>(request[1]) + 1) return;
  if (!CrcMatches(replyPacket, bodyStart, bodyLength)) return;
  SetPayload(judgement, reply, bodyStart + 1, bodyLength - 1);
  judgement->verdict = TReplyVerdict::kAccepted;
  judgement->intact = true;
}

}  // namespace

std::uint16_t ComputeCrc(const std::uint8_t* bytes, std::size_t length) {
  std::uint16_t crc = kCrcInitial;
  for (std::size_t i = 0; bytes != nullptr && i < length; ++i) {
    crc = static_cast<std::uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ bytes[i]) & 0xFFu]);
  }
  return static_cast<std::uint16_t>(crc ^ kCrcFinalXor);
}

void AppendByte(TByteVector& bytes, std::uint8_t byte) {
  bytes.push_back(byte);
}

void AppendBytes(TByteVector& bytes, const std::uint8_t* data, std::size_t count) {
  if (data == nullptr || count == 0) return;
  bytes.insert(bytes.end(), data, data + count);
}

void AppendU32(TByteVector& bytes, std::uint32_t value, bool bigEndian) {
  for (int i = 0; i < 4; ++i) {
    const int shift = bigEndian ? 8 * (3 - i) : 8 * i;
    bytes.push_back(static_cast<std::uint8_t>(value >> shift));
  }
}

void EraseRange(TByteVector& bytes, std::int32_t index, std::int32_t count) {
  const std::int64_t end = static_cast<std::int64_t>(index) + count;
  if (index < 0 || count < 0 || end > static_cast<std::int64_t>(bytes.size())) {
    throw __ErrException{255, TFixedText<256>("overload :index + count.")};
  }
  const auto first = bytes.begin() + index;
  bytes.erase(first, first + count);
}

std::int32_t FindBytes(const TByteVector& bytes, const std::uint8_t* pattern, std::size_t length) {
  if (bytes.empty() || pattern == nullptr || length == 0 || length > bytes.size()) return -1;
  const auto found = std::search(bytes.begin(), bytes.end(), pattern, pattern + length);
  if (found == bytes.end()) return -1;
  return static_cast<std::int32_t>(found - bytes.begin());
}

std::int32_t FindAndErase(TByteVector& bytes, const std::uint8_t* pattern, std::size_t length) {
  const std::int32_t index = FindBytes(bytes, pattern, length);
  if (index >= 0) EraseRange(bytes, index, static_cast<std::int32_t>(length));
  return index;
}

void ClearBytes(TByteVector& bytes) {
  bytes.clear();
}

TPacket TPacket::Build(std::uint8_t command, const TByteVector* payload, std::int32_t protocol) {
  TPacket packet;
  packet.protocol_ = protocol;
  TByteVector& out = packet.bytes_;
  const std::size_t payloadSize = payload != nullptr ? payload->size() : 0;
  out.reserve(payloadSize + 5);
  if (HasLeadingFlag(protocol)) out.push_back(kFrameFlag);
  const std::size_t bodyStart = out.size();
  out.push_back(command);
  if (payload != nullptr) out.insert(out.end(), payload->begin(), payload->end());
  const std::uint16_t crc = ComputeCrc(out.data() + bodyStart, out.size() - bodyStart);
  out.push_back(static_cast<std::uint8_t>(crc & 0xFFu));
  out.push_back(static_cast<std::uint8_t>(crc >> 8));
  out.push_back(kFrameFlag);
  return packet;
}

TPacket TPacket::FromReceived(const std::uint8_t* bytes, std::size_t length,
                              std::int32_t protocol) {
  if (protocol < PROTOCOL_DIAG || protocol > PROTOCOL_STREAMING) {
    std::fputs("unknown protocol!\n", stdout);
  }
  TPacket packet;
  packet.protocol_ = protocol;
  if (bytes != nullptr) packet.bytes_.assign(bytes, bytes + length);
  return packet;
}

void TPacket::Escape() {
  if (escaped_) return;
  escaped_ = true;
  const std::size_t n = bytes_.size();
  if (n < 2) return;
  TByteVector stuffed;
  stuffed.reserve(2 * n);
  stuffed.push_back(bytes_.front());
  for (std::size_t i = 1; i + 1 < n; ++i) {
    const std::uint8_t byte = bytes_[i];
    if (byte == kFrameFlag || byte == kFrameEscape) {
      stuffed.push_back(kFrameEscape);
      stuffed.push_back(static_cast<std::uint8_t>(byte ^ kStuffXor));
    } else {
      stuffed.push_back(byte);
    }
  }
  stuffed.push_back(bytes_.back());
  bytes_ = std::move(stuffed);
}

void TPacket::Unescape() {
  if (!escaped_) return;
  escaped_ = false;
  TByteVector plain;
  plain.reserve(bytes_.size());
  for (std::size_t i = 0; i < bytes_.size(); ++i) {
    if (bytes_[i] != kFrameEscape) {
      plain.push_back(bytes_[i]);
    } else if (i + 1 < bytes_.size()) {
      // 7D 5D -> 7D and 7D 5E -> 7E are this same rule.
      plain.push_back(static_cast<std::uint8_t>(bytes_[++i] ^ kStuffXor));
    }
  }
  bytes_ = std::move(plain);
}

std::uint16_t TPacket::ReadU16LE(std::uint32_t index) const {
  if (static_cast<std::uint64_t>(index) + 1 >= bytes_.size()) return 0;
  return static_cast<std::uint16_t>(bytes_[index] | (bytes_[index + 1] << 8));
}

TReplyJudgement JudgeReply(TPacket& request, const std::uint8_t* received, std::size_t length) {
  TReplyJudgement judgement;
  const std::size_t frameLength = received != nullptr ? FirstFrameLength(received, length) : 0;
  if (frameLength < 4) return judgement;
  request.Unescape();
  TPacket reply = TPacket::FromReceived(received, frameLength, request.Protocol());
  reply.SetEscaped(true);
  reply.Unescape();
  if (request.Protocol() == PROTOCOL_DIAG) {
    JudgeDiagReply(request.Bytes(), reply, &judgement);
  } else if (HasLeadingFlag(request.Protocol())) {
    JudgeFlaggedReply(request.Protocol(), request.Bytes(), reply, &judgement);
  }  // a request of an unknown protocol has no valid reply
  return judgement;
}

void DecodeReply(TPacket& request, const std::uint8_t* received, std::size_t length,
                 TByteVector* payload, std::int32_t* accepted) {
  TReplyJudgement judgement = JudgeReply(request, received, length);
  if (payload != nullptr && judgement.hasPayload) *payload = std::move(judgement.payload);
  if (accepted != nullptr) *accepted = judgement.Accepted();
}

std::string ReplyWords(const TReplyJudgement& reply, std::uint8_t expected, bool portOpen) {
  if (!portOpen) return "no reply";
  if (reply.code == 0) return "a reply too short to read";
  std::string words = FormatBounded(16, "reply 0x%02X", reply.code);
  if (reply.hasPayload) {
    const auto& text = reply.payload;
    words += " \"" + std::string(text.begin(), std::find(text.begin(), text.end(), 0)) + "\"";
  } else if (reply.code == expected) {
    words += " with a bad checksum";
  } else {
    words += FormatBounded(24, " instead of 0x%02X", expected);
  }
  return words;
}

}  // namespace vornex
