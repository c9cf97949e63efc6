#include "app/Form1.h"

#include <cstdio>

#include "platform/base/Error.h"
#include "platform/d3dx/Font.h"
#include "platform/process/Heap.h"
#include "render/fog.h"
#include "scene/Mesh.h"
#include "scene/Plane.h"

namespace app {

Form1::Form1(const Platform& platform) : Form1(platform, DefaultCard(platform.appPath)) {}

Form1::Form1(const Platform& platform, Card card)
    : API(*platform.counter),
      D3D(*platform.direct3d, card.ground, API, Rnd),
      Snow(card.flake),
      Music(card.tune, platform.musicOutput),
      tmrTitle(*platform.counter, 2000),
      platform_(platform),
      card_(std::move(card)) {}

Form1::~Form1() = default;

void Form1::Startup(const std::function<void(const char* step)>& stepDone) {
  const auto done = [&stepDone](const char* step) {
    if (stepDone) stepDone(step);
  };
  void* hWnd = platform_.window;
  // The synthesizer and its SoundFont are made on another thread while the device starts; InitMusic
  // takes them ready.
  Music.Preload();
  const render::Framing& framing = platform_.framing;
  D3D.Framing = framing;
  D3D.InitD3D(hWnd);
  d3d::Device& dev = D3D.DeviceFor("Startup");
  done("InitD3D");
  Music.InitMusic(hWnd);
  done("InitMusic");
  // The synthesizer's thread has ended and a core is free: the heap's reserve is faulted in there,
  // ahead of the scene and the first frame's shader compiles, which fill it.
  platform::PrefaultHeapReserveInBackground();
  D3D.GetPlane().InitPlane(render::MakeVector(0, 0, 0), render::MakeVector(1000, 1000, 1000));
  D3D.GetPlane().SetTexture(dev, card_.ground);
  done("InitPlane+SetTexture");
  Snow.InitSnow(dev);
  done("InitSnow");
  scene::Mesh& mesh = D3D.GetMesh();
  mesh.Load(&dev, card_.model);
  // The application's own tree only leaves the scene when it is missing; a tree someone chose says why.
  if (card_.ownModel)
    for (const std::string& e : mesh.LoadErrors())
      std::fprintf(stderr, "%s%s\n",
                   mesh.GetMesh() ? "warning: the tree is drawn without a texture: "
                                  : "warning: the tree is left out of the scene: ",
                   e.c_str());
  if (card_.ownModel) {
    const std::size_t budget = TreeTriangleBudget(framing.height);
    const std::size_t had = mesh.LimitTriangles(budget);
    if (had > budget && mesh.GetMesh())
      std::fprintf(stderr, "note: the tree's %zu triangles are drawn simplified to %u\n", had,
                   static_cast<unsigned>(mesh.GetMesh()->GetNumFaces()));
  }
  // A tree someone chose stands where the application's own tree stands, as tall unless told.
  if (card_.ownModel) mesh.FitTo(card_.modelHeight > 0 ? card_.modelHeight : kTreeHeight);
  // It is drawn in its own colours, lit; the application's own tree as it always was.
  mesh.SetViewerLook(card_.ownModel);
  mesh.SetPosition(0, 0, 30);
  mesh.SetScale(10, 10, 10);
  done("Mesh.Load");
  render::InitFog(dev);
  Gen.InitFont(dev, framing.TextPoints(), framing.width, framing.height, textGlyphs_);
  done("InitFog+InitFont");
  if (framing.IsPicture() && !placedText_) {
    Titles.Fill(card_.greeting, card_.credits);
  } else {
    const FrameText text = placedText_ ? *placedText_ : PlaceCardText(card_, framing);
    Titles.Fill(text.greeting, text.credits);
    Titles.GreetingY = text.greetingY;
    Titles.CreditY = text.creditY;
  }
  // Every line the frames will draw, in the glyph atlas before the first: it is made once, at its size.
  if (d3dx::Font* font = Gen.TextFont()) {
    font->PreloadText(Titles.Greeting.text);
    for (const render::TextLine& line : Titles.TitleLines) font->PreloadText(line.text);
  }
  D3D.Attach(&Gen, &Snow, &Titles);
}

void Form1::MainLoop(std::int64_t maxFrames) {
  for (std::int64_t frame = 0; maxFrames < 0 || frame < maxFrames; ++frame) {
    PumpEvents();
    if (unloaded_) return;
    ASCKEY();
    if (unloaded_) return;
    D3D.RenderFrame();
  }
}

void Form1::PumpEvents() {
  if (platform_.window) {
    platform::WindowEvents handlers;
    handlers.keyDown = [this](std::int16_t k) { Form_KeyDown(k, 0); };
    handlers.keyUp = [this](std::int16_t k) { Form_KeyUp(k, 0); };
    handlers.close = [this] {
      std::int16_t cancel = 0;
      Form_Unload(cancel);
    };
    platform_.window->PumpEvents(handlers);
  }
  if (!unloaded_ && tmrTitle.Poll()) tmrTitle_Timer();
}

void Form1::Form_KeyDown(std::int16_t keyCode, std::int16_t shift) {
  (void)shift;
  if (static_cast<std::uint16_t>(keyCode) > 255)
    throw platform::Error("Form_KeyDown", "key code " + std::to_string(keyCode) + " out of range 0..255");
  KeyTable_[static_cast<std::size_t>(keyCode)] = -1;
}

void Form1::Form_KeyUp(std::int16_t keyCode, std::int16_t shift) {
  (void)shift;
  if (static_cast<std::uint16_t>(keyCode) > 255)
    throw platform::Error("Form_KeyUp", "key code " + std::to_string(keyCode) + " out of range 0..255");
  KeyTable_[static_cast<std::size_t>(keyCode)] = 0;
}

void Form1::ASCKEY() {
  if (KeyTable_[27] != 0) {
    std::int16_t cancel = 0;
    Form_Unload(cancel);
  }
}

void Form1::Form_Unload(std::int16_t& cancel) {
  (void)cancel;
  if (unloaded_) return;
  Music.Shutdown();
  // The process ends here: whoever runs the loop sees this and stops before anything else runs.
  unloaded_ = true;
}

void Form1::tmrTitle_Timer() {
  std::int16_t next = 0;
  if (__builtin_add_overflow(Titles.TitleIndex, std::int16_t{1}, &next))
    throw platform::Error("tmrTitle_Timer", "credit line index overflow");
  Titles.TitleIndex = next;
  if (Titles.TitleIndex == Titles.Steps) Titles.TitleIndex = 0;
}

}  // namespace app
