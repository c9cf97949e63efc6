#include "app/WebHead.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "platform/d3dx/Texture.h"

namespace app {

namespace {

// The code point that starts at s[i], advancing i past it; a malformed byte reads as itself.
char32_t nextCodePoint(const std::string& s, std::size_t& i) {
  const auto b = static_cast<unsigned char>(s[i++]);
  const int more = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
  char32_t c = more == 3 ? b & 0x07u : more == 2 ? b & 0x0Fu : more == 1 ? b & 0x1Fu : b;
  for (int k = 0; k < more && i < s.size(); ++k) c = (c << 6) | (static_cast<unsigned char>(s[i++]) & 0x3Fu);
  return c;
}

std::string tag(const char* attribute, const char* key, const std::string& value) {
  return std::string("<meta ") + attribute + "=\"" + key + "\" content=\"" + HtmlEscape(value) + "\">\n";
}

}  // namespace

std::string GreetingLanguage(const std::string& utf8) {
  int cyrillic = 0, latin = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    const char32_t c = nextCodePoint(utf8, i);
    if (c >= 0x400 && c <= 0x4FF) ++cyrillic;
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
        (c >= 0xC0 && c <= 0x24F && c != 0xD7 && c != 0xF7))
      ++latin;
  }
  if (cyrillic == 0 && latin == 0) return "und";
  return cyrillic >= latin ? "ru" : "en";
}

std::string UrlBeside(const std::string& pageUrl, const std::string& file) {
  if (pageUrl.empty()) return file;
  const std::size_t host = pageUrl.find("://"), folderEnd = pageUrl.find_last_of('/');
  if (host == std::string::npos || folderEnd < host + 3) return pageUrl + "/" + file;
  return pageUrl.substr(0, folderEnd + 1) + file;
}

std::string HtmlEscape(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string HeadTags(const PageHead& head) {
  std::string out = tag("name", "description", head.description);
  out += tag("property", "og:type", "website");
  out += tag("property", "og:title", head.title);
  out += tag("property", "og:description", head.description);
  if (!head.pageUrl.empty()) out += tag("property", "og:url", head.pageUrl);
  if (!head.image.empty()) {
    out += tag("property", "og:image", head.image);
    out += tag("property", "og:image:type", "image/jpeg");
    out += tag("property", "og:image:width", std::to_string(kPreviewWidth));
    out += tag("property", "og:image:height", std::to_string(kPreviewHeight));
    out += tag("property", "og:image:alt", head.title);
  }
  out += tag("name", "twitter:card", head.image.empty() ? "summary" : "summary_large_image");
  out += tag("name", "twitter:title", head.title);
  out += tag("name", "twitter:description", head.description);
  if (!head.image.empty()) out += tag("name", "twitter:image", head.image);
  const std::string fav = std::to_string(kFaviconSide), touch = std::to_string(kTouchIconSide);
  out += "<link rel=\"icon\" type=\"image/png\" sizes=\"" + fav + "x" + fav + "\" href=\"" +
         HtmlEscape(head.favicon) + "\">\n";
  out += "<link rel=\"apple-touch-icon\" sizes=\"" + touch + "x" + touch + "\" href=\"" +
         HtmlEscape(head.touchIcon) + "\">\n";
  return out;
}

std::vector<std::uint8_t> ScaleDown(const std::vector<std::uint8_t>& rgba, int w, int h, int outW, int outH) {
  std::vector<std::uint8_t> out(static_cast<std::size_t>(outW) * outH * 4);
  const double sx = static_cast<double>(w) / outW, sy = static_cast<double>(h) / outH;
  for (int oy = 0; oy < outH; ++oy) {
    const double y0 = oy * sy, y1 = y0 + sy;
    for (int ox = 0; ox < outW; ++ox) {
      const double x0 = ox * sx, x1 = x0 + sx;
      double sum[4] = {0, 0, 0, 0}, area = 0;
      for (int y = static_cast<int>(y0); y < std::min(h, static_cast<int>(std::ceil(y1))); ++y) {
        const double wy = std::min(y1, y + 1.0) - std::max(y0, static_cast<double>(y));
        for (int x = static_cast<int>(x0); x < std::min(w, static_cast<int>(std::ceil(x1))); ++x) {
          const double wxy = wy * (std::min(x1, x + 1.0) - std::max(x0, static_cast<double>(x)));
          const std::uint8_t* p = &rgba[(static_cast<std::size_t>(y) * w + x) * 4];
          for (int c = 0; c < 4; ++c) sum[c] += wxy * p[c];
          area += wxy;
        }
      }
      std::uint8_t* q = &out[(static_cast<std::size_t>(oy) * outW + ox) * 4];
      for (int c = 0; c < 4; ++c) q[c] = static_cast<std::uint8_t>(std::lround(sum[c] / area));
    }
  }
  return out;
}

std::vector<std::uint8_t> JpegWithin(const std::vector<std::uint8_t>& rgba, int w, int h,
                                     std::size_t maxBytes, int* quality) {
  for (int q = 90; q >= 20; q -= 5) {
    std::vector<std::uint8_t> jpeg = d3dx::EncodeJpeg("preview.jpg", rgba, w, h, q);
    if (jpeg.size() <= maxBytes) {
      if (quality) *quality = q;
      return jpeg;
    }
  }
  throw std::runtime_error("the preview image does not fit in " + std::to_string(maxBytes / 1000) +
                           " kB even at JPEG quality 20");
}

}  // namespace app
