// The framed exchange over a real pseudo-terminal: accepted replies, refusals, a silent device
// (17 attempts, then the port is closed), replies in pieces, and the receive relay.
#include <gtest/gtest.h>

#include "protocols/protocol_limits.h"
#include "protocols/usb_device.h"
#include "support/pty_peer.h"
#include "support/run_scope.h"

namespace vornex {
namespace {

using testing::Bytes;
using testing::PtyPair;
using testing::ScriptedPeer;

Bytes Frame(std::uint8_t command, const TByteVector& payload, std::int32_t protocol) {
  TPacket packet = TPacket::Build(command, &payload, protocol);
  packet.Escape();
  return packet.Bytes();
}

TPacket Request(std::uint8_t command, std::int32_t protocol, const TByteVector& payload = {}) {
  TPacket packet = TPacket::Build(command, payload.empty() ? nullptr : &payload, protocol);
  packet.Escape();
  return packet;
}

struct Events {
  int attempts = 0;
  testing::ReadLog received;  // the relay's bytes, one read after the other
};

void Record(void* user, std::int32_t status, const void* data) {
  auto* events = static_cast<Events*>(user);
  if (status == CB_ATTEMPT) ++events->attempts;
  if (status == CB_RECEIVED) {
    const auto* bytes = static_cast<const TReceivedBytes*>(data);
    events->received.Add(bytes->bytes, static_cast<std::size_t>(bytes->count));
  }
}

class ExchangeTest : public ::testing::Test {
 protected:
  static constexpr std::int32_t kCom = 41;

  void SetUp() override {
    run_.TimeScale(0.05).ComTty(kCom, pty_.slavePath());
    port_ = std::make_unique<TSerialPort>(kCom);
    port_->SetTimeLimits(2000, 2000);
    port_->SetReceiveNotify(&TUsbDevice::ReceiveRelay, &device_, kDiagPortId);
    ASSERT_TRUE(port_->Open()) << port_->LastError();
    device_.SetCallback(&Record, &events_);
  }
  void TearDown() override { port_.reset(); }

  testing::RunScope run_;
  PtyPair pty_;
  TUsbDevice device_{90};
  std::unique_ptr<TSerialPort> port_;
  Events events_;
};

TEST_F(ExchangeTest, AcceptedReplyGivesItsPayload) {
  const Bytes reply = Frame(0x26, {0x59, 0x03, 0xAA, 0x7E}, PROTOCOL_DIAG);
  ScriptedPeer peer(pty_, 0x7E, [&](const Bytes&) { return reply; });
  TByteVector payload;
  EXPECT_EQ(device_.Exchange(port_.get(), Request(0x26, PROTOCOL_DIAG), 1, &payload), 1);
  EXPECT_EQ(payload, (TByteVector{0x59, 0x03, 0xAA, 0x7E}));
  EXPECT_EQ(events_.attempts, 1);
  EXPECT_EQ(events_.received.All(), reply);  // the relay saw exactly the bytes read
  ASSERT_EQ(peer.Requests().size(), 1u);
  EXPECT_EQ(peer.Requests()[0], Frame(0x26, {}, PROTOCOL_DIAG));
}

TEST_F(ExchangeTest, RefusedReplyCostsOneAttemptAndKeepsThePortOpen) {
  Bytes badCrc = Frame(0x00, {0x01}, PROTOCOL_DIAG);
  badCrc[1] ^= 0x01;
  const Bytes wrongCode = Frame(0x09, {}, PROTOCOL_STREAMING);  // not the request's code + 1
  int answered = 0;
  ScriptedPeer peer(pty_, 0x7E, [&](const Bytes&) { return answered++ == 0 ? badCrc : wrongCode; });
  TByteVector payload;
  EXPECT_EQ(device_.Exchange(port_.get(), Request(0x00, PROTOCOL_DIAG), 1, &payload), 0);
  EXPECT_EQ(events_.attempts, 1);
  EXPECT_TRUE(port_->IsOpen());
  EXPECT_EQ(device_.Exchange(port_.get(), Request(0x07, PROTOCOL_STREAMING), 3, &payload), 0);
  EXPECT_EQ(events_.attempts, 2);
}

TEST_F(ExchangeTest, SilentDeviceCostsSeventeenAttemptsThenThePortCloses) {
  port_->SetTimeLimits(200, 200);
  ScriptedPeer peer(pty_, 0x7E, [](const Bytes&) { return Bytes{}; });
  TByteVector payload;
  EXPECT_EQ(device_.Exchange(port_.get(), Request(0x0C, PROTOCOL_DOWNLOAD), 1, &payload), 0);
  EXPECT_EQ(events_.attempts, kExchangeAttempts);
  EXPECT_FALSE(port_->IsOpen());
  EXPECT_TRUE(peer.WaitForRequests(static_cast<std::size_t>(kExchangeAttempts)));
  EXPECT_EQ(peer.Requests().size(), static_cast<std::size_t>(kExchangeAttempts));

  // Later exchanges fail at once on the closed port, still counting their attempts.
  events_.attempts = 0;
  EXPECT_EQ(device_.Exchange(port_.get(), Request(0x0C, PROTOCOL_DOWNLOAD), 1, &payload), 0);
  EXPECT_EQ(events_.attempts, kExchangeAttempts);
}

TEST_F(ExchangeTest, ReplyInPiecesIsReadUpToItsClosingFlag) {
  const Bytes reply = Frame(0x08, {}, PROTOCOL_STREAMING);  // no leading flag
  ScriptedPeer peer(pty_, 0x7E, [&](const Bytes&) {
    EXPECT_TRUE(events_.received.SendPiece(pty_, Bytes(reply.begin(), reply.begin() + 1)));
    return Bytes(reply.begin() + 1, reply.end());
  });
  TByteVector payload;
  EXPECT_EQ(device_.Exchange(port_.get(), Request(0x07, PROTOCOL_STREAMING), 3, &payload), 1);
  EXPECT_EQ(events_.received.PiecesReadApart(), 1u);  // the first byte was read alone
}

TEST_F(ExchangeTest, OpeningFlagArrivingWithTheFirstBytesDoesNotEndTheRead) {
  const Bytes ack = Frame(0x02, {}, PROTOCOL_DOWNLOAD);  // 7E 02 CRC CRC 7E
  ScriptedPeer peer(pty_, 0x7E, [&](const Bytes&) {
    EXPECT_TRUE(events_.received.SendPiece(pty_, Bytes(ack.begin(), ack.begin() + 2)));
    return Bytes(ack.begin() + 2, ack.end());
  });
  TByteVector payload;
  EXPECT_EQ(device_.Exchange(port_.get(), Request(0x06, PROTOCOL_DOWNLOAD), 3, &payload), 1);
  EXPECT_EQ(events_.received.All(), ack);
  EXPECT_EQ(events_.received.PiecesReadApart(), 1u);  // the flag and the code were read alone
}

TEST_F(ExchangeTest, DownloadRefusalCarriesItsReason) {
  TByteVector reason = {'b', 'a', 'd', 0x00};
  const Bytes refusal = Frame(0x03, reason, PROTOCOL_DOWNLOAD);
  ScriptedPeer peer(pty_, 0x7E, [&](const Bytes&) { return refusal; });
  TByteVector payload;
  EXPECT_EQ(device_.Exchange(port_.get(), Request(0x0F, PROTOCOL_DOWNLOAD), 3, &payload), 0);
  const std::string text(payload.begin(), payload.end());
  EXPECT_EQ(text.rfind("Reason Codes:bad", 0), 0u) << text;
}

}  // namespace
}  // namespace vornex
