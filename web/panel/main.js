import { el, storeGet, storeSet } from '../kit/dom.js';
import { lineIcon } from '../kit/icon.js';
import { postToast } from '../kit/toast.js';
import { placeTip } from '../kit/tooltip.js';
import { isObj } from '../kit/values.js';
import { FAMILJEN_WOFF2, FIGTREE_WOFF2 } from './fonts.js';
import { PANEL_CSS } from './style.js';

/* Newbie panel: a "Say it" card that teaches a new user to drive the dashboard through their AI.
 * Every dashboard of the workspace mounts it the same way, so its look is a fixed set of numbers
 * that selfCheck() verifies on the live page.
 *
 * Embedded fonts, both under the SIL Open Font License 1.1 (licence texts in loomdeck's LICENSES/
 * folder; scripts/build-web.mjs embeds the bytes from the fonts' npm packages):
 *   Familjen Grotesk, copyright 2021 The Familjen Grotesk Project Authors.
 *   Figtree, copyright 2022 The Figtree Project Authors; it renders the body text wherever
 *   Satoshi itself is not installed or served by the page.
 */

// The page the panel is mounted in.
var root = globalThis;

var VERSION = '2.22.0';
var TWO_COL_MIN = 700;
var PHRASE_BUDGET = 336;
var MAX_PHRASES = 6;
var MIN_WORKSPACE = '1.0.142';
var SEND_LIMIT_MS = 120000;
var POLL_LIMIT_MS = 120000;
var POLL_EVERY_MS = 1000;
var PROBE_LIMIT_MS = 10000;
var TIP_DELAY_MS = 600;
var TIP_GAP = 8;
var HEADROOM_MIN = 8;
var GUTTER = 16;
var GUTTER_SLACK = 2;
var NONSENSE_PATH = '/__vnp_probe_' + Math.floor(0.6180339887 * 1e9) + '__';

var BODY_STACK = "'Satoshi', 'Figtree', system-ui, sans-serif";
var PHRASE_FONT = '400 14px ' + BODY_STACK;

var TEXT = {
  label: 'Say it: sample prompts for ',
  heading: 'Say it',
  ledeStart: "You never need this page's buttons: just tell your AI what you want, using the words ",
  ledeEnd: '. Copy a phrase, or send it straight to a new AI thread.',
  close: 'Close this panel',
  demoLabel: 'Play the demo',
  noDemo: 'This dashboard has no demo wired up yet',
  noWorkspace: 'The Ovra workspace cannot be reached from here, so nothing was sent. Copy the phrase and paste it to your AI instead.',
  copyTip: 'Copy this phrase',
  sendTip: 'Send to a new AI thread',
  show: 'Show the sample prompts',
  hide: 'Hide the sample prompts',
  copied: 'Copied. Paste it to your AI.',
  copyFailed: 'Could not reach the clipboard. Select the phrase and copy it.',
  opening: 'Opening a new AI thread\u2026',
  sent: 'Sent. Your AI thread has the prompt.',
  unconfirmed: 'Thread opened, delivery not confirmed. Check your AI threads before sending again.',
  sendFailed: 'Could not send the prompt.',
  noStatusRoute: 'Your AI chat opened. This app does not proxy GET ' +
    '/ai-threads/run-prompt/status yet, so progress cannot be shown.',
  noConfirmation: 'no confirmation within 120s',
  noAnswer: 'no answer within 120s',
  overBudget: ' phrase(s) will truncate at the resting width. ',
  overBudgetAdvice: 'Shorten them, and lead with the trigger noun so a clip costs a detail not the routing words.',
  notFound: 'newbie panel: mount target not found: ',
  noPanel: 'no .vnp panel on the page',
  unrendered: 'The panel measures 0px wide: this tab is not in the foreground or the panel is hidden. ' +
    'No rows are reported, because a partial result from an unrendered pane would look like a real fault. ' +
    'Activate the tab or open the panel, then run selfCheck again.'
};

var PHASES = {
  opening: 'Opening a new AI chat\u2026',
  prefilled: 'Prompt ready\u2026',
  submitted: 'Sent, waiting for the AI\u2026',
  working: 'The AI is working\u2026',
  needs_you: 'The AI needs you. Open the tab.',
  done: 'Done.',
  submit_failed: 'The prompt is in the tab. Press Enter there to send it.',
  submitted_unidentified: 'Sent, but the AI never checked in.',
  submit_unconfirmed: 'Sent, but delivery was not confirmed.',
  still_working: 'The AI is still working. Open the tab.'
};
var DELIVERED_STATES = ['working', 'done', 'needs_you', 'still_working'];
var OPENED_STATES = ['submit_failed', 'submitted_unidentified', 'submit_unconfirmed'];

// The kinds of toast; their edge colours are in the style sheet.
var TOAST_KINDS = ['ok', 'err', 'info'];

// The fonts, then the panel's own style sheet (web/panel/style.css).
var CSS = [
  '/* Familjen Grotesk: Copyright 2021 The Familjen Grotesk Project Authors ' +
    '(https://github.com/Familjen-Sthlm/Familjen-Grotesk), from @fontsource-variable/familjen-grotesk. ' +
    'Figtree: Copyright 2022 The Figtree Project Authors (https://github.com/erikdkennedy/figtree), ' +
    'from @fontsource-variable/figtree. Both are licensed under the SIL Open Font License, Version 1.1; ' +
    'the licence texts travel with loomdeck as LICENSES/OFL-FamiljenGrotesk.txt and LICENSES/OFL-Figtree.txt. */',
  "@font-face{font-family:'Familjen Grotesk';font-style:normal;font-weight:400 700;font-display:swap;" +
    "src:url(data:font/woff2;base64," + FAMILJEN_WOFF2 + ") format('woff2')}",
  "@font-face{font-family:'Figtree';font-style:normal;font-weight:300 900;font-display:swap;" +
    "src:url(data:font/woff2;base64," + FIGTREE_WOFF2 + ") format('woff2')}",
  PANEL_CSS
].join('\n');

// Fixed line drawings (24 by 24, stroked in the current colour).
var ICONS = {
  copy: ['M9 9h10v10H9z', 'M5 15V5h10'],
  send: ['M4 12l16-8-6 16-2.5-6.5z', 'M11.5 13.5L20 4'],
  play: ['M8 5.5v13l10.5-6.5z'],
  close: ['M6 6l12 12', 'M18 6L6 18'],
  help: ['M12 21a9 9 0 1 0 0-18 9 9 0 0 0 0 18z', 'M9.5 9.5a2.5 2.5 0 1 1 3.5 2.3c-.6.3-1 .9-1 1.6v.6', 'M12 17.2v.1']
};

function doc() { return root.document; }

function icon(name, size) {
  return lineIcon(ICONS[name], { size: size, strokeWidth: 2 });
}

function ensureStyles() {
  var d = doc();
  if (d.getElementById('vnp-css')) return;
  var style = d.createElement('style');
  style.id = 'vnp-css';
  style.textContent = CSS;
  (d.head || d.documentElement).appendChild(style);
}

function hostNode() {
  var d = doc();
  return d.body || d.documentElement;
}

function resolveElement(target) {
  if (typeof target === 'string') {
    try { return doc().querySelector(target); } catch { return null; }
  }
  return target && target.nodeType === 1 ? target : null;
}

// ---- toasts -------------------------------------------------------------------------------

function toastStack() {
  var d = doc();
  var stack = d.getElementById('vnp-toasts');
  if (!stack) {
    stack = el('div', 'vnp-toasts');
    stack.id = 'vnp-toasts';
    stack.setAttribute('role', 'status');
    stack.setAttribute('aria-live', 'polite');
    hostNode().appendChild(stack);
  }
  return stack;
}

// The panel's toasts keep their own look (a page that mounts the panel may have no stack of its
// own) and can be retexted while they show.
function panelToast(message, kind, ms) {
  ensureStyles();
  var k = TOAST_KINDS.indexOf(kind) >= 0 ? kind : 'info';
  var node = el('div', 'vnp-toast vnp-toast-' + k, message == null ? '' : String(message));
  node.setText = function (text) { node.textContent = text == null ? '' : String(text); };
  var life = typeof ms === 'number' && ms > 0 ? ms : (k === 'err' ? 7000 : 4000);
  return postToast(toastStack(), node, life, false);
}

// ---- the shared tooltip -------------------------------------------------------------------

var tipTexts = new WeakMap();
var panelTipFor = null;
var panelTipTimer = 0;

function tipNode() {
  var d = doc();
  var tip = d.getElementById('vnp-tip');
  if (!tip) {
    tip = el('div', 'vnp-tip');
    tip.id = 'vnp-tip';
    tip.setAttribute('role', 'tooltip');
    tip.hidden = true;
    hostNode().appendChild(tip);
  }
  return tip;
}

function placePanelTip(control) {
  var tip = tipNode();
  var de = doc().documentElement;
  tip.textContent = tipTexts.get(control) || '';
  // Measured at the origin, so the last position's available width cannot wrap the new text.
  tip.style.left = '0px';
  tip.style.top = '0px';
  tip.hidden = false;
  var at = placeTip(control.getBoundingClientRect(), tip.offsetWidth, tip.offsetHeight,
    { width: de.clientWidth, height: de.clientHeight }, { gap: TIP_GAP, above: true });
  tip.style.left = at.left + 'px';
  tip.style.top = at.top + 'px';
}

function hidePanelTip() {
  root.clearTimeout(panelTipTimer);
  panelTipTimer = 0;
  panelTipFor = null;
  var tip = doc().getElementById('vnp-tip');
  if (tip) tip.hidden = true;
}

function armTip(control) {
  root.clearTimeout(panelTipTimer);
  panelTipTimer = root.setTimeout(function () {
    panelTipTimer = 0;
    if (!control.isConnected) return;
    panelTipFor = control;
    placePanelTip(control);
  }, TIP_DELAY_MS);
}

function setTip(control, text) {
  control.removeAttribute('title');
  var bound = tipTexts.has(control);
  tipTexts.set(control, text);
  if (!bound) {
    control.addEventListener('mouseenter', function () { armTip(control); });
    control.addEventListener('focus', function () { armTip(control); });
    ['mouseleave', 'blur', 'click'].forEach(function (type) { control.addEventListener(type, hidePanelTip); });
  }
  if (panelTipFor === control) placePanelTip(control);
}

// ---- clipboard ----------------------------------------------------------------------------

function legacyCopy(text) {
  var d = doc();
  var area = d.createElement('textarea');
  area.value = text;
  area.setAttribute('readonly', '');
  area.setAttribute('aria-hidden', 'true');
  area.style.cssText = 'position:fixed;left:-10000px;top:0;width:1px;height:1px;opacity:0';
  var previous = d.activeElement;
  hostNode().appendChild(area);
  try {
    area.focus();
    area.select();
    area.setSelectionRange(0, text.length);
    return d.execCommand('copy') === true;
  } catch {
    return false;
  } finally {
    area.remove();
    if (previous && typeof previous.focus === 'function') previous.focus();
  }
}

function copyText(text) {
  var value = text == null ? '' : String(text);
  var nav = root.navigator;
  var viaAsync = nav && nav.clipboard && typeof nav.clipboard.writeText === 'function'
    ? Promise.resolve().then(function () { return nav.clipboard.writeText(value); })
    : Promise.reject(new Error('no asynchronous clipboard'));
  return viaAsync.then(function () { return 'async'; }, function () {
    if (legacyCopy(value)) return 'legacy';
    throw new Error('clipboard unavailable');
  });
}

// ---- phrases and measuring ----------------------------------------------------------------

// Whole-word, any-case match of the noun; pattern characters in the noun are matched literally.
function nounPattern(noun) {
  if (!noun) return null;
  var literal = noun.replace(/[\\^$.*+?()[\]{}|/]/g, '\\$&');
  return new RegExp('(?<![\\p{L}\\p{M}\\p{N}_])' + literal + '(?![\\p{L}\\p{M}\\p{N}_])', 'giu');
}

// Appends the phrase between typographic quotes, the noun in bold teal; text nodes only, never markup.
function appendPhrase(parent, phrase, pattern) {
  parent.appendChild(doc().createTextNode('\u201c'));
  var at = 0;
  if (pattern) {
    pattern.lastIndex = 0;
    var m;
    while ((m = pattern.exec(phrase)) !== null) {
      if (m.index > at) parent.appendChild(doc().createTextNode(phrase.slice(at, m.index)));
      parent.appendChild(el('b', 'vnp-noun', m[0]));
      at = m.index + m[0].length;
    }
  }
  if (at < phrase.length) parent.appendChild(doc().createTextNode(phrase.slice(at)));
  parent.appendChild(doc().createTextNode('\u201d'));
}

function makeProbe(fontCss) {
  var probe = el('span', 'vnp-probe');
  probe.setAttribute('aria-hidden', 'true');
  probe.style.cssText = 'position:absolute;left:-100000px;top:-100000px;visibility:hidden;white-space:nowrap;' +
    'padding:0;border:0;margin:0;' + fontCss;
  hostNode().appendChild(probe);
  return probe;
}

function probeWidth(probe, fill) {
  probe.textContent = '';
  fill(probe);
  return probe.getBoundingClientRect().width;
}

// Phrases whose rendered width (quotes and bold noun included) exceeds the phrase cell's budget.
function phrasesOverBudget(phrases, pattern) {
  var probe = makeProbe('font:' + PHRASE_FONT + ';line-height:1.4');
  try {
    var over = [];
    phrases.forEach(function (phrase) {
      var need = Math.ceil(probeWidth(probe, function (p) { appendPhrase(p, phrase, pattern); }));
      if (need > PHRASE_BUDGET) over.push({ phrase: phrase, need: need, budget: PHRASE_BUDGET });
    });
    return over;
  } finally {
    probe.remove();
  }
}

// Measures once the body face is usable, so the verdict is about the font the user will see.
function guardWidths(phrases, pattern, overBudget) {
  function measure() {
    overBudget.length = 0;
    Array.prototype.push.apply(overBudget, phrasesOverBudget(phrases, pattern));
  }
  function finish() {
    measure();
    if (overBudget.length) {
      root.console.warn('[newbie-panel] ' + overBudget.length + TEXT.overBudget + TEXT.overBudgetAdvice,
        overBudget.slice());
    }
  }
  var fonts = doc().fonts;
  if (!phrases.length) return;
  if (fonts && typeof fonts.load === 'function') {
    measure();
    Promise.all([fonts.load(PHRASE_FONT), fonts.load('700 14px ' + BODY_STACK)]).then(finish, finish);
  } else {
    finish();
  }
}

// ---- versions and JSON --------------------------------------------------------------------

function versionParts(v) {
  var parts = String(v).split('.');
  var out = [];
  for (var i = 0; i < 3; i++) {
    var p = parts[i] == null ? '' : parts[i].trim();
    out.push(/^\d+$/.test(p) ? Number(p) : 0);
  }
  return out;
}

function compareVersions(a, b) {
  var x = versionParts(a);
  var y = versionParts(b);
  for (var i = 0; i < 3; i++) {
    if (x[i] !== y[i]) return x[i] < y[i] ? -1 : 1;
  }
  return 0;
}

function parseJson(text) {
  try { return { ok: true, value: JSON.parse(text) }; } catch { return { ok: false, value: null }; }
}

function textOf(v) { return typeof v === 'string' && v !== '' ? v : null; }

function member(obj, key) { return isObj(obj) ? obj[key] : undefined; }

function reportedVersion(reply) {
  var v = member(member(reply, 'updater'), 'current_version');
  return v == null || v === '' ? null : String(v);
}

function sleep(ms) {
  return new Promise(function (resolve) { root.setTimeout(resolve, ms); });
}

// fetch with an abort timer; resolves { status, headers, json } or rejects (timedOut set on the error).
function request(url, init, limitMs) {
  var controller = typeof AbortController === 'function' ? new AbortController() : null;
  var timedOut = false;
  var timer = controller && limitMs > 0
    ? root.setTimeout(function () { timedOut = true; controller.abort(); }, limitMs) : 0;
  var options = Object.assign({}, init, controller ? { signal: controller.signal } : {});
  return root.fetch(url, options).then(function (res) {
    return res.text().then(function (text) {
      return { status: res.status, headers: res.headers, json: parseJson(text) };
    });
  }).then(function (answer) {
    root.clearTimeout(timer);
    return answer;
  }, function (err) {
    root.clearTimeout(timer);
    var failure = err instanceof Error ? err : new Error(String(err));
    failure.timedOut = timedOut;
    throw failure;
  });
}

// ---- the send procedure -------------------------------------------------------------------

// The gate fails open: only a version that the updater actually reports can block a send.
function workspaceVersion(apiBase) {
  return request(apiBase + '/updater/status', { cache: 'no-store' }, PROBE_LIMIT_MS).then(function (answer) {
    if (answer.status < 200 || answer.status > 299 || !answer.json.ok) return null;
    var reply = answer.json.value;
    if (!isObj(member(reply, 'updater'))) return null;
    return reportedVersion(reply) || '0.0.0';
  }, function () { return null; });
}

function jobId(job) {
  if (typeof job === 'string' || typeof job === 'number') return String(job);
  if (isObj(job) && job.id != null) return String(job.id);
  return null;
}

function isDelivered(reply) {
  var to = member(reply, 'delivered_to');
  var delivered = Array.isArray(to) ? to.length > 0 : (to != null && to !== '' && to !== false);
  return delivered || !!member(member(reply, 'inject'), 'delivered_in_conversation');
}

function pollJob(apiBase, id, report) {
  var began = Date.now();
  function round() {
    var left = POLL_LIMIT_MS - (Date.now() - began);
    if (left <= 0) return Promise.resolve({ delivered: false, hint: TEXT.noConfirmation });
    var url = apiBase + '/ai-threads/run-prompt/status?job=' + encodeURIComponent(id);
    return request(url, { cache: 'no-store' }, left).then(function (answer) {
      if (answer.status === 404) return { delivered: false, phase: 'no_status_route', hint: TEXT.noStatusRoute };
      var job = member(answer.json.value, 'job');
      var state = member(job, 'state');
      if (answer.status >= 200 && answer.status <= 299 && typeof state === 'string') {
        report(state, job);
        if (DELIVERED_STATES.indexOf(state) >= 0) return { delivered: true };
        if (OPENED_STATES.indexOf(state) >= 0) {
          return { delivered: false, hint: textOf(job.error) || textOf(job.note) || state };
        }
      }
      return null;
    }, function () { return null; }).then(function (outcome) {
      return outcome || sleep(POLL_EVERY_MS).then(round);
    });
  }
  return round();
}

// Resolves { delivered, hint?, phase? }; rejects with the message to show when nothing was opened.
function sendPrompt(cfg, report) {
  return workspaceVersion(cfg.apiBase).then(function (version) {
    if (version !== null && compareVersions(version, MIN_WORKSPACE) < 0) {
      throw new Error('Ovra needs updating to send prompts (found ' + version + ', needs ' + MIN_WORKSPACE +
        '). Run: ovra update');
    }
    var body = JSON.stringify({
      new: true,
      prompt: cfg.prompt,
      submit: true,
      name: cfg.appName + ' - say it',
      tags: ['dock:' + cfg.slug]
    });
    return request(cfg.apiBase + '/ai-threads/run-prompt',
      { method: 'POST', headers: { 'content-type': 'application/json' }, body: body, cache: 'no-store' },
      SEND_LIMIT_MS).then(function (answer) {
      var reply = answer.json.value;
      if (answer.status < 200 || answer.status > 299) {
        // A proxy that cannot reach the workspace explains itself in `why`, in words for an agent;
        // a person is told what it means for them.
        if (member(reply, 'proxied') === true && answer.status === 503) throw new Error(TEXT.noWorkspace);
        throw new Error(textOf(member(member(reply, '_hints'), 'note')) || textOf(member(reply, 'error')) ||
          textOf(member(reply, 'why')) || 'AI threads returned ' + answer.status);
      }
      if (isDelivered(reply)) return { delivered: true };
      var id = jobId(member(reply, 'job'));
      // An opened thread is never retried: a retry would send the prompt twice.
      if (id === null) return { delivered: false, hint: textOf(member(member(reply, '_hints'), 'note')) };
      return pollJob(cfg.apiBase, id, report);
    }, function (err) {
      if (err.timedOut) return { delivered: false, hint: TEXT.noAnswer };
      throw new Error('');
    });
  });
}

// ---- self checks --------------------------------------------------------------------------

function row(what, want, got, pass) {
  return { what: what, want: String(want), got: String(got), pass: !!pass };
}

function fmtPx(n) {
  return String(Math.round(n * 100) / 100) + 'px';
}

function pxValue(text) {
  return /^-?\d+(\.\d+)?px$/.test(text) ? parseFloat(text) : null;
}

function lengthRow(what, want, got, snaps) {
  var w = parseFloat(want);
  var g = pxValue(got);
  var pass = g !== null && Math.abs(g - w) <= 0.01;
  if (!pass && snaps && g !== null) {
    var ratio = root.devicePixelRatio || 1;
    pass = Math.abs(g - Math.max(1, Math.floor(w * ratio)) / ratio) <= 0.01;
  }
  return row(what, want, got, pass);
}

function boxShorthand(t, r, b, l) {
  if (l !== r) return [t, r, b, l].join(' ');
  if (t !== b) return [t, r, b].join(' ');
  return t === r ? t : [t, r].join(' ');
}

function findPane(panel) {
  for (var node = panel.parentElement; node && node !== doc().body && node !== doc().documentElement;
    node = node.parentElement) {
    var oy = root.getComputedStyle(node).overflowY;
    if (oy === 'auto' || oy === 'scroll') {
      var r = node.getBoundingClientRect();
      var left = r.left + node.clientLeft;
      return { left: left, right: left + node.clientWidth };
    }
  }
  return { left: 0, right: doc().documentElement.clientWidth };
}

function trackCount(template) {
  var tracks = template.replace(/\[[^\]]*\]/g, ' ').trim();
  return tracks ? tracks.split(/\s+/).length : 0;
}

function headroomRow(panel) {
  var cells = Array.prototype.slice.call(panel.querySelectorAll('.vnp-phrase'));
  if (!cells.length) return row('phrase headroom', 'at least ' + HEADROOM_MIN + 'px', 'no phrases', true);
  var cs = root.getComputedStyle(cells[0]);
  var probe = makeProbe('font-style:' + cs.fontStyle + ';font-weight:' + cs.fontWeight + ';font-size:' + cs.fontSize +
    ';font-family:' + cs.fontFamily + ';letter-spacing:' + cs.letterSpacing + ';line-height:' + cs.lineHeight);
  try {
    var tightest = null;
    var tight = 0;
    cells.forEach(function (cell) {
      var text = probeWidth(probe, function (p) {
        Array.prototype.forEach.call(cell.childNodes, function (n) { p.appendChild(n.cloneNode(true)); });
      });
      var slack = cell.getBoundingClientRect().width - text;
      if (slack < HEADROOM_MIN) tight++;
      if (!tightest || slack < tightest.slack) tightest = { slack: slack, phrase: cell.textContent };
    });
    return row('phrase headroom', 'at least ' + HEADROOM_MIN + 'px',
      fmtPx(tightest.slack) + ' for ' + tightest.phrase + ', ' + tight + ' of ' + cells.length + ' tight',
      tightest.slack >= HEADROOM_MIN);
  } finally {
    probe.remove();
  }
}

function selfCheck(panel) {
  var target = panel && panel.nodeType === 1 ? panel : doc().querySelector('.vnp');
  if (!target) return { ok: false, rows: [], error: TEXT.noPanel };
  var width = target.getBoundingClientRect().width;
  if (!(width > 0)) return { ok: false, invalid: true, rows: [], error: TEXT.unrendered };

  var cs = root.getComputedStyle(target);
  var rows = [
    row('card background', 'rgb(22, 27, 34)', cs.backgroundColor, cs.backgroundColor === 'rgb(22, 27, 34)'),
    lengthRow('card border', '1px', cs.borderTopWidth, true),
    row('card border colour', 'rgb(48, 54, 61)', cs.borderTopColor, cs.borderTopColor === 'rgb(48, 54, 61)'),
    lengthRow('card accent edge', '3px', cs.borderLeftWidth, true),
    lengthRow('card radius', '12px', boxShorthand(cs.borderTopLeftRadius, cs.borderTopRightRadius,
      cs.borderBottomRightRadius, cs.borderBottomLeftRadius), false)
  ];
  var padding = boxShorthand(cs.paddingTop, cs.paddingRight, cs.paddingBottom, cs.paddingLeft);
  rows.push(row('card padding', '18px 20px 20px', padding, padding === '18px 20px 20px'));
  rows.push(lengthRow('column gap', '24px', cs.columnGap, false));

  var lefts = [];
  Array.prototype.forEach.call(target.querySelectorAll('.vnp-act'), function (cell) {
    var first = cell.querySelector('button');
    if (!first) return;
    var x = first.getBoundingClientRect().left;
    if (!lefts.some(function (seen) { return Math.abs(seen - x) < 0.5; })) lefts.push(x);
  });
  rows.push(row('copy icons in one column', 'one position',
    lefts.length === 1 ? 'one position' : lefts.length + ' positions (' + lefts.map(fmtPx).join(', ') + ')',
    lefts.length <= 1));

  rows.push(row('columns at this width', width >= TWO_COL_MIN ? 2 : 1, trackCount(cs.gridTemplateColumns), true));

  var pane = findPane(target);
  var r = target.getBoundingClientRect();
  var inLeft = r.left - pane.left;
  var inRight = pane.right - r.right;
  rows.push(row('panel gutter', GUTTER + 'px each side', 'left ' + fmtPx(inLeft) + ', right ' + fmtPx(inRight),
    Math.abs(inLeft - GUTTER) <= GUTTER_SLACK && Math.abs(inRight - GUTTER) <= GUTTER_SLACK));

  rows.push(headroomRow(target));

  var phraseCell = target.querySelector('.vnp-phrase');
  var family = root.getComputedStyle(phraseCell || target).fontFamily;
  rows.push(row('phrase typeface', 'Satoshi', family, family.indexOf('Satoshi') >= 0));

  return { ok: rows.every(function (x) { return x.pass; }), rows: rows };
}

function probeRoute(url, init) {
  return request(url, init, PROBE_LIMIT_MS).then(function (answer) {
    return {
      answered: true,
      status: answer.status,
      json: answer.json,
      signature: answer.status + '|' + (answer.headers.get('allow') || '') + '|' +
        (answer.headers.get('access-control-allow-methods') || '')
    };
  }, function (err) {
    return { answered: false, why: err && err.message ? err.message : 'no answer' };
  });
}

function answerText(p) {
  return p.answered ? String(p.status) : 'no answer (' + p.why + ')';
}

function checkSend(apiBase) {
  var base = apiBase == null ? '' : String(apiBase);
  return probeRoute(base + '/updater/status', { cache: 'no-store' }).then(function (gate) {
    var rows = [];
    var wired = gate.answered && gate.status === 200 && gate.json.ok;
    rows.push(row('gate route wired', '200 with JSON',
      gate.answered ? gate.status + (gate.json.ok ? ' with JSON' : ' without JSON') : answerText(gate), wired));
    var version = wired ? reportedVersion(gate.json.value) : null;
    rows.push(row('gate reports a version', 'updater.current_version', version === null ? 'missing' : version,
      version !== null));
    rows.push(row('version meets the minimum', 'at least ' + MIN_WORKSPACE, version === null ? 'unknown' : version,
      version !== null && compareVersions(version, MIN_WORKSPACE) >= 0));
    return Promise.all([
      probeRoute(base + '/ai-threads/run-prompt', { method: 'OPTIONS', cache: 'no-store' }),
      probeRoute(base + NONSENSE_PATH, { method: 'OPTIONS', cache: 'no-store' })
    ]).then(function (pair) {
      var real = pair[0];
      var nonsense = pair[1];
      var differs = !nonsense.answered || nonsense.signature !== real.signature;
      rows.push(row('send route wired', 'an answer other than 404, unlike a path that cannot exist',
        answerText(real) + ', nonsense path ' + answerText(nonsense),
        real.answered && real.status !== 404 && differs));
      return probeRoute(base + '/ai-threads/run-prompt/status?job=__vnp_probe__', { cache: 'no-store' });
    }).then(function (progress) {
      rows.push(row('progress route wired', 'anything but 404', answerText(progress),
        progress.answered && progress.status !== 404));
      return { ok: rows.every(function (x) { return x.pass; }), rows: rows };
    });
  });
}

// ---- mounting -----------------------------------------------------------------------------

function normalise(options) {
  var o = options || {};
  var app = o.app == null ? '' : String(o.app);
  var demo = isObj(o.demo) ? o.demo : {};
  return {
    app: app,
    slug: o.slug == null ? app.replace(/\s+/g, '-') : String(o.slug),
    appName: o.appName == null ? app : String(o.appName),
    apiBase: o.apiBase == null ? '' : String(o.apiBase),
    demoLabel: demo.label == null ? TEXT.demoLabel : String(demo.label),
    demoMeta: demo.meta == null || demo.meta === '' ? null : String(demo.meta),
    onPlay: typeof demo.onPlay === 'function' ? demo.onPlay : null,
    phrases: Array.isArray(o.phrases) ? o.phrases.map(function (p) { return p == null ? '' : String(p); }) : [],
    onToggle: typeof o.onToggle === 'function' ? o.onToggle : null,
    onProgress: typeof o.onProgress === 'function' ? o.onProgress : null
  };
}

function iconButton(name, tip, className) {
  var button = el('button', 'vnp-btn' + (className ? ' ' + className : ''));
  button.type = 'button';
  button.setAttribute('aria-label', tip);
  button.appendChild(icon(name, 16));
  setTip(button, tip);
  return button;
}

function copyPhrase(phrase) {
  copyText(phrase).then(function () { panelToast(TEXT.copied, 'ok'); },
    function () { panelToast(TEXT.copyFailed, 'err'); });
}

function sendPhrase(cfg, phrase, button) {
  if (button.disabled) return;
  button.disabled = true;
  var pending = panelToast(TEXT.opening, 'info', SEND_LIMIT_MS);
  function report(state, job) {
    if (Object.prototype.hasOwnProperty.call(PHASES, state)) pending.setText(PHASES[state]);
    if (!cfg.onProgress) return;
    try { cfg.onProgress(state, job); } catch (e) { root.console.error(e); }
  }
  sendPrompt({ apiBase: cfg.apiBase, prompt: phrase, appName: cfg.appName, slug: cfg.slug }, report)
    .then(function (outcome) {
      pending.remove();
      if (outcome.delivered) {
        panelToast(TEXT.sent, 'ok');
      } else {
        if (outcome.hint) root.console.info('[newbie-panel] thread opened, delivery not confirmed: ' + outcome.hint);
        panelToast(TEXT.unconfirmed, 'info', 8000);
      }
    }, function (err) {
      pending.remove();
      panelToast(err && err.message ? err.message : TEXT.sendFailed, 'err');
    })
    .then(function () { button.disabled = false; });
}

function phraseRow(cfg, pattern, phrase) {
  var tr = el('tr', 'vnp-row');
  var cell = el('td', 'vnp-phrase');
  appendPhrase(cell, phrase, pattern);
  var act = el('td', 'vnp-act');
  var copyButton = iconButton('copy', TEXT.copyTip, 'vnp-copy');
  var sendButton = iconButton('send', TEXT.sendTip, 'vnp-send');
  copyButton.addEventListener('click', function (ev) { ev.stopPropagation(); copyPhrase(phrase); });
  sendButton.addEventListener('click', function (ev) { ev.stopPropagation(); sendPhrase(cfg, phrase, sendButton); });
  tr.addEventListener('click', function () { copyPhrase(phrase); });
  act.appendChild(copyButton);
  act.appendChild(sendButton);
  tr.appendChild(cell);
  tr.appendChild(act);
  return tr;
}

// The heading, the lede naming the app, and the close button.
function panelHead(cfg) {
  var head = el('div', 'vnp-head');
  var headText = el('div', 'vnp-head-text');
  headText.appendChild(el('h2', 'vnp-title', TEXT.heading));
  var lede = el('p', 'vnp-lede', TEXT.ledeStart);
  lede.appendChild(el('b', 'vnp-noun', cfg.app));
  lede.appendChild(doc().createTextNode(TEXT.ledeEnd));
  headText.appendChild(lede);
  var closeButton = iconButton('close', TEXT.close, 'vnp-close');
  head.appendChild(headText);
  head.appendChild(closeButton);
  return { head: head, closeButton: closeButton };
}

// The demo button and its line.
function panelLeft(cfg) {
  var left = el('div', 'vnp-left');
  var demoButton = el('button', 'vnp-demo');
  demoButton.type = 'button';
  demoButton.appendChild(icon('play', 16));
  demoButton.appendChild(el('span', null, cfg.demoLabel));
  demoButton.addEventListener('click', function () {
    if (cfg.onPlay) cfg.onPlay();
    else panelToast(TEXT.noDemo, 'err');
  });
  left.appendChild(demoButton);
  if (cfg.demoMeta !== null) left.appendChild(el('div', 'vnp-meta', cfg.demoMeta));
  return left;
}

// The phrase table.
function panelRight(cfg, pattern) {
  var right = el('div', 'vnp-right');
  var table = el('table', 'vnp-phrases');
  var cols = el('colgroup');
  cols.appendChild(el('col', 'vnp-phrase-col'));
  cols.appendChild(el('col', 'vnp-act-col'));
  table.appendChild(cols);
  var tbody = el('tbody');
  cfg.phrases.slice(0, MAX_PHRASES).forEach(function (phrase) {
    tbody.appendChild(phraseRow(cfg, pattern, phrase));
  });
  table.appendChild(tbody);
  right.appendChild(table);
  return right;
}

// Opening and closing: the panel, the toggle button's state and tip, the remembered choice.
function openState(cfg, wrap, panel, toggleButton) {
  var storeKey = 'vnp:' + cfg.slug + ':open';
  var state = { isOpen: true };
  state.apply = function (open, remember, source) {
    state.isOpen = !!open;
    wrap.hidden = !state.isOpen;
    panel.hidden = !state.isOpen;
    if (toggleButton) {
      var label = state.isOpen ? TEXT.hide : TEXT.show;
      toggleButton.setAttribute('aria-pressed', state.isOpen ? 'true' : 'false');
      toggleButton.setAttribute('aria-label', label);
      setTip(toggleButton, label);
    }
    if (remember !== false) storeSet(storeKey, state.isOpen ? '1' : '0');
    if (cfg.onToggle) cfg.onToggle(state.isOpen, source || 'api');
  };
  state.stored = function () { return storeGet(storeKey) !== '0'; };
  return state;
}

function wireToggle(toggleButton, state) {
  if (!toggleButton.firstElementChild && !toggleButton.textContent.trim()) {
    toggleButton.textContent = '';
    toggleButton.appendChild(icon('help', 18));
  }
  setTip(toggleButton, TEXT.show);
  toggleButton.addEventListener('click', function () { state.apply(!state.isOpen, true, 'user'); });
}

function mount(options) {
  var cfg = normalise(options);
  ensureStyles();
  var host = resolveElement(options && options.mount);
  if (!host) throw new Error(TEXT.notFound + String(options && options.mount));
  var pattern = nounPattern(cfg.app);

  var wrap = el('div', 'vnp-wrap');
  var panel = el('section', 'vnp');
  panel.setAttribute('aria-label', TEXT.label + cfg.appName);
  wrap.appendChild(panel);
  var top = panelHead(cfg);
  panel.appendChild(top.head);
  panel.appendChild(panelLeft(cfg));
  panel.appendChild(panelRight(cfg, pattern));
  host.appendChild(wrap);

  var toggleButton = options && options.toggleButton != null ? resolveElement(options.toggleButton) : null;
  var state = openState(cfg, wrap, panel, toggleButton);
  if (toggleButton) wireToggle(toggleButton, state);
  top.closeButton.addEventListener('click', function () { state.apply(false, true, 'user'); });
  state.apply(state.stored(), false, 'api');

  var overBudget = [];
  guardWidths(cfg.phrases, pattern, overBudget);

  return {
    panel: panel,
    open: function (o) { state.apply(true, !(o && o.remember === false), 'api'); },
    close: function (o) { state.apply(false, !(o && o.remember === false), 'api'); },
    toggle: function () { state.apply(!state.isOpen, true, 'api'); },
    isOpen: function () { return state.isOpen; },
    overBudget: overBudget,
    toast: panelToast,
    selfCheck: function () { return selfCheck(panel); }
  };
}

root.OvraNewbiePanel = {
  mount: mount,
  toast: panelToast,
  selfCheck: selfCheck,
  copyText: copyText,
  checkSend: checkSend,
  version: VERSION,
  TWO_COL_MIN: TWO_COL_MIN,
  PHRASE_BUDGET: PHRASE_BUDGET
};
