// The dashboard: the shown box's LEDs and the evidence behind them, controls and settings, the
// live channel, recent changes, surfaces, the tour, and the agent's handle (window.__dash).

import { $, storeGet } from '../kit/dom.js';
import { wireTooltips } from '../kit/tooltip.js';
import { renderChanges, wireChanges } from './changes.js';
import { captureConsole, consoleBuffer } from './console.js';
import { renderPrompts, wireControls } from './controls.js';
import { judge } from './evidence.js';
import { wireHistory } from './history.js';
import { wireKeys } from './keys.js';
import { openLive } from './live.js';
import { wireToasts } from './overlay.js';
import { startRemote } from './remote.js';
import { autoGreen, loadSettings } from './settings.js';
import { act, clone, dash } from './state.js';
import { decorateLeds, pollStatus, refreshStatus, renderAge, renderSkeleton } from './status.js';
import { renderSurfaces } from './surfaces.js';
import { loadTargets, wireTargets } from './targets.js';

const STATUS_EVERY_MS = 15000;
// The server marks a page that another site opened (a link, a frame, window.open).
const FOREIGN_ENTRANCE = document.querySelector('meta[name="loomdeck-entrance"]')?.content === 'foreign';
const AGE_EVERY_MS = 5000;
const TARGETS_EVERY_MS = 60000;
const CHANGE_AGES_EVERY_MS = 30000;
const EVIDENCE_TICK_MS = 1000;

captureConsole();

// Agents read the page's real state here instead of scraping the markup.
Object.defineProperty(window, '__dash', {
  value: Object.freeze({
    get sseUp() { return dash.sseUp; },
    get status() { return clone(dash.lastStatus); },
    get target() { return dash.currentTarget; },
    get settings() { return clone(dash.dashSettings); },
    get errors() { return consoleBuffer.slice(-10); },
    // Whether the LEDs shown are known now, and the line that says so or why not.
    get evidence() { return clone(judge()); },
  }),
});

wireToasts();
wireTooltips($('tt'));

// The status read goes out first: the LEDs need neither the settings nor, once the box is known,
// the box list.
async function startUp(runAutoGreen) {
  const settings = loadSettings().then(renderSurfaces);
  const targets = loadTargets();
  if (!dash.currentTarget) await targets;
  await refreshStatus();
  await Promise.all([settings, targets]);
  if (runAutoGreen) autoGreen(false);
}

// A link may name the box to show (?target=Bench); else the box shown last time.
dash.currentTarget = new URLSearchParams(location.search).get('target') || storeGet('ldTarget') || '';

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
  wireHistory();
  wireKeys();
  wireChanges();
  wireTargets();
  if (FOREIGN_ENTRANCE) awaitTheUser();
  else goLive(true);
}
