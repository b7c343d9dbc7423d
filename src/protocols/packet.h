// Frames of the three device protocols on a diagnostic port: the running firmware's diagnostic
// protocol, the boot downloader's download-mode protocol and the programmer's streaming
// protocol. A frame is a command byte, a payload, a CRC-16/X-25 (low byte first) and a 0x7E
// flag; download and streaming frames also open with a flag. 0x7E and 0x7D inside a frame are
// stuffed as 0x7D 0x5E and 0x7D 0x5D. Everything here is pure: bytes in, bytes out, no I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/text.h"

namespace vornex {

using TByteVector = std::vector<std::uint8_t>;

constexpr std::int32_t PROTOCOL_DIAG = 0;
constexpr std::int32_t PROTOCOL_DOWNLOAD = 1;
constexpr std::int32_t PROTOCOL_STREAMING = 2;

constexpr std::uint8_t kFrameFlag = 0x7E;
constexpr std::uint8_t kFrameEscape = 0x7D;
// Largest reply payload a caller's buffer takes.
constexpr std::size_t kReplyPayloadBytes = 2048;

// CRC-16/X-25 (reflected 0x1021, initial 0xFFFF, final XOR 0xFFFF); check value 0x906E.
std::uint16_t ComputeCrc(const std::uint8_t* bytes, std::size_t length);

// Thrown by EraseRange when the range runs past the end of the vector.
struct __ErrException {
  std::int32_t code = 0;
  TFixedText<256> text;
};

// Byte-vector operations shared by the protocol and AT code.
void AppendByte(TByteVector& bytes, std::uint8_t byte);
void AppendBytes(TByteVector& bytes, const std::uint8_t* data, std::size_t count);
// Four bytes, most significant first when bigEndian.
void AppendU32(TByteVector& bytes, std::uint32_t value, bool bigEndian);
// Erases [index, index + count); throws __ErrException {255, "overload :index + count."} and
// erases nothing when the range does not lie inside the vector.
void EraseRange(TByteVector& bytes, std::int32_t index, std::int32_t count);
// Index of the first occurrence of the pattern, or -1 (also for an empty vector or pattern).
std::int32_t FindBytes(const TByteVector& bytes, const std::uint8_t* pattern, std::size_t length);
// FindBytes, then erases the occurrence; returns its index or -1.
std::int32_t FindAndErase(TByteVector& bytes, const std::uint8_t* pattern, std::size_t length);
void ClearBytes(TByteVector& bytes);

class TPacket {
 public:
  // The plain frame of the protocol's layout with its CRC.
  static TPacket Build(std::uint8_t command, const TByteVector* payload, std::int32_t protocol);
  // A copy of received bytes, marked plain; the caller marks it escaped before Unescape.
  static TPacket FromReceived(const std::uint8_t* bytes, std::size_t length, std::int32_t protocol);

  // Stuffs every byte but the first and the last; nothing when already stuffed.
  void Escape();
  // Undoes the stuffing; nothing when plain. A 0x7D before any other byte stands for that byte
  // XOR 0x20 (as in asynchronous HDLC); a 0x7D in the last position is dropped.
  void Unescape();

  // bytes[index] + 256 * bytes[index + 1]; 0 when the two bytes are not both inside the frame.
  std::uint16_t ReadU16LE(std::uint32_t index) const;

  const TByteVector& Bytes() const { return bytes_; }
  std::int32_t Protocol() const { return protocol_; }
  bool IsEscaped() const { return escaped_; }
  void SetEscaped(bool escaped) { escaped_ = escaped; }

 private:
  TByteVector bytes_;
  std::int32_t protocol_ = PROTOCOL_DIAG;
  bool escaped_ = false;
};

// How a reply stands against its request.
enum class TReplyVerdict {
  kAccepted,     // the reply the request asks for
  kRefused,      // anything else: too short, wrong code, bad CRC, a download refusal (0x03)
  kErrorReport,  // a streaming error report (0x0E): the programmer did not carry the command out
  kLogReport,    // a streaming log report (0x0D): the programmer carried the command out
};

// One judged reply. hasPayload is false (and payload empty) when the reply carries nothing for
// the caller: a download acknowledge, or a reply refused for its form.
struct TReplyJudgement {
  TReplyVerdict verdict = TReplyVerdict::kRefused;
  std::uint8_t code = 0;  // the reply's code byte (after an opening flag); 0 when too short
  TByteVector payload;
  bool hasPayload = false;
  // The frame's checksum matched. Always so for an accepted reply judged by its code and CRC; a
  // text report is taken without its CRC, and this tells whether it arrived intact.
  bool intact = false;

  // The frame layer's acceptance: 1 for every verdict but kRefused, 0 for that.
  std::int32_t Accepted() const { return verdict == TReplyVerdict::kRefused ? 0 : 1; }
};

// Judges a received reply against its request (which is unescaped on the way) by the rules of
// DecodeReply below, telling the two streaming text reports apart from an acceptance.
TReplyJudgement JudgeReply(TPacket& request, const std::uint8_t* received, std::size_t length);

// A judged reply in words for a failure's cause, against the code that was expected: "no reply"
// when the port was closed after the exchange's attempts, "reply 0x03 "<reason>"", "reply 0x08
// with a bad checksum", "reply 0x05 instead of 0x08" ...
std::string ReplyWords(const TReplyJudgement& reply, std::uint8_t expected, bool portOpen);

// Judges a received reply against its request (which is unescaped on the way). Sets *accepted
// to 1 or 0 and, where the reply carries one, fills *payload (at most kReplyPayloadBytes):
// - fewer than 4 bytes: refused;
// - diagnostic: same command byte, good CRC; payload = bytes between command and CRC;
// - download and streaming with a leading flag: download acknowledge 0x02 is accepted at once
//   (payload untouched), download refusal 0x03 is refused with "Reason Codes:<text>" in the
//   payload, streaming text reports 0x0D/0x0E are accepted with "Reason Codes:<text>"
//   (<text>: the frame's bytes from its third up to a zero byte; a zero byte ends the payload);
// - otherwise: code = request command + 1 and a good CRC; payload = body after the code.
// Only the first frame of the read is judged: bytes after its closing flag are ignored. A frame
// too short for its layout is refused, as is every reply to a request of an unknown protocol.
// The view of JudgeReply that takes both text reports as accepted.
void DecodeReply(TPacket& request, const std::uint8_t* received, std::size_t length,
                 TByteVector* payload, std::int32_t* accepted);

}  // namespace vornex
