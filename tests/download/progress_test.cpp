// The worker's progress scale: the two downloads share the band from 100 to about 900 in
// proportion to their file sizes, for images of any size the flash can take.
#include <gtest/gtest.h>

#include "download/nv_items.h"
#include "download/worker.h"
#include "support/run_scope.h"

namespace vornex {
namespace {

class ProgressScale : public ::testing::Test {
 protected:
  void SetUp() override { run_.TimeScale(0.01); }
  testing::RunScope run_;
};

TEST_F(ProgressScale, DownloadsShareTheBandByFileSize) {
  TSdlThread worker;
  worker.SetProgressScale(100000, 20000000);  // Wh 100, Wi 20000, T 20101
  EXPECT_EQ(worker.ProgressPosition(0, 0), 100u);
  EXPECT_EQ(worker.ProgressPosition(0, 100), 100u + (100u * 100u * 800u / 20101u) / 100u);
  EXPECT_EQ(worker.ProgressPosition(30, 0), 103u);   // E = 100 + 80000 / 20101
  EXPECT_EQ(worker.ProgressPosition(30, 50), 500u);  // 103 + 39799 / 100
  EXPECT_EQ(worker.ProgressPosition(30, 100), 898u);
  EXPECT_EQ(worker.ProgressPosition(2, 77), 103u);  // weight 0: stays at its base
  for (const std::uint8_t phase : {1, 6, 31, 200}) {
    EXPECT_FALSE(worker.ProgressPosition(phase, 50)) << int(phase);
  }
  // Phases that have no band of their own report nothing.
  for (const std::uint8_t phase : {3, 4, 5, 9, 13}) {
    EXPECT_FALSE(worker.ProgressPosition(phase, 50)) << int(phase);
  }
}

TEST_F(ProgressScale, ProgrammerThatCouldNotBeMeasuredStaysAtTheBandStart) {
  TSdlThread worker;
  worker.SetProgressScale(0, 8 * 1024 * 1024);
  EXPECT_EQ(worker.ProgressPosition(0, 0), 100u);
  EXPECT_EQ(worker.ProgressPosition(0, 100), 100u);
  EXPECT_EQ(worker.ProgressPosition(30, 100), 100u + 8388u * 800u / 8389u);
}

// Above about 53.7 MB percent x weight x 800 passes 2^32: the image band must still rise to its
// end near 900 without wrapping.
TEST_F(ProgressScale, LargeImagesRiseToTheBandEndWithoutWrapping) {
  for (const std::uint64_t imageBytes : {std::uint64_t{60'000'000}, std::uint64_t{256} << 20}) {
    SCOPED_TRACE(imageBytes);
    TSdlThread worker;
    worker.SetProgressScale(100000, imageBytes);
    std::uint32_t last = 0;
    for (const std::uint8_t percent : {0, 50, 100}) {
      const auto position = worker.ProgressPosition(30, percent);
      ASSERT_TRUE(position) << int(percent);
      EXPECT_GE(*position, last) << int(percent);
      last = *position;
    }
    EXPECT_GE(last, 898u);
    EXPECT_LE(last, 900u);
  }
}

TEST(NvItems, ListsHoldTheirDocumentedEntries) {
  const auto& lists = NvItemLists();
  ASSERT_EQ(lists.size(), 4u);
  EXPECT_EQ(lists[0].size(), 32u);
  EXPECT_EQ(lists[1].size(), 63u);
  EXPECT_EQ(lists[2].size(), 472u);
  EXPECT_EQ(lists[3].size(), 15u);

  const auto sorted = SortedNvItems();
  ASSERT_EQ(sorted.size(), 582u);
  int twice = 0;
  for (std::size_t i = 1; i < sorted.size(); ++i) {
    EXPECT_LE(sorted[i - 1].item, sorted[i].item);
    if (sorted[i - 1].item == sorted[i].item) ++twice;
  }
  EXPECT_EQ(twice, 13);
  EXPECT_TRUE(IsIndexedNvItem(10));
  EXPECT_TRUE(IsIndexedNvItem(5455));
  EXPECT_FALSE(IsIndexedNvItem(856));
}

}  // namespace
}  // namespace vornex
