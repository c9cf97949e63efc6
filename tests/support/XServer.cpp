#include "tests/support/XServer.h"

#include <X11/Xlib.h>
#include <poll.h>
#include <unistd.h>

#include "tests/support/Process.h"

namespace wgtest {

namespace {

// Whether the root window carries `name`: a window manager sets _NET_SUPPORTING_WM_CHECK once it
// manages the screen.
bool RootHasProperty(Display* dpy, const char* name) {
  const Atom atom = XInternAtom(dpy, name, False);
  Atom type = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  const bool found = XGetWindowProperty(dpy, DefaultRootWindow(dpy), atom, 0, 1, False, AnyPropertyType,
                                        &type, &format, &items, &after, &data) == Success &&
                     type != None;
  if (data) XFree(data);
  return found;
}

}  // namespace

bool XServer::Installed(bool windowManager) {
  return OnPath("Xvfb") && (!windowManager || OnPath("openbox"));
}

XServer::XServer(const XServerOptions& options) : options_(options) {
  int fds[2];
  if (pipe(fds) != 0) return;
  const std::string screen = std::to_string(options_.width) + "x" + std::to_string(options_.height) + "x24";
  // -noreset: the server stays as it is when its last client leaves, as tools such as xdotool come
  // and go while the program connects.
  xvfb_ = Spawn(
      {"Xvfb", "-displayfd", std::to_string(fds[1]), "-noreset", "-screen", "0", screen, "-nolisten", "tcp"},
      options_.log);
  close(fds[1]);
  // Xvfb writes its display number and a newline once it accepts clients.
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  char c = 0;
  while (poll(&p, 1, 30'000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  if (number.empty() || c != '\n') return;
  display_ = ":" + number;
  if (!options_.windowManager) return;

  manager_ = Spawn({"openbox", "--sm-disable"}, "", {{"DISPLAY", display_}});
  Display* dpy = XOpenDisplay(display_.c_str());
  if (!dpy) return;
  managed_ = WaitFor([&] { return RootHasProperty(dpy, "_NET_SUPPORTING_WM_CHECK"); }, 30);
  XCloseDisplay(dpy);
}

XServer::~XServer() {
  Stop(manager_);
  Stop(xvfb_);
}

}  // namespace wgtest
