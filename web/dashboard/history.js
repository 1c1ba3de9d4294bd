// The messages so far: every toast this page showed (its own and the panel's), newest first,
// with the time it showed, in a dialog opened from the header.

import { $, el } from '../kit/dom.js';
import { toastHistory, watchToasts } from '../kit/toast.js';
import { ago } from './ages.js';
import { closeOnBackdrop, showDialog } from './overlay.js';

const clock = (ms) => new Date(ms).toLocaleTimeString([], { hour: '2-digit', minute: '2-digit', second: '2-digit' });

function renderHistory() {
  const list = $('historyList');
  const now = Date.now();
  const items = toastHistory().map((m) => {
    const li = el('li', m.kind === 'err' ? 'err' : m.kind === 'ok' ? 'ok' : '');
    const when = el('time', 'when', clock(m.at));
    when.dateTime = new Date(m.at).toISOString();
    when.title = ago(new Date(m.at).toISOString(), now);
    li.append(when, el('span', 'msg', m.text));
    return li;
  });
  list.replaceChildren(...items);
  $('historyNone').hidden = items.length > 0;
}

export function openHistory() {
  renderHistory();
  const dlg = $('dlgHistory');
  showDialog(dlg);
  dlg.focus();
}

export function wireHistory() {
  $('btnHistory').addEventListener('click', openHistory);
  $('btnXHistory').addEventListener('click', () => $('dlgHistory').close());
  closeOnBackdrop($('dlgHistory'));
  // An open list keeps up with what arrives meanwhile.
  watchToasts(() => { if ($('dlgHistory').open) renderHistory(); });
}
