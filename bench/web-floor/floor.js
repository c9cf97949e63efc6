// The web floor: the greeting's frames drawn by hand-written WebGL2, one small shader per kind of
// draw, from the frames the desktop program recorded (recording.bin, bench/WebFloorRecording.h). The
// textures, the ground and the tree go to the GPU once; each frame sends only its snow's visible
// points and its text's vertices. What is left is what the browser's WebGL must do for the picture.
//
// index.html?frames=N draws frames 1..N as the exported page's ?frames=N does: frame 1 before the
// clock starts, frames 2..N in batches of about 50 ms, one task each, and frame N read into a PNG in
// the task that drew it. window.wgResult then holds {frames, ms, png} and the title reads
// "done: frame N"; a failure sets the title to "failed: " and the reason.
'use strict';

(function() {
const kBatchMs = 50;
const kWidth = 1024, kHeight = 768;
const kFloats = 44;
// The kinds, in the recording's numbering, and their vertex records' sizes in bytes.
const kTreeTextured = 0, kTreePlain = 1, kGround = 2, kSnow = 3, kText = 4, kKinds = 5;
const kStride = [24, 24, 20, 16, 28];
// Bounds on what the recording may ask for: it comes from a file.
const kMaxFrames = 100000, kMaxTextures = 256, kMaxLevels = 16, kMaxSide = 8192, kMaxDraws = 1024;

const canvas = document.getElementById('scene');
const params = new URLSearchParams(location.search);

function fail(why) {
  document.title = 'failed: ' + why;
  window.wgError = why;
}

// Matrices are the device's, uploaded as stored (row vectors), so M * v here is v x M there. D3D's
// pixel centres sit half a pixel from GL's and its clip depth runs 0..w.
const kVertexPrologue = `#version 300 es
precision highp float;
layout(location = 0) in vec3 aPosition;
uniform mat4 uWorldView;
uniform mat4 uProjection;
vec4 project(vec4 e) {
  vec4 clip = uProjection * e;
  clip.x += clip.w / ${kWidth.toFixed(1)};
  clip.y -= clip.w / ${kHeight.toFixed(1)};
  clip.z = 2.0 * clip.z - clip.w;
  return clip;
}
`;
const kFog = `
uniform vec3 uFogColor;
uniform vec2 uFogRange;
vec4 fogged(vec4 c, float d) {
  float f = clamp((uFogRange.y - d) / (uFogRange.y - uFogRange.x), 0.0, 1.0);
  return vec4(mix(uFogColor, c.rgb, f), c.a);
}
`;
const kFragmentPrologue = '#version 300 es\nprecision highp float;\nout vec4 fragColor;\n';

// The vertex colour arrives as the bytes B, G, R, A.
const kTreeVertex = kVertexPrologue + `
layout(location = 1) in vec4 aDiffuse;
layout(location = 2) in vec2 aTexCoord;
flat out vec4 vDiffuse;
out vec2 vTexCoord;
out float vDepth;
void main() {
  vec4 e = uWorldView * vec4(aPosition, 1.0);
  gl_Position = project(e);
  vDiffuse = aDiffuse.zyxw;
  vTexCoord = aTexCoord;
  vDepth = e.z;
}`;
const kTreeTexturedFragment = kFragmentPrologue + kFog + `
flat in vec4 vDiffuse;
in vec2 vTexCoord;
in float vDepth;
uniform sampler2D uTexture;
void main() { fragColor = fogged(texture(uTexture, vTexCoord) * vDiffuse, vDepth); }`;
const kTreePlainFragment = kFragmentPrologue + kFog + `
flat in vec4 vDiffuse;
in vec2 vTexCoord;
in float vDepth;
void main() { fragColor = fogged(vDiffuse, vDepth); }`;

const kGroundVertex = kVertexPrologue + `
layout(location = 2) in vec2 aTexCoord;
out vec2 vTexCoord;
out float vDepth;
void main() {
  vec4 e = uWorldView * vec4(aPosition, 1.0);
  gl_Position = project(e);
  vTexCoord = aTexCoord;
  vDepth = e.z;
}`;
const kGroundFragment = kFragmentPrologue + kFog + `
in vec2 vTexCoord;
in float vDepth;
uniform sampler2D uTexture;
void main() { fragColor = fogged(texture(uTexture, vTexCoord), vDepth); }`;

// Distance-scaled point sprites, texture times vertex colour, no fog.
const kSnowVertex = kVertexPrologue + `
layout(location = 1) in vec4 aDiffuse;
uniform vec3 uPointSize;  // base, minimum, maximum
uniform vec3 uPointScaleABC;
uniform float uViewportHeight;
flat out vec4 vDiffuse;
void main() {
  vec4 e = uWorldView * vec4(aPosition, 1.0);
  gl_Position = project(e);
  vDiffuse = aDiffuse.zyxw;
  float de = length(e.xyz);
  float size = uPointSize.x * uViewportHeight *
               sqrt(1.0 / (uPointScaleABC.x + uPointScaleABC.y * de + uPointScaleABC.z * de * de));
  gl_PointSize = min(max(size, uPointSize.y), uPointSize.z);
}`;
const kSnowFragment = kFragmentPrologue + `
flat in vec4 vDiffuse;
uniform sampler2D uTexture;
void main() { fragColor = texture(uTexture, gl_PointCoord) * vDiffuse; }`;

// Screen-space glyph quads (x, y, z, 1/w), atlas times vertex colour.
const kTextVertex = `#version 300 es
precision highp float;
layout(location = 0) in vec4 aPosition;
layout(location = 1) in vec4 aDiffuse;
layout(location = 2) in vec2 aTexCoord;
flat out vec4 vDiffuse;
out vec2 vTexCoord;
void main() {
  float w = aPosition.w != 0.0 ? 1.0 / aPosition.w : 1.0;
  vec2 ndc = vec2((aPosition.x + 0.5) * ${(2 / kWidth).toFixed(12)} - 1.0,
                  1.0 - (aPosition.y + 0.5) * ${(2 / kHeight).toFixed(12)});
  gl_Position = vec4(ndc * w, (2.0 * aPosition.z - 1.0) * w, w);
  vDiffuse = aDiffuse.zyxw;
  vTexCoord = aTexCoord;
}`;
const kTextFragment = kFragmentPrologue + `
flat in vec4 vDiffuse;
in vec2 vTexCoord;
uniform sampler2D uTexture;
void main() { fragColor = texture(uTexture, vTexCoord) * vDiffuse; }`;

const kSources = [
  [kTreeVertex, kTreeTexturedFragment], [kTreeVertex, kTreePlainFragment], [kGroundVertex, kGroundFragment],
  [kSnowVertex, kSnowFragment], [kTextVertex, kTextFragment],
];

// The recording, read with every count and size checked against its bounds and the file's end.
function parse(buffer) {
  const view = new DataView(buffer);
  let at = 0;
  const need = (n, what) => {
    if (!(n >= 0) || at + n > buffer.byteLength) throw new Error('recording.bin ends inside ' + what);
  };
  const u32 = (what) => {
    need(4, what);
    const v = view.getUint32(at, true);
    at += 4;
    return v;
  };
  const i32 = (what) => {
    need(4, what);
    const v = view.getInt32(at, true);
    at += 4;
    return v;
  };
  const bytes = (n, what) => {
    need(n, what);
    const b = new Uint8Array(buffer, at, n);
    at += (n + 3) & ~3;
    return b;
  };
  const bounded = (v, max, what) => {
    if (v > max) throw new Error('recording.bin: ' + what + ' ' + v + ' is over ' + max);
    return v;
  };
  if (u32('its header') !== 0x31464757) throw new Error('recording.bin is not a web floor recording');
  const frameCount = bounded(u32('its header'), kMaxFrames, 'frames');
  const textureCount = bounded(u32('its header'), kMaxTextures, 'textures');
  const geometryCount = bounded(u32('its header'), kMaxTextures, 'geometries');
  const textures = [];
  for (let t = 0; t < textureCount; ++t) {
    const levels = [];
    const levelCount = bounded(u32('a texture'), kMaxLevels, 'mip levels');
    for (let l = 0; l < levelCount; ++l) {
      const w = bounded(u32('a texture'), kMaxSide, 'texture width');
      const h = bounded(u32('a texture'), kMaxSide, 'texture height');
      levels.push({w, h, rgba: bytes(w * h * 4, 'a texture')});
    }
    if (!levelCount) throw new Error('recording.bin: texture ' + t + ' has no levels');
    textures.push(levels);
  }
  const geometries = [];
  for (let g = 0; g < geometryCount; ++g) {
    const kind = bounded(u32('a geometry'), kKinds - 1, 'kind');
    const vertexBytes = u32('a geometry');
    const indexCount = u32('a geometry');
    const vertices = bytes(vertexBytes, 'a geometry');
    need(indexCount * 2, 'a geometry');
    const indices = new Uint16Array(buffer, at, indexCount);
    at += (indexCount * 2 + 3) & ~3;
    for (const i of indices)
      if ((i + 1) * kStride[kind] > vertexBytes) throw new Error('recording.bin: geometry ' + g + ' indexes past its vertices');
    geometries.push({kind, vertices, indices});
  }
  const frames = [];
  for (let f = 0; f < frameCount; ++f) {
    const c = u32('a frame');
    const clear = [((c >>> 16) & 255) / 255, ((c >>> 8) & 255) / 255, (c & 255) / 255];
    const draws = [];
    const drawCount = bounded(u32('a frame'), kMaxDraws, 'draws');
    for (let d = 0; d < drawCount; ++d) {
      const kind = bounded(u32('a draw'), kKinds - 1, 'kind');
      const texture = i32('a draw');
      const geometry = i32('a draw');
      const count = u32('a draw');
      need(kFloats * 4, 'a draw');
      const floats = new Float32Array(buffer, at, kFloats);
      at += kFloats * 4;
      if (texture < -1 || texture >= textureCount) throw new Error('recording.bin: no texture ' + texture);
      if ((kind === kTreeTextured || kind === kGround || kind === kSnow || kind === kText) && texture < 0)
        throw new Error('recording.bin: a draw of kind ' + kind + ' without its texture');
      if (geometry < -1 || geometry >= geometryCount || (geometry >= 0 && geometries[geometry].kind !== kind))
        throw new Error('recording.bin: no geometry ' + geometry + ' of kind ' + kind);
      const vertices = geometry < 0 ? bytes(count * kStride[kind], 'a draw') : null;
      if (geometry >= 0 && !geometries[geometry].indices.length && count * kStride[kind] > geometries[geometry].vertices.length)
        throw new Error('recording.bin: a draw past its geometry');
      draws.push({kind, texture, geometry, count, floats, vertices});
    }
    frames.push({clear, draws});
  }
  return {textures, geometries, frames};
}

function compile(gl, type, source) {
  const s = gl.createShader(type);
  gl.shaderSource(s, source);
  gl.compileShader(s);
  if (!gl.getShaderParameter(s, gl.COMPILE_STATUS)) throw new Error('shader: ' + gl.getShaderInfoLog(s));
  return s;
}

function link(gl, vertex, fragment) {
  const p = gl.createProgram();
  gl.attachShader(p, compile(gl, gl.VERTEX_SHADER, vertex));
  gl.attachShader(p, compile(gl, gl.FRAGMENT_SHADER, fragment));
  gl.linkProgram(p);
  if (!gl.getProgramParameter(p, gl.LINK_STATUS)) throw new Error('program: ' + gl.getProgramInfoLog(p));
  const u = (name) => gl.getUniformLocation(p, name);
  gl.useProgram(p);
  gl.uniform1i(u('uTexture'), 0);
  return {
    program: p, worldView: u('uWorldView'), projection: u('uProjection'), fogColor: u('uFogColor'),
    fogRange: u('uFogRange'), pointSize: u('uPointSize'), pointScale: u('uPointScaleABC'),
    viewportHeight: u('uViewportHeight'),
  };
}

// The attributes of one kind's vertex records in `buffer`.
function describe(gl, kind, buffer) {
  const vao = gl.createVertexArray();
  gl.bindVertexArray(vao);
  gl.bindBuffer(gl.ARRAY_BUFFER, buffer);
  const s = kStride[kind];
  const attribute = (i, size, type, normalized, offset) => {
    gl.enableVertexAttribArray(i);
    gl.vertexAttribPointer(i, size, type, normalized, s, offset);
  };
  if (kind === kText) attribute(0, 4, gl.FLOAT, false, 0);
  else attribute(0, 3, gl.FLOAT, false, 0);
  if (kind === kTreeTextured || kind === kTreePlain) {
    attribute(1, 4, gl.UNSIGNED_BYTE, true, 12);
    attribute(2, 2, gl.FLOAT, false, 16);
  } else if (kind === kGround) {
    attribute(2, 2, gl.FLOAT, false, 12);
  } else if (kind === kSnow) {
    attribute(1, 4, gl.UNSIGNED_BYTE, true, 12);
  } else {
    attribute(1, 4, gl.UNSIGNED_BYTE, true, 16);
    attribute(2, 2, gl.FLOAT, false, 20);
  }
  return vao;
}

function setUp(gl, recording) {
  const programs = kSources.map(([v, f]) => link(gl, v, f));
  gl.pixelStorei(gl.UNPACK_ALIGNMENT, 1);
  const textures = recording.textures.map((levels) => {
    const t = gl.createTexture();
    gl.bindTexture(gl.TEXTURE_2D, t);
    levels.forEach((l, i) => gl.texImage2D(gl.TEXTURE_2D, i, gl.RGBA8, l.w, l.h, 0, gl.RGBA, gl.UNSIGNED_BYTE, l.rgba));
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MAX_LEVEL, levels.length - 1);
    return t;
  });
  // Trilinear and wrapping for the scene, bilinear and clamped for the glyph atlas.
  const sampler = (text) => {
    const s = gl.createSampler();
    gl.samplerParameteri(s, gl.TEXTURE_MAG_FILTER, gl.LINEAR);
    gl.samplerParameteri(s, gl.TEXTURE_MIN_FILTER, text ? gl.LINEAR : gl.LINEAR_MIPMAP_LINEAR);
    gl.samplerParameteri(s, gl.TEXTURE_WRAP_S, text ? gl.CLAMP_TO_EDGE : gl.REPEAT);
    gl.samplerParameteri(s, gl.TEXTURE_WRAP_T, text ? gl.CLAMP_TO_EDGE : gl.REPEAT);
    return s;
  };
  const sceneSampler = sampler(false), textSampler = sampler(true);
  // The ground and the tree: their vertices and indices once.
  const geometries = recording.geometries.map((g) => {
    const vbo = gl.createBuffer();
    gl.bindBuffer(gl.ARRAY_BUFFER, vbo);
    gl.bufferData(gl.ARRAY_BUFFER, g.vertices, gl.STATIC_DRAW);
    const vao = describe(gl, g.kind, vbo);
    if (g.indices.length) {
      const ibo = gl.createBuffer();
      gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, ibo);
      gl.bufferData(gl.ELEMENT_ARRAY_BUFFER, g.indices, gl.STATIC_DRAW);
    }
    gl.bindVertexArray(null);
    return {vao, indexCount: g.indices.length};
  });
  // The snow and the text: one buffer for each such draw of a frame, as large as its largest.
  const largest = [[], [], [], [], []];
  for (const f of recording.frames) {
    const slot = [0, 0, 0, 0, 0];
    for (const d of f.draws) {
      if (!d.vertices) continue;
      const i = slot[d.kind]++;
      largest[d.kind][i] = Math.max(largest[d.kind][i] || 0, d.vertices.length);
    }
  }
  const streams = largest.map((sizes, kind) => sizes.map((size) => {
    const buffer = gl.createBuffer();
    gl.bindBuffer(gl.ARRAY_BUFFER, buffer);
    gl.bufferData(gl.ARRAY_BUFFER, Math.max(size, 4), gl.DYNAMIC_DRAW);
    const vao = describe(gl, kind, buffer);
    gl.bindVertexArray(null);
    return {buffer, vao};
  }));
  gl.depthFunc(gl.LEQUAL);
  return {programs, textures, sceneSampler, textSampler, geometries, streams};
}

function drawFrame(gl, g, frame) {
  gl.clearColor(frame.clear[0], frame.clear[1], frame.clear[2], 1);
  gl.depthMask(true);
  gl.clear(gl.COLOR_BUFFER_BIT | gl.DEPTH_BUFFER_BIT);
  const slot = [0, 0, 0, 0, 0];
  for (const d of frame.draws) {
    const p = g.programs[d.kind];
    const f = d.floats;
    gl.useProgram(p.program);
    gl.bindSampler(0, d.kind === kText ? g.textSampler : g.sceneSampler);
    gl.bindTexture(gl.TEXTURE_2D, d.texture >= 0 ? g.textures[d.texture] : null);
    if (d.kind !== kText) {
      gl.uniformMatrix4fv(p.worldView, false, f, 0, 16);
      gl.uniformMatrix4fv(p.projection, false, f, 16, 16);
    }
    // Opaque and depth-writing; the snow tests depth and adds its light; the text lies on top.
    if (d.kind === kSnow) {
      gl.uniform3fv(p.pointSize, f, 37, 3);
      gl.uniform3fv(p.pointScale, f, 40, 3);
      gl.uniform1f(p.viewportHeight, f[43]);
      gl.enable(gl.BLEND);
      gl.blendFunc(gl.SRC_ALPHA, gl.ONE);
      gl.enable(gl.DEPTH_TEST);
      gl.depthMask(false);
    } else if (d.kind === kText) {
      gl.enable(gl.BLEND);
      gl.blendFunc(gl.SRC_ALPHA, gl.ONE_MINUS_SRC_ALPHA);
      gl.disable(gl.DEPTH_TEST);
    } else {
      gl.uniform3fv(p.fogColor, f, 32, 3);
      gl.uniform2fv(p.fogRange, f, 35, 2);
      gl.disable(gl.BLEND);
      gl.enable(gl.DEPTH_TEST);
      gl.depthMask(true);
    }
    if (d.geometry >= 0) {
      const geometry = g.geometries[d.geometry];
      gl.bindVertexArray(geometry.vao);
      if (geometry.indexCount) gl.drawElements(gl.TRIANGLES, geometry.indexCount, gl.UNSIGNED_SHORT, 0);
      else gl.drawArrays(gl.TRIANGLE_STRIP, 0, d.count);
    } else if (d.count) {
      const stream = g.streams[d.kind][slot[d.kind]++];
      gl.bindBuffer(gl.ARRAY_BUFFER, stream.buffer);
      gl.bufferSubData(gl.ARRAY_BUFFER, 0, d.vertices);
      gl.bindVertexArray(stream.vao);
      gl.drawArrays(d.kind === kSnow ? gl.POINTS : gl.TRIANGLES, 0, d.count);
    } else {
      ++slot[d.kind];
    }
  }
  gl.bindVertexArray(null);
}

// As the exported page's fixed-step run: frame 1 drawn before the clock starts, the rest in
// batches of about kBatchMs, and the last frame encoded in the task that drew it.
function runFixed(gl, g, frames, wanted) {
  drawFrame(gl, g, frames[0]);
  const start = performance.now();
  let drawn = 1;
  function batch() {
    const until = performance.now() + kBatchMs;
    while (drawn < wanted && performance.now() < until) {
      drawFrame(gl, g, frames[drawn]);
      ++drawn;
    }
    if (drawn < wanted) {
      setTimeout(batch, 0);
      return;
    }
    const png = canvas.toDataURL('image/png');
    window.wgResult = {frames: drawn, ms: performance.now() - start, png: png};
    document.title = 'done: frame ' + drawn;
  }
  batch();
}

async function main() {
  const gl = canvas.getContext('webgl2', {
    alpha: false, depth: true, stencil: false, antialias: false, premultipliedAlpha: false,
    preserveDrawingBuffer: false,
  });
  if (!gl) throw new Error('this browser offers no WebGL2');
  const response = await fetch('recording.bin');
  if (!response.ok) throw new Error('recording.bin: HTTP ' + response.status);
  const recording = parse(await response.arrayBuffer());
  const wanted = params.has('frames') ? Number(params.get('frames')) : recording.frames.length;
  if (!Number.isInteger(wanted) || wanted < 1 || wanted > recording.frames.length)
    throw new Error('frames=' + params.get('frames') + ': the recording holds frames 1..' + recording.frames.length);
  const g = setUp(gl, recording);
  if (gl.getError() !== gl.NO_ERROR) throw new Error('the set-up left a WebGL error');
  runFixed(gl, g, recording.frames, wanted);
}

main().catch((e) => fail(e.message));
})();
