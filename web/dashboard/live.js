// The live channel: the event stream of the shown box, reconnected when it drops.

import { $ } from '../kit/dom.js';
import { toast } from '../kit/toast.js';
import { isObj, str } from '../kit/values.js';
import { driveToast } from './away.js';
import { addChange, reloadChanges } from './changes.js';
import { heard } from './evidence.js';
import { showProgress } from './launch.js';
import { dash, shownBox } from './state.js';
import { applyStatus, decorateLeds, refreshStatus } from './status.js';
import { syncTargetPill } from './target-pills.js';
import { startTour } from './tour.js';

const CLICKS = new Map([
  ['setup', 'btnSetup'], ['start', 'btnStart'], ['stop', 'btnStop'], ['import-part', 'btnImportPart'],
  ['settings', 'btnSettings'], ['refresh', 'btnRefresh'],
]);

let liveSource = null;
let liveWhy = 'open';
let liveRetry = 0;

function onEvent(source, name, handler) {
  source.addEventListener(name, (e) => {
    heard();
    let value;
    try { value = JSON.parse(e.data); } catch { return; }
    handler(value);
  });
}

// The channel names the shown box: while it is open the server refreshes that box's status and
// pushes it here. `why` is "open", "switch" (a new box) or "reconnect" (the channel was down).
export function openLive(why) {
  const source = new EventSource('events' + (dash.currentTarget ? '?target=' + encodeURIComponent(dash.currentTarget) : ''));
  liveSource = source;
  liveWhy = why;
  onEvent(source, 'hello', () => {
    dash.sseUp = true;
    decorateLeds();
    if (why === 'switch') return;
    console.log('sse connected');
    if (why !== 'reconnect') return;
    // What happened while the channel was down is read again.
    reloadChanges(shownBox());
    refreshStatus();
  });
  onEvent(source, 'logbook', addChange);
  onEvent(source, 'state', (s) => {
    if (!isObj(s) || !isObj(s.leds)) return;
    syncTargetPill(s);
    if (dash.currentTarget && s.target !== dash.currentTarget) return;
    dash.liveStateAt = Date.now();
    applyStatus(s);
  });
  onEvent(source, 'progress', (p) => showProgress(p, dash.currentTarget));
  onEvent(source, 'toast', (t) => {
    if (!isObj(t)) return;
    toast(t.message, t.kind === 'info' ? '' : t.kind);
    driveToast(t.message);
  });
  onEvent(source, 'click', (c) => { if (isObj(c)) remoteClick(c.target); });
  source.onerror = () => {
    if (liveSource !== source) return;
    // The server answered until this moment.
    if (dash.sseUp) heard();
    dash.sseUp = false;
    decorateLeds();
    source.close();
    liveSource = null;
    clearTimeout(liveRetry);
    liveRetry = setTimeout(() => openLive('reconnect'), 3000);
  };
}

// A channel that is down reconnects for the new box by itself; one not yet connected keeps its reason.
export function switchLive() {
  dash.liveStateAt = 0;
  if (!liveSource) return;
  const why = dash.sseUp ? 'switch' : liveWhy;
  liveSource.close();
  liveSource = null;
  dash.sseUp = false;
  openLive(why);
}

function remoteClick(name) {
  if (name === 'tour') {
    startTour();
    return;
  }
  const id = typeof name === 'string' ? CLICKS.get(name) : undefined;
  if (id) $(id).click();
  else toast('unknown click target: ' + str(name), 'err');
}
