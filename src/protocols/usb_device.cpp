// The device object: construction with its own log, notifications, tracing, release.
#include "protocols/usb_device.h"

#include <cstdarg>

#include "foundation/pacing.h"
#include "foundation/text.h"
#include "protocols/protocol_limits.h"

namespace vornex {

TUsbDevice::TUsbDevice(std::int32_t deviceNumber) : deviceNumber_(deviceNumber) {
  log_ = TFsLogExist::Create(FormatBounded(63, "ROrUdi_%d.txt", deviceNumber));
}

TUsbDevice::~TUsbDevice() {
  pacing::Sleep(kDeviceReleasePauseMs);
  if (log_) log_->LogStop();
}

void TUsbDevice::Notify(std::int32_t status, const void* data) const {
  if (callback_ != nullptr) callback_(user_, status, data);
}

void TUsbDevice::ReceiveRelay(void* user, std::int32_t portId, const std::uint8_t* bytes,
                              std::int32_t count) {
  const auto* device = static_cast<const TUsbDevice*>(user);
  if (device == nullptr) return;
  const TReceivedBytes received{portId, bytes, count};
  device->Notify(CB_RECEIVED, &received);
}

void TUsbDevice::Trace(const char* format, ...) const {
  if (!log_) return;
  std::va_list args;
  va_start(args, format);
  log_->LogPrintfV(format, args);
  va_end(args);
}

}  // namespace vornex
