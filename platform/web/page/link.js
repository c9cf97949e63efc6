// The greeting a link carries in its fragment: "#1." + base64url (no padding) of UTF-8 records
// "KEY\tVALUE" joined by "\n". Keys: l the language, t s m the tune's, ground's and tree's choice
// names, g the greeting line, c a credit line (repeatable, in order). The program's --share-link
// writes the same records (app/ShareLink.cpp).
//
// WGLink.decode(hash, choices) never throws and never builds markup: it looks at no more of `hash`
// than a link may hold, keeps what is valid and notes the rest as {code, detail}, short English ids
// the page turns into words. `choices`, when given, is {tune: [names], ground: [...], tree: [...]};
// a name outside it is noted and left out. The card it returns is null when nothing usable is left
// (the page shows its built-in card); a card with credits and no greeting keeps the built-in
// greeting line.
(function () {
  'use strict';

  var kLimits = Object.freeze({
    fragment: 8192,  // characters after '#', once percent-decoded
    text: 400,       // code points of each greeting or credit line
    credits: 100,    // credit lines
    detail: 40       // characters of a note's detail
  });
  var kAlphabet = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_';
  var kName = /^[a-z0-9-]{1,40}$/;
  var kLang = /^[A-Za-z]{2,3}(-[A-Za-z0-9]{1,8}){0,3}$/;
  var kChoiceKeys = { t: 'tune', s: 'ground', m: 'tree' };

  function note(notes, code, detail) {
    var d = String(detail === undefined ? '' : detail);
    if (d.length > kLimits.detail) d = d.slice(0, kLimits.detail) + '...';
    notes.push({ code: code, detail: d });
  }

  // Canonical base64url only (no padding, the unused low bits zero); null for anything else.
  function fromBase64url(text) {
    if (text.length % 4 === 1) return null;
    var out = new Uint8Array(Math.floor(text.length * 3 / 4));
    var v = 0, bits = 0, n = 0;
    for (var i = 0; i < text.length; ++i) {
      var s = kAlphabet.indexOf(text.charAt(i));
      if (s < 0) return null;
      v = ((v << 6) | s) & 0xFFFF;
      bits += 6;
      if (bits >= 8) {
        bits -= 8;
        out[n++] = (v >> bits) & 0xFF;
      }
    }
    if ((v & ((1 << bits) - 1)) !== 0) return null;
    return out.subarray(0, n);
  }

  function toBase64url(bytes) {
    var out = '';
    var i = 0;
    for (; i + 2 < bytes.length; i += 3) {
      var v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
      out += kAlphabet[(v >> 18) & 63] + kAlphabet[(v >> 12) & 63] + kAlphabet[(v >> 6) & 63] + kAlphabet[v & 63];
    }
    var rest = bytes.length - i;
    if (rest > 0) {
      var w = (bytes[i] << 16) | (rest === 2 ? bytes[i + 1] << 8 : 0);
      out += kAlphabet[(w >> 18) & 63] + kAlphabet[(w >> 12) & 63];
      if (rest === 2) out += kAlphabet[(w >> 6) & 63];
    }
    return out;
  }

  // Strict UTF-8 (no overlong form, surrogate or value above U+10FFFF); null when the bytes are not.
  function fromUtf8(bytes) {
    var out = [];
    for (var i = 0; i < bytes.length;) {
      var c = bytes[i], len = 0, cp = 0, min = 0;
      if (c < 0x80) { len = 1; cp = c; }
      else if ((c & 0xE0) === 0xC0) { len = 2; cp = c & 0x1F; min = 0x80; }
      else if ((c & 0xF0) === 0xE0) { len = 3; cp = c & 0x0F; min = 0x800; }
      else if ((c & 0xF8) === 0xF0) { len = 4; cp = c & 0x07; min = 0x10000; }
      if (len === 0 || i + len > bytes.length) return null;
      for (var k = 1; k < len; ++k) {
        if ((bytes[i + k] & 0xC0) !== 0x80) return null;
        cp = (cp << 6) | (bytes[i + k] & 0x3F);
      }
      if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return null;
      out.push(String.fromCodePoint(cp));
      i += len;
    }
    return out.join('');
  }

  function toUtf8(text) {
    var out = [];
    for (var ch of text) {
      var cp = ch.codePointAt(0);
      if (cp >= 0xD800 && cp <= 0xDFFF) return null;  // a lone surrogate has no UTF-8 form
      if (cp < 0x80) out.push(cp);
      else if (cp < 0x800) out.push(0xC0 | (cp >> 6), 0x80 | (cp & 0x3F));
      else if (cp < 0x10000) out.push(0xE0 | (cp >> 12), 0x80 | ((cp >> 6) & 0x3F), 0x80 | (cp & 0x3F));
      else out.push(0xF0 | (cp >> 18), 0x80 | ((cp >> 12) & 0x3F), 0x80 | ((cp >> 6) & 0x3F), 0x80 | (cp & 0x3F));
    }
    return out;
  }

  function hex(cp) {
    var h = cp.toString(16).toUpperCase();
    while (h.length < 4) h = '0' + h;
    return 'U+' + h;
  }

  // What is wrong with a text: {code, detail, closers}. `closers` closes what the text leaves open
  // (PDF for an embedding or override, PDI for an isolate, which also closes the embeddings inside it).
  function checkText(text) {
    var count = 0, open = [];
    for (var ch of text) {
      var cp = ch.codePointAt(0);
      ++count;
      if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return { code: 'control-char', detail: hex(cp) + ' at ' + count };
      if (cp === 0x202A || cp === 0x202B || cp === 0x202D || cp === 0x202E) open.push('E');
      else if (cp >= 0x2066 && cp <= 0x2068) open.push('I');
      else if (cp === 0x202C) { if (open.length && open[open.length - 1] === 'E') open.pop(); }
      else if (cp === 0x2069) { var at = open.lastIndexOf('I'); if (at >= 0) open.length = at; }
    }
    if (count > kLimits.text) return { code: 'too-long', detail: count + ' characters' };
    var closers = '';
    for (var k = open.length - 1; k >= 0; --k) closers += open[k] === 'I' ? '\u2069' : '\u202C';
    return { code: closers ? 'unclosed-bidi' : '', detail: '', closers: closers };
  }

  // The text as a card keeps it, or null when it is left out; notes what it changes.
  function keptText(text, what, notes) {
    var problem = checkText(text);
    if (problem.code === 'control-char' || problem.code === 'too-long') {
      note(notes, problem.code, what + ': ' + problem.detail);
      return null;
    }
    if (problem.code === 'unclosed-bidi') {
      note(notes, 'unclosed-bidi', what);
      return text + problem.closers;
    }
    return text;
  }

  function hasName(choices, kind, name) {
    if (!choices || typeof choices !== 'object' || !Array.isArray(choices[kind])) return true;
    return choices[kind].indexOf(name) >= 0;
  }

  function decode(hash, choices) {
    var notes = [];
    var none = { card: null, notes: notes };
    try {
      var f = typeof hash === 'string' ? hash : '';
      if (f.charAt(0) === '#') f = f.slice(1);
      if (f === '' || f === 'make') return none;
      if (f.length > 3 * kLimits.fragment) {
        note(notes, 'too-long', 'fragment');
        return none;
      }
      if (f.indexOf('%') >= 0) {
        try {
          f = decodeURIComponent(f);
        } catch (e) {
          note(notes, 'bad-encoding', 'percent-encoding');
          return none;
        }
      }
      if (f.length > kLimits.fragment) {
        note(notes, 'too-long', 'fragment');
        return none;
      }
      if (f.slice(0, 2) !== '1.') {
        var dot = f.indexOf('.');
        note(notes, 'bad-version', dot > 0 ? f.slice(0, dot) : f);
        return none;
      }
      var bytes = fromBase64url(f.slice(2));
      if (bytes === null) {
        note(notes, 'bad-encoding', 'base64url');
        return none;
      }
      var records = fromUtf8(bytes);
      if (records === null) {
        note(notes, 'bad-utf8', '');
        return none;
      }
      return { card: readRecords(records.split('\n'), choices, notes), notes: notes };
    } catch (e) {
      // Nothing above should throw; whatever does leaves the built-in card.
      note(notes, 'bad-encoding', 'unreadable');
      return none;
    }
  }

  function readRecords(records, choices, notes) {
    var card = {};
    var any = false, texts = false, seen = {};
    var credits = [];
    for (var i = 0; i < records.length; ++i) {
      var record = records[i];
      if (record === '') continue;
      var tab = record.indexOf('\t');
      if (tab < 0) {
        note(notes, 'bad-encoding', 'record ' + (i + 1));
        continue;
      }
      var key = record.slice(0, tab), value = record.slice(tab + 1);
      if (key === 'c') {
        texts = true;
        if (credits.length === kLimits.credits) {
          if (!seen.tooMany) note(notes, 'too-many-credits', String(kLimits.credits));
          seen.tooMany = true;
          continue;
        }
        var credit = keptText(value, 'c ' + (credits.length + 1), notes);
        if (credit !== null) credits.push(credit);
        continue;
      }
      if (key !== 'g' && key !== 'l' && !kChoiceKeys.hasOwnProperty(key)) {
        note(notes, 'unknown-key', key);
        continue;
      }
      if (seen['k' + key]) {
        note(notes, 'bad-encoding', key + ' twice');
        continue;
      }
      seen['k' + key] = true;
      if (key === 'g') {
        texts = true;
        var greeting = keptText(value, 'g', notes);
        if (greeting !== null) {
          card.greeting = greeting;
          any = true;
        }
      } else if (key === 'l') {
        if (kLang.test(value)) {
          card.lang = value;
          any = true;
        } else {
          note(notes, 'bad-encoding', 'l');
        }
      } else {
        var kind = kChoiceKeys[key];
        if (kName.test(value) && hasName(choices, kind, value)) {
          card[kind] = value;
          any = true;
        } else {
          note(notes, 'unknown-choice', kind + ' ' + value);
        }
      }
    }
    // A link that carries texts carries all of them: no credit line kept means none is shown.
    if (texts) {
      card.credits = credits;
      any = true;
    }
    return any ? card : null;
  }

  function encode(card) {
    var c = card && typeof card === 'object' ? card : {};
    var records = [];
    var add = function (key, value) { records.push(key + '\t' + value); };
    if (typeof c.lang === 'string' && c.lang) add('l', c.lang);
    if (typeof c.tune === 'string' && c.tune) add('t', c.tune);
    if (typeof c.ground === 'string' && c.ground) add('s', c.ground);
    if (typeof c.tree === 'string' && c.tree) add('m', c.tree);
    if (typeof c.greeting === 'string') add('g', c.greeting);
    if (Array.isArray(c.credits)) for (var i = 0; i < c.credits.length; ++i) add('c', String(c.credits[i]));
    var bytes = toUtf8(records.join('\n'));
    return bytes === null ? null : '#1.' + toBase64url(bytes);
  }

  // What `card` cannot carry, as notes (empty when it is a card a link may carry), for the maker.
  function problems(card) {
    var notes = [];
    var c = card && typeof card === 'object' ? card : {};
    var texts = [];
    if (typeof c.greeting === 'string') texts.push(['g', c.greeting]);
    var credits = Array.isArray(c.credits) ? c.credits : [];
    if (credits.length > kLimits.credits) note(notes, 'too-many-credits', String(kLimits.credits));
    for (var i = 0; i < credits.length && i < kLimits.credits; ++i) texts.push(['c ' + (i + 1), String(credits[i])]);
    for (var k = 0; k < texts.length; ++k) {
      var p = checkText(texts[k][1]);
      if (p.code) note(notes, p.code, texts[k][0] + (p.detail ? ': ' + p.detail : ''));
    }
    if (c.lang && !kLang.test(c.lang)) note(notes, 'bad-encoding', 'l');
    for (var key in kChoiceKeys) {
      var name = c[kChoiceKeys[key]];
      if (name && !kName.test(name)) note(notes, 'unknown-choice', kChoiceKeys[key] + ' ' + name);
    }
    var fragment = notes.length ? '' : encode(c);
    if (fragment === null) note(notes, 'bad-utf8', '');
    else if (fragment.length - 1 > kLimits.fragment) note(notes, 'too-long', 'fragment');
    return notes;
  }

  // The code of what keeps `text` from being a line a link carries ('' when nothing), for the maker's fields.
  function textFault(text) {
    return checkText(String(text)).code || '';
  }

  var api = Object.freeze({ decode: decode, encode: encode, problems: problems, textFault: textFault, kLimits: kLimits });
  if (typeof window !== 'undefined') window.WGLink = api;
  if (typeof module !== 'undefined' && module.exports) module.exports = api;
})();
