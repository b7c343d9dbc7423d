// The receiving half of the diagnostic port's framing.
#include "sim/diag_framer.h"

#include "protocols/packet.h"

namespace vornex::sim {
namespace {

constexpr std::uint8_t kStuffXor = 0x20;
// Command byte and two CRC bytes.
constexpr std::size_t kMinPlainFrameBytes = 3;

}  // namespace

void TDiagFramer::Reset() {
  plain_.clear();
  escaping_ = false;
  opened_ = false;
  overlong_ = false;
  stuffedLength_ = 0;
}

TFrameEvent TDiagFramer::Finish() {
  TFrameEvent event;
  event.leadingFlag = opened_;
  if (overlong_) {
    event.fault = TFrameFault::kOverlong;
  } else if (escaping_) {
    event.fault = TFrameFault::kAborted;
  } else if (plain_.size() < kMinPlainFrameBytes) {
    event.fault = TFrameFault::kTooShort;
  } else {
    const std::size_t body = plain_.size() - 2;
    const std::uint16_t stored = static_cast<std::uint16_t>(plain_[body] | (plain_[body + 1] << 8));
    if (ComputeCrc(plain_.data(), body) != stored) {
      event.fault = TFrameFault::kBadCrc;
    } else {
      event.command = plain_[0];
      event.payload.assign(plain_.begin() + 1, plain_.begin() + static_cast<std::ptrdiff_t>(body));
    }
  }
  Reset();
  return event;
}

std::vector<TFrameEvent> TDiagFramer::Feed(const std::uint8_t* bytes, std::size_t length) {
  std::vector<TFrameEvent> events;
  for (std::size_t i = 0; bytes != nullptr && i < length; ++i) {
    const std::uint8_t byte = bytes[i];
    if (byte == kFrameFlag) {
      if (stuffedLength_ == 0) {
        opened_ = true;  // an opening flag, or the second of two flags in a row
        continue;
      }
      events.push_back(Finish());
      continue;
    }
    ++stuffedLength_;
    if (overlong_) continue;
    if (stuffedLength_ > kMaxStuffedFrameBytes) {
      overlong_ = true;
      plain_.clear();
      continue;
    }
    if (escaping_) {
      plain_.push_back(static_cast<std::uint8_t>(byte ^ kStuffXor));
      escaping_ = false;
    } else if (byte == kFrameEscape) {
      escaping_ = true;
    } else {
      plain_.push_back(byte);
    }
  }
  return events;
}

}  // namespace vornex::sim
