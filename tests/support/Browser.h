// A real browser for the tests of the web page: Debian's Chromium, headless with its software WebGL2
// (SwiftShader), driven through the DevTools protocol over a pipe, and a static web server on
// 127.0.0.1 that serves one folder and remembers every path asked of it.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <variant>
#include <vector>

namespace wgtest {

// A JSON value, as the DevTools protocol speaks it.
struct Json {
  using Array = std::vector<Json>;
  using Object = std::map<std::string, Json>;
  std::variant<std::nullptr_t, bool, double, std::string, Array, Object> v;

  static Json Parse(const std::string& text);  // throws std::runtime_error
  bool isNull() const { return std::holds_alternative<std::nullptr_t>(v); }
  const Json& operator[](const std::string& key) const;  // null when absent
  const Json& operator[](std::size_t i) const;
  std::size_t size() const;
  std::string str() const;  // "" unless a string
  double num() const;       // 0 unless a number
  bool boolean() const;     // false unless true
};

// "text" with JSON's escapes, quotes included.
std::string JsonQuote(const std::string& text);

// The bytes of a base64 data URL ("data:image/png;base64,...").
std::string DecodeDataUrl(const std::string& url);

class StaticServer {
 public:
  // Serves `root` on 127.0.0.1 at a free port; stops when destroyed.
  explicit StaticServer(std::string root);
  ~StaticServer();
  StaticServer(const StaticServer&) = delete;
  StaticServer& operator=(const StaticServer&) = delete;

  std::string Url(const std::string& path = "/") const;
  // Every request path so far, in order.
  std::vector<std::string> Requests() const;

 private:
  void serve();
  void answer(int client);
  std::string root_;
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

class Chromium {
 public:
  // Starts /usr/bin/chromium headless at 1024 x 768 with `extraFlags`, and opens a blank page.
  // Throws std::runtime_error when it cannot.
  explicit Chromium(const std::vector<std::string>& extraFlags = {});
  ~Chromium();
  Chromium(const Chromium&) = delete;
  Chromium& operator=(const Chromium&) = delete;

  static bool Installed();

  // The page's window as a device of `width` x `height` CSS pixels at `scale` device pixels each (a
  // phone: mobile, with its viewport rules); the next Navigate opens the page in it.
  void Emulate(int width, int height, double scale, bool mobile);
  void Navigate(const std::string& url);
  // The network as a slow link (DevTools' throttling: each request waits `latencyMs`, then comes at
  // `downKbits` kbit/s; requests go at `upKbits`), with the cache off so every load fetches anew.
  void Throttle(double latencyMs, double downKbits, double upKbits);
  // Runs `source` in every page opened from now on, before the page's own scripts (the browser's
  // tools are outside the page's policy): a test's look into what the page calls.
  void AddScriptOnNewDocument(const std::string& source);
  // The value of a JavaScript expression (promises awaited); throws on an exception in the page.
  Json Evaluate(const std::string& expression);
  // Evaluates `expression` until it is true (an exception counts as false, as while the page loads);
  // false when `timeout` passes first.
  bool WaitFor(const std::string& expression, std::chrono::milliseconds timeout);
  // A trusted click at a point of the page, and a key held down or let go (as a person would).
  void Click(double x, double y);
  void Key(const std::string& type, const std::string& key, int keyCode);
  // The page as shown, as PNG bytes.
  std::string Screenshot();
  // Every URL the page has asked the network for, in order.
  std::vector<std::string> RequestedUrls() const { return requested_; }
  // What the page printed on its console.
  std::vector<std::string> Console() const { return console_; }

 private:
  Json send(const std::string& method, const std::string& params, bool inSession = true);
  void readMessage(std::string& out);
  void handleEvent(const Json& message);

  pid_t pid_ = -1;
  int toBrowser_ = -1, fromBrowser_ = -1;
  std::string profile_;
  std::string session_;
  int nextId_ = 1;
  std::string buffered_;
  std::vector<std::string> requested_;
  std::vector<std::string> console_;
};

}  // namespace wgtest
