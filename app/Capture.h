// Turning the greeting into something that can be sent: the demo rendered headless on a virtual
// clock into a video with its music (MP4, Matroska or WebM), or into numbered PNG frames.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/Card.h"
#include "app/Options.h"

namespace app {

class Form1;

// Checks that every output the options name (screenshot, video, frames folder) can be written, and
// that the video's extension names a container, before anything is rendered. Throws
// std::runtime_error with a message for the user.
void CheckCaptureTarget(const Options& o);

// The still a --poster shows: the frame 3 seconds in, when the first credit line has come under the
// greeting and the camera has turned a quarter way round; the last frame of a shorter recording.
constexpr double kPosterSeconds = 3.0;
// Its index (from 0) among the frames of a recording of `seconds` at `fps`.
std::int64_t PosterFrame(double seconds, int fps);

// The still a --poster of the default 30 s at 30 fps shows, drawn headless at `width` x `height` (a
// frame size --size takes): RGBA, top row first. The page's preview and icons are made from it.
std::vector<std::uint8_t> RenderPosterStill(const Card& card, const std::string& appPath, int width,
                                            int height);

// Renders round(seconds x fps) frames, each 1000/fps ms of virtual time, and writes them. The video
// and each frame are written whole or not at all (platform::AtomicOutput): a failure or an interrupt
// leaves no truncated file under the final name. The pictures and the sound are those of `card`. A
// --poster is written as a JPEG of frame PosterFrame; on its own, only the frames up to it are drawn.
void RunCapture(const Options& o, const Card& card, const std::string& appPath);

}  // namespace app
