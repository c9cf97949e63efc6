// terrain-example: a flight over a lit, smoothed height-map terrain under a sky box, the two scene
// components that the greeting itself never creates, shown with what the device offers around them:
// a detail texture on the second stage, smooth shading, and haze where the drawn window ends. It runs
// fullscreen, in a window or headless, with the same options as the demo.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "app/Options.h"
#include "app/modAPI.h"
#include "components/LandScape.h"
#include "components/SkyBox.h"
#include "platform/files/FileName.h"
#include "platform/base/Error.h"
#include "platform/d3d/d3dxmath.h"
#include "platform/d3dx/Texture.h"
#include "platform/gl/GlDirect3D8.h"
#include "platform/window/Window.h"
#include "render/Camera.h"
#include "render/Random.h"
#include "render/fog.h"
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
// The sky box is drawn first and writes no depth, so its size only has to clear the near plane:
// ground far beyond it still shows.
constexpr float kSkyScale = 50.0f;
// The haze that hides where the drawn window of the terrain ends: the window reaches 256 units
// ahead, its sides come into view from about 170 units, and the map's own edge from about 200 on
// the flight's circle. Its colour is the sky's just below the horizon.
constexpr float kFogStart = 40.0f, kFogEnd = 165.0f;
constexpr D3DCOLOR kHaze = D3DColorRGB(192, 200, 218);

DWORD Bits(float f) {
  return static_cast<DWORD>(render::FloatBits(f));
}

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
    std::array<std::string, 6> faces;
    const char* const names[6] = {"posx", "negx", "posy", "negy", "posz", "negz"};
    for (std::size_t k = 0; k < 6; ++k)
      faces[k] = platform::MediaPath(appPath_, std::string("\\terrain\\sky_") + names[k] + ".jpg");
    sky_->SetSkyTexturesFromCubeMap(faces);

    land_ = std::make_unique<components::LandScape>(dev, d3d_.GroundTexture);
    // 256 x 256 samples two units apart, centred on the origin, up to 64 units high. The ground
    // texture repeats every 8 grid steps on the first coordinate set, the detail every step on the
    // second.
    land_->InitLand(platform::MediaPath(appPath_, "\\terrain\\height.tga"), 2.0f, 0.125f, 1.0f, 0.25f,
                    -255.0f, 0.0f, -255.0f);
    land_->FrameSize(128);
    land_->FilterHeight();
    land_->FilterHeight();
    land_->CalcLiteMap(render::MakeVector(1.0f, -1.0f, 0.5f), D3DColorRGB(255, 252, 245),
                       D3DColorRGB(70, 85, 125));
    detail_ = d3dx::D3DXCreateTextureFromFile(dev, platform::MediaPath(appPath_, "\\terrain\\detail.jpg"));

    // The example's own states: smooth shading across the light map, and on stage 1 the detail
    // texture doubling the ground's colour (grey 128 leaves it as it is) through coordinate set 2.
    dev.SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
    dev.SetTexture(1, detail_);
    dev.SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    dev.SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
    dev.SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
    dev.SetTextureStageState(1, D3DTSS_ALPHAARG2, D3DTA_CURRENT);
    dev.SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 1);
    for (DWORD type : {D3DTSS_MAGFILTER, D3DTSS_MINFILTER, D3DTSS_MIPFILTER})
      dev.SetTextureStageState(1, type, D3DTEXF_LINEAR);
    dev.SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR);
    dev.SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_NONE);
    dev.SetRenderState(D3DRS_FOGCOLOR, kHaze);
    dev.SetRenderState(D3DRS_FOGSTART, Bits(kFogStart));
    dev.SetRenderState(D3DRS_FOGEND, Bits(kFogEnd));
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
    camera.Update(d3d_.Frame("Camera.Update"));

    dev.Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, render::modD3D::kSkyColor, 1.0f, 0);
    dev.BeginScene();
    // The sky: behind everything, unfogged, one texture, and clamped at its faces' edges so that no
    // texel of the opposite edge bleeds into a seam.
    dev.SetRenderState(D3DRS_ZWRITEENABLE, 0);
    dev.SetRenderState(D3DRS_FOGENABLE, 0);
    dev.SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    dev.SetTextureStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP);
    dev.SetTextureStageState(0, D3DTSS_ADDRESSV, D3DTADDRESS_CLAMP);
    sky_->RenderSkyBox(camera.GetPosition());
    dev.SetTextureStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_WRAP);
    dev.SetTextureStageState(0, D3DTSS_ADDRESSV, D3DTADDRESS_WRAP);
    dev.SetRenderState(D3DRS_ZWRITEENABLE, 1);

    // The terrain's vertices are in world coordinates already; the sky box leaves its opposite
    // translation on the world. Ground and detail, hazed towards the window's end.
    D3DMATRIX identity;
    d3dx::D3DXMatrixIdentity(&identity);
    dev.SetTransform(D3DTS_WORLD, identity);
    dev.SetRenderState(D3DRS_FOGENABLE, 1);
    dev.SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE2X);
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
  std::shared_ptr<Texture> detail_;
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
