// Judging a reply against its request (JudgeReply, DecodeReply).
//
// Input: byte 0 = flags (bits 0-1 protocol, 3 reads as streaming; bit 2 the request goes in
// stuffed; bit 3 the reply is built here), byte 1 = request command, byte 2 = length n of the
// request payload, then n payload bytes. The rest is the received bytes as they are, or, with
// bit 3, a reply code, a two-byte body length (low byte first), the body and bytes that follow
// the frame; the reply is then built with TPacket::Build, stuffed, and followed by those bytes.
// A body longer than the bytes left repeats them, so that short inputs reach replies past the
// payload limit; bodies are cut at twice that limit.
//
// For every reply: a payload never exceeds kReplyPayloadBytes, a judgement without payload
// carries none, DecodeReply agrees with JudgeReply, text reports come only from the streaming
// protocol, and bytes after the first frame change nothing. For a built reply the verdict and
// the payload are the ones packet.h describes for its code.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "fuzz_support.h"
#include "protocols/packet.h"

namespace {

using namespace vornex;

constexpr std::string_view kReasonPrefix = "Reason Codes:";
constexpr std::uint8_t kDownloadAcknowledge = 0x02;
constexpr std::uint8_t kDownloadRefusal = 0x03;
constexpr std::uint8_t kLogReport = 0x0D;
constexpr std::uint8_t kErrorReport = 0x0E;

// JudgeReply unstuffs its request in place: every judging gets a fresh copy. The received bytes
// sit in a block of their exact size, so that reading past them is caught.
TReplyJudgement Judge(const TPacket& request, const TByteVector& received) {
  TPacket copy = request;
  std::unique_ptr<std::uint8_t[]> bytes(
      new std::uint8_t[std::max<std::size_t>(received.size(), 1)]);
  std::copy(received.begin(), received.end(), bytes.get());
  return JudgeReply(copy, bytes.get(), received.size());
}

bool SameJudgement(const TReplyJudgement& a, const TReplyJudgement& b) {
  return a.verdict == b.verdict && a.code == b.code && a.hasPayload == b.hasPayload &&
         a.payload == b.payload;
}

bool StartsWithReason(const TByteVector& payload) {
  return payload.size() > kReasonPrefix.size() && payload.back() == 0 &&
         std::equal(kReasonPrefix.begin(), kReasonPrefix.end(), payload.begin());
}

// The judgement of a reply built for `code` with `body`, as packet.h describes it.
void CheckBuiltReply(const TPacket& request, std::uint8_t code, const TByteVector& body,
                     const TReplyJudgement& judgement) {
  const std::int32_t protocol = request.Protocol();
  const TByteVector& sent = request.Bytes();  // plain: the request is stuffed only in its copies
  const TByteVector expectedPayload(
      body.begin(),
      body.begin() + static_cast<std::ptrdiff_t>(std::min(body.size(), kReplyPayloadBytes)));
  FUZZ_CHECK(judgement.code == code);
  if (protocol == PROTOCOL_DIAG) {
    if (code == sent[0]) {
      FUZZ_CHECK(judgement.verdict == TReplyVerdict::kAccepted);
      FUZZ_CHECK(judgement.hasPayload && judgement.payload == expectedPayload);
    } else {
      FUZZ_CHECK(judgement.verdict == TReplyVerdict::kRefused);
    }
    return;
  }
  if (protocol == PROTOCOL_DOWNLOAD && code == kDownloadAcknowledge) {
    FUZZ_CHECK(judgement.verdict == TReplyVerdict::kAccepted && !judgement.hasPayload);
  } else if (protocol == PROTOCOL_DOWNLOAD && code == kDownloadRefusal) {
    FUZZ_CHECK(judgement.verdict == TReplyVerdict::kRefused);
    FUZZ_CHECK(judgement.hasPayload && StartsWithReason(judgement.payload));
  } else if (protocol == PROTOCOL_STREAMING && (code == kLogReport || code == kErrorReport)) {
    FUZZ_CHECK(judgement.verdict ==
               (code == kLogReport ? TReplyVerdict::kLogReport : TReplyVerdict::kErrorReport));
    FUZZ_CHECK(judgement.hasPayload && StartsWithReason(judgement.payload));
  } else if (static_cast<int>(code) == static_cast<int>(sent[1]) + 1) {
    FUZZ_CHECK(judgement.verdict == TReplyVerdict::kAccepted);
    FUZZ_CHECK(judgement.hasPayload && judgement.payload == expectedPayload);
  } else {
    FUZZ_CHECK(judgement.verdict == TReplyVerdict::kRefused);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::int32_t protocol = std::min<std::int32_t>(data[0] & 0x03, PROTOCOL_STREAMING);
  const bool stuffedRequest = (data[0] & 0x04) != 0;
  const bool builtReply = (data[0] & 0x08) != 0;
  const std::uint8_t command = data[1];
  const std::size_t requestLength = std::min<std::size_t>(data[2], size - 3);
  const TByteVector requestPayload(data + 3, data + 3 + requestLength);
  const std::uint8_t* rest = data + 3 + requestLength;
  const std::size_t restSize = size - 3 - requestLength;

  const TPacket request = TPacket::Build(command, &requestPayload, protocol);
  TPacket sentRequest = request;
  if (stuffedRequest) sentRequest.Escape();

  TByteVector received;
  std::uint8_t code = 0;
  TByteVector body;
  if (builtReply) {
    if (restSize < 3) return 0;
    code = rest[0];
    const std::size_t bodyLength =
        std::min<std::size_t>(rest[1] | (rest[2] << 8), 2 * kReplyPayloadBytes);
    const std::uint8_t* bodyBytes = rest + 3;
    const std::size_t available = restSize - 3;
    if (bodyLength <= available) {
      body.assign(bodyBytes, bodyBytes + bodyLength);
    } else if (available > 0) {
      body.reserve(bodyLength);
      for (std::size_t i = 0; i < bodyLength; ++i) body.push_back(bodyBytes[i % available]);
    }
    TPacket reply = TPacket::Build(code, &body, protocol);
    reply.Escape();
    received = reply.Bytes();
    if (bodyLength < available)
      received.insert(received.end(), bodyBytes + bodyLength, rest + restSize);
  } else {
    received.assign(rest, rest + restSize);
  }

  const TReplyJudgement judgement = Judge(sentRequest, received);
  FUZZ_CHECK(judgement.payload.size() <= kReplyPayloadBytes);
  FUZZ_CHECK(judgement.hasPayload || judgement.payload.empty());
  FUZZ_CHECK(protocol == PROTOCOL_STREAMING || (judgement.verdict != TReplyVerdict::kLogReport &&
                                                judgement.verdict != TReplyVerdict::kErrorReport));

  // DecodeReply: the same acceptance; the payload handed over only when there is one.
  {
    TPacket copy = sentRequest;
    TByteVector payload = {0xA5};
    std::int32_t accepted = -1;
    DecodeReply(copy, received.data(), received.size(), &payload, &accepted);
    FUZZ_CHECK(accepted == judgement.Accepted());
    FUZZ_CHECK(judgement.hasPayload ? payload == judgement.payload : payload == TByteVector{0xA5});
  }

  // Only the first frame counts: up to the first flag after the first byte.
  const auto flag = std::find(received.begin() + std::min<std::size_t>(received.size(), 1),
                              received.end(), kFrameFlag);
  if (flag != received.end() && flag + 1 != received.end()) {
    const TByteVector firstFrame(received.begin(), flag + 1);
    FUZZ_CHECK(SameJudgement(Judge(sentRequest, firstFrame), judgement));
  }

  // A built reply: its first and last bytes are not stuffed, so a diagnostic reply whose code
  // is the escape byte cannot come through (nor a stuffed diagnostic request of that command).
  const bool diagEscapeByte = protocol == PROTOCOL_DIAG &&
                              (code == kFrameEscape || (stuffedRequest && command == kFrameEscape));
  if (builtReply && !diagEscapeByte) CheckBuiltReply(request, code, body, judgement);
  return 0;
}
