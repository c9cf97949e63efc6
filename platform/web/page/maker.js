// The maker: a panel over the greeting where a sender writes a greeting line and the lines below it,
// picks a tune and a ground, watches them in the greeting itself, and shares the link that carries
// them (WGLink). WGMaker(host) builds it once; host gives the words, the manifest's choices, the card
// now shown, a preview of a card, and what to do once the panel closes.
'use strict';

window.WGMaker = function(host) {
  const kPreviewMs = 400;
  const kLang = /^[A-Za-z]{2,3}(-[A-Za-z0-9]{1,8}){0,3}$/;
  const word = host.word;
  const limits = window.WGLink.kLimits;
  const $ = (id) => document.getElementById(id);
  const panel = $('maker');
  const form = $('maker-form');
  const greeting = $('m-greeting');
  const credits = $('m-credits');
  const tune = $('m-tune');
  const ground = $('m-ground');
  const link = $('m-link');
  const status = $('m-status');
  const share = $('m-share');
  const copy = $('m-copy');
  const email = $('m-email');
  const whatsapp = $('m-whatsapp');
  const telegram = $('m-telegram');
  const errors = {greeting: $('e-greeting'), credits: $('e-credits'), link: $('e-link')};

  $('maker-title').textContent = word('makerTitle');
  $('l-greeting').textContent = word('greetingLabel');
  $('l-credits').textContent = word('creditsLabel');
  $('l-tune').textContent = word('tuneLabel');
  $('l-ground').textContent = word('groundLabel');
  $('l-link').textContent = word('linkLabel');
  share.textContent = word('share');
  copy.textContent = word('copy');
  email.textContent = word('email');
  whatsapp.textContent = word('whatsapp');
  telegram.textContent = word('telegram');
  $('m-close').textContent = word('close');

  // The manifest's choices of a kind as the select's options; the row is left out where there are none.
  function fill(select, kind) {
    const list = host.choices(kind);
    for (const c of list) {
      const option = document.createElement('option');
      option.value = c.name;
      option.textContent = c.label || c.name;
      select.appendChild(option);
    }
    select.hidden = list.length === 0;
    select.labels.forEach((l) => { l.hidden = list.length === 0; });
  }
  fill(tune, 'tune');
  fill(ground, 'ground');

  // What is wrong with the text `text`, in words; '' when nothing.
  function fault(text) {
    const length = [...text].length;
    if (length > limits.text) return word('tooLongField', limits.text, length);
    if (window.WGLink.textFault && window.WGLink.textFault(text)) return word('badText');
    return '';
  }
  function showError(field, key, text) {
    if (errors[key].textContent !== text) errors[key].textContent = text;
    if (field) field.setAttribute('aria-invalid', String(!!text));
  }

  // The card the form describes, or null while a field is wrong (each wrong field says why).
  function readCard() {
    const lines = credits.value.split(/\r?\n/).filter((l) => l.trim() !== '');
    let creditFault = lines.length > limits.credits ? word('tooManyLines', limits.credits, lines.length) : '';
    for (const line of lines) creditFault = creditFault || fault(line);
    const greetingFault = fault(greeting.value);
    showError(greeting, 'greeting', greetingFault);
    showError(credits, 'credits', creditFault);
    if (greetingFault || creditFault) return null;
    const card = {greeting: greeting.value, credits: lines};
    if (!tune.hidden && tune.value) card.tune = tune.value;
    if (!ground.hidden && ground.value) card.ground = ground.value;
    const lang = navigator.language || '';
    if (kLang.test(lang)) card.lang = lang;
    return card;
  }

  let shared = '';
  // The link for the form as it is now, with every way to send it.
  function update() {
    const card = readCard();
    let url = '';
    if (card) {
      const fragment = window.WGLink.encode(card);
      if (fragment.length - 1 > limits.fragment) showError(null, 'link', word('linkTooLong'));
      else url = location.href.split('#')[0] + fragment;
    }
    if (url) showError(null, 'link', '');
    shared = url;
    link.value = url;
    const text = card && card.greeting ? card.greeting : '';
    email.href = url ? 'mailto:?subject=' + encodeURIComponent(word('mailSubject')) + '&body=' +
            encodeURIComponent(url) : '#';
    whatsapp.href = url ? 'https://wa.me/?text=' + encodeURIComponent(url) : '#';
    telegram.href = url ? 'https://t.me/share/url?url=' + encodeURIComponent(url) +
            (text ? '&text=' + encodeURIComponent(text) : '') : '#';
    for (const a of [email, whatsapp, telegram]) a.setAttribute('aria-disabled', String(!url));
    share.disabled = copy.disabled = !url;
    return card;
  }

  // The preview follows the form once typing has paused.
  let previewTimer = 0;
  function changed() {
    status.textContent = '';
    const card = update();
    clearTimeout(previewTimer);
    if (card) previewTimer = setTimeout(() => host.preview(card), kPreviewMs);
  }
  greeting.addEventListener('input', changed);
  credits.addEventListener('input', changed);
  tune.addEventListener('change', changed);
  ground.addEventListener('change', changed);
  form.addEventListener('submit', (e) => e.preventDefault());
  for (const a of [email, whatsapp, telegram])
    a.addEventListener('click', (e) => {
      if (!shared) e.preventDefault();
    });

  share.hidden = typeof navigator.share !== 'function';
  share.addEventListener('click', () => {
    if (!shared) return;
    navigator.share({title: document.title, url: shared}).catch(() => {});
  });
  // Copied where the browser lets the page write the clipboard; else the link is selected for the
  // sender to copy.
  function selectLink() {
    link.focus();
    link.select();
    status.textContent = word('copyByHand');
  }
  copy.addEventListener('click', () => {
    if (!shared) return;
    if (!navigator.clipboard || !navigator.clipboard.writeText) {
      selectLink();
      return;
    }
    navigator.clipboard.writeText(shared).then(() => { status.textContent = word('copied'); }, selectLink);
  });
  link.addEventListener('focus', () => link.select());

  function close() {
    panel.hidden = true;
    clearTimeout(previewTimer);
    host.closed();
  }
  $('m-close').addEventListener('click', close);
  panel.addEventListener('keydown', (e) => {
    if (e.key === 'Escape') {
      e.stopPropagation();
      close();
    }
  });

  function open() {
    const card = host.card();
    if (card && card.greeting !== undefined && !greeting.value) greeting.value = card.greeting;
    if (card && card.credits && !credits.value) credits.value = card.credits.join('\n');
    if (card && card.tune) tune.value = card.tune;
    if (card && card.ground) ground.value = card.ground;
    panel.hidden = false;
    update();
    greeting.focus();
  }

  return {open: open, close: close};
};
