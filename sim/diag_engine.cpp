// The three layers of a simulated diagnostic port.
#include "sim/diag_engine.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace vornex::sim {
namespace {

// Firmware layer.
constexpr std::uint8_t kDiagHello = 0x00;
constexpr std::uint8_t kDiagNvRead = 0x26;
constexpr std::uint8_t kDiagNvWrite = 0x27;
constexpr std::uint8_t kDiagDownloadMode = 0x3A;
constexpr std::uint8_t kDiagBadCommand = 0x13;
constexpr std::uint8_t kDiagBadLength = 0x15;
// Model name at the start of the firmware's hello reply, then the version, each zero-padded.
constexpr const char* kModelName = "VX730";
constexpr std::size_t kModelNameBytes = 8;
// Start of a refused request that the firmware echoes after its error code.
constexpr std::size_t kDiagEchoBytes = 64;

// Boot downloader.
constexpr std::uint8_t kDownloadGo = 0x05;
constexpr std::uint8_t kDownloadWakeUp = 0x06;
constexpr std::uint8_t kDownloadHello = 0x0C;
constexpr std::uint8_t kDownloadWrite = 0x0F;
constexpr std::uint8_t kDownloadAck = 0x02;
constexpr std::uint8_t kDownloadNak = 0x03;
constexpr std::size_t kWriteHeaderBytes = 6;

// Programmer.
constexpr std::uint8_t kStreamHello = 0x01;
constexpr std::uint8_t kStreamWrite = 0x07;
constexpr std::uint8_t kStreamReset = 0x0B;
constexpr std::uint8_t kStreamClose = 0x15;
constexpr std::uint8_t kStreamLogReport = 0x0D;
constexpr std::uint8_t kStreamErrorReport = 0x0E;
constexpr std::uint8_t kProtocolVersion = 0x03;
constexpr std::uint8_t kCompatibleVersion = 0x02;
constexpr std::uint32_t kMaxBlockBytes = 1024;
constexpr const char* kFlashName = "VXNOR";
constexpr std::uint8_t kErasedByte = 0xFF;

std::uint32_t ReadBE32(const TByteVector& bytes, std::size_t at) {
  return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) |
         (std::uint32_t{bytes[at + 2]} << 8) | std::uint32_t{bytes[at + 3]};
}

std::uint32_t ReadLE32(const TByteVector& bytes, std::size_t at) {
  return std::uint32_t{bytes[at]} | (std::uint32_t{bytes[at + 1]} << 8) |
         (std::uint32_t{bytes[at + 2]} << 16) | (std::uint32_t{bytes[at + 3]} << 24);
}

void AppendLE16(TByteVector& bytes, std::uint16_t value) {
  bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
  bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}

void AppendText(TByteVector& bytes, std::string_view text) {
  bytes.insert(bytes.end(), text.begin(), text.end());
}

std::string Hex2(std::uint8_t value) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", value);
  return text;
}

std::string Hex8(std::uint32_t value) {
  char text[11];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

TEngineResult Reply(std::uint8_t code, TByteVector payload = {}, bool leadingFlag = false) {
  TEngineResult result;
  result.reply = TReplyFrame{code, std::move(payload), leadingFlag};
  return result;
}

// A reply frame whose payload is a zero-terminated text, opened with a flag.
TEngineResult TextReply(std::uint8_t code, std::string_view text) {
  TByteVector payload(text.begin(), text.end());
  payload.push_back(0);
  return Reply(code, std::move(payload), true);
}

TEngineResult Acknowledge() {
  return Reply(kDownloadAck, {}, true);
}
TEngineResult Refuse(std::string_view reason) {
  return TextReply(kDownloadNak, reason);
}
TEngineResult ErrorReport(std::string_view text) {
  return TextReply(kStreamErrorReport, text);
}

// The firmware's answer to a request it cannot carry out: the error code, then the request.
TEngineResult DiagError(std::uint8_t code, const TFrameEvent& frame) {
  TByteVector payload{frame.command};
  const std::size_t echoed = std::min(frame.payload.size(), kDiagEchoBytes - 1);
  payload.insert(payload.end(), frame.payload.begin(),
                 frame.payload.begin() + static_cast<std::ptrdiff_t>(echoed));
  return Reply(code, std::move(payload));
}

}  // namespace

const char* LayerName(TLayer layer) {
  switch (layer) {
    case TLayer::kFirmware:
      return "firmware";
    case TLayer::kDownload:
      return "download";
    case TLayer::kProgrammer:
      return "programmer";
  }
  return "firmware";
}

TByteVector EncodeReply(const TReplyFrame& reply, bool corruptCrc) {
  const std::int32_t layout = reply.leadingFlag ? PROTOCOL_DOWNLOAD : PROTOCOL_DIAG;
  TPacket packet = TPacket::Build(reply.code, &reply.payload, layout);
  if (corruptCrc) {
    TByteVector plain = packet.Bytes();
    plain[plain.size() - 3] ^= 0xA5;  // CRC low byte, before the closing flag
    packet = TPacket::FromReceived(plain.data(), plain.size(), layout);
  }
  packet.Escape();
  return packet.Bytes();
}

bool TSparseMemory::Write(std::uint32_t address, const std::uint8_t* bytes, std::size_t length) {
  const std::uint64_t start = address;
  const std::uint64_t end = start + length;
  if (end > (std::uint64_t{1} << 32)) return false;
  if (length == 0) return true;

  // Every segment that overlaps or touches [start, end) merges into one.
  std::uint64_t mergedStart = start;
  std::uint64_t mergedEnd = end;
  auto first = segments_.upper_bound(start);
  if (first != segments_.begin()) {
    auto before = std::prev(first);
    if (before->first + before->second.size() >= start) first = before;
  }
  auto last = first;
  while (last != segments_.end() && last->first <= end) {
    mergedStart = std::min(mergedStart, last->first);
    mergedEnd = std::max<std::uint64_t>(mergedEnd, last->first + last->second.size());
    ++last;
  }
  std::uint64_t replaced = 0;
  for (auto it = first; it != last; ++it) replaced += it->second.size();
  const std::uint64_t newTotal = total_ - replaced + (mergedEnd - mergedStart);
  if (newTotal > kRamCapacityBytes) return false;

  TByteVector merged(static_cast<std::size_t>(mergedEnd - mergedStart));
  for (auto it = first; it != last; ++it) {
    std::copy(it->second.begin(), it->second.end(),
              merged.begin() + static_cast<std::ptrdiff_t>(it->first - mergedStart));
  }
  std::copy(bytes, bytes + length,
            merged.begin() + static_cast<std::ptrdiff_t>(start - mergedStart));
  segments_.erase(first, last);
  segments_.emplace(mergedStart, std::move(merged));
  total_ = newTotal;
  return true;
}

bool TSparseMemory::Holds(std::uint32_t address, const TByteVector& expected) const {
  if (expected.empty()) return true;
  auto it = segments_.upper_bound(address);
  if (it == segments_.begin()) return false;
  --it;
  const std::uint64_t offset = address - it->first;
  if (offset + expected.size() > it->second.size()) return false;
  return std::equal(expected.begin(), expected.end(),
                    it->second.begin() + static_cast<std::ptrdiff_t>(offset));
}

bool TSparseMemory::Written(std::uint32_t address) const {
  auto it = segments_.upper_bound(address);
  if (it == segments_.begin()) return false;
  --it;
  return address - it->first < it->second.size();
}

void TSparseMemory::Clear() {
  segments_.clear();
  total_ = 0;
}

void TDiagEngine::Reboot() {
  layer_ = model_.firmwareErased ? TLayer::kDownload : TLayer::kFirmware;
  ram_.Clear();
  staged_.clear();
  streamOpen_ = false;
  openStreamBytes_ = 0;
  streamedBytes_ = 0;
}

TEngineResult TDiagEngine::Handle(const TFrameEvent& frame) {
  model_.Count(std::string(LayerName(layer_)) + ":" + Hex2(frame.command));
  switch (layer_) {
    case TLayer::kFirmware:
      return Firmware(frame);
    case TLayer::kDownload:
      return Download(frame);
    case TLayer::kProgrammer:
      return Programmer(frame);
  }
  return {};
}

TEngineResult TDiagEngine::Firmware(const TFrameEvent& frame) {
  switch (frame.command) {
    case kDiagHello: {
      TByteVector payload;
      AppendText(payload, kModelName);
      payload.resize(kModelNameBytes, 0);
      AppendText(payload, std::string_view(model_.firmwareVersion).substr(0, kImageTagBytes));
      payload.resize(kModelNameBytes + kImageTagBytes, 0);
      return Reply(kDiagHello, std::move(payload));
    }
    case kDiagNvRead:
    case kDiagNvWrite:
      return NvAccess(frame);
    case kDiagDownloadMode: {
      TEngineResult result = Reply(kDiagDownloadMode);
      layer_ = TLayer::kDownload;
      ram_.Clear();
      result.event = TLifeEvent::kEnteredDownload;
      return result;
    }
    default:
      return DiagError(kDiagBadCommand, frame);
  }
}

TEngineResult TDiagEngine::NvAccess(const TFrameEvent& frame) {
  if (frame.payload.size() != kNvRequestBytes) return DiagError(kDiagBadLength, frame);
  const auto item = static_cast<std::uint16_t>(frame.payload[0] | (frame.payload[1] << 8));
  TByteVector payload(frame.payload.begin(), frame.payload.begin() + 2 + kNvItemBytes);
  std::uint16_t status = kNvStatusDone;
  if (frame.command == kDiagNvWrite) {
    if (faults_.nvWriteFailItems.contains(item)) {
      status = kNvStatusFailed;
    } else if (!faults_.nvStuckItems.contains(item)) {
      TNvData data{};
      std::copy_n(frame.payload.begin() + 2, kNvItemBytes, data.begin());
      model_.nvItems[item] = data;
    }
  } else if (faults_.nvReadsFail) {
    status = kNvStatusFailed;
  } else if (auto it = model_.nvItems.find(item); it == model_.nvItems.end()) {
    status = kNvStatusInactive;
  } else {
    std::copy(it->second.begin(), it->second.end(), payload.begin() + 2);
  }
  AppendLE16(payload, status);
  return Reply(frame.command, std::move(payload));
}

TEngineResult TDiagEngine::Download(const TFrameEvent& frame) {
  const TByteVector& p = frame.payload;
  switch (frame.command) {
    case kDownloadWakeUp:
    case kDownloadHello:
      return Acknowledge();
    case kDownloadWrite: {
      if (p.size() < kWriteHeaderBytes) return Refuse("write block too short");
      const std::uint32_t address = ReadBE32(p, 0);
      const std::size_t length = (std::size_t{p[4]} << 8) | p[5];
      if (length != p.size() - kWriteHeaderBytes) return Refuse("write block length mismatch");
      if (faults_.refuseBlocks) return Refuse("write block refused");
      if (!ram_.Write(address, p.data() + kWriteHeaderBytes, length)) {
        return Refuse("write block outside RAM");
      }
      return Acknowledge();
    }
    case kDownloadGo: {
      if (p.size() != 4) return Refuse("go needs a 4-byte address");
      const std::uint32_t address = ReadBE32(p, 0);
      if (programmer_ != nullptr) {
        if (address != programmer_->startAddress) return Refuse("no programmer at this address");
        if (!ram_.Holds(address, programmer_->data)) return Refuse("programmer image mismatch");
      } else if (!ram_.Written(address)) {
        return Refuse("nothing to run at this address");
      }
      TEngineResult result = Acknowledge();
      layer_ = TLayer::kProgrammer;
      staged_.clear();
      streamOpen_ = false;
      openStreamBytes_ = 0;
      result.event = TLifeEvent::kProgrammerStarted;
      return result;
    }
    default:
      return Refuse("invalid command " + Hex2(frame.command));
  }
}

TEngineResult TDiagEngine::Programmer(const TFrameEvent& frame) {
  switch (frame.command) {
    case kStreamHello: {
      const TByteVector& p = frame.payload;
      if (p.size() < kMagicBytes || std::memcmp(p.data(), kHostMagic, kMagicBytes) != 0) {
        return ErrorReport("invalid hello");
      }
      TByteVector payload(kTargetMagic, kTargetMagic + kMagicBytes);
      payload.push_back(kProtocolVersion);
      payload.push_back(kCompatibleVersion);
      AppendU32(payload, kMaxBlockBytes, false);
      AppendU32(payload, 0, false);  // flash base address
      payload.push_back(static_cast<std::uint8_t>(std::strlen(kFlashName)));
      AppendText(payload, kFlashName);
      AppendLE16(payload, 1);  // window size
      return Reply(kStreamHello + 1, std::move(payload));
    }
    case kStreamWrite:
      return StreamWrite(frame);
    case kStreamClose: {
      if (faults_.errorReportOnClose) return ErrorReport("flash close failed");
      if (streamOpen_) {
        model_.InstallFirmware(std::move(staged_));
        staged_.clear();
        streamOpen_ = false;
        openStreamBytes_ = 0;
      }
      return Reply(kStreamClose + 1);
    }
    case kStreamReset: {
      if (faults_.errorReportOnReset) return ErrorReport("reset refused");
      TEngineResult result = Reply(kStreamReset + 1);
      result.event = TLifeEvent::kReset;
      return result;
    }
    default:
      return ErrorReport("invalid command " + Hex2(frame.command));
  }
}

TEngineResult TDiagEngine::StreamWrite(const TFrameEvent& frame) {
  const TByteVector& p = frame.payload;
  if (p.size() < 4) return ErrorReport("stream write too short");
  const std::uint32_t offset = ReadLE32(p, 0);
  const std::size_t length = p.size() - 4;
  if (std::uint64_t{offset} + length > flashBytes_) {
    return ErrorReport("stream write beyond the end of flash at " + Hex8(offset));
  }
  if (faults_.unplugAfterBytes && streamedBytes_ + length >= *faults_.unplugAfterBytes) {
    TEngineResult result;
    result.event = TLifeEvent::kUnplugged;
    return result;
  }
  streamedBytes_ += length;
  if (faults_.streamReplies == TStreamReplies::kErrorReport) {
    return ErrorReport("flash write failed at " + Hex8(offset));
  }
  if (staged_.size() < offset + length) staged_.resize(offset + length, kErasedByte);
  std::copy(p.begin() + 4, p.end(), staged_.begin() + offset);
  streamOpen_ = true;
  openStreamBytes_ += length;
  if (faults_.streamReplies == TStreamReplies::kLogReport) {
    return TextReply(kStreamLogReport,
                     "wrote " + std::to_string(length) + " bytes at " + Hex8(offset));
  }
  TByteVector payload;
  AppendU32(payload, offset, false);
  return Reply(kStreamWrite + 1, std::move(payload));
}

}  // namespace vornex::sim
