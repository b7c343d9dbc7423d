// The flash image download: one stream-write per 1024-byte block to the running programmer,
// each answered before the next, then the closing command. Progress goes to the owner as phase
// 30, about 95 reports per image whatever its size; the block arithmetic goes to the log. The
// owner's stop flag ends the stream between two blocks.
#include <algorithm>
#include <utility>

#include "protocols/protocol_limits.h"
#include "protocols/usb_device.h"

namespace vornex {
namespace {

constexpr std::uint8_t kCmdStreamWrite = 0x07;
constexpr std::uint8_t kCmdClose = 0x15;
constexpr std::uint8_t kPhaseImage = 30;
constexpr const char* kTextImage = "K730 Download ALL.mbn image";

// Percent after block k of `count`: 5..100; an empty image (no full block) reports 100.
std::uint8_t ImagePercent(std::size_t k, std::size_t count) {
  if (count == 0) return 100;
  const double percent = 5.0 + static_cast<double>(k) / static_cast<double>(count) * 95.0;
  return static_cast<std::uint8_t>(std::min(percent, 100.0));
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

  ByteVector payload;
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
    TPacket request = TPacket::Build(kCmdStreamWrite, &payload, PROTOCOL_STREAMING);
    request.Escape();
    // A block answered with an error report was not written: the image must not be closed as
    // if it had been.
    if (ProgrammerCommand(std::move(request), kDownloadPauseMs) == 0) return 0;
    ++done;
    next = offset + kImageBlockBytes;
    if (done % reportStep == 0)
      ReportProgress(kTextImage, kPhaseImage, ImagePercent(done, blockCount));
    if (next >= length) break;
    offset = next;
  }
  Trace("index = %d", static_cast<int>(next));

  TPacket close = TPacket::Build(kCmdClose, nullptr, PROTOCOL_STREAMING);
  close.Escape();
  if (ProgrammerCommand(std::move(close), kDownloadPauseMs) == 0) return 0;
  ReportProgress(kTextImage, kPhaseImage, 100);
  return 1;
}

}  // namespace vornex
