// Splits the byte stream that arrives on a simulated diagnostic port into frames, the way the
// device's receiver does: a 0x7E flag ends a frame (a flag with nothing before it merely opens
// one, so frames with and without an opening flag both pass), 0x7D stuffing is undone, and the
// CRC-16/X-25 over command and payload must match the two bytes before the closing flag. Frames
// that fail are reported with their fault and never stop the receiver: whatever comes after
// the next flag is judged afresh. Pure: bytes in, events out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocols/packet.h"

namespace vornex::sim {

// A stuffed frame longer than this cannot be a request; its bytes are dropped up to the next
// flag (the largest request, a 1024-byte stream write, is below 2100 bytes even fully stuffed).
constexpr std::size_t kMaxStuffedFrameBytes = 4096;

enum class TFrameFault {
  kNone,
  kBadCrc,    // a whole frame whose CRC does not match
  kTooShort,  // fewer than command + CRC bytes between two flags
  kOverlong,  // more than kMaxStuffedFrameBytes without a flag
  kAborted,   // an escape byte right before the closing flag
};

struct TFrameEvent {
  TFrameFault fault = TFrameFault::kNone;
  std::uint8_t command = 0;  // valid frames only
  TByteVector payload;       // valid frames only: the bytes between command and CRC
  bool leadingFlag = false;  // the frame was opened by a flag
};

class TDiagFramer {
 public:
  // Feeds received bytes; returns the frames (and faults) that they complete, in order.
  std::vector<TFrameEvent> Feed(const std::uint8_t* bytes, std::size_t length);
  // Forgets a partly received frame (the port went away).
  void Reset();

 private:
  TFrameEvent Finish();

  TByteVector plain_;
  bool escaping_ = false;
  bool opened_ = false;
  bool overlong_ = false;
  std::size_t stuffedLength_ = 0;
};

}  // namespace vornex::sim
