#include "app/Card.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "app/Options.h"
#include "platform/audio/StandardMidiFile.h"
#include "platform/d3dx/Font.h"
#include "platform/d3dx/XFile.h"
#include "platform/d3dx/Texture.h"
#include "platform/d3dx/Utf8.h"
#include "platform/files/FileName.h"
#include "render/Framing.h"
#include "render/modGen.h"

namespace app {

namespace {

namespace fs = std::filesystem;

// A greeting.txt is a few lines of text; anything larger is not one.
constexpr std::uintmax_t kMaxGreetingTextBytes = 1 << 20;

std::string codePoint(char32_t cp) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(cp));
  return buf;
}

// The line as a message quotes it: its first 40 bytes, cut at a character boundary.
std::string excerpt(const std::string& text) {
  if (text.size() <= 40) return "\"" + text + "\"";
  std::size_t n = 40;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return "\"" + text.substr(0, n) + "...\"";
}

// Where a custom text line came from, for the messages about it.
struct Origin {
  std::string where;    // "--credit 2", "DIR/greeting.txt line 3"
  bool option = false;  // from the command line (exit code 2) rather than a file (exit code 1)
};

// `message` follows the origin: "--credit 2: the line ..." or "--credit 2 has the control ...".
[[noreturn]] void fail(const Origin& from, const std::string& message) {
  if (from.option) throw CommandLineError(from.where + message);
  throw std::runtime_error(from.where + message);
}

// A file the user names on the command line must be there.
void requireFile(const std::string& option, const std::string& path) {
  std::error_code ec;
  if (!fs::exists(path, ec)) throw CommandLineError(option + ": there is no file " + path);
  if (!fs::is_regular_file(path, ec)) throw CommandLineError(option + ": " + path + " is not a file");
}

// The card folder's file `relative`, when the folder has it.
bool cardFile(const std::string& folder, const char* relative, std::string& path) {
  const fs::path p = fs::path(folder) / relative;
  std::error_code ec;
  if (!fs::exists(p, ec)) return false;
  if (!fs::is_regular_file(p, ec)) throw std::runtime_error("--card: " + p.string() + " is not a file");
  path = p.string();
  return true;
}

// The checks start-up would make, made before anything starts, so a bad file stops the run with
// nothing shown and nothing written. `option` says which option brought the file in.
void checkImage(const std::string& option, const std::string& path) {
  try {
    const auto bytes = d3dx::ReadFile("D3DXCreateTextureFromFile", path);
    d3dx::DecodeImageWithMips(bytes.data(), bytes.size(), path);
  } catch (const std::exception& e) {
    throw std::runtime_error(option + ": " + e.what());
  }
}

void checkTune(const std::string& option, const std::string& path) {
  try {
    std::error_code ec;
    if (fs::file_size(path, ec) > audio::kMaxMidiFileBytes && !ec)
      throw std::runtime_error("LoadSegment: the file is larger than a tune can be (" + path + ")");
    audio::ReadStandardMidiFile(d3dx::ReadFile("LoadSegment", path), path, "LoadSegment");
  } catch (const std::exception& e) {
    throw std::runtime_error(option + ": " + e.what());
  }
}

}  // namespace

std::size_t TreeTriangleBudget(int frameHeight) {
  const double k = std::max(1.0, static_cast<double>(frameHeight) / kPictureHeight);
  return std::min<std::size_t>(static_cast<std::size_t>(static_cast<double>(kMaxTreeTriangles) * k * k),
                               d3dx::kMaxModelTriangles);
}

Card DefaultCard(const std::string& appFolder) {
  Card c;
  c.ground = platform::MediaPath(appFolder, "\\tex\\snow.jpg");
  c.flake = platform::MediaPath(appFolder, "\\tex\\snow.png");
  c.model = platform::MediaPath(appFolder, "\\models\\tree.x");
  c.tune = platform::MediaPath(appFolder, "\\music\\main.mid");
  c.greeting = {"С НОВЫМ 2007 ГОДОМ!", kGreetingX};
  c.credits = {{"Автор демки: Morvelan", kCreditX},
               {"А также спасибо Ilkar за идею", kCreditX},
               {"Тексуры подготовил Tovrak", kCreditX},
               {"С Новым 2007 годом!", kCreditX}};
  return c;
}

std::string WriteCardTexts(const Card& card) {
  std::string out;
  auto line = [&out](const TextLine& l) {
    // A line of the picture holds no control character, so neither tab nor line feed.
    for (const std::string* t : {&l.text, &l.written})
      if (const std::string problem = TextLineProblem(*t); !problem.empty())
        throw std::runtime_error("the line " + excerpt(*t) + " " + problem);
    char x[32];
    std::snprintf(x, sizeof x, "%.9g", static_cast<double>(l.x));
    out += std::string(x) + "\t" + l.text;
    // A line wrapped for the picture also carries itself as written, for frames of other widths.
    if (!l.written.empty()) out += "\t" + l.written;
    out += "\n";
  };
  line(card.greeting);
  for (const TextLine& l : card.credits) line(l);
  return out;
}

std::string WriteTreeFit(float height) {
  if (!(height >= 0.0f && height <= kMaxModelHeight))
    throw std::runtime_error("a tree's height of " + std::to_string(height) + " is outside 0.." +
                             std::to_string(kMaxModelHeight));
  // The fewest digits that read back as the same float: 2.385, not 2.38499999.
  char text[32];
  for (int digits = 1; digits <= 9; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(height));
    if (std::strtof(text, nullptr) == height) break;
  }
  return std::string(text) + "\n";
}

float ReadTreeFit(const std::string& text, const std::string& file) {
  const std::string line = !text.empty() && text.back() == '\n' ? text.substr(0, text.size() - 1) : text;
  // A plain decimal number as WriteTreeFit writes it: no space, sign or hexadecimal before it.
  const bool decimal = !line.empty() && line.size() <= 31 && line[0] >= '0' && line[0] <= '9' &&
                       line.find_first_not_of("0123456789.eE+-") == std::string::npos;
  char* after = nullptr;
  const float height = decimal ? std::strtof(line.c_str(), &after) : -1.0f;
  if (!decimal || *after != '\0' || !(height >= 0.0f && height <= kMaxModelHeight))
    throw std::runtime_error(file + " holds no tree height from 0 to " +
                             std::to_string(static_cast<int>(kMaxModelHeight)));
  return height;
}

Card ReadCardTexts(const std::string& text, const std::string& appFolder, const std::string& file) {
  Card card = DefaultCard(appFolder);
  card.credits.clear();
  std::size_t start = 0;
  for (int number = 1; start < text.size(); ++number) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos)
      throw std::runtime_error(file + " line " + std::to_string(number) + " is cut off");
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    const std::size_t tab = line.find('\t');
    char* after = nullptr;
    const std::string x = line.substr(0, tab == std::string::npos ? 0 : tab);
    const float value = std::strtof(x.c_str(), &after);
    if (x.empty() || *after != '\0' || !std::isfinite(value))
      throw std::runtime_error(file + " line " + std::to_string(number) + " starts with no x position");
    const std::string texts = line.substr(tab + 1);
    const std::size_t second = texts.find('\t');
    TextLine l{texts.substr(0, second), value, second == std::string::npos ? "" : texts.substr(second + 1)};
    for (const std::string* t : {&l.text, &l.written})
      if (const std::string problem = TextLineProblem(*t); !problem.empty())
        throw std::runtime_error(file + " line " + std::to_string(number) + " " + problem);
    if (number == 1)
      card.greeting = std::move(l);
    else if (card.credits.size() < kMaxCreditLines)
      card.credits.push_back(std::move(l));
    else
      throw std::runtime_error(file + ": more than " + std::to_string(kMaxCreditLines) + " credit lines");
  }
  if (start == 0) throw std::runtime_error(file + " holds no greeting line");
  return card;
}

std::string TextLineProblem(const std::string& text) {
  std::size_t column = 1;
  for (std::size_t i = 0; i < text.size(); ++column) {
    const d3dx::Utf8Char c = d3dx::NextUtf8(text, i);
    if (c.length == 0) return "is not valid UTF-8 (byte " + std::to_string(i + 1) + ")";
    if (c.cp < 0x20 || (c.cp >= 0x7F && c.cp <= 0x9F))
      return "has the control character " + codePoint(c.cp) + " at character " + std::to_string(column);
    i += c.length;
  }
  return {};
}

GreetingText ReadGreetingText(const std::string& file) {
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(file, ec);
  if (!ec && size > kMaxGreetingTextBytes)
    throw std::runtime_error(file + ": a greeting.txt holds a few lines of text; this one has " +
                             std::to_string(size) + " bytes");
  std::vector<std::uint8_t> bytes;
  try {
    bytes = d3dx::ReadFile("greeting.txt", file);
  } catch (const std::exception& e) {
    throw std::runtime_error(e.what());
  }
  std::string text(bytes.begin(), bytes.end());
  // Windows editors start UTF-8 files with a byte-order mark; it is no part of the greeting.
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);

  GreetingText t;
  std::size_t start = 0;
  for (int number = 1; start < text.size() || number == 1; ++number) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (const std::string problem = TextLineProblem(line); !problem.empty())
      throw std::runtime_error(file + " line " + std::to_string(number) + " " + problem);
    if (number == 1) {
      t.greeting = line;
      continue;
    }
    // A line of spaces would only be an empty step; it counts as empty.
    if (line.find_first_not_of(' ') == std::string::npos) continue;
    if (t.credits.size() == kMaxCreditLines)
      throw std::runtime_error(file + " line " + std::to_string(number) + ": more than " +
                               std::to_string(kMaxCreditLines) + " credit lines");
    t.credits.push_back(line);
    t.creditLineNumbers.push_back(number);
  }
  return t;
}

namespace {

Card resolveForPicture(const Options& o, const std::string& appFolder, std::ostream& warnings) {
  Card card = DefaultCard(appFolder);
  // The origin of each text line that is not the built-in one; an empty `where` marks a built-in line.
  Origin greetingFrom;
  std::vector<Origin> creditFrom(card.credits.size());
  std::string groundFrom, flakeFrom, tuneFrom;

  if (!o.card.empty()) {
    std::error_code ec;
    if (!fs::exists(o.card, ec)) throw CommandLineError("--card: there is no folder " + o.card);
    if (!fs::is_directory(o.card, ec)) throw CommandLineError("--card: " + o.card + " is not a folder");
    if (cardFile(o.card, "tex/snow.jpg", card.ground)) groundFrom = "--card";
    if (cardFile(o.card, "tex/snow.png", card.flake)) flakeFrom = "--card";
    for (const char* tree : kCardTreeFiles)
      if (cardFile(o.card, tree, card.model)) {
        card.ownModel = true;
        break;
      }
    if (cardFile(o.card, "music/main.mid", card.tune)) tuneFrom = "--card";
    std::string textFile;
    if (cardFile(o.card, "greeting.txt", textFile)) {
      const GreetingText t = ReadGreetingText(textFile);
      card.greeting = {t.greeting, kGreetingX};
      greetingFrom = {textFile + " line 1", false};
      card.credits.clear();
      creditFrom.clear();
      for (std::size_t i = 0; i < t.credits.size(); ++i) {
        card.credits.push_back({t.credits[i], kCreditX});
        creditFrom.push_back({textFile + " line " + std::to_string(t.creditLineNumbers[i]), false});
      }
    }
  }

  if (!o.ground.empty()) {
    requireFile("--ground", o.ground);
    card.ground = o.ground;
    groundFrom = "--ground";
  }
  if (!o.model.empty()) {
    requireFile("--model", o.model);
    card.model = o.model;
    card.ownModel = true;
  }
  if (o.modelHeight > 0) {
    if (!card.ownModel) throw CommandLineError("--model-height sets the height of a tree given with --model or a card");
    card.modelHeight = static_cast<float>(o.modelHeight);
  }
  if (!o.tune.empty()) {
    requireFile("--tune", o.tune);
    card.tune = o.tune;
    tuneFrom = "--tune";
  }
  if (o.greeting) {
    card.greeting = {*o.greeting, kGreetingX};
    greetingFrom = {"--greeting", true};
  }
  if (o.noCredits || !o.credits.empty()) {
    if (o.credits.size() > kMaxCreditLines)
      throw CommandLineError("--credit: at most " + std::to_string(kMaxCreditLines) + " credit lines, not " +
                             std::to_string(o.credits.size()));
    card.credits.clear();
    creditFrom.clear();
    for (std::size_t i = 0; i < o.credits.size(); ++i) {
      card.credits.push_back({o.credits[i], kCreditX});
      creditFrom.push_back({"--credit " + std::to_string(i + 1), true});
    }
  }

  if (!groundFrom.empty()) checkImage(groundFrom, card.ground);
  if (!flakeFrom.empty()) checkImage(flakeFrom, card.flake);
  if (!tuneFrom.empty()) checkTune(tuneFrom, card.tune);

  // Custom lines are laid out as the frame will draw them; the built-in ones keep their places.
  const bool customText =
      !greetingFrom.where.empty() || std::any_of(creditFrom.begin(), creditFrom.end(),
                                                 [](const Origin& from) { return !from.where.empty(); });
  if (!customText) return card;
  d3dx::TextMeasure measure(render::TextFontSource().hFont());
  const render::Framing picture;
  auto place = [&](TextLine& line, float usualX, float y, const Origin& from) {
    if (from.where.empty()) return;
    if (const std::string problem = TextLineProblem(line.text); !problem.empty()) fail(from, " " + problem);
    const std::size_t known = measure.Missing().size();
    measure.Width(line.text);
    for (std::size_t i = known; i < measure.Missing().size(); ++i)
      warnings << "warning: no installed font has the character " << codePoint(measure.Missing()[i]) << " ("
               << from.where << "); it is drawn as a box\n";
    const PlacedLine placed = PlaceLineInFrame(measure, line.text, usualX, y, picture);
    if (!placed.problem.empty()) fail(from, ": " + placed.problem);
    if (placed.line.text != line.text) line.written = line.text;
    line.text = placed.line.text;
    line.x = placed.line.x;
  };
  place(card.greeting, kGreetingX, kGreetingY, greetingFrom);
  for (std::size_t i = 0; i < card.credits.size(); ++i) place(card.credits[i], kCreditX, kCreditY, creditFrom[i]);
  return card;
}

}  // namespace

Card ResolveCard(const Options& o, const std::string& appFolder, std::ostream& warnings) {
  Card card = resolveForPicture(o, appFolder, warnings);
  // A frame of another shape lays the lines out anew: one that cannot fit it is refused now.
  if (o.Sized()) PlaceCardText(card, render::FrameFor(o.width, o.height));
  return card;
}

PlacedLine PlaceLineInFrame(d3dx::TextMeasure& measure, const std::string& text, float usualX, float usualY,
                            const render::Framing& f) {
  PlacedLine out;
  out.line.text = text;
  const int maxWidth = render::MaxLineWidth(f);
  const std::string limit = f.IsPicture() ? std::to_string(maxWidth) + " pixels, the picture's width"
                                          : std::to_string(maxWidth) + " pixels in a " + std::to_string(f.width) +
                                                "x" + std::to_string(f.height) + " frame";
  int width = measure.Width(text);
  if (width > maxWidth) {
    // Too long for one line: broken where Unicode allows, onto lines stacked from the same place.
    const d3dx::TextMeasure::Wrapped wrapped = measure.Wrap(text, maxWidth, kMaxWrappedLines);
    if (wrapped.lines > kMaxWrappedLines) {
      out.problem = "the line " + excerpt(text) + " is " + std::to_string(width) + " pixels wide and would take " +
                    std::to_string(wrapped.lines) + " lines of at most " + limit + "; a line may take at most " +
                    std::to_string(kMaxWrappedLines);
      return out;
    }
    if (!wrapped.fits) {
      out.problem = "the line " + excerpt(text) + " holds a word " + std::to_string(wrapped.width) +
                    " pixels wide; a line may be at most " + limit;
      return out;
    }
    out.line.text = wrapped.text;
    width = wrapped.width;
  }
  const int height = measure.Height(out.line.text);
  const render::LinePlace place = render::PlaceLine(f, usualX, usualY, width, height);
  if (!place.fits) {
    out.problem = "the line " + excerpt(out.line.text) + " is " + std::to_string(height) +
                  " pixels tall; drawn from y = " + std::to_string(static_cast<int>(place.y)) +
                  " it must end within " + std::to_string(f.height - f.margin) + " pixels, " +
                  (f.IsPicture() ? "the picture's height" : "the frame's height less its margin");
    return out;
  }
  out.line.x = place.x;
  out.y = place.y;
  return out;
}

FrameText PlaceCardText(const Card& card, const render::Framing& f) {
  FrameText out;
  if (f.IsPicture()) {
    out.greeting = card.greeting;
    out.credits = card.credits;
    return out;
  }
  d3dx::TextMeasure measure(render::TextFontSource(f.TextPoints()).hFont());
  const std::string frame = std::to_string(f.width) + "x" + std::to_string(f.height);
  auto place = [&](const TextLine& line, float usualX, float usualY, float& y) {
    TextLine placed;
    placed.written = line.Written();
    if (placed.written.empty()) {
      y = usualY * static_cast<float>(f.height) / render::kPictureHeight;
      return placed;
    }
    PlacedLine p = PlaceLineInFrame(measure, placed.written, usualX, usualY, f);
    if (!p.problem.empty()) throw CommandLineError("--size " + frame + ": " + p.problem);
    placed.text = std::move(p.line.text);
    placed.x = p.line.x;
    y = p.y;
    return placed;
  };
  out.greeting = place(card.greeting, kGreetingX, kGreetingY, out.greetingY);
  for (const TextLine& line : card.credits) out.credits.push_back(place(line, kCreditX, kCreditY, out.creditY));
  if (card.credits.empty()) out.creditY = kCreditY * static_cast<float>(f.height) / render::kPictureHeight;
  return out;
}

}  // namespace app
