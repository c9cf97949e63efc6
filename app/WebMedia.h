// How the exporter makes the page's media small on the wire: a JPEG texture is sent as the file
// itself and decoded by the browser, which decodes it to the texels the desktop's decoder gives;
// everything else the runtime reads (the runtime's code, prepared models, texels and faces) goes
// gzip-compressed, and the page inflates it, whether or not the server compresses too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace app {

// Whether the browser may decode `bytes` for the page: a baseline or progressive Huffman JPEG of one
// or three components, no larger than a texture is kept (so that nothing is scaled), and with
// nothing a browser would apply and the desktop's decoder does not (an Exif orientation, an ICC
// profile, Adobe's colour transform). Anything else is decoded by the exporter.
bool BrowserDecodesAlike(const std::vector<std::uint8_t>& bytes);

// `bytes` as a gzip member (RFC 1952) at the highest compression. Throws naming `file` when zlib fails.
std::vector<std::uint8_t> Gzip(const std::vector<std::uint8_t>& bytes, const std::string& file);

}  // namespace app
