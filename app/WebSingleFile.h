// The exported page as one HTML file: every file the page fetches embedded as base64 in an element
// the browser never runs, the page's scripts and styles inlined, and a Content-Security-Policy that
// lets only those inlined scripts and styles run, by their SHA-256 hashes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace app {

// RFC 4648 base64 (section 4: '+', '/', '=' padding).
std::string Base64(const std::uint8_t* data, std::size_t size);

// The CSP source that allows an inline element whose text is `text`: 'sha256-BASE64'.
std::string CspHashSource(const std::string& text);

// The policy the single file carries: its inline scripts and styles by hash, WebAssembly compiled
// from bytes, images and sound from data: and blob: URLs, nothing loaded from elsewhere.
std::string SingleFilePolicy(const std::vector<std::string>& scriptHashes,
                             const std::vector<std::string>& styleHashes);

struct SingleFileParts {
  std::string indexHtml;  // the page as the folder serves it, its <head> filled in
  // The bytes of a file of the folder by its URL relative to the page (index.html's scripts and
  // style sheets, and the embedded files). Throws when there is none.
  std::function<std::vector<std::uint8_t>(const std::string& url)> read;
  std::vector<std::string> firstScripts;  // inlined before the page's own scripts (the runtime's loader)
  std::vector<std::string> embedded;      // the URLs the page fetches, embedded in that order
};

// The single file: each <script src="URL"></script> and <link rel="stylesheet" href="URL"> of the
// page inlined, `firstScripts` before them, the embedded files as
// <script type="application/octet-stream" data-url="URL">BASE64</script> ahead of the scripts (the
// page's loader looks them up by URL), and a Content-Security-Policy <meta> that lists the hashes of
// every inline script and style right after <meta charset>.
std::string SingleFileHtml(const SingleFileParts& parts);

}  // namespace app
