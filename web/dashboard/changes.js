// Recent changes: the shown box's newest logbook entries, loaded when the box changes and kept up
// by the live channel, each with its age.

import { api } from '../kit/api.js';
import { $, el } from '../kit/dom.js';
import { isObj, nonEmpty, present, str } from '../kit/values.js';
import { ago } from './ages.js';
import { changeColour, knownLabel } from './leds.js';

const CHANGES_SHOWN = 10;

let changes = [];        // the shown box's newest entries, oldest first
let changesFor = null;   // the box they belong to
let changesAsked = 0;    // so an older reply never overwrites a newer box's list

const changeKey = (e) => [e.at, e.led, e.from, e.to].map(str).join('|');

export function renderChanges() {
  const list = $('changeList');
  list.replaceChildren();
  const now = Date.now();
  for (const e of changes.slice(-CHANGES_SHOWN).reverse()) {
    const li = el('li');
    li.dataset.led = str(e.led);
    const tipText = nonEmpty(e.hint) || str(e.at);
    if (tipText) li.setAttribute('data-tip', tipText);
    const from = el('span', 'st', present(e.from) ? str(e.from) : 'new');
    from.dataset.state = changeColour(e.from);
    const to = el('span', 'st', str(e.to));
    to.dataset.state = changeColour(e.to);
    li.append(el('span', 'when', ago(e.at, now)), el('span', 'lbl', nonEmpty(e.label) || knownLabel(str(e.led))),
      from, el('span', 'arrow', '->'), to);
    list.append(li);
  }
  $('changes').hidden = changes.length === 0;
}

export function addChange(e) {
  if (!isObj(e) || e.box !== changesFor) return;
  const key = changeKey(e);
  if (changes.some((c) => changeKey(c) === key)) return;
  changes.push(e);
  if (changes.length > CHANGES_SHOWN) changes = changes.slice(-CHANGES_SHOWN);
  renderChanges();
}

async function loadChanges(box) {
  if (box !== changesFor) {
    changesFor = box;
    changes = [];
    renderChanges();
  }
  if (!box) return;
  const asked = ++changesAsked;
  let reply;
  try { reply = await api('api/logbook?target=' + encodeURIComponent(box) + '&limit=' + CHANGES_SHOWN); } catch { return; }
  if (asked !== changesAsked || !isObj(reply) || !Array.isArray(reply.entries)) return;
  const live = changes;
  changes = reply.entries.filter((e) => isObj(e) && e.box === box);
  for (const e of live) addChange(e);
  renderChanges();
}

// Fills the list when the page opens or the shown box changes.
export function syncChanges(box) {
  if (box !== changesFor) loadChanges(box);
}

// Loads the list again (the live channel is back and may have missed entries).
export function reloadChanges(box) {
  if (changesFor) loadChanges(box);
}

