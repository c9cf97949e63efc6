// Fewer triangles for a model drawn small: vertex clustering on a uniform grid, as coarse as it must
// be to bring the model within a triangle budget.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/d3dx/Mesh.h"
#include "platform/d3dx/XFile.h"

namespace d3dx {

// Leaves `model` as it is when it has at most `maxTriangles` triangles; otherwise merges the vertices
// of each grid cell into one (its members' mean position, normal, colour and texture coordinate) and
// keeps the triangles whose three corners stay apart, each triangle once per material. Vertices merge
// only with vertices of the same side of the model (the dominant direction of their normals) and of
// the same texture patch (their coordinates within the same eighth of the texture), so that seams and
// sharp edges stay where they were. The grid is the finest that meets the budget; a model that no grid
// brings within it keeps the coarsest result. Returns the number of triangles left.
std::size_t SimplifyModel(XModel& model, std::size_t maxTriangles);

// The same for a loaded mesh: a new mesh on the same device, or null when `mesh` is within the budget.
std::unique_ptr<D3DXMesh> D3DXSimplifyMesh(const D3DXMesh& mesh, std::size_t maxTriangles);

}  // namespace d3dx
