// Direct3D 8 vertex lighting drawn by the OpenGL backend: quads whose vertices all get the same lit
// colour, read back at the screen's centre and compared with the lighting equation worked by hand
// (a byte is the colour times 255, rounded).
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "platform/gl/GlBackend.h"
#include "tests/platform/GlScene.h"

namespace {

using namespace gltest;

constexpr D3DCOLOR kBlack = 0xFF000000;

// Every field a lit record may have; Draw sends those of the format it draws with.
struct VNDS {  // D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_SPECULAR
  float x, y, z, nx, ny, nz;
  D3DCOLOR diffuse, specular;
};

// A lit device whose stage 0 passes the diffuse colour and alpha through (there is no texture).
struct LitScene : GlScene {
  LitScene() {
    dev->SetRenderState(D3DRS_LIGHTING, 1);
    dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    dev->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
  }
  // Light 0, enabled, and the material.
  void Light(const D3DLIGHT8& light, const D3DMATERIAL8& material) {
    dev->SetLight(0, light);
    dev->LightEnable(0, 1);
    dev->SetMaterial(material);
  }
};

D3DLIGHT8 Directional(D3DCOLORVALUE diffuse, D3DVECTOR direction) {
  D3DLIGHT8 l{};
  l.Type = D3DLIGHT_DIRECTIONAL;
  l.Diffuse = diffuse;
  l.Direction = direction;
  return l;
}

// A white point light with the attenuation 1 / (a0 + a2 d^2).
D3DLIGHT8 Point(D3DVECTOR position, float range, float a0, float a2 = 0) {
  D3DLIGHT8 l{};
  l.Type = D3DLIGHT_POINT;
  l.Diffuse = {1, 1, 1, 1};
  l.Position = position;
  l.Range = range;
  l.Attenuation0 = a0;
  l.Attenuation2 = a2;
  return l;
}

D3DMATERIAL8 Material(D3DCOLORVALUE diffuse, D3DCOLORVALUE ambient = {}, D3DCOLORVALUE emissive = {}) {
  D3DMATERIAL8 m{};
  m.Diffuse = diffuse;
  m.Ambient = ambient;
  m.Emissive = emissive;
  return m;
}

// The four corners (+-h, +-h, z) of a quad around the screen's centre, as a strip, each with the
// normal n and the colours given.
std::vector<VNDS> Corners(float h, float z, D3DVECTOR n, D3DCOLOR diffuse = 0xFFFFFFFF,
                          D3DCOLOR specular = 0) {
  std::vector<VNDS> q;
  for (auto [sx, sy] : {std::pair{-1.0f, 1.0f}, {1.0f, 1.0f}, {-1.0f, -1.0f}, {1.0f, -1.0f}})
    q.push_back({sx * h, sy * h, z, n.x, n.y, n.z, diffuse, specular});
  return q;
}

// Draws the corners with the fields of `fvf` only (position and normal always).
void Draw(Device& d, const std::vector<VNDS>& q, DWORD fvf) {
  std::vector<std::uint8_t> bytes;
  for (const VNDS& v : q) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&v);
    bytes.insert(bytes.end(), p, p + 12);
    if (fvf & D3DFVF_NORMAL) bytes.insert(bytes.end(), p + 12, p + 24);
    if (fvf & D3DFVF_DIFFUSE) bytes.insert(bytes.end(), p + 24, p + 28);
    if (fvf & D3DFVF_SPECULAR) bytes.insert(bytes.end(), p + 28, p + 32);
  }
  d.SetVertexShader(fvf);
  d.DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, bytes.data(), static_cast<DWORD>(bytes.size() / q.size()));
}

constexpr DWORD kNormalDiffuse = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE;

void ExpectPixel(const Image& img, int x, int y, int r, int g, int b) {
  const std::uint8_t* p = img.at(x, y);
  EXPECT_NEAR(p[0], r, 1) << "red at " << x << "," << y;
  EXPECT_NEAR(p[1], g, 1) << "green at " << x << "," << y;
  EXPECT_NEAR(p[2], b, 1) << "blue at " << x << "," << y;
}

// The light shines along (0, -0.8, 0.6), so towards it is L = (0, 0.8, -0.6) and a quad facing the
// camera (N = (0, 0, -1)) has N.L = 0.6.
constexpr D3DVECTOR kSlanted = {0, -0.8f, 0.6f};
constexpr D3DVECTOR kFacing = {0, 0, -1};
constexpr D3DVECTOR kAhead = {0, 0, 1};  // N.L = 1 for a facing quad

TEST(GlLighting, ADirectionalLightAddsDiffuseTimesNDotLToAmbientAndEmissive) {
  LitScene s;
  s.Light(Directional({1, 1, 1, 1}, kSlanted),
          Material({0.8f, 0.4f, 0.2f, 1}, {0.5f, 0.5f, 0.5f, 1}, {0.1f, 0, 0, 0}));
  s.dev->SetRenderState(D3DRS_AMBIENT, 0xFF204060);  // 32, 64, 96
  s.dev->SetRenderState(D3DRS_COLORVERTEX, 0);
  const Image img = s.frame(kBlack, [&](Device& d) { Draw(d, Corners(4, 10, kFacing), kNormalDiffuse); });
  // red   0.1 + 0.5 * 32/255 + 0.8 * 0.6 = 0.1 + 0.0627 + 0.48 = 0.6427 -> 164
  // green       0.5 * 64/255 + 0.4 * 0.6 = 0.1255 + 0.24      = 0.3655 -> 93
  // blue        0.5 * 96/255 + 0.2 * 0.6 = 0.1882 + 0.12      = 0.3082 -> 79
  ExpectPixel(img, 512, 384, 164, 93, 79);
}

TEST(GlLighting, TwoLightsAddAndADisabledLightGivesNothing) {
  LitScene s;
  D3DLIGHT8 green = Directional({0, 0.8f, 0, 1}, kAhead);
  green.Ambient = {0.4f, 0.4f, 0.4f, 1};
  s.dev->SetLight(0, Directional({1, 0, 0, 1}, kSlanted));
  s.dev->SetLight(3, green);
  s.dev->LightEnable(0, 1);
  s.dev->LightEnable(3, 1);
  s.dev->SetMaterial(Material({1, 0.5f, 1, 1}, {0.5f, 0.5f, 0.5f, 1}));
  s.dev->SetRenderState(D3DRS_COLORVERTEX, 0);
  const auto draw = [&](Device& d) { Draw(d, Corners(4, 10, kFacing), kNormalDiffuse); };
  // red   1 * 1 * 0.6 + 0.5 * 0.4 = 0.8 -> 204
  // green 0.5 * 0.8 * 1 + 0.5 * 0.4 = 0.6 -> 153
  // blue  0.5 * 0.4 = 0.2 -> 51
  ExpectPixel(s.frame(kBlack, draw), 512, 384, 204, 153, 51);
  s.dev->LightEnable(3, 0);  // red alone: 0.6 -> 153
  ExpectPixel(s.frame(kBlack, draw), 512, 384, 153, 0, 0);
  s.dev->LightEnable(0, 0);
  s.dev->LightEnable(3, 1);  // green alone: 0.2, 0.6, 0.2
  ExpectPixel(s.frame(kBlack, draw), 512, 384, 51, 153, 51);
  s.dev->LightEnable(3, 0);  // no light: the ambient state (0) alone
  ExpectPixel(s.frame(kBlack, draw), 512, 384, 0, 0, 0);
}

TEST(GlLighting, MaterialColoursComeFromTheVertexWhereTheSourcesSaySo) {
  LitScene s;
  s.Light(Directional({0.6f, 0.6f, 0.6f, 1}, kAhead), Material({0, 0, 1, 1}, {0, 0, 1, 1}, {0.2f, 0, 0, 0}));
  s.dev->SetRenderState(D3DRS_AMBIENT, 0xFF333333);  // 0.2
  s.dev->SetRenderState(D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_COLOR1);
  // The target has no alpha: the lit alpha shows blended over black.
  s.dev->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
  s.dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  s.dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  // Diffuse (the default source) and ambient from the vertex colour 0x80FF8000, emissive 0.2 red:
  // red   0.2 + 1 * 0.2 + 1 * 0.6       = 1.0
  // green 128/255 * (0.2 + 0.6) = 0.4016
  // alpha the vertex colour's 128/255 = 0.502: red 0.502 -> 128, green 0.2016 -> 51.
  const auto orange = [&](Device& d) { Draw(d, Corners(4, 10, kFacing, 0x80FF8000), kNormalDiffuse); };
  ExpectPixel(s.frame(kBlack, orange), 512, 384, 128, 51, 0);
  // Without D3DRS_COLORVERTEX every colour is the material's (alpha 1): blue 0.2 + 0.6 = 0.8 -> 204.
  s.dev->SetRenderState(D3DRS_COLORVERTEX, 0);
  ExpectPixel(s.frame(kBlack, orange), 512, 384, 51, 0, 204);
  s.dev->SetRenderState(D3DRS_COLORVERTEX, 1);
  // Emissive from the vertex's specular colour (blue), the rest from a black material.
  s.dev->SetMaterial(Material({0, 0, 0, 1}, {}, {0.2f, 0, 0, 0}));
  s.dev->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL);
  s.dev->SetRenderState(D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_MATERIAL);
  s.dev->SetRenderState(D3DRS_EMISSIVEMATERIALSOURCE, D3DMCS_COLOR2);
  ExpectPixel(s.frame(kBlack,
                      [&](Device& d) {
                        Draw(d, Corners(4, 10, kFacing, 0xFFFFFFFF, 0xFF0000FF),
                             kNormalDiffuse | D3DFVF_SPECULAR);
                      }),
              512, 384, 0, 0, 255);
  // A record without a specular colour takes the material's emissive instead: 0.2 red -> 51.
  ExpectPixel(s.frame(kBlack, orange), 512, 384, 51, 0, 0);
}

TEST(GlLighting, VerticesWithoutNormalsGetOnlyAmbientAndEmissive) {
  LitScene s;
  s.Light(Directional({1, 1, 1, 1}, kAhead), Material({1, 1, 1, 1}, {0.5f, 0.5f, 0.5f, 1}, {0, 0.2f, 0, 0}));
  s.dev->SetRenderState(D3DRS_AMBIENT, 0xFF666666);  // 0.4
  // N = 0: red and blue 0.5 * 0.4 = 0.2 -> 51, green 0.2 + 0.2 = 0.4 -> 102.
  const Image img =
      s.frame(kBlack, [&](Device& d) { Draw(d, Corners(4, 10, kFacing), D3DFVF_XYZ | D3DFVF_DIFFUSE); });
  ExpectPixel(img, 512, 384, 51, 102, 51);
}

TEST(GlLighting, WithLightingOffOrPreTransformedVerticesTheVertexColourPassesThrough) {
  LitScene s;
  s.dev->SetLight(0, Directional({0.4f, 0.4f, 0.4f, 1}, kAhead));
  s.dev->LightEnable(0, 1);
  const V44 screen[4] = {{600, 300, 0.5f, 1, 0xFF0000FF},
                         {700, 300, 0.5f, 1, 0xFF0000FF},
                         {600, 400, 0.5f, 1, 0xFF0000FF},
                         {700, 400, 0.5f, 1, 0xFF0000FF}};
  const Image img = s.frame(kBlack, [&](Device& d) {
    // A lit quad left of the centre, then with lighting off one across the centre: the second
    // draw must not keep the first one's lit program.
    std::vector<VNDS> left = Corners(1, 10, kFacing, 0xFF336699);
    for (VNDS& v : left) v.x -= 5;
    Draw(d, left, kNormalDiffuse);
    d.SetRenderState(D3DRS_LIGHTING, 0);
    Draw(d, Corners(1, 10, kFacing, 0xFF336699), kNormalDiffuse);
    // Direct3D lights no pre-transformed vertex.
    d.SetRenderState(D3DRS_LIGHTING, 1);
    d.SetVertexShader(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
    d.DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, screen, sizeof(V44));
  });
  // Lit: 0.4 * N.L (1) of the vertex colour 0x336699 (the diffuse source; 0.2, 0.4, 0.6):
  // 0.08, 0.16, 0.24 -> 20, 41, 61.
  ExpectPixel(img, 512 - 192, 384, 20, 41, 61);
  ExpectPixel(img, 512, 384, 0x33, 0x66, 0x99);
  ExpectPixel(img, 650, 350, 0, 0, 255);
}

TEST(GlLighting, NormalsFollowTheWorldMatrixAndAreNormalizedOnRequest) {
  LitScene s;
  // Towards the light L = (0, 0.6, -0.8): a facing unit normal has N.L = 0.8.
  s.Light(Directional({1, 1, 1, 1}, {0, -0.6f, 0.8f}), Material({0.5f, 0.25f, 0.1f, 1}));
  s.dev->SetRenderState(D3DRS_COLORVERTEX, 0);
  const auto twice = [&](Device& d) { Draw(d, Corners(4, 10, {0, 0, -2}), kNormalDiffuse); };
  // N = (0, 0, -2) as given: N.L = 1.6, so 0.8, 0.4, 0.16 -> 204, 102, 41.
  ExpectPixel(s.frame(kBlack, twice), 512, 384, 204, 102, 41);
  // Normalized: N.L = 0.8, so 0.4, 0.2, 0.08 -> 102, 51, 20.
  s.dev->SetRenderState(D3DRS_NORMALIZENORMALS, 1);
  ExpectPixel(s.frame(kBlack, twice), 512, 384, 102, 51, 20);

  // Turned a quarter about y, the object's +x faces the camera: (1, 0, 0) x RotationY(pi/2) =
  // (0, 0, -1), and the object point (-10, y, x) lies at (x, y, 10).
  D3DMATRIX quarter;
  d3dx::D3DXMatrixRotationY(&quarter, 1.5707963705062866f);
  s.dev->SetTransform(D3DTS_WORLD, quarter);
  s.dev->SetLight(0, Directional({0.8f, 0.8f, 0.8f, 1}, kAhead));
  std::vector<VNDS> turned = Corners(4, 10, {1, 0, 0});
  for (VNDS& v : turned) v = {-10, v.y, v.x, 1, 0, 0, v.diffuse, 0};
  // N.L = 1: 0.8 of the material's diffuse, 0.4, 0.2, 0.08 -> 102, 51, 20 (black if the normal
  // stayed +x).
  ExpectPixel(s.frame(kBlack, [&](Device& d) { Draw(d, turned, kNormalDiffuse); }), 512, 384, 102, 51, 20);
  // Stretched twice along x, a normal takes the inverse transpose: (0.6, 0, -0.8) becomes
  // (0.3, 0, -0.8), normalized (0.3511, 0, -0.9363); N.L = 0.9363 for a light straight ahead, so
  // 0.4682, 0.2341, 0.0936 -> 119, 60, 24 (the matrix itself would give N.L = 0.5547).
  D3DMATRIX stretch;
  d3dx::D3DXMatrixScaling(&stretch, 2, 1, 1);
  s.dev->SetTransform(D3DTS_WORLD, stretch);
  s.dev->SetLight(0, Directional({1, 1, 1, 1}, kAhead));
  std::vector<VNDS> stretched = Corners(4, 10, {0.6f, 0, -0.8f});
  for (VNDS& v : stretched) v.x /= 2;
  ExpectPixel(s.frame(kBlack, [&](Device& d) { Draw(d, stretched, kNormalDiffuse); }), 512, 384, 119, 60, 24);
}

TEST(GlLighting, LightsAreGivenInWorldSpaceAndFollowTheView) {
  LitScene s;
  // The camera turned to look along world +x: (1, 0, 0) x RotationY(-pi/2) = (0, 0, 1), and the
  // world point (X, y, Z) is seen at (-Z, y, X). The quad faces the camera from X = 10.
  D3DMATRIX view;
  d3dx::D3DXMatrixRotationY(&view, -1.5707963705062866f);
  s.dev->SetTransform(D3DTS_VIEW, view);
  std::vector<VNDS> quad = Corners(4, 10, kFacing);
  for (VNDS& v : quad) v = {10, v.y, -v.x, -1, 0, 0, v.diffuse, 0};
  const auto draw = [&](Device& d) { Draw(d, quad, kNormalDiffuse); };
  s.dev->SetRenderState(D3DRS_COLORVERTEX, 0);
  // World (0.6, -0.8, 0) is the view's (0, -0.8, 0.6): N.L = 0.6 of 0.8, 0.4, 0.2 -> 122, 61, 31
  // (black if the direction were taken as the view's).
  s.Light(Directional({1, 1, 1, 1}, {0.6f, -0.8f, 0}), Material({0.8f, 0.4f, 0.2f, 1}));
  ExpectPixel(s.frame(kBlack, draw), 512, 384, 122, 61, 31);
  // A point light at world (5, 0, 0), the view's (0, 0, 5): every corner (+-4, +-4, 10) is
  // sqrt(16 + 16 + 25) = 7.550 away; N.L = 5/7.550 = 0.6623 of 0.8, 0.4, 0.2 -> 0.5298, 0.2649,
  // 0.1325 -> 135, 68, 34.
  s.dev->SetLight(0, Point({5, 0, 0}, 100, 1));
  ExpectPixel(s.frame(kBlack, draw), 512, 384, 135, 68, 34);
}

TEST(GlLighting, APointLightFadesWithDistanceAndEndsAtItsRange) {
  LitScene s;
  // At (0, 0, 5), every corner (+-sqrt(72), +-sqrt(72), 10) is d = sqrt(72 + 72 + 25) = 13 away;
  // N.L = 5/13, attenuation 1 / (1 + 0 * 13 + 169/169) = 0.5.
  s.Light(Point({0, 0, 5}, 13.5f, 1, 1.0f / 169), Material({1, 0.6f, 0.2f, 1}));
  s.dev->SetRenderState(D3DRS_COLORVERTEX, 0);
  const auto draw = [&](Device& d) { Draw(d, Corners(std::sqrt(72.0f), 10, kFacing), kNormalDiffuse); };
  // 0.5 * 5/13 = 0.1923: red 0.1923 -> 49, green 0.1154 -> 29, blue 0.0385 -> 10.
  ExpectPixel(s.frame(kBlack, draw), 512, 384, 49, 29, 10);
  s.dev->SetLight(0, Point({0, 0, 5}, 12.5f, 1, 1.0f / 169));  // every corner beyond its range
  ExpectPixel(s.frame(kBlack, draw), 512, 384, 0, 0, 0);
}

TEST(GlLighting, ASpotLightFadesBetweenItsInnerAndOuterCones) {
  LitScene s;
  // At the eye, shining along +z: the corners (+-10, +-10, 10) are sqrt(300) = 17.32 away, at
  // rho = 10/17.32 = 0.57735 from the axis, and N.L = 0.57735.
  D3DLIGHT8 spot{};
  spot.Type = D3DLIGHT_SPOT;
  spot.Diffuse = {1, 1, 1, 1};
  spot.Direction = {0, 0, 1};
  spot.Range = 100;
  spot.Attenuation0 = 1;
  spot.Falloff = 1;
  s.dev->SetMaterial(Material({1, 0.5f, 0, 1}));
  s.dev->SetRenderState(D3DRS_COLORVERTEX, 0);
  s.dev->LightEnable(0, 1);
  const auto draw = [&](Device& d) { Draw(d, Corners(10, 10, kFacing), kNormalDiffuse); };
  struct Case {
    float cosHalfTheta, cosHalfPhi;
    int r, g;
  } cases[] = {
      // Between the cones: ((0.57735 - 0.5) / (0.7 - 0.5))^1 = 0.38675; 0.57735 * 0.38675 = 0.22329
      // -> 57, half of it 0.11165 -> 28.
      {0.7f, 0.5f, 57, 28},
      // Inside the inner cone: 0.57735 -> 147, 0.28868 -> 74.
      {0.55f, 0.5f, 147, 74},
      // Outside the outer cone: nothing.
      {0.7f, 0.6f, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cosHalfTheta);
    spot.Theta = 2 * std::acos(c.cosHalfTheta);
    spot.Phi = 2 * std::acos(c.cosHalfPhi);
    s.dev->SetLight(0, spot);
    ExpectPixel(s.frame(kBlack, draw), 512, 384, c.r, c.g, 0);
  }
}

TEST(GlLighting, SpecularIsAddedOnlyWhenEnabledAndFollowsTheViewer) {
  LitScene s;
  D3DLIGHT8 light = Directional({0, 0, 0, 1}, kAhead);
  light.Specular = {1, 1, 1, 1};
  s.dev->SetLight(0, light);
  s.dev->LightEnable(0, 1);
  D3DMATERIAL8 m = Material({0, 0, 0, 1});
  m.Specular = {0.4f, 0.2f, 0, 1};
  m.Power = 10;
  s.dev->SetMaterial(m);
  s.dev->SetRenderState(D3DRS_COLORVERTEX, 0);
  const auto draw = [&](Device& d) { Draw(d, Corners(4, 10, kFacing), kNormalDiffuse); };
  ExpectPixel(s.frame(kBlack, draw), 512, 384, 0, 0, 0);
  s.dev->SetRenderState(D3DRS_SPECULARENABLE, 1);
  // A viewer at infinity along -z: H = N, N.H = 1, so the material's specular 0.4, 0.2 -> 102, 51.
  s.dev->SetRenderState(D3DRS_LOCALVIEWER, 0);
  ExpectPixel(s.frame(kBlack, draw), 512, 384, 102, 51, 0);
  // The eye at the origin: from the corner (4, 4, 10), V = -(4, 4, 10)/11.489, L + V =
  // (-0.3482, -0.3482, -1.8704), N.H = 1.8704/1.9341 = 0.96705; 0.96705^10 = 0.71535;
  // 0.4 * 0.71535 = 0.2861 -> 73, 0.2 * 0.71535 = 0.1431 -> 36.
  s.dev->SetRenderState(D3DRS_LOCALVIEWER, 1);
  ExpectPixel(s.frame(kBlack, draw), 512, 384, 73, 36, 0);
}

TEST(GlLighting, LightValuesAreUniformsAndOnlyTheLightCountMakesAnotherProgram) {
  LitScene s;
  auto& backend = dynamic_cast<gl::GlBackend&>(s.dev->GetBackend());
  s.dev->SetMaterial(Material({1, 1, 1, 1}));
  s.dev->SetRenderState(D3DRS_COLORVERTEX, 0);
  s.dev->SetLight(0, Directional({0.2f, 0.2f, 0.2f, 1}, kAhead));
  s.dev->LightEnable(0, 1);
  const auto draw = [&](Device& d) { Draw(d, Corners(4, 10, kFacing), kNormalDiffuse); };
  ExpectPixel(s.frame(kBlack, draw), 512, 384, 51, 51, 51);
  EXPECT_EQ(backend.programs(), 1u);
  // Another colour and direction: N.L = 0.6 of 1, 0.25, 0 -> 153, 38, 0.
  s.dev->SetLight(0, Directional({1, 0.25f, 0, 1}, kSlanted));
  ExpectPixel(s.frame(kBlack, draw), 512, 384, 153, 38, 0);
  EXPECT_EQ(backend.programs(), 1u);
  // The default light, white straight ahead, adds 1: 1.6, 1.15, 1 clamped to 1.
  s.dev->LightEnable(1, 1);
  ExpectPixel(s.frame(kBlack, draw), 512, 384, 255, 255, 255);
  EXPECT_EQ(backend.programs(), 2u);
}

}  // namespace
