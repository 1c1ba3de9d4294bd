// The dashboard: the shown box's LEDs and the evidence behind them, controls and settings, the
// live channel, recent changes, surfaces, the tour, and the agent's handle (window.__dash).

import { api, postJson } from '../kit/api.js';
import { $, el, storeGet, storeSet } from '../kit/dom.js';
import { appendMarkup } from '../kit/markup.js';
import { payload, replyError, replyHint } from '../kit/reply.js';
import { shapeToasts, toast } from '../kit/toast.js';
import { wireTooltips } from '../kit/tooltip.js';
import { isObj, lastSegment, nonEmpty, present, str } from '../kit/values.js';
import { DEFAULT_WIKI } from '../kit/wiki.js';
import { wireAbout } from './about.js';
import { ago, sinceText } from './ages.js';
import { addChange, reloadChanges, renderChanges, syncChanges } from './changes.js';
import { imageSrc, openImage } from './images.js';
import { showProgress } from './launch.js';
import { displayState, knownLabel, LED_ORDER, ledWord } from './leds.js';
import { startRemote } from './remote.js';
import { startTour, wireTour } from './tour.js';

const DEFAULT_PART = 'tolm/in-s63btg';
const CONSOLE_KEEP = 300;
const STATUS_EVERY_MS = 15000;
// The server marks a page that another site opened (a link, a frame, window.open).
const FOREIGN_ENTRANCE = document.querySelector('meta[name="loomdeck-entrance"]')?.content === 'foreign';
// While the live channel brings a state of the shown box this often, the page need not poll.
const LIVE_STATE_MS = 20000;
// LEDs older than this say how old they are.
const AGE_SHOWN_AFTER_MS = 30000;
const AGE_EVERY_MS = 5000;
const TARGETS_EVERY_MS = 60000;
const CHANGE_AGES_EVERY_MS = 30000;
const EVIDENCE_TICK_MS = 1000;
const PROMPTS = [
  'run the fusion demo tour and show me the gallery',
  'import the basic part tolm/in-s42ata from the wiki and open it in Fusion',
  'show me the symbol, footprint and 3D chip for the part I just imported',
  'make a solo test project for this part and show me the 3D board',
  'is Fusion signed in and is APS cloud search working? fix whatever is not',
  'search my Fusion cloud files for BQ25792',
  'export gerbers, BOM and CPL for the open board to a temp folder',
  'keep Fusion updated automatically and never show me the update nag',
];
const SURFACES = [
  ['symbol', 'Symbol'], ['footprint', 'Footprint'], ['package3d', '3D package'], ['library', 'Library'],
  ['schematic', 'Schematic'], ['board2d', '2D board'], ['board3d', '3D board'], ['project', 'Project'],
];
const SETUP_STEPS = [
  ['fusionRunning', 'start', 'Start Fusion (background)'],
  ['signedIn', 'signin', 'Drive the Autodesk sign-in (you only type your password)'],
  ['aps', 'aps_signin', 'Set up APS cloud search'],
  ['mcp', 'mcp_enable', 'Enable the Fusion MCP server'],
];
const CLICKS = new Map([
  ['setup', 'btnSetup'], ['start', 'btnStart'], ['stop', 'btnStop'], ['import-part', 'btnImportPart'],
  ['settings', 'btnSettings'], ['refresh', 'btnRefresh'],
]);
const STICKY_DEFAULTS = { autoUpdateFusion: true, autoTakeOverSeat: true, showDrivingBadge: true, activityIndicator: 'progress' };

// ---- Page state ---------------------------------------------------------------------------
let lastStatus = null;
let currentTarget = '';
let targetsCache = [];
let selectedLed = null;
const consoleBuffer = [];
let sseUp = false;
let liveStateAt = 0;  // when the live channel last brought a state of the shown box (page clock)
let statusAt = 0;     // when the shown LEDs were verified
let dashSettings = { autoGreenOnLaunch: true, demoPart: DEFAULT_PART };
let lastBridgeVersion = '';

const clone = (v) => (v === null || v === undefined ? v : JSON.parse(JSON.stringify(v)));
const demoPart = () => nonEmpty(dashSettings.demoPart) || DEFAULT_PART;
const wikiUrl = (ref) => DEFAULT_WIKI + '/' + ref.split('/').map(encodeURIComponent).join('/');

// ---- Console capture and the agent's handle ------------------------------------------------
function remember(line) {
  consoleBuffer.push(line);
  while (consoleBuffer.length > CONSOLE_KEEP) consoleBuffer.shift();
}
function consoleText(v) {
  if (v instanceof Error) return v.message;
  return str(v);
}
for (const level of ['log', 'warn', 'error']) {
  const original = console[level];
  console[level] = function (...args) {
    remember(level + ': ' + args.map(consoleText).join(' '));
    return original.apply(console, args);
  };
}
window.onerror = (message) => { remember('onerror: ' + str(message)); return false; };
window.addEventListener('unhandledrejection', (e) => { remember('onerror: ' + consoleText(e.reason)); });

// Agents read the page's real state here instead of scraping the markup.
Object.defineProperty(window, '__dash', {
  value: Object.freeze({
    get sseUp() { return sseUp; },
    get status() { return clone(lastStatus); },
    get target() { return currentTarget; },
    get settings() { return clone(dashSettings); },
    get errors() { return consoleBuffer.slice(-10); },
    // Whether the LEDs shown are known now, and the line that says so or why not.
    get evidence() { return clone(judge()); },
  }),
});

// ---- Toasts, requests, images ---------------------------------------------------------------
const toastBox = $('toasts');

// The stack is a manual popover so that it stays above an open modal dialog.
function liftToasts() {
  if (toastBox.matches(':popover-open')) toastBox.hidePopover();
  toastBox.showPopover();
}

shapeToasts({ newestFirst: true, errMs: 9000, onShow: liftToasts });

// Toasts leave on their own timers (the newbie panel's too): the empty stack leaves the top layer.
new MutationObserver(() => {
  if (!toastBox.firstChild && toastBox.matches(':popover-open')) toastBox.hidePopover();
}).observe(toastBox, { childList: true });

// The newbie panel posts its toasts into the element with the id "vnp-toasts" when the page has
// one. Here they move on into the page's own stack, so the two kinds never land on top of each
// other: one stack, newest on top, above an open dialog. The panel still retexts and removes them.
const panelToasts = $('vnp-toasts');
new MutationObserver(() => {
  for (const t of Array.from(panelToasts.children)) {
    t.setAttribute('role', t.classList.contains('vnp-toast-err') ? 'alert' : 'status');
    toastBox.prepend(t);
    liftToasts();
  }
}).observe(panelToasts, { childList: true });

// A dialog opened while toasts show would cover them; the stack is lifted back above it.
function showDialog(dlg) {
  if (!dlg.open) dlg.showModal();
  if (toastBox.matches(':popover-open')) liftToasts();
}

function act(action, args) {
  const body = { action };
  if (currentTarget) body.target = currentTarget;
  body.args = args === undefined ? {} : args;
  return postJson('api/action', body);
}

const statusUrl = () => 'api/status' + (currentTarget ? '?target=' + encodeURIComponent(currentTarget) : '');

function clipboardCopy(value) {
  const panel = window.OvraNewbiePanel;
  if (panel && typeof panel.copyText === 'function') return panel.copyText(value);
  return navigator.clipboard.writeText(value);
}

wireTooltips($('tt'));

function ledPill(key, label, state, word) {
  const pill = el('button', 'ledpill');
  pill.type = 'button';
  pill.dataset.led = key;
  pill.dataset.state = state;
  pill.append(el('span', 'dot'), el('span', 'lbl', label));
  if (word) pill.append(el('span', 'word', word));
  return pill;
}

function renderSkeleton() {
  const grid = $('ledGrid');
  if (grid.firstChild) return;
  for (const [key, label] of LED_ORDER) grid.append(ledPill(key, label, 'checking', 'checking'));
}

function ledKeys(leds) {
  const known = LED_ORDER.map(([k]) => k).filter((k) => Object.prototype.hasOwnProperty.call(leds, k));
  return known.concat(Object.keys(leds).filter((k) => !known.includes(k)));
}

function renderLeds(s) {
  const grid = $('ledGrid');
  grid.replaceChildren();
  const leds = isObj(s.leds) ? s.leds : {};
  for (const key of ledKeys(leds)) {
    const led = isObj(leds[key]) ? leds[key] : {};
    const pill = ledPill(key, nonEmpty(led.label) || knownLabel(key), displayState(led), ledWord(led));
    if (key === selectedLed) pill.classList.add('selected');
    pill.setAttribute('aria-expanded', key === selectedLed ? 'true' : 'false');
    pill.addEventListener('click', () => toggleDetail(key));
    grid.append(pill);
  }
  if (selectedLed !== null && !Object.prototype.hasOwnProperty.call(leds, selectedLed)) selectedLed = null;
  fillDetail();
}

function toggleDetail(key) {
  selectedLed = selectedLed === key ? null : key;
  for (const pill of $('ledGrid').children) {
    const on = pill.dataset.led === selectedLed;
    pill.classList.toggle('selected', on);
    pill.setAttribute('aria-expanded', on ? 'true' : 'false');
  }
  fillDetail();
}

function fillDetail() {
  const panel = $('ledDetail');
  const leds = lastStatus && isObj(lastStatus.leds) ? lastStatus.leds : {};
  if (selectedLed === null || !Object.prototype.hasOwnProperty.call(leds, selectedLed)) {
    panel.hidden = true;
    panel.replaceChildren();
    return;
  }
  const led = isObj(leds[selectedLed]) ? leds[selectedLed] : {};
  const top = el('div', 'dtop');
  top.append(el('strong', null, nonEmpty(led.label) || knownLabel(selectedLed)));
  if (present(led.version) && led.version !== '') top.append(el('span', 'ver', str(led.version)));
  const hint = el('div', 'hint');
  if (present(led._hint)) appendMarkup(hint, led._hint);
  panel.replaceChildren(top, hint);
  if (present(led.who) && led.who !== '') panel.append(el('div', 'who', 'signed in as ' + str(led.who)));
  panel.hidden = false;
}

function renderHeader(s) {
  const target = str(s.target);
  $('tname').textContent = target ? 'target: ' + target : 'no bridge target';
  const leds = isObj(s.leds) ? s.leds : {};
  const bridge = nonEmpty(s.bridgeVersion);
  if (bridge) lastBridgeVersion = bridge;
  $('bpDash').textContent = nonEmpty(s.dashboardVersion) || '-';
  $('bpBridge').textContent = bridge || lastBridgeVersion || '-';
  $('bpAddin').textContent = (isObj(leds.addinReady) && nonEmpty(leds.addinReady.version)) || '-';
  $('meta').textContent = s.stale === true ? '(busy - last verified state)' : '';
}

function applyStatus(s) {
  // A snapshot that shows every confirmed setting ends the overlay: the bridge's values hold from here on.
  if (isObj(s.settings) && Object.keys(confirmedSticky).every((k) => s.settings[k] === confirmedSticky[k])) confirmedSticky = {};
  if (Object.keys(confirmedSticky).length) s.settings = Object.assign({}, isObj(s.settings) ? s.settings : {}, confirmedSticky);
  lastStatus = s;
  statusAt = Date.now() - (s.stale === true && typeof s.lastVerifiedAgeSec === 'number' ? s.lastVerifiedAgeSec * 1000 : 0);
  noteSnapshot(s);
  renderLeds(s);
  renderHeader(s);
  renderAge();
  decorateLeds();
  syncChanges(shownBox());
}

// LEDs that are no longer fresh say how old they are, so a page whose channel broke does not look live.
function renderAge() {
  const node = $('ledAge');
  const now = Date.now();
  node.hidden = !statusAt || now - statusAt <= AGE_SHOWN_AFTER_MS;
  node.textContent = node.hidden ? '' : 'as of ' + ago(new Date(statusAt).toISOString(), now);
}

// ---- Evidence: the LEDs claim a state only while something vouches for it --------------------
// A snapshot from an answering bridge vouches for 30 s from its arrival (a live stream or a
// status read brings one at least every 15 s while all is well); one the server kept while the
// bridge was silent vouches for nothing, and neither does a server the page cannot reach. Then
// every LED and the header chip take the "unknown" look, and a line says why and since when.
const EVIDENCE_MS = 30000;
const evidence = {
  at: 0,          // when the LEDs shown were last verified by an answering bridge (0: never)
  box: null,      // the box they belong to
  heardAt: 0,     // when the server last answered anything (a status read, an event)
  readError: '',  // the last status read's failure, '' once one succeeded
};

// A request without a box goes to the bridge's default box: a message never names nobody.
const boxLabel = (box) => nonEmpty(box) || 'the default box';
const boxSubject = (box) => { const b = boxLabel(box); return b.charAt(0).toUpperCase() + b.slice(1); };

function heard() { evidence.heardAt = Date.now(); }

// A kept snapshot is as old as the server says, or as the page's own last verified one for the
// box when that is older: the age shown never flatters.
function noteSnapshot(s) {
  heard();
  const now = Date.now();
  const mine = evidence.box === s.target ? evidence.at : 0;
  if (s.answered !== false && s.stale !== true) evidence.at = now;
  else if (s.answered !== false && typeof s.lastVerifiedAgeSec === 'number') evidence.at = Math.min(mine || now, now - s.lastVerifiedAgeSec * 1000);
  else evidence.at = 0;
  evidence.box = s.target;
}

// Stream down and the last status read failed: the page has lost the server itself.
const contactLost = () => !sseUp && evidence.readError !== '';
// The last snapshot says the bridge did not answer (or is a kept one).
const bridgeSilent = (s) => s.answered === false || s.stale === true;

// What the page may claim now: null before any snapshot; else whether the LEDs are known, the
// line that says so (or why not), and whether the LEDs shown were ever true.
function judge() {
  const s = lastStatus;
  if (!s) return null;
  const now = Date.now();
  const age = now - evidence.at;
  const was = evidence.at > 0;
  if (contactLost()) return { known: false, was, reason: 'Lost contact with loomdeck ' + sinceText(now - evidence.heardAt) + ' - reconnecting' };
  if (!bridgeSilent(s) && was && age < EVIDENCE_MS) return { known: true, was, reason: 'Verified ' + sinceText(age) + (sseUp ? ' - live' : '') };
  const why = nonEmpty(s.busyReason) || (bridgeSilent(s) ? 'the bridge did not answer' : 'the last status read has not come back');
  return { known: false, was, reason: boxSubject(s.target) + "'s bridge is not answering: " + why + (was ? ' - showing what was true ' + sinceText(age) : '') };
}

// ---- The user's own step, refusals and deliberate closes --------------------------------------
let actionNote = null;        // the last refused action: {box, what, error, hint}
let closeDocuments = null;    // documents a refused close names: {box, names}
// Boxes whose Fusion the user closed here -> whether a snapshot has shown it down since; one
// that then shows Fusion up again ends the close.
const closedBoxes = new Map();

// A reply's refusal as an Error carrying the reply's hint, or null when it succeeded.
function refusal(r) {
  const error = replyError(r);
  return error ? Object.assign(new Error(error), { hint: replyHint(r) }) : null;
}

// An action on the shown box begins: the last refusal shown for it has had its answer.
function actionBegins() {
  const box = shownBox();
  if (actionNote && actionNote.box === box) actionNote = null;
  if (closeDocuments && closeDocuments.box === box) closeDocuments = null;
  paintNotes();
}

function showRefusal(what, error, hint) {
  actionNote = { box: shownBox(), what, error: str(error), hint: hint || '' };
  paintNotes();
}

// Reads an action's reply: a refusal stays shown until dismissed or the next action. True when it succeeded.
function reportReply(what, r) {
  const failed = refusal(r);
  if (failed) showRefusal(what, failed.message, failed.hint);
  return !failed;
}

function wireActionNote() {
  $('actionNote').addEventListener('click', (e) => {
    if (!(e.target instanceof Element) || !e.target.closest('.xbtn')) return;
    actionNote = null;
    paintNotes();
  });
}

// The one step only the user can take, in plain words, or ''.
function userStep() {
  const s = lastStatus;
  const box = boxLabel(shownBox());
  const signin = s && isObj(s.leds) && isObj(s.leds.signedIn) ? s.leds.signedIn : null;
  if (signin && signin.wall === 'password') return 'Type your Autodesk password in Fusion on ' + box + ' - the rest is done for you';
  if (closeDocuments && closeDocuments.box === shownBox()) {
    return 'Save and close ' + closeDocuments.names.join(', ') + ' in Fusion on ' + box + ', then press Close Fusion again';
  }
  return '';
}

function paintNotes() {
  const step = userStep();
  $('userStep').textContent = step;
  $('userStep').hidden = step === '';

  const s = lastStatus;
  const fusion = s && s.answered !== false && isObj(s.leds) && isObj(s.leds.fusionRunning) ? s.leds.fusionRunning : null;
  const why = fusion ? nonEmpty(fusion.notStarting) : '';
  $('notStarting').textContent = why;
  $('notStarting').hidden = why === '';

  const note = $('actionNote');
  const shown = actionNote && actionNote.box === shownBox() ? actionNote : null;
  // Painted every second with the LEDs: rebuilt only when it changes, so its button keeps focus.
  if (note.shownNote === shown) return;
  note.shownNote = shown;
  note.replaceChildren();
  note.hidden = !shown;
  if (!shown) return;
  const body = el('div', 'ntext');
  body.append(el('strong', null, shown.what + ' on ' + boxLabel(shown.box) + ':'), ' ' + shown.error);
  if (shown.hint) {
    const hint = el('div', 'nhint');
    appendMarkup(hint, shown.hint);
    body.append(hint);
  }
  const dismiss = el('button', 'xbtn', '✕');
  dismiss.type = 'button';
  dismiss.setAttribute('aria-label', 'Dismiss this message');
  note.append(body, dismiss);
}

// ---- The LEDs as shown: evidence, the user's step and a deliberate close ----------------------
const WAS_WORDS = { ok: 'was on', bad: 'was off' };

function setPill(pill, state, word) {
  pill.dataset.state = state;
  let span = pill.querySelector('.word');
  if (word && !span) pill.append(span = el('span', 'word'));
  if (span) {
    if (word) span.textContent = word;
    else span.remove();
  }
}

// Redraws the pills from what renderLeds drew (kept in data-base), the header chip and the
// lines, for the evidence of this moment; runs after each snapshot and every second.
function decorateLeds() {
  const verdict = judge();
  const s = lastStatus;
  const box = shownBox();
  const leds = s && isObj(s.leds) ? s.leds : {};
  const wall = isObj(leds.signedIn) && leds.signedIn.wall === 'password';
  const states = [];
  for (const pill of $('ledGrid').querySelectorAll('.ledpill')) {
    if (pill.dataset.base === undefined) {
      pill.dataset.base = pill.dataset.state;
      pill.dataset.baseWord = pill.querySelector('.word') ? pill.querySelector('.word').textContent : '';
    }
    let state = pill.dataset.base;
    let word = pill.dataset.baseWord;
    if (!verdict) {
      states.push(state);
      continue;
    }
    const key = pill.dataset.led;
    if (key === 'fusionRunning' && closedBoxes.has(box)) {
      if (state === 'bad') {
        closedBoxes.set(box, true);
        [state, word] = ['closed', 'closed'];
      } else if (closedBoxes.get(box)) {
        closedBoxes.delete(box);
      }
    }
    if (wall && key === 'signedIn' && state !== 'ok') [state, word] = ['busy', 'your password'];
    if (wall && key === 'addinReady' && state !== 'ok') [state, word] = ['busy', 'waits for sign-in'];
    states.push(state);
    if (verdict.known) {
      delete pill.dataset.was;
      setPill(pill, state, word);
    } else {
      pill.dataset.was = state;
      setPill(pill, 'unknown', verdict.was ? WAS_WORDS[state] || 'was ' + word : 'unknown');
    }
  }
  const tled = $('tled');
  const look = !verdict || !states.length ? '' : !verdict.known ? 'unknown'
    : states.includes('bad') ? 'red' : states.every((st) => st === 'ok') ? 'green' : 'amber';
  tled.className = 'led' + (look ? ' ' + look : '');
  const line = $('evidence');
  line.hidden = !verdict;
  line.textContent = verdict ? verdict.reason : '';
  line.className = 'evidence' + (verdict && !verdict.known ? ' unknown' : '');
  if (verdict) $('tchip').setAttribute('data-tip', verdict.reason);
  paintNotes();
  if (verdict && s) watchAway(s, states);
}

// ---- Targets and status ---------------------------------------------------------------------
const boxName = (t) => (typeof t.name === 'string' ? t.name : '');

function setTarget(name) {
  const switched = name !== currentTarget;
  if (switched) confirmedSticky = {};
  currentTarget = name;
  storeSet('ldTarget', name);
  if (switched) switchLive();
}

function renderTargets() {
  const holder = $('targets');
  holder.replaceChildren();
  for (const t of targetsCache) {
    const name = boxName(t);
    const pill = el('button', 'tpill' + (name === currentTarget ? ' active' : ''));
    pill.type = 'button';
    pill.dataset.box = name;
    pill.setAttribute('aria-pressed', name === currentTarget ? 'true' : 'false');
    pill.setAttribute('data-tip', (t.running === true ? 'Fusion is running here' : 'Fusion is closed here') +
      (present(t.lastReadyAt) && t.lastReadyAt !== '' ? ' - last ready ' + str(t.lastReadyAt) : ''));
    pill.append(el('span', 'dot' + (t.running === true ? ' on' : '')), el('span', null, name));
    pill.addEventListener('click', () => chooseTarget(name));
    holder.append(pill);
  }
}

// A snapshot that finds Fusion up or down on a box recolours that box's pill at once, rather than
// leaving it to contradict the LEDs until the next box list. A bridge that did not answer, or a
// snapshot kept from earlier, says nothing about now.
function syncTargetPill(s) {
  if (s.answered === false || s.stale === true || !isObj(s.leds.fusionRunning) || typeof s.leds.fusionRunning.on !== 'boolean') return;
  const box = targetsCache.find((t) => boxName(t) === s.target);
  if (!box || (box.running === true) === s.leds.fusionRunning.on) return;
  box.running = s.leds.fusionRunning.on;
  renderTargets();
}

function chooseTarget(name) {
  setTarget(name);
  renderTargets();
  syncChanges(shownBox());
  loadTargets();
  refreshStatus();
  toast('switched to ' + name);
}

// The timed refresh takes a listing the server made for another page lately, if there is one.
async function loadTargets(shared) {
  let reply;
  try { reply = await api('api/targets' + (shared ? '?shared=1' : '')); } catch { return; }
  if (!isObj(reply) || !Array.isArray(reply.targets)) return;
  targetsCache = reply.targets.filter(isObj);
  $('seatnote').hidden = targetsCache.length <= 1;
  if (!currentTarget && targetsCache.length) {
    setTarget(boxName(targetsCache.find((t) => t.running === true) || targetsCache[0]));
  }
  renderTargets();
}

async function refreshStatus() {
  const asked = currentTarget;
  const epoch = stickyEpoch;
  try {
    const s = await api(statusUrl());
    evidence.readError = '';
    heard();
    if (!isObj(s) || !isObj(s.leds)) throw new Error(str(isObj(s) && (s.error || s.why)) || 'the reply carries no LEDs');
    // A box switch while this was in flight: the newer request renders instead.
    if (asked !== currentTarget) return;
    syncTargetPill(s);
    // Read after every confirmed setting change: the bridge's own values hold from here on.
    if (epoch === stickyEpoch) confirmedSticky = {};
    applyStatus(s);
  } catch (e) {
    evidence.readError = e.message || 'failed';
    // Without the server the evidence line says so, and a toast every 15 s would only repeat it.
    if (!contactLost()) toast('status failed: ' + e.message, 'err');
    decorateLeds();
  }
}

// A timed refresh is skipped while the previous one is still out, so a slow bridge can't pile them
// up, and while the live channel brings the shown box's state (the server refreshes it for us).
let pollingStatus = false;
async function pollStatus() {
  if (pollingStatus || (sseUp && Date.now() - liveStateAt < LIVE_STATE_MS)) return;
  pollingStatus = true;
  try { await refreshStatus(); } finally { pollingStatus = false; }
}

// The box the page shows: the chosen one, else the one the server reported.
const shownBox = () => currentTarget || (lastStatus && nonEmpty(lastStatus.target)) || '';

// ---- Live channel ---------------------------------------------------------------------------
let liveSource = null;
let liveWhy = 'open';
let liveRetry = 0;

function onEvent(source, name, handler) {
  source.addEventListener(name, (e) => {
    heard();
    let value;
    try { value = JSON.parse(e.data); } catch { return; }
    handler(value);
  });
}

// The channel names the shown box: while it is open the server refreshes that box's status and
// pushes it here. `why` is "open", "switch" (a new box) or "reconnect" (the channel was down).
function openLive(why) {
  const source = new EventSource('events' + (currentTarget ? '?target=' + encodeURIComponent(currentTarget) : ''));
  liveSource = source;
  liveWhy = why;
  onEvent(source, 'hello', () => {
    sseUp = true;
    decorateLeds();
    if (why === 'switch') return;
    console.log('sse connected');
    if (why !== 'reconnect') return;
    // What happened while the channel was down is read again.
    reloadChanges(shownBox());
    refreshStatus();
  });
  onEvent(source, 'logbook', addChange);
  onEvent(source, 'state', (s) => {
    if (!isObj(s) || !isObj(s.leds)) return;
    syncTargetPill(s);
    if (currentTarget && s.target !== currentTarget) return;
    liveStateAt = Date.now();
    applyStatus(s);
  });
  onEvent(source, 'progress', (p) => showProgress(p, currentTarget));
  onEvent(source, 'toast', (t) => {
    if (!isObj(t)) return;
    toast(t.message, t.kind === 'info' ? '' : t.kind);
    driveToast(t.message);
  });
  onEvent(source, 'click', (c) => { if (isObj(c)) remoteClick(c.target); });
  source.onerror = () => {
    if (liveSource !== source) return;
    // The server answered until this moment.
    if (sseUp) heard();
    sseUp = false;
    decorateLeds();
    source.close();
    liveSource = null;
    clearTimeout(liveRetry);
    liveRetry = setTimeout(() => openLive('reconnect'), 3000);
  };
}

// A channel that is down reconnects for the new box by itself; one not yet connected keeps its reason.
function switchLive() {
  liveStateAt = 0;
  if (!liveSource) return;
  const why = sseUp ? 'switch' : liveWhy;
  liveSource.close();
  liveSource = null;
  sseUp = false;
  openLive(why);
}

function remoteClick(name) {
  if (name === 'tour') {
    startTour();
    return;
  }
  const id = typeof name === 'string' ? CLICKS.get(name) : undefined;
  if (id) $(id).click();
  else toast('unknown click target: ' + str(name), 'err');
}

// ---- Dashboard settings and auto-green -------------------------------------------------------
async function loadSettings() {
  try {
    const r = await api('settings');
    if (isObj(r) && isObj(r.settings)) dashSettings = r.settings;
  } catch { /* the page keeps its copy */ }
}

function saveSettings(changes) {
  Object.assign(dashSettings, changes);
  return postJson('settings', changes).catch(() => null);
}

async function autoGreen(force) {
  const url = 'api/auto-green' + (currentTarget ? '?target=' + encodeURIComponent(currentTarget) : '');
  try {
    const r = await postJson(url, { force });
    // A joined run also answers started false, but names its box; only the refusal has none.
    if (!force && isObj(r) && r.started === false && !('target' in r)) console.log('auto-green off by setting');
    // A run that finished moments ago is not repeated; the server says so.
    if (isObj(r) && nonEmpty(r.message)) toast(r.message);
  } catch { /* the LEDs keep telling the state */ }
}

// ---- Telling the user who looked away ---------------------------------------------------------
// While the page is hidden, the shown box leaving all green or its bridge falling silent marks the
// tab (title and icon) until the box is all green again, and, with "Notify me" on, sends one
// notification per change. A drive started here that ends all green is told the same way.
const ALERT_PREFIX = '(!) ';
const PAGE_TITLE = document.title;
const DRIVE_DONE = 'All green - ready to go';
const away = { green: null, answering: null, mark: '', icon: null };
let drive = false;  // a drive to green started from this page is under way

const notifyOn = () => storeGet('ldNotify') === '1';
const notifyAllowed = () => typeof Notification !== 'undefined' && Notification.permission === 'granted';

function notify(message) {
  if (!notifyOn() || !notifyAllowed()) return;
  try { new Notification(message); } catch { /* a browser that offers no page notifications */ }
}

// The icon with a coloured dot, from the served icon (or a plain square when it can't be read).
async function dottedIcon(colour) {
  if (away.icon === null) {
    try { away.icon = await (await fetch('favicon.svg', { cache: 'force-cache' })).text(); } catch { away.icon = ''; }
    if (!away.icon.includes('</svg>')) away.icon = '<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 24 24"><rect x="2" y="2" width="20" height="20" rx="5" fill="#1f6feb"/></svg>';
  }
  const dot = '<circle cx="18" cy="6" r="5.5" fill="' + colour + '" stroke="#0d1117" stroke-width="1.5"/>';
  return 'data:image/svg+xml,' + encodeURIComponent(away.icon.replace('</svg>', dot + '</svg>'));
}

// kind: 'alarm' (red dot), 'done' (green dot) or '' (the page as it was).
async function markTab(kind) {
  away.mark = kind;
  document.title = (kind ? ALERT_PREFIX : '') + PAGE_TITLE;
  const link = document.querySelector('link[rel=icon]');
  const href = kind ? await dottedIcon(kind === 'alarm' ? '#f85149' : '#3fb950') : 'favicon.svg';
  if (away.mark !== kind) return;
  link.setAttribute('href', href);
  link.dataset.mark = kind;
}

function alarm(message) {
  markTab('alarm');
  notify(message);
}

// What changed, for a notification: the first LED that is no longer on.
function leftGreen(s, states) {
  const box = boxLabel(s.target);
  const keys = Array.from($('ledGrid').querySelectorAll('.ledpill')).map((p) => p.dataset.led);
  const at = states.findIndex((st) => st !== 'ok');
  const key = keys[at];
  if (key === 'fusionRunning') return 'Fusion on ' + box + ' stopped - open loomdeck';
  const led = isObj(s.leds) && isObj(s.leds[key]) ? s.leds[key] : {};
  return (nonEmpty(led.label) || knownLabel(str(key))) + ' on ' + box + ' is no longer green - open loomdeck';
}

// Called with every decision about the LEDs. Only what a snapshot or the lost server says counts
// here, never age alone: a hidden page's timers are slowed by the browser.
function watchAway(s, states) {
  const answering = !contactLost() && !bridgeSilent(s);
  const green = answering && states.length > 0 && states.every((st) => st === 'ok');
  if (document.hidden) {
    if (away.answering === true && !answering) {
      alarm(contactLost() ? 'Lost contact with loomdeck - open loomdeck' : boxSubject(s.target) + "'s bridge is not answering - open loomdeck");
    } else if (away.green === true && !green && answering) {
      alarm(leftGreen(s, states));
    }
  }
  if (green && away.mark === 'alarm') markTab('');
  away.green = green;
  away.answering = answering;
}

function driveStarted() { drive = true; }

// The run's closing toast ends a drive started here; all green while hidden is told.
function driveToast(message) {
  if (!drive || typeof message !== 'string' || !(message === DRIVE_DONE || message.startsWith('Ready except: '))) return;
  drive = false;
  if (message !== DRIVE_DONE || !document.hidden) return;
  if (away.mark !== 'alarm') markTab('done');
  notify(DRIVE_DONE);
}

function wireAway() {
  document.addEventListener('visibilitychange', () => {
    if (document.hidden) return;
    if (away.mark === 'done') markTab('');
    // Timers of a hidden page run late: the page reads the box again as it comes back.
    pollStatus();
  });
}

function paintNotify() {
  const on = notifyOn();
  setSwitch($('tglNotify'), on);
  setStat('stNotify', !on ? 'off' : notifyAllowed() ? 'on - one notification per change' : 'on - the browser does not allow notifications yet', on && notifyAllowed());
}

// Turned on, the browser asks for its permission; refused, the switch goes back off.
async function toggleNotify() {
  const on = !isOn($('tglNotify'));
  setSwitch($('tglNotify'), on);
  if (!on) {
    storeSet('ldNotify', '0');
    toast('No notifications - the tab title and icon still show a change', 'ok');
    paintNotify();
    return;
  }
  let permission = 'denied';
  try { if (typeof Notification !== 'undefined') permission = await Notification.requestPermission(); } catch { /* stays denied */ }
  storeSet('ldNotify', permission === 'granted' ? '1' : '0');
  if (permission === 'granted') toast('I will notify you when the shown box needs you while this page is hidden', 'ok');
  else toast('The browser does not allow notifications from this page', 'err');
  paintNotify();
}

// ---- Prompts --------------------------------------------------------------------------------
function renderPrompts() {
  const list = $('prompts');
  list.replaceChildren();
  for (const p of PROMPTS) {
    const row = el('div', 'prompt');
    const copy = el('button', null, 'Copy');
    copy.type = 'button';
    copy.setAttribute('data-tip', 'Copy this prompt so you can paste it to your AI');
    copy.addEventListener('click', () => {
      Promise.resolve().then(() => clipboardCopy(p)).then(
        () => toast('copied', 'ok'),
        (e) => toast('could not copy: ' + consoleText(e), 'err'));
    });
    row.append(el('code', null, p), copy);
    list.append(row);
  }
}

// ---- Setup dialog ---------------------------------------------------------------------------
function pendingSteps() {
  const leds = lastStatus && isObj(lastStatus.leds) ? lastStatus.leds : null;
  if (!leds) return [];
  return SETUP_STEPS.filter(([key]) => isObj(leds[key]) && leds[key].on !== true && leds[key].state !== 'dormant');
}

function renderSetup() {
  const body = $('setupBody');
  body.replaceChildren();
  const steps = pendingSteps();
  if (steps.length) {
    body.append(el('p', null, 'Remaining steps:'));
    steps.forEach(([, , label], i) => body.append(el('div', 'step', (i + 1) + '. ' + label)));
  } else {
    const leds = lastStatus && isObj(lastStatus.leds) ? Object.values(lastStatus.leds) : [];
    const dormant = leds.some((l) => isObj(l) && l.state === 'dormant');
    body.append(el('p', null, dormant
      ? 'Everything is configured - Fusion just is not running on ' + (currentTarget || 'this box') +
        '. Start Fusion (or start it on another box; the Autodesk seat follows automatically).'
      : 'Everything is configured. You are ready to go.'));
  }
  $('btnSetupNext').hidden = !steps.length;
}

async function openSetup() {
  await refreshStatus();
  renderSetup();
  showDialog($('dlgSetup'));
  driveStarted();
  autoGreen(true);
}

async function runNextStep() {
  const step = pendingSteps()[0];
  if (!step) return;
  const [, action, label] = step;
  actionBegins();
  toast('running: ' + label);
  try { reportReply(label, await act(action, {})); } catch (e) { showRefusal(label, e.message); }
  refreshStatus();
  setTimeout(async () => {
    await refreshStatus();
    renderSetup();
  }, 5000);
}

// ---- Settings dialog ------------------------------------------------------------------------
let shownSticky = {};

// Sticky settings the bridge confirmed, laid over every snapshot until a status read that began
// after the change arrives: a snapshot already on its way (a poll, or another page's state event)
// still carries the old value, and reopening the dialog must not show it.
let confirmedSticky = {};
let stickyEpoch = 0;

function confirmSticky(changes) {
  stickyEpoch++;
  Object.assign(confirmedSticky, changes);
  if (lastStatus) lastStatus.settings = Object.assign({}, isObj(lastStatus.settings) ? lastStatus.settings : {}, changes);
}

// The value the bridge reports back for `member`, else the one sent when the reply is a success.
function confirmedValue(reply, member, sent) {
  const d = payload(reply);
  return isObj(d) && typeof d[member] === typeof sent ? d[member] : sent;
}

const isOn = (sw) => sw.classList.contains('is-on');
function setSwitch(sw, on) {
  sw.classList.toggle('is-on', on);
  sw.setAttribute('aria-checked', on ? 'true' : 'false');
}
function setStat(id, value, ok) {
  const s = $(id);
  s.textContent = value;
  s.classList.toggle('ok', ok);
}

function paintAutoGreen() {
  const on = dashSettings.autoGreenOnLaunch !== false;
  setSwitch($('tglAutoGreen'), on);
  setStat('stAutoGreen', on ? 'active - drives every facet to green on open' : 'status only', on);
}

function paintSticky() {
  const update = shownSticky.autoUpdateFusion !== false;
  const seat = shownSticky.autoTakeOverSeat !== false;
  const badge = shownSticky.showDrivingBadge !== false;
  setSwitch($('tglAutoUpdate'), update);
  setSwitch($('tglSeatTakeover'), seat);
  setSwitch($('tglBadge'), badge);
  setStat('stUpkeep', (update ? 'updates on' : 'updates off') + ' | ' + (seat ? 'seat take-over on' : 'seat take-over off'), update && seat);
  setStat('stBadge', badge ? 'badge on while driving' : 'badge off', badge);
  const mode = typeof shownSticky.activityIndicator === 'string' ? shownSticky.activityIndicator : 'progress';
  for (const card of $('segActivity').querySelectorAll('.choice')) {
    const chosen = card.dataset.mode === mode;
    card.classList.toggle('selected', chosen);
    card.querySelector('input').checked = chosen;
  }
  setStat('stActivity', mode === 'none' ? 'no taskbar signal' : mode + ' while a verb runs', mode !== 'none');
}

function paintPart() {
  const part = demoPart();
  $('inpPart').value = part;
  setStat('stPart', lastSegment(part).toUpperCase(), false);
}

async function openSettings() {
  shownSticky = Object.assign({}, lastStatus && isObj(lastStatus.settings) ? lastStatus.settings : {});
  await loadSettings();
  paintAutoGreen();
  paintSticky();
  paintPart();
  paintNotify();
  const dlg = $('dlgSettings');
  showDialog(dlg);
  dlg.focus();
  const body = $('settingsBody');
  body.scrollTop = 0;
  requestAnimationFrame(() => { body.scrollTop = 0; });
}

async function toggleAutoGreen() {
  const on = !isOn($('tglAutoGreen'));
  setSwitch($('tglAutoGreen'), on);
  toast(on ? 'I will get everything ready whenever you open the Dashboard' : 'Status only - I will not act on open', 'ok');
  await saveSettings({ autoGreenOnLaunch: on });
  paintAutoGreen();
  if (on) autoGreen(false);
}

// A refused change puts the switch back: the dialog shows what the bridge holds, never a wish.
async function toggleSticky(id, verb, member, name) {
  const was = shownSticky[member] !== false;
  const on = !isOn($(id));
  setSwitch($(id), on);
  shownSticky[member] = on;
  paintSticky();
  actionBegins();
  try {
    const r = await act(verb, { enabled: on });
    const failed = refusal(r);
    if (failed) throw failed;
    confirmSticky({ [member]: confirmedValue(r, member, on) });
    toast(name + (on ? ' on' : ' off') + ' (sticky)', 'ok');
  } catch (e) {
    shownSticky[member] = was;
    paintSticky();
    toast('could not set ' + name + ': ' + e.message, 'err');
    showRefusal('Setting ' + name, e.message, e.hint);
  }
}

async function chooseActivity(mode) {
  const was = shownSticky.activityIndicator;
  shownSticky.activityIndicator = mode;
  paintSticky();
  actionBegins();
  try {
    const r = await act('set_activity_indicator', { mode });
    const failed = refusal(r);
    if (failed) throw failed;
    confirmSticky({ activityIndicator: confirmedValue(r, 'activityIndicator', mode) });
    toast('activity indicator: ' + mode, 'ok');
  } catch (e) {
    shownSticky.activityIndicator = was;
    paintSticky();
    toast('could not set indicator: ' + e.message, 'err');
    showRefusal('Setting the activity indicator', e.message, e.hint);
  }
}

// The surface requests name no part, so the server must hold the new one before a button is live.
async function changePart() {
  const value = $('inpPart').value.trim();
  if (!value) return;
  await saveSettings({ demoPart: value });
  renderSurfaces();
  paintPart();
  toast('Surfaces demo part set to ' + value, 'ok');
}

let resetArmed = false;
let resetTimer = 0;
function disarmReset() {
  resetArmed = false;
  clearTimeout(resetTimer);
  const b = $('btnRestoreDefaults');
  b.classList.remove('armed');
  b.textContent = 'Restore defaults';
}

async function restoreDefaults() {
  const b = $('btnRestoreDefaults');
  if (!resetArmed) {
    resetArmed = true;
    b.classList.add('armed');
    b.textContent = 'Confirm reset';
    resetTimer = setTimeout(disarmReset, 4000);
    return;
  }
  disarmReset();
  actionBegins();
  storeSet('ldNotify', '0');
  try {
    const saved = { autoGreenOnLaunch: true, demoPart: DEFAULT_PART };
    const reply = await postJson('settings', saved);
    if (!isObj(reply) || reply.ok !== true) throw new Error(replyError(reply) || 'the settings were not saved');
    Object.assign(dashSettings, saved);
    for (const [verb, args, member] of [
      ['set_auto_update', { enabled: true }, 'autoUpdateFusion'],
      ['set_seat_takeover', { enabled: true }, 'autoTakeOverSeat'],
      ['set_driving_badge', { enabled: true }, 'showDrivingBadge'],
      ['set_activity_indicator', { mode: 'progress' }, 'activityIndicator'],
    ]) {
      const r = await act(verb, args);
      const failed = refusal(r);
      if (failed) throw failed;
      confirmSticky({ [member]: confirmedValue(r, member, STICKY_DEFAULTS[member]) });
    }
    toast('Settings restored to defaults', 'ok');
    renderSurfaces();
  } catch (e) {
    toast('could not restore defaults: ' + e.message, 'err');
    showRefusal('Restoring the defaults', e.message, e.hint);
  }
  // Repainted either way: after a partial failure the dialog shows what did change.
  await openSettings();
}

// Closes on a click on the backdrop, which reaches the dialog element itself from outside its box.
function closeOnBackdrop(dlg) {
  dlg.addEventListener('click', (e) => {
    if (e.target !== dlg) return;
    const r = dlg.getBoundingClientRect();
    if (e.clientX < r.left || e.clientX > r.right || e.clientY < r.top || e.clientY > r.bottom) dlg.close();
  });
}

// ---- Surfaces -------------------------------------------------------------------------------
function renderSurfaces() {
  const part = demoPart();
  const name = lastSegment(part).toUpperCase();
  const note = $('surfnote');
  const link = el('a', null, wikiUrl(part));
  link.href = wikiUrl(part);
  link.target = '_blank';
  link.rel = 'noopener noreferrer';
  note.replaceChildren('The same part on every surface: ', name, ' from ', link,
    '. The first click stages it (clone the page, send the .lbr + .step, bind the real 3D, generate a solo project); after that each button just switches surfaces. All background - rendered here with fusion_state.');
  const grid = $('surfaces');
  grid.replaceChildren();
  for (const [key, label] of SURFACES) {
    const card = el('div', 'card surface');
    const btn = el('button', 'sbtn', label);
    btn.type = 'button';
    btn.dataset.surface = key;
    btn.setAttribute('data-tip', 'Open the ' + label.toLowerCase() + ' surface for ' + name + ' in the background, then render it here');
    btn.addEventListener('click', () => openSurface(btn, key, label));
    const state = el('div', 'sstate', 'not run yet');
    state.id = 'ss-' + key;
    const img = el('img');
    img.id = 'si-' + key;
    img.alt = label + ' surface of ' + name;
    img.hidden = true;
    img.addEventListener('click', () => { if (img.dataset.src) openImage(img.dataset.src); });
    card.append(btn, state, img);
    grid.append(card);
  }
}

async function openSurface(btn, key, label) {
  const state = $('ss-' + key);
  const img = $('si-' + key);
  state.className = 'sstate';
  state.textContent = 'opening…';
  btn.disabled = true;
  actionBegins();
  const body = { surface: key };
  if (currentTarget) body.target = currentTarget;
  try {
    const r = await postJson('api/surface', body);
    if (isObj(r) && r.ok === true) {
      state.classList.add('ok');
      state.textContent = 'shown on ' + (nonEmpty(r.deviceset) || 'the part');
      const src = imageSrc(r.image);
      if (src && img.isConnected) {
        img.src = src;
        img.dataset.src = src;
        img.hidden = false;
      }
      toast((str(r.label) || label) + ' surface opened', 'ok');
    } else {
      const err = (isObj(r) && str(r.error)) || 'failed';
      state.classList.add('err');
      state.textContent = err;
      toast(((isObj(r) && str(r.label)) || key) + ': ' + err, 'err');
      showRefusal('The ' + label.toLowerCase() + ' surface', err, replyHint(r));
    }
  } catch (e) {
    state.classList.add('err');
    state.textContent = e.message;
    showRefusal('The ' + label.toLowerCase() + ' surface', e.message);
  } finally {
    btn.disabled = false;
  }
}

// ---- Part import ----------------------------------------------------------------------------
// The server answers an import whose bridge calls failed with the bridge's own answers in
// `sent` (copying the library to the box) and `opened` (opening it in Fusion): either one
// carrying an error, an error code or success false means the library is not open.
function bridgeStepError(step) {
  if (!isObj(step)) return '';
  const d = payload(step);
  for (const o of [d, step]) {
    if (!isObj(o)) continue;
    if (present(o.error) && o.error !== '') return str(o.error);
    if (present(o.errorCode) && o.errorCode !== '') return str(o.errorCode);
  }
  return step.success === false || step.ok === false || (isObj(d) && d.success === false) ? 'the bridge reported no success' : '';
}

async function importPart() {
  const page = $('partPage').value.trim();
  actionBegins();
  toast('importing ' + page + ' from the wiki into Fusion');
  try {
    const r = await act('import_basic_part', { page });
    const d = payload(r);
    const err = (isObj(d) && d.error) || (isObj(r) && r.error) ||
      (isObj(d) && (bridgeStepError(d.sent) || bridgeStepError(d.opened)));
    if (err) {
      toast('import failed: ' + str(err), 'err');
      showRefusal('Importing ' + page, err, replyHint(r) || (isObj(d) && (replyHint(d.opened) || replyHint(d.sent))));
    } else {
      toast('library opened in Fusion (background)', 'ok');
    }
  } catch (e) {
    toast('import failed: ' + e.message, 'err');
    showRefusal('Importing ' + page, e.message);
  }
}

// ---- Wiring and start-up --------------------------------------------------------------------
function wireControls() {
  $('btnSettings').addEventListener('click', () => openSettings());
  $('btnRefresh').addEventListener('click', () => {
    toast('refreshing status');
    refreshStatus();
  });
  $('btnSetup').addEventListener('click', openSetup);
  $('btnStart').addEventListener('click', async () => {
    actionBegins();
    closedBoxes.delete(shownBox());
    toast('starting Fusion in the background');
    try { reportReply('Start Fusion', await act('start')); } catch (e) { showRefusal('Start Fusion', e.message); }
    refreshStatus();
    setTimeout(refreshStatus, 4000);
  });
  $('btnStop').addEventListener('click', async () => {
    actionBegins();
    const box = shownBox();
    toast('closing Fusion');
    try {
      const r = await act('stop');
      const d = payload(r);
      if (reportReply('Close Fusion', r)) closedBoxes.set(box, false);
      else if (isObj(d) && Array.isArray(d.openDocuments) && d.openDocuments.length) closeDocuments = { box, names: d.openDocuments.map(str) };
    } catch (e) {
      showRefusal('Close Fusion', e.message);
    }
    decorateLeds();
    refreshStatus();
    setTimeout(refreshStatus, 4000);
  });
  $('btnImportPart').addEventListener('click', importPart);
  $('btnSetupNext').addEventListener('click', runNextStep);
  $('btnCloseSetup').addEventListener('click', () => $('dlgSetup').close());
  $('btnXSettings').addEventListener('click', () => $('dlgSettings').close());
  $('btnCloseSettings').addEventListener('click', () => $('dlgSettings').close());
  $('btnRestoreDefaults').addEventListener('click', restoreDefaults);
  $('tglAutoGreen').addEventListener('click', toggleAutoGreen);
  $('tglAutoUpdate').addEventListener('click', () => toggleSticky('tglAutoUpdate', 'set_auto_update', 'autoUpdateFusion', 'auto-update'));
  $('tglSeatTakeover').addEventListener('click', () => toggleSticky('tglSeatTakeover', 'set_seat_takeover', 'autoTakeOverSeat', 'seat take-over'));
  $('tglBadge').addEventListener('click', () => toggleSticky('tglBadge', 'set_driving_badge', 'showDrivingBadge', 'driving badge'));
  $('segActivity').addEventListener('change', (e) => {
    if (e.target instanceof HTMLInputElement && e.target.checked) chooseActivity(e.target.value);
  });
  $('inpPart').addEventListener('change', changePart);
  $('tglNotify').addEventListener('click', toggleNotify);
  wireActionNote();
  wireAway();
  closeOnBackdrop($('dlgSettings'));
  closeOnBackdrop($('dlgSetup'));
  wireTour(act);
  wireAbout(() => ({ status: lastStatus, bridgeVersion: lastBridgeVersion }));
}

async function startUp(runAutoGreen) {
  await loadSettings();
  renderSurfaces();
  await loadTargets();
  await refreshStatus();
  if (runAutoGreen) autoGreen(false);
}

currentTarget = storeGet('ldTarget') || '';

// Live from here on: the event stream, the first reads and the regular polls.
function goLive(runAutoGreen) {
  openLive('open');
  startUp(runAutoGreen);
  setInterval(pollStatus, STATUS_EVERY_MS);
  setInterval(() => loadTargets(true), TARGETS_EVERY_MS);
  setInterval(renderChanges, CHANGE_AGES_EVERY_MS);
  setInterval(renderAge, AGE_EVERY_MS);
  setInterval(decorateLeds, EVIDENCE_TICK_MS);
  // A page coming back from a background tab, whose timers were held back, shows the age at once.
  document.addEventListener('visibilitychange', renderAge);
}

// Reached from another site (a link, window.open): nothing is read from or sent to a box until
// the user presses something here, and the drive to green never starts by itself.
function awaitTheUser() {
  $('entranceLine').hidden = false;
  const onPress = (e) => {
    if (!e.isTrusted || !(e.target instanceof Element) || !e.target.closest('button, input, select, a')) return;
    document.removeEventListener('click', onPress, true);
    $('entranceLine').hidden = true;
    goLive(false);
  };
  document.addEventListener('click', onPress, true);
}

// A page opened as a remote control of another page only relays; every other page goes live.
const remoteId = new URLSearchParams(location.search).get('remote');
if (remoteId && !FOREIGN_ENTRANCE) {
  const run = () => startRemote(remoteId, act);
  if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', run);
  else run();
} else {
  renderSkeleton();
  renderPrompts();
  wireControls();
  if (FOREIGN_ENTRANCE) awaitTheUser();
  else goLive(true);
}
