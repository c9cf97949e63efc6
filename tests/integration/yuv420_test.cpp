// The colour conversion every recorded frame goes through: studio-range BT.601 values for known
// colours, which pixels each chroma sample takes, odd sizes, and agreement with FFmpeg's own
// point-sampled conversion that it replaced.
#include "platform/video/Yuv420.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

struct Planes {
  int width, height;
  std::vector<std::uint8_t> y, u, v;
  Planes(int w, int h)
      : width(w),
        height(h),
        y(static_cast<std::size_t>(w) * h, 0xEE),
        u(static_cast<std::size_t>((w + 1) / 2) * ((h + 1) / 2), 0xEE),
        v(u.size(), 0xEE) {}
  void convert(const std::vector<std::uint8_t>& rgba) {
    std::uint8_t* const planes[3] = {y.data(), u.data(), v.data()};
    const int strides[3] = {width, (width + 1) / 2, (width + 1) / 2};
    video::RgbaToYuv420(rgba.data(), width, height, planes, strides);
  }
  int Y(int x, int yy) const { return y[static_cast<std::size_t>(yy) * width + x]; }
  int U(int cx, int cy) const { return u[static_cast<std::size_t>(cy) * ((width + 1) / 2) + cx]; }
  int V(int cx, int cy) const { return v[static_cast<std::size_t>(cy) * ((width + 1) / 2) + cx]; }
};

void put(std::vector<std::uint8_t>& rgba, int width, int x, int y, int r, int g, int b) {
  std::uint8_t* p = &rgba[(static_cast<std::size_t>(y) * width + x) * 4];
  p[0] = static_cast<std::uint8_t>(r);
  p[1] = static_cast<std::uint8_t>(g);
  p[2] = static_cast<std::uint8_t>(b);
  p[3] = 255;
}

TEST(Yuv420, PrimariesAndGreysLandOnTheirStudioRangeValues) {
  struct Colour {
    int r, g, b, y, u, v;
  };
  const Colour colours[] = {{255, 255, 255, 235, 128, 128}, {0, 0, 0, 16, 128, 128},
                            {255, 0, 0, 81, 90, 240},       {0, 255, 0, 145, 54, 34},
                            {0, 0, 255, 41, 240, 110},      {128, 128, 128, 126, 128, 128}};
  const int n = static_cast<int>(std::size(colours));
  std::vector<std::uint8_t> rgba(static_cast<std::size_t>(2 * n) * 2 * 4);
  for (int i = 0; i < n; ++i)
    for (int x = 2 * i; x < 2 * i + 2; ++x)
      for (int y = 0; y < 2; ++y) put(rgba, 2 * n, x, y, colours[i].r, colours[i].g, colours[i].b);
  Planes p(2 * n, 2);
  p.convert(rgba);
  for (int i = 0; i < n; ++i) {
    SCOPED_TRACE(i);
    for (int x = 2 * i; x < 2 * i + 2; ++x)
      for (int y = 0; y < 2; ++y) EXPECT_EQ(p.Y(x, y), colours[i].y);
    EXPECT_EQ(p.U(i, 0), colours[i].u);
    EXPECT_EQ(p.V(i, 0), colours[i].v);
  }
}

// A block's colour is the mean of its lower row's two pixels; the upper row does not count.
TEST(Yuv420, EachChromaSampleAveragesTheLowerRowOfItsBlock) {
  std::vector<std::uint8_t> rgba(2 * 2 * 4);
  put(rgba, 2, 0, 0, 255, 0, 0);
  put(rgba, 2, 1, 0, 255, 0, 0);
  put(rgba, 2, 0, 1, 0, 0, 255);
  put(rgba, 2, 1, 1, 0, 255, 0);
  Planes p(2, 2);
  p.convert(rgba);
  EXPECT_EQ(p.U(0, 0), 147);  // half-bright cyan: 128 + 0.1687 * 127.5 * 224/255
  EXPECT_EQ(p.V(0, 0), 72);   // 128 - 0.5 * 127.5 * 224/255
  EXPECT_EQ(p.Y(0, 0), 81);
  EXPECT_EQ(p.Y(1, 1), 145);
}

// Blocks cut by the right and bottom edges take the pixels they have, and nothing past the image is
// read or written.
TEST(Yuv420, OddSizesFillEveryPlaneFromTheirOwnPixels) {
  std::vector<std::uint8_t> rgba(3 * 3 * 4);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) put(rgba, 3, x, y, 0, 0, 0);
  put(rgba, 3, 2, 1, 255, 0, 0);  // the right column's block uses row 1's lone pixel
  put(rgba, 3, 0, 2, 0, 0, 255);  // the bottom row's blocks use row 2 itself
  put(rgba, 3, 1, 2, 0, 0, 255);
  Planes p(3, 3);
  p.convert(rgba);
  EXPECT_EQ(p.U(1, 0), 90);
  EXPECT_EQ(p.V(1, 0), 240);
  EXPECT_EQ(p.U(0, 1), 240);
  EXPECT_EQ(p.V(0, 1), 110);
  EXPECT_EQ(p.U(1, 1), 128);
  EXPECT_EQ(p.V(1, 1), 128);
  EXPECT_EQ(p.Y(2, 2), 16);
  for (std::uint8_t b : p.u) EXPECT_NE(b, 0xEE);
  for (std::uint8_t b : p.v) EXPECT_NE(b, 0xEE);
}

// Within one level of FFmpeg's point-sampled RGBA to YUV 4:2:0 conversion, on an image with hard
// edges and noise; a swapped channel or a shifted row lands tens of levels away.
TEST(Yuv420, AgreesWithFfmpegsPointSampledConversion) {
  const int w = 96, h = 64;
  std::vector<std::uint8_t> rgba(static_cast<std::size_t>(w) * h * 4);
  std::uint32_t seed = 12345;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const int noise = static_cast<int>(seed >> 26);  // 0..63
      put(rgba, w, x, y, (x * 8 + noise) & 255, (y * 4 + (x < w / 2 ? 0 : 128)) & 255, (255 - noise * 2) & 255);
    }
  Planes ours(w, h);
  ours.convert(rgba);

  AVFrame* f = av_frame_alloc();
  f->format = AV_PIX_FMT_YUV420P;
  f->width = w;
  f->height = h;
  ASSERT_EQ(av_frame_get_buffer(f, 0), 0);
  SwsContext* sws = sws_getContext(w, h, AV_PIX_FMT_RGBA, w, h, AV_PIX_FMT_YUV420P, SWS_POINT, nullptr, nullptr,
                                   nullptr);
  ASSERT_NE(sws, nullptr);
  const std::uint8_t* src[1] = {rgba.data()};
  const int stride[1] = {w * 4};
  sws_scale(sws, src, stride, 0, h, f->data, f->linesize);
  int worst = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) worst = std::max(worst, std::abs(ours.Y(x, y) - f->data[0][y * f->linesize[0] + x]));
  for (int y = 0; y < h / 2; ++y)
    for (int x = 0; x < w / 2; ++x) {
      worst = std::max(worst, std::abs(ours.U(x, y) - f->data[1][y * f->linesize[1] + x]));
      worst = std::max(worst, std::abs(ours.V(x, y) - f->data[2][y * f->linesize[2] + x]));
    }
  EXPECT_LE(worst, 1);
  sws_freeContext(sws);
  av_frame_free(&f);
}

}  // namespace
