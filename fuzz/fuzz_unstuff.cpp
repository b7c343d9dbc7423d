// Stuffing and unstuffing of frames (TPacket::FromReceived, Escape, Unescape).
//
// Input: any bytes. As received bytes they are unstuffed, which never makes them longer. As a
// plain frame they are stuffed, which leaves no flag between the first and the last byte, and
// unstuffed again, which gives back the frame whenever its first and last bytes are not the
// escape byte (those two are never stuffed).
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "protocols/packet.h"

using namespace vornex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const TByteVector original(data, data + size);

  TPacket received = TPacket::FromReceived(data, size, PROTOCOL_DIAG);
  FUZZ_CHECK(!received.IsEscaped() && received.Bytes() == original);
  received.Unescape();  // plain: nothing to undo
  FUZZ_CHECK(received.Bytes() == original);
  received.SetEscaped(true);
  received.Unescape();
  FUZZ_CHECK(!received.IsEscaped() && received.Bytes().size() <= size);

  TPacket frame = TPacket::FromReceived(data, size, PROTOCOL_DIAG);
  frame.Escape();
  FUZZ_CHECK(frame.IsEscaped());
  const TByteVector stuffed = frame.Bytes();
  if (size >= 2) {
    const std::size_t special = static_cast<std::size_t>(
        std::count_if(original.begin() + 1, original.end() - 1,
                      [](std::uint8_t b) { return b == kFrameFlag || b == kFrameEscape; }));
    FUZZ_CHECK(stuffed.size() == size + special);
    FUZZ_CHECK(stuffed.front() == original.front() && stuffed.back() == original.back());
    FUZZ_CHECK(std::find(stuffed.begin() + 1, stuffed.end() - 1, kFrameFlag) == stuffed.end() - 1);
  } else {
    FUZZ_CHECK(stuffed == original);
  }
  frame.Escape();  // already stuffed: nothing to do
  FUZZ_CHECK(frame.Bytes() == stuffed);

  frame.Unescape();
  FUZZ_CHECK(!frame.IsEscaped());
  if (size == 0 || (original.front() != kFrameEscape && original.back() != kFrameEscape)) {
    FUZZ_CHECK(frame.Bytes() == original);
  }
  return 0;
}
