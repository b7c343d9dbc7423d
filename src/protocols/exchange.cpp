// One framed command and its reply on a diagnostic port: the loop that every diagnostic,
// download-mode and streaming command of the station runs through, and the one rule for the
// programmer commands that must be carried out (an error report is a failure).
#include <algorithm>
#include <array>
#include <string>
#include <utility>

#include "foundation/pacing.h"
#include "protocols/protocol_limits.h"
#include "protocols/usb_device.h"

namespace vornex {

std::int32_t TUsbDevice::Exchange(TSerialPort* port, TPacket request, std::uint32_t pauseMs,
                                  TByteVector* payload) {
  TReplyJudgement judgement = ExchangeJudged(port, std::move(request), pauseMs);
  if (payload != nullptr && judgement.hasPayload) *payload = std::move(judgement.payload);
  return judgement.Accepted();
}

TReplyJudgement TUsbDevice::ExchangeJudged(TSerialPort* port, TPacket request,
                                           std::uint32_t pauseMs) {
  if (port != nullptr) port->SetEndByte(kFrameFlag);
  std::array<std::uint8_t, kExchangeBufferBytes> received{};
  for (int attempt = 0; attempt < kExchangeAttempts; ++attempt) {
    Notify(CB_ATTEMPT, nullptr);
    if (port == nullptr || !port->IsOpen()) continue;
    std::size_t got = 0;
    const TByteVector& frame = request.Bytes();
    if (port->WriteThenRead(frame.data(), frame.size(), pauseMs, received.data(), received.size(),
                            &got)) {
      return JudgeReply(request, received.data(), got);
    }
  }
  if (port != nullptr) port->Close();
  return TReplyJudgement{};
}

std::int32_t TUsbDevice::ProgrammerCommand(TPacket request, std::uint32_t pauseMs, bool* refused) {
  if (refused != nullptr) *refused = false;
  if (!diagPort_) return 0;
  const TReplyJudgement judgement = ExchangeJudged(diagPort_.get(), std::move(request), pauseMs);
  if (judgement.verdict == TReplyVerdict::kErrorReport) {
    if (refused != nullptr) *refused = judgement.intact;
    const auto& text = judgement.payload;
    NotifyMessage(std::string(text.begin(), std::find(text.begin(), text.end(), 0)));
    return 0;
  }
  return judgement.Accepted();
}

}  // namespace vornex
