#include "components/LandScape.h"

#include <cmath>
#include <new>

#include "components/HeightMap.h"
#include "platform/base/Error.h"
#include "platform/d3d/d3dxmath.h"
#include "render/modGen.h"

namespace components {

using namespace d3d;

namespace {

// A value rounded to a 32-bit float; overflow or an invalid operation is an error.
float ToFloat(const char* call, const char* what, double v, const std::string& file = {}) {
  const float f = static_cast<float>(v);
  if (!std::isfinite(f)) {
    const std::string cause = std::string(what) + (std::isnan(f) ? ": invalid floating-point operation"
                                                                 : ": floating-point overflow");
    if (file.empty()) throw platform::Error(call, cause);
    throw platform::Error(call, cause, file);
  }
  return f;
}

// The integer nearest to / not above `v`, which must fit 32 bits.
std::int32_t ToInt32(const char* call, const char* what, double v) {
  if (!(v >= -2147483648.0 && v <= 2147483647.0))
    throw platform::Error(call, std::string(what) + " does not fit a 32-bit integer (overflow)");
  return static_cast<std::int32_t>(v);
}

std::int32_t CheckedInt32(const char* call, const char* what, std::int64_t v) {
  if (v < INT32_MIN || v > INT32_MAX)
    throw platform::Error(call, std::string(what) + " does not fit a 32-bit integer (overflow)");
  return static_cast<std::int32_t>(v);
}

}  // namespace

void LandScape::InitLand(const std::string& File, float ScaleSize, float ScaleTex1, float ScaleTex2,
                         float YFactor, float PX, float PY, float PZ) {
  const char* call = "InitLand";
  // Everything is built aside first and replaces the fields only once nothing more can fail, so a
  // failed load leaves the terrain exactly as it was.
  const HeightMap map = ReadHeightMap(File, kMaxGridVertices);
  const std::int32_t xs = map.width, zs = map.height;
  float minY =
      ToFloat(call, "lowest height", 255.0 * static_cast<double>(YFactor) + static_cast<double>(PY), File);
  std::vector<LandVertex> grid;
  try {
    grid.assign(map.samples.size(), LandVertex{});
  } catch (const std::bad_alloc&) {
    throw platform::Error(
        call,
        "a grid of " + std::to_string(xs) + " x " + std::to_string(zs) + " vertices is too large to allocate",
        File);
  }

  const double scale = ScaleSize, tex1 = ScaleTex1, tex2 = ScaleTex2, yf = YFactor, px = PX, py = PY, pz = PZ;
  std::size_t n = 0;
  for (std::int32_t i = 0; i < zs; ++i) {
    for (std::int32_t j = 0; j < xs; ++j, ++n) {
      // An 8-bit sample s is s exactly; a 16-bit one keeps its 8 bits below the step.
      const double s = static_cast<float>(map.samples[n] / 256.0);
      LandVertex& v = grid[n];
      v.x = ToFloat(call, "vertex x", scale * j + px, File);
      v.y = ToFloat(call, "vertex height", s * yf + py, File);
      v.z = ToFloat(call, "vertex z", scale * i + pz, File);
      v.tu1 = ToFloat(call, "texture coordinate", tex1 * j, File);
      v.tv1 = ToFloat(call, "texture coordinate", tex1 * i, File);
      v.tu2 = ToFloat(call, "texture coordinate", tex2 * j, File);
      v.tv2 = ToFloat(call, "texture coordinate", tex2 * i, File);
      if (minY > v.y) minY = v.y;
    }
  }
  // The current window size, clamped to the new grid, with its strip list for the new XSize.
  std::vector<std::int16_t> index;
  std::int32_t frame = 0;
  try {
    frame = StripWindow(FrameSize_, xs, zs, index);
  } catch (const platform::Error& e) {
    throw platform::Error(call, e.what(), File);
  }

  ScaleSize_ = ScaleSize;
  YFactor_ = YFactor;
  PX_ = PX;
  PZ_ = PZ;
  Grid_.swap(grid);
  XSize_ = xs;
  ZSize_ = zs;
  MinY_ = minY;
  VertexSize_ = sizeof(LandVertex);
  FrameSize_ = frame;
  StripIndex_.swap(index);
}

namespace {

// The neighbours of vertex i on an axis of n vertices (itself included) and the weight of that
// axis: a third where both neighbours exist, a half at either end, where one is missing.
struct FilterSpan {
  std::int32_t first, last;
  float weight;
};

FilterSpan Neighbours(std::int32_t i, std::int32_t n) {
  constexpr float kThird = 0.333333f;
  FilterSpan s{i, i, 0.5f};
  if (i >= 1) {
    s.first = i - 1;
    s.weight = kThird;
  }
  if (i < n - 1)
    s.last = i + 1;
  else
    s.weight = 0.5f;
  return s;
}

}  // namespace

void LandScape::FilterHeight() {
  // A grid one vertex wide or deep has no cells; it is left as it is.
  if (XSize_ < 2 || ZSize_ < 2) return;
  for (std::int32_t i = 0; i < ZSize_; ++i) {
    const FilterSpan rows = Neighbours(i, ZSize_);
    for (std::int32_t j = 0; j < XSize_; ++j) {
      const FilterSpan cols = Neighbours(j, XSize_);
      // In place: rows and vertices already passed contribute their smoothed heights.
      float sum = 0.0f;
      for (std::int32_t r = rows.first; r <= rows.last; ++r)
        for (std::int32_t c = cols.first; c <= cols.last; ++c) sum += At(c, r).y;
      At(j, i).y = ToFloat(
          "FilterHeight", "height",
          static_cast<double>(cols.weight) * static_cast<double>(sum) * static_cast<double>(rows.weight));
    }
  }
}

std::int32_t LandScape::StripWindow(std::int32_t fS, std::int32_t xs, std::int32_t zs,
                                    std::vector<std::int16_t>& index) {
  std::int32_t f = fS;
  if (f < 1) f = 1;
  if (f > xs) f = xs;
  if (f > zs) f = zs;
  if (std::int64_t{xs} + f > 32767)
    throw platform::Error("FrameSize", "strip index " + std::to_string(std::int64_t{xs} + f) +
                                           " does not fit 16 bits (overflow): XSize " + std::to_string(xs) +
                                           " + FrameSize " + std::to_string(f) + " > 32767");
  index.assign(2 * static_cast<std::size_t>(f) + 2, 0);
  for (std::int32_t i = 0; i <= f; ++i) {
    index[2 * static_cast<std::size_t>(i)] = static_cast<std::int16_t>(i);
    index[2 * static_cast<std::size_t>(i) + 1] = static_cast<std::int16_t>(xs + i);
  }
  return f;
}

void LandScape::FrameSize(std::int32_t fS) {
  std::vector<std::int16_t> index;
  FrameSize_ = StripWindow(fS, XSize_, ZSize_, index);
  StripIndex_.swap(index);
}

void LandScape::CalcLiteMap(const D3DVECTOR& vecLite, D3DCOLOR ColorLite, D3DCOLOR ColorShad) {
  const char* call = "CalcLiteMap";
  D3DVECTOR L;
  d3dx::D3DXVec3Normalize(&L, &vecLite);
  if (Grid_.empty()) return;
  if (ScaleSize_ == 0.0f) throw platform::Error(call, "division by zero: ScaleSize is 0");
  const double scale = ScaleSize_;
  for (std::int32_t i = 0; i < ZSize_; ++i) {
    const std::int32_t nearRow = i >= 1 ? i - 1 : i;
    const std::int32_t farRow = i < ZSize_ - 1 ? i + 1 : i;
    for (std::int32_t j = 0; j < XSize_; ++j) {
      const std::int32_t left = j >= 1 ? j - 1 : j;
      const std::int32_t right = j < XSize_ - 1 ? j + 1 : j;
      D3DVECTOR N;
      N.x = ToFloat(call, "slope", (static_cast<double>(At(right, i).y) - At(left, i).y) * 0.5 / scale);
      N.z = ToFloat(call, "slope", (static_cast<double>(At(j, farRow).y) - At(j, nearRow).y) * 0.5 / scale);
      N.y = -1.0f;
      d3dx::D3DXVec3Normalize(&N, &N);
      float d = d3dx::D3DXVec3Dot(&L, &N);
      if (d < 0.0f) d = 0.0f;
      At(j, i).color = render::LerpColor(ColorLite, ColorShad, d);
    }
  }
}

void LandScape::Render(float x, float Z, float Angle, float Diff) {
  const char* call = "Render";
  if (ScaleSize_ == 0.0f) throw platform::Error(call, "division by zero: ScaleSize is 0");
  const double half = FrameSize_ * 0.5;
  const float D =
      Diff > 0.0f ? static_cast<float>(half)
                  : static_cast<float>((static_cast<double>(Diff) * static_cast<double>(0.3f) + 1.0) * half);
  const double a = Angle;
  std::int32_t sx =
      ToInt32(call, "window start x",
              std::nearbyint((static_cast<double>(x) - PX_) / ScaleSize_ - D * std::sin(a) - half));
  std::int32_t sz =
      ToInt32(call, "window start z",
              std::nearbyint((static_cast<double>(Z) - PZ_) / ScaleSize_ + D * std::cos(a) - half));
  std::int32_t ex = CheckedInt32(call, "window end x", std::int64_t{sx} + FrameSize_ - 1);
  std::int32_t ez = CheckedInt32(call, "window end z", std::int64_t{sz} + FrameSize_ - 1);

  if (sx < 0) sx = 0;
  if (sz < 0) sz = 0;
  if (ex > XSize_ - 1) ex = XSize_ - 1;
  // The strip of the last row would have no row after it.
  if (ez > ZSize_ - 2) ez = ZSize_ - 2;

  const std::int64_t cells = std::int64_t{ex} - sx;
  StripPrims_ = CheckedInt32(call, "strip triangle count", 2 * cells);
  StripVerts_ = CheckedInt32(call, "strip vertex count", XSize_ + cells + 1);

  device_.SetVertexShader(kFVF);
  device_.SetTexture(0, GroundTexture_);
  if (StripPrims_ <= 0 || ez < sz) return;

  // The last strip's range ends at vertex (ex, ez + 1), the grid's last at the latest.
  const std::int64_t lastEnd = std::int64_t{ez} * XSize_ + sx + StripVerts_;
  if (lastEnd > static_cast<std::int64_t>(Grid_.size()) ||
      2 * static_cast<std::size_t>(cells) + 2 > StripIndex_.size())
    throw platform::Error(call, "the window reaches beyond the grid");
  const auto* index = reinterpret_cast<const std::uint16_t*>(StripIndex_.data());
  for (std::int32_t w = sz; w <= ez; ++w) {
    const LandVertex* first =
        &Grid_[static_cast<std::size_t>(w) * static_cast<std::size_t>(XSize_) + static_cast<std::size_t>(sx)];
    device_.DrawIndexedPrimitiveUP(D3DPT_TRIANGLESTRIP, 0, static_cast<DWORD>(StripVerts_),
                                   static_cast<DWORD>(StripPrims_), index, D3DFMT_INDEX16, first,
                                   static_cast<DWORD>(VertexSize_));
  }
}

float LandScape::GetHeight(float x, float Z) const {
  const char* call = "GetHeight";
  if (ScaleSize_ == 0.0f) throw platform::Error(call, "division by zero: ScaleSize is 0");
  float fx = ToFloat(call, "grid position", (static_cast<double>(x) - PX_) / ScaleSize_);
  float fz = ToFloat(call, "grid position", (static_cast<double>(Z) - PZ_) / ScaleSize_);
  const std::int32_t ix = ToInt32(call, "cell index", std::floor(static_cast<double>(fx)));
  const std::int32_t iz = ToInt32(call, "cell index", std::floor(static_cast<double>(fz)));
  fx = static_cast<float>(static_cast<double>(fx) - ix);
  fz = static_cast<float>(static_cast<double>(fz) - iz);
  // The last column and row count as off the grid.
  if (ix < 0 || ix >= XSize_ - 1 || iz < 0 || iz >= ZSize_ - 1) return MinY_;
  const double h00 = Vertex(ix, iz).y, h10 = Vertex(ix + 1, iz).y;
  const double h01 = Vertex(ix, iz + 1).y, h11 = Vertex(ix + 1, iz + 1).y;
  const double gx = fx, gz = fz;
  return static_cast<float>((1 - gx) * h00 * (1 - gz) + gx * h10 * (1 - gz) + (1 - gx) * h01 * gz +
                            gx * h11 * gz);
}

}  // namespace components
