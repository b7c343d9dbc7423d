// Placeholder: port grouping arrives with device discovery.
#include "protocols/usb_device.h"

namespace vornex {

void TUsbDevice::SearchAllUSB(std::array<TUsbGroup, kMaxGroups>& /*groups*/, std::uint8_t& count) {
  count = 0;
}

}  // namespace vornex
