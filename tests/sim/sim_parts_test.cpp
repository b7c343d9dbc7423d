// The simulator's pure parts, byte for byte: SHA-256 against the standard vectors, the Intel
// HEX reader, the diagnostic port's frame receiver, the modem's line handling, RAM segments,
// image tags, the state JSON and the program's command line.
#include <gtest/gtest.h>

#include <string>

#include "sim/at_modem.h"
#include "sim/devsim_program.h"
#include "sim/diag_engine.h"
#include "sim/diag_framer.h"
#include "sim/intel_hex.h"
#include "sim/sha256.h"
#include "sim/state_report.h"

namespace vornex::sim {
namespace {

std::string Hash(std::string_view text) {
  return Sha256Hex(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

TByteVector Bytes(std::initializer_list<int> values) {
  TByteVector bytes;
  for (const int v : values) bytes.push_back(static_cast<std::uint8_t>(v));
  return bytes;
}

std::string AsText(const TByteVector& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

TEST(TSha256, StandardVectors) {
  EXPECT_EQ(Hash(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Hash("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Hash("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(Hash("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopq"
                 "klmnopqrlmnopqrsmnopqrstnopqrstu"),
            "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
}

TEST(TSha256, PiecesOfAnySizeGiveTheSameDigest) {
  // One million 'a' in uneven pieces, across every block boundary.
  TSha256 hash;
  const std::string chunk(997, 'a');
  std::size_t left = 1000000;
  while (left > 0) {
    const std::size_t n = std::min(left, chunk.size());
    hash.Update(std::string_view(chunk.data(), n));
    left -= n;
  }
  EXPECT_EQ(DigestHex(hash.Finish()),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  // 55, 56 and 64 bytes: the padding edge cases.
  for (const std::size_t n : {55u, 56u, 63u, 64u, 65u}) {
    TSha256 split;
    const std::string text(n, 'x');
    split.Update(std::string_view(text).substr(0, n / 2));
    split.Update(std::string_view(text).substr(n / 2));
    EXPECT_EQ(DigestHex(split.Finish()), Hash(text)) << n;
  }
}

TEST(IntelHex, DataRecordsAreJoinedInFileOrderWithTheStartAddress) {
  const std::string text =
      ":020000040010EA\r\n"
      ":0400100001020304E2\r\n"
      "\r\n"
      ":02800000AABB19\r\n"  // far away: the gap closes up
      ":0400000500100000E7\r\n"
      ":00000001FF\r\n"
      ":01000000FF00\r\n";  // after the end record: not read
  THexImage image;
  std::string error;
  ASSERT_TRUE(ParseIntelHex(text, &image, &error)) << error;
  EXPECT_EQ(image.data, Bytes({1, 2, 3, 4, 0xAA, 0xBB}));
  EXPECT_EQ(image.startAddress, 0x00100000u);
}

TEST(IntelHex, DamagedRecordsAreReportedWithTheirLine) {
  THexImage image;
  std::string error;
  EXPECT_FALSE(ParseIntelHex(":0400100001020304E3\n", &image, &error));  // checksum
  EXPECT_EQ(error, "line 1: bad checksum");
  EXPECT_TRUE(ParseIntelHex(":00000001FF\n", &image, &error));
  EXPECT_TRUE(image.data.empty());
  EXPECT_FALSE(ParseIntelHex("\n:0500100001020304E2\n", &image, &error));  // count
  EXPECT_EQ(error.rfind("line 2:", 0), 0u) << error;
  EXPECT_FALSE(ParseIntelHex(":04001000010203G4E2\n", &image, &error));
  EXPECT_FALSE(ParseIntelHex("0400100001020304E2\n", &image, &error));
  EXPECT_FALSE(ParseIntelHex(":0400000300001000E9\n", &image, &error));  // type 3
  EXPECT_FALSE(ReadIntelHexFile("/nonexistent/programmer.hex", &image, &error));
}

TEST(TDiagFramer, FramesWithAndWithoutOpeningFlagAreTakenApart) {
  TDiagFramer framer;
  // A diagnostic hello, then a download write with a flag and an escape inside its payload.
  TByteVector payload = Bytes({0x00, 0x10, 0x00, 0x00, 0x00, 0x02, 0x7E, 0x7D});
  TPacket write = TPacket::Build(0x0F, &payload, PROTOCOL_DOWNLOAD);
  write.Escape();
  TByteVector stream = Bytes({0x00, 0x78, 0xF0, 0x7E});
  stream.insert(stream.end(), write.Bytes().begin(), write.Bytes().end());

  // Byte by byte gives the same frames as all at once.
  std::vector<TFrameEvent> events;
  for (const std::uint8_t byte : stream) {
    for (TFrameEvent& e : framer.Feed(&byte, 1)) events.push_back(std::move(e));
  }
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].fault, TFrameFault::kNone);
  EXPECT_EQ(events[0].command, 0x00);
  EXPECT_FALSE(events[0].leadingFlag);
  EXPECT_EQ(events[1].fault, TFrameFault::kNone);
  EXPECT_EQ(events[1].command, 0x0F);
  EXPECT_TRUE(events[1].leadingFlag);
  EXPECT_EQ(events[1].payload, payload);
}

TEST(TDiagFramer, DamagedFramesAreReportedAndTheNextFramePasses) {
  TDiagFramer framer;
  const TByteVector hello = Bytes({0x00, 0x78, 0xF0, 0x7E});
  auto feed = [&](TByteVector bytes) {
    bytes.insert(bytes.end(), hello.begin(), hello.end());
    return framer.Feed(bytes.data(), bytes.size());
  };
  // Bad CRC, too short, aborted (escape before the flag), then the hello each time.
  for (const auto& [noise, fault] : std::vector<std::pair<TByteVector, TFrameFault>>{
           {Bytes({0x26, 0x01, 0x02, 0x7E}), TFrameFault::kBadCrc},
           {Bytes({0x0C, 0x7E}), TFrameFault::kTooShort},
           {Bytes({0x7E, 0x0C, 0x7D, 0x7E}), TFrameFault::kAborted}}) {
    const std::vector<TFrameEvent> events = feed(noise);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].fault, fault);
    EXPECT_EQ(events[1].fault, TFrameFault::kNone);
    EXPECT_EQ(events[1].command, 0x00);
  }
  // An endless run without a flag is dropped up to the next flag.
  TByteVector noise(kMaxStuffedFrameBytes + 10, 0x55);
  noise.push_back(0x7E);
  const std::vector<TFrameEvent> events = feed(noise);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].fault, TFrameFault::kOverlong);
  EXPECT_EQ(events[1].fault, TFrameFault::kNone);
  // Flags in a row make no frames at all.
  const TByteVector flags(5, 0x7E);
  EXPECT_TRUE(framer.Feed(flags.data(), flags.size()).empty());
}

TEST(TAtModem, LinesEchoAndAnswerAsTheStationExpects) {
  TDeviceModel model = MakeFactoryDevice("0000ABCD", "R1.0");
  TAtModem modem(model);
  auto send = [&](std::string_view text) {
    return AsText(modem.Feed(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  };
  EXPECT_EQ(send("AT+MDVER\r"), "AT+MDVER\r\r\n+MDVER: R1.0\r\n\r\nOK\r\n");
  EXPECT_EQ(send("at+newsn=SN\n1=2\r"), "at+newsn=SN1=2\r\r\nOK\r\n");  // LF ignored, value as sent
  EXPECT_EQ(model.identity.serialNumber, "SN1=2");
  EXPECT_EQ(send("AT+NEWSN?\r"), "AT+NEWSN?\r\r\n+NEWSN: SN1=2\r\n\r\nOK\r\n");
  EXPECT_EQ(send("AT+MDPARA=DIAG,on\r"), "AT+MDPARA=DIAG,on\r\r\nOK\r\n");
  EXPECT_TRUE(model.diagInterfaceOn);
  EXPECT_EQ(send("AT+MDPARA=USB,ON\r"), "AT+MDPARA=USB,ON\r\r\nERROR\r\n");
  EXPECT_EQ(send("AT+MDVER=1\r"), "AT+MDVER=1\r\r\nERROR\r\n");
  EXPECT_EQ(send("HELLO\r"), "HELLO\r\r\nERROR\r\n");
  EXPECT_EQ(send("\r"), "\r");  // an empty line: echo only
  // Split over several reads, the line is answered once its CR arrives.
  EXPECT_EQ(send("AT+MD"), "");
  EXPECT_EQ(send("TFLAG\r"), "AT+MDTFLAG\r\r\n+MDTFLAG: 1\r\n\r\nOK\r\n");
  // ATE0 is still echoed itself; then nothing is.
  EXPECT_EQ(send("ATE0\r"), "ATE0\r\r\nOK\r\n");
  EXPECT_EQ(send("AT\r"), "\r\nOK\r\n");
  EXPECT_EQ(send(std::string(kAtLineLimitBytes + 5, 'A') + "\r"), "\r\nERROR\r\n");
  modem.Reboot();
  EXPECT_TRUE(modem.EchoOn());
  EXPECT_EQ(model.commandCounts["AT+NEWSN="], 1u);
  EXPECT_EQ(model.commandCounts["unknown"],
            1u);  // HELLO; known names with bad values count as such
}

TEST(TDeviceModel, ImageTagIsCutAtErasedFlashAndZeroBytes) {
  EXPECT_EQ(ImageTag(Bytes({'x', 'R', '2', 0xFF, 'Z'})), "xR2");  // short image: all of it
  TByteVector image(100, 0x11);
  std::fill(image.end() - 32, image.end(), 'T');
  EXPECT_EQ(ImageTag(image), std::string(32, 'T'));
  image[image.size() - 32 + 10] = 0xFF;
  EXPECT_EQ(ImageTag(image), std::string(10, 'T'));
  image[image.size() - 32 + 4] = 0x00;
  EXPECT_EQ(ImageTag(image), std::string(4, 'T'));
  EXPECT_EQ(ImageTag(MakeFactoryDevice("12345678", "R1.0").flash), "R1.0");
}

TEST(TSparseMemory, SegmentsMergeAndHoldWhatWasWritten) {
  TSparseMemory ram;
  const TByteVector a = Bytes({1, 2, 3, 4});
  ASSERT_TRUE(ram.Write(0x1000, a.data(), a.size()));
  ASSERT_TRUE(ram.Write(0x1006, a.data(), 2));
  EXPECT_FALSE(ram.Holds(0x1000, Bytes({1, 2, 3, 4, 0, 0, 1})));  // a hole is not written
  ASSERT_TRUE(ram.Write(0x1003, a.data(), 3));                    // overlaps and fills the hole
  EXPECT_TRUE(ram.Holds(0x1000, Bytes({1, 2, 3, 1, 2, 3, 1, 2})));
  EXPECT_EQ(ram.TotalBytes(), 8u);
  EXPECT_TRUE(ram.Written(0x1007));
  EXPECT_FALSE(ram.Written(0x1008));
  EXPECT_FALSE(ram.Write(0xFFFFFFFF, a.data(), a.size()));  // past the address space
  const TByteVector big(kRamCapacityBytes, 0);
  EXPECT_FALSE(ram.Write(0x20000000, big.data(), big.size()));  // past the capacity
}

TEST(TDiagEngine, ReplyEncodingMatchesTheFrameLayouts) {
  // Download acknowledge: 7E 02 CRC 7E, flag first; firmware hello echo: 00 CRC 7E.
  EXPECT_EQ(EncodeReply(TReplyFrame{0x02, {}, true}, false), Bytes({0x7E, 0x02, 0x6A, 0xD3, 0x7E}));
  EXPECT_EQ(EncodeReply(TReplyFrame{0x00, {}, false}, false), Bytes({0x00, 0x78, 0xF0, 0x7E}));
  const TByteVector broken = EncodeReply(TReplyFrame{0x00, {}, false}, true);
  ASSERT_EQ(broken.size(), 4u);
  EXPECT_NE(broken, Bytes({0x00, 0x78, 0xF0, 0x7E}));
}

TEST(StateReport, JsonEscapesWhateverTheDeviceWasTold) {
  TDeviceReport report;
  report.key = "ABCD";
  report.identity.serialNumber = std::string("a\"b\\c\x01\xE9", 7);
  report.commandCounts["AT+NEWSN="] = 2;
  report.extraComs = {9, 10};
  const std::string json = ReportsToJson({report});
  EXPECT_NE(json.find(R"("sn": "a\"b\\c\u0001)"
                      "\xC3\xA9"
                      R"(")"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find(R"("AT+NEWSN=": 2)"), std::string::npos);
  EXPECT_NE(json.find(R"("extra": [9, 10])"), std::string::npos);
}

TEST(DevsimCommandLine, OptionsAndFaultsBecomeTheBenchConfiguration) {
  TDevsimOptions options;
  std::string error;
  ASSERT_TRUE(ParseDevsimArguments(
      {"--devices", "3", "--bench=/b", "--time-scale", "0.1", "--firmware", "R9", "--fault",
       "all:extra-ports=1", "--fault", "1:slow-reboot", "--fault", "2:stream-reports=error",
       "--fault", "2:unplug-after=4096", "--state", "s.json", "--flash-mib", "64"},
      &options, &error))
      << error;
  EXPECT_EQ(options.devices, 3);
  EXPECT_EQ(options.bench, "/b");
  EXPECT_DOUBLE_EQ(options.timeScale, 0.1);
  TBenchConfig config;
  ASSERT_TRUE(MakeBenchConfig(options, &config, &error)) << error;
  ASSERT_EQ(config.devices.size(), 3u);
  for (const TDeviceConfig& device : config.devices) {
    EXPECT_EQ(device.firmwareVersion, "R9");
    EXPECT_EQ(device.extraPorts, 1);
    EXPECT_EQ(device.flashMiB, 64u);
  }
  EXPECT_EQ(config.devices[0].bootDelayMs, kBootDelayMs);
  EXPECT_EQ(config.devices[1].bootDelayMs, kSlowBootDelayMs);
  EXPECT_EQ(config.devices[2].faults.streamReplies, TStreamReplies::kErrorReport);
  EXPECT_EQ(config.devices[2].faults.unplugAfterBytes, 4096u);
  EXPECT_FALSE(config.programmer.has_value());
}

TEST(DevsimCommandLine, MistakesAreRefusedWithAReason) {
  TDevsimOptions options;
  std::string error;
  EXPECT_FALSE(ParseDevsimArguments({"--bench", "/b"}, &options, &error));
  EXPECT_FALSE(ParseDevsimArguments({"--devices", "17", "--bench", "/b"}, &options, &error));
  EXPECT_FALSE(ParseDevsimArguments({"--devices", "2", "--bench"}, &options, &error));
  EXPECT_FALSE(ParseDevsimArguments({"--devices", "2", "--bench", "/b", "--time-scale", "0"},
                                    &options, &error));
  EXPECT_FALSE(
      ParseDevsimArguments({"--devices", "2", "--bench", "/b", "--color"}, &options, &error));
  for (const char* mib : {"0", "1025", "-1", "x"}) {
    EXPECT_FALSE(ParseDevsimArguments({"--devices", "2", "--bench", "/b", "--flash-mib", mib},
                                      &options, &error))
        << mib;
  }
  EXPECT_TRUE(ParseDevsimArguments({"--help"}, &options, &error));
  EXPECT_TRUE(options.help);

  std::vector<TDeviceConfig> devices(2);
  EXPECT_FALSE(ApplyFault("2:busy", &devices, &error));  // devices are 0 and 1
  EXPECT_FALSE(ApplyFault("busy", &devices, &error));
  EXPECT_FALSE(ApplyFault("0:bad-crc", &devices, &error));
  EXPECT_FALSE(ApplyFault("0:bad-crc=0", &devices, &error));
  EXPECT_FALSE(ApplyFault("0:busy=1", &devices, &error));
  EXPECT_FALSE(ApplyFault("0:extra-ports=3", &devices, &error));
  EXPECT_FALSE(ApplyFault("0:melt", &devices, &error));
  for (const char* swap : {"2", "x", "0:melt", "1:download"}) {
    EXPECT_EQ(
        ParseDevsimArguments({"--devices", "2", "--bench", "/b", "--swap", swap}, &options, &error),
        swap[0] == '1')
        << swap;
  }
  EXPECT_TRUE(ApplyFault("1:busy", &devices, &error));
  EXPECT_FALSE(devices[0].faults.diagBusy);
  EXPECT_TRUE(devices[1].faults.diagBusy);

  const std::string usage = DevsimUsage();
  for (const char* kind :
       {"silent-diag", "silent-modem", "bad-crc=...", "refuse-blocks", "stream-reports[=...]",
        "nv-read-fail", "slow-reboot[=...]", "no-return", "busy", "unplug-after=...",
        "firmware=...", "renumber", "reenum-download", "reenum-programmer", "extra-ports=...",
        "modem-busy", "damaged-reset-reply"}) {
    EXPECT_NE(usage.find(std::string("  ") + kind + " "), std::string::npos) << kind;
  }
}

}  // namespace
}  // namespace vornex::sim
