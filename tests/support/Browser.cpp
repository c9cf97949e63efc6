#include "tests/support/Browser.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "platform/d3dx/Utf8.h"
#include "tests/support/Files.h"

namespace wgtest {

namespace fs = std::filesystem;

// ---- JSON --------------------------------------------------------------------------------------

namespace {

class JsonParser {
 public:
  explicit JsonParser(const std::string& s) : s_(s) {}
  Json parse() {
    Json v = value();
    space();
    if (at_ != s_.size()) fail("text after the value");
    return v;
  }

 private:
  [[noreturn]] void fail(const char* why) const {
    throw std::runtime_error(std::string("JSON: ") + why + " at byte " + std::to_string(at_));
  }
  void space() {
    while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\n' || s_[at_] == '\r' || s_[at_] == '\t'))
      ++at_;
  }
  bool take(const char* word) {
    const std::size_t n = std::strlen(word);
    if (s_.compare(at_, n, word) != 0) return false;
    at_ += n;
    return true;
  }
  Json value() {
    space();
    if (at_ >= s_.size()) fail("end of text");
    const char c = s_[at_];
    if (c == '{') return object();
    if (c == '[') return array();
    if (c == '"') return Json{string()};
    if (take("true")) return Json{true};
    if (take("false")) return Json{false};
    if (take("null")) return Json{nullptr};
    char* end = nullptr;
    const double d = std::strtod(s_.c_str() + at_, &end);
    if (end == s_.c_str() + at_) fail("not a value");
    at_ = static_cast<std::size_t>(end - s_.c_str());
    return Json{d};
  }
  Json object() {
    Json::Object o;
    ++at_;
    space();
    if (at_ < s_.size() && s_[at_] == '}') {
      ++at_;
      return Json{o};
    }
    for (;;) {
      space();
      std::string key = string();
      space();
      if (at_ >= s_.size() || s_[at_++] != ':') fail("':' expected");
      o[key] = value();
      space();
      if (at_ >= s_.size()) fail("end of text in an object");
      if (s_[at_] == ',') {
        ++at_;
        continue;
      }
      if (s_[at_++] != '}') fail("'}' expected");
      return Json{o};
    }
  }
  Json array() {
    Json::Array a;
    ++at_;
    space();
    if (at_ < s_.size() && s_[at_] == ']') {
      ++at_;
      return Json{a};
    }
    for (;;) {
      a.push_back(value());
      space();
      if (at_ >= s_.size()) fail("end of text in an array");
      if (s_[at_] == ',') {
        ++at_;
        continue;
      }
      if (s_[at_++] != ']') fail("']' expected");
      return Json{a};
    }
  }
  unsigned hex4() {
    if (at_ + 4 > s_.size()) fail("short \\u escape");
    const unsigned v = static_cast<unsigned>(std::stoul(s_.substr(at_, 4), nullptr, 16));
    at_ += 4;
    return v;
  }
  std::string string() {
    if (at_ >= s_.size() || s_[at_] != '"') fail("'\"' expected");
    ++at_;
    std::string out;
    while (at_ < s_.size() && s_[at_] != '"') {
      char c = s_[at_++];
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= s_.size()) fail("end of text in an escape");
      c = s_[at_++];
      switch (c) {
        case 'n':
          out += '\n';
          break;
        case 't':
          out += '\t';
          break;
        case 'r':
          out += '\r';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'u': {
          unsigned cp = hex4();
          if (cp >= 0xD800 && cp <= 0xDBFF && s_.compare(at_, 2, "\\u") == 0) {
            at_ += 2;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (hex4() - 0xDC00);
          }
          d3dx::AppendUtf8(cp, out);
          break;
        }
        default:
          out += c;
      }
    }
    if (at_ >= s_.size()) fail("unterminated string");
    ++at_;
    return out;
  }

  const std::string& s_;
  std::size_t at_ = 0;
};

const Json& NullJson() {
  static const Json null{nullptr};
  return null;
}

std::string Base64Decode(const std::string& in) {
  std::string out;
  int bits = 0, value = 0;
  for (const char c : in) {
    int d = -1;
    if (c >= 'A' && c <= 'Z') d = c - 'A';
    if (c >= 'a' && c <= 'z') d = c - 'a' + 26;
    if (c >= '0' && c <= '9') d = c - '0' + 52;
    if (c == '+') d = 62;
    if (c == '/') d = 63;
    if (d < 0) continue;
    value = (value << 6) | d;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((value >> bits) & 0xFF);
    }
  }
  return out;
}

}  // namespace

Json Json::Parse(const std::string& text) {
  return JsonParser(text).parse();
}

const Json& Json::operator[](const std::string& key) const {
  if (const auto* o = std::get_if<Object>(&v)) {
    const auto it = o->find(key);
    if (it != o->end()) return it->second;
  }
  return NullJson();
}

const Json& Json::operator[](std::size_t i) const {
  if (const auto* a = std::get_if<Array>(&v))
    if (i < a->size()) return (*a)[i];
  return NullJson();
}

std::size_t Json::size() const {
  if (const auto* a = std::get_if<Array>(&v)) return a->size();
  if (const auto* o = std::get_if<Object>(&v)) return o->size();
  return 0;
}

std::string Json::str() const {
  const auto* s = std::get_if<std::string>(&v);
  return s ? *s : std::string();
}

double Json::num() const {
  const auto* d = std::get_if<double>(&v);
  return d ? *d : 0.0;
}

bool Json::boolean() const {
  const auto* b = std::get_if<bool>(&v);
  return b && *b;
}

std::string JsonQuote(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string DecodeDataUrl(const std::string& url) {
  const std::size_t comma = url.find(',');
  return comma == std::string::npos ? std::string() : Base64Decode(url.substr(comma + 1));
}

// ---- the static server ---------------------------------------------------------------------------

StaticServer::StaticServer(std::string root) : root_(std::move(root)) {
  listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_ < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  socklen_t len = sizeof a;
  if (bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listen_, 64) != 0 ||
      getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    close(listen_);
    throw std::runtime_error(std::string("cannot listen on 127.0.0.1: ") + std::strerror(errno));
  }
  port_ = ntohs(a.sin_port);
  thread_ = std::thread([this] { serve(); });
}

StaticServer::~StaticServer() {
  stop_ = true;
  thread_.join();
  close(listen_);
}

std::string StaticServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> StaticServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void StaticServer::serve() {
  std::vector<std::thread> clients;
  while (!stop_) {
    pollfd p{listen_, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    const int client = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    // A browser may open a connection and send nothing on it for a while: each gets its own thread.
    clients.emplace_back([this, client] {
      answer(client);
      close(client);
    });
  }
  for (auto& t : clients) t.join();
}

void StaticServer::answer(int client) {
  std::string request;
  char buf[4096];
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
    pollfd p{client, POLLIN, 0};
    if (stop_ || poll(&p, 1, 50) < 0) return;
    if (!(p.revents & (POLLIN | POLLHUP))) continue;
    const ssize_t n = recv(client, buf, sizeof buf, 0);
    if (n <= 0) return;
    request.append(buf, static_cast<std::size_t>(n));
  }
  std::istringstream line(request.substr(0, request.find("\r\n")));
  std::string method, target;
  line >> method >> target;
  std::string path = target.substr(0, target.find('?'));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(path);
  }
  std::string decoded;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '%' && i + 2 < path.size()) {
      decoded += static_cast<char>(std::stoi(path.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      decoded += path[i];
    }
  }
  if (!decoded.empty() && decoded.back() == '/') decoded += "index.html";
  std::string status = "200 OK", body, type = "application/octet-stream";
  const fs::path file = fs::path(root_) / fs::path(decoded).relative_path();
  if (method != "GET" || decoded.find("..") != std::string::npos || !fs::is_regular_file(file)) {
    status = "404 Not Found";
    body = "not here";
    type = "text/plain";
  } else {
    body = Slurp(file.string());
    const std::string ext = file.extension().string();
    if (ext == ".html") type = "text/html; charset=utf-8";
    if (ext == ".js") type = "text/javascript";
    if (ext == ".css") type = "text/css";
    if (ext == ".json") type = "application/json";
    if (ext == ".wasm") type = "application/wasm";
    if (ext == ".ogg") type = "audio/ogg";
    if (ext == ".txt") type = "text/plain; charset=utf-8";
    if (ext == ".mp4") type = "video/mp4";
    if (ext == ".webm") type = "video/webm";
  }
  // A part of the file, as a player asks for one to seek: "Range: bytes=FIRST-[LAST]".
  std::string range;
  std::size_t first = 0, last = 0;
  std::string lower = request;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char ch) { return std::tolower(ch); });
  if (const std::size_t at = lower.find("\r\nrange: bytes="); at != std::string::npos && status == "200 OK") {
    std::istringstream asked(request.substr(at + 15, request.find("\r\n", at + 2) - at - 15));
    char dash = 0;
    if (asked >> first >> dash && dash == '-' && first < body.size()) {
      if (!(asked >> last) || last >= body.size()) last = body.size() - 1;
      if (last >= first) {
        range = "\r\nContent-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
                std::to_string(body.size());
        body = body.substr(first, last - first + 1);
        status = "206 Partial Content";
      }
    }
  }
  const std::string head = "HTTP/1.1 " + status + "\r\nContent-Type: " + type +
                           "\r\nContent-Length: " + std::to_string(body.size()) + range +
                           "\r\nAccept-Ranges: bytes\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
  const std::string reply = head + body;
  std::size_t sent = 0;
  while (sent < reply.size()) {
    const ssize_t n = send(client, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
}

// ---- Chromium ----------------------------------------------------------------------------------

namespace {

constexpr const char* kChromium = "/usr/bin/chromium";
constexpr auto kCommandTimeout = std::chrono::seconds(120);

}  // namespace

bool Chromium::Installed() {
  return access(kChromium, X_OK) == 0;
}

Chromium::Chromium(const std::vector<std::string>& extraFlags) {
  if (!Installed()) throw std::runtime_error(std::string(kChromium) + " is not installed");
  char dir[] = "/tmp/wg-chromium-XXXXXX";
  if (!mkdtemp(dir)) throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
  profile_ = dir;
  std::vector<std::string> args = {kChromium,
                                   "--headless=new",
                                   "--no-sandbox",
                                   "--use-angle=swiftshader",
                                   "--enable-unsafe-swiftshader",
                                   "--disable-gpu",
                                   "--disable-quic",
                                   "--no-first-run",
                                   "--disable-background-networking",
                                   "--disable-component-update",
                                   "--disable-sync",
                                   "--disable-default-apps",
                                   "--hide-scrollbars",
                                   "--window-size=1024,768",
                                   "--remote-debugging-pipe",
                                   "--user-data-dir=" + profile_};
  args.insert(args.end(), extraFlags.begin(), extraFlags.end());
  args.push_back("about:blank");

  int in[2], out[2];  // commands to the browser; answers from it
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
    throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (pid_ == 0) {
    // The browser reads the protocol from fd 3 and writes to fd 4. The pipe's ends are first moved
    // above both (either may already be 3 or 4), and the two kept open across exec: a dup2 onto
    // the descriptor itself would leave its close-on-exec flag set.
    const int reads = fcntl(in[0], F_DUPFD, 10), writes = fcntl(out[1], F_DUPFD, 10);
    if (reads < 0 || writes < 0 || dup2(reads, 3) < 0 || dup2(writes, 4) < 0) _exit(126);
    fcntl(3, F_SETFD, 0);
    fcntl(4, F_SETFD, 0);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(kChromium, argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  toBrowser_ = in[1];
  fromBrowser_ = out[0];

  const Json targets = send("Target.getTargets", "{}", false);
  std::string page;
  const Json& infos = targets["targetInfos"];
  for (std::size_t i = 0; i < infos.size(); ++i)
    if (infos[i]["type"].str() == "page") page = infos[i]["targetId"].str();
  if (page.empty()) page = send("Target.createTarget", "{\"url\":\"about:blank\"}", false)["targetId"].str();
  session_ = send("Target.attachToTarget", "{\"targetId\":" + JsonQuote(page) + ",\"flatten\":true}",
                  false)["sessionId"]
                 .str();
  send("Page.enable", "{}");
  send("Runtime.enable", "{}");
  send("Network.enable", "{}");
  Emulate(1024, 768, 1, false);
}

void Chromium::Emulate(int width, int height, double scale, bool mobile) {
  send("Emulation.setDeviceMetricsOverride", "{\"width\":" + std::to_string(width) +
                                                 ",\"height\":" + std::to_string(height) +
                                                 ",\"deviceScaleFactor\":" + std::to_string(scale) +
                                                 ",\"mobile\":" + (mobile ? "true" : "false") + "}");
}

void Chromium::Throttle(double latencyMs, double downKbits, double upKbits) {
  send("Network.setCacheDisabled", "{\"cacheDisabled\":true}");
  // DevTools takes bytes per second.
  send("Network.emulateNetworkConditions",
       "{\"offline\":false,\"latency\":" + std::to_string(latencyMs) +
           ",\"downloadThroughput\":" + std::to_string(downKbits * 1000 / 8) +
           ",\"uploadThroughput\":" + std::to_string(upKbits * 1000 / 8) + "}");
}

void Chromium::AddScriptOnNewDocument(const std::string& source) {
  send("Page.addScriptToEvaluateOnNewDocument", "{\"source\":" + JsonQuote(source) + "}");
}

Chromium::~Chromium() {
  if (pid_ > 0) {
    try {
      send("Browser.close", "{}", false);
    } catch (const std::exception&) {
    }
    for (int i = 0; i < 100; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      usleep(50'000);
    }
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  if (toBrowser_ >= 0) close(toBrowser_);
  if (fromBrowser_ >= 0) close(fromBrowser_);
  std::error_code ec;
  if (!profile_.empty()) fs::remove_all(profile_, ec);
}

void Chromium::readMessage(std::string& out) {
  const auto deadline = std::chrono::steady_clock::now() + kCommandTimeout;
  for (;;) {
    const std::size_t end = buffered_.find('\0');
    if (end != std::string::npos) {
      out = buffered_.substr(0, end);
      buffered_.erase(0, end + 1);
      return;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) throw std::runtime_error("Chromium did not answer in time");
    pollfd p{fromBrowser_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buf[65536];
    const ssize_t n = read(fromBrowser_, buf, sizeof buf);
    if (n <= 0) throw std::runtime_error("Chromium closed its end of the pipe");
    buffered_.append(buf, static_cast<std::size_t>(n));
  }
}

void Chromium::handleEvent(const Json& m) {
  const std::string method = m["method"].str();
  if (method == "Network.requestWillBeSent") requested_.push_back(m["params"]["request"]["url"].str());
  if (method == "Runtime.consoleAPICalled") {
    std::string line;
    const Json& args = m["params"]["args"];
    for (std::size_t i = 0; i < args.size(); ++i) line += (i ? " " : "") + args[i]["value"].str();
    console_.push_back(line);
  }
}

Json Chromium::send(const std::string& method, const std::string& params, bool inSession) {
  const int id = nextId_++;
  std::string msg =
      "{\"id\":" + std::to_string(id) + ",\"method\":" + JsonQuote(method) + ",\"params\":" + params;
  if (inSession) msg += ",\"sessionId\":" + JsonQuote(session_);
  msg += "}";
  msg.push_back('\0');
  std::size_t sent = 0;
  while (sent < msg.size()) {
    const ssize_t n = write(toBrowser_, msg.data() + sent, msg.size() - sent);
    if (n <= 0) throw std::runtime_error("cannot write to Chromium: " + std::string(std::strerror(errno)));
    sent += static_cast<std::size_t>(n);
  }
  for (;;) {
    std::string text;
    readMessage(text);
    const Json m = Json::Parse(text);
    if (m["id"].isNull()) {
      handleEvent(m);
      continue;
    }
    if (static_cast<int>(m["id"].num()) != id) continue;
    if (!m["error"].isNull()) throw std::runtime_error(method + ": " + m["error"]["message"].str());
    return m["result"];
  }
}

void Chromium::Navigate(const std::string& url) {
  send("Page.navigate", "{\"url\":" + JsonQuote(url) + "}");
}

Json Chromium::Evaluate(const std::string& expression) {
  const Json r = send("Runtime.evaluate", "{\"expression\":" + JsonQuote(expression) +
                                              ",\"returnByValue\":true,\"awaitPromise\":true}");
  if (!r["exceptionDetails"].isNull())
    throw std::runtime_error("the page threw: " + r["exceptionDetails"]["exception"]["description"].str() +
                             r["exceptionDetails"]["text"].str());
  return r["result"]["value"];
}

bool Chromium::WaitFor(const std::string& expression, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    // The page may still be loading: an expression that fails yet counts as false.
    if (Evaluate("(() => { try { return !!(" + expression + "); } catch (e) { return false; } })()")
            .boolean())
      return true;
    usleep(100'000);
  }
  return false;
}

void Chromium::Click(double x, double y) {
  for (const char* type : {"mousePressed", "mouseReleased"})
    send("Input.dispatchMouseEvent", "{\"type\":\"" + std::string(type) + "\",\"x\":" + std::to_string(x) +
                                         ",\"y\":" + std::to_string(y) +
                                         ",\"button\":\"left\",\"clickCount\":1}");
}

void Chromium::Key(const std::string& type, const std::string& key, int keyCode) {
  send("Input.dispatchKeyEvent", "{\"type\":" + JsonQuote(type) + ",\"key\":" + JsonQuote(key) +
                                     ",\"code\":" + JsonQuote(key) +
                                     ",\"windowsVirtualKeyCode\":" + std::to_string(keyCode) +
                                     ",\"nativeVirtualKeyCode\":" + std::to_string(keyCode) + "}");
}

std::string Chromium::Screenshot() {
  return Base64Decode(send("Page.captureScreenshot", "{\"format\":\"png\"}")["data"].str());
}

}  // namespace wgtest
