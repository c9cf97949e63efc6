// terrain-example: a flight over a lit, smoothed height-map terrain under a sky box, the two scene
// components that the greeting itself never creates. It runs fullscreen, in a window or headless,
// with the same options as the demo.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "app/Options.h"
#include "app/modAPI.h"
#include "components/LandScape.h"
#include "components/SkyBox.h"
#include "platform/d3d/Error.h"
#include "platform/d3d/d3dxmath.h"
#include "platform/d3dx/Texture.h"
#include "platform/gl/GlDirect3D8.h"
#include "platform/window/Window.h"
#include "render/Camera.h"
#include "render/Random.h"
#include "render/modD3D.h"
#include "render/modGen.h"

namespace {

using namespace d3d;

constexpr std::int64_t kHeadlessFrequency = 6'000'000;
constexpr std::int64_t kHeadlessFrameCounts = 100'000;  // 1000/60 ms

// The flight: a circle round the middle of the map, heading along it, well above the ground.
constexpr double kOrbitRadius = 150.0;
constexpr double kOrbitSpeed = 0.0002;  // radians per millisecond
constexpr float kEyeHeight = 14.0f;
constexpr float kSkyScale = 500.0f;  // its corners stay inside the 1000-unit far plane

class TerrainScene {
 public:
  TerrainScene(Direct3D8& dx, const std::string& appPath, platform::PerformanceCounter& counter)
      : api_(counter),
        d3d_(dx, platform::MediaPath(appPath, "\\tex\\snow.jpg"), api_, rnd_),
        appPath_(appPath) {}

  void Startup(void* hWnd) {
    d3d_.InitD3D(hWnd);
    Device& dev = *d3d_.D3DDevice;
    sky_ = std::make_unique<components::SkyBox>(dev);
    sky_->CreateSkyBox(kSkyScale);
    for (int k = 0; k < 6; ++k)
      sky_->SetSkyTexture(k, platform::MediaPath(appPath_, "\\terrain\\sky" + std::to_string(k) + ".jpg"));

    land_ = std::make_unique<components::LandScape>(dev, d3d_.GroundTexture);
    // 256 x 256 samples two units apart, centred on the origin, up to 64 units high.
    land_->InitLand(platform::MediaPath(appPath_, "\\terrain\\height.tga"), 2.0f, 0.125f, 1.0f / 32, 0.25f,
                    -255.0f, 0.0f, -255.0f);
    land_->FrameSize(128);
    land_->FilterHeight();
    land_->FilterHeight();
    land_->CalcLiteMap(render::MakeVector(1.0f, -1.0f, 0.5f), D3DColorRGB(255, 252, 245),
                       D3DColorRGB(70, 85, 125));
  }

  void RenderFrame() {
    Device& dev = *d3d_.D3DDevice;
    api_.FrameTimer(-1);
    angle_ += api_.FrameTime * kOrbitSpeed;
    const float x = static_cast<float>(std::cos(angle_) * kOrbitRadius);
    const float z = static_cast<float>(std::sin(angle_) * kOrbitRadius);
    const float heading = static_cast<float>(angle_);
    const float fx = -std::sin(heading), fz = std::cos(heading);
    // Clear of the ground here and a little ahead, so a rising slope never cuts the view.
    float ground = land_->GetHeight(x, z);
    for (float ahead : {10.0f, 20.0f, 30.0f})
      ground = std::max(ground, land_->GetHeight(x + fx * ahead, z + fz * ahead));
    const float eyeY = ground + kEyeHeight;

    render::Camera& camera = d3d_.GetCamera();
    camera.SetPosition(x, eyeY, z);
    camera.SetLook(render::MakeVector(x + fx * 40.0f, eyeY - 9.0f, z + fz * 40.0f));
    camera.Update();

    dev.Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, render::modD3D::kSkyColor, 1.0f, 0);
    dev.BeginScene();
    sky_->RenderSkyBox(camera.GetPosition());
    // The sky box leaves its opposite translation on the world; the terrain's vertices are in world
    // coordinates already.
    D3DMATRIX identity;
    d3dx::D3DXMatrixIdentity(&identity);
    dev.SetTransform(D3DTS_WORLD, identity);
    land_->Render(x, z, heading, 1.0f);
    dev.EndScene();
    dev.Present(nullptr, nullptr, nullptr, nullptr);
    api_.FrameTimer(0);
  }

  Device& device() { return *d3d_.D3DDevice; }

 private:
  app::modAPI api_;
  render::Random rnd_;
  render::modD3D d3d_;
  std::string appPath_;
  std::unique_ptr<components::SkyBox> sky_;
  std::unique_ptr<components::LandScape> land_;
  double angle_ = 0.6;
};

std::string Usage(const std::string& program) {
  return "Usage: " + program +
         " [options]\n"
         "A flight over a lit height-map terrain under a sky box.\n"
         "Without options it takes over the screen; hold Escape to end it.\n\n"
         "Options:\n"
         "  --window              run in a 1024x768 window instead of fullscreen\n"
         "  --headless            render offscreen; the clock advances a fixed 1000/60 ms per frame\n"
         "  --frames N            headless: render N frames (default 1)\n"
         "  --screenshot FILE     headless: write the last frame as a 1024x768 PNG\n"
         "  --help                show this text\n";
}

int run(const app::Options& o) {
  const std::string appPath = platform::ApplicationFolder();
  if (o.headless) {
    platform::VirtualPerformanceCounter counter(kHeadlessFrequency);
    gl::GlDirect3D8 direct3d(/*headless=*/true);
    TerrainScene scene(direct3d, appPath, counter);
    scene.Startup(nullptr);
    scene.device().onPresent = [&counter] { counter.Advance(kHeadlessFrameCounts); };
    for (std::int64_t f = 0; f < o.frames; ++f) scene.RenderFrame();
    if (!o.screenshot.empty()) {
      DWORD w = 0, h = 0;
      const auto pixels = scene.device().GetBackend().readBack(w, h);
      d3dx::WritePng(o.screenshot, pixels, static_cast<int>(w), static_cast<int>(h));
      std::cout << "Wrote frame " << o.frames << " to " << o.screenshot << "\n";
    }
    std::cout.flush();
    std::_Exit(0);
  }
  platform::SdlPerformanceCounter counter;
  platform::Window window(o.windowed ? platform::WindowMode::Windowed : platform::WindowMode::Fullscreen,
                          "terrain-example");
  gl::GlDirect3D8 direct3d(/*headless=*/false);
  TerrainScene scene(direct3d, appPath, counter);
  scene.Startup(&window);
  bool done = false;
  platform::WindowEvents events;
  events.keyDown = [&done](std::int16_t key) { done = done || key == 27; };
  events.close = [&done] { done = true; };
  while (!done) {
    window.PumpEvents(events);
    if (!done) scene.RenderFrame();
  }
  std::cout.flush();
  std::_Exit(0);
}

}  // namespace

int main(int argc, char** argv) {
  return app::RunProgram(argc, argv, "terrain-example", Usage, run);
}
