// The page around the greeting's runtime: it loads the prepared media into the runtime's file
// system, shows the first frame under one "open the greeting" control, and then hands the runtime
// the browser's animation frames while the tune plays.
//
// index.html?frames=N renders N frames at a fixed 1000/60 ms step instead, with no control and no
// sound, leaves frame N on the canvas and sets the title to "done: frame N"; window.wgResult then
// holds the frame as a PNG data URL and the time the frames took. With &show=last the frames before
// N run as usual but fill no pixels: frame N comes sooner and is the same.
//
// A greeting link's fragment (WGLink) carries the card's own texts and choices: the texts go to
// /greeting/link.txt for the runtime, and only the chosen tune, ground and tree are fetched, into the
// paths the built-in ones use. "#make" opens the maker (maker.js). A page that carries its files
// inside itself (<script type="application/octet-stream" data-url=...>) takes them from there first.
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
const kControlsMs = 3000;
const kNotesMs = 8000;
const kLostMs = 3000;
const kReducedMotion = 0.25;
const kLinkTexts = '/greeting/link.txt';
const kKinds = ['tune', 'ground', 'tree'];
const word = window.WGWords.word;
const params = new URLSearchParams(location.search);
const fixed = params.has('frames');
const framesWanted = fixed ? Number(params.get('frames')) : 0;
const lastOnly = params.get('show') === 'last';
const $ = (id) => document.getElementById(id);
const canvas = $('scene');
const overlay = $('overlay');
const note = $('note');
const open = $('open');
const makeButton = $('make');
const reloadButton = $('reload');
const bar = $('progress');
const barText = $('progress-text');
const controls = $('controls');
const pauseButton = $('pause');
const muteButton = $('mute');
const fullButton = $('full');
const notesBox = $('notes');
const builtInTitle = document.title;

// The page's own words in the reader's language.
open.textContent = word('open');
makeButton.textContent = word('make');
reloadButton.textContent = word('reload');
pauseButton.setAttribute('aria-label', word('pause'));
muteButton.setAttribute('aria-label', word('mute'));
fullButton.setAttribute('aria-label', word('fullScreen'));
controls.setAttribute('aria-label', word('controls'));
note.textContent = word('loading');
reloadButton.addEventListener('click', () => location.reload());

function say(text) {
  note.textContent = text;
  note.hidden = !text;
  overlay.hidden = false;
}
function fail(text) {
  say(text);
  open.hidden = true;
  makeButton.hidden = true;
  bar.hidden = barText.hidden = true;
  controls.hidden = true;
  if (fixed) document.title = 'failed: ' + text;
}

// Notes on the link or the texts, in plain words, for a while.
let notesTimer = 0;
function showNotes(lines) {
  if (lines.length === 0) return;
  notesBox.textContent = lines.join('\n');
  notesBox.hidden = false;
  clearTimeout(notesTimer);
  notesTimer = setTimeout(() => { notesBox.hidden = true; }, kNotesMs);
}
function noteWords(notes) {
  return [...new Set(notes.map((n) => word(n.code)))];
}

// The files a single-file page carries, by URL.
const embedded = new Map();
for (const e of document.querySelectorAll('script[type="application/octet-stream"][data-url]'))
  embedded.set(e.getAttribute('data-url'), e);

if (fixed && !(Number.isInteger(framesWanted) && framesWanted >= 1 && framesWanted <= 100000)) {
  fail('frames must be a whole number from 1 to 100000');
  return;
}
// A folder saved from an attachment cannot fetch its own files: the link works where the file does not.
if (location.protocol === 'file:' && embedded.size === 0) {
  fail(word('fromFile'));
  return;
}
const probe = document.createElement('canvas').getContext('webgl2');
if (!probe) {
  fail(word('noWebGl'));
  return;
}
const lose = probe.getExtension('WEBGL_lose_context');
if (lose) lose.loseContext();

// The tune: the runtime's synthesizer plays a MIDI file by playing its recording here. The audio
// element streams the recording from its URL, so it starts before the whole of it has come.
const audio = $('tune');
const recordings = new Map();
const tune = {
  play(midi) {
    const url = recordings.get(midi);
    if (url === undefined) return false;
    if (fixed) return true;
    if (audio.src !== new URL(url, location.href).href) {
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

// The bytes loaded so far of all the page has asked for, shown while it loads.
const loaded = {done: 0, total: 0, shown: true};
function countBytes(done, total) {
  loaded.done += done;
  loaded.total += total;
  if (!loaded.shown || loaded.total === 0) return;
  bar.hidden = barText.hidden = false;
  bar.max = loaded.total;
  bar.value = Math.min(loaded.done, loaded.total);
  const mb = (n) => (n / 1e6).toFixed(1);
  barText.textContent = word('loadingBytes', mb(loaded.done), mb(loaded.total));
}

function base64Bytes(text) {
  const binary = atob(text.replace(/\s+/g, ''));
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; ++i) bytes[i] = binary.charCodeAt(i);
  return bytes;
}

// The exporter sends the runtime and the prepared media gzip-compressed, whatever the server does.
async function inflate(bytes) {
  const stream = new Blob([bytes]).stream().pipeThrough(new DecompressionStream('gzip'));
  return new Uint8Array(await new Response(stream).arrayBuffer());
}

// A JPEG texture as the texels the runtime reads (a prepared texture of one level: "WGTEXLV1", the
// level count, width, height, RGBA rows top first), decoded by the browser without colour management,
// which gives the desktop decoder's texels for the JPEGs the exporter sends as they are.
async function texelsOf(url, bytes) {
  let bitmap;
  try {
    bitmap = await createImageBitmap(new Blob([bytes], {type: 'image/jpeg'}),
                                     {colorSpaceConversion: 'none', premultiplyAlpha: 'none'});
  } catch (e) {
    throw new Error(url + ': the browser cannot decode the image (' + e.message + ')');
  }
  const w = bitmap.width, h = bitmap.height;
  const canvas = typeof OffscreenCanvas === 'function' ? new OffscreenCanvas(w, h) :
                                                         Object.assign(document.createElement('canvas'), {width: w, height: h});
  const context = canvas.getContext('2d', {willReadFrequently: true});
  context.drawImage(bitmap, 0, 0);
  bitmap.close();
  const rgba = context.getImageData(0, 0, w, h).data;
  const out = new Uint8Array(20 + rgba.length);
  out.set(new TextEncoder().encode('WGTEXLV1'));
  const view = new DataView(out.buffer);
  view.setUint32(8, 1, true);
  view.setInt32(12, w, true);
  view.setInt32(16, h, true);
  out.set(rgba, 20);
  return out;
}

// A fetched file as the runtime reads it: inflated where it is compressed, decoded where it is a JPEG.
function unpacked(url, bytes) {
  if (bytes.length > 2 && bytes[0] === 0x1f && bytes[1] === 0x8b) return inflate(bytes);
  if (bytes.length > 3 && bytes[0] === 0xff && bytes[1] === 0xd8 && bytes[2] === 0xff) return texelsOf(url, bytes);
  return bytes;
}

// A file of the page as the runtime reads it (see unpacked): the copy the page carries, else fetched
// from the page's folder.
async function fetchBytes(url) {
  return unpacked(url, await fetchRaw(url));
}

// The files the first frame of the page's own card needs come packed in one (the manifest's
// "pack"): a slow link's latency is paid once for all of them. The pack is taken apart as it
// arrives; each file is then handed out as if it had been fetched from its own URL.
let pack = null;  // a promise of the files by URL, or null when the page has no pack
const packedUrls = new Set();
function startPack(p) {
  if (!p || typeof p.url !== 'string' || !Array.isArray(p.files)) return;
  for (const url of p.files) packedUrls.add(url);
  pack = fetchRaw(p.url).then((bytes) => readPack(p.url, bytes));
  pack.catch(() => {});
}
// "WGPACK01", the file count, then each file's URL length, URL, size and bytes (u32 little-endian).
function readPack(url, bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  let at = 0;
  const take = (n) => {
    if (n > bytes.length - at) throw new Error(url + ' is cut off');
    at += n;
    return bytes.subarray(at - n, at);
  };
  const u32 = () => view.getUint32(take(4).byteOffset - bytes.byteOffset, true);
  if (new TextDecoder().decode(take(8)) !== 'WGPACK01') throw new Error(url + ' is no pack of the page\'s files');
  const files = new Map();
  for (let n = u32(); n > 0; --n) {
    const name = new TextDecoder().decode(take(u32()));
    files.set(name, take(u32()));
  }
  return files;
}

// A file of the page as it is stored: the copy the page carries, else the pack's, else fetched from
// the page's folder, read as it comes so that the progress moves. A pack that cannot be had leaves
// its files to be fetched one by one.
async function fetchRaw(url) {
  const carried = embedded.get(url);
  if (carried) {
    const bytes = base64Bytes(carried.textContent);
    countBytes(bytes.length, bytes.length);
    return bytes;
  }
  if (pack && packedUrls.has(url)) {
    const files = await pack.catch(() => null);
    if (files && files.has(url)) return files.get(url);
  }
  const r = await fetch(url);
  if (!r.ok) throw new Error(url + ': ' + r.status + ' ' + r.statusText);
  const length = Number(r.headers.get('Content-Length')) || 0;
  if (!r.body || length === 0) {
    const bytes = new Uint8Array(await r.arrayBuffer());
    countBytes(bytes.length, bytes.length);
    return bytes;
  }
  countBytes(0, length);
  const parts = [];
  let size = 0;
  for (const reader = r.body.getReader();;) {
    const {done, value} = await reader.read();
    if (done) break;
    parts.push(value);
    size += value.length;
    countBytes(value.length, 0);
  }
  const bytes = new Uint8Array(size);
  let at = 0;
  for (const p of parts) {
    bytes.set(p, at);
    at += p.length;
  }
  return bytes;
}
// The URL the audio element plays a recording from: the page's own copy as a blob where it carries
// one, made once.
const carriedRecordings = new Map();
function recordingUrl(url) {
  const carried = embedded.get(url);
  if (!carried) return url;
  if (!carriedRecordings.has(url))
    carriedRecordings.set(url, URL.createObjectURL(new Blob([base64Bytes(carried.textContent)], {type: 'audio/ogg'})));
  return carriedRecordings.get(url);
}

// The drawing buffer's size for the window as it is now: [width, height].
function canvasSize() {
  const ratio = window.devicePixelRatio || 1;
  const w = Math.max(1, window.innerWidth) * ratio, h = Math.max(1, window.innerHeight) * ratio;
  const scale = Math.min(1, Math.sqrt(kMaxPixels / (w * h)), kMaxHeight / h, kMaxSide / w);
  const side = (v) => Math.min(kMaxSide, Math.max(kMinSide, 2 * Math.round(v * scale / 2)));
  return [side(w), side(h)];
}

function writeFile(runtime, path, bytes) {
  runtime.FS.mkdirTree(path.slice(0, path.lastIndexOf('/')));
  runtime.FS.writeFile(path, bytes);
}

// The faces of the prepared text sizes, by size: {url, path in the runtime's file system, bytes (a
// promise, once fetched), loaded}.
const faces = new Map();

function fetchFace(px) {
  const face = faces.get(px);
  if (!face) throw new Error('no face was prepared at ' + px + ' pixels');
  if (!face.bytes) face.bytes = fetchBytes(face.url);
  return face;
}

// Puts the faces of the text sizes `sizes` into the runtime's file system, each fetched once.
async function loadFaces(runtime, sizes) {
  await Promise.all(sizes.map(async (px) => {
    const face = fetchFace(px);
    if (face.loaded) return;
    writeFile(runtime, face.path, await face.bytes);
    face.loaded = true;
  }));
}

// The face a canvas of `size` draws with, by the manifest's table, so that it is fetched while the
// runtime still loads (the runtime's own answer, _wg_text_pixels, decides); 0 when the manifest has
// no table.
function faceFor(size) {
  const rule = manifest && manifest.faceFor;
  if (!rule || !Array.isArray(rule.heights) || rule.heights.length === 0) return 0;
  const [pw, ph, ppx] = rule.picture;
  if (size[0] === pw && size[1] === ph) return ppx;
  const entry = rule.heights.find(([tallest]) => size[1] <= tallest);
  return (entry || rule.heights[rule.heights.length - 1])[1];
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

// ---- the card a link carries ----

let manifest = null;
// The card now shown: {greeting?, credits?, tune?, ground?, tree?, lang?}, or null for the built-in one.
let card = null;

function choices(kind) {
  return (manifest && manifest.choices && Array.isArray(manifest.choices[kind])) ? manifest.choices[kind] : [];
}
// The choice of `kind` a card asks for: the named one, else the built-in card's (the list's first);
// null where the manifest offers none. An unknown name adds a note.
function chosen(kind, wanted, notes) {
  const list = choices(kind);
  if (list.length === 0) {
    if (wanted && notes) notes.push({code: 'unknown-choice', detail: kind});
    return null;
  }
  const found = wanted ? list.find((c) => c.name === wanted) : null;
  if (wanted && !found && notes) notes.push({code: 'unknown-choice', detail: kind});
  return found || list[0];
}
function hasTexts(c) {
  return !!c && (c.greeting !== undefined || c.credits !== undefined);
}

// The link in the page's fragment: the card and its notes.
function readLink() {
  if (location.hash === '#make' || !window.WGLink) return {card: null, notes: []};
  const decoded = window.WGLink.decode(location.hash);
  const notes = decoded.notes.slice();
  const c = decoded.card;
  if (c && manifest)
    for (const kind of kKinds) {
      const choice = c[kind] ? chosen(kind, c[kind], notes) : null;
      if (c[kind] && (!choice || choice.name !== c[kind])) delete c[kind];
    }
  return {card: c, notes: notes};
}

// The chosen media's files, beyond the ones every choice shares.
function choiceFiles(c) {
  const files = [];
  for (const kind of kKinds) {
    const choice = chosen(kind, c ? c[kind] : undefined, null);
    if (choice && Array.isArray(choice.files)) files.push(...choice.files);
  }
  return files;
}

// The recordings of the manifest's tunes, and the chosen tune's for its MIDI file.
function setRecordings(c) {
  if (recordings.size === 0)
    for (const t of manifest.tunes || []) recordings.set(t.midi, fixed ? t.url : recordingUrl(t.url));
  const t = chosen('tune', c ? c.tune : undefined, null);
  if (!t || !t.recording) return;
  for (const [, path] of t.files || [])
    if (path.endsWith('.mid')) recordings.set(path, fixed ? t.recording : recordingUrl(t.recording));
}

// What the page shows for the card `c`: its texts for the runtime, its title and language.
function applyTexts(runtime, c) {
  if (hasTexts(c)) {
    const lines = [c.greeting || '', ...(c.credits || [])];
    writeFile(runtime, kLinkTexts, new TextEncoder().encode(lines.join('\n')));
  } else if (runtime.FS.analyzePath(kLinkTexts).exists) {
    runtime.FS.unlink(kLinkTexts);
  }
  document.title = c && c.greeting ? c.greeting : builtInTitle;
  document.documentElement.lang = (c && c.lang) || (manifest && manifest.lang) || 'en';
}

// The files written into the runtime, by runtime path: the URL each came from.
const written = new Map();
async function writeFiles(runtime, files) {
  const wanted = files.filter(([url, path]) => written.get(path) !== url);
  const bytes = await Promise.all(wanted.map(([url]) => fetchBytes(url)));
  wanted.forEach(([url, path], i) => {
    writeFile(runtime, path, bytes[i]);
    written.set(path, url);
  });
}

// Puts the card `c` into the runtime: its chosen media and its texts.
async function applyCard(runtime, c) {
  await writeFiles(runtime, choiceFiles(c));
  setRecordings(c);
  applyTexts(runtime, c);
  card = c;
}

// The runtime's script, sent compressed: run as an inline script, which the page's policy allows by
// its hash.
async function loadRuntimeScript() {
  const code = new TextDecoder().decode(await fetchBytes('runtime.js'));
  const script = document.createElement('script');
  script.textContent = code;
  document.head.appendChild(script);
  if (typeof WinterGreetingRuntime !== 'function')
    throw new Error('runtime.js did not run (the page\'s Content-Security-Policy lacks its hash?)');
}

async function loadRuntime() {
  const wasm = fetchBytes('runtime.wasm');
  wasm.catch(() => {});
  if (typeof WinterGreetingRuntime !== 'function') await loadRuntimeScript();
  const options = {tune: tune, text: window.WGText, wasmBinary: await wasm};
  return WinterGreetingRuntime(options);
}

// The manifest, the runtime and every file the card needs, all at once.
async function load() {
  const runtimeLoaded = loadRuntime();
  runtimeLoaded.catch(() => {});
  manifest = JSON.parse(new TextDecoder().decode(await fetchBytes('greeting/manifest.json')));
  startPack(manifest.pack);
  const link = readLink();
  showNotes(noteWords(link.notes));
  for (const [pixels, url, path] of manifest.faces) faces.set(pixels, {url: url, path: path, loaded: false});
  const guess = faceFor(canvasSize());
  if (faces.has(guess)) fetchFace(guess).bytes.catch(() => {});
  const files = [...manifest.files, ...choiceFiles(link.card)];
  const fetched = Promise.all(files.map(([url]) => fetchBytes(url)));
  // Marks on the performance timeline, for the loading benchmark.
  runtimeLoaded.then(() => performance.mark('wg-runtime'), () => {});
  fetched.then(() => performance.mark('wg-files'), () => {});
  const [runtime, bytes] = await Promise.all([runtimeLoaded, fetched]);
  files.forEach(([url, path], i) => {
    writeFile(runtime, path, bytes[i]);
    written.set(path, url);
  });
  await applyCard(runtime, link.card);
  return runtime;
}

// The runtime's notes on the texts it was given (a line left out), in plain words.
function runtimeNotes(runtime, g) {
  if (typeof runtime._wg_notes !== 'function') return;
  const text = runtime.UTF8ToString(runtime._wg_notes(g));
  window.wgNotes = text;
  const lines = text.split('\n').filter((l) => l);
  showNotes([...new Set(lines.map((l) => (word(l) !== l ? word(l) : l)))]);
}

// Reduced motion asked for: the snow and the orbit move at a quarter of their speed.
function applyMotion(runtime, g) {
  if (typeof runtime._wg_set_motion !== 'function' || !window.matchMedia) return;
  const reduce = window.matchMedia('(prefers-reduced-motion: reduce)');
  // ?motion=S sets the share outright (the tests compare frames at a given share).
  const asked = params.has('motion') ? Number(params.get('motion')) : NaN;
  runtime._wg_set_motion(g, Number.isFinite(asked) ? asked : reduce.matches ? kReducedMotion : 1);
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

// The playing greeting: waiting, running, paused, ended or failed. Pausing stops the frames and the
// tune together; playing on moves the scene's clock by the pause, so both go on from where they were.
function runLive(runtime, g) {
  let state = 'waiting';
  let sceneStart = -1, pausedAt = 0, sceneMs = 0;
  let hiddenPaused = false, lost = false, lostTimer = 0;
  const error = () => runtime.UTF8ToString(runtime._wg_error(g));

  let controlsTimer = 0;
  function showControls() {
    if (state !== 'running' && state !== 'paused') return;
    controls.hidden = false;
    clearTimeout(controlsTimer);
    if (state === 'running') controlsTimer = setTimeout(() => { controls.hidden = true; }, kControlsMs);
  }
  function showButtons() {
    pauseButton.setAttribute('aria-pressed', String(state === 'paused'));
    pauseButton.textContent = state === 'paused' ? '▶' : '❚❚';
    muteButton.setAttribute('aria-pressed', String(audio.muted));
    muteButton.textContent = audio.muted ? '♪̸' : '♪';
  }
  function offer(label) {
    open.textContent = word(label);
    say('');
    open.hidden = false;
    makeButton.hidden = false;
    controls.hidden = true;
    open.focus();
  }
  function stopWith(text) {
    state = 'failed';
    audio.pause();
    fail(text);
  }

  // One chain of animation frames at a time, however often the greeting pauses and plays on.
  let looping = false;
  function loop() {
    if (looping) return;
    looping = true;
    requestAnimationFrame(frame);
  }
  function frame(t) {
    looping = false;
    if (state !== 'running') return;
    if (reframing) {
      loop();
      return;
    }
    // The first frame after the start comes one frame after the first one, as on the desktop.
    if (sceneStart < 0) sceneStart = t - kStep;
    sceneMs = t - sceneStart;
    const r = runtime._wg_frame(g, sceneMs, 1);
    if (r === 1) {
      loop();
      return;
    }
    // A frame drawn after the context was lost and before the page heard of it fails for that alone.
    const context = canvas.getContext('webgl2');
    if (r < 0 && context && context.isContextLost()) {
      lost = true;
      pause();
      return;
    }
    audio.pause();
    if (r < 0) {
      stopWith(word('stopped', error()));
      return;
    }
    // Escape was held: the tune has stopped, the picture stays.
    state = 'ended';
    offer('again');
  }
  function play() {
    state = 'running';
    overlay.hidden = true;
    // A browser that refuses to play leaves the scene silent rather than stopped.
    audio.play().catch(() => {});
    loop();
    showButtons();
    showControls();
  }
  function start() {
    if (state !== 'waiting' && state !== 'ended') return;
    if (state === 'ended' && runtime._wg_restart(g) !== 1) {
      stopWith(word('notAgain', error()));
      return;
    }
    if (state === 'ended') applyMotion(runtime, g);
    audio.currentTime = 0;
    sceneStart = -1;
    play();
  }
  function pause() {
    if (state !== 'running') return;
    state = 'paused';
    pausedAt = performance.now();
    audio.pause();
    showButtons();
    showControls();
  }
  function resume() {
    if (state !== 'paused' || lost) return;
    if (sceneStart >= 0) sceneStart += performance.now() - pausedAt;
    play();
  }
  // From the start again with what the runtime's files now hold; a running greeting keeps running.
  function restart() {
    // Without a context there is nothing to start: the restored context's new greeting takes the files.
    if (state === 'failed' || reframing || lost) return;
    if (runtime._wg_restart(g) !== 1) {
      stopWith(word('notAgain', error()));
      return;
    }
    applyMotion(runtime, g);
    runtimeNotes(runtime, g);
    sceneStart = -1;
    audio.currentTime = 0;
    if (state === 'running') audio.play().catch(() => {});
    if (state === 'ended') state = 'waiting';
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
      stopWith(word('newShape', why));
      return;
    }
    applyMotion(runtime, g);
    sceneStart = -1;
    audio.currentTime = 0;
    if (state === 'running') audio.play().catch(() => {});
  }
  window.addEventListener('resize', () => {
    clearTimeout(settle);
    settle = setTimeout(reframe, kSettleMs);
  });

  function toggleFullScreen() {
    const root = document.documentElement;
    if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
    else if (root.requestFullscreen) root.requestFullscreen().catch(() => {});
    else if (root.webkitRequestFullscreen) root.webkitRequestFullscreen();
  }
  function toggleMute() {
    audio.muted = !audio.muted;
    showButtons();
  }
  function togglePause() {
    if (state === 'running') pause();
    else resume();
  }
  const root = document.documentElement;
  fullButton.hidden = !(root.requestFullscreen || root.webkitRequestFullscreen);
  pauseButton.addEventListener('click', togglePause);
  muteButton.addEventListener('click', toggleMute);
  fullButton.addEventListener('click', toggleFullScreen);
  open.addEventListener('click', start);
  for (const type of ['pointermove', 'pointerdown', 'touchstart']) document.addEventListener(type, showControls);
  document.addEventListener('keydown', (e) => {
    // The maker's fields and the page's buttons keep their keys.
    if (e.target.closest && e.target.closest('#maker')) return;
    const onButton = e.target.tagName === 'BUTTON';
    if (state === 'waiting' || state === 'ended') {
      if ((e.key === 'Enter' || e.key === ' ') && (!onButton || e.target === open)) {
        e.preventDefault();
        start();
      }
      return;
    }
    if (state !== 'running' && state !== 'paused') return;
    showControls();
    const key = e.key.toLowerCase();
    if ((key === ' ' && !onButton) || key === 'k') {
      e.preventDefault();
      togglePause();
    } else if (key === 'm') {
      toggleMute();
    } else if (key === 'f') {
      toggleFullScreen();
    }
  });
  // A hidden tab pauses both, and plays both on when shown again if it was playing.
  document.addEventListener('visibilitychange', () => {
    if (document.hidden) {
      if (state === 'running') {
        pause();
        hiddenPaused = true;
      }
    } else if (hiddenPaused) {
      hiddenPaused = false;
      resume();
    }
  });
  if (window.matchMedia)
    window.matchMedia('(prefers-reduced-motion: reduce)').addEventListener('change', () => applyMotion(runtime, g));

  // The browser took the graphics away: the greeting waits for them, and starts again when they
  // come back; if they do not, the reader is told why and offered a reload.
  canvas.addEventListener('webglcontextlost', (e) => {
    e.preventDefault();
    lost = true;
    pause();
    clearTimeout(lostTimer);
    lostTimer = setTimeout(() => {
      say(word('contextLost'));
      open.hidden = makeButton.hidden = true;
      controls.hidden = true;
      reloadButton.hidden = false;
    }, kLostMs);
  });
  canvas.addEventListener('webglcontextrestored', () => {
    clearTimeout(lostTimer);
    lost = false;
    reloadButton.hidden = true;
    if (state === 'failed') return;
    // The greeting's GL objects went with the lost context: a new greeting is made on the restored one.
    runtime._wg_destroy(g);
    // Deleting the old objects on the new context may leave errors the new greeting would take as its own.
    const context = canvas.getContext('webgl2');
    for (let i = 0; i < 16 && context.getError() !== context.NO_ERROR; ++i) {}
    g = runtime._wg_create(0);
    if (!g) {
      stopWith(word('noContext'));
      return;
    }
    if (error()) {
      stopWith(word('notAgain', error()));
      return;
    }
    applyMotion(runtime, g);
    if (state === 'paused') {
      audio.currentTime = 0;
      sceneStart = -1;
      play();
    } else {
      state = 'waiting';
      offer('open');
    }
  });

  // The maker, over the canvas: its preview plays the greeting with the texts and media being made.
  let maker = null;
  async function preview(c) {
    try {
      await applyCard(runtime, c);
      restart();
    } catch (e) {
      showNotes([word('notLoaded', e.message)]);
    }
  }
  function openMaker() {
    if (!maker)
      maker = window.WGMaker({
        word: word,
        choices: choices,
        preview: preview,
        card: () => card,
        closed: () => {
          if (location.hash === '#make') history.replaceState(null, '', location.pathname + location.search);
        },
      });
    maker.open();
    if (state === 'waiting' || state === 'ended') start();
  }
  makeButton.addEventListener('click', openMaker);
  // A new link in the fragment: the greeting starts again with its card.
  window.addEventListener('hashchange', async () => {
    if (location.hash === '#make') {
      openMaker();
      return;
    }
    const link = readLink();
    showNotes(noteWords(link.notes));
    await preview(link.card);
  });

  say('');
  bar.hidden = barText.hidden = true;
  loaded.shown = false;
  open.hidden = false;
  makeButton.hidden = false;
  open.focus();
  if (location.hash === '#make') openMaker();
  window.wgPage.state = () => state;
  window.wgPage.framesDrawn = () => runtime._wg_frames_drawn(g);
  window.wgPage.sceneMs = () => sceneMs;
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
        fail(word('notLoaded', e.message));
        return;
      }
      if (!g) {
        fail(word('noContext'));
        return;
      }
      if (!started) {
        fail(word('notStarted', runtime.UTF8ToString(runtime._wg_error(g))));
        return;
      }
      performance.mark('wg-first-frame');
      applyMotion(runtime, g);
      runtimeNotes(runtime, g);
      // For a look from outside (the browser tests): the frames drawn and a file the runtime reads.
      window.wgPage = {
        framesDrawn: () => runtime._wg_frames_drawn(g),
        file: (path) => runtime.FS.analyzePath(path).exists ? runtime.FS.readFile(path, {encoding: 'utf8'}) : null,
        // A file's bytes in base64, or null.
        fileBase64: (path) => {
          if (!runtime.FS.analyzePath(path).exists) return null;
          let text = '';
          for (const b of runtime.FS.readFile(path)) text += String.fromCharCode(b);
          return btoa(text);
        },
        // The face the manifest's table picks for a w x h canvas, and the runtime's own choice.
        faceFor: (w, h) => [faceFor([w, h]), runtime._wg_text_pixels(w, h)],
      };
      if (fixed)
        runFixed(runtime, g);
      else
        runLive(runtime, g);
    },
    (e) => {
      fail(word('notLoaded', e.message));
    });
})();
