// Image folders the station refuses before any device is touched: the download answer carries
// the refusal, no job starts and every device stays as it was; once the operator has put the
// folder right, the next Start flashes them all. The program's exit status tells each way out
// apart, and "vornex restore" names a device that still needs its image.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "console/records_commands.h"
#include "station_harness.h"

namespace vornex::e2e {
namespace {

struct BadFile {
  const char* label;                         // of the test case
  const char* name;                          // in the image folder
  std::string (*spoil)(const std::string&);  // the good file's text -> the bad one
  const char* refusal;                       // how the refusal starts
};

class BadImageFolderTest : public StationTest, public ::testing::WithParamInterface<BadFile> {};

TEST_P(BadImageFolderTest, RefusedStartTouchesNoDeviceAndTheFixedFolderFlashes) {
  const BadFile bad = GetParam();
  sim::TSimBench& bench = StartBench(std::vector<sim::TDeviceConfig>(2));
  const std::vector<sim::TDeviceReport> before = bench.Reports();
  const std::string path = images_.folder + "/" + bad.name;
  const std::string good = testing::ReadFile(path);
  testing::WriteFile(path, bad.spoil(good));
  Station& station = StartStation();
  ASSERT_EQ(station.Check().count, 2);

  const TDownloadCnf refused = station.RunBatch();
  EXPECT_TRUE(refused.refusal.str().starts_with(bad.refusal)) << refused.refusal.str();
  EXPECT_EQ(refused.started, (std::array<std::int32_t, kSlotCount>{}));
  EXPECT_EQ(station.View().notices,
            std::vector<std::string>{"Attention: " + refused.refusal.str()});
  EXPECT_TRUE(station.Console().StartEnabled());
  for (const sim::TDeviceReport& device : before) {
    const int slot = station.SlotShowing(device.diagCom);
    ASSERT_GE(slot, 0);
    EXPECT_EQ(station.Console().Slot(slot).state, SlotState::kReady);
    EXPECT_TRUE(station.Reports(slot).empty());
    ExpectUntouched(device, bench.Report(device.index));
  }

  testing::WriteFile(path, good);
  const TDownloadCnf flashed = station.RunBatch();
  EXPECT_EQ(flashed.refusal.str(), "");
  for (const sim::TDeviceReport& device : before) {
    const int slot = station.SlotShowing(device.diagCom);
    ASSERT_GE(slot, 0);
    EXPECT_EQ(flashed.started[static_cast<std::size_t>(slot)], 1);
    ExpectPassedJob(station.Reports(slot));
    ExpectRewrittenKeepingIdentity(device, bench.Report(device.index), images_);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadImageFolderTest,
    ::testing::Values(
        BadFile{"TruncatedProgrammer", "prog_9004.hex",
                [](const std::string& text) { return text.substr(0, text.size() / 2); },
                "Image set refused: programmer prog_9004.hex does not parse: "},
        BadFile{"OneByteFlashImage", "nor.mbn", [](const std::string&) { return std::string("Z"); },
                "Image set refused: nor.mbn is too small for a flash image: 1 bytes"}),
    [](const ::testing::TestParamInfo<BadFile>& info) { return std::string(info.param.label); });

// Runs the station program with these arguments, both outputs into the file; its exit status,
// -1 when it did not exit by itself.
int RunProgram(const std::vector<std::string>& args, const std::string& output) {
  std::string command = std::string("'") + VORNEX_PROGRAM + "'";
  for (const std::string& arg : args) command += " '" + arg + "'";
  const int status = std::system((command + " >'" + output + "' 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Each way out of the program has its own exit status, whatever the number of devices: an image
// set refused with two devices listed does not read as two FAILED devices.
TEST_F(StationTest, EachWayOutOfTheProgramHasItsOwnExitStatus) {
  StartBench(std::vector<sim::TDeviceConfig>(2));
  testing::WriteFile(images_.folder + "/nor.mbn", "Z");
  const std::string settings = root_.File("station.ini");
  testing::WriteFile(settings, "[Config]\r\n");
  const std::string typo = root_.File("typo");
  const struct {
    std::vector<std::string> args;
    int status;
    std::string says;
  } cases[] = {
      {{"--headless", "--expect", "9"},
       64,
       "vornex: --expect takes a whole number of devices from 1 to 8"},
      {{"history", "--since", "2026-02-30"},
       64,
       "vornex history: --since 2026-02-30 is no date (YYYY-MM-DD or YYYY-MM-DD hh:mm:ss)"},
      {{"restore", "--data", typo},
       69,
       "vornex restore: no station records in " + typo + ": the folder does not exist"},
      {{"--headless", "--bench", bench_->Folder(), "--image", images_.folder, "--expect", "2",
        "--time-scale", "0.05", "--data", root_.File("records"), "--settings", settings},
       65,
       "Image set refused: nor.mbn is too small for a flash image"},
  };
  for (const auto& c : cases) {
    const std::string output = root_.File("output.txt");
    EXPECT_EQ(RunProgram(c.args, output), c.status) << testing::ReadFile(output);
    EXPECT_NE(testing::ReadFile(output).find(c.says), std::string::npos)
        << testing::ReadFile(output);
  }
  EXPECT_FALSE(std::filesystem::exists(typo));
}

// A device stopped inside its image stream and put back with "vornex restore ID" has its
// identity again, in its old firmware: the restore says so, step by step.
TEST_F(StationTest, ARestoreTellsThatTheDeviceStillNeedsItsImage) {
  images_ = WriteImageFolder(root_.File("long-images"), true, true, 2 * 1024 * 1024);
  sim::TSimBench& bench = StartBench({sim::TDeviceConfig{}});
  const sim::TDeviceReport before = bench.Report(0);
  Station& station = StartStation();
  ASSERT_EQ(station.Check().count, 1);
  station.PressStart();
  ASSERT_TRUE(bench.WaitUntil(
      0, [](const sim::TDeviceReport& r) { return r.streamedBytes > 0; }, kPresenceLimitMs));
  station.Coordinator().RequestStop();
  station.FinishBatch();
  const auto& job = station.Summary(station.SlotShowing(before.diagCom));
  ASSERT_TRUE(job.has_value());
  const std::string id = std::to_string(job->backupId);
  const int nvItems = job->nvBackedUp;
  station_.reset();  // the device is free again

  std::ostringstream out;
  EXPECT_EQ(RunRestoreCommand({id, "--bench", bench.Folder(), "--time-scale", "0.05", "--data",
                               root_.File("records")},
                              out, out),
            0);
  std::size_t at = 0;
  for (const std::string& line :
       {FormatBounded(128, "Device %s found: COM%d (diagnostics), COM%d (modem)\n",
                      before.key.c_str(), before.diagCom, before.modemCom),
        std::string("  reset back from download mode: "),
        FormatBounded(64, "  restored %d NV items and the AT values\n", nvItems),
        std::string("  read back equal\n"), "Backup " + id + " restored and verified: closed.\n",
        "The device still runs " + before.firmwareVersion + ", not " + kImageTag +
            ": press Start with that image to finish it (its identity is restored).\n"}) {
    at = out.str().find(line, at);
    ASSERT_NE(at, std::string::npos) << line << "in order in:\n" << out.str();
  }
  const sim::TDeviceReport after = bench.Report(0);
  EXPECT_EQ(after.identity.serialNumber, before.identity.serialNumber);
  EXPECT_EQ(after.nvDigest, before.nvDigest);
  EXPECT_EQ(after.firmwareVersion, before.firmwareVersion);
}

}  // namespace
}  // namespace vornex::e2e
