#include "platform/gl/PointCulling.h"

namespace gl {

// Whether a fragment whose vertex colour has alpha 0 ends with alpha 0: each enabled stage's alpha
// operation keeps a zero that reaches it through the diffuse colour or the current colour (MODULATE
// of anything by zero is zero). Any other operation or argument may bring alpha back.
namespace {

bool zeroDiffuseAlphaStaysZero(const d3d::DeviceState& s) {
  for (DWORD i = 0; i < kStages; ++i) {
    const auto& ts = s.stageStates[i];
    if (ts[d3d::D3DTSS_COLOROP] == d3d::D3DTOP_DISABLE) return true;
    const auto zero = [](DWORD arg) {
      const DWORD source = arg & ~d3d::D3DTA_ALPHAREPLICATE;  // replicating alpha leaves alpha as it is
      return source == d3d::D3DTA_DIFFUSE || source == d3d::D3DTA_CURRENT;
    };
    const DWORD op = ts[d3d::D3DTSS_ALPHAOP];
    const bool a1 = zero(ts[d3d::D3DTSS_ALPHAARG1]), a2 = zero(ts[d3d::D3DTSS_ALPHAARG2]);
    const bool keeps =
        op == d3d::D3DTOP_SELECTARG1   ? a1
        : op == d3d::D3DTOP_SELECTARG2 ? a2
        : op == d3d::D3DTOP_MODULATE || op == d3d::D3DTOP_MODULATE2X || op == d3d::D3DTOP_MODULATE4X
            ? a1 || a2
            : false;
    if (!keeps) return false;
  }
  return true;
}

}  // namespace

// Whether a point whose vertex colour has alpha 0 can change no pixel under these states: the alpha
// test throws its fragments away, or they blend to the destination unchanged (source factor alpha,
// destination factor one or one minus alpha) and write no depth. Such points are not sent to GL.
bool zeroAlphaPointIsInvisible(const d3d::DeviceState& s) {
  const auto& rs = s.renderStates;
  if (!zeroDiffuseAlphaStaysZero(s)) return false;
  if (rs[d3d::D3DRS_ALPHATESTENABLE]) {
    const DWORD ref = rs[d3d::D3DRS_ALPHAREF] & 0xFF;
    switch (rs[d3d::D3DRS_ALPHAFUNC]) {
      case d3d::D3DCMP_NEVER:
      case d3d::D3DCMP_GREATER:
        return true;
      case d3d::D3DCMP_LESS:
      case d3d::D3DCMP_NOTEQUAL:
        if (ref == 0) return true;
        break;
      case d3d::D3DCMP_EQUAL:
      case d3d::D3DCMP_GREATEREQUAL:
        if (ref != 0) return true;
        break;
      default:
        break;
    }
  }
  if (!rs[d3d::D3DRS_ALPHABLENDENABLE]) return false;
  if (rs[d3d::D3DRS_ZENABLE] != d3d::D3DZB_FALSE && rs[d3d::D3DRS_ZWRITEENABLE]) return false;
  const DWORD src = rs[d3d::D3DRS_SRCBLEND], dst = rs[d3d::D3DRS_DESTBLEND];
  if (src == d3d::D3DBLEND_BOTHSRCALPHA) return true;
  return src == d3d::D3DBLEND_SRCALPHA && (dst == d3d::D3DBLEND_ONE || dst == d3d::D3DBLEND_INVSRCALPHA);
}

bool collectVisiblePoints(const d3d::DrawCall& c, const d3d::DeviceState& s, const VertexLayout& l,
                          const std::uint8_t* records, std::size_t first,
                          std::vector<std::uint32_t>& visible) {
  if (c.type != d3d::D3DPT_POINTLIST || l.diffuse < 0 || !zeroAlphaPointIsInvisible(s)) return false;
  visible.clear();
  visible.reserve(c.vertexCount);
  const std::size_t alphaAt = static_cast<std::size_t>(l.diffuse) + 3;  // B, G, R, A in memory
  for (std::size_t i = 0; i < c.vertexCount; ++i)
    if (records[i * c.stride + alphaAt] != 0) visible.push_back(static_cast<std::uint32_t>(first + i));
  return visible.size() != c.vertexCount;
}

}  // namespace gl
