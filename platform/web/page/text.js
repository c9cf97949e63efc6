// The browser's text stack for the greeting's runtime (window.WGText, handed to it as its `text`
// option): it measures and rasterises a line of a link's text with Canvas 2D, so the browser's own
// faces draw whatever a sender wrote, emoji and right-to-left scripts included.
//
// line(text, pixels, bold) draws the line once in white and once in black on transparent ground, in
// the greeting's face at an em height of `pixels`. A colour glyph (an emoji) ignores the fill colour,
// so the pixels equal in both drawings are its own and go to the colour part (RGBA, straight alpha);
// the others are the text's coverage (the white drawing's alpha), drawn in the text's colour. Both
// parts are one image placed on the pen: `left` columns right of it, `top` rows above the baseline.
// The line's direction is its first strong character's, as the desktop's layout takes it.
//
// breaks(text) gives the code-point positions where a wrapped line may start: after spaces, and
// beside Chinese, Japanese and Korean characters, which break between any two of them.
'use strict';

window.WGText = (function() {
  const kFamily = '"Liberation Sans", Arial, sans-serif';
  // Clear columns and rows around the ink, so an overhang the measurement misses is still drawn.
  const kPad = 2;
  const rtlScript =
      /[\p{Script=Hebrew}\p{Script=Arabic}\p{Script=Syriac}\p{Script=Thaana}\p{Script=Nko}\p{Script=Samaritan}\p{Script=Mandaic}\p{Script=Adlam}]/u;
  const letter = /\p{L}/u;
  const ideographic =
      /[\p{Script=Han}\p{Script=Hiragana}\p{Script=Katakana}\p{Script=Hangul}\p{Script=Bopomofo}\u3000-\u303f\uff00-\uffef]/u;
  // No line starts with these, and none ends with the opening ones.
  const closing = new Set([
    ...'、。，．！？：；」』）】〕〉》〙〗ー々ゝゞぁぃぅぇぉっゃゅょゎァィゥェォッャュョヮヵヶ…‥・,.!?:;)]}%'
  ]);
  const opening = new Set([...'「『（【〔〈《〘〖([{']);
  const isSpace = (c) => c === ' ' || c === '\u3000';
  let canvas = null;

  function context(width, height) {
    if (!canvas)
      canvas = typeof OffscreenCanvas !== 'undefined' ? new OffscreenCanvas(1, 1) :
                                                        document.createElement('canvas');
    canvas.width = width;
    canvas.height = height;
    return canvas.getContext('2d', {willReadFrequently: true});
  }
  function setUp(ctx, pixels, bold, rtl) {
    ctx.font = (bold ? 'bold ' : '') + pixels + 'px ' + kFamily;
    ctx.direction = rtl ? 'rtl' : 'ltr';
    ctx.textAlign = 'left';
    ctx.textBaseline = 'alphabetic';
  }
  function rightToLeft(text) {
    for (const c of text)
      if (letter.test(c)) return rtlScript.test(c);
    return false;
  }

  function line(text, pixels, bold) {
    const rtl = rightToLeft(text);
    let ctx = context(1, 1);
    setUp(ctx, pixels, bold, rtl);
    const m = ctx.measureText(text);
    const left = Math.ceil(Math.max(0, m.actualBoundingBoxLeft)) + kPad;
    const right = Math.ceil(Math.max(m.width, m.actualBoundingBoxRight));
    const ascent = Math.ceil(Math.max(0, m.actualBoundingBoxAscent, m.fontBoundingBoxAscent || 0)) + kPad;
    const descent = Math.ceil(Math.max(0, m.actualBoundingBoxDescent, m.fontBoundingBoxDescent || 0)) + kPad;
    const width = left + right + kPad, height = ascent + descent;
    // The white drawing above, the black one below, read back at once.
    ctx = context(width, 2 * height);
    setUp(ctx, pixels, bold, rtl);
    ctx.fillStyle = '#fff';
    ctx.fillText(text, left, ascent);
    ctx.fillStyle = '#000';
    ctx.fillText(text, left, height + ascent);
    const both = ctx.getImageData(0, 0, width, 2 * height).data;
    const n = width * height;
    const coverage = new Uint8Array(n);
    const colour = new Uint8Array(4 * n);
    let coloured = false;
    for (let i = 0; i < n; ++i) {
      const w = 4 * i, b = 4 * (i + n);
      if (both[w + 3] === 0) continue;
      if (both[w] === both[b] && both[w + 1] === both[b + 1] && both[w + 2] === both[b + 2] &&
          both[w + 3] === both[b + 3]) {
        colour.set(both.subarray(w, w + 4), w);
        coloured = true;
      } else {
        coverage[i] = both[w + 3];
      }
    }
    return {
      advance: Math.round(m.width),
      rtl: rtl,
      left: -left,
      top: ascent,
      width: width,
      height: height,
      coverage: coverage,
      colour: coloured ? colour : null,
    };
  }

  function breaks(text) {
    const cps = Array.from(text);
    const at = [];
    for (let i = 1; i < cps.length; ++i) {
      const a = cps[i - 1], b = cps[i];
      if (isSpace(b)) continue;
      if (isSpace(a) || ((ideographic.test(a) || ideographic.test(b)) && !closing.has(b) && !opening.has(a)))
        at.push(i);
    }
    return at;
  }

  return {line: line, breaks: breaks};
})();
