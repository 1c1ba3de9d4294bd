// Choosing the shown box: the box list read from the server, and a switch to another box.

import { api } from '../kit/api.js';
import { $, storeSet } from '../kit/dom.js';
import { toast } from '../kit/toast.js';
import { isObj } from '../kit/values.js';
import { syncChanges } from './changes.js';
import { switchLive } from './live.js';
import { dash, shownBox } from './state.js';
import { refreshStatus } from './status.js';
import { boxName, renderTargets } from './target-pills.js';

function setTarget(name) {
  const switched = name !== dash.currentTarget;
  if (switched) dash.confirmedSticky = {};
  dash.currentTarget = name;
  storeSet('ldTarget', name);
  if (switched) switchLive();
}

function chooseTarget(name) {
  setTarget(name);
  renderTargets();
  syncChanges(shownBox());
  loadTargets();
  refreshStatus();
  toast('switched to ' + name);
}

// A click on a box's pill shows that box.
export function wireTargets() {
  $('targets').addEventListener('click', (e) => {
    const pill = e.target instanceof Element ? e.target.closest('.tpill') : null;
    if (pill) chooseTarget(pill.dataset.box);
  });
}

// The timed refresh takes a listing the server made for another page lately, if there is one.
export async function loadTargets(shared) {
  let reply;
  try { reply = await api('api/targets' + (shared ? '?shared=1' : '')); } catch { return; }
  if (!isObj(reply) || !Array.isArray(reply.targets)) return;
  dash.targetsCache = reply.targets.filter(isObj);
  $('seatnote').hidden = dash.targetsCache.length <= 1;
  if (!dash.currentTarget && dash.targetsCache.length) {
    setTarget(boxName(dash.targetsCache.find((t) => t.running === true) || dash.targetsCache[0]));
  }
  renderTargets();
}
