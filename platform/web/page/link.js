// A greeting link's fragment (window.WGLink): "#1." and base64url of UTF-8 records "KEY\tVALUE"
// separated by line feeds. This reads the greeting ("g") and the credit lines ("c") only.
'use strict';

window.WGLink = (function() {
  const kLimits = {fragment: 8192, text: 400, credits: 100};

  function bytesOf(payload) {
    if (!/^[A-Za-z0-9_-]*$/.test(payload) || payload.length % 4 === 1) return null;
    const b64 = payload.replace(/-/g, '+').replace(/_/g, '/');
    const bin = atob(b64 + '='.repeat((4 - b64.length % 4) % 4));
    return Uint8Array.from(bin, (c) => c.charCodeAt(0));
  }

  function decode(hash) {
    const notes = [];
    let fragment = hash.startsWith('#') ? hash.slice(1) : hash;
    if (!fragment) return {card: null, notes: notes};
    if (fragment.includes('%')) {
      try {
        fragment = decodeURIComponent(fragment);
      } catch (e) {
        return {card: null, notes: [{code: 'bad-encoding', detail: 'broken percent-encoding'}]};
      }
    }
    if (!fragment.startsWith('1.'))
      return {card: null, notes: [{code: 'bad-version', detail: fragment.slice(0, 8)}]};
    const bytes = bytesOf(fragment.slice(2));
    if (!bytes) return {card: null, notes: [{code: 'bad-encoding', detail: 'not base64url'}]};
    let text;
    try {
      text = new TextDecoder('utf-8', {fatal: true}).decode(bytes);
    } catch (e) {
      return {card: null, notes: [{code: 'bad-utf8', detail: ''}]};
    }
    const card = {};
    for (const record of text.split('\n')) {
      const tab = record.indexOf('\t');
      const key = tab < 0 ? record : record.slice(0, tab), value = tab < 0 ? '' : record.slice(tab + 1);
      if (key === 'g')
        card.greeting = value;
      else if (key === 'c')
        (card.credits = card.credits || []).push(value);
      else
        notes.push({code: 'unknown-key', detail: key});
    }
    if (card.greeting === undefined && !card.credits) return {card: null, notes: notes};
    if (card.greeting !== undefined && !card.credits) card.credits = [];
    return {card: card, notes: notes};
  }

  function encode(card) {
    const records = [];
    if (card.greeting !== undefined) records.push('g\t' + card.greeting);
    for (const c of card.credits || []) records.push('c\t' + c);
    const bytes = new TextEncoder().encode(records.join('\n'));
    let bin = '';
    for (const b of bytes) bin += String.fromCharCode(b);
    return '#1.' + btoa(bin).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
  }

  return {decode: decode, encode: encode, kLimits: kLimits};
})();
