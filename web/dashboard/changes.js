// Recent changes: the shown box's newest logbook entries, loaded when the box changes and kept up
// by the live channel, each with its age, in the LEDs' labels and people's words. First sightings
// (an LED seen for the first time) stay folded away unless asked for; older entries page in from
// what the server keeps.

import { api } from '../kit/api.js';
import { $, el } from '../kit/dom.js';
import { isObj, nonEmpty, present, str } from '../kit/values.js';
import { ago } from './ages.js';
import { changeColour, knownLabel } from './leds.js';
import { stateWord } from './plain.js';

const FIRST_PAGE = 10;
const PAGE = 50;
const SERVER_KEEPS = 2000;

let wanted = FIRST_PAGE;  // how many of the newest entries the list holds
let more = false;         // whether the server may keep older ones
let firstSightings = false;

let changes = [];        // the shown box's newest entries, oldest first
let changesFor = null;   // the box they belong to
let changesAsked = 0;    // so an older reply never overwrites a newer box's list

const changeKey = (e) => [e.at, e.led, e.from, e.to].map(str).join('|');

export function renderChanges() {
  const list = $('changeList');
  list.replaceChildren();
  const now = Date.now();
  const shown = changes.slice(-wanted).filter((e) => firstSightings || present(e.from));
  for (const e of shown.reverse()) {
    const li = el('li');
    li.dataset.led = str(e.led);
    const when = el('time', 'when', ago(e.at, now));
    when.dateTime = str(e.at);
    // The exact time on hover, focus or a tap; the bridge's hint is for agents, who read the logbook route.
    const at = Date.parse(str(e.at));
    if (Number.isFinite(at)) li.setAttribute('data-tip', new Date(at).toLocaleString());
    const to = el('span', 'st', stateWord(e.to));
    to.dataset.state = changeColour(e.to);
    li.append(when, el('span', 'lbl', knownLabel(str(e.led)) === str(e.led) ? nonEmpty(e.label) || str(e.led) : knownLabel(str(e.led))));
    if (present(e.from)) {
      const from = el('span', 'st', stateWord(e.from));
      from.dataset.state = changeColour(e.from);
      li.append(from, el('span', 'arrow', '->'), to);
    } else {
      li.append(el('span', 'st', 'first seen'), to);
    }
    list.append(li);
  }
  if (!shown.length && changes.length) list.append(el('li', 'note', 'Only first sightings so far.'));
  $('changes').hidden = changes.length === 0;
  $('btnOlder').hidden = !more;
  $('btnFirstSeen').setAttribute('aria-pressed', firstSightings ? 'true' : 'false');
  $('btnFirstSeen').textContent = firstSightings ? 'Hide first sightings' : 'Show first sightings';
}

export function addChange(e) {
  if (!isObj(e) || e.box !== changesFor) return;
  const key = changeKey(e);
  if (changes.some((c) => changeKey(c) === key)) return;
  changes.push(e);
  if (changes.length > wanted) changes = changes.slice(-wanted);
  renderChanges();
}

async function loadChanges(box) {
  if (box !== changesFor) {
    changesFor = box;
    changes = [];
    wanted = FIRST_PAGE;
    more = false;
    renderChanges();
  }
  if (!box) return;
  const asked = ++changesAsked;
  let reply;
  try { reply = await api('api/logbook?target=' + encodeURIComponent(box) + '&limit=' + wanted); } catch { return; }
  if (asked !== changesAsked || !isObj(reply) || !Array.isArray(reply.entries)) return;
  const live = changes;
  changes = reply.entries.filter((e) => isObj(e) && e.box === box);
  more = reply.entries.length >= wanted && wanted < SERVER_KEEPS;
  for (const e of live) addChange(e);
  renderChanges();
}

// Fills the list when the page opens or the shown box changes.
export function syncChanges(box) {
  if (box !== changesFor) loadChanges(box);
}

export function wireChanges() {
  $('btnFirstSeen').addEventListener('click', () => {
    firstSightings = !firstSightings;
    renderChanges();
  });
  $('btnOlder').addEventListener('click', () => {
    wanted = Math.min(SERVER_KEEPS, wanted + PAGE);
    reloadChanges(changesFor);
  });
}

// Loads the list again (the live channel is back and may have missed entries).
export function reloadChanges(box) {
  if (changesFor) loadChanges(box);
}

