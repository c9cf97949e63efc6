// Turning the greeting into something that can be sent: the demo rendered headless on a virtual
// clock into a video with its music (MP4, Matroska or WebM), or into numbered PNG frames.
#pragma once

#include <functional>
#include <string>

#include "app/Card.h"
#include "app/Options.h"

namespace app {

class Form1;

// Checks that every output the options name (screenshot, video, frames folder) can be written, and
// that the video's extension names a container, before anything is rendered. Throws
// std::runtime_error with a message for the user.
void CheckCaptureTarget(const Options& o);

// Renders round(seconds x fps) frames, each 1000/fps ms of virtual time, and writes them. The video
// and each frame are written whole or not at all (platform::AtomicOutput): a failure or an interrupt
// leaves no truncated file under the final name. The pictures and the sound are those of `card`.
void RunCapture(const Options& o, const Card& card, const std::string& appPath);

}  // namespace app
