// The status read and the LEDs: the pills and their detail, the header, the age line, and the
// LEDs as shown for the evidence, the user's step and a deliberate close.

import { api } from '../kit/api.js';
import { $, el } from '../kit/dom.js';
import { announce } from '../kit/announce.js';
import { appendMarkup } from '../kit/markup.js';
import { toast } from '../kit/toast.js';
import { isObj, nonEmpty, present, str } from '../kit/values.js';
import { ago } from './ages.js';
import { watchAway } from './away.js';
import { syncChanges } from './changes.js';
import { contactLost, evidence, heard, judge, noteSnapshot } from './evidence.js';
import { displayState, knownLabel, LED_ORDER, ledWord, STATE_NAMES } from './leds.js';
import { closedBoxes, paintNotes } from './notes.js';
import { plainSentence } from './plain.js';
import { dash, shownBox } from './state.js';
import { syncTargetPill } from './target-pills.js';

// While the live channel brings a state of the shown box this often, the page need not poll.
const LIVE_STATE_MS = 20000;
// LEDs older than this say how old they are.
const AGE_SHOWN_AFTER_MS = 30000;

let selectedLed = null;
let statusAt = 0;     // when the shown LEDs were verified

const statusUrl = () => 'api/status' + (dash.currentTarget ? '?target=' + encodeURIComponent(dash.currentTarget) : '');

// A pill's state in words: its visible word, else (a lit LED shows none) one only a screen reader reads.
function nameThePill(pill) {
  const word = pill.querySelector('.word');
  let quiet = pill.querySelector('.sr-only');
  if (word) {
    if (quiet) quiet.remove();
    return;
  }
  if (!quiet) pill.append(quiet = el('span', 'sr-only'));
  quiet.textContent = ' ' + (STATE_NAMES[pill.dataset.state] || pill.dataset.state);
}

const pillName = (pill) => pill.querySelector('.lbl').textContent + ' ' + (pill.querySelector('.word, .sr-only')?.textContent.trim() ?? '');

function ledPill(key, label, state, word) {
  const pill = el('button', 'ledpill');
  pill.type = 'button';
  pill.dataset.led = key;
  pill.dataset.state = state;
  pill.append(el('span', 'dot'), el('span', 'lbl', label));
  if (word) pill.append(el('span', 'word', word));
  nameThePill(pill);
  return pill;
}

export function renderSkeleton() {
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
    const pill = ledPill(key, nonEmpty(led.label) || knownLabel(key), displayState(led), ledWord(led, key));
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
  const leds = dash.lastStatus && isObj(dash.lastStatus.leds) ? dash.lastStatus.leds : {};
  if (selectedLed === null || !Object.prototype.hasOwnProperty.call(leds, selectedLed)) {
    panel.hidden = true;
    panel.replaceChildren();
    return;
  }
  const led = isObj(leds[selectedLed]) ? leds[selectedLed] : {};
  const top = el('div', 'dtop');
  top.append(el('strong', null, nonEmpty(led.label) || knownLabel(selectedLed)));
  if (present(led.version) && led.version !== '') top.append(el('span', 'ver', str(led.version)));
  panel.replaceChildren(top, el('p', 'plain', plainSentence(selectedLed, led, Date.now())));
  if (present(led.who) && led.who !== '') panel.append(el('div', 'who', 'signed in as ' + str(led.who)));
  // The bridge's own words stay as they are: an AI reads them to know what to call.
  if (nonEmpty(led._hint)) {
    const forAi = el('div', 'forai');
    const hint = el('div', 'hint');
    appendMarkup(hint, led._hint);
    forAi.append(el('span', 'fortag', 'For your AI'), hint);
    panel.append(forAi);
  }
  panel.hidden = false;
}

function renderHeader(s) {
  const target = str(s.target);
  $('tname').textContent = target ? 'target: ' + target : 'no bridge target';
  const leds = isObj(s.leds) ? s.leds : {};
  const bridge = nonEmpty(s.bridgeVersion);
  if (bridge) dash.lastBridgeVersion = bridge;
  $('bpDash').textContent = nonEmpty(s.dashboardVersion) || '-';
  $('bpBridge').textContent = bridge || dash.lastBridgeVersion || '-';
  $('bpAddin').textContent = (isObj(leds.addinReady) && nonEmpty(leds.addinReady.version)) || '-';
  $('meta').textContent = s.stale === true ? '(busy - last verified state)' : '';
}

export function applyStatus(s) {
  // A snapshot that shows every confirmed setting ends the overlay: the bridge's values hold from here on.
  if (isObj(s.settings) && Object.keys(dash.confirmedSticky).every((k) => s.settings[k] === dash.confirmedSticky[k])) dash.confirmedSticky = {};
  if (Object.keys(dash.confirmedSticky).length) s.settings = Object.assign({}, isObj(s.settings) ? s.settings : {}, dash.confirmedSticky);
  dash.lastStatus = s;
  statusAt = Date.now() - (s.stale === true && typeof s.lastVerifiedAgeSec === 'number' ? s.lastVerifiedAgeSec * 1000 : 0);
  noteSnapshot(s);
  renderLeds(s);
  renderHeader(s);
  renderAge();
  decorateLeds();
  syncChanges(shownBox());
}

// LEDs that are no longer fresh say how old they are, so a page whose channel broke does not look live.
export function renderAge() {
  const node = $('ledAge');
  const now = Date.now();
  node.hidden = !statusAt || now - statusAt <= AGE_SHOWN_AFTER_MS;
  node.textContent = node.hidden ? '' : 'as of ' + ago(new Date(statusAt).toISOString(), now);
}

const WAS_WORDS = { ok: 'was on', bad: 'was off' };

function setPill(pill, state, word) {
  pill.dataset.state = state;
  let span = pill.querySelector('.word');
  if (word && !span) pill.append(span = el('span', 'word'));
  if (span) {
    if (word) span.textContent = word;
    else span.remove();
  }
  nameThePill(pill);
}

// The last state each LED of the shown box was announced in; a change is read out, the first sight is not.
const heardStates = new Map();
let heardFor = null;

function announceChanges(box, pills) {
  if (heardFor !== box) {
    heardFor = box;
    heardStates.clear();
  }
  const said = [];
  for (const pill of pills) {
    const name = pillName(pill);
    const before = heardStates.get(pill.dataset.led);
    if (before !== undefined && before !== name) said.push(name);
    heardStates.set(pill.dataset.led, name);
  }
  if (said.length) announce(said.join(', '));
}

// Redraws the pills from what renderLeds drew (kept in data-base), the header chip and the
// lines, for the evidence of this moment; runs after each snapshot and every second.
export function decorateLeds() {
  const verdict = judge();
  const s = dash.lastStatus;
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
    if (wall && key === 'signedIn' && state !== 'ok') [state, word] = ['busy', 'waiting for you'];
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
  // Evidence lost is said once by the evidence line (a status region), not LED by LED.
  if (verdict && verdict.known) announceChanges(box, $('ledGrid').querySelectorAll('.ledpill'));
  paintNotes();
  if (verdict && s) watchAway(s, states);
}

export async function refreshStatus() {
  const asked = dash.currentTarget;
  const epoch = dash.stickyEpoch;
  try {
    const s = await api(statusUrl());
    evidence.readError = '';
    heard();
    if (!isObj(s) || !isObj(s.leds)) throw new Error(str(isObj(s) && (s.error || s.why)) || 'the reply carries no LEDs');
    // A box switch while this was in flight: the newer request renders instead.
    if (asked !== dash.currentTarget) return;
    syncTargetPill(s);
    // Read after every confirmed setting change: the bridge's own values hold from here on.
    if (epoch === dash.stickyEpoch) dash.confirmedSticky = {};
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
export async function pollStatus() {
  if (pollingStatus || (dash.sseUp && Date.now() - dash.liveStateAt < LIVE_STATE_MS)) return;
  pollingStatus = true;
  try { await refreshStatus(); } finally { pollingStatus = false; }
}

