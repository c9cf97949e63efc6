// The files a model names beside itself: read only inside its folder, any other name refused
// naming it before anything is opened.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/base/Error.h"
#include "platform/d3dx/ModelUri.h"
#include "tests/support/Harness.h"

namespace {

std::string Refusal(const std::string& folder, const std::string& name) {
  try {
    d3dx::ModelFilePath(folder, name, "tree.gltf", "D3DXLoadMeshFromX");
  } catch (const platform::Error& e) {
    return e.what();
  }
  return "";
}

TEST(ModelUri, FilesInTheFolderAreFoundAsWindowsWould) {
  const std::string dir = wgtest::ScratchDir("model-uri");
  std::filesystem::create_directories(dir + "/tex");
  std::ofstream(dir + "/tex/Bark.PNG") << "x";
  std::ofstream(dir + "/tree.bin") << "x";
  EXPECT_EQ(d3dx::ModelFilePath(dir, "tree.bin", "tree.gltf", "c"), dir + "/tree.bin");
  EXPECT_EQ(d3dx::ModelFilePath(dir, "tex\\bark.png", "tree.gltf", "c"), dir + "/tex/Bark.PNG");
  EXPECT_NE(Refusal(dir, "leaves.png").find("\"leaves.png\", which is not in its folder"), std::string::npos);
}

TEST(ModelUri, NamesLeavingTheFolderAreRefusedUnread) {
  const std::string dir = wgtest::ScratchDir("model-uri-escape");
  std::filesystem::create_directories(dir + "/inner");
  std::ofstream(dir + "/secret.bin") << "x";
  for (const std::string name : {"../secret.bin", "inner/../../secret.bin", "inner\\..\\..\\secret.bin", "..",
                                 "/etc/passwd", "\\\\server\\share\\a.bin", "C:\\a.bin", "c:a.bin",
                                 "file:///etc/passwd", "http://example.com/a.bin", ""}) {
    const std::string why = Refusal(dir + "/inner", name);
    EXPECT_NE(why.find("tree.gltf"), std::string::npos) << name;
    EXPECT_NE(why.find("\"" + name + "\""), std::string::npos) << why;
    EXPECT_EQ(why.find("not in its folder"), std::string::npos) << why;
  }
  // A name holding ".." inside a component is an ordinary name.
  std::ofstream(dir + "/inner/a..b.bin") << "x";
  EXPECT_EQ(Refusal(dir + "/inner", "a..b.bin"), "");
}

TEST(ModelUri, PercentEscapesAreDecodedAndBrokenOnesRefused) {
  EXPECT_EQ(d3dx::DecodeUriPath("my%20tree%2Ebin", "t.gltf", "c"), "my tree.bin");
  EXPECT_EQ(d3dx::DecodeUriPath("%2e%2e/x", "t.gltf", "c"), "../x");  // then refused by ModelFilePath
  for (const char* bad : {"a%2", "a%zz", "%", "a%00b"})
    EXPECT_THROW(d3dx::DecodeUriPath(bad, "t.gltf", "c"), platform::Error) << bad;
}

}  // namespace
