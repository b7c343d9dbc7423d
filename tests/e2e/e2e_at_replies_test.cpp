// Modems that word their AT replies as real modems do (error results as "+CME ERROR", lines
// after the final result, lines ended by CR alone) go through a whole job like any other: the
// station reads every reply right, and a command that the modem refuses fails at once without
// closing its port, so a device without MEID keeps the rest of its identity.
#include <gtest/gtest.h>

#include <iterator>

#include "station_harness.h"

namespace vornex::e2e {
namespace {

using ModemReplyStyleTest = StationTest;

TEST_F(ModemReplyStyleTest, EveryReplyStyleKeepsTheIdentityThroughAWholeJob) {
  using enum sim::TAtReplyStyle;
  const sim::TAtReplyStyle styles[] = {kPlain, kCmeErrors, kUnsolicitedAfterOk, kCrOnly,
                                       kBlankAfterOk};
  // Devices of the two error styles refuse AT+NEWMEID, as a device without MEID does.
  auto withoutMeid = [](sim::TAtReplyStyle style) {
    return style == kPlain || style == kCmeErrors;
  };
  std::vector<sim::TDeviceConfig> devices;
  for (const sim::TAtReplyStyle style : styles) {
    sim::TDeviceConfig& device = devices.emplace_back();
    device.faults.atReplyStyle = style;
    if (withoutMeid(style)) device.faults.atRefused = {"AT+NEWMEID"};
  }
  sim::TSimBench& bench = StartBench(devices);
  const std::vector<sim::TDeviceReport> before = bench.Reports();
  Station& station = StartStation();
  ASSERT_EQ(station.Check().count, static_cast<int>(std::size(styles)));
  station.RunBatch();

  for (std::size_t i = 0; i < std::size(styles); ++i) {
    SCOPED_TRACE("style " + std::to_string(i));
    const int slot = station.SlotShowing(before[i].diagCom);
    ASSERT_GE(slot, 0);
    ExpectPassedJob(station.Reports(slot));
    const sim::TDeviceReport now = bench.Report(static_cast<int>(i));
    sim::TDeviceReport expected = before[i];
    if (withoutMeid(styles[i])) {
      // Refused its MEID, the station writes none back: the MEID is what the rewrite left.
      EXPECT_EQ(now.commandCounts.count("refused:AT+NEWMEID"), 1u);
      EXPECT_EQ(now.commandCounts.count("refused:AT+NEWMEID="), 0u);
      expected.identity.meid = now.identity.meid;
    }
    ExpectRewrittenKeepingIdentity(expected, now, images_);
  }
}

}  // namespace
}  // namespace vornex::e2e
