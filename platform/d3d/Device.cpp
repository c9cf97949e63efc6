#include "platform/d3d/Device.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "platform/base/Error.h"
#include "platform/d3d/d3dxmath.h"

namespace d3d {

namespace {

constexpr DWORD floatBits(float f) { return std::bit_cast<DWORD>(f); }

// A fresh Direct3D 8 device with an automatic depth buffer.
void setDefaults(DeviceState& s) {
  auto& rs = s.renderStates;
  rs[D3DRS_ZENABLE] = D3DZB_TRUE;
  rs[D3DRS_FILLMODE] = 3;  // solid
  rs[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
  rs[D3DRS_ZWRITEENABLE] = 1;
  rs[D3DRS_ALPHATESTENABLE] = 0;
  rs[D3DRS_LASTPIXEL] = 1;
  rs[D3DRS_SRCBLEND] = D3DBLEND_ONE;
  rs[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
  rs[D3DRS_CULLMODE] = D3DCULL_CCW;
  rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
  rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
  rs[D3DRS_ALPHABLENDENABLE] = 0;
  rs[D3DRS_FOGENABLE] = 0;
  rs[D3DRS_SPECULARENABLE] = 0;
  rs[D3DRS_FOGCOLOR] = 0;
  rs[D3DRS_FOGTABLEMODE] = D3DFOG_NONE;
  rs[D3DRS_FOGSTART] = floatBits(0.0f);
  rs[D3DRS_FOGEND] = floatBits(1.0f);
  rs[D3DRS_FOGDENSITY] = floatBits(1.0f);
  rs[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFF;
  rs[D3DRS_CLIPPING] = 1;
  rs[D3DRS_LIGHTING] = 1;
  rs[D3DRS_FOGVERTEXMODE] = D3DFOG_NONE;
  rs[D3DRS_AMBIENT] = 0;
  rs[D3DRS_COLORVERTEX] = 1;
  rs[D3DRS_LOCALVIEWER] = 1;
  rs[D3DRS_NORMALIZENORMALS] = 0;
  rs[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
  rs[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
  rs[D3DRS_AMBIENTMATERIALSOURCE] = D3DMCS_MATERIAL;
  rs[D3DRS_EMISSIVEMATERIALSOURCE] = D3DMCS_MATERIAL;
  rs[D3DRS_POINTSIZE] = floatBits(1.0f);
  rs[D3DRS_POINTSIZE_MIN] = floatBits(1.0f);
  rs[D3DRS_POINTSPRITEENABLE] = 0;
  rs[D3DRS_POINTSCALEENABLE] = 0;
  rs[D3DRS_POINTSCALE_A] = floatBits(1.0f);
  rs[D3DRS_POINTSCALE_B] = floatBits(0.0f);
  rs[D3DRS_POINTSCALE_C] = floatBits(0.0f);
  rs[D3DRS_POINTSIZE_MAX] = floatBits(64.0f);

  for (DWORD i = 0; i < kTextureStageCount; ++i) {
    auto& ts = s.stageStates[i];
    ts[D3DTSS_COLOROP] = i == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
    ts[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
    ts[D3DTSS_COLORARG2] = D3DTA_CURRENT;
    ts[D3DTSS_ALPHAOP] = i == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
    ts[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
    ts[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
    ts[D3DTSS_COLORARG0] = D3DTA_CURRENT;
    ts[D3DTSS_ALPHAARG0] = D3DTA_CURRENT;
    ts[D3DTSS_RESULTARG] = D3DTA_CURRENT;
    ts[D3DTSS_TEXCOORDINDEX] = i;
    ts[D3DTSS_ADDRESSU] = D3DTADDRESS_WRAP;
    ts[D3DTSS_ADDRESSV] = D3DTADDRESS_WRAP;
    ts[D3DTSS_ADDRESSW] = D3DTADDRESS_WRAP;
    ts[D3DTSS_MAGFILTER] = D3DTEXF_POINT;
    ts[D3DTSS_MINFILTER] = D3DTEXF_POINT;
    ts[D3DTSS_MIPFILTER] = D3DTEXF_NONE;
    ts[D3DTSS_MAXANISOTROPY] = 1;
  }
  d3dx::D3DXMatrixIdentity(&s.world);
  d3dx::D3DXMatrixIdentity(&s.view);
  d3dx::D3DXMatrixIdentity(&s.projection);
}

// The light a never-set index gets when it is enabled.
D3DLIGHT8 defaultLight() {
  D3DLIGHT8 l{};
  l.Type = D3DLIGHT_DIRECTIONAL;
  l.Diffuse = {1, 1, 1, 0};
  l.Direction = {0, 0, 1};
  return l;
}

// Why the device cannot light with `l`, or empty.
std::string lightFault(const D3DLIGHT8& l) {
  if (l.Type != D3DLIGHT_POINT && l.Type != D3DLIGHT_SPOT && l.Type != D3DLIGHT_DIRECTIONAL)
    return "light type " + std::to_string(static_cast<DWORD>(l.Type)) + " unknown";
  const D3DVECTOR& d = l.Direction;
  if (l.Type != D3DLIGHT_POINT && !(d.x * d.x + d.y * d.y + d.z * d.z > 0.0f)) return "direction of length 0";
  if (l.Type == D3DLIGHT_DIRECTIONAL) return "";
  if (!(l.Range >= 0.0f && l.Range <= std::sqrt(FLT_MAX))) return "range " + std::to_string(l.Range);
  const float a[3] = {l.Attenuation0, l.Attenuation1, l.Attenuation2};
  if (!(a[0] >= 0 && a[1] >= 0 && a[2] >= 0) || a[0] + a[1] + a[2] == 0.0f)
    return "attenuation must be non-negative and not all 0";
  if (l.Type == D3DLIGHT_SPOT && !(l.Theta >= 0.0f && l.Phi >= l.Theta && l.Phi <= 3.14159274f))
    return "cone angles need 0 <= Theta <= Phi <= pi";
  return "";
}

std::string hex(DWORD v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", v);
  return buf;
}

}  // namespace

[[noreturn, gnu::noinline, gnu::cold]] static void setDataOutOfRange(DWORD offset, DWORD size, DWORD length) {
  throw platform::Error("VertexBuffer SetData", "range " + std::to_string(offset) + "+" + std::to_string(size) +
                                                    " beyond the buffer's " + std::to_string(length) + " bytes");
}

void VertexBuffer::SetData(DWORD offset, DWORD size, DWORD flags, const void* src) {
  (void)flags;
  // Kept small: the snow writes 3000 slots a frame through here.
  if (static_cast<std::uint64_t>(offset) + size > length_) setDataOutOfRange(offset, size, length_);
  if (size == 0) return;
  std::memcpy(data_.data() + offset, src, size);
  dirtyBegin = std::min<std::size_t>(dirtyBegin, offset);
  dirtyEnd = std::max<std::size_t>(dirtyEnd, static_cast<std::size_t>(offset) + size);
}

void IndexBuffer::SetData(DWORD offset, DWORD size, DWORD flags, const void* src) {
  (void)flags;
  if (static_cast<std::uint64_t>(offset) + size > length_)
    throw platform::Error("IndexBuffer SetData", "range " + std::to_string(offset) + "+" + std::to_string(size) +
                                                     " beyond the buffer's " + std::to_string(length_) + " bytes");
  if (size == 0) return;
  std::memcpy(reinterpret_cast<std::uint8_t*>(data_.data()) + offset, src, size);
  dirtyBegin = std::min<std::size_t>(dirtyBegin, offset);
  dirtyEnd = std::max<std::size_t>(dirtyEnd, static_cast<std::size_t>(offset) + size);
  ++generation_;
  checked.clear();
}

DWORD GetFVFVertexSize(DWORD fvf) {
  DWORD size = 0;
  switch (fvf & D3DFVF_POSITION_MASK) {
    case D3DFVF_XYZ: size += 12; break;
    case D3DFVF_XYZRHW: size += 16; break;
    case 0x006: size += 16; break;  // XYZB1
    case 0x008: size += 20; break;  // XYZB2
    case 0x00A: size += 24; break;  // XYZB3
    case 0x00C: size += 28; break;  // XYZB4
    case 0x00E: size += 32; break;  // XYZB5
    default: break;
  }
  if (fvf & D3DFVF_NORMAL) size += 12;
  if (fvf & D3DFVF_PSIZE) size += 4;
  if (fvf & D3DFVF_DIFFUSE) size += 4;
  if (fvf & D3DFVF_SPECULAR) size += 4;
  const DWORD texCount = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
  // Every set is two floats unless the format's size bits (16 and up) say otherwise.
  for (DWORD i = 0; i < texCount; ++i) {
    const DWORD bits = (fvf >> (16 + 2 * i)) & 3;
    static constexpr DWORD kFloats[4] = {2, 3, 4, 1};
    size += 4 * kFloats[bits];
  }
  return size;
}

bool IsSupportedFVF(DWORD fvf) {
  const DWORD pos = fvf & D3DFVF_POSITION_MASK;
  if (pos != D3DFVF_XYZ && pos != D3DFVF_XYZRHW) return false;
  if (fvf & ~(D3DFVF_POSITION_MASK | D3DFVF_NORMAL | D3DFVF_PSIZE | D3DFVF_DIFFUSE | D3DFVF_SPECULAR |
              D3DFVF_TEXCOUNT_MASK))
    return false;  // texture-coordinate size bits and anything else unknown
  const DWORD texCount = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
  return texCount <= 2;
}

DWORD VertexCountFor(D3DPRIMITIVETYPE type, DWORD n) {
  const std::uint64_t p = n;
  std::uint64_t v = 0;
  switch (type) {
    case D3DPT_POINTLIST: v = p; break;
    case D3DPT_LINELIST: v = 2 * p; break;
    case D3DPT_LINESTRIP: v = p + 1; break;
    case D3DPT_TRIANGLELIST: v = 3 * p; break;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN: v = p + 2; break;
    default: throw platform::Error("Draw", "unknown primitive type " + std::to_string(type));
  }
  if (v > 0xFFFFFFFFu) throw platform::Error("Draw", "primitive count " + std::to_string(n) + " too large");
  return static_cast<DWORD>(v);
}

Device::Device(std::unique_ptr<Backend> backend, DWORD width, DWORD height) : backend_(std::move(backend)) {
  setDefaults(state_);
  state_.viewportWidth = width;
  state_.viewportHeight = height;
}

Device::~Device() = default;

void Device::record(const char* name, std::initializer_list<std::int64_t> args, const D3DMATRIX* m) {
  // Asked at every call: a test may stop the recording once start-up has been checked.
  if (!backend_->recordsCalls()) return;
  Call c{name, std::vector<std::int64_t>(args), m ? *m : D3DMATRIX{}};
  backend_->call(std::move(c));
}

void Device::SetRenderState(DWORD state, DWORD value) {
  record("SetRenderState", {state, value});
  if (state >= kRenderStateCount)
    throw platform::Error("SetRenderState", "render state " + std::to_string(state) + " out of range");
  state_.renderStates[state] = value;
}

DWORD Device::GetRenderState(DWORD state) const {
  if (state >= kRenderStateCount)
    throw platform::Error("GetRenderState", "render state " + std::to_string(state) + " out of range");
  return state_.renderStates[state];
}

void Device::SetTextureStageState(DWORD stage, DWORD type, DWORD value) {
  record("SetTextureStageState", {stage, type, value});
  if (stage >= kTextureStageCount || type >= kTextureStageStateCount)
    throw platform::Error("SetTextureStageState",
                          "stage " + std::to_string(stage) + " state " + std::to_string(type) + " out of range");
  state_.stageStates[stage][type] = value;
}

DWORD Device::GetTextureStageState(DWORD stage, DWORD type) const {
  if (stage >= kTextureStageCount || type >= kTextureStageStateCount)
    throw platform::Error("GetTextureStageState",
                          "stage " + std::to_string(stage) + " state " + std::to_string(type) + " out of range");
  return state_.stageStates[stage][type];
}

D3DMATRIX* Device::transformSlot(const char* call, DWORD state) {
  switch (state) {
    case D3DTS_WORLD: return &state_.world;
    case D3DTS_VIEW: return &state_.view;
    case D3DTS_PROJECTION: return &state_.projection;
    default: throw platform::Error(call, "transform state " + std::to_string(state) + " not supported");
  }
}

void Device::SetTransform(DWORD state, const D3DMATRIX& m) {
  record("SetTransform", {state}, &m);
  *transformSlot("SetTransform", state) = m;
}

D3DMATRIX Device::GetTransform(DWORD state) const {
  return *const_cast<Device*>(this)->transformSlot("GetTransform", state);
}

void Device::MultiplyTransform(DWORD state, const D3DMATRIX& m) {
  record("MultiplyTransform", {state}, &m);
  D3DMATRIX* t = transformSlot("MultiplyTransform", state);
  d3dx::D3DXMatrixMultiply(t, &m, t);
}

void Device::SetTexture(DWORD stage, std::shared_ptr<Texture> texture) {
  record("SetTexture", {stage, texture ? 1 : 0});
  if (stage >= kTextureStageCount) throw platform::Error("SetTexture", "stage " + std::to_string(stage) + " out of range");
  state_.textures[stage] = std::move(texture);
}

std::shared_ptr<Texture> Device::GetTexture(DWORD stage) const {
  if (stage >= kTextureStageCount) throw platform::Error("GetTexture", "stage " + std::to_string(stage) + " out of range");
  return state_.textures[stage];
}

void Device::SetVertexShader(DWORD fvf) {
  record("SetVertexShader", {fvf});
  state_.fvf = fvf;
}

void Device::SetMaterial(const D3DMATERIAL8& material) {
  record("SetMaterial", {});
  state_.material = material;
}

void Device::SetLight(DWORD index, const D3DLIGHT8& light) {
  record("SetLight", {index, static_cast<DWORD>(light.Type)});
  const std::string fault = lightFault(light);
  if (!fault.empty()) throw platform::Error("SetLight", "light " + std::to_string(index) + ": " + fault);
  state_.lights[index].light = light;
}

const LightSlot& Device::lightSlot(const char* call, DWORD index) const {
  const auto it = state_.lights.find(index);
  if (it == state_.lights.end())
    throw platform::Error(call, "light " + std::to_string(index) + " was never set");
  return it->second;
}

D3DLIGHT8 Device::GetLight(DWORD index) const {
  return lightSlot("GetLight", index).light;
}

void Device::LightEnable(DWORD index, BOOL enable) {
  record("LightEnable", {index, enable});
  auto it = state_.lights.find(index);
  const bool on = enable != 0;
  if (on && (it == state_.lights.end() || !it->second.enabled) && state_.enabledLights >= kMaxActiveLights)
    throw platform::Error("LightEnable", "light " + std::to_string(index) + ": " +
                                             std::to_string(kMaxActiveLights) +
                                             " lights are enabled already");
  if (it == state_.lights.end()) it = state_.lights.emplace(index, LightSlot{defaultLight(), false}).first;
  if (it->second.enabled && !on) --state_.enabledLights;
  if (!it->second.enabled && on) ++state_.enabledLights;
  it->second.enabled = on;
}

BOOL Device::GetLightEnable(DWORD index) const {
  return lightSlot("GetLightEnable", index).enabled ? 1 : 0;
}

void Device::SetStreamSource(DWORD stream, std::shared_ptr<VertexBuffer> buffer, DWORD stride) {
  record("SetStreamSource", {stream, stride});
  if (stream != 0) throw platform::Error("SetStreamSource", "stream " + std::to_string(stream) + " not supported");
  state_.streamSource = std::move(buffer);
  state_.streamStride = stride;
}

std::shared_ptr<VertexBuffer> Device::CreateVertexBuffer(DWORD length, DWORD usage, DWORD fvf, DWORD pool) {
  record("CreateVertexBuffer", {length, usage, fvf, pool});
  if (length == 0) throw platform::Error("CreateVertexBuffer", "length 0");
  if (length > (256u << 20)) throw platform::Error("CreateVertexBuffer", "length " + std::to_string(length) + " too large");
  return std::make_shared<VertexBuffer>(length, usage, fvf, pool);
}

void Device::SetIndices(std::shared_ptr<IndexBuffer> indexBuffer, DWORD baseVertexIndex) {
  record("SetIndices", {indexBuffer ? 1 : 0, baseVertexIndex});
  state_.indices = std::move(indexBuffer);
  state_.baseVertexIndex = baseVertexIndex;
}

std::shared_ptr<IndexBuffer> Device::CreateIndexBuffer(DWORD length, DWORD usage, DWORD format, DWORD pool) {
  record("CreateIndexBuffer", {length, usage, format, pool});
  if (format != D3DFMT_INDEX16)
    throw platform::Error("CreateIndexBuffer", "index format " + std::to_string(format) + " not supported");
  if (length == 0) throw platform::Error("CreateIndexBuffer", "length 0");
  if (length > (256u << 20)) throw platform::Error("CreateIndexBuffer", "length " + std::to_string(length) + " too large");
  return std::make_shared<IndexBuffer>(length, usage, format, pool);
}

std::shared_ptr<Texture> Device::CreateTexture(std::vector<Texture::Level> levels, std::string source) {
  record("CreateTexture", {});
  if (levels.empty() || levels[0].width <= 0 || levels[0].height <= 0)
    throw platform::Error("CreateTexture", "empty image", source);
  auto t = std::make_shared<Texture>();
  t->width = levels[0].width;
  t->height = levels[0].height;
  t->levels = std::move(levels);
  t->source = std::move(source);
  backend_->createTexture(*t);
  if (t->backendHandle) uploaded_.push_back(t);
  return t;
}

void Device::DrawNextFrameUnseen() {
  backend_->drawNextFrameUnseen();
}

void Device::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) {
  record("Clear", {count, flags, color, std::bit_cast<std::int32_t>(z), stencil});
  if (count != 0 || rects != nullptr) throw platform::Error("Clear", "rectangle lists are not supported");
  backend_->clear(flags, color, z, stencil);
}

void Device::BeginScene() {
  record("BeginScene", {});
  if (inScene_) throw platform::Error("BeginScene", "already inside a scene");
  inScene_ = true;
  if (!keepTexels_)
    for (const auto& w : uploaded_)
      if (const auto t = w.lock()) t->levels = {};
  uploaded_.clear();
}

void Device::EndScene() {
  record("EndScene", {});
  if (!inScene_) throw platform::Error("EndScene", "no scene begun");
  inScene_ = false;
}

void Device::Present(const void* sourceRect, const void* destRect, const void* windowOverride,
                     const void* dirtyRegion) {
  record("Present", {});
  if (sourceRect || destRect || windowOverride || dirtyRegion)
    throw platform::Error("Present", "partial presents are not supported");
  if (inScene_) throw platform::Error("Present", "inside a scene");
  backend_->present();
  ++presents_;
  if (onPresent) onPresent();
}

void Device::checkDraw(const char* call, DWORD fvf) const {
  if (!inScene_) throw platform::Error(call, "draw outside BeginScene/EndScene");
  if (!IsSupportedFVF(fvf)) throw platform::Error(call, "vertex format " + hex(fvf) + " cannot be drawn");
}

void Device::DrawPrimitiveUP(D3DPRIMITIVETYPE type, DWORD primitiveCount, const void* vertexData, DWORD stride) {
  record("DrawPrimitiveUP", {type, primitiveCount, stride});
  checkDraw("DrawPrimitiveUP", state_.fvf);
  if (!vertexData) throw platform::Error("DrawPrimitiveUP", "no vertex data");
  if (stride < GetFVFVertexSize(state_.fvf))
    throw platform::Error("DrawPrimitiveUP", "stride " + std::to_string(stride) + " smaller than the vertex format");
  DrawCall c;
  c.type = type;
  c.primitiveCount = primitiveCount;
  c.fvf = state_.fvf;
  c.stride = stride;
  c.vertices = static_cast<const std::uint8_t*>(vertexData);
  c.vertexCount = VertexCountFor(type, primitiveCount);
  if (primitiveCount == 0) return;
  backend_->draw(c, state_);
}

void Device::DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, DWORD minIndex, DWORD numVertices, DWORD primitiveCount,
                                    const void* indexData, DWORD indexFormat, const void* vertexData, DWORD stride) {
  record("DrawIndexedPrimitiveUP", {type, minIndex, numVertices, primitiveCount, indexFormat, stride});
  const char* name = "DrawIndexedPrimitiveUP";
  checkDraw(name, state_.fvf);
  if (!indexData || !vertexData) throw platform::Error(name, "no index or vertex data");
  if (indexFormat != D3DFMT_INDEX16) throw platform::Error(name, "index format " + std::to_string(indexFormat) + " not supported");
  if (stride < GetFVFVertexSize(state_.fvf))
    throw platform::Error(name, "stride " + std::to_string(stride) + " smaller than the vertex format");
  if (primitiveCount == 0) return;
  const DWORD indexCount = VertexCountFor(type, primitiveCount);
  const auto* idx = static_cast<const std::uint16_t*>(indexData);
  const std::uint64_t end = static_cast<std::uint64_t>(minIndex) + numVertices;
  for (DWORD i = 0; i < indexCount; ++i)
    if (idx[i] < minIndex || idx[i] >= end)
      throw platform::Error(name, "index " + std::to_string(idx[i]) + " outside the vertex range " +
                                      std::to_string(minIndex) + ".." + std::to_string(end - 1));
  DrawCall c;
  c.type = type;
  c.primitiveCount = primitiveCount;
  c.fvf = state_.fvf;
  c.stride = stride;
  c.vertices = static_cast<const std::uint8_t*>(vertexData);
  c.vertexCount = static_cast<DWORD>(end);
  c.indices = idx;
  c.indexCount = indexCount;
  c.firstVertex = minIndex;
  backend_->draw(c, state_);
}

// The stream source a draw from a vertex buffer reads, with a stride that holds the vertex format.
VertexBuffer* Device::checkedStream(const char* call) const {
  VertexBuffer* vb = state_.streamSource.get();
  if (!vb) throw platform::Error(call, "no stream source");
  const DWORD stride = state_.streamStride;
  if (stride == 0 || stride < GetFVFVertexSize(state_.fvf))
    throw platform::Error(call, "stride " + std::to_string(stride) + " does not fit the vertex format");
  return vb;
}

void Device::DrawPrimitive(D3DPRIMITIVETYPE type, DWORD startVertex, DWORD primitiveCount) {
  record("DrawPrimitive", {type, startVertex, primitiveCount});
  const char* name = "DrawPrimitive";
  checkDraw(name, state_.fvf);
  VertexBuffer* vb = checkedStream(name);
  const DWORD stride = state_.streamStride;
  if (primitiveCount == 0) return;
  const DWORD count = VertexCountFor(type, primitiveCount);
  const std::uint64_t endByte = (static_cast<std::uint64_t>(startVertex) + count) * stride;
  if (endByte > vb->Length())
    throw platform::Error(name, std::to_string(count) + " vertices from " + std::to_string(startVertex) +
                                    " reach beyond the buffer's " + std::to_string(vb->Length()) + " bytes");
  DrawCall c;
  c.type = type;
  c.primitiveCount = primitiveCount;
  c.fvf = state_.fvf;
  c.stride = stride;
  c.vertices = vb->Data() + static_cast<std::size_t>(startVertex) * stride;
  c.vertexCount = count;
  c.firstVertex = startVertex;
  c.buffer = vb;
  backend_->draw(c, state_);
}

void Device::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, DWORD minIndex, DWORD numVertices, DWORD startIndex,
                                  DWORD primitiveCount) {
  record("DrawIndexedPrimitive", {type, minIndex, numVertices, startIndex, primitiveCount});
  const char* name = "DrawIndexedPrimitive";
  checkDraw(name, state_.fvf);
  VertexBuffer* vb = checkedStream(name);
  IndexBuffer* ib = state_.indices.get();
  if (!ib) throw platform::Error(name, "no index buffer");
  const DWORD stride = state_.streamStride;
  if (primitiveCount == 0) return;
  const DWORD indexCount = VertexCountFor(type, primitiveCount);
  if ((static_cast<std::uint64_t>(startIndex) + indexCount) * 2 > ib->Length())
    throw platform::Error(name, std::to_string(indexCount) + " indices from " + std::to_string(startIndex) +
                                    " reach beyond the index buffer's " + std::to_string(ib->Length()) + " bytes");
  const std::uint64_t base = state_.baseVertexIndex;
  const std::uint64_t end = static_cast<std::uint64_t>(minIndex) + numVertices;
  const std::uint64_t last = base + end;  // one past the last record read
  if (numVertices == 0 || last > vb->Length() || last * stride > vb->Length())
    throw platform::Error(name, "vertices " + std::to_string(base + minIndex) + ".." +
                                    std::to_string(base + end - 1) + " reach beyond the buffer's " +
                                    std::to_string(vb->Length()) + " bytes");
  const std::uint16_t* idx = ib->Indices() + startIndex;
  const bool known = std::any_of(ib->checked.begin(), ib->checked.end(), [&](const IndexBuffer::CheckedRange& r) {
    return r.start == startIndex && r.count == indexCount && r.low >= minIndex && r.high < end;
  });
  if (!known) {
    DWORD low = 0xFFFF, high = 0;
    for (DWORD i = 0; i < indexCount; ++i) {
      if (idx[i] < minIndex || idx[i] >= end)
        throw platform::Error(name, "index " + std::to_string(idx[i]) + " outside the vertex range " +
                                        std::to_string(minIndex) + ".." + std::to_string(end - 1));
      low = std::min<DWORD>(low, idx[i]);
      high = std::max<DWORD>(high, idx[i]);
    }
    // A handful of ranges per buffer: a model's batches. Beyond that the list starts again.
    if (ib->checked.size() >= 64) ib->checked.clear();
    ib->checked.push_back({startIndex, indexCount, low, high});
  }
  DrawCall c;
  c.type = type;
  c.primitiveCount = primitiveCount;
  c.fvf = state_.fvf;
  c.stride = stride;
  c.vertices = vb->Data() + static_cast<std::size_t>(base) * stride;
  c.vertexCount = static_cast<DWORD>(end);
  c.indices = idx;
  c.indexCount = indexCount;
  c.firstVertex = minIndex;
  c.buffer = vb;
  c.indexBuffer = ib;
  c.startIndex = startIndex;
  c.baseVertex = static_cast<DWORD>(base);
  backend_->draw(c, state_);
}

}  // namespace d3d
