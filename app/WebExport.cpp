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

#include "music/modMusic.h"
#include "platform/base/Error.h"
#include "platform/d3dx/Font.h"
#include "platform/d3dx/Prepared.h"
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

std::string htmlText(const std::string& s) {
  std::string out;
  for (const char c : s) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else
      out += c;
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

std::string readText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool isEarlierExport(const fs::path& dir) {
  return readText(dir / kWebManifest).find(jsonString(kFormat)) != std::string::npos;
}

struct Manifest {
  std::vector<std::pair<std::string, std::string>> files;  // URL, path in the runtime's file system
  struct Face {
    int pixels;
    std::string url, path;
  };
  std::vector<Face> faces;
  std::string tuneMidi, tuneUrl;
  double tuneSeconds = 0;
  std::string text(const std::string& title) const {
    std::string out = "{\n  \"format\": " + jsonString(kFormat) + ",\n  \"title\": " + jsonString(title) +
                      ",\n  \"files\": [\n";
    for (std::size_t i = 0; i < files.size(); ++i)
      out += "    [" + jsonString(files[i].first) + ", " + jsonString(files[i].second) + "]" +
             (i + 1 < files.size() ? ",\n" : "\n");
    out += "  ],\n  \"faces\": [\n";
    for (std::size_t i = 0; i < faces.size(); ++i)
      out += "    [" + std::to_string(faces[i].pixels) + ", " + jsonString(faces[i].url) + ", " +
             jsonString(faces[i].path) + "]" + (i + 1 < faces.size() ? ",\n" : "\n");
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", tuneSeconds);
    out += "  ],\n  \"tunes\": [{\"midi\": " + jsonString(tuneMidi) + ", \"url\": " + jsonString(tuneUrl) +
           ", \"seconds\": " + seconds + "}]\n}\n";
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

// A texture file as D3DXCreateTextureFromFile reads it, prepared for the page.
std::vector<std::uint8_t> texels(const std::string& path) {
  const d3dx::FoundBytes file = d3dx::FindAndReadFile("D3DXCreateTextureFromFile", path);
  return d3dx::WritePreparedTexture(
      d3dx::DecodeImageWithMips(file.bytes.data(), file.bytes.size(), file.path));
}

// The folder being written and the manifest that lists what the runtime loads from it.
struct Page {
  fs::path out;
  Manifest manifest;
  // A file the runtime loads: written at `relative` below the folder, and listed with the path the
  // runtime's file system gives it.
  template <typename Bytes>
  void add(const std::string& relative, const std::string& runtimePath, const Bytes& bytes) {
    writeFile(out / relative, bytes);
    manifest.files.emplace_back(urlOf(relative), runtimePath);
  }
};

const std::string kApp = kRuntimeAppFolder;

void requireRuntime(const std::string& runtimeDir) {
  for (const char* f : kRuntimeFiles)
    if (!fs::is_regular_file(fs::path(runtimeDir) / f))
      throw std::runtime_error("the web runtime is not built: " + (fs::path(runtimeDir) / f).string() +
                               " is missing. It is built with emscripten when that is installed "
                               "(scripts/install-deps.sh --web); then build again");
}

// The folder `dir` names, absolute. It must be new, empty or an earlier export, and its parent is
// created and must take new entries.
fs::path checkTarget(const std::string& dir) {
  const fs::path target = fs::absolute(fs::path(dir)).lexically_normal();
  const fs::path folder = target.filename().empty() ? target.parent_path() : target;
  if (folder.filename().empty())
    throw std::runtime_error("--export-web needs a folder to write into, not " + dir);
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(folder, ec);
  if (fs::is_symlink(status)) throw std::runtime_error(dir + " is a symbolic link: name the folder itself");
  if (fs::exists(status)) {
    if (!fs::is_directory(status)) throw std::runtime_error("cannot export into " + dir + ": it is a file");
    if (!fs::is_empty(folder, ec) && !isEarlierExport(folder))
      throw std::runtime_error(
          "cannot export into " + dir +
          ": the folder is not empty and holds no earlier export of the greeting. Name a new "
          "or empty folder, or an earlier export (it is then replaced whole)");
  }
  const fs::path parent = folder.parent_path();
  fs::create_directories(parent, ec);
  if (ec) throw std::runtime_error("cannot create the folder " + parent.string() + ": " + ec.message());
  if (access(parent.c_str(), W_OK) != 0)
    throw std::runtime_error("cannot write into " + parent.string() + ": " + std::strerror(errno));
  return folder;
}

void addTextures(Page& page, const Card& card) {
  page.add("greeting/tex/snow.jpg.texels", kApp + "/tex/snow.jpg", texels(card.ground));
  page.add("greeting/tex/snow.png.texels", kApp + "/tex/snow.png", texels(card.flake));
}

// As on the desktop, a model that cannot be read leaves the scene without the tree, and a texture
// that cannot be read leaves its subset untextured. The textures lie beside the model.
void addTree(Page& page, const Card& card, std::ostream& progress) {
  try {
    const d3dx::FoundBytes file = d3dx::FindAndReadFile("D3DXLoadMeshFromX", card.model);
    const d3dx::XModel model = d3dx::ParseXFile(file.bytes.data(), file.bytes.size(), file.path);
    page.add("greeting/models/tree.x.model", kApp + "/models/tree.x", d3dx::WritePreparedModel(model));
    const std::string folder = card.model.substr(0, card.model.find_last_of('/') + 1);
    std::vector<std::string> done;
    for (const d3dx::XMaterial& m : model.materials) {
      if (m.textureFilename.empty()) continue;
      const std::string texture = modelTextureName(m.textureFilename);
      if (texture.empty()) {
        progress << "  the tree's texture \"" << m.textureFilename
                 << "\" is left out: the page carries only textures in the model's folder\n";
        continue;
      }
      if (std::find(done.begin(), done.end(), texture) != done.end()) continue;
      done.push_back(texture);
      try {
        page.add("greeting/models/" + texture + ".texels", kApp + "/models/" + texture,
                 texels(platform::MediaPath(folder, m.textureFilename)));
      } catch (const std::exception& e) {
        progress << "  the tree's texture is left out: " << e.what() << "\n";
      }
    }
  } catch (const std::exception& e) {
    progress << "  the page shows no tree: " << e.what() << "\n";
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
              d3dx::WritePreparedFace(d3dx::PrepareFace(font, texts, true)));
    page.manifest.faces.push_back(
        {px, urlOf("greeting/fonts/" + name), std::string(kRuntimeFontFolder) + "/" + name});
  }
  page.add("greeting/card.txt", kApp + "/" + kWebCardTexts, WriteCardTexts(card));
}

// The tune as MIDI, for the page's own synthesizer, and rendered through the synthesizer and reverb
// the video uses, as Ogg Opus.
void addTune(Page& page, const Card& card, const video::Codecs& codecs, std::ostream& progress) {
  music::modMusic music(card.tune, audio::OutputMode::Offline);
  music.InitMusic(nullptr);
  progress << "Rendering the tune (" << static_cast<int>(music.MusicSegment->LengthSeconds() + 0.5)
           << " s) through the synthesizer and its reverb\n"
           << std::flush;
  const std::vector<float> sound = music.MusicPerformance->RenderToEnd(3600);
  page.add("greeting/music/main.mid", kApp + "/music/main.mid", music.MusicSegment->Bytes());
  const int rate = music.MusicPerformance->SampleRate();
  codecs.writeOggOpus((page.out / "greeting/music/main.ogg").string(), sound, rate);
  page.manifest.tuneMidi = kApp + "/music/main.mid";
  page.manifest.tuneUrl = "greeting/music/main.ogg";
  page.manifest.tuneSeconds = static_cast<double>(sound.size() / 2) / rate;
  music.Shutdown();
}

// The built page with the greeting as its title, its script and runtime, and the manifest last.
void addRuntime(Page& page, const Card& card, const std::string& runtimeDir) {
  const std::string title = card.greeting.text.empty() ? "Winter Greeting" : card.greeting.text;
  for (const char* f : kRuntimeFiles) {
    if (std::string(f) == "index.html") {
      std::string html = readText(fs::path(runtimeDir) / f);
      const std::string mark = "%GREETING%";
      for (std::size_t at = html.find(mark); at != std::string::npos; at = html.find(mark))
        html.replace(at, mark.size(), htmlText(title));
      writeFile(page.out / f, html);
    } else {
      fs::copy_file(fs::path(runtimeDir) / f, page.out / f, fs::copy_options::overwrite_existing);
    }
  }
  writeFile(page.out / kWebManifest, page.manifest.text(title));
}

void reportWritten(const std::string& dir, const fs::path& folder, std::ostream& progress) {
  std::uintmax_t bytes = 0, files = 0;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file()) {
      bytes += e.file_size();
      ++files;
    }
  char size[32];
  std::snprintf(size, sizeof size, "%.1f MB", static_cast<double>(bytes) / 1e6);
  progress << "Wrote the web page to " << dir << " (" << files << " files, " << size << ").\n"
           << "Serve the folder and open it, for example: python3 -m http.server --directory " << dir
           << " 8000, then http://localhost:8000/\n"
           << std::flush;
}

}  // namespace

void ExportWebPage(const Card& card, const std::string& dir, const std::string& runtimeDir,
                   std::ostream& progress) {
  requireRuntime(runtimeDir);
  // The tune's Ogg Opus encoder comes with the codec module: a missing module fails before any work.
  const video::Codecs& codecs = video::LoadCodecs(platform::ApplicationFolder());
  const fs::path folder = checkTarget(dir);

  // Everything goes into a temporary folder that replaces `folder` whole at the end; a failure or a
  // terminating signal removes it.
  platform::AtomicOutput written(folder.string(), platform::AtomicOutput::Kind::Folder);
  Page page{written.path(), {}};
  progress << "Preparing the textures, the tree and the glyphs for the browser\n" << std::flush;
  addTextures(page, card);
  addTree(page, card, progress);
  addTexts(page, card);
  addTune(page, card, codecs, progress);
  addRuntime(page, card, runtimeDir);
  written.commit();
  reportWritten(dir, folder, progress);
}

}  // namespace app
