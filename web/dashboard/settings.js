// The dashboard's settings (auto-green, the demo part), the bridge's sticky settings, and the
// settings dialog.

import { api, postJson } from '../kit/api.js';
import { $, storeSet } from '../kit/dom.js';
import { payload, replyError } from '../kit/reply.js';
import { toast } from '../kit/toast.js';
import { isObj, lastSegment, nonEmpty } from '../kit/values.js';
import { notifyAllowed, notifyOn } from './away.js';
import { actionBegins, refusal, showRefusal } from './notes.js';
import { showDialog } from './overlay.js';
import { act, dash, DEFAULT_PART, demoPart } from './state.js';
import { renderSurfaces } from './surfaces.js';

const STICKY_DEFAULTS = { autoUpdateFusion: true, autoTakeOverSeat: true, showDrivingBadge: true, activityIndicator: 'progress' };

export async function loadSettings() {
  try {
    const r = await api('settings');
    if (isObj(r) && isObj(r.settings)) dash.dashSettings = r.settings;
  } catch { /* the page keeps its copy */ }
}

function saveSettings(changes) {
  Object.assign(dash.dashSettings, changes);
  return postJson('settings', changes).catch(() => null);
}

export async function autoGreen(force) {
  const url = 'api/auto-green' + (dash.currentTarget ? '?target=' + encodeURIComponent(dash.currentTarget) : '');
  try {
    const r = await postJson(url, { force });
    // A joined run also answers started false, but names its box; only the refusal has none.
    if (!force && isObj(r) && r.started === false && !('target' in r)) console.log('auto-green off by setting');
    // A run that finished moments ago is not repeated; the server says so.
    if (isObj(r) && nonEmpty(r.message)) toast(r.message);
  } catch { /* the LEDs keep telling the state */ }
}

function paintNotify() {
  const on = notifyOn();
  setSwitch($('tglNotify'), on);
  setStat('stNotify', !on ? 'off' : notifyAllowed() ? 'on - one notification per change' : 'on - the browser does not allow notifications yet', on && notifyAllowed());
}

// Turned on, the browser asks for its permission; refused, the switch goes back off.
export async function toggleNotify() {
  const on = !isOn($('tglNotify'));
  setSwitch($('tglNotify'), on);
  if (!on) {
    storeSet('ldNotify', '0');
    toast('No notifications - the tab title and icon still show a change', 'ok');
    paintNotify();
    return;
  }
  let permission = 'denied';
  try { if (typeof Notification !== 'undefined') permission = await Notification.requestPermission(); } catch { /* stays denied */ }
  storeSet('ldNotify', permission === 'granted' ? '1' : '0');
  if (permission === 'granted') toast('I will notify you when the shown box needs you while this page is hidden', 'ok');
  else toast('The browser does not allow notifications from this page', 'err');
  paintNotify();
}

let shownSticky = {};

function confirmSticky(changes) {
  dash.stickyEpoch++;
  Object.assign(dash.confirmedSticky, changes);
  if (dash.lastStatus) dash.lastStatus.settings = Object.assign({}, isObj(dash.lastStatus.settings) ? dash.lastStatus.settings : {}, changes);
}

// The value the bridge reports back for `member`, else the one sent when the reply is a success.
function confirmedValue(reply, member, sent) {
  const d = payload(reply);
  return isObj(d) && typeof d[member] === typeof sent ? d[member] : sent;
}

const isOn = (sw) => sw.classList.contains('is-on');
function setSwitch(sw, on) {
  sw.classList.toggle('is-on', on);
  sw.setAttribute('aria-checked', on ? 'true' : 'false');
}
function setStat(id, value, ok) {
  const s = $(id);
  s.textContent = value;
  s.classList.toggle('ok', ok);
}

function paintAutoGreen() {
  const on = dash.dashSettings.autoGreenOnLaunch !== false;
  setSwitch($('tglAutoGreen'), on);
  setStat('stAutoGreen', on ? 'active - drives every facet to green on open' : 'status only', on);
}

function paintSticky() {
  const update = shownSticky.autoUpdateFusion !== false;
  const seat = shownSticky.autoTakeOverSeat !== false;
  const badge = shownSticky.showDrivingBadge !== false;
  setSwitch($('tglAutoUpdate'), update);
  setSwitch($('tglSeatTakeover'), seat);
  setSwitch($('tglBadge'), badge);
  setStat('stUpkeep', (update ? 'updates on' : 'updates off') + ' | ' + (seat ? 'seat take-over on' : 'seat take-over off'), update && seat);
  setStat('stBadge', badge ? 'badge on while driving' : 'badge off', badge);
  const mode = typeof shownSticky.activityIndicator === 'string' ? shownSticky.activityIndicator : 'progress';
  for (const card of $('segActivity').querySelectorAll('.choice')) {
    const chosen = card.dataset.mode === mode;
    card.classList.toggle('selected', chosen);
    card.querySelector('input').checked = chosen;
  }
  setStat('stActivity', mode === 'none' ? 'no taskbar signal' : mode + ' while a verb runs', mode !== 'none');
}

function paintPart() {
  const part = demoPart();
  $('inpPart').value = part;
  setStat('stPart', lastSegment(part).toUpperCase(), false);
}

export async function openSettings() {
  shownSticky = Object.assign({}, dash.lastStatus && isObj(dash.lastStatus.settings) ? dash.lastStatus.settings : {});
  await loadSettings();
  paintAutoGreen();
  paintSticky();
  paintPart();
  paintNotify();
  const dlg = $('dlgSettings');
  showDialog(dlg);
  dlg.focus();
  const body = $('settingsBody');
  body.scrollTop = 0;
  requestAnimationFrame(() => { body.scrollTop = 0; });
}

export async function toggleAutoGreen() {
  const on = !isOn($('tglAutoGreen'));
  setSwitch($('tglAutoGreen'), on);
  toast(on ? 'I will get everything ready whenever you open the Dashboard' : 'Status only - I will not act on open', 'ok');
  await saveSettings({ autoGreenOnLaunch: on });
  paintAutoGreen();
  if (on) autoGreen(false);
}

// A refused change puts the switch back: the dialog shows what the bridge holds, never a wish.
export async function toggleSticky(id, verb, member, name) {
  const was = shownSticky[member] !== false;
  const on = !isOn($(id));
  setSwitch($(id), on);
  shownSticky[member] = on;
  paintSticky();
  actionBegins();
  try {
    const r = await act(verb, { enabled: on });
    const failed = refusal(r);
    if (failed) throw failed;
    confirmSticky({ [member]: confirmedValue(r, member, on) });
    toast(name + (on ? ' on' : ' off') + ' (sticky)', 'ok');
  } catch (e) {
    shownSticky[member] = was;
    paintSticky();
    toast('could not set ' + name + ': ' + e.message, 'err');
    showRefusal('Setting ' + name, e.message, e.hint);
  }
}

export async function chooseActivity(mode) {
  const was = shownSticky.activityIndicator;
  shownSticky.activityIndicator = mode;
  paintSticky();
  actionBegins();
  try {
    const r = await act('set_activity_indicator', { mode });
    const failed = refusal(r);
    if (failed) throw failed;
    confirmSticky({ activityIndicator: confirmedValue(r, 'activityIndicator', mode) });
    toast('activity indicator: ' + mode, 'ok');
  } catch (e) {
    shownSticky.activityIndicator = was;
    paintSticky();
    toast('could not set indicator: ' + e.message, 'err');
    showRefusal('Setting the activity indicator', e.message, e.hint);
  }
}

// The surface requests name no part, so the server must hold the new one before a button is live.
export async function changePart() {
  const value = $('inpPart').value.trim();
  if (!value) return;
  await saveSettings({ demoPart: value });
  renderSurfaces();
  paintPart();
  toast('Surfaces demo part set to ' + value, 'ok');
}

let resetArmed = false;
let resetTimer = 0;
function disarmReset() {
  resetArmed = false;
  clearTimeout(resetTimer);
  const b = $('btnRestoreDefaults');
  b.classList.remove('armed');
  b.textContent = 'Restore defaults';
}

export async function restoreDefaults() {
  const b = $('btnRestoreDefaults');
  if (!resetArmed) {
    resetArmed = true;
    b.classList.add('armed');
    b.textContent = 'Confirm reset';
    resetTimer = setTimeout(disarmReset, 4000);
    return;
  }
  disarmReset();
  actionBegins();
  storeSet('ldNotify', '0');
  try {
    const saved = { autoGreenOnLaunch: true, demoPart: DEFAULT_PART };
    const reply = await postJson('settings', saved);
    if (!isObj(reply) || reply.ok !== true) throw new Error(replyError(reply) || 'the settings were not saved');
    Object.assign(dash.dashSettings, saved);
    for (const [verb, args, member] of [
      ['set_auto_update', { enabled: true }, 'autoUpdateFusion'],
      ['set_seat_takeover', { enabled: true }, 'autoTakeOverSeat'],
      ['set_driving_badge', { enabled: true }, 'showDrivingBadge'],
      ['set_activity_indicator', { mode: 'progress' }, 'activityIndicator'],
    ]) {
      const r = await act(verb, args);
      const failed = refusal(r);
      if (failed) throw failed;
      confirmSticky({ [member]: confirmedValue(r, member, STICKY_DEFAULTS[member]) });
    }
    toast('Settings restored to defaults', 'ok');
    renderSurfaces();
  } catch (e) {
    toast('could not restore defaults: ' + e.message, 'err');
    showRefusal('Restoring the defaults', e.message, e.hint);
  }
  // Repainted either way: after a partial failure the dialog shows what did change.
  await openSettings();
}
