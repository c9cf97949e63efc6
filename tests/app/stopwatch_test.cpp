#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "app/modAPI.h"
#include "platform/window/PerformanceCounter.h"

namespace {

TEST(FrameTimer, MeasuresCountsAsMilliseconds) {
  platform::VirtualPerformanceCounter counter(10'000'000);
  app::modAPI api(counter);
  counter.Set(1'000'000);
  api.FrameTimer(-1);
  counter.Advance(165'000);
  api.FrameTimer(0);
  EXPECT_DOUBLE_EQ(api.FrameTime, 16.5);
  EXPECT_EQ(api.PerfFrequency, 10'000'000);
  EXPECT_EQ(api.PerfStart, 1'000'000);
  EXPECT_EQ(api.PerfStop, 1'165'000);
}

TEST(FrameTimer, IsZeroBeforeTheFirstStop) {
  platform::VirtualPerformanceCounter counter(10'000'000);
  app::modAPI api(counter);
  counter.Advance(5000);
  api.FrameTimer(-1);
  counter.Advance(5000);
  EXPECT_EQ(api.FrameTime, 0.0);
}

TEST(FrameTimer, OtherFlagsChangeNothing) {
  platform::VirtualPerformanceCounter counter(10'000'000);
  app::modAPI api(counter);
  api.FrameTimer(-1);
  counter.Advance(100'000);
  api.FrameTimer(0);
  const double before = api.FrameTime;
  counter.Advance(7777);
  for (std::int16_t flag : {std::int16_t{1}, std::int16_t{-2}, std::int16_t{5}}) {
    api.FrameTimer(flag);
    EXPECT_EQ(api.FrameTime, before);
    EXPECT_EQ(api.PerfStart, 0);
    EXPECT_EQ(api.PerfStop, 100'000);
  }
}

TEST(FrameTimer, StopWithoutStartMeasuresFromZero) {
  platform::VirtualPerformanceCounter counter(1000);
  app::modAPI api(counter);
  counter.Set(250);
  api.FrameTimer(0);  // no start yet: PerfStart is 0 and PerfFrequency 0
  EXPECT_TRUE(std::isfinite(api.FrameTime));
  EXPECT_GE(api.FrameTime, 0.0);
}

TEST(FrameTimer, ZeroFrequencyLeavesAFiniteNonNegativeTime) {
  platform::VirtualPerformanceCounter counter(0);
  app::modAPI api(counter);
  api.FrameTimer(-1);
  counter.Advance(1000);
  api.FrameTimer(0);
  EXPECT_TRUE(std::isfinite(api.FrameTime));
  EXPECT_GE(api.FrameTime, 0.0);
}

TEST(FrameTimer, OverflowingDifferenceKeepsThePreviousTime) {
  platform::VirtualPerformanceCounter counter(1000);
  app::modAPI api(counter);
  api.FrameTimer(-1);
  counter.Advance(20);
  api.FrameTimer(0);
  EXPECT_DOUBLE_EQ(api.FrameTime, 20.0);
  counter.Set(std::numeric_limits<std::int64_t>::min());
  api.FrameTimer(-1);
  counter.Set(std::numeric_limits<std::int64_t>::max());
  api.FrameTimer(0);
  EXPECT_DOUBLE_EQ(api.FrameTime, 20.0);
}

}  // namespace
