// The frame sequence on its own, with no application around it: the stopwatch it is handed and the
// context it hands each module's draw.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/base/Error.h"
#include "platform/d3d/Direct3D8.h"
#include "tests/support/RecordingBackend.h"
#include "render/FrameContext.h"
#include "render/FrameStopwatch.h"
#include "render/Random.h"
#include "render/modD3D.h"
#include "tests/support/Harness.h"

namespace {

// Remembers each flag with how far the device had got when it came; a stop leaves `nextSpan`.
struct LoggingStopwatch final : render::FrameStopwatch {
  struct Entry {
    std::int16_t flag;
    std::size_t calls;
    int presents;
  };
  void FrameTimer(std::int16_t flag) noexcept override {
    log.push_back({flag, backend ? backend->calls.size() : 0, backend ? backend->presents : 0});
    if (flag == 0) FrameTime = nextSpan;
  }
  d3d::RecordingBackend* backend = nullptr;
  double nextSpan = 0;
  std::vector<Entry> log;
};

struct BareFrame {
  BareFrame() : d3d(direct3d, wgtest::AppDir() + "/tex/snow.jpg", stopwatch, rnd) {}
  void start() {
    d3d.InitD3D(nullptr);
    stopwatch.backend = direct3d.last;
    direct3d.last->calls.clear();
  }
  d3d::RecordingDirect3D8 direct3d;
  LoggingStopwatch stopwatch;
  render::Random rnd;
  render::modD3D d3d;
};

TEST(RenderFrame, StartsTheStopwatchBeforeAnyDeviceCallAndStopsItAfterPresent) {
  BareFrame f;
  f.start();
  f.d3d.RenderFrame();
  ASSERT_EQ(f.stopwatch.log.size(), 2u);
  EXPECT_EQ(f.stopwatch.log[0].flag, -1);
  EXPECT_EQ(f.stopwatch.log[0].calls, 0u);
  EXPECT_EQ(f.stopwatch.log[1].flag, 0);
  EXPECT_EQ(f.stopwatch.log[1].presents, 1);
  EXPECT_EQ(f.stopwatch.log[1].calls, f.direct3d.last->calls.size());
  EXPECT_EQ(f.direct3d.last->callNames().back(), "Present");
}

TEST(RenderFrame, WithoutADeviceNeverStartsTheStopwatch) {
  BareFrame f;
  EXPECT_THROW(f.d3d.RenderFrame(), platform::Error);
  EXPECT_TRUE(f.stopwatch.log.empty());
}

TEST(Frame, HandsTheDeviceTheLastSpanTheGeneratorAndTheSharedMatrices) {
  BareFrame f;
  f.start();
  f.stopwatch.FrameTime = 12.5;
  const render::FrameContext frame = f.d3d.Frame("test");
  EXPECT_EQ(&frame.D3DDevice, f.d3d.D3DDevice.get());
  EXPECT_EQ(frame.FrameTime, 12.5);
  EXPECT_EQ(&frame.Rnd, &f.rnd);
  EXPECT_EQ(&frame.matWorld, &f.d3d.matWorld);
  EXPECT_EQ(&frame.matView, &f.d3d.matView);
  EXPECT_EQ(&frame.matProj, &f.d3d.matProj);
}

// The first frame steps by the span before any stop (none); the second by what the first one's
// stop left, however the stopwatch measured it.
TEST(RenderFrame, TheOrbitStepsByTheSpanThePreviousFrameLeft) {
  BareFrame f;
  f.start();
  f.stopwatch.nextSpan = 1000;
  f.d3d.RenderFrame();
  EXPECT_EQ(f.d3d.OrbitAngle, 0.0f);
  f.d3d.RenderFrame();
  EXPECT_FLOAT_EQ(f.d3d.OrbitAngle, 0.5f);
}

}  // namespace
