// Text as a greeting or credit line brings it: UTF-8 laid out by the greeting's font (Arial Bold,
// 24 px em) without a device (width, height, wrapping to the picture's 1024 pixels in three lines)
// and drawn by the same font on the recording device, whose vertices must stay in the rectangle.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>

#include "platform/base/Error.h"
#include "platform/d3d/Direct3D8.h"
#include "platform/d3dx/Font.h"
#include "platform/d3dx/Utf8.h"
#include "render/modGen.h"
#include "tests/support/RecordingBackend.h"

namespace {

// Longer lines take the same paths, only slower; a greeting is far shorter.
constexpr std::size_t kMaxInput = 2048;
constexpr d3d::D3DRECT kBox{10, 20, 1034, 788};

struct Text {
  Text() : font(render::TextFontSource().hFont()), measure(font) {
    direct3d.recordCalls = false;
    d3d::D3DPRESENT_PARAMETERS params{};
    params.BackBufferWidth = 1024;
    params.BackBufferHeight = 768;
    params.BackBufferCount = 1;
    device = direct3d.CreateDevice(d3d::D3DADAPTER_DEFAULT, d3d::D3DDEVTYPE_HAL, nullptr,
                                   d3d::D3DCREATE_SOFTWARE_VERTEXPROCESSING, params);
    drawn = std::make_unique<d3dx::Font>(*device, font);
  }
  d3dx::GdiFont font;
  d3dx::TextMeasure measure;
  d3d::RecordingDirect3D8 direct3d;
  std::unique_ptr<d3d::Device> device;
  std::unique_ptr<d3dx::Font> drawn;
};

// Stops the run naming the property the input broke.
#define CHECK(condition)                                                        \
  do {                                                                          \
    if (!(condition)) {                                                         \
      std::fprintf(stderr, "text_layout_fuzz: %s does not hold\n", #condition); \
      __builtin_trap();                                                         \
    }                                                                           \
  } while (false)

// The lines DrawText makes of `text`: a line break ends one, CR LF counting once.
int linesOf(std::string_view text) {
  int lines = 1;
  char32_t previous = 0;
  for (std::size_t i = 0; i < text.size();) {
    const d3dx::Utf8Char c = d3dx::NextUtf8(text, i);
    i += c.length ? c.length : 1;
    if (d3dx::IsLineBreak(c.cp) && !(c.cp == U'\n' && previous == U'\r')) ++lines;
    previous = c.length ? c.cp : 0;
  }
  return lines;
}

void measure(d3dx::TextMeasure& m, std::string_view text) {
  const int width = m.Width(text), height = m.Height(text);
  CHECK(width >= 0 && height >= 0);
  CHECK(text.empty() == (height == 0));
  const d3dx::TextMeasure::Wrapped w = m.Wrap(text, 1024, 3);
  CHECK(w.lines == linesOf(w.text) && w.width >= 0);
  if (!w.fits) return;
  CHECK(w.lines <= 3);
  CHECK(w.width <= 1024);
  CHECK(m.Width(w.text) <= 1024);
}

void draw(Text& t, std::string_view text) {
  d3d::Device& dev = *t.device;
  d3d::RecordingBackend& rec = *t.direct3d.last;
  rec.reset();
  dev.BeginScene();
  try {
    t.drawn->DrawText(text, kBox, 0, 0xFFFF0000u);
  } catch (...) {
    dev.EndScene();
    throw;
  }
  dev.EndScene();
  for (const auto& d : rec.draws) {
    CHECK(d.vertexData.size() % (6 * sizeof(d3dx::FontVertex)) == 0);
    const auto* v = reinterpret_cast<const d3dx::FontVertex*>(d.vertexData.data());
    for (std::size_t i = 0; i < d.vertexData.size() / sizeof(d3dx::FontVertex); ++i) {
      CHECK(std::isfinite(v[i].x) && std::isfinite(v[i].y) && std::isfinite(v[i].u) && std::isfinite(v[i].v));
      CHECK(v[i].x >= kBox.x1 && v[i].x <= kBox.x2 && v[i].y >= kBox.y1 && v[i].y <= kBox.y2);
      CHECK(v[i].u >= 0 && v[i].u <= 1 && v[i].v >= 0 && v[i].v <= 1);
    }
  }
  rec.reset();
}

}  // namespace

// fontconfig links the parts of its configuration by encoded offsets rather than pointers, which the
// leak checker cannot follow: while the configuration lives (the whole run; it is released at exit)
// its blocks look lost to the check libFuzzer makes after an input. They are fontconfig's own.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Text text;
  if (size > kMaxInput) return 0;
  const std::string_view s(reinterpret_cast<const char*>(data), size);
  try {
    measure(text.measure, s);
  } catch (const platform::Error&) {
  }
  try {
    draw(text, s);
  } catch (const platform::Error&) {
  }
  return 0;
}
