#include "app/WebSingleFile.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace app {

namespace {

// Inline text as it may stand inside a <script> or <style> element: "</" of a closing tag and "<!--"
// would end or change the element, so their characters are escaped the way JavaScript strings and
// regular expressions read back unchanged.
std::string inlineSafe(std::string text) {
  for (const auto& [from, to] : {std::pair<std::string, std::string>{"</script", "<\\/script"},
                                 {"</SCRIPT", "<\\/SCRIPT"},
                                 {"<!--", "<\\!--"}}) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
      text.replace(at, from.size(), to);
  }
  return text;
}

std::string textOf(const std::vector<std::uint8_t>& bytes) {
  return {bytes.begin(), bytes.end()};
}

// Replaces every `open` URL `close` in `html` (such as <script src="URL"></script>) with what `with`
// makes of the URL. A tag left unclosed is an error naming it.
std::string replaceTags(const std::string& html, const std::string& open, const std::string& close,
                        const std::function<std::string(const std::string& url)>& with) {
  std::string out;
  std::size_t from = 0;
  for (std::size_t at = html.find(open); at != std::string::npos; at = html.find(open, from)) {
    const std::size_t url = at + open.size(), end = html.find(close, url);
    if (end == std::string::npos) throw std::runtime_error("the page has " + open + " without its end");
    out.append(html, from, at - from);
    out += with(html.substr(url, end - url));
    from = end + close.size();
  }
  out.append(html, from, std::string::npos);
  return out;
}

}  // namespace

std::string Base64(const std::uint8_t* data, std::size_t size) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((size + 2) / 3 * 4);
  for (std::size_t i = 0; i < size; i += 3) {
    const std::uint32_t n = (std::uint32_t{data[i]} << 16) |
                            (i + 1 < size ? std::uint32_t{data[i + 1]} << 8 : 0) |
                            (i + 2 < size ? data[i + 2] : 0u);
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += i + 1 < size ? kAlphabet[(n >> 6) & 63] : '=';
    out += i + 2 < size ? kAlphabet[n & 63] : '=';
  }
  return out;
}

std::string CspHashSource(const std::string& text) {
  std::uint8_t digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr) != 1)
    throw std::runtime_error("cannot compute the SHA-256 of an inline script");
  return "'sha256-" + Base64(digest, length) + "'";
}

std::string SingleFilePolicy(const std::vector<std::string>& scriptHashes,
                             const std::vector<std::string>& styleHashes) {
  std::string scripts, styles;
  for (const std::string& h : scriptHashes) scripts += h + " ";
  for (const std::string& h : styleHashes) styles += " " + h;
  return "default-src 'none'; script-src " + scripts + "'wasm-unsafe-eval'; style-src" +
         (styles.empty() ? std::string(" 'none'") : styles) +
         "; img-src data: blob:; media-src data: blob:; connect-src data: blob:; object-src 'none'; "
         "base-uri 'none'; form-action 'none'";
}

std::string SingleFileHtml(const SingleFileParts& parts) {
  std::vector<std::string> scriptHashes, styleHashes;
  const auto script = [&](const std::string& url) {
    const std::string text = inlineSafe(textOf(parts.read(url)));
    scriptHashes.push_back(CspHashSource(text));
    return "<script>" + text + "</script>";
  };
  // The folder's own policy goes, with the line break after it: the one file gets its own, listing
  // what it inlines.
  std::string html = parts.indexHtml;
  for (std::size_t at = html.find("<meta http-equiv=\"Content-Security-Policy\""); at != std::string::npos;
       at = html.find("<meta http-equiv=\"Content-Security-Policy\"", at)) {
    std::size_t end = html.find('>', at);
    if (end == std::string::npos) throw std::runtime_error("the page has a policy <meta> without its end");
    if (end + 1 < html.size() && html[end + 1] == '\n') ++end;
    html.erase(at, end + 1 - at);
  }
  // Style sheets become <style>; every <style> is then listed by its hash.
  html = replaceTags(html, "<link rel=\"stylesheet\" href=\"", "\">", [&](const std::string& url) {
    return "<style>" + inlineSafe(textOf(parts.read(url))) + "</style>";
  });
  for (std::size_t at = html.find("<style>"); at != std::string::npos; at = html.find("<style>", at + 1)) {
    const std::size_t from = at + std::string("<style>").size(), to = html.find("</style>", from);
    if (to == std::string::npos) throw std::runtime_error("the page has a <style> without its end");
    styleHashes.push_back(CspHashSource(html.substr(from, to - from)));
  }
  bool first = true;
  html = replaceTags(html, "<script src=\"", "\"></script>", [&](const std::string& url) {
    std::string out;
    if (first) {
      first = false;
      for (const std::string& url : parts.embedded) {
        const std::vector<std::uint8_t> bytes = parts.read(url);
        out += "<script type=\"application/octet-stream\" data-url=\"" + url + "\">" +
               Base64(bytes.data(), bytes.size()) + "</script>\n";
      }
      for (const std::string& url : parts.firstScripts) out += script(url) + "\n";
    }
    return out + script(url);
  });
  if (first) throw std::runtime_error("the page has no <script src> to inline");
  const std::string meta = "\n<meta http-equiv=\"Content-Security-Policy\" content=\"" +
                           SingleFilePolicy(scriptHashes, styleHashes) + "\">";
  const std::size_t charset = html.find("<meta charset=\"utf-8\">");
  if (charset == std::string::npos) throw std::runtime_error("the page has no <meta charset=\"utf-8\">");
  html.insert(charset + std::string("<meta charset=\"utf-8\">").size(), meta);
  return html;
}

}  // namespace app
