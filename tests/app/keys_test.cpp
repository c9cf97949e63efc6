#include <gtest/gtest.h>

#include <vector>

#include "platform/base/Error.h"
#include "tests/support/Harness.h"

namespace {

TEST(KeyTable, StartsAllFalseAndFollowsKeyDownAndUp) {
  wgtest::RecordingDemo demo;
  for (std::size_t k = 0; k < 256; ++k) EXPECT_FALSE(demo.form.KeyTable(k));
  demo.form.Form_KeyDown(65, 0);
  EXPECT_TRUE(demo.form.KeyTable(65));
  for (std::size_t k = 0; k < 256; ++k)
    if (k != 65) {
      EXPECT_FALSE(demo.form.KeyTable(k));
    }
  demo.form.Form_KeyUp(65, 0);
  EXPECT_FALSE(demo.form.KeyTable(65));
}

TEST(KeyTable, CodesOutsideTheTableAreErrors) {
  wgtest::RecordingDemo demo;
  EXPECT_THROW(demo.form.Form_KeyDown(256, 0), platform::Error);
  EXPECT_THROW(demo.form.Form_KeyDown(-1, 0), platform::Error);
  EXPECT_THROW(demo.form.Form_KeyUp(300, 0), platform::Error);
  EXPECT_NO_THROW(demo.form.Form_KeyDown(255, 0));
}

TEST(ASCKEY, EscapeHeldEndsBeforeTheFrame) {
  wgtest::RecordingDemo demo;
  demo.startup();
  demo.frames(2);
  const int presents = demo.backend().presents;
  demo.form.Form_KeyDown(27, 0);
  demo.frames(5);
  EXPECT_TRUE(demo.form.Unloaded());
  EXPECT_EQ(demo.backend().presents, presents);  // not one more frame
}

TEST(ASCKEY, EscapePressedAndReleasedWithinOnePumpIsMissed) {
  wgtest::RecordingDemo demo;
  demo.startup();
  demo.form.Form_KeyDown(27, 0);
  demo.form.Form_KeyUp(27, 0);
  demo.form.ASCKEY();
  EXPECT_FALSE(demo.form.Unloaded());
  demo.frames(1);
  EXPECT_EQ(demo.backend().presents, 1);
}

TEST(ASCKEY, OtherKeysOnlyChangeTheirEntry) {
  wgtest::RecordingDemo demo;
  demo.startup();
  demo.form.Form_KeyDown(32, 0);
  demo.form.Form_KeyDown(13, 0);
  demo.frames(3);
  EXPECT_FALSE(demo.form.Unloaded());
  EXPECT_EQ(demo.backend().presents, 3);
}

TEST(FormUnload, ACloseRequestEndsLikeEscape) {
  wgtest::RecordingDemo demo;
  demo.startup();
  std::int16_t cancel = 0;
  demo.form.Form_Unload(cancel);
  EXPECT_TRUE(demo.form.Unloaded());
  demo.frames(3);
  EXPECT_EQ(demo.backend().presents, 0);
}

TEST(VirtualKeys, SdlKeysMapToWindowsCodes) {
  EXPECT_EQ(platform::VirtualKeyFromSdl(27), 27);    // SDLK_ESCAPE
  EXPECT_EQ(platform::VirtualKeyFromSdl('a'), 65);   // letters as capitals
  EXPECT_EQ(platform::VirtualKeyFromSdl('7'), 55);
  EXPECT_EQ(platform::VirtualKeyFromSdl(' '), 32);
  EXPECT_EQ(platform::VirtualKeyFromSdl(13), 13);    // Return
}

// The picture on a screen or in a window: as large as fits, aspect kept, the bars shared equally.
TEST(FitCentred, ThePictureFillsTheAreaWithItsAspectKept) {
  auto fit = [](int w, int h) {
    const platform::Rect r = platform::FitCentred(1024, 768, w, h);
    return std::vector<int>{r.x, r.y, r.w, r.h};
  };
  EXPECT_EQ(fit(1024, 768), (std::vector<int>{0, 0, 1024, 768}));
  EXPECT_EQ(fit(800, 600), (std::vector<int>{0, 0, 800, 600}));
  EXPECT_EQ(fit(1920, 1080), (std::vector<int>{240, 0, 1440, 1080}));  // bars left and right
  EXPECT_EQ(fit(3840, 2160), (std::vector<int>{480, 0, 2880, 2160}));
  EXPECT_EQ(fit(1280, 1024), (std::vector<int>{0, 32, 1280, 960}));  // bars above and below
  EXPECT_EQ(fit(400, 500), (std::vector<int>{0, 100, 400, 300}));
  EXPECT_EQ(fit(1001, 700), (std::vector<int>{34, 0, 933, 700}));  // 700 * 4 / 3, rounded down
  EXPECT_EQ(fit(1, 1), (std::vector<int>{0, 0, 1, 0}));            // nothing left to show
}

}  // namespace
