// Frame layer of the diagnostic port: CRC-16/X-25, frame layouts, stuffing both ways, the
// byte-vector operations and the judging of replies, down to the byte; plus a seeded robustness
// run of random and corrupted replies through DecodeReply.
#include "protocols/packet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <initializer_list>
#include <random>
#include <string>
#include <tuple>
#include <utility>

namespace vornex {
namespace {

TByteVector Text(const std::string& text) {
  return TByteVector(text.begin(), text.end());
}

// Stuffed bytes of a frame as the device would send it.
TByteVector Wire(std::uint8_t code, const TByteVector& payload, std::int32_t protocol) {
  TPacket packet = TPacket::Build(code, &payload, protocol);
  packet.Escape();
  return packet.Bytes();
}

struct Verdict {
  std::int32_t accepted = -1;
  TByteVector payload = {0xAA};  // marks "left as it was"
};

Verdict Decode(std::uint8_t command, std::int32_t protocol, const TByteVector& received) {
  TPacket request = TPacket::Build(command, nullptr, protocol);
  request.Escape();
  Verdict verdict;
  DecodeReply(request, received.data(), received.size(), &verdict.payload, &verdict.accepted);
  return verdict;
}

TEST(Crc, CheckValues) {
  const std::string check = "123456789";
  EXPECT_EQ(ComputeCrc(reinterpret_cast<const std::uint8_t*>(check.data()), check.size()), 0x906E);
  const std::uint8_t zero = 0;
  EXPECT_EQ(ComputeCrc(&zero, 1), 0xF078);
  EXPECT_EQ(ComputeCrc(nullptr, 0), 0x0000);
}

TEST(TByteVector, AppendOperations) {
  TByteVector bytes;
  AppendByte(bytes, 0x01);
  const std::uint8_t more[] = {0x02, 0x03};
  AppendBytes(bytes, more, 2);
  AppendU32(bytes, 0x11223344, true);
  AppendU32(bytes, 0x11223344, false);
  EXPECT_EQ(bytes, (TByteVector{1, 2, 3, 0x11, 0x22, 0x33, 0x44, 0x44, 0x33, 0x22, 0x11}));
  ClearBytes(bytes);
  EXPECT_TRUE(bytes.empty());
}

TEST(TByteVector, EraseRangeThrowsAndKeepsTheVectorWhenOutOfRange) {
  const TByteVector ten = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  const auto outOfRange = std::initializer_list<std::pair<int, int>>{
      {5, 6}, {-1, 2}, {2, -1}, {INT_MAX, INT_MAX}, {11, 0}};
  for (auto [index, count] : outOfRange) {
    TByteVector bytes = ten;
    try {
      EraseRange(bytes, index, count);
      ADD_FAILURE() << index << "," << count << " did not throw";
    } catch (const __ErrException& error) {
      EXPECT_EQ(error.code, 255);
      EXPECT_EQ(error.text, "overload :index + count.");
    }
    EXPECT_EQ(bytes, ten);
  }
  TByteVector bytes = ten;
  EraseRange(bytes, 5, 5);
  EXPECT_EQ(bytes, (TByteVector{0, 1, 2, 3, 4}));
  bytes = ten;
  EraseRange(bytes, 5, 4);
  EXPECT_EQ(bytes, (TByteVector{0, 1, 2, 3, 4, 9}));
}

TEST(TByteVector, FindBytesAndFindAndErase) {
  const std::uint8_t ok[] = {0x4F, 0x4B};
  EXPECT_EQ(FindBytes({}, ok, 2), -1);
  EXPECT_EQ(FindBytes({0x4F, 0x4B}, ok, 0), -1);
  EXPECT_EQ(FindBytes({0x4F}, ok, 2), -1);
  EXPECT_EQ(FindBytes({0x4F, 0x4F, 0x4B, 0x4F, 0x4B}, ok, 2), 1);

  TByteVector bytes = {0x4F, 0x4B, 0x0D, 0x0A};
  EXPECT_EQ(FindAndErase(bytes, ok, 2), 0);
  EXPECT_EQ(bytes, (TByteVector{0x0D, 0x0A}));
  EXPECT_EQ(FindAndErase(bytes, ok, 2), -1);
  EXPECT_EQ(bytes, (TByteVector{0x0D, 0x0A}));
  bytes = {0x4F, 0x4B};
  EXPECT_EQ(FindAndErase(bytes, ok, 2), 0);
  EXPECT_TRUE(bytes.empty());
}

TEST(Packet, BuildLayouts) {
  const TPacket hello = TPacket::Build(0x00, nullptr, PROTOCOL_DIAG);
  EXPECT_EQ(hello.Bytes(), (TByteVector{0x00, 0x78, 0xF0, 0x7E}));
  EXPECT_FALSE(hello.IsEscaped());

  const TByteVector payload = {0x12, 0x34};
  for (std::int32_t protocol : {PROTOCOL_DOWNLOAD, PROTOCOL_STREAMING}) {
    const TPacket packet = TPacket::Build(0x0F, &payload, protocol);
    const std::uint8_t body[] = {0x0F, 0x12, 0x34};
    const std::uint16_t crc = ComputeCrc(body, 3);
    EXPECT_EQ(packet.Bytes(), (TByteVector{0x7E, 0x0F, 0x12, 0x34, static_cast<std::uint8_t>(crc),
                                           static_cast<std::uint8_t>(crc >> 8), 0x7E}));
    EXPECT_EQ(packet.ReadU16LE(4), crc);
    EXPECT_EQ(packet.Protocol(), protocol);
  }
  EXPECT_EQ(hello.ReadU16LE(3), 0);  // only one byte left: out of the frame
}

TEST(Packet, EscapeStuffsEverythingButTheFirstAndLastByte) {
  const TByteVector payload = {0x7E, 0x7D, 0x41};
  TPacket diag = TPacket::Build(0x7E, &payload, PROTOCOL_DIAG);
  const TByteVector plain = diag.Bytes();
  diag.Escape();
  ASSERT_TRUE(diag.IsEscaped());
  const TByteVector& wire = diag.Bytes();
  EXPECT_EQ(TByteVector(wire.begin(), wire.begin() + 6),
            (TByteVector{0x7E, 0x7D, 0x5E, 0x7D, 0x5D, 0x41}));  // command byte left as it is
  EXPECT_EQ(wire.back(), 0x7E);
  diag.Escape();  // already stuffed: nothing happens
  EXPECT_EQ(diag.Bytes(), wire);

  TPacket download = TPacket::Build(0x0F, &payload, PROTOCOL_DOWNLOAD);
  download.Escape();
  EXPECT_EQ(download.Bytes().front(), 0x7E);
  EXPECT_EQ(download.Bytes().back(), 0x7E);
  EXPECT_EQ(std::count(download.Bytes().begin(), download.Bytes().end(), 0x7E), 2);

  for (std::size_t size : {0u, 1u}) {
    TPacket tiny = TPacket::FromReceived(plain.data(), size, PROTOCOL_DIAG);
    tiny.Escape();
    EXPECT_TRUE(tiny.IsEscaped());
    EXPECT_EQ(tiny.Bytes().size(), size);
  }
}

TEST(Packet, CrcByteOfFlagValueIsStuffed) {
  for (std::uint32_t value = 0; value < 0x10000; ++value) {
    const TByteVector payload = {static_cast<std::uint8_t>(value),
                                 static_cast<std::uint8_t>(value >> 8)};
    TPacket packet = TPacket::Build(0x26, &payload, PROTOCOL_DIAG);
    if (packet.Bytes()[3] != 0x7E || payload[0] == 0x7E || payload[0] == 0x7D ||
        payload[1] == 0x7E || payload[1] == 0x7D) {
      continue;
    }
    packet.Escape();
    EXPECT_EQ(packet.Bytes()[3], 0x7D);
    EXPECT_EQ(packet.Bytes()[4], 0x5E);
    return;
  }
  FAIL() << "no payload with a CRC low byte of 0x7E";
}

TEST(Packet, UnescapeRules) {
  const TByteVector stuffed = {0x7D, 0x5D, 0x7D, 0x5E, 0x7D, 0x41, 0x10, 0x7D};
  TPacket packet = TPacket::FromReceived(stuffed.data(), stuffed.size(), PROTOCOL_DIAG);
  EXPECT_FALSE(packet.IsEscaped());
  packet.Unescape();  // marked plain: left alone
  EXPECT_EQ(packet.Bytes(), stuffed);
  packet.SetEscaped(true);
  packet.Unescape();
  EXPECT_EQ(packet.Bytes(), (TByteVector{0x7D, 0x7E, 0x61, 0x10}));
  EXPECT_FALSE(packet.IsEscaped());
}

TEST(Packet, RoundTripOfRandomPayloads) {
  std::mt19937 random(7301);
  for (int round = 0; round < 500; ++round) {
    TByteVector payload(random() % 64);
    for (auto& byte : payload) byte = (random() % 3 == 0) ? 0x7D + random() % 2 : random() % 256;
    for (std::int32_t protocol : {PROTOCOL_DIAG, PROTOCOL_DOWNLOAD, PROTOCOL_STREAMING}) {
      TPacket packet =
          TPacket::Build(static_cast<std::uint8_t>(random() % 0x7D), &payload, protocol);
      const TByteVector plain = packet.Bytes();
      packet.Escape();
      packet.Unescape();
      ASSERT_EQ(packet.Bytes(), plain);
    }
  }
}

TEST(Packet, FromReceivedReportsAnUnknownProtocol) {
  const TByteVector bytes = {1, 2, 3};
  for (std::int32_t protocol : {3, -1}) {
    testing::internal::CaptureStdout();
    const TPacket packet = TPacket::FromReceived(bytes.data(), bytes.size(), protocol);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "unknown protocol!\n");
    EXPECT_EQ(packet.Bytes(), bytes);
  }
  testing::internal::CaptureStdout();
  TPacket::FromReceived(bytes.data(), bytes.size(), PROTOCOL_STREAMING);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(DecodeReply, Diagnostic) {
  const TByteVector body = {0x59, 0x03, 0x7E, 0x00};
  Verdict good = Decode(0x26, PROTOCOL_DIAG, Wire(0x26, body, PROTOCOL_DIAG));
  EXPECT_EQ(good.accepted, 1);
  EXPECT_EQ(good.payload, body);

  Verdict wrongCommand = Decode(0x27, PROTOCOL_DIAG, Wire(0x26, body, PROTOCOL_DIAG));
  EXPECT_EQ(wrongCommand.accepted, 0);
  EXPECT_EQ(wrongCommand.payload, TByteVector{0xAA});
  TByteVector badCrc = Wire(0x26, body, PROTOCOL_DIAG);
  badCrc[badCrc.size() - 2] ^= 0x01;
  EXPECT_EQ(Decode(0x26, PROTOCOL_DIAG, badCrc).accepted, 0);
}

TEST(DecodeReply, DownloadAndStreamingCodeIsCommandPlusOne) {
  const TByteVector body = {0x01, 0x02};
  for (std::int32_t protocol : {PROTOCOL_DOWNLOAD, PROTOCOL_STREAMING}) {
    for (std::int32_t replyLayout : {PROTOCOL_DIAG, protocol}) {  // without and with opening flag
      Verdict good = Decode(0x07, protocol, Wire(0x08, body, replyLayout));
      EXPECT_EQ(good.accepted, 1);
      EXPECT_EQ(good.payload, body);
      EXPECT_EQ(Decode(0x07, protocol, Wire(0x07, body, replyLayout)).accepted, 0);
      TByteVector badCrc = Wire(0x08, body, replyLayout);
      badCrc[badCrc.size() - 3] ^= 0x01;
      Verdict bad = Decode(0x07, protocol, badCrc);
      EXPECT_EQ(bad.accepted, 0);
      EXPECT_EQ(bad.payload, TByteVector{0xAA});
    }
  }
}

TEST(DecodeReply, StreamingHelloReplyCarriesTheTargetMagic) {
  TByteVector hello = Text("QCOM fast download protocol host");
  hello.insert(hello.end(), {0x03, 0x02, 0x01});
  TPacket request = TPacket::Build(0x01, &hello, PROTOCOL_STREAMING);
  request.Escape();
  TByteVector reply = Text("QCOM fast download protocol targ");
  reply.insert(reply.end(), {0x03, 0x7E, 0x7D});
  const TByteVector wire = Wire(0x02, reply, PROTOCOL_DIAG);
  TByteVector payload;
  std::int32_t accepted = -1;
  DecodeReply(request, wire.data(), wire.size(), &payload, &accepted);
  EXPECT_EQ(accepted, 1);
  EXPECT_EQ(payload, reply);
  EXPECT_FALSE(request.IsEscaped());
}

TEST(DecodeReply, DownloadAcknowledgeAndRefusal) {
  Verdict ack = Decode(0x0F, PROTOCOL_DOWNLOAD, {0x7E, 0x02, 0x00, 0x00, 0x7E});
  EXPECT_EQ(ack.accepted, 1);
  EXPECT_EQ(ack.payload, TByteVector{0xAA});

  Verdict refused = Decode(0x0F, PROTOCOL_DOWNLOAD,
                           Wire(0x03, Text(std::string("bad\0x", 5)), PROTOCOL_DOWNLOAD));
  EXPECT_EQ(refused.accepted, 0);
  EXPECT_EQ(refused.payload, Text(std::string("Reason Codes:bad\0", 17)));
}

TEST(DecodeReply, StreamingTextReportsAreAccepted) {
  for (std::uint8_t code : {0x0D, 0x0E}) {
    Verdict report =
        Decode(0x07, PROTOCOL_STREAMING, {0x7E, code, 'o', 'k', 0x00, 0x12, 0x34, 0x7E});
    EXPECT_EQ(report.accepted, 1);
    EXPECT_EQ(report.payload, Text(std::string("Reason Codes:ok\0", 16)));
  }
  // Without a zero byte the text runs to the end of the frame, and no further.
  Verdict unended = Decode(0x07, PROTOCOL_STREAMING, {0x7E, 0x0D, 'a', 0x7D, 0x5E, 0x7E, 'z', 0});
  EXPECT_EQ(unended.payload, Text(std::string("Reason Codes:a~~\0", 17)));
}

// The typed verdict tells refusals, acceptances and the two text reports apart.
TEST(JudgeReply, VerdictCodeAndPayloadOfEachKindOfReply) {
  using V = TReplyVerdict;
  const std::string end(1, '\0');
  auto text = [&](std::uint8_t code, std::int32_t protocol, const std::string& words) {
    return Wire(code, Text(words + end), protocol);
  };
  TByteVector badCrc = Wire(0x08, {0x01}, PROTOCOL_STREAMING);
  badCrc[badCrc.size() - 3] ^= 0x01;
  // Command, protocol, reply; verdict, code and payload ("-": none).
  const std::tuple<std::uint8_t, std::int32_t, TByteVector, V, std::uint8_t, std::string> cases[] =
      {
          {0x0F, PROTOCOL_DOWNLOAD, {0x7E, 0x02, 0x00, 0x00, 0x7E}, V::kAccepted, 0x02, "-"},
          {0x0F, PROTOCOL_DOWNLOAD, text(0x03, PROTOCOL_DOWNLOAD, "full"), V::kRefused, 0x03,
           "Reason Codes:full" + end},
          {0x15, PROTOCOL_STREAMING, text(0x0D, PROTOCOL_STREAMING, "note"), V::kLogReport, 0x0D,
           "Reason Codes:note" + end},
          {0x0B, PROTOCOL_STREAMING, text(0x0E, PROTOCOL_STREAMING, "no"), V::kErrorReport, 0x0E,
           "Reason Codes:no" + end},
          {0x0B, PROTOCOL_STREAMING, {0x7E, 0x0C, 0x7E}, V::kRefused, 0x00, "-"},
          {0x07, PROTOCOL_STREAMING, badCrc, V::kRefused, 0x08, "-"},
      };
  for (const auto& [command, protocol, received, verdict, code, payload] : cases) {
    TPacket request = TPacket::Build(command, nullptr, protocol);
    request.Escape();
    const TReplyJudgement judged = JudgeReply(request, received.data(), received.size());
    EXPECT_EQ(judged.verdict, verdict) << int(code);
    EXPECT_EQ(judged.code, code);
    const TByteVector& got = judged.payload;
    EXPECT_EQ(judged.hasPayload ? std::string(got.begin(), got.end()) : "-", payload) << int(code);
  }
}

TEST(DecodeReply, ShortFramesAreRefused) {
  TPacket request = TPacket::Build(0x00, nullptr, PROTOCOL_DIAG);
  request.Escape();
  const TByteVector three = {0x00, 0x78, 0xF0};
  std::int32_t accepted = -1;
  DecodeReply(request, three.data(), three.size(), nullptr, &accepted);
  EXPECT_EQ(accepted, 0);
  EXPECT_TRUE(request.IsEscaped());  // refused before anything is unstuffed

  EXPECT_EQ(Decode(0x0F, PROTOCOL_DOWNLOAD, {0x7E, 0x02, 0x00, 0x7E}).accepted, 0);
  EXPECT_EQ(Decode(0x0D, PROTOCOL_STREAMING, {0x7E, 0x0D, 0x00, 0x7E}).accepted, 0);
  for (std::int32_t protocol : {PROTOCOL_DIAG, PROTOCOL_DOWNLOAD, PROTOCOL_STREAMING}) {
    EXPECT_EQ(Decode(0x00, protocol, {0x7D, 0x5E, 0x7D, 0x5D}).accepted, 0);  // 2 bytes plain
    EXPECT_EQ(Decode(0x00, protocol, {0x00, 0x7D, 0x20, 0x7E}).accepted, 0);  // 00 00 7E: empty CRC
    EXPECT_EQ(Decode(0x00, protocol, {0x00, 0x78, 0xF0, 0x7D}).accepted, 0);  // trailing 7D
  }
}

TEST(DecodeReply, OnlyTheFirstFrameOfAReadIsJudged) {
  TByteVector good = Wire(0x26, {0x01}, PROTOCOL_DIAG);
  const TByteVector other = Wire(0x26, {0x02, 0x03}, PROTOCOL_DIAG);
  TByteVector read = good;
  read.insert(read.end(), other.begin(), other.end());
  Verdict first = Decode(0x26, PROTOCOL_DIAG, read);
  EXPECT_EQ(first.accepted, 1);
  EXPECT_EQ(first.payload, TByteVector{0x01});

  good[1] ^= 0x01;  // first frame broken, the second one good: still refused
  read = good;
  read.insert(read.end(), other.begin(), other.end());
  EXPECT_EQ(Decode(0x26, PROTOCOL_DIAG, read).accepted, 0);

  read = Wire(0x06, {}, PROTOCOL_DOWNLOAD);  // 7E 06 crc crc 7E, then garbage
  read.insert(read.end(), {0x7E, 0x03, 0x00});
  EXPECT_EQ(Decode(0x05, PROTOCOL_DOWNLOAD, read).accepted, 1);
}

TEST(DecodeReply, PayloadIsCappedAndUnknownProtocolsAreRefused) {
  const TByteVector big(3000, 0x55);
  Verdict capped = Decode(0x26, PROTOCOL_DIAG, Wire(0x26, big, PROTOCOL_DIAG));
  EXPECT_EQ(capped.accepted, 1);
  EXPECT_EQ(capped.payload.size(), kReplyPayloadBytes);
  Verdict text = Decode(0x07, PROTOCOL_STREAMING, Wire(0x0E, big, PROTOCOL_STREAMING));
  EXPECT_EQ(text.payload.size(), kReplyPayloadBytes);
  EXPECT_EQ(text.payload.back(), 0);

  testing::internal::CaptureStdout();
  EXPECT_EQ(Decode(0x00, 3, Wire(0x00, {}, PROTOCOL_DIAG)).accepted, 0);
  testing::internal::GetCapturedStdout();
}

// Random reads and corrupted good replies: no read out of range (the ASan build runs this), a
// payload never above its limit, and a corrupted reply accepted only if it still checks out.
TEST(DecodeReply, SurvivesRandomAndCorruptedReplies) {
  std::mt19937 random(20240730);
  auto pick = [&](std::uint32_t n) { return static_cast<std::uint32_t>(random() % n); };
  for (std::int32_t protocol : {PROTOCOL_DIAG, PROTOCOL_DOWNLOAD, PROTOCOL_STREAMING}) {
    const std::uint8_t command = protocol == PROTOCOL_DIAG ? 0x26 : 0x07;
    const std::uint8_t code = protocol == PROTOCOL_DIAG ? 0x26 : 0x08;
    for (int round = 0; round < 4000; ++round) {
      TByteVector read(pick(24));
      const std::uint8_t favourites[] = {0x7E, 0x7D, 0x02, 0x03, 0x0D, 0x0E, command, code, 0x00};
      for (auto& byte : read) byte = pick(2) ? favourites[pick(9)] : pick(256);
      Verdict noise = Decode(command, protocol, read);
      ASSERT_TRUE(noise.accepted == 0 || noise.accepted == 1);
      ASSERT_LE(noise.payload.size(), kReplyPayloadBytes);

      TByteVector body(pick(12));
      for (auto& byte : body) byte = pick(4) ? pick(256) : 0x7D + pick(2);
      TByteVector wire = Wire(code, body, pick(2) ? protocol : PROTOCOL_DIAG);
      const int flips = 1 + static_cast<int>(pick(3));
      for (int i = 0; i < flips; ++i) {
        const std::size_t at = pick(static_cast<std::uint32_t>(wire.size()));
        const auto where = wire.begin() + static_cast<std::ptrdiff_t>(at);
        const std::uint32_t how = pick(3);
        if (how == 0) wire[at] = static_cast<std::uint8_t>(pick(256));
        if (how == 1) wire.erase(where);
        if (how == 2) wire.insert(where, static_cast<std::uint8_t>(pick(256)));
        if (wire.empty()) break;
      }
      const Verdict corrupted = Decode(command, protocol, wire);
      if (corrupted.accepted != 1) continue;
      // The one frame that was judged, in plain form.
      std::size_t end = 1;
      while (end < wire.size() && wire[end] != 0x7E) ++end;
      TPacket plain = TPacket::FromReceived(wire.data(), std::min(end + 1, wire.size()), protocol);
      plain.SetEscaped(true);
      plain.Unescape();
      const TByteVector& frame = plain.Bytes();
      const std::size_t start = frame[0] == 0x7E && protocol != PROTOCOL_DIAG ? 1 : 0;
      // Acknowledges and text reports are taken without a CRC.
      const bool exempt =
          start == 1 &&
          ((protocol == PROTOCOL_DOWNLOAD && frame[1] == 0x02) ||
           (protocol == PROTOCOL_STREAMING && (frame[1] == 0x0D || frame[1] == 0x0E)));
      if (exempt) continue;
      ASSERT_EQ(frame[start], code);
      ASSERT_EQ(ComputeCrc(frame.data() + start, frame.size() - 3 - start),
                plain.ReadU16LE(static_cast<std::uint32_t>(frame.size() - 3)));
    }
  }
}

}  // namespace
}  // namespace vornex
