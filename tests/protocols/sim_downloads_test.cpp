// The programmer download and the streaming image download of the station, driven through the
// real device object against simulated devices (and a scripted peer for a wake-up answer that
// no simulated boot downloader gives).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "sim/sha256.h"
#include "sim_protocols_fixture.h"

namespace vornex::simtest {
namespace {

using testing::Bytes;
using testing::ScriptedPeer;

constexpr const char* kTextHexStart = "HEX Start download hex file.";
constexpr const char* kTextHexBlocks = "HEX download bin file...";
constexpr const char* kTextHexRun = "HEX run hex code...";
constexpr const char* kTextImage = "K730 Download ALL.mbn image";
constexpr const char* kRemovedMessage = "The deivce may be removed.";

sim::TProgrammerImage AsSimProgrammer(const THexImage& image) {
  return sim::TProgrammerImage{image.data, image.startAddress};
}

bool Holds(const THexImage& image, const sim::TProgrammerImage& wanted) {
  return image.data == wanted.data && image.startAddress == wanted.startAddress;
}

// The programmer file as the station parses it.
std::shared_ptr<const THexImage> Parsed(const std::string& path) {
  auto image = std::make_shared<THexImage>();
  std::string reason;
  EXPECT_EQ(ParseHexFile(path, *image, &reason), 1) << reason;
  return image;
}

std::string Sha(const TByteVector& bytes) {
  return sim::Sha256Hex(bytes.data(), bytes.size());
}

// Every report of a whole programmer download has the text of its stage (start, blocks, the
// last two for the run), its exact length and phase 0.
void ExpectHexTexts(const Recorder& recorder) {
  ASSERT_FALSE(recorder.progress.empty());
  const std::size_t count = recorder.progress.size();
  for (std::size_t i = 0; i < count; ++i) {
    const Recorder::Progress& p = recorder.progress[i];
    const char* text = i == 0 ? kTextHexStart : i + 2 >= count ? kTextHexRun : kTextHexBlocks;
    EXPECT_EQ(p.text, text) << i;
    EXPECT_EQ(p.textLength, static_cast<std::int32_t>(std::strlen(text))) << i;
    EXPECT_EQ(p.phase, 0) << i;
  }
}

class ProgrammerDownloadTest : public SimProtocolTest {
 protected:
  // Writes the programmer file and returns the image the station will send for it.
  std::shared_ptr<const THexImage> StationProgrammer(const sim::TProgrammerImage& wanted) {
    path_ = files_.File("programmer.hex");
    testing::WriteFile(path_, testing::IntelHexText(wanted.data, wanted.startAddress));
    return Parsed(path_);
  }

  // A connected device object with the device switched into its boot downloader.
  std::unique_ptr<TUsbDevice> InDownloadMode(int index, int number, Recorder& recorder) {
    auto device = Connect(index, number, recorder, 0x03);
    std::uint8_t mode = 0;
    EXPECT_EQ(device->EnterDownloadMode(mode), 1);
    EXPECT_EQ(mode, 0xFF);
    recorder.Clear();
    return device;
  }

  // Loads a programmer of `size` bytes into one device: the blocks it took, the reports.
  void ExpectBlocksAndPercents(std::size_t size, std::uint64_t blocks,
                               const std::vector<int>& percents) {
    const sim::TProgrammerImage wanted{PatternBytes(size, 5), kProgrammerAddress};
    const auto image = StationProgrammer(wanted);
    ASSERT_TRUE(Holds(*image, wanted));
    // The simulator starts the programmer only when its RAM holds exactly these bytes at the
    // start address: every block went to its address with its length.
    sim::TSimBench& bench = Start({sim::TDeviceConfig{}}, wanted);
    Recorder recorder;
    auto device = InDownloadMode(0, 31, recorder);
    ASSERT_EQ(device->DownloadHex(*image), 1);
    EXPECT_EQ(Count(bench, 0, "download:06"), 1u);
    EXPECT_EQ(Count(bench, 0, "download:0F"), blocks);
    EXPECT_EQ(Count(bench, 0, "download:05"), 1u);
    EXPECT_EQ(Count(bench, 0, "programmer:15"), 1u);
    EXPECT_EQ(bench.Report(0).layer, "programmer");
    EXPECT_EQ(recorder.Percents(), percents);
    ExpectHexTexts(recorder);
    EXPECT_TRUE(recorder.messages.empty());
  }

  // Starts the programmer on a device that re-enumerates as it starts, and checks that the
  // device object talks to the programmer afterwards.
  void ExpectFoundAgain(bool renumber) {
    const auto image = StationProgrammer(TestProgrammer());
    sim::TDeviceConfig config;
    config.reenumerateOnProgrammerStart = true;
    config.renumberOnReset = renumber;
    sim::TSimBench& bench = Start({config}, AsSimProgrammer(*image));
    Recorder recorder;
    auto device = InDownloadMode(0, 34, recorder);
    const int comBefore = bench.Report(0).diagCom;

    ASSERT_EQ(device->DownloadHex(*image), 1);
    ASSERT_NE(device->DiagPort(), nullptr);
    EXPECT_TRUE(device->DiagPort()->IsOpen());
    EXPECT_EQ(device->ModemPort(), nullptr);  // only the diagnostic port came back
    EXPECT_EQ(device->Group().key.str(), bench.Key(0));
    const int comAfter = bench.Report(0).diagCom;
    EXPECT_EQ(device->DiagPort()->ComNumber(), comAfter);
    if (renumber) {
      EXPECT_NE(comAfter, comBefore);
    } else {
      EXPECT_EQ(comAfter, comBefore);
    }
    EXPECT_EQ(recorder.Percents().back(), 100);
    EXPECT_TRUE(recorder.messages.empty());
    EXPECT_EQ(Count(bench, 0, "programmer:15"), 1u);

    const TByteVector flash = MakeImage(3000, "VX730-R2.0.0", 3);
    ASSERT_EQ(device->DownloadAllImage(flash), 1);
    EXPECT_EQ(bench.Report(0).flashSha256, Sha(flash));
  }

  testing::TempDir files_;
  std::string path_;
};

TEST_F(ProgrammerDownloadTest, TwoFullBlocks) {
  ExpectBlocksAndPercents(2034, 2, {0, 10, 50, 90, 95, 100});
}

TEST_F(ProgrammerDownloadTest, PartialThirdBlockCapsThePercent) {
  ExpectBlocksAndPercents(2100, 3, {0, 10, 50, 90, 100, 95, 100});
}

TEST_F(ProgrammerDownloadTest, ShortProgrammerIsOneBlock) {
  ExpectBlocksAndPercents(600, 1, {0, 10, 10, 95, 100});
}

// A programmer converted with the toolchain's objcopy (16-byte records, an extended linear
// address record at each 64 KiB boundary, the start address record) arrives in RAM byte for
// byte: the simulator starts it only when its RAM holds exactly the original bytes.
TEST_F(ProgrammerDownloadTest, ObjcopyProgrammerArrivesByteForByte) {
  const sim::TProgrammerImage wanted{PatternBytes(70000, 17), kProgrammerAddress};
  const std::string bin = files_.File("programmer.bin");
  path_ = files_.File("programmer.hex");
  testing::WriteFile(
      bin, std::string_view(reinterpret_cast<const char*>(wanted.data.data()), wanted.data.size()));
  // The input's entry point is 0, so the address change sets the start address as well.
  const std::string command = std::string(VORNEX_OBJCOPY) +
                              " -I binary -O ihex --change-addresses=0x00100000 '" + bin + "' '" +
                              path_ + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const std::string text = testing::ReadFile(path_);
  ASSERT_NE(text.find(":020000040011"), std::string::npos) << "no 64 KiB boundary crossed";
  ASSERT_NE(text.find(":0400000500100000"), std::string::npos) << "no start address record";

  const auto image = Parsed(path_);
  ASSERT_TRUE(Holds(*image, wanted));
  sim::TSimBench& bench = Start({sim::TDeviceConfig{}}, wanted);
  Recorder recorder;
  auto device = InDownloadMode(0, 32, recorder);
  ASSERT_EQ(device->DownloadHex(*image), 1);
  EXPECT_EQ(Count(bench, 0, "download:0F"), (70000u + 1016u) / 1017u);
  EXPECT_EQ(bench.Report(0).layer, "programmer");
}

TEST_F(ProgrammerDownloadTest, RefusedBlockEndsTheDownload) {
  const auto image = StationProgrammer(TestProgrammer());
  sim::TDeviceConfig refusing;
  refusing.faults.refuseBlocks = true;
  sim::TSimBench& bench = Start({refusing}, AsSimProgrammer(*image));
  Recorder recorder;
  auto device = InDownloadMode(0, 33, recorder);
  EXPECT_EQ(device->DownloadHex(*image), 0);
  EXPECT_EQ(Count(bench, 0, "download:0F"), 1u);
  EXPECT_EQ(Count(bench, 0, "download:05"), 0u);
  EXPECT_EQ(recorder.Percents(), (std::vector<int>{0, 10}));
  EXPECT_EQ(recorder.messages, std::vector<std::string>{"programmer block 1 of 3 at 0x00100000: "
                                                        "reply 0x03 \"Reason Codes:write block "
                                                        "refused\""});
  // A refusal is an answer: one attempt, and the port stays open.
  EXPECT_TRUE(device->DiagPort()->IsOpen());
}

TEST_F(ProgrammerDownloadTest, ReenumeratedProgrammerIsFoundAgainByKey) {
  ExpectFoundAgain(false);
}

TEST_F(ProgrammerDownloadTest, RenumberedProgrammerIsFoundAgainByKey) {
  ExpectFoundAgain(true);
}

TEST_F(ProgrammerDownloadTest, DeviceThatDoesNotComeBackIsReportedRemoved) {
  const auto image = StationProgrammer(TestProgrammer());
  sim::TDeviceConfig leaving;
  leaving.reenumerateOnProgrammerStart = true;
  sim::TSimBench& bench = Start({leaving, sim::TDeviceConfig{}}, AsSimProgrammer(*image));
  Recorder recorder;
  auto device = InDownloadMode(0, 35, recorder);

  // Once the started programmer has left the bus, the device is pulled for good; the other
  // device stays, so the search finds a group, but not this one.
  std::thread puller([&bench] {
    if (bench.WaitUntil(
            0, [](const sim::TDeviceReport& r) { return r.layer == "programmer" && !r.present; },
            kLifeLimitMs)) {
      bench.Unplug(0);
    }
  });
  const std::int32_t result = device->DownloadHex(*image);
  puller.join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(recorder.messages, std::vector<std::string>{kRemovedMessage});
  EXPECT_EQ(device->DiagPort(), nullptr);
  EXPECT_EQ(device->ModemPort(), nullptr);
  EXPECT_EQ(recorder.Percents().back(), 95);
}

// An error report to the close (of both downloads) or to the reset is a failure with its reason.
TEST_F(ProgrammerDownloadTest, ErrorReportToCloseOrResetIsAFailure) {
  const auto image = StationProgrammer(TestProgrammer());
  sim::TDeviceConfig failing;
  failing.faults.errorReportOnClose = failing.faults.errorReportOnReset = true;
  sim::TSimBench& bench = Start({failing}, AsSimProgrammer(*image));
  Recorder recorder;
  auto device = InDownloadMode(0, 36, recorder);
  EXPECT_EQ(device->DownloadHex(*image), 0);
  EXPECT_EQ(device->DownloadAllImage(MakeImage(3000, "VX730-R3.6.0", 36)), 0);
  EXPECT_EQ(device->ResetDevice(), 0);
  const std::string close = ": reply 0x0E \"Reason Codes:flash close failed\"";
  EXPECT_EQ(recorder.messages, (std::vector<std::string>{"programmer close" + close,
                                                         "image close after 3 blocks" + close,
                                                         "Reason Codes:reset refused"}));
  EXPECT_EQ(bench.Report(0).streamedBytes, 3000u);  // still open: nothing was installed
}

class WakeUpPeerTest : public ::testing::Test {
 protected:
  void SetUp() override { run_.TimeScale(kTimeScale); }
  testing::RunScope run_;
  testing::TempDir files_;
};

// A boot downloader that answers the wake-up with an accepted 0x07 instead of the acknowledge:
// the wake-up is sent ten times in all and the download goes on. The peer's capture shows the
// blocks byte for byte.
TEST_F(WakeUpPeerTest, WakeUpWithoutAcknowledgeIsRepeatedTenTimes) {
  const std::string path = files_.File("programmer.hex");
  testing::WriteFile(path, TestProgrammerHex());
  const auto image = Parsed(path);
  ASSERT_FALSE(image->data.empty());

  TUsbDevice device(182);
  Recorder recorder;
  recorder.Attach(device);
  PeerPort port(device, run_);
  ScriptedPeer peer(port.Pty(), 0x7E, [](const Bytes& request) {
    switch (CommandOf(Unstuff(request))) {
      case 0x06:
        return Frame(0x07, PROTOCOL_DOWNLOAD);
      case 0x0F:
      case 0x05:
        return Frame(0x02, PROTOCOL_DOWNLOAD);
      case 0x01: {
        TByteVector hello = Text("QCOM fast download protocol targ");
        hello.push_back(0x03);  // one by one: GCC 12 misreads an insert here as out of bounds
        hello.push_back(0x02);
        return Frame(0x02, PROTOCOL_DIAG, hello);  // streaming replies open without a flag
      }
      case 0x15:
        return Frame(0x16, PROTOCOL_DIAG);
      default:
        return Bytes{};
    }
  });
  ASSERT_EQ(device.DownloadHex(*image), 1);

  std::vector<TByteVector> requests;
  for (const Bytes& request : peer.Requests()) requests.push_back(Unstuff(request));
  const std::size_t blocks = (image->data.size() + 1016) / 1017;
  ASSERT_EQ(requests.size(), 10 + blocks + 3);
  for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(CommandOf(requests[i]), 0x06) << i;
  TByteVector sent;
  for (std::size_t b = 0; b < blocks; ++b) {
    // 7E 0F address(BE32) length(BE16) data CRC CRC 7E
    const TByteVector& block = requests[10 + b];
    ASSERT_EQ(CommandOf(block), 0x0F);
    ASSERT_GE(block.size(), 2u + 6u + 3u);
    const std::uint32_t address = (std::uint32_t{block[2]} << 24) |
                                  (std::uint32_t{block[3]} << 16) | (std::uint32_t{block[4]} << 8) |
                                  block[5];
    const std::size_t length = (std::size_t{block[6]} << 8) | block[7];
    EXPECT_EQ(address, image->startAddress + b * 1017);
    EXPECT_EQ(length, std::min<std::size_t>(1017, image->data.size() - b * 1017));
    ASSERT_EQ(block.size(), 2u + 6u + length + 3u);
    sent.insert(sent.end(), block.begin() + 8,
                block.begin() + 8 + static_cast<std::ptrdiff_t>(length));
  }
  EXPECT_EQ(sent, image->data);
  const TByteVector& go = requests[10 + blocks];
  EXPECT_EQ(CommandOf(go), 0x05);
  EXPECT_EQ(TByteVector(go.begin() + 2, go.begin() + 6), Be32(image->startAddress));
  EXPECT_EQ(CommandOf(requests[11 + blocks]), 0x01);
  EXPECT_EQ(CommandOf(requests[12 + blocks]), 0x15);
  EXPECT_EQ(recorder.Percents().front(), 0);
  EXPECT_EQ(recorder.Percents().back(), 100);
}

class ImageDownloadTest : public SimProtocolTest {
 protected:
  // A device object connected to device `index` and talking to its running programmer; the
  // recorder holds nothing yet.
  std::unique_ptr<TUsbDevice> InProgrammer(int index, int number, Recorder& recorder) {
    auto device = Connect(index, number, recorder, 0x03);
    EXPECT_TRUE(RawIntoProgrammer(*device, TestProgrammer()));
    recorder.Clear();
    return device;
  }

  // Every report carries the image text, its length and phase 30.
  static void ExpectImageTexts(const Recorder& recorder) {
    for (const Recorder::Progress& p : recorder.progress) {
      EXPECT_EQ(p.text, kTextImage);
      EXPECT_EQ(p.textLength, 27);
      EXPECT_EQ(p.phase, 30);
    }
  }
};

// Blocks of 1024 bytes at their offsets, then the close: whole blocks; a partial last block
// that carries the rest, the flash ending exactly there; an empty image as one empty write.
TEST_F(ImageDownloadTest, BlocksAreStreamedThenClosed) {
  const struct {
    int number;  // of the device object, and the image's salt
    std::size_t bytes;
    const char* tag;
    std::vector<int> percents;
    std::size_t writes;
    std::vector<std::string> logLines;
  } cases[] = {
      {41,
       4096,
       "VX730-R3.0.0",
       {0, 5, 28, 52, 76, 100, 100},
       4,
       {"block_count = 4", "lImageLen = 4096", "index = 4096"}},
      {42,
       4097,
       "VX730-R3.0.1",
       {0, 5, 24, 43, 62, 81, 100, 100},
       5,
       {"block_count1 = 5", "lImageLen = 4097", "index = 5120"}},
      {44, 0, "", {0, 5, 100, 100}, 1, {"block_count = 0", "lImageLen = 0", "index = 1024"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    sim::TSimBench& bench = Start(1);
    Recorder recorder;
    auto device = InProgrammer(0, c.number, recorder);
    TByteVector image;
    if (c.bytes > 0) image = MakeImage(c.bytes, c.tag, c.number);
    ASSERT_EQ(device->DownloadAllImage(image), 1);
    EXPECT_EQ(recorder.Percents(), c.percents);
    ExpectImageTexts(recorder);
    EXPECT_EQ(recorder.attempts, static_cast<int>(c.writes) + 1);  // each answered at once
    EXPECT_EQ(Count(bench, 0, "programmer:07"), c.writes);
    EXPECT_EQ(Count(bench, 0, "programmer:15"), 1u);
    if (c.bytes > 0) {  // the flash holds the image and nothing else
      const sim::TDeviceReport report = bench.Report(0);
      EXPECT_EQ(report.flashLength, c.bytes);
      EXPECT_EQ(report.flashSha256, Sha(image));
      EXPECT_EQ(report.firmwareVersion, c.tag);
    }
    device.reset();
    const std::string log = ReadLogText(LogPath(c.number));
    EXPECT_TRUE(LinesInOrder(log, c.logLines)) << log;
  }
}

TEST_F(ImageDownloadTest, LargeImageReportsEverySecondBlock) {
  sim::TSimBench& bench = Start(1);
  Recorder recorder;
  auto device = InProgrammer(0, 43, recorder);
  const TByteVector image = MakeImage(200000, "VX730-R3.1.0", 43);
  ASSERT_EQ(device->DownloadAllImage(image), 1);
  EXPECT_EQ(Count(bench, 0, "programmer:07"), 196u);
  // 0 and 5, one report after each of the 98 even blocks, the final 100.
  const std::vector<int> percents = recorder.Percents();
  ASSERT_EQ(percents.size(), 2u + 98u + 1u);
  EXPECT_EQ(percents[0], 0);
  EXPECT_EQ(percents[1], 5);
  EXPECT_EQ(percents[2], 5);     // block 2: 5.97
  EXPECT_EQ(percents[50], 52);   // block 98: 52.5
  EXPECT_EQ(percents[99], 100);  // block 196
  EXPECT_EQ(percents[100], 100);
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
  ExpectImageTexts(recorder);
  EXPECT_EQ(bench.Report(0).flashSha256, Sha(image));
  EXPECT_EQ(bench.Report(0).firmwareVersion, "VX730-R3.1.0");
}

// A damaged reply to a block leaves unknown whether the block was written; blocks carry their
// absolute offsets, so the block is sent again and the image arrives whole.
TEST_F(ImageDownloadTest, BlockWithABadChecksumReplyIsSentAgain) {
  // The device's third stream-write reply is corrupt: one firmware hello of the connection and
  // the frames that start the programmer come before the first.
  sim::TDeviceConfig corrupt;
  corrupt.faults.badCrcReply =
      static_cast<std::uint32_t>(1 + RawIntoProgrammerFrames(TestProgrammer()) + 3);
  sim::TSimBench& bench = Start({corrupt});
  Recorder recorder;
  auto device = InProgrammer(0, 45, recorder);
  ASSERT_EQ(HandledFrames(bench, 0), 1 + RawIntoProgrammerFrames(TestProgrammer()));

  const TByteVector image = MakeImage(8192, "VX730-R3.2.0", 45);
  EXPECT_EQ(device->DownloadAllImage(image), 1);
  EXPECT_EQ(Count(bench, 0, "programmer:07"), 9u);
  EXPECT_EQ(bench.Report(0).flashSha256, Sha(image));
  EXPECT_TRUE(recorder.messages.empty());
}

// A programmer that answers a block with an error report has not written it: the download ends
// there, unclosed, and does not report a rewrite that did not happen.
TEST_F(ImageDownloadTest, ErrorReportEndsTheStreamWithoutClosing) {
  sim::TDeviceConfig failing;
  failing.faults.streamReplies = sim::TStreamReplies::kErrorReport;
  sim::TSimBench& bench = Start({failing});
  Recorder recorder;
  auto device = InProgrammer(0, 46, recorder);
  const std::string flashBefore = bench.Report(0).flashSha256;

  EXPECT_EQ(device->DownloadAllImage(MakeImage(8192, "VX730-R3.3.0", 46)), 0);
  EXPECT_EQ(Count(bench, 0, "programmer:07"), 1u);
  EXPECT_EQ(Count(bench, 0, "programmer:15"), 0u);
  EXPECT_EQ(bench.Report(0).flashSha256, flashBefore);
  EXPECT_EQ(recorder.messages,
            std::vector<std::string>{"image block 1 of 8 at 0x00000000: reply 0x0E \"Reason "
                                     "Codes:flash write failed at 0x00000000\""});
}

// A log report instead of the acknowledge is accepted: the block was written.
TEST_F(ImageDownloadTest, LogReportsStillStreamTheWholeImage) {
  sim::TDeviceConfig chatty;
  chatty.faults.streamReplies = sim::TStreamReplies::kLogReport;
  sim::TSimBench& bench = Start({chatty});
  Recorder recorder;
  auto device = InProgrammer(0, 47, recorder);
  const TByteVector image = MakeImage(5000, "VX730-R3.4.0", 47);
  ASSERT_EQ(device->DownloadAllImage(image), 1);
  EXPECT_EQ(Count(bench, 0, "programmer:07"), 5u);
  EXPECT_EQ(bench.Report(0).flashSha256, Sha(image));
}

// A stop raised with the second block's report ends the stream unclosed, logged, unreported.
TEST_F(ImageDownloadTest, StopFlagEndsTheStreamAfterTheBlockInFlight) {
  sim::TSimBench& bench = Start(1);
  static std::atomic<bool> stop;
  Recorder recorder;
  auto device = InProgrammer(0, 49, recorder);
  device->SetStopFlag(&stop);
  device->SetCallback(
      [](void* user, std::int32_t status, const void* data) {
        Recorder::Record(user, status, data);
        stop = static_cast<Recorder*>(user)->progress.size() >= 4;  // 0, 5, two blocks
      },
      &recorder);
  EXPECT_EQ(device->DownloadAllImage(MakeImage(8192, "VX730-R3.7.0", 49)), 0);
  EXPECT_EQ(bench.Report(0).streamedBytes, 2048u);  // a close would have ended the stream
  EXPECT_TRUE(recorder.messages.empty());
  device.reset();
  EXPECT_TRUE(LinesInOrder(ReadLogText(LogPath(49)), {"stream stopped at offset 2048"}));
}

TEST_F(ImageDownloadTest, UnpluggedDeviceFailsWithinTheAttemptsAndClosesThePort) {
  sim::TDeviceConfig leaving;
  leaving.faults.unplugAfterBytes = 2500;  // during the third block
  sim::TSimBench& bench = Start({leaving});
  Recorder recorder;
  auto device = InProgrammer(0, 48, recorder);

  EXPECT_EQ(device->DownloadAllImage(MakeImage(8192, "VX730-R3.5.0", 48)), 0);
  EXPECT_EQ(recorder.attempts, 2 + kExchangeAttempts);
  ASSERT_NE(device->DiagPort(), nullptr);
  EXPECT_FALSE(device->DiagPort()->IsOpen());
  EXPECT_EQ(Count(bench, 0, "programmer:07"), 3u);
  EXPECT_EQ(Count(bench, 0, "programmer:15"), 0u);
  EXPECT_FALSE(bench.Report(0).present);
  EXPECT_EQ(bench.Report(0).flashCount, 0u);
  EXPECT_EQ(recorder.messages,
            std::vector<std::string>{"image block 3 of 8 at 0x00000800: no reply"});
}

// Above 54 MB the worker's progress arithmetic once wrapped; the device must take such an image
// whole when its flash is large enough.
TEST_F(ImageDownloadTest, ImageAboveFiftyFourMegabytesReachesALargeFlash) {
  sim::TDeviceConfig large;
  large.flashMiB = 64;
  sim::TSimBench& bench = Start({large});
  Recorder recorder;
  auto device = InProgrammer(0, 50, recorder);
  const TByteVector image = MakeImage(55'000'000, "VX730-R3.8.0", 50);
  ASSERT_EQ(device->DownloadAllImage(image), 1);
  EXPECT_EQ(bench.Report(0).flashLength, image.size());
  EXPECT_EQ(bench.Report(0).flashSha256, Sha(image));
}

}  // namespace
}  // namespace vornex::simtest
