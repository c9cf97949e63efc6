// A virtual X server (Xvfb) of a test's own, optionally with a window manager on it, for tests that
// run the program in a window as a user would. Each server picks its own display number, so tests
// that run side by side never meet on one; everything it started ends with it.
#pragma once

#include <sys/types.h>

#include <string>

namespace wgtest {

struct XServerOptions {
  int width = 1280;
  int height = 1024;
  // openbox, waited for until it has taken the screen.
  bool windowManager = false;
  // Where Xvfb's own output goes; nowhere when empty.
  std::string log;
};

class XServer {
 public:
  explicit XServer(const XServerOptions& options = {});
  ~XServer();
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  // Whether Xvfb, and openbox when `windowManager`, are installed.
  static bool Installed(bool windowManager);

  // The server accepts clients and, when one was asked for, the window manager runs on it.
  bool Ready() const { return !display_.empty() && (!options_.windowManager || managed_); }
  // ":N", what DISPLAY names for a client of this server; empty when it did not start.
  const std::string& DisplayName() const { return display_; }
  int Width() const { return options_.width; }
  int Height() const { return options_.height; }
  pid_t ServerProcess() const { return xvfb_; }
  pid_t ManagerProcess() const { return manager_; }

 private:
  XServerOptions options_;
  std::string display_;
  pid_t xvfb_ = -1, manager_ = -1;
  bool managed_ = false;
};

}  // namespace wgtest
