#include "render/modD3D.h"

#include <cmath>

#include "platform/base/Error.h"
#include "platform/d3d/d3dxmath.h"
#include "platform/d3dx/Texture.h"
#include "render/Camera.h"
#include "render/Credits.h"
#include "render/FrameStopwatch.h"
#include "render/Random.h"
#include "render/modGen.h"
#include "scene/Mesh.h"
#include "scene/Plane.h"
#include "snow/modSnow.h"

namespace render {

using namespace d3d;

modD3D::modD3D(Direct3D8& dx, std::string GroundFile, FrameStopwatch& stopwatch, Random& rnd)
    : DX(dx), groundFile_(std::move(GroundFile)), stopwatch_(stopwatch), rnd_(rnd) {}

modD3D::~modD3D() = default;

Camera& modD3D::GetCamera() {
  if (!camera_) camera_ = std::make_unique<Camera>();
  return *camera_;
}

scene::Plane& modD3D::GetPlane() {
  if (!plane_) plane_ = std::make_unique<scene::Plane>();
  return *plane_;
}

scene::Mesh& modD3D::GetMesh() {
  if (!mesh_) mesh_ = std::make_unique<scene::Mesh>();
  return *mesh_;
}

Device& modD3D::DeviceFor(const char* call) const {
  if (!D3DDevice) throw platform::Error(call, "no device: InitD3D has not run");
  return *D3DDevice;
}

double modD3D::MotionTime() const {
  // No product at all at full speed: every frame stays exactly as it always was.
  return MotionScale == 1.0 ? stopwatch_.FrameTime : stopwatch_.FrameTime * MotionScale;
}

FrameContext modD3D::Frame(const char* call) {
  return FrameContext{DeviceFor(call), MotionTime(), rnd_, matWorld, matView, matProj};
}

void modD3D::InitD3D(void* hWnd) {
  DisplayMode = DX.GetAdapterDisplayMode(D3DADAPTER_DEFAULT);

  PresentParams = D3DPRESENT_PARAMETERS{};
  PresentParams.BackBufferWidth = static_cast<DWORD>(Framing.width);
  PresentParams.BackBufferHeight = static_cast<DWORD>(Framing.height);
  PresentParams.BackBufferFormat = DisplayMode.Format;
  PresentParams.BackBufferCount = 1;
  PresentParams.MultiSampleType = D3DMULTISAMPLE_NONE;
  PresentParams.SwapEffect = D3DSWAPEFFECT_FLIP;
  PresentParams.hDeviceWindow = 0;
  PresentParams.Windowed = 0;
  PresentParams.EnableAutoDepthStencil = 1;
  PresentParams.AutoDepthStencilFormat = D3DFMT_D16;
  PresentParams.Flags = 0;
  PresentParams.FullScreen_RefreshRateInHz = 0;
  PresentParams.FullScreen_PresentationInterval = D3DPRESENT_INTERVAL_DEFAULT;

  D3DDevice = DX.CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, hWnd, D3DCREATE_SOFTWARE_VERTEXPROCESSING,
                              PresentParams);

  D3DDevice->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  D3DDevice->SetRenderState(D3DRS_LIGHTING, 0);
  D3DDevice->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);

  // Aspect 3/4, not 4/3, in the 1024 x 768 picture: the scene is drawn stretched horizontally, as it
  // always was. Other frame shapes keep that stretch (Framing.h).
  d3dx::D3DXMatrixPerspectiveFovLH(&matProj, Framing.fieldOfView, Framing.aspect, 0.1f, 1000.0f);
  D3DDevice->SetTransform(D3DTS_PROJECTION, matProj);

  GetCamera().SetPosition(0, 3, 0);

  D3DDevice->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
  D3DDevice->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
  D3DDevice->SetTextureStageState(0, D3DTSS_MIPFILTER, D3DTEXF_LINEAR);

  D3DDevice->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);

  GroundTexture = d3dx::D3DXCreateTextureFromFile(*D3DDevice, groundFile_);
}

void modD3D::RenderFrame() {
  // Before the stopwatch starts: a frame that cannot be drawn measures nothing.
  DeviceFor("RenderFrame");
  stopwatch_.FrameTimer(-1);
  const FrameContext frame = Frame("RenderFrame");
  GetCamera().Update(frame);
  frame.D3DDevice.Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kSkyColor, 1.0f, 0);
  frame.D3DDevice.BeginScene();
  MoveCamera();
  if (mesh_) mesh_->Render(frame);
  if (snow_) snow_->RenderSnow(frame);
  if (plane_) plane_->RenderPlane(frame);
  if (gen_) {
    if (credits_)
      gen_->PrintText(credits_->Greeting.x, credits_->GreetingY, credits_->Greeting.text, D3DColorRGB(255, 0, 0));
    // Three draws a frame, red first, each scaled to 0..255 and rounded ties-to-even.
    const auto r = static_cast<std::int16_t>(std::nearbyint(frame.Rnd.Rnd() * 255));
    const auto g = static_cast<std::int16_t>(std::nearbyint(frame.Rnd.Rnd() * 255));
    const auto b = static_cast<std::int16_t>(std::nearbyint(frame.Rnd.Rnd() * 255));
    const D3DCOLOR credit = D3DColorRGB(static_cast<std::uint32_t>(r), static_cast<std::uint32_t>(g),
                                        static_cast<std::uint32_t>(b));
    if (credits_) {
      const auto& lines = credits_->TitleLines;
      if (credits_->TitleIndex < 0 || static_cast<std::size_t>(credits_->TitleIndex) >= lines.size())
        throw platform::Error("RenderFrame", "credit line index " + std::to_string(credits_->TitleIndex) +
                                                 " out of range 0.." + std::to_string(lines.size() - 1));
      const TextLine& line = lines[static_cast<std::size_t>(credits_->TitleIndex)];
      gen_->PrintText(line.x, credits_->CreditY, line.text, credit);
    }
  }
  frame.D3DDevice.EndScene();
  frame.D3DDevice.Present(nullptr, nullptr, nullptr, nullptr);
  stopwatch_.FrameTimer(0);
}

void modD3D::MoveCamera() {
  double angle = static_cast<double>(OrbitAngle) + MotionTime() * 0.0005;
  if (!std::isfinite(angle)) throw platform::Error("MoveCamera", "orbit angle is not a finite number");
  // Kept within one turn: a 32-bit angle that only grew would, after a few days, be too coarse to
  // take one frame's step, and the camera would stop.
  constexpr double kTurn = 6.283185307179586;
  if (angle >= kTurn) angle = std::fmod(angle, kTurn);
  OrbitAngle = static_cast<float>(angle);
  CamX = static_cast<float>(std::cos(static_cast<double>(OrbitAngle)) * 100.0);
  CamZ = static_cast<float>(std::sin(static_cast<double>(OrbitAngle)) * 100.0 + 30.0);
  Camera& camera = GetCamera();
  camera.SetPosition(CamX, 15, CamZ);
  camera.SetLook(MakeVector(0, 10, 30));
  if (mesh_) mesh_->SetPosition(0, 1, 30);
}

}  // namespace render
