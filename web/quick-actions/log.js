// The verb log: every command sent to the listener, newest first, with its count.

import { $, h } from '../kit/dom.js';

const LOG_KEEP = 1000;
export let callCount = 0;

export function setCallCount(n) {
  callCount = n;
  $('logCount').textContent = n + (n === 1 ? ' call' : ' calls');
}

export function addLog(line, hint) {
  const log = $('log');
  if (hint) log.prepend(h('div', { class: 'line hint', text: '   hint: ' + hint.slice(0, 200) }));
  log.prepend(line);
  // Long imports tick the live feed every 1.5 s; the oldest lines go so the page stays light.
  while (log.childElementCount > LOG_KEEP) log.lastElementChild.remove();
  setCallCount(callCount + 1);
}

export function logCall(command, preview, ok, ms, summary, hint) {
  addLog(h('div', { class: 'line' },
    h('span', { class: 't', text: new Date().toLocaleTimeString() }),
    h('span', { class: 'acc', text: command }),
    h('span', { text: preview.slice(0, 220) }),
    h('span', { class: ok ? 'ok' : 'err', text: ok ? 'ok' : 'FAIL' }),
    h('span', { class: 't', text: ms + 'ms' }),
    h('span', { text: summary })), hint);
}
