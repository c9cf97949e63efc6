// The page's words in English and Russian, chosen by the browser's languages (navigator.languages):
// the first of them that the table has, else English. Every text reaches the page through
// textContent or document.title, never as markup.
'use strict';

window.WGWords = (function() {
  const table = {
    en: {
      loading: 'Loading the greeting…',
      loadingBytes: 'Loading the greeting: {0} of {1} MB',
      open: '▶ Open the greeting',
      again: '↻ Watch again',
      noWebGl:
          'This browser cannot show the greeting: it needs WebGL 2, which is missing or switched off here. ' +
          'A current Firefox, Chrome, Edge or Safari shows it.',
      noContext: 'This browser cannot show the greeting: it gives the page no WebGL 2.',
      notLoaded: 'The greeting could not be loaded ({0}).',
      fromFile:
          'This greeting is a web page that opens from its link. Open the link you were sent ' +
          '(in the message or e-mail) instead of the saved file.',
      notStarted: 'The greeting could not start: {0}',
      stopped: 'The greeting stopped: {0}',
      notAgain: 'The greeting could not start again: {0}',
      newShape: 'The greeting could not take the window\'s new shape: {0}',
      contextLost:
          'The browser took the graphics away from the page (another page or app needed them). ' +
          'Reload the page to see the greeting again.',
      reload: 'Reload',
      pause: 'Pause',
      mute: 'Sound off',
      fullScreen: 'Full screen',
      controls: 'The greeting\'s controls',
      make: '✎ Make your own',
      makerTitle: 'Make your own greeting',
      greetingLabel: 'Greeting',
      creditsLabel: 'Lines below it (one per line)',
      tuneLabel: 'Tune',
      groundLabel: 'Ground',
      share: 'Share',
      copy: 'Copy link',
      copied: 'The link is copied.',
      copyByHand: 'Select the link and copy it.',
      email: 'E-mail',
      whatsapp: 'WhatsApp',
      telegram: 'Telegram',
      linkLabel: 'Link to send',
      close: 'Close',
      mailSubject: 'A winter greeting for you',
      tooLongField: 'At most {0} characters: {1} now.',
      tooManyLines: 'At most {0} lines: {1} now.',
      linkTooLong: 'The link would be too long: shorten the texts.',
      badText: 'This text holds characters a greeting cannot carry.',
      'too-long': 'Part of the link was too long and is left out.',
      'bad-version': 'The link was made by a newer version of the greeting: the usual greeting is shown.',
      'bad-encoding': 'The link is damaged: the usual greeting is shown.',
      'bad-utf8': 'The link is damaged: the usual greeting is shown.',
      'control-char': 'A line of the link holds characters that cannot be shown and is left out.',
      'unclosed-bidi': 'A line of the link had unbalanced direction marks; they are closed.',
      'too-many-credits': 'The link has too many lines: the first 100 are shown.',
      'unknown-choice': 'The link asks for music or a scene this page does not have: the usual one is used.',
      'unknown-key': 'The link carries something this page does not know; it is left out.',
      'line-left-out': 'A line is too long for the picture and is left out.',
      note: '{0}',
    },
    ru: {
      loading: 'Открытка загружается…',
      loadingBytes: 'Открытка загружается: {0} из {1} МБ',
      open: '▶ Открыть открытку',
      again: '↻ Посмотреть ещё раз',
      noWebGl:
          'Этот браузер не может показать открытку: ей нужен WebGL 2, а он здесь отсутствует или выключен. ' +
          'Покажет свежий Firefox, Chrome, Edge или Safari.',
      noContext: 'Этот браузер не может показать открытку: он не даёт странице WebGL 2.',
      notLoaded: 'Открытку не удалось загрузить ({0}).',
      fromFile:
          'Эта открытка — веб-страница, она открывается по ссылке. Откройте ссылку, которую вам прислали ' +
          '(в сообщении или письме), а не сохранённый файл.',
      notStarted: 'Открытку не удалось запустить: {0}',
      stopped: 'Открытка остановилась: {0}',
      notAgain: 'Открытку не удалось запустить снова: {0}',
      newShape: 'Открытка не смогла принять новую форму окна: {0}',
      contextLost:
          'Браузер забрал у страницы графику (она понадобилась другой странице или программе). ' +
          'Перезагрузите страницу, чтобы снова увидеть открытку.',
      reload: 'Перезагрузить',
      pause: 'Пауза',
      mute: 'Без звука',
      fullScreen: 'Во весь экран',
      controls: 'Управление открыткой',
      make: '✎ Сделать свою',
      makerTitle: 'Сделайте свою открытку',
      greetingLabel: 'Поздравление',
      creditsLabel: 'Строки под ним (по одной в строке)',
      tuneLabel: 'Мелодия',
      groundLabel: 'Земля',
      share: 'Поделиться',
      copy: 'Скопировать ссылку',
      copied: 'Ссылка скопирована.',
      copyByHand: 'Выделите ссылку и скопируйте её.',
      email: 'Почта',
      whatsapp: 'WhatsApp',
      telegram: 'Telegram',
      linkLabel: 'Ссылка для отправки',
      close: 'Закрыть',
      mailSubject: 'Зимняя открытка для вас',
      tooLongField: 'Не больше {0} знаков: сейчас {1}.',
      tooManyLines: 'Не больше {0} строк: сейчас {1}.',
      linkTooLong: 'Ссылка получилась бы слишком длинной: сократите тексты.',
      badText: 'В тексте есть знаки, которые открытка не может передать.',
      'too-long': 'Часть ссылки слишком длинная и пропущена.',
      'bad-version': 'Ссылку сделала более новая версия открытки: показана обычная открытка.',
      'bad-encoding': 'Ссылка повреждена: показана обычная открытка.',
      'bad-utf8': 'Ссылка повреждена: показана обычная открытка.',
      'control-char': 'В строке ссылки есть знаки, которые нельзя показать; она пропущена.',
      'unclosed-bidi': 'В строке ссылки были незакрытые знаки направления; они закрыты.',
      'too-many-credits': 'В ссылке слишком много строк: показаны первые 100.',
      'unknown-choice': 'Ссылка просит музыку или сцену, которых здесь нет: взята обычная.',
      'unknown-key': 'В ссылке есть то, чего эта страница не знает; это пропущено.',
      'line-left-out': 'Строка не помещается в картинку и пропущена.',
      note: '{0}',
    },
  };
  let lang = 'en';
  for (const tag of navigator.languages || [navigator.language || 'en']) {
    const base = String(tag).toLowerCase().split('-')[0];
    if (table[base]) {
      lang = base;
      break;
    }
  }
  // The words for `key` with {0}, {1}... replaced by `args`; the key itself when the table lacks it.
  function word(key, ...args) {
    const text = table[lang][key] !== undefined ? table[lang][key] : table.en[key];
    if (text === undefined) return key;
    return text.replace(/\{(\d)\}/g, (m, i) => String(args[Number(i)]));
  }
  return {lang: lang, word: word, table: table};
})();
