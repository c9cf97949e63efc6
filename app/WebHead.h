// What a messenger or a search engine shows of the exported page before anyone opens it: the
// <head>'s description, Open Graph and Twitter tags, its icons, and the images behind them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace app {

// The preview image's size: what Open Graph and Twitter's large card show at 1.91 : 1.
constexpr int kPreviewWidth = 1200, kPreviewHeight = 630;
// The largest preview image messengers fetch without refusing or recompressing it.
constexpr std::size_t kPreviewMaxBytes = 300 * 1000;
// The side of the square frame the icons are scaled down from, and the icons' sides.
constexpr int kIconFrameSide = 320;
constexpr int kFaviconSide = 32, kTouchIconSide = 180;

// The language of a greeting line, by its letters: "ru" where Cyrillic letters are the most, "en"
// where Latin ones are, "und" (undetermined) for a line with neither.
std::string GreetingLanguage(const std::string& utf8);

// Text made safe inside an HTML element or a quoted attribute: & < > " ' as character references.
std::string HtmlEscape(const std::string& text);

// The address of `file` in the folder of the page published at `pageUrl` (its last '/' ends the
// folder; an address naming only a host is its root); `file` itself, relative, when `pageUrl` is empty.
std::string UrlBeside(const std::string& pageUrl, const std::string& file);

struct PageHead {
  std::string title;               // og:title: the greeting, or a plain description without one
  std::string description;         // description and og:description
  std::string image;               // the preview image's URL (absolute when the page's address is known)
  std::string pageUrl;             // og:url; empty: left out
  std::string favicon, touchIcon;  // the icons' URLs
};

// The tags for the page's <head>, one per line, every value escaped.
std::string HeadTags(const PageHead& head);

// `rgba` (w x h, top row first) scaled down to `outW` x `outH` by averaging the source area each
// output pixel covers (a box filter over fractional pixels: no aliasing, no ringing), alpha kept.
std::vector<std::uint8_t> ScaleDown(const std::vector<std::uint8_t>& rgba, int w, int h, int outW, int outH);

// `rgba` as a JPEG of at most `maxBytes`: quality 90, lowered in steps of 5 (down to 20) until it fits.
// Throws std::runtime_error when even the lowest does not fit. `quality` receives the one used.
std::vector<std::uint8_t> JpegWithin(const std::vector<std::uint8_t>& rgba, int w, int h,
                                     std::size_t maxBytes, int* quality = nullptr);

}  // namespace app
