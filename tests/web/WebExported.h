// The exported default greeting the web tests share: written once per test program by the real
// command, `winter-greeting --export-web DIR`.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/Files.h"
#include "tests/support/Harness.h"

namespace wgtest {

// Why the web tests cannot run in this build; empty when they can.
inline std::string WebRuntimeMissing() {
#if defined(WG_WEB_RUNTIME)
  if (std::filesystem::exists(AppDir() + "/web/runtime.wasm")) return {};
  return "the web runtime was not built into " + AppDir() + "/web";
#else
  return "this build makes no web runtime (emscripten is not installed, or this is the sanitizer build, "
         "which builds none); the browser tests run in the normal build";
#endif
}

// Skips a browser test where this build has no runtime or the machine no Chromium (tests/support/Browser.h).
#define SKIP_WITHOUT_BROWSER()                                                                   \
  if (const std::string why = wgtest::WebRuntimeMissing(); !why.empty()) {                       \
    GTEST_SKIP() << why;                                                                         \
  }                                                                                              \
  if (!wgtest::Chromium::Installed()) GTEST_SKIP() << "Chromium is not installed (scripts/install-deps.sh --test)";

// The default greeting's page. Under ctest it is exported before the cases run
// (WebExport.TheDefaultGreetingExports); a case run by hand exports it when it is not there yet.
inline const std::string& ExportedPage() {
  static const std::string dir = [] {
    const std::string page = std::string(WG_TEST_TMP) + "/web-page";
    if (std::filesystem::is_regular_file(page + "/greeting/manifest.json")) return page;
    const std::string log = std::string(WG_TEST_TMP) + "/web-page.log";
    const int status = RunProgram("--export-web " + page, log);
    EXPECT_EQ(status, 0) << Slurp(log);
    return page;
  }();
  return dir;
}

}  // namespace wgtest
