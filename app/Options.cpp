#include "app/Options.h"

#include <charconv>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <stdexcept>

namespace app {

namespace {

std::int64_t parseCount(const std::string& option, const std::string& value, std::int64_t max) {
  std::int64_t v = 0;
  const auto* end = value.data() + value.size();
  auto [p, ec] = std::from_chars(value.data(), end, v);
  if (ec != std::errc() || p != end || v <= 0 || v > max)
    throw std::invalid_argument(option + " takes a whole number from 1 to " + std::to_string(max) +
                                ", not '" + value + "'");
  return v;
}

}  // namespace

Options ParseOptions(int argc, char** argv) {
  Options o;
  bool secondsGiven = false, fpsGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](const std::string& name) -> std::string {
      if (i + 1 >= argc) throw std::invalid_argument(name + " needs a value");
      return argv[++i];
    };
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--headless") {
      o.headless = true;
    } else if (a == "--window") {
      o.windowed = true;
    } else if (a == "--frames") {
      o.frames = parseCount(a, value(a), 100'000'000);
    } else if (a == "--screenshot") {
      o.screenshot = value(a);
      if (o.screenshot.empty()) throw std::invalid_argument("--screenshot needs a file name");
    } else if (a == "--record") {
      o.record = value(a);
      if (o.record.empty()) throw std::invalid_argument("--record needs a file name");
    } else if (a == "--frames-dir") {
      o.framesDir = value(a);
      if (o.framesDir.empty()) throw std::invalid_argument("--frames-dir needs a folder name");
    } else if (a == "--export-web") {
      o.exportWeb = value(a);
      if (o.exportWeb.empty()) throw std::invalid_argument("--export-web needs a folder name");
    } else if (a == "--seconds") {
      const std::string v = value(a);
      char* end = nullptr;
      o.seconds = std::strtod(v.c_str(), &end);
      if (end == v.c_str() || *end != '\0' || !(o.seconds > 0) || o.seconds > 3600)
        throw std::invalid_argument("--seconds takes a number of seconds above 0 and at most 3600, not '" +
                                    v + "'");
      secondsGiven = true;
    } else if (a == "--fps") {
      o.fps = static_cast<int>(parseCount(a, value(a), 240));
      fpsGiven = true;
    } else if (a == "--mute") {
      o.mute = true;
    } else if (a == "--card") {
      o.card = value(a);
      if (o.card.empty()) throw std::invalid_argument("--card needs a folder name");
    } else if (a == "--greeting") {
      o.greeting = value(a);
    } else if (a == "--credit") {
      o.credits.push_back(value(a));
      if (o.credits.back().empty())
        throw std::invalid_argument("--credit needs a text (--no-credits leaves the credit lines out)");
    } else if (a == "--no-credits") {
      o.noCredits = true;
    } else if (a == "--tune" || a == "--model" || a == "--ground") {
      std::string& file = a == "--tune" ? o.tune : a == "--model" ? o.model : o.ground;
      file = value(a);
      if (file.empty()) throw std::invalid_argument(a + " needs a file name");
    } else {
      throw std::invalid_argument("unknown option '" + a + "'");
    }
  }
  if (!o.record.empty() && !o.framesDir.empty())
    throw std::invalid_argument("--record and --frames-dir exclude each other");
  if ((secondsGiven || fpsGiven) && !o.Capture())
    throw std::invalid_argument("--seconds and --fps need --record or --frames-dir");
  if (o.Capture() && (o.windowed || o.frames > 0 || !o.screenshot.empty()))
    throw std::invalid_argument(
        "--record and --frames-dir render headless on their own clock; "
        "they take no --window, --frames or --screenshot");
  if (!o.exportWeb.empty() &&
      (o.headless || o.windowed || o.Capture() || o.frames > 0 || !o.screenshot.empty() || o.mute))
    throw std::invalid_argument(
        "--export-web writes a web page and shows nothing; it takes no --headless, "
        "--window, --frames, --screenshot, --record, --frames-dir or --mute");
  if (o.headless && o.windowed) throw std::invalid_argument("--headless and --window exclude each other");
  if (!o.headless && (o.frames > 0 || !o.screenshot.empty()))
    throw std::invalid_argument("--frames and --screenshot need --headless");
  if (o.noCredits && !o.credits.empty())
    throw std::invalid_argument("--credit and --no-credits exclude each other");
  if (o.mute && !o.record.empty())
    throw std::invalid_argument("--mute and --record exclude each other: the video always carries the tune");
  if (o.headless && o.frames < 0) o.frames = 1;
  return o;
}

std::string UsageText(const std::string& program) {
  return "Usage: " + program +
         " [options]\n"
         "Winter Greeting: a snowy New Year scene with a tree, falling snow and a tune.\n"
         "Without options it takes over the screen; hold Escape to end it.\n\n"
         "Options:\n"
         "  --window              run in a 1024x768 window instead of fullscreen\n"
         "  --headless            render offscreen, with no display and no sound card; the clock\n"
         "                        advances a fixed 1000/60 ms per frame\n"
         "  --frames N            headless: render N frames (default 1)\n"
         "  --screenshot FILE     headless: write the last frame as a 1024x768 PNG\n"
         "  --record FILE         render the greeting headless into a video with its music: FILE.mp4\n"
         "                        or FILE.mkv (H.264 and AAC), FILE.webm (VP9 and Opus)\n"
         "  --frames-dir DIR      render the greeting headless into numbered PNG frames instead\n"
         "  --seconds S           length of the recording (default 30)\n"
         "  --fps F               frames per second of the recording (default 30)\n"
         "  --export-web DIR      write the greeting as a web page into DIR (a new or empty folder,\n"
         "                        or an earlier export, which is replaced whole)\n"
         "  --mute                run the scene without opening an audio device (no sound card)\n"
         "  --help                show this text\n"
         "\n"
         "Make it yours (every output takes them: the scene, --screenshot, --record, --frames-dir,\n"
         "--export-web):\n"
         "  --card DIR            a folder laid out like the application folder, every file optional:\n"
         "                        tex/snow.jpg, tex/snow.png, models/tree.x (with the textures it\n"
         "                        names), music/main.mid, and greeting.txt (UTF-8: the greeting on the\n"
         "                        first line, then one credit line per non-empty line)\n"
         "  --greeting TEXT       the greeting line\n"
         "  --credit TEXT         a credit line; repeat it for several, in order\n"
         "  --no-credits          no credit line at all\n"
         "  --tune FILE.mid       the tune, a standard MIDI file\n"
         "  --model FILE.x        the tree, an X file; its textures are looked up beside it\n"
         "  --ground FILE         the ground texture, a JPEG or PNG image\n"
         "                        Each of these wins over what --card holds.\n";
}

int RunProgram(int argc, char** argv, const std::string& name,
               const std::function<std::string(const std::string& program)>& usage,
               const std::function<int(const Options&)>& run) {
  Options o;
  try {
    o = ParseOptions(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << name << ": " << e.what() << "\n\n" << usage(argv[0]);
    return 2;
  }
  if (o.help) {
    std::cout << usage(argv[0]);
    return 0;
  }
  try {
    return run(o);
  } catch (const CommandLineError& e) {
    std::cerr << name << ": " << e.what() << "\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << name << ": " << e.what() << "\n";
    return 1;
  }
}

}  // namespace app
