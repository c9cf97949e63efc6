// The program on a real X server (Xvfb), as a user sees it at a kiosk with no window manager and on a
// desktop with one (openbox): the picture fills the screen with black bars and its aspect kept, the
// greeting's red ink lies where the scaled picture puts it, a window fits a small screen and follows
// its size, and Escape or a close request ends the run.
#include "tests/support/XServer.h"

#include <gtest/gtest.h>
#include <stb_image.h>

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/window/Window.h"
#include "tests/support/Files.h"
#include "tests/support/Harness.h"
#include "tests/support/Process.h"

// Last: Xlib defines macros (Bool, None, Status) that would rename parts of the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

constexpr int kPictureW = 1024, kPictureH = 768;
// The greeting is drawn at y = 20; nothing else red is drawn above this line of the picture.
constexpr int kGreetingBand = 120;

struct Shot {
  int w = 0, h = 0;
  std::vector<unsigned char> rgb;
  const unsigned char* at(int x, int y) const { return &rgb[(static_cast<std::size_t>(y) * w + x) * 3]; }
};

bool isRed(const unsigned char* p) {
  return p[0] > 150 && p[1] < 60 && p[2] < 60;
}

struct Box {
  int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;  // inclusive; x1 < 0 when empty
  bool empty() const { return x1 < 0; }
};

// The red pixels inside `region`.
Box redInk(const Shot& s, const platform::Rect& region) {
  Box b;
  for (int y = std::max(region.y, 0); y < std::min(region.y + region.h, s.h); ++y)
    for (int x = std::max(region.x, 0); x < std::min(region.x + region.w, s.w); ++x)
      if (isRed(s.at(x, y))) {
        b.x0 = std::min(b.x0, x);
        b.y0 = std::min(b.y0, y);
        b.x1 = std::max(b.x1, x);
        b.y1 = std::max(b.y1, y);
      }
  return b;
}

// Where the greeting's ink lies in the 1024 x 768 picture, from a headless frame of the same program.
const Box& greetingInPicture() {
  static const Box box = [] {
    // Its own folder: the cases run as parallel processes, and each empties its folder first.
    const std::string dir = wgtest::ScratchDir("xserver-reference-" + std::to_string(getpid()));
    const std::string png = dir + "/frame.png";
    const std::string cmd = wgtest::AppDir() + "/winter-greeting --headless --frames 1 --screenshot " + png +
                            " >" + dir + "/log 2>&1";
    Shot s;
    if (std::system(cmd.c_str()) == 0) {
      int c = 0;
      unsigned char* px = stbi_load(png.c_str(), &s.w, &s.h, &c, 3);
      if (px) s.rgb.assign(px, px + static_cast<std::size_t>(s.w) * s.h * 3);
      stbi_image_free(px);
    }
    return s.rgb.empty() ? Box{} : redInk(s, platform::Rect{0, 0, kPictureW, kGreetingBand});
  }();
  return box;
}

// The program on an X server of the test's own, with its screen of the given size and optionally a
// window manager on it; the test's own connection reads the screen and sends what a user would.
class XScreen {
 public:
  XScreen(int w, int h, bool withManager) : server_({w, h, withManager, ""}) {
    if (!server_.Ready()) return;
    // Windows come and go while the tree is searched; a request on a vanished one is no failure.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    dpy_ = XOpenDisplay(server_.DisplayName().c_str());
  }
  ~XScreen() {
    wgtest::Stop(program_);
    if (dpy_) XCloseDisplay(dpy_);
  }

  bool Ready() const { return dpy_ != nullptr; }
  int W() const { return server_.Width(); }
  int H() const { return server_.Height(); }

  // Starts the program on this display; its output goes to `log`.
  void Run(const std::vector<std::string>& options, const std::string& log) {
    // There is no sound card here: the scene runs without opening an audio device.
    std::vector<std::string> args{wgtest::AppDir() + "/winter-greeting", "--mute"};
    args.insert(args.end(), options.begin(), options.end());
    program_ = wgtest::Spawn(args, log, {{"DISPLAY", server_.DisplayName()}});
  }
  pid_t Program() const { return program_; }

  // The program's window "Form1" once it is viewable; 0 if it never is.
  Window ProgramWindow(double seconds) {
    Window found = 0;
    wgtest::WaitFor(
        [&] {
          found = find(DefaultRootWindow(dpy_));
          XWindowAttributes a;
          return found && XGetWindowAttributes(dpy_, found, &a) && a.map_state == IsViewable;
        },
        seconds);
    return found;
  }

  // The window's rectangle on the screen, and that of its frame (the window manager's decoration
  // around it; the window itself without a manager).
  platform::Rect Geometry(Window w) const {
    XWindowAttributes a{};
    XGetWindowAttributes(dpy_, w, &a);
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(dpy_, w, DefaultRootWindow(dpy_), 0, 0, &x, &y, &child);
    return platform::Rect{x, y, a.width, a.height};
  }
  platform::Rect FrameGeometry(Window w) const {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    for (;;) {
      if (!XQueryTree(dpy_, w, &root, &parent, &children, &n)) break;
      if (children) XFree(children);
      if (parent == root) break;
      w = parent;
    }
    return Geometry(w);
  }

  Shot Screenshot() const {
    const int w = W(), h = H();
    Shot s;
    XImage* img = XGetImage(dpy_, DefaultRootWindow(dpy_), 0, 0, static_cast<unsigned>(w),
                            static_cast<unsigned>(h), AllPlanes, ZPixmap);
    if (!img) return s;
    s.w = w;
    s.h = h;
    s.rgb.resize(static_cast<std::size_t>(w) * h * 3);
    const bool direct = img->bits_per_pixel == 32 && img->byte_order == LSBFirst &&
                        img->red_mask == 0xFF0000 && img->green_mask == 0xFF00 && img->blue_mask == 0xFF;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const unsigned long v =
            direct ? *reinterpret_cast<const std::uint32_t*>(
                         img->data + static_cast<std::ptrdiff_t>(y) * img->bytes_per_line + 4 * x)
                   : XGetPixel(img, x, y);
        unsigned char* p = &s.rgb[(static_cast<std::size_t>(y) * w + x) * 3];
        p[0] = static_cast<unsigned char>((v & img->red_mask) >> 16);
        p[1] = static_cast<unsigned char>((v & img->green_mask) >> 8);
        p[2] = static_cast<unsigned char>(v & img->blue_mask);
      }
    XDestroyImage(img);
    return s;
  }

  // Holds Escape across several frames, as a person does, through the XTEST extension.
  void HoldEscape() {
    const std::vector<std::pair<std::string, std::string>> env{{"DISPLAY", server_.DisplayName()}};
    waitpid(wgtest::Spawn({"xdotool", "keydown", "Escape"}, "", env), nullptr, 0);
    usleep(400'000);
    waitpid(wgtest::Spawn({"xdotool", "keyup", "Escape"}, "", env), nullptr, 0);
  }

  // What a window manager's close button (or any other client) sends: WM_DELETE_WINDOW.
  void RequestClose(Window w) {
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = XInternAtom(dpy_, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(dpy_, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(dpy_, w, False, NoEventMask, &e);
    XFlush(dpy_);
  }

  void Resize(Window w, int width, int height) {
    XResizeWindow(dpy_, w, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XFlush(dpy_);
  }

 private:
  Window find(Window w) const {
    char* name = nullptr;
    if (XFetchName(dpy_, w, &name) && name) {
      const bool match = std::string(name) == "Form1";
      XFree(name);
      if (match) return w;
    }
    Window root = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(dpy_, w, &root, &parent, &children, &n)) return 0;
    Window found = 0;
    for (unsigned i = 0; i < n && !found; ++i) found = find(children[i]);
    if (children) XFree(children);
    return found;
  }

  wgtest::XServer server_;
  Display* dpy_ = nullptr;
  pid_t program_ = -1;
};

// The band of the screen above the picture's line kGreetingBand, inside `area`.
platform::Rect greetingBand(const platform::Rect& area) {
  const platform::Rect r = platform::FitCentred(kPictureW, kPictureH, area.w, area.h);
  return platform::Rect{area.x + r.x, area.y + r.y, r.w, r.h * kGreetingBand / kPictureH};
}

// Waits until the greeting's red ink shows in the picture inside `area` and returns that screenshot.
Shot waitForGreeting(XScreen& x, const platform::Rect& area) {
  Shot s;
  wgtest::WaitFor(
      [&] {
        s = x.Screenshot();
        return !s.rgb.empty() && !redInk(s, greetingBand(area)).empty();
      },
      60);
  return s;
}

// The picture's rectangle inside `area` shows the greeting where the scaled picture puts it.
void expectGreetingScaledInto(const Shot& s, const platform::Rect& area) {
  const platform::Rect r = platform::FitCentred(kPictureW, kPictureH, area.w, area.h);
  const Box& want = greetingInPicture();
  ASSERT_FALSE(want.empty()) << "no red greeting in the headless frame";
  const Box got = redInk(s, greetingBand(area));
  ASSERT_FALSE(got.empty()) << "no red greeting on the screen";
  const double scale = static_cast<double>(r.w) / kPictureW;
  // One source pixel either way, and two for the linear filter's reach at the ink's edges.
  const double slack = scale + 2;
  auto near = [&](int gotPx, int wantPx, int offset) {
    EXPECT_NEAR(gotPx, offset + wantPx * scale, slack) << "scale " << scale;
  };
  near(got.x0, want.x0, area.x + r.x);
  near(got.x1, want.x1 + 1, area.x + r.x);
  near(got.y0, want.y0, area.y + r.y);
  near(got.y1, want.y1 + 1, area.y + r.y);
}

// Every pixel of `area` outside the picture's rectangle is black.
void expectBlackBars(const Shot& s, const platform::Rect& area) {
  const platform::Rect r = platform::FitCentred(kPictureW, kPictureH, area.w, area.h);
  std::size_t notBlack = 0, bar = 0;
  for (int y = 0; y < area.h; ++y)
    for (int x = 0; x < area.w; ++x) {
      if (x >= r.x && x < r.x + r.w && y >= r.y && y < r.y + r.h) continue;
      ++bar;
      const unsigned char* p = s.at(area.x + x, area.y + y);
      notBlack += p[0] != 0 || p[1] != 0 || p[2] != 0;
    }
  EXPECT_EQ(notBlack, 0u) << "of " << bar << " bar pixels";
  // The picture itself is not black: its middle shows the scene.
  const unsigned char* mid = s.at(area.x + r.x + r.w / 2, area.y + r.y + r.h / 2);
  EXPECT_GT(mid[0] + mid[1] + mid[2], 100);
}

void expectCleanExit(XScreen& x, const std::string& log) {
  const auto status = wgtest::WaitExit(x.Program(), 30);
  ASSERT_TRUE(status.has_value()) << "still running";
  ASSERT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 0) << wgtest::Slurp(log);
  EXPECT_EQ(wgtest::Slurp(log), "");
}

enum class End { Escape, CloseRequest };

struct FullscreenCase {
  int w, h;
  bool withManager;
  End end;
};

void PrintTo(const FullscreenCase& c, std::ostream* os) {
  *os << c.w << "x" << c.h << (c.withManager ? " with openbox" : " bare") << ", ended by "
      << (c.end == End::Escape ? "Escape" : "a close request");
}

class Fullscreen : public testing::TestWithParam<FullscreenCase> {};

TEST_P(Fullscreen, FillsTheScreenWithBlackBarsAndEndsOnRequest) {
  const FullscreenCase c = GetParam();
  XScreen x(c.w, c.h, c.withManager);
  if (!x.Ready()) GTEST_SKIP() << "Xvfb" << (c.withManager ? " or openbox" : "") << " did not start";
  const std::string log =
      wgtest::ScratchDir("xserver-" + std::to_string(c.w) + "-" + std::to_string(c.withManager)) + "/log";
  x.Run({}, log);
  const Window w = x.ProgramWindow(60);
  ASSERT_NE(w, 0u) << wgtest::Slurp(log);
  const platform::Rect screen{0, 0, c.w, c.h};
  const Shot s = waitForGreeting(x, screen);
  EXPECT_EQ(x.Geometry(w).w, c.w);
  EXPECT_EQ(x.Geometry(w).h, c.h);
  expectGreetingScaledInto(s, screen);
  expectBlackBars(s, screen);
  if (c.end == End::Escape) {
    x.HoldEscape();
  } else {
    x.RequestClose(w);
  }
  expectCleanExit(x, log);
}

INSTANTIATE_TEST_SUITE_P(XServer, Fullscreen,
                         testing::Values(FullscreenCase{800, 600, false, End::Escape},
                                         FullscreenCase{3840, 2160, false, End::CloseRequest},
                                         FullscreenCase{1920, 1080, true, End::Escape},
                                         FullscreenCase{1024, 768, true, End::CloseRequest}),
                         [](const testing::TestParamInfo<FullscreenCase>& i) {
                           return std::to_string(i.param.w) + "x" + std::to_string(i.param.h) +
                                  (i.param.withManager ? "_WithWindowManager" : "_NoWindowManager");
                         });

class Windowed : public testing::TestWithParam<bool> {};

TEST_P(Windowed, FitsASmallScreenAndFollowsItsSize) {
  const bool withManager = GetParam();
  XScreen x(800, 600, withManager);
  if (!x.Ready()) GTEST_SKIP() << "Xvfb" << (withManager ? " or openbox" : "") << " did not start";
  const std::string log =
      wgtest::ScratchDir(std::string("xserver-window-") + (withManager ? "wm" : "bare")) + "/log";
  x.Run({"--window"}, log);
  const Window w = x.ProgramWindow(60);
  ASSERT_NE(w, 0u) << wgtest::Slurp(log);
  // Placing the window waits for the manager's frame; then the window stays where it is.
  platform::Rect client = x.Geometry(w);
  wgtest::WaitFor(
      [&] {
        const platform::Rect before = x.Geometry(w);
        usleep(300'000);
        client = x.Geometry(w);
        return client.x == before.x && client.y == before.y && client.w == before.w && client.h == before.h;
      },
      10);
  const platform::Rect frame = x.FrameGeometry(w);
  EXPECT_GE(frame.x, 0);
  EXPECT_GE(frame.y, 0);
  EXPECT_LE(frame.x + frame.w, 800);
  EXPECT_LE(frame.y + frame.h, 600);
  // Scaled down with its aspect kept: 4:3 to the pixel.
  EXPECT_LT(client.w, kPictureW);
  EXPECT_NEAR(client.w * 3, client.h * 4, 4);
  if (withManager) {
    EXPECT_GT(frame.h, client.h) << "openbox gave the window no title bar";
  }
  expectGreetingScaledInto(waitForGreeting(x, client), client);

  // The user makes it tall and narrow: the picture follows, with bars above and below.
  x.Resize(w, 400, 500);
  ASSERT_TRUE(wgtest::WaitFor([&] { return x.Geometry(w).w == 400 && x.Geometry(w).h == 500; }, 10));
  client = x.Geometry(w);
  // The next frames are drawn at the new size: the band above the picture turns black.
  Shot s;
  wgtest::WaitFor(
      [&] {
        s = waitForGreeting(x, client);
        const unsigned char* p = s.at(client.x + client.w / 2, client.y + 2);
        return p[0] == 0 && p[1] == 0 && p[2] == 0;
      },
      20);
  expectGreetingScaledInto(s, client);
  expectBlackBars(s, client);

  if (withManager) {
    x.HoldEscape();
  } else {
    x.RequestClose(w);
  }
  expectCleanExit(x, log);
}

INSTANTIATE_TEST_SUITE_P(XServer, Windowed, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& i) {
                           return i.param ? "WithWindowManager" : "NoWindowManager";
                         });

// --fill: the scene drawn at the screen's own shape, so a wide screen shows no bars; its greeting
// lies where a headless frame of that size puts it.
TEST(XServer, FillDrawsTheSceneAtTheScreensShape) {
  XScreen x(1280, 720, false);
  if (!x.Ready()) GTEST_SKIP() << "Xvfb did not start";
  const std::string dir = wgtest::ScratchDir("xserver-fill");
  x.Run({"--fill"}, dir + "/log");
  ASSERT_NE(x.ProgramWindow(60), 0u) << wgtest::Slurp(dir + "/log");
  const platform::Rect band{0, 0, 1280, 720 * kGreetingBand / kPictureH};
  Shot s;
  wgtest::WaitFor(
      [&] {
        s = x.Screenshot();
        return !s.rgb.empty() && !redInk(s, band).empty();
      },
      60);
  ASSERT_FALSE(s.rgb.empty());
  // No bar: every pixel of the outermost columns and rows is sky or snow.
  std::size_t dark = 0;
  for (int y = 0; y < s.h; ++y)
    for (const int xx : {0, s.w - 1}) dark += s.at(xx, y)[0] + s.at(xx, y)[1] + s.at(xx, y)[2] < 300;
  for (int xx = 0; xx < s.w; ++xx)
    for (const int y : {0, s.h - 1}) dark += s.at(xx, y)[0] + s.at(xx, y)[1] + s.at(xx, y)[2] < 300;
  EXPECT_EQ(dark, 0u);

  const std::string png = dir + "/frame.png";
  ASSERT_EQ(std::system((wgtest::AppDir() + "/winter-greeting --headless --size 1280x720 --screenshot " + png +
                         " >" + dir + "/headless.log 2>&1")
                            .c_str()),
            0);
  Shot want;
  int c = 0;
  unsigned char* px = stbi_load(png.c_str(), &want.w, &want.h, &c, 3);
  ASSERT_NE(px, nullptr);
  want.rgb.assign(px, px + static_cast<std::size_t>(want.w) * want.h * 3);
  stbi_image_free(px);
  const Box a = redInk(s, band), b = redInk(want, band);
  EXPECT_NEAR(a.x0, b.x0, 2);
  EXPECT_NEAR(a.x1, b.x1, 2);
  EXPECT_NEAR(a.y0, b.y0, 2);
  EXPECT_NEAR(a.y1, b.y1, 2);
  x.HoldEscape();
  expectCleanExit(x, dir + "/log");
}

// The fixture these tests stand on. Two servers side by side get displays and screens of their own,
// the manager takes the screen it was started on, and every process started for them has ended and
// been reaped when they go, with the server's socket removed.
TEST(XServerFixture, ServersSideBySideKeepApartAndLeaveNothingBehind) {
  if (!wgtest::XServer::Installed(true)) GTEST_SKIP() << "needs Xvfb and openbox";
  std::vector<pid_t> started;
  // Each server's socket with its inode and change time: once a server ends, a test running beside
  // this one may start a server on the same display number, whose socket is a new file (the file
  // system may give it the freed inode number, but not the same change time).
  struct Socket {
    std::string path;
    ino_t inode;
    timespec changed;
  };
  std::vector<Socket> sockets;
  {
    const wgtest::XServer managed({640, 480, true, ""});
    const wgtest::XServer bare({320, 240, false, ""});
    ASSERT_TRUE(managed.Ready());
    ASSERT_TRUE(bare.Ready());
    EXPECT_NE(managed.DisplayName(), bare.DisplayName());
    EXPECT_GT(managed.ManagerProcess(), 0);
    EXPECT_EQ(bare.ManagerProcess(), -1);
    for (const wgtest::XServer* s : {&managed, &bare}) {
      Display* dpy = XOpenDisplay(s->DisplayName().c_str());
      ASSERT_NE(dpy, nullptr) << s->DisplayName();
      EXPECT_EQ(DisplayWidth(dpy, DefaultScreen(dpy)), s->Width());
      EXPECT_EQ(DisplayHeight(dpy, DefaultScreen(dpy)), s->Height());
      XCloseDisplay(dpy);
      const std::string socket = "/tmp/.X11-unix/X" + s->DisplayName().substr(1);
      struct stat st {};
      ASSERT_EQ(stat(socket.c_str(), &st), 0) << socket;
      sockets.push_back({socket, st.st_ino, st.st_ctim});
    }
    started = {managed.ServerProcess(), managed.ManagerProcess(), bare.ServerProcess()};
  }
  for (const pid_t pid : started) {
    errno = 0;
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1) << pid << " is still a child of the test";
    EXPECT_EQ(errno, ECHILD);
  }
  for (const Socket& s : sockets) {
    struct stat st {};
    EXPECT_FALSE(stat(s.path.c_str(), &st) == 0 && st.st_ino == s.inode && st.st_ctim.tv_sec == s.changed.tv_sec &&
                 st.st_ctim.tv_nsec == s.changed.tv_nsec)
        << s.path << " outlived its server";
  }
}

}  // namespace
