// The rules the OpenGL backend rebuilds for WebGL2: the index lists that move the flat colour to the
// vertex WebGL2 takes it from, and the whole demo drawn in the WebGL2 dialect (on llvmpipe, which
// compiles GLSL ES too), which must come out as the desktop frames do.
#include <gtest/gtest.h>

#include <vector>

#include "platform/base/Error.h"
#include "platform/gl/WebGl2Rules.h"
#include "tests/support/FrameDiff.h"
#include "tests/support/Harness.h"

namespace {

using namespace d3d;
using gl::webgl2::BuildIndices;
using List = std::vector<std::uint32_t>;

TEST(WebGl2Indices, WithoutFlatShadingTheNumbersAreOnlyOffset) {
  List out;
  EXPECT_EQ(BuildIndices(D3DPT_TRIANGLESTRIP, 2, nullptr, 100, false, out), D3DPT_TRIANGLESTRIP);
  EXPECT_EQ(out, (List{100, 101, 102, 103}));
  // An indexed range that was streamed from its minimum index 5 to element 40: the base vertex WebGL2
  // lacks, applied on the CPU. 0xFFFF stays a vertex: 32-bit indices never restart.
  const std::uint16_t idx[] = {5, 7, 6, 0xFFFF, 5, 6};
  EXPECT_EQ(BuildIndices(D3DPT_TRIANGLELIST, 2, idx, 40 - 5, false, out), D3DPT_TRIANGLELIST);
  EXPECT_EQ(out, (List{40, 42, 41, 0xFFFF + 35, 40, 41}));
  // Points have no flat colour to move.
  EXPECT_EQ(BuildIndices(D3DPT_POINTLIST, 3, nullptr, 0, true, out), D3DPT_POINTLIST);
  EXPECT_EQ(out, (List{0, 1, 2}));
}

TEST(WebGl2Indices, FlatTrianglesEndOnTheFirstVertexWithTheirWindingKept) {
  List out;
  // A list's triangles start on their colour vertex: (0, 1, 2) becomes (1, 2, 0).
  EXPECT_EQ(BuildIndices(D3DPT_TRIANGLELIST, 2, nullptr, 0, true, out), D3DPT_TRIANGLELIST);
  EXPECT_EQ(out, (List{1, 2, 0, 4, 5, 3}));
  // A strip's triangle k takes vertex k: even ones wind (k, k+1, k+2), odd ones (k+1, k, k+2).
  EXPECT_EQ(BuildIndices(D3DPT_TRIANGLESTRIP, 3, nullptr, 10, true, out), D3DPT_TRIANGLELIST);
  EXPECT_EQ(out, (List{11, 12, 10, 13, 12, 11, 13, 14, 12}));
  // A fan's triangle k is (hub, k+1, k+2), coloured by k+1.
  EXPECT_EQ(BuildIndices(D3DPT_TRIANGLEFAN, 2, nullptr, 0, true, out), D3DPT_TRIANGLELIST);
  EXPECT_EQ(out, (List{2, 0, 1, 3, 0, 2}));
  // Indexed: the rotation applies to the indices, after the offset.
  const std::uint16_t idx[] = {3, 4, 5};
  BuildIndices(D3DPT_TRIANGLELIST, 1, idx, -3, true, out);
  EXPECT_EQ(out, (List{1, 2, 0}));
}

TEST(WebGl2Indices, FlatLinesRunToTheirFirstEndAndBadNumbersAreRefused) {
  List out;
  EXPECT_EQ(BuildIndices(D3DPT_LINESTRIP, 2, nullptr, 0, true, out), D3DPT_LINELIST);
  EXPECT_EQ(out, (List{1, 0, 2, 1}));
  EXPECT_EQ(BuildIndices(D3DPT_LINELIST, 1, nullptr, 7, true, out), D3DPT_LINELIST);
  EXPECT_EQ(out, (List{8, 7}));
  const std::uint16_t idx[] = {0, 1, 2};
  EXPECT_THROW(BuildIndices(D3DPT_TRIANGLELIST, 1, idx, -1, true, out), platform::Error);
}

// Desktop OpenGL and the WebGL2 dialect rasterise alike on llvmpipe, so the browser's rules must give
// the reference frames up to interpolation rounding (vertices reach the rasteriser in another order).
TEST(WebGl2Dialect, TheDemoDrawsTheReferenceFrames) {
  wgtest::GlDemo demo(gl::GlDialect::WebGl2);
  int done = 0;
  for (int frame : {1, 130}) {
    demo.form.MainLoop(frame - done);
    done = frame;
    DWORD w = 0, h = 0;
    const auto got = wgtest::FromRgba(demo.form.D3D.D3DDevice->GetBackend().readBack(w, h), 1024, 768);
    const auto want = wgtest::LoadPng(std::string(WG_SOURCE_DIR) + "/tests/data/reference/frame-" +
                                      std::to_string(frame) + ".png");
    const wgtest::FrameDiff d = wgtest::Compare(got, want);
    EXPECT_LE(d.max, 2) << "frame " << frame << ": " << d.text();
    EXPECT_LT(d.mean, 0.01) << "frame " << frame << ": " << d.text();
  }
}

}  // namespace
