// Which JPEGs the page has the browser decode, and the compression the page inflates.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/WebMedia.h"
#include "platform/d3dx/Texture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Jpeg(int w = 16, int h = 8) {
  Bytes rgba(static_cast<std::size_t>(w) * h * 4);
  for (std::size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<std::uint8_t>(i * 7);
  return d3dx::EncodeJpeg("t.jpg", rgba, w, h);
}

// `jpeg` with a segment `marker` holding `body` put right after its start.
Bytes WithSegment(Bytes jpeg, std::uint8_t marker, const std::string& body) {
  const std::size_t length = body.size() + 2;
  Bytes seg{0xFF, marker, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
  seg.insert(seg.end(), body.begin(), body.end());
  jpeg.insert(jpeg.begin() + 2, seg.begin(), seg.end());
  return jpeg;
}

// Where the frame header's marker byte is.
std::size_t FrameAt(const Bytes& jpeg) {
  for (std::size_t i = 2; i + 1 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) return i + 1;
  return 0;
}

TEST(BrowserDecodesAlike, PlainJpegsOnly) {
  const Bytes plain = Jpeg();
  EXPECT_TRUE(app::BrowserDecodesAlike(plain));
  // What a browser would apply and the desktop's decoder does not.
  EXPECT_FALSE(app::BrowserDecodesAlike(WithSegment(plain, 0xE1, std::string("Exif\0\0MM", 8))));
  EXPECT_FALSE(app::BrowserDecodesAlike(WithSegment(plain, 0xE2, std::string("ICC_PROFILE\0\1\1", 14))));
  EXPECT_FALSE(app::BrowserDecodesAlike(WithSegment(plain, 0xEE, "Adobe\0\144\0\0\0\0\1")));
  // Other APP segments (XMP, comments) change nothing.
  EXPECT_TRUE(app::BrowserDecodesAlike(WithSegment(plain, 0xE1, "http://ns.adobe.com/xap/1.0/")));
  EXPECT_TRUE(app::BrowserDecodesAlike(WithSegment(plain, 0xFE, "made by hand")));

  const std::size_t frame = FrameAt(plain);
  ASSERT_GT(frame, 0u);
  Bytes progressive = plain;
  progressive[frame] = 0xC2;
  EXPECT_TRUE(app::BrowserDecodesAlike(progressive));
  for (const std::uint8_t coding : {0xC3, 0xC5, 0xC9, 0xCA, 0xCB, 0xCD}) {
    Bytes other = plain;
    other[frame] = coding;
    EXPECT_FALSE(app::BrowserDecodesAlike(other)) << int{coding};
  }
  // The frame header: length (2), precision, height (2), width (2), components.
  Bytes cmyk = plain;
  cmyk[frame + 8] = 4;
  EXPECT_FALSE(app::BrowserDecodesAlike(cmyk));
  Bytes wide = plain;
  wide[frame + 6] = 0x10;  // width 4096 + 16: the desktop scales it down first
  wide[frame + 7] = 0x10;
  EXPECT_FALSE(app::BrowserDecodesAlike(wide));
  wide[frame + 7] = 0x00;  // 4096 exactly
  EXPECT_TRUE(app::BrowserDecodesAlike(wide));
}

TEST(BrowserDecodesAlike, BrokenOrOtherFilesAreNot) {
  const Bytes plain = Jpeg();
  for (const std::size_t cut : {std::size_t{0}, std::size_t{3}, FrameAt(plain) + 4})
    EXPECT_FALSE(app::BrowserDecodesAlike(Bytes(plain.begin(), plain.begin() + static_cast<long>(cut))))
        << cut;
  Bytes lying = WithSegment(plain, 0xFE, "x");
  lying[4] = 0xFF;  // a length past the end
  EXPECT_FALSE(app::BrowserDecodesAlike(lying));
  EXPECT_FALSE(app::BrowserDecodesAlike(Bytes{0x89, 'P', 'N', 'G', 13, 10, 26, 10}));
}

TEST(Gzip, InflatesToTheSameBytes) {
  Bytes data(100000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>((i * i) >> 7);
  for (const Bytes& in : {data, Bytes{}}) {
    const Bytes packed = app::Gzip(in, "x");
    ASSERT_GE(packed.size(), 18u);
    EXPECT_EQ(packed[0], 0x1F);
    EXPECT_EQ(packed[1], 0x8B);
    z_stream z{};
    ASSERT_EQ(inflateInit2(&z, 15 + 16), Z_OK);
    Bytes out(in.size() + 16);
    z.next_in = const_cast<Bytef*>(packed.data());
    z.avail_in = static_cast<uInt>(packed.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    inflateEnd(&z);
    EXPECT_EQ(out, in);
  }
  EXPECT_LT(app::Gzip(data, "x").size(), data.size() / 2);
}

}  // namespace
