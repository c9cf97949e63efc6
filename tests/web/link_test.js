// The page's link reading and writing (platform/web/page/link.js), loaded as the page loads it (a
// classic script defining window.WGLink), against tests/data/links/vectors.json, which the program's
// own tests read too. Usage: node link_test.js SOURCE_DIR
'use strict';

const fs = require('fs');
const path = require('path');
const vm = require('vm');
const assert = require('assert');

const source = process.argv[2];
const window = {};
vm.runInNewContext(fs.readFileSync(path.join(source, 'platform/web/page/link.js'), 'utf8'), { window: window },
                   { filename: 'link.js' });
const WGLink = window.WGLink;
const vectors = JSON.parse(fs.readFileSync(path.join(source, 'tests/data/links/vectors.json'), 'utf8'));

let failures = 0;
function test(name, body) {
  try {
    body();
    console.log('ok   ' + name);
  } catch (e) {
    ++failures;
    console.log('FAIL ' + name + '\n     ' + String(e.message).split('\n').join('\n     '));
  }
}

// Objects made in the script's own context compare by value only once they are plain JSON.
function plain(value) {
  return value === undefined ? undefined : JSON.parse(JSON.stringify(value));
}

function checkNotes(notes) {
  assert.ok(Array.isArray(notes));
  for (const n of notes) {
    assert.strictEqual(typeof n.code, 'string');
    assert.strictEqual(typeof n.detail, 'string');
    assert.ok(n.detail.length <= WGLink.kLimits.detail + 3, 'a note detail of ' + n.detail.length + ' characters');
  }
}

test('the limits are the link format\'s', () => {
  assert.deepStrictEqual(plain(WGLink.kLimits), { fragment: 8192, text: 400, credits: 100, detail: 40 });
});

for (const v of vectors.cards) {
  test('encodes ' + v.name, () => assert.strictEqual(WGLink.encode(v.card), '#' + v.fragment));
  test('decodes ' + v.name, () => {
    const got = WGLink.decode('#' + v.fragment);
    assert.deepStrictEqual(plain(got), { card: v.card, notes: [] });
  });
}

for (const v of vectors.hostile) {
  test('reads ' + v.name, () => {
    const got = WGLink.decode(v.fragment, v.choices);
    checkNotes(got.notes);
    assert.deepStrictEqual(plain(got.card), v.card);
    assert.deepStrictEqual(plain(got.notes.map((n) => n.code)), v.notes);
    // With or without its '#', the fragment reads the same.
    const bare = v.fragment.replace(/^#/, '');
    assert.deepStrictEqual(plain(WGLink.decode('#' + bare, v.choices)), plain(got));
  });
}

test('what is no string reads as no link', () => {
  for (const value of [undefined, null, 42, {}, [], { toString() { throw new Error('no'); } }]) {
    const got = WGLink.decode(value);
    assert.deepStrictEqual(plain(got), { card: null, notes: [] });
  }
});

test('a fragment of a million characters is refused without being read', () => {
  const got = WGLink.decode('#1.' + 'A'.repeat(1 << 20));
  assert.deepStrictEqual(plain(got.notes.map((n) => n.code)), ['too-long']);
  assert.strictEqual(got.card, null);
});

test('a percent-encoded fragment of up to three times the limit is read once decoded', () => {
  const long = 'ё'.repeat(400);
  const fragment = WGLink.encode({ greeting: long, credits: [long, long, long] }).slice(1);
  const encoded = '#' + fragment.split('').map((c) => '%' + c.charCodeAt(0).toString(16)).join('');
  assert.ok(encoded.length > WGLink.kLimits.fragment);
  assert.deepStrictEqual(plain(WGLink.decode(encoded)), { card: { greeting: long, credits: [long, long, long] }, notes: [] });
});

test('random strings never throw and give cards of the documented shape', () => {
  let seed = 12345;
  const next = () => (seed = (seed * 1103515245 + 12345) % 2147483648);
  const alphabet = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_%.#1';
  for (let i = 0; i < 2000; ++i) {
    let s = i % 2 ? '1.' : '';
    const n = next() % 200;
    for (let k = 0; k < n; ++k) s += alphabet[next() % alphabet.length];
    const got = WGLink.decode(s);
    checkNotes(got.notes);
    if (got.card === null) continue;
    for (const key of Object.keys(got.card))
      assert.ok(['greeting', 'credits', 'tune', 'ground', 'tree', 'lang'].includes(key), 'key ' + key);
    if ('greeting' in got.card) assert.strictEqual(typeof got.card.greeting, 'string');
  }
});

test('what a card cannot carry is named before it is encoded', () => {
  const codes = (card) => plain(WGLink.problems(card).map((n) => n.code));
  assert.deepStrictEqual(codes({ greeting: 'Hi', credits: ['x'], tune: 'forest', lang: 'en' }), []);
  assert.deepStrictEqual(codes({ greeting: 'a\tb' }), ['control-char']);
  assert.deepStrictEqual(codes({ greeting: 'x'.repeat(401) }), ['too-long']);
  assert.deepStrictEqual(codes({ greeting: '\u202Ex' }), ['unclosed-bidi']);
  assert.deepStrictEqual(codes({ credits: new Array(101).fill('c') }), ['too-many-credits']);
  assert.deepStrictEqual(codes({ tune: 'Not A Name' }), ['unknown-choice']);
  assert.deepStrictEqual(codes({ lang: 'english' }), ['bad-encoding']);
  assert.deepStrictEqual(codes({ greeting: '\uD800' }), ['bad-utf8']);
  assert.deepStrictEqual(codes({ credits: new Array(100).fill('ё'.repeat(100)) }), ['too-long']);
});

test('a lone surrogate has no link', () => {
  assert.strictEqual(WGLink.encode({ greeting: 'a\uDC00' }), null);
});

if (failures) {
  console.log(failures + ' failed');
  process.exit(1);
}
console.log('all passed');
