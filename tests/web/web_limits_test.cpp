// The limits the browser's frames are held to (WebFrameLimits.h) are worth something only if the
// faults they stand guard against break them. Each fault is drawn here by the desktop's own renderer,
// and its frame must fail the limits the browser's frame has to meet: a clock one frame off, the fog
// missing, flat shading taking the last vertex's colour, sprites a third too large.
#include <gtest/gtest.h>

#include <bit>

#include "platform/gl/GlApi.h"
#include "tests/support/FrameDiff.h"
#include "tests/support/Harness.h"
#include "tests/web/WebExported.h"
#include "tests/web/WebFrameLimits.h"

namespace {

using namespace d3d;

#define SKIP_WITHOUT_RUNTIME()                                             \
  if (const std::string why = wgtest::WebRuntimeMissing(); !why.empty()) { \
    GTEST_SKIP() << why;                                                   \
  }

wgtest::Picture Reference(int frame) {
  return wgtest::LoadPng(std::string(WG_SOURCE_DIR) + "/tests/data/reference/frame-" + std::to_string(frame) +
                         ".png");
}

struct Demo : wgtest::GlDemo {
  Device& device() { return *form.D3D.D3DDevice; }
  wgtest::Picture frame(int n) {
    form.MainLoop(n - drawn);
    drawn = n;
    DWORD w = 0, h = 0;
    return wgtest::FromRgba(form.D3D.D3DDevice->GetBackend().readBack(w, h), 1024, 768);
  }
  int drawn = 0;
};

void ExpectCaught(const wgtest::Picture& faulty, int frame, const char* fault) {
  std::string measured;
  const std::string violations = wgtest::LimitViolations(faulty, Reference(frame), frame, &measured);
  EXPECT_NE(violations, "") << fault << " passes the limits: " << measured;
  std::printf("%s: %s\n", fault, measured.c_str());
}

TEST(WebFrameLimitsCatch, AClockOneFrameOff) {
  SKIP_WITHOUT_RUNTIME();
  Demo d;
  ExpectCaught(d.frame(129), 130, "frame 129 shown as frame 130");
  ExpectCaught(d.frame(131), 130, "frame 131 shown as frame 130");
}

TEST(WebFrameLimitsCatch, MissingFog) {
  SKIP_WITHOUT_RUNTIME();
  Demo d;
  d.device().SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_NONE);
  ExpectCaught(d.frame(130), 130, "no fog");
}

TEST(WebFrameLimitsCatch, FlatShadingFromTheLastVertex) {
  SKIP_WITHOUT_RUNTIME();
  Demo d;
  // WebGL2's own convention, were the first-vertex rule not rebuilt.
  glProvokingVertex(GL_LAST_VERTEX_CONVENTION);
  ExpectCaught(d.frame(1), 1, "flat colour from the last vertex");
}

TEST(WebFrameLimitsCatch, SpritesAThirdTooLarge) {
  SKIP_WITHOUT_RUNTIME();
  Demo d;
  // Scaled by the viewport's width where its height belongs.
  d.device().SetRenderState(D3DRS_POINTSIZE, std::bit_cast<DWORD>(4.0f / 3.0f));
  ExpectCaught(d.frame(600), 600, "point sizes 4/3 too large");
}

}  // namespace
