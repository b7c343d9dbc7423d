// The device object over real pseudo-terminals: the AT command channel with its "ATE1" step,
// echo and final result line checks and 17 attempts, and the object's own log and release.
#include "protocols/usb_device.h"

#include <gtest/gtest.h>

#include <cstring>

#include "foundation/paths.h"
#include "protocols/protocol_limits.h"
#include "support/pty_peer.h"
#include "support/run_scope.h"
#include "support/temp_dir.h"

namespace vornex {
namespace {

using testing::Bytes;
using testing::PtyPair;
using testing::ScriptedPeer;
using testing::ToBytes;

// A modem that echoes every line and answers a few commands like a device would.
Bytes ModemReply(const Bytes& request) {
  const std::string line(request.begin(), request.end());
  if (line == "ATE1\r") return ToBytes(line + "\r\nOK\r\n");
  if (line == "AT+MDVER\r") return ToBytes(line + "\r\n+MDVER: V1.0.7\r\n\r\nOK\r\n");
  if (line.rfind("AT+NEWSN=", 0) == 0) return ToBytes(line + "\r\nOK\r\n");
  return ToBytes(line + "\r\nERROR\r\n");
}

int g_attempts = 0;
void CountAttempts(void*, std::int32_t status, const void*) {
  if (status == CB_ATTEMPT) ++g_attempts;
}

class AtChannelTest : public ::testing::Test {
 protected:
  static constexpr std::int32_t kCom = 42;

  void SetUp() override {
    run_.TimeScale(0.05).ComTty(kCom, pty_.slavePath());
    auto port = std::make_unique<TSerialPort>(kCom);
    port->SetTimeLimits(2000, 2000);
    ASSERT_TRUE(port->Open()) << port->LastError();
    device_.SetModemPort(std::move(port));
    g_attempts = 0;
    device_.SetCallback(&CountAttempts, nullptr);
  }
  std::vector<std::string> Lines(ScriptedPeer& peer) {
    std::vector<std::string> lines;
    for (const Bytes& request : peer.Requests()) lines.emplace_back(request.begin(), request.end());
    return lines;
  }

  testing::RunScope run_;
  PtyPair pty_;
  TUsbDevice device_{91};
};

TEST_F(AtChannelTest, ValueCommandSendsEchoOnFirstAndReturnsTheValue) {
  ScriptedPeer peer(pty_, '\r', ModemReply);
  char reply[256];
  std::memset(reply, 'Z', sizeof reply);
  EXPECT_EQ(device_.SendAtCommand(reply, "AT+MDVER", sizeof reply), 1);
  EXPECT_STREQ(reply, "V1.0.7");
  // 128 bytes are copied: the value and zero bytes after it; the rest is untouched.
  EXPECT_EQ(reply[127], '\0');
  EXPECT_EQ(reply[128], 'Z');
  EXPECT_EQ(Lines(peer), (std::vector<std::string>{"ATE1\r", "AT+MDVER\r"}));
  EXPECT_EQ(g_attempts, 2);
}

TEST_F(AtChannelTest, WriteCommandWithoutReplyBufferSucceeds) {
  ScriptedPeer peer(pty_, '\r', ModemReply);
  EXPECT_EQ(device_.SendAtCommand(nullptr, "AT+NEWSN=SN0042", 0), 1);
  EXPECT_EQ(Lines(peer).back(), "AT+NEWSN=SN0042\r");
}

TEST_F(AtChannelTest, ErrorReplyFails) {
  ScriptedPeer peer(pty_, '\r', ModemReply);
  char reply[128] = {};
  EXPECT_EQ(device_.SendAtCommand(reply, "AT+UNKNOWN", sizeof reply), 0);
}

TEST_F(AtChannelTest, MissingEchoFailsBeforeTheCommandIsSent) {
  // Without the echo a lone "OK" line is no reply: every attempt waits out its read limit, and
  // the command itself is never sent.
  device_.ModemPort()->SetTimeLimits(200, 200);
  ScriptedPeer peer(pty_, '\r', [](const Bytes&) { return ToBytes("OK\r\n"); });
  EXPECT_EQ(device_.SendAtCommand(nullptr, "AT+MDVER", 0), 0);
  for (const std::string& line : Lines(peer)) EXPECT_EQ(line, "ATE1\r");
}

TEST_F(AtChannelTest, AValueHoldingOkIsReadWholeWhenTheFinalLineComesLater) {
  testing::ReadLog reads;
  device_.ModemPort()->SetReceiveNotify(&testing::ReadLog::Note, &reads, kModemPortId);
  ScriptedPeer peer(pty_, '\r', [&](const Bytes& request) {
    if (request != ToBytes("AT+NEWSN\r")) return ModemReply(request);
    // The value line first; the final line only once the station has read the value line.
    EXPECT_TRUE(reads.SendPiece(pty_, ToBytes("AT+NEWSN\r\r\n+NEWSN: BOOK123\r\n")));
    return ToBytes("\r\nOK\r\n");
  });
  char reply[128] = {};
  EXPECT_EQ(device_.SendAtCommand(reply, "AT+NEWSN", sizeof reply), 1);
  EXPECT_STREQ(reply, "BOOK123");
  EXPECT_EQ(reads.PiecesReadApart(), 1u);
}

TEST_F(AtChannelTest, FullBufferWithoutEndMarkerIsRefusedSafely) {
  ScriptedPeer peer(pty_, '\r', [](const Bytes&) { return Bytes(300, 'x'); });
  char reply[128] = {};
  EXPECT_EQ(device_.SendAtCommand(reply, "AT+MDVER", sizeof reply), 0);
  EXPECT_TRUE(device_.ModemPort()->IsOpen());
}

TEST_F(AtChannelTest, SilentModemIsClosedAfterSeventeenAttempts) {
  device_.ModemPort()->SetTimeLimits(200, 200);
  ScriptedPeer peer(pty_, '\r', [](const Bytes&) { return Bytes{}; });
  EXPECT_EQ(device_.SendAtCommand(nullptr, "AT+MDVER", 0), 0);
  EXPECT_EQ(g_attempts, kAtAttempts);
  EXPECT_FALSE(device_.ModemPort()->IsOpen());
  EXPECT_TRUE(peer.WaitForRequests(static_cast<std::size_t>(kAtAttempts)));
  EXPECT_EQ(peer.Requests().size(), static_cast<std::size_t>(kAtAttempts));
}

TEST(UsbDevice, WithoutModemPortNothingIsSent) {
  TUsbDevice device(92);
  EXPECT_EQ(device.SendAtCommand(nullptr, "AT+MDVER", 0), 0);
}

TEST(UsbDevice, LogsIntoItsNumberedFileAndEndsItOnRelease) {
  testing::RunScope run;
  run.TimeScale(0.01);
  testing::TempDir exeFolder;
  paths::OverrideExeFolder(exeFolder.path());
  testing::WriteFile(exeFolder.File("ROrUdi_3.txt"), "");
  {
    TUsbDevice device(3);
    ASSERT_NE(device.Log(), nullptr);
    EXPECT_EQ(device.Log()->FileName(), "ROrUdi_3.txt");
    device.Trace("ConnectUSB Modem COM%d", 7);
    // No callback: notifications go nowhere and nothing fails.
    device.Notify(CB_MESSAGE, "ignored");
  }
  const std::string bytes = testing::ReadFile(exeFolder.File("ROrUdi_3.txt"));
  std::u16string text(bytes.size() / 2, u'\0');
  std::memcpy(text.data(), bytes.data(), text.size() * 2);
  const std::string utf8 = Utf16ToUtf8(text);
  EXPECT_NE(utf8.find("ConnectUSB Modem COM7"), std::string::npos);
  EXPECT_NE(utf8.find("========= FA Logging Ended ========="), std::string::npos);
  paths::OverrideExeFolder("");
}

TEST(UsbDevice, WithoutLogFileTracingCostsNothing) {
  testing::RunScope run;
  run.TimeScale(0.01);
  testing::TempDir exeFolder;
  testing::TempDir tmp;
  paths::OverrideExeFolder(exeFolder.path());
  ::setenv("TMPDIR", tmp.path().c_str(), 1);
  {
    TUsbDevice device(200);
    device.Trace("SearchAllUSB in port count = %d", 0);
    EXPECT_FALSE(device.Log()->HasFile());
  }
  EXPECT_FALSE(std::filesystem::exists(exeFolder.File("ROrUdi_200.txt")));
  EXPECT_FALSE(std::filesystem::exists(tmp.File("ROrUdi_200.txt")));
  ::unsetenv("TMPDIR");
  paths::OverrideExeFolder("");
}

}  // namespace
}  // namespace vornex
