// Long runs: the whole demo on the recording backend (no GPU work) and the virtual clock, far longer
// than anyone watches it, with every invariant of the scene checked as it goes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>

#include "render/Camera.h"
#include "tests/support/Harness.h"

namespace {

// Resident set size in kilobytes, from /proc/self/statm.
long ResidentKb() {
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (!f) return -1;
  long pages = 0, resident = 0;
  const int n = std::fscanf(f, "%ld %ld", &pages, &resident);
  std::fclose(f);
  return n == 2 ? resident * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

TEST(Soak, TwoHundredThousandFramesKeepTheSceneInBoundsAndMemoryFlat) {
  wgtest::RecordingDemo demo;
  demo.startup();
  demo.backend().recordCalls = false;
  demo.backend().keepDraws = false;

  constexpr int kFrames = 200'000;
  constexpr int kBatch = 1'000;
  [[maybe_unused]] long rssAfterWarmUp = 0;
  d3d::D3DVECTOR lastEye = demo.form.D3D.GetCamera().GetPosition();
  int titleSteps = 0;
  std::int16_t lastTitle = demo.form.Titles.TitleIndex;

  for (int done = 0; done < kFrames; done += kBatch) {
    for (int i = 0; i < kBatch; ++i) {
      demo.frames(1);
      if (demo.form.Titles.TitleIndex != lastTitle) {
        ++titleSteps;
        lastTitle = demo.form.Titles.TitleIndex;
      }
    }
    const int frame = done + kBatch;
    ASSERT_FALSE(demo.form.Unloaded());
    ASSERT_EQ(demo.form.Snow.FlakeCount(), frame >= 3000 ? 3000 : frame);
    ASSERT_GE(demo.form.Titles.TitleIndex, 0);
    ASSERT_LE(demo.form.Titles.TitleIndex, 8);

    const auto& flakes = demo.form.Snow.Flakes();
    for (int k = 0; k < demo.form.Snow.FlakeCount(); ++k) {
      const snow::SnowFlake& f = flakes[static_cast<std::size_t>(k)];
      // A never-respawned flake rests at the origin; every other one lies in the snow's square.
      ASSERT_GE(f.vecPos.x, -100.0f) << "flake " << k << " at frame " << frame;
      ASSERT_LT(f.vecPos.x, 100.0f) << "flake " << k << " at frame " << frame;
      ASSERT_GE(f.vecPos.z, -100.0f) << "flake " << k << " at frame " << frame;
      ASSERT_LT(f.vecPos.z, 100.0f) << "flake " << k << " at frame " << frame;
      ASSERT_GE(f.vecPos.y, 0.0f) << "flake " << k << " at frame " << frame;
      ASSERT_LE(f.vecPos.y, 100.0f) << "flake " << k << " at frame " << frame;
      ASSERT_GE(f.ColorValue.a, 0.0f);
      ASSERT_LE(f.ColorValue.a, 1.0f);
      ASSERT_GE(f.GroundFrames, 0);
      ASSERT_LT(f.GroundFrames, 10);
    }

    // The orbit goes on: the eye moved during the batch and stays on its circle.
    const d3d::D3DVECTOR eye = demo.form.D3D.GetCamera().GetPosition();
    ASSERT_TRUE(eye.x != lastEye.x || eye.z != lastEye.z) << "camera stopped by frame " << frame;
    ASSERT_NEAR(std::hypot(eye.x, eye.z - 30.0f), 100.0, 1e-3);
    ASSERT_EQ(eye.y, 15.0f);
    ASSERT_GE(demo.form.D3D.OrbitAngle, 0.0f);
    ASSERT_LT(demo.form.D3D.OrbitAngle, 6.2832f);
    lastEye = eye;

    if (frame == 20'000) rssAfterWarmUp = ResidentKb();
  }

  // 200 000 frames at 1000/60 ms are 3333 s of virtual time: one credit step every 2 s.
  EXPECT_NEAR(titleSteps, 3333 / 2, 2);
#if !defined(__SANITIZE_ADDRESS__)
  // (AddressSanitizer keeps freed blocks in quarantine, so there the resident size says nothing;
  // its leak checker watches that build instead.)
  const long rssAtEnd = ResidentKb();
  ASSERT_GT(rssAfterWarmUp, 0);
  EXPECT_LT(rssAtEnd - rssAfterWarmUp, 2048)
      << "resident memory grew from " << rssAfterWarmUp << " kB to " << rssAtEnd << " kB";
#endif
}

}  // namespace
