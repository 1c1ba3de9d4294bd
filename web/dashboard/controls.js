// The controls: the buttons and switches wired to their actions, and the prompts to copy.

import { $, el } from '../kit/dom.js';
import { payload } from '../kit/reply.js';
import { toast } from '../kit/toast.js';
import { isObj, str } from '../kit/values.js';
import { wireAbout } from './about.js';
import { wireAway } from './away.js';
import { consoleText } from './console.js';
import { actionBegins, askToClose, closedBoxes, reportReply, showRefusal, wireActionNote } from './notes.js';
import { closeOnBackdrop } from './overlay.js';
import { changePart, chooseActivity, openSettings, restoreDefaults, toggleAutoGreen, toggleNotify, toggleSticky } from './settings.js';
import { openSetup, runNextStep } from './setup.js';
import { act, dash, shownBox } from './state.js';
import { decorateLeds, pollStatus, refreshStatus } from './status.js';
import { importPart } from './surfaces.js';
import { wireTour } from './tour.js';

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

function clipboardCopy(value) {
  const panel = window.OvraNewbiePanel;
  if (panel && typeof panel.copyText === 'function') return panel.copyText(value);
  return navigator.clipboard.writeText(value);
}

export function renderPrompts() {
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

export function wireControls() {
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
      else if (isObj(d) && Array.isArray(d.openDocuments) && d.openDocuments.length) askToClose(box, d.openDocuments.map(str));
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
  wireAway(pollStatus);
  closeOnBackdrop($('dlgSettings'));
  closeOnBackdrop($('dlgSetup'));
  wireTour(act);
  wireAbout(() => ({ status: dash.lastStatus, bridgeVersion: dash.lastBridgeVersion }));
}
