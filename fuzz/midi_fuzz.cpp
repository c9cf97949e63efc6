// The MIDI load path: the file reader behind LoadSegment, and for every file it accepts, the
// synthesizer's player reading and playing the first moments of it offline.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/audio/DirectMusic.h"
#include "platform/base/Error.h"

namespace {

audio::DirectMusicPerformance8& Performance() {
  static const std::shared_ptr<audio::DirectMusicPerformance8> performance = [] {
    auto p = audio::DirectX8(audio::OutputMode::Offline).DirectMusicPerformanceCreate();
    audio::DMUS_AUDIOPARAMS params{};
    p->InitAudio(nullptr, audio::DMUS_AUDIOF_EAX | audio::DMUS_AUDIOF_BUFFERS, &params, nullptr,
                 audio::DMUS_APATH_DYNAMIC_3D, 128);
    return p;
  }();
  return *performance;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> bytes(data, data + size);
  audio::StandardMidiFile smf;
  try {
    smf = audio::ReadStandardMidiFile(bytes, "fuzz.mid");
  } catch (const platform::Error&) {
    return 0;
  }
  audio::DirectMusicPerformance8& p = Performance();
  auto segment = std::make_shared<audio::DirectMusicSegment8>("fuzz.mid", std::move(bytes), smf);
  segment->SetStandardMidiFile();
  p.PlaySegmentEx(segment, audio::DMUS_SEGF_DEFAULT, 0, nullptr, nullptr);
  std::vector<float> block(2 * 512);
  for (int i = 0; i < 4; ++i) p.RenderOffline(block.data(), 512);
  p.StopEx(nullptr, 0, 0);
  return 0;
}
