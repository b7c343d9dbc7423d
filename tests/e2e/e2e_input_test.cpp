// Image folders the station refuses before any device is touched: the download answer carries
// the refusal, no job starts and every device stays as it was; once the operator has put the
// folder right, the next Start flashes them all.
#include <gtest/gtest.h>

#include <array>
#include <string>

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
  sim::SimBench& bench = StartBench(std::vector<sim::DeviceConfig>(2));
  const std::vector<sim::DeviceReport> before = bench.Reports();
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
  for (const sim::DeviceReport& device : before) {
    const int slot = station.SlotShowing(device.diagCom);
    ASSERT_GE(slot, 0);
    EXPECT_EQ(station.Console().Slot(slot).state, SlotState::kReady);
    EXPECT_TRUE(station.Reports(slot).empty());
    ExpectUntouched(device, bench.Report(device.index));
  }

  testing::WriteFile(path, good);
  const TDownloadCnf flashed = station.RunBatch();
  EXPECT_EQ(flashed.refusal.str(), "");
  for (const sim::DeviceReport& device : before) {
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

}  // namespace
}  // namespace vornex::e2e
