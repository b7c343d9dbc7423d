// One framed command and its reply on a diagnostic port: the loop that every diagnostic,
// download-mode and streaming command of the station runs through.
#include <array>

#include "foundation/pacing.h"
#include "protocols/protocol_limits.h"
#include "protocols/usb_device.h"

namespace vornex {

std::int32_t TUsbDevice::Exchange(TSerialPort* port, TPacket request, std::uint32_t pauseMs,
                                  ByteVector* payload) {
  if (port != nullptr) port->SetEndByte(kFrameFlag);
  std::array<std::uint8_t, kExchangeBufferBytes> received{};
  for (int attempt = 0; attempt < kExchangeAttempts; ++attempt) {
    Notify(CB_ATTEMPT, nullptr);
    if (port == nullptr || !port->IsOpen()) continue;
    std::size_t got = 0;
    const ByteVector& frame = request.Bytes();
    if (port->WriteThenRead(frame.data(), frame.size(), pauseMs, received.data(), received.size(),
                            &got)) {
      lastReplyByte1_ = got >= 2 ? received[1] : 0;
      std::int32_t accepted = 0;
      DecodeReply(request, received.data(), got, payload, &accepted);
      return accepted;
    }
  }
  if (port != nullptr) port->Close();
  return 0;
}

}  // namespace vornex
