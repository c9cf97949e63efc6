// The cost of texture loads at the edges: files that claim far more pixels than they hold, the
// largest images each decoder takes, and the real-world corpus's textures. Each decode runs in a
// child process whose peak resident memory (the file's bytes included) is the peak_MB counter;
// every load must stay under 512 MB.
#include <benchmark/benchmark.h>
#include <stb_image_write.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/ChildProcess.h"
#include "platform/d3dx/Texture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Decodes `data` with its mip chain in a child process.
bench::Outcome DecodeInChild(const Bytes& data) {
  return bench::RunInChild([&data] {
    d3dx::DecodeImageWithMips(data.data(), data.size(), "bench");
    return 0;
  });
}

void Measure(benchmark::State& state, const Bytes& data, bool mustDecode) {
  bench::Outcome o;
  for (auto _ : state) {
    o = DecodeInChild(data);
    state.SetIterationTime(o.seconds);
  }
  if (o.ok != mustDecode) state.SkipWithError(mustDecode ? "refused" : "decoded");
  state.counters["peak_MB"] = o.peakMb;
  state.counters["file_KB"] = static_cast<double>(data.size()) / 1024.0;
}

Bytes Jpeg(int w, int h, bool noise) {
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * h * 3);
  std::uint32_t seed = 1;
  for (auto& v : rgb)
    v = noise ? static_cast<std::uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24) : 128;
  Bytes out;
  stbi_write_jpg_to_func(
      [](void* ctx, void* d, int n) {
        static_cast<Bytes*>(ctx)->insert(static_cast<Bytes*>(ctx)->end(), static_cast<std::uint8_t*>(d),
                                         static_cast<std::uint8_t*>(d) + n);
      },
      &out, w, h, 3, rgb.data(), 90);
  return out;
}

// A baseline JPEG of 16 KB whose frame header claims 16000 x 16000 pixels.
void BM_JpegClaiming16000Square(benchmark::State& state) {
  Bytes jpg = Jpeg(128, 128, true);
  for (std::size_t i = 2; i + 9 < jpg.size();
       i += 2 + static_cast<std::size_t>((jpg[i + 2] << 8) | jpg[i + 3]))
    if (jpg[i + 1] == 0xC0) {
      jpg[i + 5] = jpg[i + 7] = 16000 >> 8;
      jpg[i + 6] = jpg[i + 8] = 16000 & 0xFF;
      break;
    }
  Measure(state, jpg, true);
}
BENCHMARK(BM_JpegClaiming16000Square)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

Bytes Png(std::uint32_t w, std::uint32_t h, int colourType, int depth, std::uint32_t rowsPresent) {
  const std::size_t rowBytes = static_cast<std::size_t>(w) * (colourType == 6 ? 4 : 1) * depth / 8;
  z_stream zs{};
  deflateInit(&zs, 9);
  Bytes idat(1 << 20), row(rowBytes + 1, 0);
  std::size_t used = 0;
  for (std::uint32_t y = 0; y < rowsPresent; ++y) {
    zs.next_in = row.data();
    zs.avail_in = static_cast<uInt>(row.size());
    do {
      if (idat.size() - used < 65536) idat.resize(idat.size() * 2);
      zs.next_out = idat.data() + used;
      zs.avail_out = static_cast<uInt>(idat.size() - used);
      deflate(&zs, y + 1 == rowsPresent ? Z_FINISH : Z_NO_FLUSH);
      used = idat.size() - zs.avail_out;
    } while (zs.avail_in > 0 || (y + 1 == rowsPresent && zs.avail_out == 0));
  }
  deflateEnd(&zs);
  idat.resize(used);
  Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  auto chunk = [&png](const char* type, const Bytes& d) {
    for (int i = 3; i >= 0; --i) png.push_back(static_cast<std::uint8_t>(d.size() >> (8 * i)));
    Bytes body(type, type + 4);
    body.insert(body.end(), d.begin(), d.end());
    png.insert(png.end(), body.begin(), body.end());
    const auto crc = crc32(0, body.data(), static_cast<uInt>(body.size()));
    for (int i = 3; i >= 0; --i) png.push_back(static_cast<std::uint8_t>(crc >> (8 * i)));
  };
  Bytes ihdr;
  for (std::uint32_t v : {w, h})
    for (int i = 3; i >= 0; --i) ihdr.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  ihdr.insert(ihdr.end(), {static_cast<std::uint8_t>(depth), static_cast<std::uint8_t>(colourType), 0, 0, 0});
  chunk("IHDR", ihdr);
  chunk("IDAT", idat);
  chunk("IEND", {});
  return png;
}

// A PNG claiming 16000 x 16000 with data for 20 rows: refused where the data ends.
void BM_PngClaiming16000Square(benchmark::State& state) {
  Measure(state, Png(16000, 16000, 0, 8, 20), false);
}
BENCHMARK(BM_PngClaiming16000Square)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// Real 16384 x 16384 PNGs, all their rows present: grey (260 KB) and 16-bit RGBA (2 MB, 2 GB of
// samples), reduced to 4096 x 4096 as they are read.
void BM_Png16384SquareGrey(benchmark::State& state) {
  Measure(state, Png(16384, 16384, 0, 8, 16384), true);
}
BENCHMARK(BM_Png16384SquareGrey)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
void BM_Png16384SquareRgba16(benchmark::State& state) {
  Measure(state, Png(16384, 16384, 6, 16, 16384), true);
}
BENCHMARK(BM_Png16384SquareRgba16)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// The largest BMP ImageMagick is given: 4096 x 4096 at 24 bits, 48 MB.
void BM_Bmp4096Square(benchmark::State& state) {
  const std::uint32_t w = 4096, h = 4096, size = 54 + w * h * 3;
  Bytes bmp{'B', 'M'};
  auto le32 = [&bmp](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bmp.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  le32(size), le32(0), le32(54), le32(40), le32(w), le32(h);
  bmp.insert(bmp.end(), {1, 0, 24, 0});
  le32(0), le32(w * h * 3), le32(2835), le32(2835), le32(0), le32(0);
  bmp.resize(size, 0x5A);
  Measure(state, bmp, true);
}
BENCHMARK(BM_Bmp4096Square)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// Every image file of the real-world corpus beside the checkout, decoded in one process.
void BM_CorpusTextures(benchmark::State& state) {
  const std::filesystem::path corpus =
      std::filesystem::path(WG_SOURCE_DIR) / ".." / "shared" / "corpus" / "x";
  if (!std::filesystem::is_directory(corpus)) {
    state.SkipWithError("no corpus beside the checkout");
    return;
  }
  std::vector<Bytes> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(corpus)) {
    const std::string ext = e.path().extension().string();
    if (e.is_regular_file() && ext != ".x" && ext != ".X" && ext != ".md")
      files.push_back(d3dx::ReadFile("bench", e.path().string()));
  }
  std::size_t decoded = 0;
  for (auto _ : state) {
    decoded = 0;
    for (const Bytes& f : files) {
      d3dx::DecodeImageWithMips(f.data(), f.size(), "bench");
      ++decoded;
    }
  }
  state.counters["images"] = static_cast<double>(decoded);
}
BENCHMARK(BM_CorpusTextures)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
