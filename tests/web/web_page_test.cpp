// The exported page in a real browser: headless Chromium with its software WebGL2, served from
// 127.0.0.1. Its fixed-step frames against the desktop's, what it asks the network for, the open,
// Escape and watch-again cycle with the tune, and a browser without WebGL2.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/Form1.h"
#include "platform/d3d/d3d8types.h"
#include "platform/gl/GlApi.h"
#include "tests/support/Browser.h"
#include "tests/support/FrameDiff.h"
#include "tests/web/WebExported.h"
#include "tests/web/WebFrameLimits.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using wgtest::Chromium;
using wgtest::ExportedPage;
using wgtest::FrameDiff;
using wgtest::Picture;

#define SKIP_WITHOUT_BROWSER()                                             \
  if (const std::string why = wgtest::WebRuntimeMissing(); !why.empty()) { \
    GTEST_SKIP() << why;                                                   \
  }                                                                        \
  if (!Chromium::Installed()) GTEST_SKIP() << "Chromium is not installed (scripts/install-deps.sh --web)";

Picture Reference(int frame) {
  return wgtest::LoadPng(std::string(WG_SOURCE_DIR) + "/tests/data/reference/frame-" + std::to_string(frame) +
                         ".png");
}

// The page's frame `frames` at the fixed step, as the page itself encodes its canvas; kept as `png`.
Picture PageFrame(Chromium& browser, const wgtest::StaticServer& server, int frames, const std::string& png,
                  double* ms = nullptr) {
  browser.Navigate(server.Url("/index.html?frames=" + std::to_string(frames)));
  EXPECT_TRUE(
      browser.WaitFor("document.title.startsWith('done') || document.title.startsWith('failed')", 300s));
  EXPECT_EQ(browser.Evaluate("document.title").str(), "done: frame " + std::to_string(frames));
  if (ms) *ms = browser.Evaluate("window.wgResult ? wgResult.ms : 0").num();
  const std::string bytes =
      wgtest::DecodeDataUrl(browser.Evaluate("window.wgResult ? wgResult.png : ''").str());
  std::ofstream(png, std::ios::binary) << bytes;
  return wgtest::PngFromMemory(bytes);
}

class WebFrames : public testing::TestWithParam<int> {};

TEST_P(WebFrames, TheFixedStepFrameMatchesTheDesktopsHeadlessFrame) {
  SKIP_WITHOUT_BROWSER();
  const int frame = GetParam();
  wgtest::StaticServer server(ExportedPage());
  Chromium browser;
  double ms = 0;
  const std::string png = wgtest::ScratchDir("web-frame-" + std::to_string(frame)) + "/page.png";
  const Picture got = PageFrame(browser, server, frame, png, &ms);
  ASSERT_EQ(got.w, 1024);
  ASSERT_EQ(got.h, 768);
  std::string measured;
  const std::string violations = wgtest::LimitViolations(got, Reference(frame), frame, &measured);
  std::printf("%s; %d frames in %.0f ms\n", measured.c_str(), frame, ms);
  EXPECT_EQ(violations, "") << "the page's frame: " << png;
}

INSTANTIATE_TEST_SUITE_P(Frames, WebFrames, testing::Values(1, 130, 600));

}  // namespace
