#include "scene/Mesh.h"

#include "render/modD3D.h"

namespace scene {

void Mesh::Load(const std::string& File) { (void)File; }

void Mesh::Render() {}

}  // namespace scene
