// The parts of TSerialPort that are the same on every system: failure texts, open retries,
// chunked reads and their end conditions. The system's own parts (open, close, one write, one
// read) are in posix/ and win32/.
#include "serial/serial_port.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "foundation/pacing.h"
#include "foundation/text.h"

namespace vornex {

std::string ComDevicePath(int com) {
  if (com <= 0) return {};
  return "\\\\.\\COM" + std::to_string(com);
}

bool TSerialPort::Fail(const char* message, int systemCode) {
  lastError_ =
      FormatBounded(decltype(lastError_)::kCapacity, "%s,System Code:%d", message, systemCode);
  return false;
}

bool TSerialPort::FailClosing(const char* message, int systemCode) {
  Fail(message, systemCode);
  Close();
  return false;
}

bool TSerialPort::OpenRetry() {
  const pacing::TDeadline budget(openBudgetMs_);
  for (;;) {
    if (Open()) return true;
    if (budget.Expired()) return false;
    pacing::Sleep(kOpenRetryPauseMs);
  }
}

bool TSerialPort::ReadChunk(std::uint8_t* buffer, std::size_t capacity, std::size_t* got) {
  *got = 0;
  if (capacity == 0) return false;  // not even the first byte would fit

  // The first byte and whatever else is queued behind it arrive in one read: the same bytes
  // as a one-byte read followed by a read of the queued count, in one system call.
  std::size_t count = 0;
  if (!Read(buffer, capacity, &count) || count == 0) return false;
  if (count < capacity) buffer[count] = 0;
  *got = count;
  return true;
}

bool TSerialPort::EndConditionMet(const std::uint8_t* buffer, std::size_t total,
                                  std::size_t chunkStart, std::size_t chunkCount) const {
  if (endMode_ == TEndMode::kReply) {
    return endReply_(std::string_view(reinterpret_cast<const char*>(buffer), total));
  }
  if (endOffset_ >= 0 && total <= static_cast<std::size_t>(endOffset_)) return false;
  if (endMode_ == TEndMode::kBytes) {
    // Only the chunk that just came is searched, and within it only the positions from the
    // offset on: with offset 1 the opening flag of a frame never ends its own read, also when
    // it arrives together with the first bytes of the frame.
    const std::size_t from = std::max<std::size_t>(chunkStart, endOffset_ > 0 ? endOffset_ : 0);
    const std::uint8_t* chunk = buffer + from;
    const std::uint8_t* chunkEnd = buffer + chunkStart + chunkCount;
    if (chunk >= chunkEnd) return false;
    return std::any_of(endBytes_.begin(), endBytes_.end(), [&](std::uint8_t end) {
      return std::find(chunk, chunkEnd, end) != chunkEnd;
    });
  }
  // The received bytes from the offset on, as a text that ends at the first zero byte. The
  // search never goes past the bytes received, also when a full buffer holds no zero byte.
  const std::size_t from = endOffset_ > 0 ? static_cast<std::size_t>(endOffset_) : 0;
  std::string_view text(reinterpret_cast<const char*>(buffer) + from, total - from);
  text = text.substr(0, text.find('\0'));
  return std::any_of(endTexts_.begin(), endTexts_.end(), [&](const std::string& end) {
    return text.find(end) != std::string_view::npos;
  });
}

bool TSerialPort::ReadUntil(std::uint8_t* buffer, std::size_t capacity, std::size_t* total) {
  // Each setter clears the other conditions: at most one of them is there.
  const bool endActive = !endBytes_.empty() || !endTexts_.empty() || endReply_ != nullptr;
  std::size_t received = 0;
  bool ok = true;
  for (;;) {
    std::size_t chunk = 0;
    ok = ReadChunk(buffer + received, capacity - received, &chunk) && ok;
    if (chunk == 0 || !ok) break;  // a failed chunk's bytes are not counted
    const std::size_t chunkStart = received;
    received += chunk;
    if (endActive && EndConditionMet(buffer, received, chunkStart, chunk)) break;
    if (received >= capacity) break;
  }
  *total = received;
  return ok && received > 0;
}

bool TSerialPort::WriteThenRead(const std::uint8_t* request, std::size_t count,
                                std::uint32_t pauseMs, std::uint8_t* reply, std::size_t capacity,
                                std::size_t* got) {
  *got = 0;
  if (!opened_) return false;
  if (!Write(request, count)) return false;
  if (pauseMs > 0) pacing::Sleep(pauseMs);
  return ReadUntil(reply, capacity, got);
}

void TSerialPort::SetEndByte(std::uint8_t byte) {
  SetEndBytes({byte}, 1);
}

void TSerialPort::SetEndBytes(std::vector<std::uint8_t> bytes, std::int32_t offset) {
  ClearEnd();
  endBytes_ = std::move(bytes);
  endOffset_ = offset;
}

void TSerialPort::SetEndTexts(std::vector<std::string> texts, std::int32_t offset) {
  ClearEnd();
  endTexts_ = std::move(texts);
  endOffset_ = offset;
  endMode_ = TEndMode::kTexts;
}

void TSerialPort::SetEndReply(TReplyComplete complete) {
  ClearEnd();
  endReply_ = std::move(complete);
  endMode_ = TEndMode::kReply;
}

void TSerialPort::ClearEnd() {
  endBytes_.clear();
  endTexts_.clear();
  endReply_ = nullptr;
  endOffset_ = 0;
  endMode_ = TEndMode::kBytes;
}

}  // namespace vornex
