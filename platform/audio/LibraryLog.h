// Where FluidSynth's messages go. Its warnings and notes (a channel without a preset once the
// instruments are unloaded, and the like) are not for the user; its errors are printed on stderr as
// "fluidsynth: error: ...". A thread that works ahead (the preload) drops its errors: the constructor
// that then does the work again reports them itself, once. Only the files of platform/audio and their
// tests include this header.
#pragma once

#include <functional>
#include <string>

namespace audio {

// FluidSynth's levels, from the most to the least severe: panic, error, warning, information, debug.
using LibraryMessageSink = std::function<void(int level, const std::string& message)>;

// Installs the handlers with the library (its own process-wide setting), once; later calls do nothing.
void RouteLibraryLog();

// Every message but the debug ones goes to `sink` instead, until it is set back to an empty one (errors
// printed on stderr, the rest dropped). For tests that look at what the library says.
void SetLibraryMessageSink(LibraryMessageSink sink);

// While set, the calling thread's messages are dropped.
void DropThisThreadsLibraryMessages(bool drop);

}  // namespace audio
