// Keyboard shortcuts (listed in the help dialog): r reads the status again, s opens the settings,
// m the messages so far, ? this list, 1-9 show a box. Never while typing or with a dialog open.

import { $ } from '../kit/dom.js';
import { openHistory } from './history.js';
import { closeOnBackdrop, showDialog } from './overlay.js';
import { openSettings } from './settings.js';
import { refreshStatus } from './status.js';

export function openHelp() {
  const dlg = $('dlgHelp');
  showDialog(dlg);
  dlg.focus();
}

const ACTIONS = {
  r: () => refreshStatus(),
  s: () => openSettings(),
  m: () => openHistory(),
  '?': () => openHelp(),
};

function onKey(e) {
  if (e.defaultPrevented || e.ctrlKey || e.metaKey || e.altKey || e.isComposing) return;
  const at = e.target instanceof Element ? e.target : null;
  if (at && at.closest('input, textarea, select, [contenteditable=""], [contenteditable="true"]')) return;
  if (document.querySelector('dialog[open]')) return;
  let run = ACTIONS[e.key];
  if (!run && /^[1-9]$/.test(e.key)) {
    const pill = document.querySelectorAll('#targets .tpill')[Number(e.key) - 1];
    if (pill) run = () => pill.click();
  }
  if (!run) return;
  e.preventDefault();
  run();
}

export function wireKeys() {
  document.addEventListener('keydown', onKey);
  $('btnHelp').addEventListener('click', openHelp);
  $('btnXHelp').addEventListener('click', () => $('dlgHelp').close());
  closeOnBackdrop($('dlgHelp'));
}
