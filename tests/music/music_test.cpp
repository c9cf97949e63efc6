// modMusic over the audio platform: the set-up steps, the sound of the rendered tune, the reverb
// insert, the immediate stop, and start-up without the tune.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "music/modMusic.h"
#include "platform/audio/DirectMusic.h"
#include "platform/audio/SoundFont.h"
#include "platform/audio/Synthesizer.h"
#include "platform/base/Error.h"
#include "tests/support/RecordingBackend.h"
#include "tests/music/SmfBuilder.h"
#include "tests/music/TestEnv.h"
#include "tests/support/Harness.h"

namespace {

using wgtest::ErrorOf;
using wgtest::ScopedEnv;

constexpr int kRate = audio::Synthesizer::kSampleRate;

// The tune of an application folder.
std::string Tune(const std::string& appFolder) {
  return appFolder + "/music/main.mid";
}

double Rms(const std::vector<float>& s, double fromSeconds, double toSeconds) {
  const std::size_t from = std::min(s.size(), static_cast<std::size_t>(fromSeconds * kRate) * 2);
  const std::size_t to = std::min(s.size(), static_cast<std::size_t>(toSeconds * kRate) * 2);
  if (to <= from) return 0;
  double sum = 0;
  for (std::size_t i = from; i < to; ++i) sum += double{s[i]} * s[i];
  return std::sqrt(sum / static_cast<double>(to - from));
}

double Energy(const std::vector<float>& s, double fromSeconds) {
  double sum = 0;
  for (std::size_t i = static_cast<std::size_t>(fromSeconds * kRate) * 2; i < s.size(); ++i)
    sum += double{s[i]} * s[i];
  return sum;
}

// The time of the last sample whose size reaches `level`.
double LastAbove(const std::vector<float>& s, float level) {
  for (std::size_t i = s.size(); i-- > 0;)
    if (std::fabs(s[i]) >= level) return static_cast<double>(i / 2) / kRate;
  return 0;
}

float Peak(const std::vector<float>& s) {
  float p = 0;
  for (float v : s) p = std::max(p, std::fabs(v));
  return p;
}

std::vector<float> Render(audio::DirectMusicPerformance8& p, double seconds) {
  std::vector<float> s(static_cast<std::size_t>(seconds * kRate) * 2);
  p.RenderOffline(s.data(), s.size() / 2);
  return s;
}

TEST(ExtractFolder, CutsAfterTheLastBackslashOrSlash) {
  EXPECT_EQ(music::ExtractFolder("C:\\Greeting\\music\\main.mid"), "C:\\Greeting\\music\\");
  EXPECT_EQ(music::ExtractFolder("/opt/wg\\music\\main.mid"), "/opt/wg\\music\\");
  EXPECT_EQ(music::ExtractFolder("main.mid"), "");
  EXPECT_EQ(music::ExtractFolder(""), "");
  EXPECT_EQ(music::ExtractFolder("\\"), "\\");
  EXPECT_EQ(music::ExtractFolder("a\\b\\c\\d"), "a\\b\\c\\");
  EXPECT_EQ(music::ExtractFolder("a\\b\\"), "a\\b\\");
  EXPECT_EQ(music::ExtractFolder("/usr/share/music/main.mid"), "/usr/share/music/");
  EXPECT_EQ(music::ExtractFolder("a\\b/c/d.mid"), "a\\b/c/");
  EXPECT_EQ(music::ExtractFolder("carol.mid"), "");
}

TEST(InitMusic, SearchesTheMusicFolderLoadsMainMidAndLeavesItPlayingWithTheReverbOn) {
  const std::string F = wgtest::AppDirWithout("music-app-folder", {});
  music::modMusic m(Tune(F), audio::OutputMode::Offline);
  EXPECT_FALSE(m.MusicPerformance || m.MusicLoader || m.MusicSegment || m.MusicSegmentState);
  m.InitMusic(nullptr);
  EXPECT_EQ(m.MusicLoader->SearchDirectory(), F + "/music/");
  EXPECT_EQ(m.MusicLoader->LastLoadedFile(), F + "/music/main.mid");
  EXPECT_EQ(m.MusicSegment->File(), F + "/music/main.mid");
  EXPECT_TRUE(m.MusicSegment->IsStandardMidiFile());
  EXPECT_TRUE(m.MusicSegment->IsDownloaded());
  EXPECT_TRUE(m.MusicPerformance->InstrumentsLoaded());
  EXPECT_TRUE(m.MusicPerformance->ReverbOn());
  EXPECT_TRUE(m.MusicPerformance->GetDefaultAudioPath()->IsActive());
  EXPECT_EQ(m.MusicPerformance->GetDefaultAudioPath(), m.MusicPerformance->GetDefaultAudioPath());
  EXPECT_TRUE(m.MusicPerformance->IsPlaying(m.MusicSegment.get()));
  ASSERT_TRUE(m.MusicSegmentState);
  EXPECT_EQ(m.MusicSegmentState->Segment(), m.MusicSegment.get());
}

double Dbfs(double v) {
  return 20 * std::log10(std::max(v, 1e-12));
}

TEST(InitMusic, TheTunePlaysOnceAtFullLevelThenDecaysAndStaysSilent) {
  // The level is that of the SoundFont installed with the program.
  const std::string timgm = "/usr/share/sounds/sf2/TimGM6mb.sf2";
  if (!std::ifstream(timgm).good()) GTEST_SKIP() << "timgm6mb-soundfont is not installed";
  ScopedEnv font("WG_SOUNDFONT", timgm.c_str());
  music::modMusic m(Tune(wgtest::AppDir()), audio::OutputMode::Offline);
  m.InitMusic(nullptr);
  audio::DirectMusicPerformance8& p = *m.MusicPerformance;
  const double length = m.MusicSegment->LengthSeconds();
  const std::vector<float> s = p.RenderToEnd(length + 60);

  // At full level: the loudest chord within 3 dB of full scale and clear of the limiter's ceiling
  // at -1 dBFS, the whole about 18 dB below full scale on average (it was 28 with 12 dB unused).
  EXPECT_GE(Dbfs(Peak(s)), -3.0);
  EXPECT_LE(Dbfs(Peak(s)), -1.0);
  EXPECT_NEAR(Dbfs(Rms(s, 0, 1e9)), -17.9, 1.0);
  for (double t = 0; t + 5 < length; t += 5) EXPECT_GT(Rms(s, t, t + 5), 0.01) << "faint from " << t << " s";
  // Sound lasts to the tune's end, and its tail dies away within a few seconds.
  EXPECT_GT(LastAbove(s, 1e-2f), length - 1.0);
  EXPECT_LT(LastAbove(s, 1e-3f), length + 4.0);
  EXPECT_LT(Rms(s, length + 1, length + 2), Rms(s, length - 2, length - 1) / 100);
  // The player finishes, and rendering on stays silent: nothing restarts the tune.
  EXPECT_LT(static_cast<double>(s.size() / 2) / kRate, length + 20);
  EXPECT_FALSE(p.IsPlaying(m.MusicSegment.get()));
  EXPECT_LT(Peak(Render(p, 5)), 1e-6f);
}

// One short note through the platform, set up as InitMusic does, with or without the reverb.
std::vector<float> RenderNote(const std::string& file, bool reverb) {
  audio::DirectX8 DX(audio::OutputMode::Offline);
  auto performance = DX.DirectMusicPerformanceCreate();
  audio::DMUS_AUDIOPARAMS params{};
  performance->InitAudio(nullptr, 0x24, &params, nullptr, audio::DMUS_APATH_DYNAMIC_3D, 128);
  auto segment = DX.DirectMusicLoaderCreate()->LoadSegment(file);
  segment->SetStandardMidiFile();
  auto path = performance->GetDefaultAudioPath();
  segment->Download(*path);
  if (reverb) {
    std::vector<audio::DSEFFECTDESC> fx(1);
    fx[0].guidDSFXClass = audio::GUID_DSFX_WAVES_REVERB;
    std::vector<audio::DWORD> results(1, 0);
    auto buffer = path->GetObjectInPath(audio::DMUS_PCHANNEL_ALL, audio::DMUS_PATH_BUFFER, 0,
                                        audio::GUID_ALL_OBJECTS, 0, audio::IID_IDirectSoundBuffer8);
    path->Activate(false);
    buffer->SetFX(1, fx.data(), results.data());
    path->Activate(true);
    EXPECT_EQ(results[0], audio::DSFXR_LOCSOFTWARE);
  }
  performance->PlaySegmentEx(segment, audio::DMUS_SEGF_DEFAULT, 0, nullptr, path.get());
  return Render(*performance, 4.0);
}

// A tune a user brings may be far louder than ours: the limiter keeps it from clipping.
TEST(Limiter, ATuneOfSixteenFortissimoChordsNeverPassesTheCeiling) {
  // Every channel plays a six-note chord at full velocity for two seconds (1920 ticks at 120 bpm).
  wgtest::Bytes body;
  for (std::uint8_t ch = 0; ch < 16; ++ch) {
    body.insert(body.end(), {0x00, static_cast<std::uint8_t>(0xC0 | ch), static_cast<std::uint8_t>(56 + ch)});
    for (std::uint8_t key : {48, 52, 55, 60, 64, 67})
      body.insert(body.end(),
                  {0x00, static_cast<std::uint8_t>(0x90 | ch), static_cast<std::uint8_t>(key + ch % 3), 127});
  }
  body.insert(body.end(), {0x8F, 0x00, 0xB0, 123, 0});  // all notes off on channel 0, then the rest
  for (std::uint8_t ch = 1; ch < 16; ++ch)
    body.insert(body.end(), {0x00, static_cast<std::uint8_t>(0xB0 | ch), 123, 0});
  const std::string file = wgtest::ScratchDir("limiter-loud") + "/loud.mid";
  wgtest::WriteFile(
      file, wgtest::Cat(wgtest::Header(0, 1, 480), wgtest::Track(wgtest::Cat(body, wgtest::kEndOfTrack))));
  const std::vector<float> s = RenderNote(file, true);
  // Pressed against the ceiling, and never past it.
  EXPECT_LE(Peak(s), audio::Synthesizer::kCeiling);
  EXPECT_GT(Peak(s), audio::Synthesizer::kCeiling * 0.97f);
  EXPECT_GT(Rms(s, 0.5, 1.5), 0.2);
}

TEST(Reverb, AnInsertOverTheMixLengthensTheTailOfAShortNoteAndLeavesTheDrySignalAlone) {
  const std::string file = wgtest::ScratchDir("reverb-note") + "/note.mid";
  // A quarter-second staccato note whose channel asks for no reverb at all: the insert ignores that.
  wgtest::WriteFile(file, wgtest::SingleNote(72, 110, 240, 13));
  const std::vector<float> dry = RenderNote(file, false);
  const std::vector<float> wet = RenderNote(file, true);

  ASSERT_GT(Peak(dry), 0.01f);
  // Until the first reflection comes back, the output is the dry note itself (give or take the
  // reverb's -160 dB bias against denormals).
  for (std::size_t i = 0; i < 2 * 400; ++i) ASSERT_NEAR(wet[i], dry[i], 1e-7) << i;
  const double tailFrom = 0.5;
  EXPECT_GT(Energy(wet, tailFrom), 4 * Energy(dry, tailFrom));
  // At -20, -40 and -60 dB below the note's peak the tail with the reverb lasts longer.
  for (float level : {1e-1f, 1e-2f, 1e-3f})
    EXPECT_GT(LastAbove(wet, Peak(dry) * level), LastAbove(dry, Peak(dry) * level) + 0.2) << level;
  EXPECT_LT(LastAbove(wet, Peak(dry) * 1e-3f), 2.0);

  // The reverberation on its own (wet less dry): its energy decay, from -5 to -35 dB, doubled.
  std::vector<double> decay(wet.size() / 2 + 1, 0.0);
  for (std::size_t i = wet.size() / 2; i-- > 0;) {
    const double l = wet[2 * i] - dry[2 * i], r = wet[2 * i + 1] - dry[2 * i + 1];
    decay[i] = decay[i + 1] + l * l + r * r;
  }
  double t5 = -1, t35 = -1;
  for (std::size_t i = 0; i < decay.size(); ++i) {
    const double db = 10 * std::log10(decay[i] / decay[0] + 1e-30);
    if (t5 < 0 && db < -5) t5 = static_cast<double>(i) / kRate;
    if (t35 < 0 && db < -35) t35 = static_cast<double>(i) / kRate;
  }
  const double rt60 = 2 * (t35 - t5);
  EXPECT_GT(rt60, 0.7);
  EXPECT_LT(rt60, 1.6);
}

TEST(StopEx, SilencesTheNextBlockAtOnceWithNoReverbTail) {
  music::modMusic m(Tune(wgtest::AppDir()), audio::OutputMode::Offline);
  m.InitMusic(nullptr);
  audio::DirectMusicPerformance8& p = *m.MusicPerformance;
  ASSERT_GT(Rms(Render(p, 3.0), 2.0, 3.0), 0.003);
  p.StopEx(m.MusicSegment.get(), 0, 0);
  std::vector<float> block(2 * 256, 1.0f);
  p.RenderOffline(block.data(), 256);
  EXPECT_EQ(Peak(block), 0.0f);
  EXPECT_EQ(Peak(Render(p, 2.0)), 0.0f);
  EXPECT_EQ(p.Stats().peakSinceStop, 0.0f);
  EXPECT_FALSE(p.IsPlaying(nullptr));
  EXPECT_NE(ErrorOf([&] { p.StopEx(nullptr, 10, 0); }).find("StopEx: "), std::string::npos);
}

TEST(Shutdown, StopsUnloadsTheInstrumentsAndDropsEveryReference) {
  music::modMusic m(Tune(wgtest::AppDir()), audio::OutputMode::Offline);
  m.Shutdown();  // nothing set up yet: nothing to stop
  m.InitMusic(nullptr);
  const std::shared_ptr<audio::DirectMusicPerformance8> performance = m.MusicPerformance;
  const std::weak_ptr<audio::DirectMusicSegment8> segment = m.MusicSegment;
  const std::weak_ptr<audio::DirectMusicLoader8> loader = m.MusicLoader;
  const std::weak_ptr<audio::DirectMusicSegmentState8> state = m.MusicSegmentState;
  m.Shutdown();
  EXPECT_FALSE(m.MusicPerformance || m.MusicLoader || m.MusicSegment || m.MusicSegmentState);
  EXPECT_FALSE(performance->IsPlaying(nullptr));
  EXPECT_FALSE(performance->InstrumentsLoaded());
  EXPECT_TRUE(loader.expired());
  EXPECT_TRUE(state.expired());
  // The performance held the stopped segment no longer.
  EXPECT_TRUE(segment.expired());
  EXPECT_EQ(Peak(Render(*performance, 0.5)), 0.0f);
}

TEST(AudioPlatform, CallsOutOfOrderOrWithUnknownArgumentsFailNamingTheCall) {
  audio::DirectX8 DX(audio::OutputMode::Offline);
  auto p = DX.DirectMusicPerformanceCreate();
  EXPECT_NE(
      ErrorOf([&] { p->GetDefaultAudioPath(); }).find("GetDefaultAudioPath: the performance's audio is not"),
      std::string::npos);
  audio::DMUS_AUDIOPARAMS params{};
  EXPECT_NE(ErrorOf([&] {
              p->InitAudio(nullptr, 0x24, &params, nullptr, 99, 128);
            }).find("InitAudio: unknown audio path type 99"),
            std::string::npos);
  p->InitAudio(nullptr, 0x24, &params, nullptr, audio::DMUS_APATH_DYNAMIC_3D, 128);
  EXPECT_NE(
      ErrorOf([&] { p->InitAudio(nullptr, 0x24, &params, nullptr, 6, 128); }).find("already initialised"),
      std::string::npos);
  auto path = p->GetDefaultAudioPath();
  EXPECT_NE(ErrorOf([&] {
              path->GetObjectInPath(-5, 0x6000, 1, "GUID_ALL_OBJECTS", 0, "IID_IDirectSoundBuffer8");
            }).find("GetObjectInPath: no such object"),
            std::string::npos);
  auto buffer = path->GetObjectInPath(-5, 0x6000, 0, "GUID_ALL_OBJECTS", 0, "IID_IDirectSoundBuffer8");
  std::vector<audio::DSEFFECTDESC> fx(1);
  fx[0].guidDSFXClass = audio::GUID_DSFX_WAVES_REVERB;
  std::vector<audio::DWORD> results(1);
  // Effects are set only while the path is inactive.
  EXPECT_NE(
      ErrorOf([&] { buffer->SetFX(1, fx.data(), results.data()); }).find("SetFX: the buffer is playing"),
      std::string::npos);
  path->Activate(false);
  fx[0].guidDSFXClass = "GUID_DSFX_STANDARD_ECHO";
  EXPECT_NE(ErrorOf([&] { buffer->SetFX(1, fx.data(), results.data()); }).find("not available"),
            std::string::npos);
  EXPECT_FALSE(p->ReverbOn());
  // The inactive path feeds nothing to its buffer.
  EXPECT_EQ(Peak(Render(*p, 0.1)), 0.0f);
}

// Start-up makes the synthesizer on another thread while the device starts: InitMusic must sound the
// same whether it takes that synthesizer or makes its own, and must still report what fails.
std::vector<float> FirstSecondsOfTheTune(bool preload, double seconds) {
  music::modMusic m(Tune(wgtest::AppDir()), audio::OutputMode::Offline);
  if (preload) m.Preload();
  m.InitMusic(nullptr);
  return Render(*m.MusicPerformance, seconds);
}

TEST(Preload, TheTuneSoundsTheSameWithTheSynthesizerMadeAhead) {
  const std::vector<float> own = FirstSecondsOfTheTune(false, 3);
  ASSERT_GT(Rms(own, 0, 3), 0.01);
  EXPECT_TRUE(FirstSecondsOfTheTune(true, 3) == own);
  // Made for other channels, it is dropped and InitAudio makes its own.
  audio::PreloadSynthesizer(256);
  EXPECT_TRUE(FirstSecondsOfTheTune(false, 3) == own);
  // Made and never taken: freed when the next one is started, or at exit.
  audio::PreloadSynthesizer(128);
  audio::PreloadSynthesizer(128);
  EXPECT_TRUE(FirstSecondsOfTheTune(false, 3) == own);
}

TEST(Preload, WhatFailsAheadIsReportedByInitMusicNamingTheFile) {
  const std::string dir = wgtest::ScratchDir("preload-bad-soundfont");
  const std::string bad = dir + "/not-a-soundfont.sf2";
  std::ofstream(bad) << "RIFF, but no SoundFont";
  ScopedEnv env("WG_SOUNDFONT", bad.c_str());
  music::modMusic m(Tune(wgtest::AppDir()), audio::OutputMode::Offline);
  m.Preload();
  const std::string message = ErrorOf([&] { m.InitMusic(nullptr); });
  EXPECT_NE(message.find("InitAudio: fluid_synth_sfload failed (" + bad + ")"), std::string::npos) << message;
  EXPECT_FALSE(m.MusicSegment);
}

TEST(AudioPlatform, AMissingSoundFontSaysWhichPackageProvidesOne) {
  const std::string none = "/nonexistent/none.sf2";
  {
    ScopedEnv env("WG_SOUNDFONT", none.c_str());
    music::modMusic m(Tune(wgtest::AppDir()), audio::OutputMode::Offline);
    const std::string message = ErrorOf([&] { m.InitMusic(nullptr); });
    EXPECT_NE(message.find("InitAudio: the SoundFont named by WG_SOUNDFONT cannot be read (" + none + ")"),
              std::string::npos)
        << message;
    EXPECT_FALSE(m.MusicSegment);
  }
  ScopedEnv env("WG_SOUNDFONT", "");
  const std::string message = ErrorOf([] { audio::FindSoundFont("InitAudio", {"/nonexistent/a.sf2"}); });
  EXPECT_NE(message.find("InitAudio: no General MIDI SoundFont is installed"), std::string::npos) << message;
  EXPECT_NE(message.find("timgm6mb-soundfont"), std::string::npos) << message;
}

TEST(AudioPlatform, TheFirstInstalledSoundFontIsTakenUnlessWgSoundFontNamesOne) {
  const std::string dir = wgtest::ScratchDir("soundfonts");
  const std::string better = dir + "/better.sf2", plain = dir + "/plain.sf2";
  std::ofstream(plain) << "x";
  ScopedEnv none("WG_SOUNDFONT", "");
  // The better one is listed first and taken as soon as it is installed.
  EXPECT_EQ(audio::FindSoundFont("InitAudio", {better, plain}), plain);
  std::ofstream(better) << "x";
  EXPECT_EQ(audio::FindSoundFont("InitAudio", {better, plain}), better);
  ScopedEnv chosen("WG_SOUNDFONT", plain.c_str());
  EXPECT_EQ(audio::FindSoundFont("InitAudio", {better, plain}), plain);
}

TEST(AudioDevice, WithoutAnAudioDeviceInitAudioFailsClearly) {
  ScopedEnv env("SDL_AUDIODRIVER", "no-such-driver");
  music::modMusic m(Tune(wgtest::AppDir()), audio::OutputMode::Device);
  const std::string message = ErrorOf([&] { m.InitMusic(nullptr); });
  EXPECT_EQ(message.rfind("InitAudio: no usable audio device", 0), 0u) << message;
  EXPECT_FALSE(m.MusicSegment);
}

TEST(AudioDevice, TheDevicePlaysTheTuneAndFallsSilentTheBlockAfterStopEx) {
  ScopedEnv env("SDL_AUDIODRIVER", "dummy");
  music::modMusic m(Tune(wgtest::AppDir()), audio::OutputMode::Device);
  m.InitMusic(nullptr);
  audio::DirectMusicPerformance8& p = *m.MusicPerformance;
  EXPECT_NE(ErrorOf([&] { Render(p, 0.01); }).find("RenderOffline: "), std::string::npos);
  const auto waitFor = [&](auto done) {
    for (int i = 0; i < 400 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  };
  waitFor([&] { return p.Stats().peakSinceStop > 0.01f; });
  EXPECT_GT(p.Stats().peakSinceStop, 0.01f);
  m.Shutdown();
  // Shutdown released the performance; a second one checks the stop itself.
  m.InitMusic(nullptr);
  waitFor([&] { return m.MusicPerformance->Stats().peakSinceStop > 0.01f; });
  m.MusicPerformance->StopEx(m.MusicSegment.get(), 0, 0);
  waitFor([&] { return m.MusicPerformance->Stats().blocksSinceStop >= 4; });
  EXPECT_GE(m.MusicPerformance->Stats().blocksSinceStop, 4u);
  EXPECT_EQ(m.MusicPerformance->Stats().peakSinceStop, 0.0f);
  m.Shutdown();
}

TEST(Startup, AMissingTuneStopsStartUpAfterTheDeviceAndBeforeTheGroundPlane) {
  const std::string dir = wgtest::AppDirWithout("no-main-mid", {"music/main.mid"});
  wgtest::RecordingDemo demo(dir);
  const std::string message = ErrorOf([&] { demo.startup(); });
  EXPECT_EQ(message.rfind("LoadSegment: ", 0), 0u) << message;
  EXPECT_NE(message.find(dir + "/music/main.mid"), std::string::npos) << message;
  ASSERT_NE(demo.direct3d.last, nullptr);
  const std::vector<std::string> names = demo.backend().callNames();
  EXPECT_EQ(std::count(names.begin(), names.end(), "DrawPrimitiveUP"), 0);

  // Exactly the device set-up ran: the same calls as InitD3D on its own.
  wgtest::RecordingDemo deviceOnly(dir);
  deviceOnly.form.D3D.InitD3D(nullptr);
  EXPECT_EQ(names, deviceOnly.backend().callNames());
  EXPECT_FALSE(demo.form.D3D.HasMesh());
  EXPECT_TRUE(demo.form.Music.MusicPerformance);
  EXPECT_FALSE(demo.form.Music.MusicSegment);
}

TEST(Startup, TheRecordingDemoPlaysOfflineAndEscapeStopsTheMusic) {
  wgtest::RecordingDemo demo;
  demo.startup();
  const auto performance = demo.form.Music.MusicPerformance;
  ASSERT_TRUE(performance);
  EXPECT_EQ(performance->Mode(), audio::OutputMode::Offline);
  EXPECT_TRUE(performance->IsPlaying(nullptr));
  demo.frames(2);
  demo.form.Form_KeyDown(27, 0);
  demo.form.ASCKEY();
  EXPECT_TRUE(demo.form.Unloaded());
  EXPECT_FALSE(demo.form.Music.MusicPerformance);
  EXPECT_FALSE(performance->IsPlaying(nullptr));
  EXPECT_FALSE(performance->InstrumentsLoaded());
}

}  // namespace
