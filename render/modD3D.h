// The rendering core: the device and its fixed states, the shared matrices, the frame sequence and
// the camera orbit.
#pragma once

#include <memory>
#include <string>

#include "platform/d3d/Device.h"
#include "platform/d3d/Direct3D8.h"
#include "render/FrameContext.h"
#include "render/Framing.h"

namespace scene {
class Plane;
class Mesh;
}  // namespace scene
namespace snow {
class modSnow;
}

namespace render {

class Camera;
class FrameStopwatch;
class modGen;
class Random;
struct Credits;

class modD3D {
 public:
  // `DX` creates the device; `GroundFile` is the ground texture, loaded as GroundTexture. RenderFrame
  // times each frame on `stopwatch` and hands `rnd` to the draws.
  modD3D(d3d::Direct3D8& DX, std::string GroundFile, FrameStopwatch& stopwatch, Random& rnd);
  ~modD3D();

  // The modules the frame sequence draws with; any left null is skipped.
  void Attach(modGen* gen, snow::modSnow* snow, Credits* credits) {
    gen_ = gen;
    snow_ = snow;
    credits_ = credits;
  }

  void InitD3D(void* hWnd);
  void RenderFrame();
  void MoveCamera();

  // The scene objects, each created on first use.
  Camera& GetCamera();
  scene::Plane& GetPlane();
  scene::Mesh& GetMesh();
  bool HasMesh() const { return mesh_ != nullptr; }

  // The device, for an operation that needs one: before InitD3D has made it, an error naming `call`.
  d3d::Device& DeviceFor(const char* call) const;
  // What a draw needs now: the device (as DeviceFor(`call`) gives it), the stopwatch's last span (at
  // MotionScale), the generator and the shared matrices.
  FrameContext Frame(const char* call);

  // The frame's size and shape, set before InitD3D: the back buffer's size and the projection.
  render::Framing Framing;

  // Shared rendering state.
  d3d::Direct3D8& DX;
  d3d::D3DDISPLAYMODE DisplayMode{};
  d3d::D3DPRESENT_PARAMETERS PresentParams{};
  std::unique_ptr<d3d::Device> D3DDevice;
  d3d::D3DMATRIX matWorld{}, matView{}, matProj{};
  std::shared_ptr<d3d::Texture> GroundTexture;
  float CamX = 0.0f, CamZ = 0.0f;
  float OrbitAngle = 0.0f;
  // The share of their speed the orbit and the snow move at (0..1; the page's reduced motion). The
  // credit timer and the tune keep theirs. At 1 the frame's time is taken as it is.
  double MotionScale = 1.0;

  static constexpr d3d::D3DCOLOR kSkyColor = d3d::D3DColorRGB(127, 127, 180);

 private:
  // The stopwatch's last span, slowed to MotionScale.
  double MotionTime() const;

  std::string groundFile_;
  FrameStopwatch& stopwatch_;
  Random& rnd_;
  modGen* gen_ = nullptr;
  snow::modSnow* snow_ = nullptr;
  Credits* credits_ = nullptr;
  std::unique_ptr<Camera> camera_;
  std::unique_ptr<scene::Plane> plane_;
  std::unique_ptr<scene::Mesh> mesh_;
};

}  // namespace render
