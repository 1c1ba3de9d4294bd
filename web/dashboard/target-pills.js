// The box list: one pill per box, coloured by whether Fusion runs there.

import { $, el } from '../kit/dom.js';
import { isObj, present, str } from '../kit/values.js';
import { dash } from './state.js';

export const boxName = (t) => (typeof t.name === 'string' ? t.name : '');

// Each pill names its box in data-box; a click on one is read where the list is wired.
export function renderTargets() {
  const holder = $('targets');
  holder.replaceChildren();
  for (const t of dash.targetsCache) {
    const name = boxName(t);
    const pill = el('button', 'tpill' + (name === dash.currentTarget ? ' active' : ''));
    pill.type = 'button';
    pill.dataset.box = name;
    pill.setAttribute('aria-pressed', name === dash.currentTarget ? 'true' : 'false');
    pill.setAttribute('data-tip', (t.running === true ? 'Fusion is running here' : 'Fusion is closed here') +
      (present(t.lastReadyAt) && t.lastReadyAt !== '' ? ' - last ready ' + str(t.lastReadyAt) : ''));
    pill.append(el('span', 'dot' + (t.running === true ? ' on' : '')), el('span', null, name));
    holder.append(pill);
  }
}

// A snapshot that finds Fusion up or down on a box recolours that box's pill at once, rather than
// leaving it to contradict the LEDs until the next box list. A bridge that did not answer, or a
// snapshot kept from earlier, says nothing about now.
export function syncTargetPill(s) {
  if (s.answered === false || s.stale === true || !isObj(s.leds.fusionRunning) || typeof s.leds.fusionRunning.on !== 'boolean') return;
  const box = dash.targetsCache.find((t) => boxName(t) === s.target);
  if (!box || (box.running === true) === s.leds.fusionRunning.on) return;
  box.running = s.leds.fusionRunning.on;
  renderTargets();
}
