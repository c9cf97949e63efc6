// Greeting links, version 1: "#1." + base64url (no padding) of UTF-8 records "KEY\tVALUE" joined by
// "\n". Keys: g the greeting, c a credit line (repeatable), t/s/m the tune's, ground's and tree's
// names, l the greeting's language. decode() keeps what is valid and says what it left out or
// mended as notes {code, detail}; encode() writes a card back into a fragment.
'use strict';

window.WGLink = (function() {
  const kLimits = {fragment: 8192, text: 400, credits: 100};
  const kName = /^[a-z0-9-]{1,40}$/;
  const kLang = /^[A-Za-z]{2,3}(-[A-Za-z0-9]{1,8}){0,3}$/;
  const kChoiceKeys = {t: 'tune', s: 'ground', m: 'tree'};

  function toBase64Url(bytes) {
    let binary = '';
    for (const b of bytes) binary += String.fromCharCode(b);
    return btoa(binary).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
  }
  function fromBase64Url(text) {
    if (!/^[A-Za-z0-9_-]*$/.test(text) || text.length % 4 === 1) return null;
    const binary = atob(text.replace(/-/g, '+').replace(/_/g, '/'));
    return Uint8Array.from(binary, (c) => c.charCodeAt(0));
  }

  // The text with every explicit embedding, override and isolate closed: [text, closed any].
  function closeBidi(text) {
    const open = [];
    for (const ch of text) {
      const c = ch.codePointAt(0);
      if (c >= 0x202a && c <= 0x202e && c !== 0x202c) open.push(0x202c);
      else if (c >= 0x2066 && c <= 0x2068) open.push(0x2069);
      else if ((c === 0x202c || c === 0x2069) && open.length && open[open.length - 1] === c) open.pop();
    }
    if (!open.length) return [text, false];
    return [text + open.reverse().map((c) => String.fromCodePoint(c)).join(''), true];
  }
  // Why `text` cannot be a line of the card, or '' when it can.
  function textFault(text) {
    if ([...text].length > kLimits.text) return 'too-long';
    if (/[\u0000-\u001f\u007f-\u009f]/.test(text)) return 'control-char';
    return '';
  }

  function decode(hash) {
    const notes = [];
    const none = (code, detail) => {
      if (code) notes.push({code: code, detail: detail || ''});
      return {card: null, notes: notes};
    };
    let fragment = String(hash || '').replace(/^#/, '');
    if (!fragment || fragment === 'make') return none();
    if (fragment.length > kLimits.fragment) return none('too-long', String(fragment.length));
    if (fragment.includes('%')) {
      try {
        fragment = decodeURIComponent(fragment);
      } catch (e) {
        return none('bad-encoding', 'percent-encoding');
      }
    }
    const dot = fragment.indexOf('.');
    if (dot < 0) return none('bad-encoding', 'no version');
    if (fragment.slice(0, dot) !== '1') return none('bad-version', fragment.slice(0, Math.min(dot, 8)));
    const bytes = fromBase64Url(fragment.slice(dot + 1));
    if (!bytes) return none('bad-encoding', 'base64url');
    let text;
    try {
      text = new TextDecoder('utf-8', {fatal: true}).decode(bytes);
    } catch (e) {
      return none('bad-utf8', '');
    }
    const card = {};
    let texts = false, any = false;
    for (const record of text.split('\n')) {
      if (!record) continue;
      const tab = record.indexOf('\t');
      const key = tab < 0 ? record : record.slice(0, tab);
      let value = tab < 0 ? '' : record.slice(tab + 1);
      if (key === 'g' || key === 'c') {
        const fault = textFault(value);
        if (fault) {
          notes.push({code: fault, detail: key});
          continue;
        }
        let closed;
        [value, closed] = closeBidi(value);
        if (closed) notes.push({code: 'unclosed-bidi', detail: key});
        if (key === 'g') {
          card.greeting = value;
        } else {
          card.credits = card.credits || [];
          if (card.credits.length >= kLimits.credits) {
            if (card.credits.length === kLimits.credits) notes.push({code: 'too-many-credits', detail: ''});
            card.credits.length = kLimits.credits + 1;
            continue;
          }
          card.credits.push(value);
        }
        texts = any = true;
      } else if (kChoiceKeys[key]) {
        if (kName.test(value)) {
          card[kChoiceKeys[key]] = value;
          any = true;
        } else {
          notes.push({code: 'unknown-choice', detail: kChoiceKeys[key]});
        }
      } else if (key === 'l') {
        if (kLang.test(value)) card.lang = value;
      } else {
        notes.push({code: 'unknown-key', detail: key.slice(0, 8)});
      }
    }
    if (card.credits && card.credits.length > kLimits.credits) card.credits.length = kLimits.credits;
    if (texts && !card.credits) card.credits = [];
    return any ? {card: card, notes: notes} : none();
  }

  function encode(card) {
    const records = [];
    if (card.greeting !== undefined) records.push('g\t' + card.greeting);
    for (const line of card.credits || []) records.push('c\t' + line);
    if (card.tune) records.push('t\t' + card.tune);
    if (card.ground) records.push('s\t' + card.ground);
    if (card.tree) records.push('m\t' + card.tree);
    if (card.lang) records.push('l\t' + card.lang);
    return '#1.' + toBase64Url(new TextEncoder().encode(records.join('\n')));
  }

  return {decode: decode, encode: encode, kLimits: kLimits, textFault: textFault};
})();
