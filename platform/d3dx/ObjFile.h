// The Wavefront OBJ reader: a model as text (v, vt, vn, f, usemtl, mtllib) with its materials in MTL
// libraries beside it (newmtl, Kd, Ke, d, Tr, map_Kd), made into the same model an X file gives.
// OBJ is right-handed with +y up and its images' rows bottom first; the model is turned into the
// scene's left-handed system (z negated, each triangle's 2nd and 3rd corners swapped so its front
// stays in front) and v flipped (v' = 1 - v). Polygons are split into fans from their first corner.
//
// The file comes from anyone. It is refused, naming it and the line, when it breaks a rule: an index
// that is 0, out of range or negative beyond the start, a face of fewer than three corners, a number
// that is not finite or does not fit a float (1e999, nan, inf; tiny ones such as 1e-50 become 0), a
// line over kMaxObjLine, bytes that are not text, more than kMaxModelTriangles triangles (counted before
// anything is sized by them) or kMaxModelVertices vertices, or a model that would need more than
// kMaxObjMemory bytes. The reader only counts, compares and copies, so its time is linear in the file.
//
// Its material libraries are a help, not a need: a library that cannot be read (missing, leaving the
// model's folder, too large, not text, a bad number) is skipped with a warning, and the faces keep
// their material groups drawn in the default white. A texture whose name leaves the folder or is
// not there is dropped with a warning. A library named twice (or the OBJ itself named as one) is read
// once; a library never names another, so nothing can loop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/d3dx/XFile.h"

namespace d3dx {

// The largest OBJ file and material library read, and the longest line either may have.
constexpr std::size_t kMaxObjFile = 128u << 20;
constexpr std::size_t kMaxMtlFile = 4u << 20;
constexpr std::size_t kMaxObjLine = 1u << 20;
// How many material libraries one model may name, and how many materials its faces may use.
constexpr std::size_t kMaxObjLibraries = 16;
constexpr std::size_t kMaxObjMaterials = 1u << 16;
// How many distinct texture names are looked up in the model's folder; later ones are dropped.
constexpr std::size_t kMaxObjTextures = 256;
// How many warnings are kept; one more says that others were left out.
constexpr std::size_t kMaxObjWarnings = 32;
// What the reader may hold at once: the file itself, its lists of v, vt and vn, and the model.
constexpr std::size_t kMaxObjMemory = 512u << 20;

struct ObjModel {
  XModel model;
  // Why something the OBJ names was left out (a material library, a material, a texture); the model
  // is drawn without it.
  std::vector<std::string> warnings;
};

// Parses an OBJ held in memory. Its material libraries and textures are looked up in `folder`
// (d3dx::ModelFilePath); with an empty folder no file is read and the materials are white. Throws
// platform::Error naming `call` and `file` when the OBJ itself is broken.
ObjModel ParseObjWithWarnings(const std::uint8_t* data, std::size_t size, const std::string& file,
                              const std::string& folder, const std::string& call = "D3DXLoadMeshFromX");

// The same, dropping the warnings.
XModel ParseObj(const std::uint8_t* data, std::size_t size, const std::string& file,
                const std::string& folder, const std::string& call = "D3DXLoadMeshFromX");

// Whether `file` is named as an OBJ (".obj" in any case).
bool LooksLikeObj(const std::string& file);

}  // namespace d3dx
