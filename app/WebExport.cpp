#include "app/WebExport.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <stdexcept>

#include "app/Bundles.h"
#include "app/Capture.h"
#include "app/WebHead.h"
#include "app/WebMedia.h"
#include "app/WebSingleFile.h"
#include "music/modMusic.h"
#include "platform/base/Error.h"
#include "platform/d3dx/Font.h"
#include "platform/d3dx/Prepared.h"
#include "platform/d3dx/Simplify.h"
#include "platform/d3dx/Texture.h"
#include "platform/d3dx/XFile.h"
#include "platform/files/AtomicOutput.h"
#include "platform/files/FileName.h"
#include "platform/video/Codecs.h"
#include "platform/window/Window.h"
#include "render/modGen.h"

namespace app {

namespace {

namespace fs = std::filesystem;

constexpr const char* kFormat = "winter-greeting-web 1";
// The runtime's own files, as the web build leaves them beside the program.
constexpr const char* kRuntimeFiles[] = {"index.html", "page.css", "page.js",    "link.js",     "text.js",
                                         "words.js",   "maker.js", "runtime.js", "runtime.wasm"};
// The page's scripts, in the order index.html runs them.
constexpr const char* kPageScripts[] = {"link.js", "text.js", "words.js", "maker.js", "page.js"};
// Where the page's runtime finds the greeting and the prepared faces in its file system.
constexpr const char* kRuntimeAppFolder = "/greeting";
constexpr const char* kRuntimeFontFolder = "/fonts";

std::string jsonString(const std::string& s) {
  std::string out = "\"";
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", u);
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// A path relative to the page, as a URL: every byte but the unreserved ones and '/' percent-encoded.
std::string urlOf(const std::string& relative) {
  std::string out;
  for (const char c : relative) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
      out += c;
    } else {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", u);
      out += buf;
    }
  }
  return out;
}

void writeFile(const fs::path& path, const void* data, std::size_t size) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  if (!out)
    throw platform::Error("ExportWebPage", std::string("cannot create the file: ") + std::strerror(errno),
                          path.string());
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  if (!out) throw platform::Error("ExportWebPage", "cannot write the file", path.string());
}

void writeFile(const fs::path& path, const std::string& text) {
  writeFile(path, text.data(), text.size());
}
void writeFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  writeFile(path, bytes.data(), bytes.size());
}

// The path below the folder a URL of urlOf names: its percent-escapes decoded.
std::string relativeOf(const std::string& url) {
  std::string out;
  for (std::size_t i = 0; i < url.size(); ++i) {
    if (url[i] == '%' && i + 2 < url.size()) {
      out += static_cast<char>(std::stoi(url.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += url[i];
    }
  }
  return out;
}

std::string readText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::uint8_t> readBytes(const fs::path& path) {
  const std::string text = readText(path);
  return {text.begin(), text.end()};
}

bool isEarlierExport(const fs::path& dir) {
  return readText(dir / kWebManifest).find(jsonString(kFormat)) != std::string::npos;
}

using FileList = std::vector<std::pair<std::string, std::string>>;  // URL, path in the runtime's file system

std::string filesJson(const FileList& files, const std::string& indent) {
  std::string out = "[";
  for (std::size_t i = 0; i < files.size(); ++i)
    out += "\n" + indent + "  [" + jsonString(files[i].first) + ", " + jsonString(files[i].second) + "]" +
           (i + 1 < files.size() ? "," : "");
  return out + (files.empty() ? "]" : "\n" + indent + "]");
}

std::string secondsJson(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

// One medium a link may choose: the files the page fetches for it, and for a tune its recording.
struct Choice {
  std::string name, label;
  FileList files;
  std::string recording;  // a tune's Ogg Opus
  double seconds = 0;     // and its length
};

struct Manifest {
  FileList files;  // what every choice shares
  struct Face {
    int pixels;
    std::string url, path;
  };
  std::vector<Face> faces;
  std::vector<Choice> tunes, grounds, trees;  // the exported card's own first
  std::string lang, preview;
  // The URLs of the files kWebStartPack holds, in its order (none in a page that is one file).
  std::vector<std::string> packed;

  static std::string choicesJson(const std::vector<Choice>& kind) {
    std::string out = "[";
    for (std::size_t i = 0; i < kind.size(); ++i) {
      const Choice& c = kind[i];
      out += "\n      {\"name\": " + jsonString(c.name) + ", \"label\": " + jsonString(c.label) +
             ", \"files\": " + filesJson(c.files, "       ");
      if (!c.recording.empty())
        out += ", \"recording\": " + jsonString(c.recording) + ", \"seconds\": " + secondsJson(c.seconds);
      out += std::string("}") + (i + 1 < kind.size() ? "," : "");
    }
    return out + "\n    ]";
  }

  // Which face a canvas draws its text with, as WebCanvasFraming gives it, for the page to fetch that
  // face while the runtime still loads: the picture's size apart, then by the canvas's height, each
  // entry [the tallest even height drawing at that size, the size].
  static std::string faceForJson() {
    const render::Framing picture = WebCanvasFraming(render::kPictureWidth, render::kPictureHeight);
    std::string out = "{\"picture\": [" + std::to_string(picture.width) + ", " + std::to_string(picture.height) +
                      ", " + std::to_string(picture.textPixels) + "], \"heights\": [";
    int last = 0;
    for (int h = render::kMinFrameSide; h <= kWebMaxCanvasHeight; h += 2) {
      const int px = WebCanvasFraming(render::kMinFrameSide, h).textPixels;
      const int next = h + 2 <= kWebMaxCanvasHeight ? WebCanvasFraming(render::kMinFrameSide, h + 2).textPixels : 0;
      if (px == next) continue;
      out += std::string(last++ ? ", " : "") + "[" + std::to_string(h) + ", " + std::to_string(px) + "]";
    }
    return out + "]}";
  }

  std::string text(const std::string& title) const {
    std::string out = "{\n  \"format\": " + jsonString(kFormat) + ",\n  \"title\": " + jsonString(title) +
                      ",\n  \"lang\": " + jsonString(lang) + ",\n  \"preview\": " + jsonString(preview) +
                      ",\n  \"files\": " + filesJson(files, "  ") + ",\n  \"faces\": [\n";
    for (std::size_t i = 0; i < faces.size(); ++i)
      out += "    [" + std::to_string(faces[i].pixels) + ", " + jsonString(faces[i].url) + ", " +
             jsonString(faces[i].path) + "]" + (i + 1 < faces.size() ? ",\n" : "\n");
    out += "  ],\n  \"faceFor\": " + faceForJson();
    // The exported card's own tune, as the page has always played it.
    const Choice& tune = tunes.front();
    if (!packed.empty()) {
      out += ",\n  \"pack\": {\"url\": " + jsonString(kWebStartPack) + ", \"files\": [";
      for (std::size_t i = 0; i < packed.size(); ++i) out += (i ? ", " : "") + jsonString(packed[i]);
      out += "]}";
    }
    out += ",\n  \"tunes\": [{\"midi\": " + jsonString(tune.files.front().second) +
           ", \"url\": " + jsonString(tune.recording) + ", \"seconds\": " + secondsJson(tune.seconds) +
           "}],\n";
    out += "  \"choices\": {\n    \"tune\": " + choicesJson(tunes) +
           ",\n    \"ground\": " + choicesJson(grounds) + ",\n    \"tree\": " + choicesJson(trees) +
           "\n  }\n}\n";
    return out;
  }
};

// Where a texture the model names lies below the model's folder, its components joined by '/' as
// the page's file system spells them; empty when the name names no file there or leaves the folder.
std::string modelTextureName(const std::string& stored) {
  std::string name, part;
  for (const char c : stored + '/') {
    if (c != '/' && c != '\\') {
      part += c;
      continue;
    }
    if (part == "..") return {};
    if (!part.empty() && part != ".") name += (name.empty() ? "" : "/") + part;
    part.clear();
  }
  return name;
}

// The folder being written and the manifest that lists what the runtime loads from it.
struct Page {
  fs::path out;
  Manifest manifest;
  // A file the runtime loads: written at `relative` below the folder, and listed in `list` with the
  // path the runtime's file system gives it.
  template <typename Bytes>
  void add(FileList& list, const std::string& relative, const std::string& runtimePath, const Bytes& bytes) {
    writeFile(out / relative, bytes);
    list.emplace_back(urlOf(relative), runtimePath);
  }
  // A texture file as D3DXCreateTextureFromFile reads it, at `relative`: the JPEG itself where the
  // browser decodes it as the desktop does, else its texels (the runtime makes the smaller levels
  // from them, as the desktop does), compressed. Either way it is decoded here first, so that a file
  // the desktop cannot read fails the same way.
  void addTexture(FileList& list, const std::string& relative, const std::string& runtimePath,
                  const std::string& path) {
    addTexture(list, relative, runtimePath, d3dx::FindAndReadFile("D3DXCreateTextureFromFile", path));
  }
  void addTexture(FileList& list, const std::string& relative, const std::string& runtimePath,
                  const d3dx::FoundBytes& file) {
    d3dx::DecodedImage image = d3dx::DecodeImage(file.bytes.data(), file.bytes.size(), file.path);
    if (BrowserDecodesAlike(file.bytes))
      add(list, relative, runtimePath, file.bytes);
    else
      add(list, relative + ".texels", runtimePath,
          Gzip(d3dx::WritePreparedTexture({std::move(image.level)}), file.path));
  }
};

const std::string kApp = kRuntimeAppFolder;
// The tune's Opus bit rate: the lowest at which the coding noise of this music lies at least 15 dB
// under it in every band up to 15.5 kHz (bench/opus_quality_bench.cpp; the table is in the README).
constexpr int kTuneBitRate = 112000;
constexpr const char* kPreviewFile = "preview.jpg";
constexpr const char* kFaviconFile = "icon-32.png";
constexpr const char* kTouchIconFile = "apple-touch-icon.png";
constexpr const char* kPlainTitle = "A New Year greeting";
constexpr const char* kDescription =
    "A New Year greeting: a live 3D winter scene with its tune. Open it to play.";
// What one file may come to: what messengers and mail carry.
constexpr std::uintmax_t kSingleFileMaxBytes = 8u * 1000 * 1000;

void requireRuntime(const std::string& runtimeDir) {
  for (const char* f : kRuntimeFiles)
    if (!fs::is_regular_file(fs::path(runtimeDir) / f))
      throw std::runtime_error("the web runtime is not built: " + (fs::path(runtimeDir) / f).string() +
                               " is missing. It is built with emscripten when that is installed "
                               "(scripts/install-deps.sh --web); then build again");
}

// Refuses a symbolic link, and an existing entry that is not what `isExport` allows replacing; creates
// the parent folder, which must take new entries.
void checkPlace(const std::string& given, const fs::path& target, bool folder) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(target, ec);
  if (fs::is_symlink(status)) throw std::runtime_error(given + " is a symbolic link: name the target itself");
  if (fs::exists(status)) {
    if (folder && !fs::is_directory(status))
      throw std::runtime_error("cannot export into " + given + ": it is a file");
    if (!folder && !fs::is_regular_file(status))
      throw std::runtime_error("cannot export to " + given + ": it is a folder");
    if (folder && !fs::is_empty(target, ec) && !isEarlierExport(target))
      throw std::runtime_error(
          "cannot export into " + given +
          ": the folder is not empty and holds no earlier export of the greeting. Name a new "
          "or empty folder, or an earlier export (it is then replaced whole)");
    if (!folder && readText(target).find(kFormat) == std::string::npos)
      throw std::runtime_error("cannot export to " + given +
                               ": the file is not an earlier export of the greeting. Name a new file, or an "
                               "earlier single-file export (it is then replaced)");
  }
  const fs::path parent = target.parent_path();
  fs::create_directories(parent, ec);
  if (ec) throw std::runtime_error("cannot create the folder " + parent.string() + ": " + ec.message());
  if (access(parent.c_str(), W_OK) != 0)
    throw std::runtime_error("cannot write into " + parent.string() + ": " + std::strerror(errno));
}

// The folder `dir` names, absolute. It must be new, empty or an earlier export, and its parent is
// created and must take new entries.
fs::path checkTarget(const std::string& dir) {
  const fs::path target = fs::absolute(fs::path(dir)).lexically_normal();
  const fs::path folder = target.filename().empty() ? target.parent_path() : target;
  if (folder.filename().empty())
    throw std::runtime_error("--export-web needs a folder to write into, not " + dir);
  checkPlace(dir, folder, true);
  return folder;
}

// The exported card's own medium first: the choice that names the same file, or else a choice of its
// own named "card" (or "card-2", ... where a bundle took the name).
std::vector<MediaChoice> cardFirst(std::vector<MediaChoice> kind, const std::string& path,
                                   const std::string& label) {
  std::error_code ec;
  const auto same = std::find_if(kind.begin(), kind.end(),
                                 [&](const MediaChoice& c) { return fs::equivalent(c.path, path, ec); });
  if (same != kind.end()) {
    std::rotate(kind.begin(), same, same + 1);
    return kind;
  }
  std::string name = "card";
  for (int n = 2; FindChoice(kind, name); ++n) name = "card-" + std::to_string(n);
  kind.insert(kind.begin(), {name, label, path});
  return kind;
}

std::string choiceFolder(const char* kind, const MediaChoice& c) {
  return std::string("greeting/choices/") + kind + "/" + c.name + "/";
}

// Each ground as the texture the runtime reads at the built-in path.
void addGrounds(Page& page, const std::vector<MediaChoice>& grounds) {
  for (const MediaChoice& g : grounds) {
    Choice& c = page.manifest.grounds.emplace_back(Choice{g.name, g.label, {}, {}, 0});
    page.addTexture(c.files, choiceFolder("ground", g) + "snow.jpg", kApp + "/tex/snow.jpg", g.path);
  }
}

// As on the desktop, a model that cannot be read leaves the scene without the tree, and a texture
// that cannot be read leaves its subset untextured. The textures lie beside the model. `fitHeight`:
// how the runtime draws it (WriteTreeFit), which every tree choice says, so that choosing another
// tree in the page never leaves the last one's word behind.
void addTree(Page& page, const MediaChoice& tree, float fitHeight, std::ostream& progress) {
  Choice& c = page.manifest.trees.emplace_back(Choice{tree.name, tree.label, {}, {}, 0});
  const std::string out = choiceFolder("tree", tree);
  page.add(c.files, out + "tree-fit.txt", kApp + "/" + kWebTreeFit, WriteTreeFit(fitHeight));
  try {
    const d3dx::FoundBytes file = d3dx::FindAndReadFile("D3DXLoadMeshFromX", tree.path);
    d3dx::XModel model = d3dx::ParseModel(file.bytes.data(), file.bytes.size(), file.path);
    // The page draws what the desktop draws: a chosen tree within the greeting's triangle budget.
    const std::size_t had = model.attributes.size();
    if (fitHeight > 0 && d3dx::SimplifyModel(model, TreeTriangleBudget(kPictureHeight)) < had)
      progress << "  the tree \"" << tree.name << "\": its " << had << " triangles are drawn simplified to "
               << model.attributes.size() << "\n";
    page.add(c.files, out + "tree.x.model", kApp + "/models/tree.x",
             Gzip(d3dx::WritePreparedModel(model), file.path));
    const std::string folder = tree.path.substr(0, tree.path.find_last_of('/') + 1);
    std::vector<std::string> done;
    for (const d3dx::XMaterial& m : model.materials) {
      if (m.textureFilename.empty()) continue;
      const std::string texture = modelTextureName(m.textureFilename);
      if (texture.empty()) {
        progress << "  the tree \"" << tree.name << "\": its texture \"" << m.textureFilename
                 << "\" is left out: the page carries only textures in the model's folder\n";
        continue;
      }
      if (std::find(done.begin(), done.end(), texture) != done.end()) continue;
      done.push_back(texture);
      try {
        // An image the model carries inside itself goes as a file of the name the model gives it.
        if (m.textureData.empty())
          page.addTexture(c.files, out + texture, kApp + "/models/" + texture,
                          platform::MediaPath(folder, m.textureFilename));
        else
          page.addTexture(c.files, out + texture, kApp + "/models/" + texture,
                          d3dx::FoundBytes{m.textureFilename, m.textureData});
      } catch (const std::exception& e) {
        progress << "  the tree \"" << tree.name << "\": its texture is left out: " << e.what() << "\n";
      }
    }
  } catch (const std::exception& e) {
    progress << "  the tree \"" << tree.name << "\" shows no tree: " << e.what() << "\n";
  }
}

// The glyphs of the card's texts at every prepared size, from the face the frame draws with and its
// fallback faces, each text ready to be wrapped anew for a frame of its own width (PrepareFace's
// pieces), and the texts themselves. The manifest lists the faces apart from the files: the page
// fetches only the one its canvas draws with.
void addTexts(Page& page, const Card& card) {
  std::vector<std::string> texts{card.greeting.Written()};
  for (const TextLine& line : card.credits) texts.push_back(line.Written());
  // The lines as resolved for the picture: a wrapped one is drawn as its pieces already are.
  texts.push_back(card.greeting.text);
  for (const TextLine& line : card.credits) texts.push_back(line.text);
  for (const int px : kWebTextPixels) {
    const d3dx::GdiFont font = render::TextFontSource(static_cast<float>(px) * 0.75f).hFont();
    const std::string name = d3dx::PreparedFaceName(font);
    writeFile(page.out / "greeting/fonts" / name,
              Gzip(d3dx::WritePreparedFace(d3dx::PrepareFace(font, texts, true)), name));
    page.manifest.faces.push_back(
        {px, urlOf("greeting/fonts/" + name), std::string(kRuntimeFontFolder) + "/" + name});
  }
  page.add(page.manifest.files, "greeting/card.txt", kApp + "/" + kWebCardTexts, WriteCardTexts(card));
}

// A tune as MIDI, for the page's own synthesizer, and rendered through the synthesizer and reverb
// the video uses, as Ogg Opus at kTuneBitRate.
void addTune(Page& page, const MediaChoice& t, const video::Codecs& codecs, std::ostream& progress) {
  music::modMusic music(t.path, audio::OutputMode::Offline);
  music.InitMusic(nullptr);
  progress << "Rendering the tune \"" << t.name << "\" ("
           << static_cast<int>(music.MusicSegment->LengthSeconds() + 0.5)
           << " s) through the synthesizer and its reverb\n"
           << std::flush;
  const std::vector<float> sound = music.MusicPerformance->RenderToEnd(3600);
  Choice& c = page.manifest.tunes.emplace_back(Choice{t.name, t.label, {}, {}, 0});
  const std::string out = choiceFolder("tune", t);
  page.add(c.files, out + "main.mid", kApp + "/music/main.mid", music.MusicSegment->Bytes());
  const int rate = music.MusicPerformance->SampleRate();
  codecs.writeOggOpus((page.out / out / "main.ogg").string(), sound, rate, kTuneBitRate);
  c.recording = urlOf(out + "main.ogg");
  c.seconds = static_cast<double>(sound.size() / 2) / rate;
  music.Shutdown();
}

// The preview image and the icons, from the scene as the card shows it: the still a --poster shows,
// at the preview's size, and again in a square frame scaled down for the icons.
void addPreviews(Page& page, const Card& card, const std::string& appPath, std::ostream& progress) {
  progress << "Drawing the preview image and the icons\n" << std::flush;
  const std::vector<std::uint8_t> still = RenderPosterStill(card, appPath, kPreviewWidth, kPreviewHeight);
  int quality = 0;
  writeFile(page.out / kPreviewFile,
            JpegWithin(still, kPreviewWidth, kPreviewHeight, kPreviewMaxBytes, &quality));
  const std::vector<std::uint8_t> square = RenderPosterStill(card, appPath, kIconFrameSide, kIconFrameSide);
  for (const auto& [file, side] :
       {std::pair{kFaviconFile, kFaviconSide}, std::pair{kTouchIconFile, kTouchIconSide}})
    writeFile(
        page.out / file,
        d3dx::EncodePng(file, ScaleDown(square, kIconFrameSide, kIconFrameSide, side, side), side, side));
  page.manifest.preview = kPreviewFile;
}

// The page's <head>: the tags previews read, and the icons. Relative URLs unless the page's address
// is known, which previews need absolute.
std::string headOf(const Card& card, const std::string& pageUrl, bool oneFile, const fs::path& out) {
  PageHead head;
  head.title = card.greeting.text.empty() ? kPlainTitle : card.greeting.text;
  head.description = kDescription;
  head.pageUrl = pageUrl;
  const auto dataUrl = [&](const char* file, const char* type) {
    const std::string bytes = readText(out / file);
    return std::string("data:") + type + ";base64," +
           Base64(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  };
  // One file has no image beside it to show, and a data: URL is no image previews fetch: it goes
  // without (a small card).
  if (!oneFile) head.image = UrlBeside(pageUrl, kPreviewFile);
  head.favicon = oneFile ? dataUrl(kFaviconFile, "image/png") : kFaviconFile;
  head.touchIcon = oneFile ? dataUrl(kTouchIconFile, "image/png") : kTouchIconFile;
  return HeadTags(head);
}

// index.html with its language, title and head filled in.
std::string indexOf(const std::string& html0, const Card& card, const std::string& lang,
                    const std::string& head, const std::string& runtimeScript = {}) {
  std::string html = html0;
  const auto replace = [&](const std::string& mark, const std::string& with) {
    for (std::size_t at = html.find(mark); at != std::string::npos; at = html.find(mark, at + with.size()))
      html.replace(at, mark.size(), with);
  };
  const std::string title =
      card.greeting.text.empty() ? kPlainTitle : card.greeting.text + " \u2014 " + kPlainTitle;
  replace("%GREETING%", HtmlEscape(title));
  replace("<html lang=\"en\">", "<html lang=\"" + HtmlEscape(lang) + "\">");
  // The placeholder icon gives way to the greeting's own.
  replace("<link rel=\"icon\" href=\"data:,\">\n", "");
  replace("<!--%HEAD%-->", head + "<meta name=\"generator\" content=\"" + kFormat + "\">");
  // The page runs the runtime's script from its compressed copy as an inline script, which the
  // policy allows by its hash.
  if (!runtimeScript.empty())
    replace("script-src 'self' 'wasm-unsafe-eval'", "script-src 'self' " + CspHashSource(runtimeScript) + " 'wasm-unsafe-eval'");
  return html;
}

// The files the first frame of the page's own card needs: the shared ones and those of each kind's
// first choice.
std::vector<std::string> startUrls(const Manifest& m) {
  std::vector<std::string> urls;
  for (const auto& f : m.files) urls.push_back(f.first);
  for (const auto* kind : {&m.tunes, &m.grounds, &m.trees})
    if (!kind->empty())
      for (const auto& f : kind->front().files) urls.push_back(f.first);
  return urls;
}

// The start-up files in one (kWebStartPack: "WGPACK01", the file count, then for each file its URL's
// length, the URL, its size and its bytes as they lie in the folder; counts little-endian u32). On a
// slow link each request waits out the latency, and a browser asks a server at most six at a time:
// one pack pays it once and leaves the six to the page, its scripts and the runtime. The files stay
// in the folder too, for a link or the maker choosing them again.
void addStartPack(Page& page) {
  std::vector<std::uint8_t> pack{'W', 'G', 'P', 'A', 'C', 'K', '0', '1'};
  const auto u32 = [&pack](std::size_t v) {
    for (int i = 0; i < 4; ++i) pack.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  const std::vector<std::string> urls = startUrls(page.manifest);
  u32(urls.size());
  for (const std::string& url : urls) {
    const std::vector<std::uint8_t> bytes = readBytes(page.out / relativeOf(url));
    u32(url.size());
    pack.insert(pack.end(), url.begin(), url.end());
    u32(bytes.size());
    pack.insert(pack.end(), bytes.begin(), bytes.end());
  }
  writeFile(page.out / kWebStartPack, pack.data(), pack.size());
  page.manifest.packed = urls;
}

// Tags that have the browser fetch, while it still reads the page, what the first frame of the
// page's own card needs: the runtime, the manifest and the card's files, which the page's script
// would otherwise ask for only once it has run and read the manifest.
std::string preloadTags(const Manifest& m) {
  std::string out;
  std::vector<std::string> urls{"page.js", "runtime.js", "runtime.wasm", kWebManifest};
  // The start-up files in their pack, or each on its own where the page has none.
  if (m.packed.empty()) {
    const std::vector<std::string> start = startUrls(m);
    urls.insert(urls.end(), start.begin(), start.end());
  } else {
    urls.push_back(kWebStartPack);
  }
  for (const std::string& url : urls)
    out += "<link rel=\"preload\" href=\"" + HtmlEscape(url) + "\" as=\"fetch\" crossorigin>\n";
  return out;
}

// The page's scripts as one, in their order, for one request instead of five. Each of them is strict
// code, so the whole is too; their own "use strict" lines are then plain statements.
std::string joinedPageScripts(const std::string& runtimeDir) {
  std::string out = "'use strict';\n";
  for (const char* script : kPageScripts) {
    std::string text = readText(fs::path(runtimeDir) / script);
    if (!text.empty() && text.back() != '\n') text += '\n';
    out += "// " + std::string(script) + "\n" + text;
  }
  return out;
}

// The page's one inline script: it fetches the joined scripts, which are sent gzip-compressed like the
// runtime (a third of their size), inflates them and runs them as an inline script; the page's
// policy allows both by their hashes. Where that cannot be done (a page opened from the file system,
// which fetches nothing, or a browser without DecompressionStream) it runs them from their plain copy,
// kPlainPageScript, which then says what is wrong in the visitor's language.
constexpr const char* kPlainPageScript = "page.plain.js";
constexpr const char* kPageLoader =
    "(async () => {\n"
    "  if (location.protocol === 'file:') throw new Error('no fetch from files');\n"
    "  const r = await fetch('page.js');\n"
    "  if (!r.ok) throw new Error('page.js: ' + r.status);\n"
    "  const code = new Blob([await r.arrayBuffer()]).stream().pipeThrough(new DecompressionStream('gzip'));\n"
    "  const s = document.createElement('script');\n"
    "  s.textContent = await new Response(code).text();\n"
    "  document.body.appendChild(s);\n"
    "})().catch(() => {\n"
    "  const s = document.createElement('script');\n"
    "  s.src = 'page.plain.js';\n"
    "  document.body.appendChild(s);\n"
    "});\n";

// index.html running the joined scripts through kPageLoader, its policy allowing both.
std::string withJoinedScripts(std::string html, const std::string& joined) {
  std::string tags;
  for (const char* script : kPageScripts) tags += std::string("<script src=\"") + script + "\"></script>\n";
  const std::size_t at = html.find(tags);
  if (at == std::string::npos) throw std::runtime_error("the page's index.html does not run its scripts in order");
  html.replace(at, tags.size(), std::string("<script>") + kPageLoader + "</script>\n");
  const std::string policy = "script-src 'self' ";
  const std::size_t p = html.find(policy);
  if (p == std::string::npos) throw std::runtime_error("the page's index.html has no script policy");
  html.insert(p + policy.size(), CspHashSource(kPageLoader) + " " + CspHashSource(joined) + " ");
  return html;
}

// The built page, its script and runtime, and the manifest last.
void addRuntime(Page& page, const Card& card, const std::string& runtimeDir, const std::string& pageUrl) {
  const fs::path from(runtimeDir);
  const std::string joined = joinedPageScripts(runtimeDir);
  writeFile(page.out / "index.html",
            withJoinedScripts(indexOf(readText(from / "index.html"), card, page.manifest.lang,
                                      headOf(card, pageUrl, false, page.out) + preloadTags(page.manifest),
                                      readText(from / "runtime.js")),
                              joined));
  writeFile(page.out / "page.js", Gzip(std::vector<std::uint8_t>(joined.begin(), joined.end()), "page.js"));
  writeFile(page.out / kPlainPageScript, joined);
  fs::copy_file(from / "page.css", page.out / "page.css", fs::copy_options::overwrite_existing);
  for (const char* f : {"runtime.js", "runtime.wasm"}) writeFile(page.out / f, Gzip(readBytes(from / f), f));
  const std::string title = card.greeting.text.empty() ? "Winter Greeting" : card.greeting.text;
  writeFile(page.out / kWebManifest, page.manifest.text(title));
}

std::string sizeText(std::uintmax_t bytes) {
  char size[32];
  std::snprintf(size, sizeof size, "%.1f MB", static_cast<double>(bytes) / 1e6);
  return size;
}

void reportWritten(const std::string& dir, const fs::path& folder, std::ostream& progress) {
  std::uintmax_t bytes = 0, files = 0;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file()) {
      bytes += e.file_size();
      ++files;
    }
  progress << "Wrote the web page to " << dir << " (" << files << " files, " << sizeText(bytes) << ").\n"
           << "Serve the folder and open it, for example: python3 -m http.server --directory " << dir
           << " 8000, then http://localhost:8000/\n"
           << std::flush;
}

// Everything the page loads, by URL: the manifest, the shared files, the faces and every choice's.
std::vector<std::string> pageUrls(const Manifest& m) {
  std::vector<std::string> urls{kWebManifest};
  for (const auto& f : m.files) urls.push_back(f.first);
  for (const auto& f : m.faces) urls.push_back(f.url);
  for (const auto* kind : {&m.tunes, &m.grounds, &m.trees})
    for (const Choice& c : *kind) {
      for (const auto& f : c.files) urls.push_back(f.first);
      if (!c.recording.empty()) urls.push_back(c.recording);
    }
  urls.emplace_back("runtime.wasm");
  return urls;
}

// The folder `page` as one HTML file at `file`, written whole or not at all.
void writeSingleFile(const Page& page, const Card& card, const std::string& pageUrl,
                     const std::string& runtimeDir, const std::string& file, std::ostream& progress) {
  SingleFileParts parts;
  parts.indexHtml = indexOf(readText(fs::path(runtimeDir) / "index.html"), card, page.manifest.lang,
                            headOf(card, pageUrl, true, page.out));
  parts.read = [&](const std::string& url) {
    // The runtime's script goes into the page as text, not as the folder's compressed copy, and the
    // page's scripts each as it is, not joined as the folder has them.
    const bool script = std::find(std::begin(kPageScripts), std::end(kPageScripts), url) != std::end(kPageScripts);
    if (url == "runtime.js" || script) return readBytes(fs::path(runtimeDir) / url);
    const fs::path path = page.out / relativeOf(url);
    if (!fs::is_regular_file(path))
      throw std::runtime_error("the page names a file it does not have: " + url);
    return readBytes(path);
  };
  parts.firstScripts = {"runtime.js"};
  parts.embedded = pageUrls(page.manifest);
  const std::string html = SingleFileHtml(parts);
  if (html.size() >= kSingleFileMaxBytes)
    throw std::runtime_error("the page comes to " + sizeText(html.size()) + " as one file, over the " +
                             sizeText(kSingleFileMaxBytes) + " it may have; export it as a folder instead");
  platform::WriteFileAtomically(file, html.data(), html.size());
  progress << "Wrote the web page to " << file << " (one file, " << sizeText(html.size()) << ").\n"
           << "Open it in a browser, or publish it as it is.\n"
           << std::flush;
}

}  // namespace

bool IsSingleFileExport(const std::string& target) {
  return target.size() > 5 && target.compare(target.size() - 5, 5, ".html") == 0;
}

void ExportWebPage(const WebExport& w, std::ostream& progress) {
  const std::string runtimeDir = w.appPath + "/web";
  requireRuntime(runtimeDir);
  // The tune's Ogg Opus encoder comes with the codec module: a missing module fails before any work.
  const video::Codecs& codecs = video::LoadCodecs(platform::ApplicationFolder());
  const bool single = IsSingleFileExport(w.target);
  const fs::path target =
      single ? fs::absolute(fs::path(w.target)).lexically_normal() : checkTarget(w.target);
  if (single) checkPlace(w.target, target, false);
  const MediaChoices media = BundledMedia(w.appPath, w.bundles);

  // Everything goes into a temporary folder that replaces `target` whole at the end (or that the
  // single file is made from); a failure or a terminating signal removes it.
  platform::AtomicOutput written(single ? target.string() + ".folder" : target.string(),
                                 platform::AtomicOutput::Kind::Folder);
  Page page{written.path(), {}};
  const Card& card = w.card;
  page.manifest.lang = w.lang.empty() ? GreetingLanguage(card.greeting.text) : w.lang;
  progress << "Preparing the textures, the trees and the glyphs for the browser\n" << std::flush;
  addGrounds(page, cardFirst(media.grounds, card.ground, "This card's ground"));
  page.addTexture(page.manifest.files, "greeting/tex/snow.png", kApp + "/tex/snow.png", card.flake);
  // The application's own tree is drawn as it is; any other, the card's or a bundled one, stands
  // where that tree stands, as tall or as the card asks, and lit, as the desktop draws it.
  const std::string ownTree = DefaultCard(w.appPath).model;
  for (const MediaChoice& tree : cardFirst(media.trees, card.model, "This card's tree")) {
    std::error_code ec;
    const bool cards = card.ownModel && fs::equivalent(tree.path, card.model, ec);
    const bool own = !cards && fs::equivalent(tree.path, ownTree, ec);
    const float height = own ? 0.0f : cards && card.modelHeight > 0 ? card.modelHeight : kTreeHeight;
    addTree(page, tree, height, progress);
  }
  addTexts(page, card);
  for (const MediaChoice& tune : cardFirst(media.tunes, card.tune, "This card's tune"))
    addTune(page, tune, codecs, progress);
  addPreviews(page, card, w.appPath, progress);
  if (!single) addStartPack(page);
  addRuntime(page, card, runtimeDir, w.pageUrl);
  if (single) {
    writeSingleFile(page, card, w.pageUrl, runtimeDir, target.string(), progress);
    return;
  }
  written.commit();
  reportWritten(w.target, target, progress);
}

}  // namespace app
