#include "platform/video/Container.h"

#include <cctype>

namespace video {

std::optional<Container> ContainerForFile(const std::string& path) {
  const auto dot = path.find_last_of("./");
  if (dot == std::string::npos || path[dot] != '.') return std::nullopt;
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == "mp4") return Container::Mp4;
  if (ext == "mkv") return Container::Matroska;
  if (ext == "webm") return Container::WebM;
  return std::nullopt;
}

}  // namespace video
