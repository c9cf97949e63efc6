// Each media file taken away in turn from a copy of the application folder, and the program run
// headless on it: the ground texture, the flake sprite and the tune stop start-up with a message
// naming the file; the tree only leaves the scene.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/Files.h"
#include "tests/support/Harness.h"

namespace {

struct Outcome {
  int rc = -1;
  std::string log;
  bool screenshot = false;
};

Outcome RunWithout(const std::string& name, const std::string& missing) {
  const std::string dir = wgtest::AppDirWithout("missing-" + name, {missing});
  std::filesystem::copy_file(wgtest::AppDir() + "/winter-greeting", dir + "/winter-greeting");
  const std::string png = dir + "/out.png";
  const std::string cmd =
      dir + "/winter-greeting --headless --frames 2 --screenshot " + png + " >" + dir + "/log 2>&1";
  Outcome r;
  const int status = std::system(cmd.c_str());
  r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.log = wgtest::Slurp(dir + "/log");
  r.screenshot = std::filesystem::exists(png);
  return r;
}

TEST(MissingMedia, EachStartUpFileStopsTheRunNamingItAndTheTreeOnlyLeavesTheScene) {
  struct Case {
    const char* name;
    const char* file;
    bool fatal;
  };
  for (const Case& c : {Case{"ground", "tex/snow.jpg", true}, Case{"sprite", "tex/snow.png", true},
                        Case{"tune", "music/main.mid", true}, Case{"tree", "models/tree.x", false}}) {
    SCOPED_TRACE(c.file);
    const Outcome r = RunWithout(c.name, c.file);
    const std::string path = std::string(WG_TEST_TMP) + "/missing-" + c.name + "/" + c.file;
    if (c.fatal) {
      EXPECT_NE(r.rc, 0) << r.log;
      EXPECT_NE(r.log.find(path), std::string::npos) << r.log;
      EXPECT_FALSE(r.screenshot) << "no frame may be drawn after a failed start-up";
    } else {
      EXPECT_EQ(r.rc, 0) << r.log;
      EXPECT_TRUE(r.screenshot);
    }
  }
}

}  // namespace
