// The flash image download: one stream-write per 1024-byte block to the running programmer,
// each answered before the next, then the closing command. Progress goes to the owner as phase
// 30, about 95 reports per image whatever its size; the block arithmetic goes to the log. The
// owner's stop flag ends the stream between two blocks.
//
// A failure ends the stream unclosed and tells the owner one text (CB_MESSAGE) with the block,
// its address and the reply: "image block 2000 of 58594 at 0x001F3C00: no reply". A stream
// write carries the absolute flash offset of its block, so writing a block a second time puts
// the same bytes in the same place: a reply that has the write's code but a bad checksum (the
// block may or may not have been written) makes the block be sent again, as NV requests are,
// up to the exchange's attempt count. Every other reply is final, and so is every reply to the
// close, which is not known to be harmless twice.
#include <algorithm>
#include <string>

#include "foundation/text.h"
#include "protocols/protocol_limits.h"
#include "protocols/usb_device.h"

namespace vornex {
namespace {

constexpr std::uint8_t kCmdStreamWrite = 0x07;
constexpr std::uint8_t kCmdClose = 0x15;
constexpr std::uint8_t kPhaseImage = 30;
constexpr const char* kTextImage = "K730 Download ALL.mbn image";

// The texts of a failed stream.
constexpr const char* kCauseBlock = "image block %zu of %zu at 0x%08X: %s";
constexpr const char* kCauseClose = "image close after %zu blocks: %s";
constexpr std::size_t kCauseUnits = 255;

// Percent after block k of `count`: 5..100; an empty image (no full block) reports 100.
std::uint8_t ImagePercent(std::size_t k, std::size_t count) {
  if (count == 0) return 100;
  const double percent = 5.0 + static_cast<double>(k) / static_cast<double>(count) * 95.0;
  return static_cast<std::uint8_t>(std::min(percent, 100.0));
}

TPacket Request(std::uint8_t command, const TByteVector* payload) {
  TPacket packet = TPacket::Build(command, payload, PROTOCOL_STREAMING);
  packet.Escape();
  return packet;
}

// Carried out: accepted, or answered with a log report. An error report is a refusal.
bool CarriedOut(const TReplyJudgement& reply) {
  return reply.verdict == TReplyVerdict::kAccepted || reply.verdict == TReplyVerdict::kLogReport;
}

// The reply was damaged on its way: the code of the write's reply with a bad checksum.
bool Damaged(const TReplyJudgement& reply, const TSerialPort* port) {
  return reply.verdict == TReplyVerdict::kRefused && port != nullptr && port->IsOpen() &&
         !reply.hasPayload && reply.code == kCmdStreamWrite + 1;
}

}  // namespace

std::int32_t TUsbDevice::DownloadAllImage(const std::vector<std::uint8_t>& image) {
  ReportProgress(kTextImage, kPhaseImage, 0);
  ReportProgress(kTextImage, kPhaseImage, 5);

  const std::size_t length = image.size();
  const bool whole = length % kImageBlockBytes == 0;
  const std::size_t blockCount = length / kImageBlockBytes + (whole ? 0 : 1);
  Trace(whole ? "block_count = %d" : "block_count1 = %d", static_cast<int>(blockCount));
  const std::size_t reportStep = std::max<std::size_t>(1, blockCount / 95);
  Trace("lImageLen = %d", static_cast<int>(length));
  // An empty image is sent as one empty block.
  const std::size_t blocksSent = std::max<std::size_t>(1, blockCount);

  // Without a diagnostic port nothing is sent: no reply.
  const auto ask = [this](const TPacket& request) {
    return diagPort_ ? ExchangeJudged(diagPort_.get(), request, kDownloadPauseMs)
                     : TReplyJudgement{};
  };

  TByteVector payload;
  payload.reserve(4 + kImageBlockBytes);
  std::size_t offset = 0;
  std::size_t next = 0;
  std::size_t done = 0;
  for (;;) {
    if (done > 0 && stop_ != nullptr && stop_->load()) {
      Trace("stream stopped at offset %d", static_cast<int>(offset));
      return 0;
    }
    const std::size_t blockLength = std::min(kImageBlockBytes, length - offset);
    payload.clear();
    AppendU32(payload, static_cast<std::uint32_t>(offset), false);
    AppendBytes(payload, image.data() + offset, blockLength);
    const TPacket request = Request(kCmdStreamWrite, &payload);
    TReplyJudgement reply = ask(request);
    for (int asked = 1; asked < kExchangeAttempts && Damaged(reply, diagPort_.get()); ++asked) {
      Trace("image block %d at 0x%08X: reply with a bad checksum, sent again",
            static_cast<int>(done + 1), static_cast<unsigned>(offset));
      reply = ask(request);
    }
    // A block not known to be written ends the stream: the image must not be closed as if it
    // had been.
    if (!CarriedOut(reply)) {
      NotifyMessage(FormatBounded(
          kCauseUnits, kCauseBlock, done + 1, blocksSent, static_cast<unsigned>(offset),
          ReplyWords(reply, kCmdStreamWrite + 1, diagPort_ && diagPort_->IsOpen()).c_str()));
      return 0;
    }
    ++done;
    next = offset + kImageBlockBytes;
    if (done % reportStep == 0)
      ReportProgress(kTextImage, kPhaseImage, ImagePercent(done, blockCount));
    if (next >= length) break;
    offset = next;
  }
  Trace("index = %d", static_cast<int>(next));

  const TReplyJudgement closed = ask(Request(kCmdClose, nullptr));
  if (!CarriedOut(closed)) {
    NotifyMessage(
        FormatBounded(kCauseUnits, kCauseClose, done,
                      ReplyWords(closed, kCmdClose + 1, diagPort_ && diagPort_->IsOpen()).c_str()));
    return 0;
  }
  ReportProgress(kTextImage, kPhaseImage, 100);
  return 1;
}

}  // namespace vornex
