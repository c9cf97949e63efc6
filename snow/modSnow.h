// The snow: a pool of 3000 flakes that fall, settle, fade and respawn, drawn as point sprites.
#pragma once

namespace app {
class modAPI;
}
namespace render {
class modD3D;
class Random;
}  // namespace render

namespace snow {

class modSnow {
 public:
  modSnow(render::modD3D& d3d, app::modAPI& api, render::Random& rnd) : d3d_(d3d), api_(api), rnd_(rnd) {}

  void InitSnow();
  void RenderSnow();

 private:
  render::modD3D& d3d_;
  app::modAPI& api_;
  render::Random& rnd_;
};

}  // namespace snow
