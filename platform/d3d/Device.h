// The fixed-function device: a Direct3D 8 state machine whose draws go to a backend (OpenGL, or the
// recording backend of the tests). The device validates every call, keeps every state, and hands the
// backend each draw together with the state in force for it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/d3d/d3d8types.h"

namespace d3d {

class Backend;

// A texture: the decoded image and its whole mip chain, RGBA8, level 0 first. The backend keeps its
// own copy (a GL texture) behind `backendHandle`, released with the texture; once it has one, the
// device lets go of `levels` when the next scene begins (Device::KeepTexels).
class Texture {
 public:
  struct Level {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgba;  // width x height x 4 bytes, top row first
  };
  std::vector<Level> levels;
  std::shared_ptr<void> backendHandle;
  std::string source;  // the file it came from, for messages and tests
  int width = 0, height = 0;  // level 0's size, kept when the levels go

  int Width() const { return width; }
  int Height() const { return height; }
};

// A vertex buffer: its bytes live here; the backend uploads them once before the next draw that
// reads them after a write, so many small writes in a frame cost one upload.
class VertexBuffer {
 public:
  VertexBuffer(DWORD length, DWORD usage, DWORD fvf, DWORD pool)
      : length_(length), usage_(usage), fvf_(fvf), pool_(pool), data_(length, 0) {}

  // The library's byte-range copy into the buffer at an offset.
  void SetData(DWORD offset, DWORD size, DWORD flags, const void* src);

  DWORD Length() const { return length_; }
  DWORD Usage() const { return usage_; }
  DWORD FVF() const { return fvf_; }
  DWORD Pool() const { return pool_; }
  const std::uint8_t* Data() const { return data_.data(); }
  std::uint8_t* MutableData() { return data_.data(); }

  // Byte range written since the backend last uploaded; empty when clean.
  std::size_t dirtyBegin = SIZE_MAX, dirtyEnd = 0;
  std::shared_ptr<void> backendHandle;

 private:
  DWORD length_, usage_, fvf_, pool_;
  std::vector<std::uint8_t> data_;
};

// An index buffer of 16-bit indices: like a vertex buffer, its bytes live here and the backend
// uploads them once before the next draw that reads them after a write. The geometry of a model is
// written once and then drawn every frame from the backend's copy.
class IndexBuffer {
 public:
  IndexBuffer(DWORD length, DWORD usage, DWORD format, DWORD pool)
      : length_(length), usage_(usage), format_(format), pool_(pool), data_((length + 1) / 2, 0) {}

  void SetData(DWORD offset, DWORD size, DWORD flags, const void* src);

  DWORD Length() const { return length_; }
  DWORD Usage() const { return usage_; }
  DWORD Format() const { return format_; }
  DWORD Pool() const { return pool_; }
  const std::uint8_t* Data() const { return reinterpret_cast<const std::uint8_t*>(data_.data()); }
  // The indices as the draws read them (the buffer's bytes, two to an index).
  const std::uint16_t* Indices() const { return data_.data(); }
  // Counts the writes: what was derived from the indices (a check, a rebuilt list) holds while it
  // is unchanged.
  std::uint64_t Generation() const { return generation_; }

  // Byte range written since the backend last uploaded; empty when clean.
  std::size_t dirtyBegin = SIZE_MAX, dirtyEnd = 0;
  std::shared_ptr<void> backendHandle;

  // Index ranges the device has found inside their vertex ranges since the last write, so a model
  // drawn every frame has its indices read once: start index, index count, first and last vertex.
  struct CheckedRange {
    DWORD start, count, low, high;
  };
  std::vector<CheckedRange> checked;

 private:
  DWORD length_, usage_, format_, pool_;
  // Kept in 16-bit units, so that the indices are aligned for reading.
  std::vector<std::uint16_t> data_;
  std::uint64_t generation_ = 0;
};

// A light the device was given, and whether draws are lit by it.
struct LightSlot {
  D3DLIGHT8 light{};
  bool enabled = false;
};

// Everything a draw depends on.
struct DeviceState {
  std::array<DWORD, kRenderStateCount> renderStates{};
  std::array<std::array<DWORD, kTextureStageStateCount>, kTextureStageCount> stageStates{};
  std::array<std::shared_ptr<Texture>, kTextureStageCount> textures{};
  D3DMATRIX world{}, view{}, projection{};
  DWORD fvf = 0;
  std::shared_ptr<VertexBuffer> streamSource;
  DWORD streamStride = 0;
  std::shared_ptr<IndexBuffer> indices;
  DWORD baseVertexIndex = 0;  // added to every index of a DrawIndexedPrimitive
  D3DMATERIAL8 material{};
  std::map<DWORD, LightSlot> lights;  // every light set or enabled, by index
  DWORD enabledLights = 0;            // how many of them are enabled
  DWORD viewportWidth = 1024, viewportHeight = 768;
};

// One validated draw. Vertices are `vertexCount` records of `stride` bytes starting at `vertices`;
// indices, when present, are already checked to address only those records (they are relative to
// `vertices`). `buffer` is set for draws from a vertex buffer (`vertices` then points into it), and
// `indexBuffer` for draws from an index buffer (`indices` then points into it, at `startIndex`).
struct DrawCall {
  D3DPRIMITIVETYPE type = D3DPT_TRIANGLELIST;
  DWORD primitiveCount = 0;
  DWORD fvf = 0;
  DWORD stride = 0;
  const std::uint8_t* vertices = nullptr;
  DWORD vertexCount = 0;
  const std::uint16_t* indices = nullptr;  // null for non-indexed draws
  DWORD indexCount = 0;
  DWORD firstVertex = 0;  // start vertex within `buffer`, or the minimum index of an indexed draw
  VertexBuffer* buffer = nullptr;
  IndexBuffer* indexBuffer = nullptr;
  DWORD startIndex = 0;  // of an index-buffer draw: its first index in the buffer
  DWORD baseVertex = 0;  // of an index-buffer draw: the record `vertices` starts at in `buffer`
};

// A recorded device call: its name, its integer arguments and, for transform calls, the matrix.
struct Call {
  std::string name;
  std::vector<std::int64_t> args;
  D3DMATRIX matrix{};
};

// Vertex record size for a flexible vertex format (GetFVFVertexSize).
DWORD GetFVFVertexSize(DWORD fvf);
// Whether the backends can draw this format.
bool IsSupportedFVF(DWORD fvf);
// Vertices a primitive count needs for a primitive type.
DWORD VertexCountFor(D3DPRIMITIVETYPE type, DWORD primitiveCount);

class Device {
 public:
  explicit Device(std::unique_ptr<Backend> backend, DWORD width = 1024, DWORD height = 768);
  ~Device();
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  void SetRenderState(DWORD state, DWORD value);
  DWORD GetRenderState(DWORD state) const;
  void SetTextureStageState(DWORD stage, DWORD type, DWORD value);
  DWORD GetTextureStageState(DWORD stage, DWORD type) const;
  void SetTransform(DWORD state, const D3DMATRIX& m);
  D3DMATRIX GetTransform(DWORD state) const;
  void MultiplyTransform(DWORD state, const D3DMATRIX& m);  // T := M x T
  void SetTexture(DWORD stage, std::shared_ptr<Texture> texture);
  std::shared_ptr<Texture> GetTexture(DWORD stage) const;
  void SetVertexShader(DWORD fvf);
  DWORD GetVertexShader() const { return state_.fvf; }
  void SetMaterial(const D3DMATERIAL8& material);
  D3DMATERIAL8 GetMaterial() const { return state_.material; }
  // Lights by any index; at most kMaxActiveLights enabled at once. Enabling an index never set
  // gives it Direct3D's default light: directional, white, along +z.
  void SetLight(DWORD index, const D3DLIGHT8& light);
  D3DLIGHT8 GetLight(DWORD index) const;
  void LightEnable(DWORD index, BOOL enable);
  BOOL GetLightEnable(DWORD index) const;
  void SetStreamSource(DWORD stream, std::shared_ptr<VertexBuffer> buffer, DWORD stride);
  // The index buffer DrawIndexedPrimitive reads, and the vertex number its index 0 stands for.
  void SetIndices(std::shared_ptr<IndexBuffer> indexBuffer, DWORD baseVertexIndex);
  std::shared_ptr<IndexBuffer> GetIndices(DWORD& baseVertexIndex) const {
    baseVertexIndex = state_.baseVertexIndex;
    return state_.indices;
  }

  std::shared_ptr<VertexBuffer> CreateVertexBuffer(DWORD length, DWORD usage, DWORD fvf, DWORD pool);
  // 16-bit indices only (D3DFMT_INDEX16), the format every draw of the device reads.
  std::shared_ptr<IndexBuffer> CreateIndexBuffer(DWORD length, DWORD usage, DWORD format, DWORD pool);
  // Takes ownership of a decoded image and its mips and gives it to the backend.
  std::shared_ptr<Texture> CreateTexture(std::vector<Texture::Level> levels, std::string source);
  // Whether textures keep their texels after the backend made its own copy. Off, a texture's
  // levels are released when the scene after its creation begins (until then its creator may
  // still read them); tests that read a texture back turn it on before that scene.
  void KeepTexels(bool keep) { keepTexels_ = keep; }

  void Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil);
  void BeginScene();
  void EndScene();
  void Present(const void* sourceRect, const void* destRect, const void* windowOverride, const void* dirtyRegion);

  void DrawPrimitiveUP(D3DPRIMITIVETYPE type, DWORD primitiveCount, const void* vertexData, DWORD stride);
  void DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, DWORD minIndex, DWORD numVertices, DWORD primitiveCount,
                              const void* indexData, DWORD indexFormat, const void* vertexData, DWORD stride);
  void DrawPrimitive(D3DPRIMITIVETYPE type, DWORD startVertex, DWORD primitiveCount);
  // Primitives from the index buffer's indices from `startIndex`, each index plus the base vertex
  // index naming a record of the stream source; every index lies in minIndex .. minIndex +
  // numVertices - 1.
  void DrawIndexedPrimitive(D3DPRIMITIVETYPE type, DWORD minIndex, DWORD numVertices, DWORD startIndex,
                            DWORD primitiveCount);

  const DeviceState& State() const { return state_; }
  bool InScene() const { return inScene_; }
  Backend& GetBackend() { return *backend_; }
  std::uint64_t PresentCount() const { return presents_; }
  // Draws up to the next Present without filling pixels (Backend::drawNextFrameUnseen).
  void DrawNextFrameUnseen();

  // Runs after every Present: where the display would wait for the retrace, a headless run advances
  // its virtual clock.
  std::function<void()> onPresent;

 private:
  void record(const char* name, std::initializer_list<std::int64_t> args, const D3DMATRIX* m = nullptr);
  void checkDraw(const char* call, DWORD fvf) const;
  VertexBuffer* checkedStream(const char* call) const;
  D3DMATRIX* transformSlot(const char* call, DWORD state);
  const LightSlot& lightSlot(const char* call, DWORD index) const;

  std::unique_ptr<Backend> backend_;
  DeviceState state_;
  bool keepTexels_ = false;
  std::vector<std::weak_ptr<Texture>> uploaded_;  // textures whose levels go at the next BeginScene
  bool inScene_ = false;
  std::uint64_t presents_ = 0;
};

// Where a device draws. The backend sees only validated calls.
class Backend {
 public:
  virtual ~Backend() = default;
  virtual void clear(DWORD flags, D3DCOLOR color, float z, DWORD stencil) = 0;
  virtual void draw(const DrawCall& call, const DeviceState& state) = 0;
  virtual void present() = 0;
  virtual void createTexture(Texture& texture) { (void)texture; }
  // Whether `call` is wanted: the recording backend logs every device call in order.
  virtual bool recordsCalls() const { return false; }
  virtual void call(Call&& call) { (void)call; }
  // Waits until everything sent so far has been drawn (timings of the drawing itself).
  virtual void finish() {}
  // The frame up to the next Present makes every call as any frame does but fills no pixels: a
  // frame nobody will see (the web page skipping ahead).
  virtual void drawNextFrameUnseen() {}
  // The back buffer as RGBA8, top row first; empty where the backend has no pixels.
  virtual std::vector<std::uint8_t> readBack(DWORD& width, DWORD& height) {
    width = height = 0;
    return {};
  }
  // The same into `pixels`, whose memory is reused where it is large enough: a recording reads
  // back every frame, and a fresh buffer each time costs page faults and clearing.
  virtual void readBackInto(std::vector<std::uint8_t>& pixels, DWORD& width, DWORD& height) {
    pixels = readBack(width, height);
  }
};

}  // namespace d3d
