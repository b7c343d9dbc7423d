// The programmer download: the boot downloader receives the programmer block by block and
// starts it; the programmer must then answer the streaming hello. When the device re-enumerates
// as the programmer starts, it is found again by its group key and reconnected. A failure tells
// the owner one text (CB_MESSAGE) naming the command, the block and its address where there is
// one, and the reply: "programmer block 3 of 9 at 0x001007F2: reply 0x03 "...", or "no reply".
#include <algorithm>
#include <string>

#include "foundation/pacing.h"
#include "foundation/text.h"
#include "protocols/hex_file.h"
#include "protocols/protocol_limits.h"
#include "protocols/usb_device.h"

namespace vornex {
namespace {

constexpr std::uint8_t kCmdGo = 0x05;
constexpr std::uint8_t kCmdWakeUp = 0x06;
constexpr std::uint8_t kCmdWriteBlock = 0x0F;
constexpr std::uint8_t kCmdClose = 0x15;
constexpr std::uint8_t kAcknowledge = 0x02;
constexpr std::uint8_t kPhaseProgrammer = 0;

constexpr const char* kTextStart = "HEX Start download hex file.";
constexpr const char* kTextBlocks = "HEX download bin file...";
constexpr const char* kTextRun = "HEX run hex code...";
constexpr const char* kTextRemoved = "The deivce may be removed.";

// The texts of a failed programmer download.
constexpr const char* kCauseNoPort = "programmer download: no diagnostic port is open";
constexpr const char* kCauseWakeUp = "programmer wake-up: %s";
constexpr const char* kCauseBlock = "programmer block %zu of %zu at 0x%08X: %s";
constexpr const char* kCauseGo = "programmer start at 0x%08X: %s";
constexpr const char* kCauseClose = "programmer close: %s";
constexpr std::size_t kCauseUnits = 255;

TPacket Request(std::uint8_t command, std::int32_t protocol, const TByteVector* payload = nullptr) {
  TPacket packet = TPacket::Build(command, payload, protocol);
  packet.Escape();
  return packet;
}

// Percent after `done` blocks of `count` full blocks: 10..90, capped at 100 (a final partial
// block goes past 90); with no full block at all it stays at 10.
std::uint8_t BlockPercent(std::size_t done, std::size_t count) {
  if (count == 0) return 10;
  const double percent = 10.0 + static_cast<double>(done) / static_cast<double>(count) * 80.0;
  return static_cast<std::uint8_t>(std::min(percent, 100.0));
}

}  // namespace

void TUsbDevice::ReportProgress(const char* text, std::uint8_t phase, std::uint8_t percent) {
  const TProgressInfo info{text, static_cast<std::int32_t>(std::char_traits<char>::length(text)),
                           phase, percent};
  Notify(CB_PROGRESS, &info);
}

std::int32_t TUsbDevice::DownloadHex(const THexImage& image) {
  if (!diagPort_) {
    NotifyMessage(kCauseNoPort);
    return 0;
  }
  ReportProgress(kTextStart, kPhaseProgrammer, 0);

  // Wake the boot downloader until it acknowledges, at most ten times.
  for (int tries = 1;; ++tries) {
    const TReplyJudgement wakeUp =
        ExchangeJudged(diagPort_.get(), Request(kCmdWakeUp, PROTOCOL_DOWNLOAD), kDownloadPauseMs);
    if (wakeUp.Accepted() == 0) {
      NotifyMessage(FormatBounded(
          kCauseUnits, kCauseWakeUp,
          ReplyWords(wakeUp, kAcknowledge, diagPort_ && diagPort_->IsOpen()).c_str()));
      return 0;
    }
    pacing::Sleep(kWakeUpPauseMs);
    if (wakeUp.code == kAcknowledge || tries >= kWakeUpTries) break;
  }

  ReportProgress(kTextBlocks, kPhaseProgrammer, 10);

  const std::size_t length = image.data.size();
  const std::size_t blockCount = length / kHexBlockBytes;
  // With a partial last block; an empty programmer is sent as one empty block.
  const std::size_t blocksSent =
      std::max<std::size_t>(1, blockCount + (length % kHexBlockBytes != 0 ? 1 : 0));
  std::size_t offset = 0;
  std::size_t done = 0;
  do {
    const std::size_t blockLength = std::min(kHexBlockBytes, length - offset);
    TByteVector payload;
    payload.reserve(6 + blockLength);
    const std::uint32_t address = image.startAddress + static_cast<std::uint32_t>(offset);
    AppendU32(payload, address, true);
    payload.push_back(static_cast<std::uint8_t>(blockLength >> 8));
    payload.push_back(static_cast<std::uint8_t>(blockLength & 0xFF));
    AppendBytes(payload, image.data.data() + offset, blockLength);
    const TReplyJudgement written = ExchangeJudged(
        diagPort_.get(), Request(kCmdWriteBlock, PROTOCOL_DOWNLOAD, &payload), kDownloadPauseMs);
    if (written.Accepted() == 0) {
      NotifyMessage(FormatBounded(
          kCauseUnits, kCauseBlock, done + 1, blocksSent, address,
          ReplyWords(written, kAcknowledge, diagPort_ && diagPort_->IsOpen()).c_str()));
      return 0;
    }
    offset += kHexBlockBytes;
    ++done;
    ReportProgress(kTextBlocks, kPhaseProgrammer, BlockPercent(done, blockCount));
  } while (offset < length);

  ReportProgress(kTextRun, kPhaseProgrammer, 95);
  TByteVector start;
  AppendU32(start, image.startAddress, true);
  const TReplyJudgement started =
      ExchangeJudged(diagPort_.get(), Request(kCmdGo, PROTOCOL_DOWNLOAD, &start), kDownloadPauseMs);
  if (started.Accepted() == 0) {
    NotifyMessage(
        FormatBounded(kCauseUnits, kCauseGo, image.startAddress,
                      ReplyWords(started, kAcknowledge, diagPort_ && diagPort_->IsOpen()).c_str()));
    return 0;
  }
  pacing::Sleep(kProgrammerStartMs);

  if (SayHelloToHexLayer(diagPort_.get()) == 0 && FindAndReconnect() == 0) return 0;

  // An error report to the close is a failure like no reply at all.
  const TReplyJudgement closed =
      diagPort_ ? ExchangeJudged(diagPort_.get(), Request(kCmdClose, PROTOCOL_STREAMING),
                                 kDownloadPauseMs)
                : TReplyJudgement{};
  if (closed.verdict != TReplyVerdict::kAccepted && closed.verdict != TReplyVerdict::kLogReport) {
    NotifyMessage(
        FormatBounded(kCauseUnits, kCauseClose,
                      ReplyWords(closed, kCmdClose + 1, diagPort_ && diagPort_->IsOpen()).c_str()));
    return 0;
  }
  ReportProgress(kTextRun, kPhaseProgrammer, 100);
  return 1;
}

// The device has re-enumerated as the programmer started: find the group with the same key
// again and connect to it. 1 when a group was found (the connection's outcome is not judged);
// otherwise "The deivce may be removed." goes to the owner.
std::int32_t TUsbDevice::FindAndReconnect() {
  const std::string key = group_.key.str();
  ClosePorts();
  pacing::Sleep(kReenumerationWaitMs);

  TUsbGroup group;
  if (!FindUSBGroup(key, group)) {
    NotifyMessage(kTextRemoved);
    return 0;
  }
  ConnectUSB(group, kReconnectOpenMs);
  return 1;
}

}  // namespace vornex
