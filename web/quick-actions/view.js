// The page's small view helpers: a bold run of text, a card's status line, a card's key/value rows.

import { h } from '../kit/dom.js';
import { str } from '../kit/values.js';

export const b = (text) => h('b', { text });

export function setStatus(el, text, kind) {
  el.textContent = text;
  el.className = 'st' + (kind ? ' ' + kind : '');
}

export function renderKv(el, rows) {
  el.replaceChildren();
  for (const row of rows) {
    if (!row) continue;
    el.append(h('dt', { text: row[0] }), h('dd', { class: row[2] }, row[1] instanceof Node ? row[1] : (str(row[1]) || '-')));
  }
}
