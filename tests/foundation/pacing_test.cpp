// The pacing clock scales every pause and limit, and ignores nonsense scales.
#include "foundation/pacing.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/run_scope.h"

namespace vornex {
namespace {

class PacingTest : public ::testing::Test {
 protected:
  testing::RunScope run_;
};

TEST_F(PacingTest, ScaleAppliesToPausesAndIgnoresNonsense) {
  run_.TimeScale(0.5);
  EXPECT_EQ(pacing::Scaled(1000), std::chrono::milliseconds(500));
  pacing::SetTimeScale(0.0);
  pacing::SetTimeScale(-2.0);
  pacing::SetTimeScale(std::nan(""));
  EXPECT_DOUBLE_EQ(pacing::TimeScale(), 0.5);
}

TEST_F(PacingTest, DeadlineExpiresAndRoundsRemainingTimeUp) {
  run_.TimeScale(1.0);
  const pacing::TDeadline far(60000);
  EXPECT_FALSE(far.Expired());
  EXPECT_GT(far.RemainingMs(), 59000);
  EXPECT_LE(far.RemainingMs(), 60000);
  const pacing::TDeadline none(0);
  EXPECT_TRUE(none.Expired());
  EXPECT_EQ(none.RemainingMs(), 0);
}

TEST_F(PacingTest, SleepAndTickCountAgree) {
  run_.TimeScale(0.01);
  const std::uint32_t before = pacing::TickCount();
  pacing::Sleep(2000);  // 20 ms at this scale
  const std::uint32_t elapsed = pacing::TickCount() - before;
  EXPECT_GE(elapsed, 19u);
}

}  // namespace
}  // namespace vornex
