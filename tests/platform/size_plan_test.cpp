// The arithmetic behind --max-size: the video's rate once sound and container have had their share,
// the lowest quality accepted, and sizes written as the user writes them.
#include <gtest/gtest.h>

#include "platform/video/SizePlan.h"

namespace {

using video::Container;
using video::PlanForSize;

// 8 MB for 30 s: less 8 000 bytes of header and 24 bytes for each of 900 frames and 1 550 sound
// packets, less 30.1 s of AAC at 192 kbit/s with a tenth in hand, leaves 57 108 480 bits; 92 % of
// them over 31 s (the length and a second of buffer).
TEST(SizePlan, TheVideoGetsWhatTheSoundAndTheContainerLeave) {
  const video::SizePlan plan = PlanForSize(8'000'000, 30, 1080, 1920, 30, Container::Mp4);
  ASSERT_TRUE(plan.Fits());
  EXPECT_EQ(plan.video.bitrate, 1'694'832);
  EXPECT_EQ(plan.video.bufferBits, 1'694'832);
  // Opus's 160 kbit/s and the 64 KiB Matroska keeps for its cues.
  const video::SizePlan webm = PlanForSize(8'000'000, 30, 1080, 1920, 30, Container::WebM);
  EXPECT_EQ(webm.video.bitrate, 1'710'716);
}

// The smallest size the refusal names is accepted, a byte less is not, whatever the shape.
TEST(SizePlan, TheSmallestSizeIsTheBoundary) {
  struct Case {
    double seconds;
    int width, height, fps;
    Container container;
  };
  for (const Case c :
       {Case{30, 1080, 1920, 30, Container::Mp4}, Case{30, 1024, 768, 30, Container::WebM},
        Case{0.5, 320, 320, 10, Container::Matroska}, Case{3600, 4096, 4096, 240, Container::Mp4}}) {
    SCOPED_TRACE(testing::Message() << c.seconds << " s " << c.width << "x" << c.height << "@" << c.fps);
    const std::int64_t least = PlanForSize(1, c.seconds, c.width, c.height, c.fps, c.container).smallestBytes;
    EXPECT_TRUE(PlanForSize(least, c.seconds, c.width, c.height, c.fps, c.container).Fits());
    EXPECT_FALSE(PlanForSize(least - 1, c.seconds, c.width, c.height, c.fps, c.container).Fits());
  }
}

// The lowest quality: a hundredth of a bit per pixel of each frame, and never under 200 kbit/s.
TEST(SizePlan, TheLowestQualityFollowsTheFrameAndHasAFloor) {
  const std::int64_t least = PlanForSize(1, 30, 1080, 1920, 30, Container::Mp4).smallestBytes;
  EXPECT_NEAR(PlanForSize(least, 30, 1080, 1920, 30, Container::Mp4).video.bitrate, 622'080, 1);
  const std::int64_t tiny = PlanForSize(1, 30, 320, 320, 10, Container::Mp4).smallestBytes;
  EXPECT_NEAR(PlanForSize(tiny, 30, 320, 320, 10, Container::Mp4).video.bitrate, 200'000, 1);
  // Twice the frames a second need about twice the video.
  EXPECT_GT(PlanForSize(1, 30, 1080, 1920, 60, Container::Mp4).smallestBytes, least * 17 / 10);
}

// A generous limit buys no more than 20 Mbit/s, which keeps H.264 within the level phones play.
TEST(SizePlan, AGenerousLimitIsCapped) {
  const video::SizePlan plan = PlanForSize(1'000'000'000, 10, 1080, 1920, 30, Container::Mp4);
  EXPECT_EQ(plan.video.bitrate, 20'000'000);
  EXPECT_EQ(plan.video.bufferBits, 20'000'000);
  // A recording shorter than two seconds buffers half its length.
  EXPECT_EQ(PlanForSize(1'000'000'000, 1, 1080, 1920, 30, Container::Mp4).video.bufferBits, 10'000'000);
}

TEST(SizePlan, SizesAreRoundedUpAsTheUserWritesThem) {
  const auto round = [](std::int64_t b) {
    const video::RoundSize r = video::RoundUpSize(b);
    return r.text + "=" + std::to_string(r.bytes);
  };
  EXPECT_EQ(round(2'400'000), "2.4M=2400000");
  EXPECT_EQ(round(2'400'001), "2.5M=2500000");
  EXPECT_EQ(round(3'000'000), "3M=3000000");
  EXPECT_EQ(round(14'200'000), "15M=15000000");
  EXPECT_EQ(round(137'000), "140K=140000");
  EXPECT_EQ(round(1'000'000'000), "1G=1000000000");
  EXPECT_EQ(round(999), "999B=999");
  EXPECT_EQ(video::GroupedBytes(2'400'000), "2 400 000");
  EXPECT_EQ(video::GroupedBytes(999), "999");
}

}  // namespace
