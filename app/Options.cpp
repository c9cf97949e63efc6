#include "app/Options.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <stdexcept>

#include "app/Card.h"
#include "render/Framing.h"

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

bool IsPageUrl(const std::string& url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string::npos) return false;
  std::string name = url.substr(0, scheme);
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (name != "https" && name != "http") return false;
  const std::size_t host = scheme + 3;
  if (host >= url.size() || url[host] == '/' || url.size() > 2000) return false;
  for (const char c : url) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7f || c == '"' || c == '<' || c == '>' || c == '\\' || c == '`') return false;
  }
  return true;
}

bool IsLanguageTag(const std::string& tag) {
  std::size_t part = 0, length = 0;
  for (std::size_t i = 0; i <= tag.size(); ++i) {
    if (i == tag.size() || tag[i] == '-') {
      if (length == 0 || (part == 0 && (length < 2 || length > 3)) || length > 8 || part > 3) return false;
      ++part;
      length = 0;
      continue;
    }
    const auto c = static_cast<unsigned char>(tag[i]);
    if (!(std::isalpha(c) || (part > 0 && std::isdigit(c))) || c >= 0x80) return false;
    ++length;
  }
  return true;
}

void ParseFrameSize(const std::string& option, const std::string& value, int& width, int& height) {
  const auto bad = [&](const std::string& why) {
    return std::invalid_argument(
        option + " takes WIDTHxHEIGHT, both even, from " + std::to_string(render::kMinFrameSide) + " to " +
        std::to_string(render::kMaxFrameSide) + " (such as 1080x1920), not '" + value + "': " + why);
  };
  const std::size_t x = value.find_first_of("xX");
  if (x == std::string::npos) throw bad("no x between the sides");
  int sides[2] = {0, 0};
  const std::string parts[2] = {value.substr(0, x), value.substr(x + 1)};
  for (int k = 0; k < 2; ++k) {
    const std::string& part = parts[k];
    long long v = 0;
    const auto [p, ec] = std::from_chars(part.data(), part.data() + part.size(), v);
    if (part.empty() || ec != std::errc() || p != part.data() + part.size())
      throw bad("'" + part + "' is not a whole number");
    if (v < render::kMinFrameSide || v > render::kMaxFrameSide)
      throw bad(std::to_string(v) + " is out of range");
    if (v % 2 != 0) throw bad(std::to_string(v) + " is odd");
    sides[k] = static_cast<int>(v);
  }
  width = sides[0];
  height = sides[1];
}

std::int64_t ParseByteSize(const std::string& option, const std::string& value) {
  const auto bad = [&](const std::string& why) {
    return std::invalid_argument(option +
                                 " takes a size with its unit, such as 16M, 800K or 1.5G (K, M and G are "
                                 "thousands, millions and billions of bytes; B is bytes), not '" +
                                 value + "': " + why);
  };
  std::size_t digits = 0;
  while (digits < value.size() &&
         (std::isdigit(static_cast<unsigned char>(value[digits])) || value[digits] == '.'))
    ++digits;
  const std::string number = value.substr(0, digits);
  std::string unit = value.substr(digits);
  for (char& c : unit) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (number.empty() || number.front() == '.' || number.back() == '.' ||
      number.find('.') != number.rfind('.'))
    throw bad("no number");
  double multiplier = 0;
  if (unit == "B")
    multiplier = 1;
  else if (unit == "K" || unit == "KB")
    multiplier = 1e3;
  else if (unit == "M" || unit == "MB")
    multiplier = 1e6;
  else if (unit == "G" || unit == "GB")
    multiplier = 1e9;
  else if (unit.empty())
    throw bad("no unit");
  else
    throw bad("unknown unit '" + value.substr(digits) + "'");
  const double bytes = std::strtod(number.c_str(), nullptr) * multiplier;
  if (!(bytes >= 1) || bytes > 1e12) throw bad("out of range");
  return static_cast<std::int64_t>(std::floor(bytes));
}

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
      if (o.exportWeb.empty())
        throw std::invalid_argument("--export-web needs a folder or an .html file name");
    } else if (a == "--seconds") {
      const std::string v = value(a);
      char* end = nullptr;
      o.seconds = std::strtod(v.c_str(), &end);
      if (end == v.c_str() || *end != '\0' || !(o.seconds > 0) || o.seconds > 3600)
        throw std::invalid_argument("--seconds takes a number of seconds above 0 and at most 3600, not '" +
                                    v + "'");
      secondsGiven = true;
    } else if (a == "--model-height") {
      const std::string v = value(a);
      char* end = nullptr;
      o.modelHeight = std::strtod(v.c_str(), &end);
      if (end == v.c_str() || *end != '\0' || !(o.modelHeight > 0) || o.modelHeight > kMaxModelHeight)
        throw std::invalid_argument(
            "--model-height takes a height above 0 and at most 100, in the tree's units "
            "(its own tree is " +
            std::string(kTreeHeightText) + " tall), not '" + v + "'");
    } else if (a == "--fps") {
      o.fps = static_cast<int>(parseCount(a, value(a), 240));
      fpsGiven = true;
    } else if (a == "--size") {
      ParseFrameSize(a, value(a), o.width, o.height);
    } else if (a == "--fill") {
      o.fill = true;
    } else if (a == "--max-size") {
      o.maxBytes = ParseByteSize(a, value(a));
    } else if (a == "--poster") {
      o.poster = value(a);
      if (o.poster.empty()) throw std::invalid_argument("--poster needs a file name");
      std::string ext = std::filesystem::path(o.poster).extension().string();
      for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (ext != ".jpg" && ext != ".jpeg")
        throw std::invalid_argument("--poster writes a JPEG image: name the file .jpg, not '" + o.poster +
                                    "'");
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
    } else if (a == "--bundle") {
      o.bundles.push_back(value(a));
      if (o.bundles.back().empty()) throw std::invalid_argument("--bundle needs a folder name");
    } else if (a == "--share-link" || a == "--page-url") {
      std::string& url = a == "--share-link" ? o.shareLink : o.pageUrl;
      url = value(a);
      if (!IsPageUrl(url))
        throw std::invalid_argument(
            a + " takes the page's address, starting with https:// or http://, not '" + url + "'");
    } else if (a == "--recipients") {
      o.recipients = value(a);
      if (o.recipients.empty()) throw std::invalid_argument("--recipients needs a file name");
    } else if (a == "--lang") {
      o.lang = value(a);
      if (!IsLanguageTag(o.lang))
        throw std::invalid_argument("--lang takes a language tag such as ru, en or pt-BR, not '" + o.lang +
                                    "'");
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
  if (o.Sized() && !o.headless && !o.Capture())
    throw std::invalid_argument(
        "--size needs --headless, --record, --frames-dir or --poster (the live scene takes --fill)");
  if (o.fill && (o.headless || o.Capture() || !o.exportWeb.empty()))
    throw std::invalid_argument("--fill is for the live scene; give --size for pictures and videos");
  if (o.maxBytes > 0 && o.record.empty()) throw std::invalid_argument("--max-size needs --record");
  if (!o.shareLink.empty()) {
    if (o.headless || o.windowed || o.Capture() || !o.exportWeb.empty() || o.fill || o.mute || o.Sized())
      throw std::invalid_argument(
          "--share-link prints a link and shows nothing; it takes no --headless, --window, "
          "--record, --frames-dir, --poster, --export-web, --fill, --mute or --size");
    if (!o.card.empty()) throw std::invalid_argument("--share-link takes the texts and choices, not --card");
  } else {
    if (!o.recipients.empty()) throw std::invalid_argument("--recipients needs --share-link");
    if (!o.lang.empty()) throw std::invalid_argument("--lang needs --share-link");
  }
  if (!o.pageUrl.empty() && o.exportWeb.empty()) throw std::invalid_argument("--page-url needs --export-web");
  if (!o.bundles.empty() && o.exportWeb.empty() && o.shareLink.empty())
    throw std::invalid_argument("--bundle needs --export-web or --share-link");
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
         "  --screenshot FILE     headless: write the last frame as a PNG\n"
         "  --record FILE         render the greeting headless into a video with its music: FILE.mp4\n"
         "                        or FILE.mkv (H.264 and AAC), FILE.webm (VP9 and Opus)\n"
         "  --frames-dir DIR      render the greeting headless into numbered PNG frames instead\n"
         "  --seconds S           length of the recording (default 30)\n"
         "  --fps F               frames per second of the recording (default 30)\n"
         "  --size WxH            the frame's size for --headless, --record, --frames-dir and --poster\n"
         "                        (default 1024x768): even sides from 320 to 4096, such as 1080x1920\n"
         "                        (a phone held upright, for stories and chats), 1080x1080 (square)\n"
         "                        or 1920x1080 (wide). The scene and its text are framed for the shape\n"
         "  --max-size SIZE       --record: choose the quality so that the whole file, sound included,\n"
         "                        stays under SIZE, such as 16M or 800K (decimal units: 16M is\n"
         "                        16 000 000 bytes); refused at once, naming the smallest size, when\n"
         "                        even the lowest quality would not fit\n"
         "  --poster FILE.jpg     write a still of the frame the greeting is best seen at (3 seconds\n"
         "                        in, or the last frame of a shorter recording), for thumbnails and link\n"
         "                        previews; with --record or --frames-dir, or on its own\n"
         "  --fill                live: draw the scene at the screen's shape instead of 4:3 with bars\n"
         "  --export-web DIR      write the greeting as a web page into DIR (a new or empty folder,\n"
         "                        or an earlier export, which is replaced whole); a name ending in\n"
         "                        .html writes the page as one self-contained file instead\n"
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
         "  --model FILE          the tree: an X (.x), glTF (.glb, .gltf) or Wavefront (.obj) model; the\n"
         "                        files it names are looked up beside it. It is stood where the tree\n"
         "                        stands, as tall as the tree\n"
         "  --model-height H      how tall --model's tree stands, in the tree's units (the tree is 2.385)\n"
         "  --ground FILE         the ground texture, a JPEG or PNG image\n"
         "                        Each of these wins over what --card holds.\n"
         "\n"
         "Greetings as links (publish the --export-web page once, then send links to it):\n"
         "  --share-link URL      print the link that opens the page published at URL with the greeting\n"
         "                        that --greeting and --credit give; --tune, --ground and --model then\n"
         "                        name the page's choices (forest, jingle-bells; snow, jingle-bells;\n"
         "                        fir; and each --bundle folder's name). Nothing is rendered\n"
         "  --recipients FILE.csv with --share-link: one link per row of the CSV file (its first row\n"
         "                        names the columns), {name} and any other {column} in the texts\n"
         "                        filled in from the row; prints the rows with a link column added\n"
         "  --lang TAG            with --share-link: the greeting's language (ru, en, pt-BR, ...)\n"
         "  --bundle DIR          with --export-web or --share-link: offer the tune, ground and tree of\n"
         "                        the card folder DIR too, named by the folder; repeat it for several\n"
         "  --page-url URL        with --export-web: the address the page will be published at, for the\n"
         "                        link previews of messengers (their image needs the full address)\n";
}

int RunProgram(int argc, char** argv, const std::string& name,
               const std::function<std::string(const std::string& program)>& usage,
               const std::function<int(const Options&)>& run) {
  Options o;
  try {
    o = ParseOptions(argc, argv);
  } catch (const std::exception& e) {
    // One line: what was wrong, naming the option. --help has the whole list.
    std::cerr << name << ": " << e.what() << " (" << argv[0] << " --help lists the options)\n";
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
