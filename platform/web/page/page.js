// The page around the greeting's runtime: it loads the prepared media into the runtime's file
// system, shows the first frame under one "open the greeting" control, and then hands the runtime
// the browser's animation frames while the tune plays.
//
// index.html?frames=N renders N frames at a fixed 1000/60 ms step instead, with no control and no
// sound, leaves frame N on the canvas and sets the title to "done: frame N"; window.wgResult then
// holds the frame as a PNG data URL and the time the frames took. With &show=last the frames before
// N run as usual but fill no pixels: frame N comes sooner and is the same.
//
// The picture fills the window in any shape. The canvas's drawing buffer is the window's CSS size
// times devicePixelRatio, scaled down as a whole where it would be larger than kMaxPixels (twice the
// desktop's 1024 x 768: what a phone's GPU, or a software rasteriser, fills at the display's rate) or
// taller than the prepared text sizes cover, each side even and within 320..4096; CSS then scales it
// onto the window exactly. The runtime frames the scene for that size as the desktop's --size does,
// and draws its text in the face prepared for the size the frame needs, which is fetched alone.
// A window of 1024 x 768 CSS pixels at a ratio of 1 is the desktop's picture, frame for frame.
//
// When the window changes shape (a phone turned, a window resized), the greeting starts again at
// its new shape, tune included, once the size has stood still for kSettleMs: the device, its back
// buffer and the text are made for one size at start-up, and the stretched picture in between lasts
// only that long. A greeting that waits or has ended draws its first frame anew at the new shape.
'use strict';

(function() {
const kStep = 1000 / 60;
const kMinSide = 320, kMaxSide = 4096;
const kMaxPixels = 2 * 1024 * 768;
// app::kWebMaxCanvasHeight: the largest prepared text size covers a frame this tall.
const kMaxHeight = 2320;
const kSettleMs = 300;
const params = new URLSearchParams(location.search);
const fixed = params.has('frames');
const framesWanted = fixed ? Number(params.get('frames')) : 0;
const lastOnly = params.get('show') === 'last';
const canvas = document.getElementById('scene');
const overlay = document.getElementById('overlay');
const note = document.getElementById('note');
const open = document.getElementById('open');

function say(text) {
  note.textContent = text;
  note.hidden = !text;
  overlay.hidden = false;
}
function fail(text) {
  say(text);
  open.hidden = true;
  if (fixed) document.title = 'failed: ' + text;
}

if (fixed && !(Number.isInteger(framesWanted) && framesWanted >= 1 && framesWanted <= 100000)) {
  fail('frames must be a whole number from 1 to 100000');
  return;
}
const probe = document.createElement('canvas').getContext('webgl2');
if (!probe) {
  fail(
      'This browser cannot show the greeting: it needs WebGL 2, which is missing or switched off here. ' +
      'A current Firefox, Chrome, Edge or Safari shows it.');
  return;
}
const lose = probe.getExtension('WEBGL_lose_context');
if (lose) lose.loseContext();

// The tune: the runtime's synthesizer plays a MIDI file by playing its recording here.
const audio = document.getElementById('tune');
const recordings = new Map();
const tune = {
  play(midi) {
    const url = recordings.get(midi);
    if (url === undefined) return false;
    if (fixed) return true;
    if (!audio.src) {
      audio.preload = 'auto';
      audio.src = url;
    }
    audio.pause();
    audio.currentTime = 0;
    return true;
  },
  stop() {
    audio.pause();
    audio.currentTime = 0;
  },
  playing() { return !audio.paused && !audio.ended; },
};

async function fetchBytes(url) {
  const r = await fetch(url);
  if (!r.ok) throw new Error(url + ': ' + r.status + ' ' + r.statusText);
  return new Uint8Array(await r.arrayBuffer());
}
function loadScript(src) {
  return new Promise((resolve, reject) => {
    const s = document.createElement('script');
    s.src = src;
    s.onload = resolve;
    s.onerror = () => reject(new Error(src + ' did not load'));
    document.head.appendChild(s);
  });
}

// The drawing buffer's size for the window as it is now: [width, height].
function canvasSize() {
  const ratio = window.devicePixelRatio || 1;
  const w = Math.max(1, window.innerWidth) * ratio, h = Math.max(1, window.innerHeight) * ratio;
  const scale = Math.min(1, Math.sqrt(kMaxPixels / (w * h)), kMaxHeight / h, kMaxSide / w);
  const side = (v) => Math.min(kMaxSide, Math.max(kMinSide, 2 * Math.round(v * scale / 2)));
  return [side(w), side(h)];
}

// The faces of the prepared text sizes, by size: {url, path in the runtime's file system, loaded}.
const faces = new Map();

// Puts the faces of the text sizes `sizes` into the runtime's file system, each fetched once.
async function loadFaces(runtime, sizes) {
  await Promise.all(sizes.map(async (px) => {
    const face = faces.get(px);
    if (!face) throw new Error('no face was prepared at ' + px + ' pixels');
    if (face.loaded) return;
    const bytes = await fetchBytes(face.url);
    runtime.FS.mkdirTree(face.path.slice(0, face.path.lastIndexOf('/')));
    runtime.FS.writeFile(face.path, bytes);
    face.loaded = true;
  }));
}

// Starts the greeting at `size` through `start` (the runtime's start: true when it started), with
// the face its frame's height asks for. Where a card's line does not fit that frame at that size,
// the smaller faces are fetched too and it starts again: the runtime then takes the largest size at
// which every line fits. The canvas's size is set (which clears it) only once the faces have come,
// in the same task as the start that draws it again, so the canvas never shows empty.
async function startAt(runtime, size, start) {
  const want = runtime._wg_text_pixels(size[0], size[1]);
  await loadFaces(runtime, [want]);
  canvas.width = size[0];
  canvas.height = size[1];
  if (start()) return true;
  const smaller = [...faces.keys()].filter((px) => px < want && !faces.get(px).loaded);
  if (smaller.length === 0) return false;
  await loadFaces(runtime, smaller);
  return start();
}

async function load() {
  const manifest = JSON.parse(new TextDecoder().decode(await fetchBytes('greeting/manifest.json')));
  // The recording is held in memory: it plays, knows its length and seeks to its start whether or
  // not the server answers range requests.
  await Promise.all(manifest.tunes.map(async (t) => {
    const url = fixed ? t.url : URL.createObjectURL(new Blob([await fetchBytes(t.url)], {type: 'audio/ogg'}));
    recordings.set(t.midi, url);
  }));
  for (const [pixels, url, path] of manifest.faces) faces.set(pixels, {url: url, path: path, loaded: false});
  // The card's own choice of each kind (the first) beside the shared files.
  const chosen = ['tune', 'ground', 'tree'].flatMap((kind) => manifest.choices[kind][0].files);
  const files = await Promise.all([...manifest.files, ...chosen].map(async ([url, path]) => [path, await fetchBytes(url)]));
  await loadScript('runtime.js');
  const runtime = await WinterGreetingRuntime({tune: tune});
  for (const [path, bytes] of files) {
    runtime.FS.mkdirTree(path.slice(0, path.lastIndexOf('/')));
    runtime.FS.writeFile(path, bytes);
  }
  return runtime;
}

function runFixed(runtime, g) {
  overlay.hidden = true;
  const start = performance.now();
  let drawn = 1;
  function batch() {
    const until = performance.now() + 50;
    while (drawn < framesWanted && performance.now() < until) {
      if (runtime._wg_frame(g, 0, !lastOnly || drawn + 1 === framesWanted ? 1 : 0) !== 1) {
        fail('frame ' + (drawn + 1) + ' failed: ' + runtime.UTF8ToString(runtime._wg_error(g)));
        return;
      }
      ++drawn;
    }
    if (drawn < framesWanted) {
      setTimeout(batch, 0);
      return;
    }
    // In the same task as the last frame, while the canvas still holds it.
    const png = canvas.toDataURL('image/png');
    window.wgResult = {frames: drawn, ms: performance.now() - start, png: png};
    document.title = 'done: frame ' + drawn;
  }
  batch();
}

function runLive(runtime, g) {
  let state = 'waiting';
  let sceneStart = -1;
  const error = () => runtime.UTF8ToString(runtime._wg_error(g));
  function frame(t) {
    if (state !== 'running') return;
    if (reframing) {
      requestAnimationFrame(frame);
      return;
    }
    // The first frame after the start comes one frame after the first one, as on the desktop.
    if (sceneStart < 0) sceneStart = t - kStep;
    const r = runtime._wg_frame(g, t - sceneStart, 1);
    if (r === 1) {
      requestAnimationFrame(frame);
      return;
    }
    audio.pause();
    if (r < 0) {
      state = 'failed';
      fail('The greeting stopped: ' + error());
      return;
    }
    // Escape was held: the tune has stopped, the picture stays.
    state = 'ended';
    open.textContent = '↻ Watch again';
    say('');
    open.hidden = false;
    open.focus();
  }
  function start() {
    if (state === 'running' || state === 'failed') return;
    if (state === 'ended' && runtime._wg_restart(g) !== 1) {
      state = 'failed';
      fail('The greeting could not start again: ' + error());
      return;
    }
    state = 'running';
    overlay.hidden = true;
    audio.currentTime = 0;
    // A browser that refuses to play leaves the scene silent rather than stopped.
    audio.play().catch(() => {});
    sceneStart = -1;
    requestAnimationFrame(frame);
  }
  // The window's new shape, once it has stood still: the greeting starts again at it. No frame is
  // drawn while the faces come (a failed first start leaves no greeting to draw).
  let settle = 0, reframing = false;
  async function reframe() {
    const size = canvasSize();
    if (reframing || state === 'failed' || (size[0] === canvas.width && size[1] === canvas.height)) return;
    reframing = true;
    let started = false, why = '';
    try {
      started = await startAt(runtime, size, () => runtime._wg_restart(g) === 1);
      why = started ? '' : error();
    } catch (e) {
      why = e.message;
    }
    reframing = false;
    if (!started) {
      state = 'failed';
      audio.pause();
      fail('The greeting could not take the window\'s new shape: ' + why);
      return;
    }
    if (state === 'running') {
      sceneStart = -1;
      audio.currentTime = 0;
    }
  }
  window.addEventListener('resize', () => {
    clearTimeout(settle);
    settle = setTimeout(reframe, kSettleMs);
  });
  open.addEventListener('click', start);
  document.addEventListener('keydown', (e) => {
    if (state !== 'running' && (e.key === 'Enter' || e.key === ' ')) {
      e.preventDefault();
      start();
    }
  });
  say('');
  open.hidden = false;
  open.focus();
}

load().then(
    async (runtime) => {
      let g = 0, started = false;
      try {
        started = await startAt(runtime, canvasSize(), () => {
          if (g) return runtime._wg_restart(g) === 1;
          g = runtime._wg_create(fixed ? 1 : 0);
          return g !== 0 && !runtime.UTF8ToString(runtime._wg_error(g));
        });
      } catch (e) {
        fail('The greeting could not be loaded (' + e.message + ').');
        return;
      }
      if (!g) {
        fail('This browser cannot show the greeting: it gives the page no WebGL 2.');
        return;
      }
      if (!started) {
        fail('The greeting could not start: ' + runtime.UTF8ToString(runtime._wg_error(g)));
        return;
      }
      if (fixed)
        runFixed(runtime, g);
      else
        runLive(runtime, g);
    },
    (e) => {
      fail(
          'The greeting could not be loaded (' + e.message + '). Open the page through a web server, ' +
          'for example: python3 -m http.server, in its folder.');
    });
})();
