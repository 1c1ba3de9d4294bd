// The listener: Ovra Bridge found on the loopback ports, its commands (each logged), and the
// connection card, which says how old its last answer is.

import { ageWords } from '../kit/ages.js';
import { $, h } from '../kit/dom.js';
import { isEmpty, readReply, summarize } from '../kit/reply.js';
import { toast } from '../kit/toast.js';
import { errText, firstPresent, has, isObjectLike, str, timeoutSignal } from '../kit/values.js';
import { addLog, logCall } from './log.js';
import { renderKv, setStatus } from './view.js';

// The listener is always on the loopback address; ?bridgePorts=FIRST-LAST points the page at other
// ports (stand-ins).
export const BRIDGE_HOST = '127.0.0.1';

function portRange(text) {
  const m = /^(\d{1,5})-(\d{1,5})$/.exec(text || '');
  if (m) {
    const first = Number(m[1]);
    const last = Number(m[2]);
    if (first >= 1 && last <= 65535 && last >= first && last - first < 64) return { first, last };
  }
  return { first: 24680, last: 24689 };
}

export const PORTS = portRange(new URLSearchParams(location.search).get('bridgePorts'));
export const PORT_TEXT = PORTS.first + '-' + PORTS.last;

export let bridge = null;
// When the listener last answered (ms since the epoch, 0 before it ever did), whether the known
// one stopped answering since, and the latest read: an older read that ends later changes nothing.
let lastRead = 0;
let silent = false;
let reads = 0;

async function probeOne(port) {
  try {
    const res = await fetch('http://' + BRIDGE_HOST + ':' + port + '/status', { cache: 'no-store', signal: timeoutSignal(1500) });
    if (!res.ok) return null;
    const body = await res.json();
    return isObjectLike(body) && body.service === 'ovra-bridge' ? { host: BRIDGE_HOST, port, status: body } : null;
  } catch {
    return null;
  }
}

// All ports at once; the lowest port that is the bridge wins, whichever answered first.
async function probe() {
  const ports = [];
  for (let p = PORTS.first; p <= PORTS.last; p++) ports.push(p);
  const found = await Promise.all(ports.map(probeOne));
  return found.find(Boolean) || null;
}

export async function cmd(command, args, options) {
  if (!bridge) throw new Error('not connected');
  const body = JSON.stringify({ command, args: args || {} });
  const preview = body.length > 300 ? body.slice(0, 300) + '...' : body;
  const started = performance.now();
  let res;
  let text;
  try {
    res = await fetch('http://' + bridge.host + ':' + bridge.port + '/command', {
      method: 'POST', headers: { 'Content-Type': 'application/json' }, body,
      signal: timeoutSignal((options && options.timeoutMs) || 135000),
    });
    text = await res.text();
  } catch (e) {
    addLog(h('div', { class: 'line' },
      h('span', { class: 't', text: new Date().toLocaleTimeString() }),
      h('span', { class: 'acc', text: command }),
      h('span', { class: 'err', text: 'unreachable: ' + errText(e) })));
    const err = new Error(errText(e));
    err.code = 'unreachable';
    throw err;
  }
  const r = readReply(res.status, text);
  const hint = has(r.reply, '_hint') && !isEmpty(r.reply._hint) ? str(r.reply._hint) : '';
  const summaryOf = has(r.payload, 'result') && r.payload.result !== null ? r.payload.result : r.payload;
  logCall(command, preview, r.ok, Math.round(performance.now() - started), summarize(summaryOf), hint);
  if (r.ok) return r.payload;
  const err = new Error(r.message);
  if (r.code) err.code = r.code;
  err.payload = r.payload;
  err.status = res.status;
  throw err;
}

// The message of a failed command, with how to allow the page when the user was not asked in time.
export function failText(e) {
  const m = errText(e);
  return e && e.code === 'web_denied' ? m + ' (allow this page in Ovra Bridge: click Allow (1 hr) in its toast, or grant it in Ovra Bridge\'s Settings > Web Control)' : m;
}

export const granted = () => !!(bridge && isObjectLike(bridge.status.webControl) && bridge.status.webControl.grantedForYou === true);

function machineName(status) {
  const m = status.machine;
  if (isObjectLike(m)) return firstPresent(m.clientName, m.hostname) || 'this machine';
  return typeof m === 'string' && m ? m : 'this machine';
}

// The age of what the card shows, in the words the dashboard uses for its LEDs.
export function showAge() {
  $('connNote').textContent = lastRead ? 'last read ' + ageWords(Math.max(0, Math.round((Date.now() - lastRead) / 1000)), 5, false) : '';
}

function showBridge() {
  const st = bridge.status;
  const wc = isObjectLike(st.webControl) ? st.webControl : {};
  const name = machineName(st);
  const version = firstPresent(st.version) || '?';
  $('led').className = 'led ' + (wc.enabled ? 'green' : 'amber');
  $('conn').textContent = name + ' :' + bridge.port;
  $('meta').textContent = 'Ovra Bridge ' + version + ' · web control ' + (wc.enabled ? 'on' : 'OFF') +
    (wc.grantedForYou ? ' · this page is granted' : (wc.promptExpected ? ' · Ovra Bridge will ask you per command' : ''));
  $('bpAb').textContent = version + ' on ' + name;
  setStatus($('connStatus'), wc.enabled ? 'connected, web control enabled' : 'connected, web control is OFF in Ovra Bridge\'s Settings', wc.enabled ? 'ok' : 'warn');
  showAge();
  renderKv($('connKv'), [
    ['machine', name],
    ['Ovra Bridge version', version],
    ['endpoint', 'http://' + bridge.host + ':' + bridge.port],
    ['web control', wc.enabled ? 'enabled' : 'disabled'],
    ['this page', wc.grantedForYou ? 'granted (no prompts)' : (wc.promptExpected ? 'Ovra Bridge asks you once per command (Allow once / Allow 1 hr / Deny)' : 'unknown')],
    ['handshake required', wc.requireHandshake ? 'yes' : 'no'],
  ]);
  $('btnConnect').textContent = 'Reconnect';
  return name;
}

// The listener answered: it is the one commands go to from now on.
function answered(found) {
  bridge = found;
  silent = false;
  lastRead = Date.now();
  return showBridge();
}

function showNotFound() {
  setStatus($('connStatus'), 'Ovra Bridge not detected', 'err');
  $('led').className = 'led red';
  $('conn').textContent = 'not connected';
  $('meta').textContent = 'is Ovra Bridge running?';
}

export async function connect() {
  reads++;
  setStatus($('connStatus'), 'probing ' + BRIDGE_HOST + ':' + PORT_TEXT + '...');
  $('connNote').textContent = 'allow local network access if your browser asks';
  $('led').className = 'led';
  const found = await probe();
  if (!found) {
    bridge = null;
    lastRead = 0;
    showNotFound();
    $('connNote').textContent = '';
    renderKv($('connKv'), []);
    toast('Ovra Bridge not found on ' + PORT_TEXT + '. Is Ovra Bridge running on this machine?', 'err');
    return null;
  }
  const name = answered(found);
  toast('Connected to Ovra Bridge on ' + name, 'ok');
  return { port: found.port, status: found.status };
}

// Reads the listener's state again: the known port first, then the whole range, as the listener
// may have come back on another port. A listener that stopped answering stays the one commands go
// to (a restarting bridge answers them again), and the card keeps what it last said, dated.
export async function recheck() {
  const seq = ++reads;
  const known = bridge;
  const found = (known && await probeOne(known.port)) || await probe();
  if (seq !== reads) return;
  if (found) {
    const back = silent || !known;
    const name = answered(found);
    if (back) toast((known ? 'Ovra Bridge answers again on ' : 'Connected to Ovra Bridge on ') + name, 'ok');
    return;
  }
  if (!known) return;
  if (!silent) toast('Ovra Bridge stopped answering on ' + machineName(known.status), 'err');
  silent = true;
  showNotFound();
  setStatus($('connStatus'), 'Ovra Bridge stopped answering', 'err');
  showAge();
}

// Before an import: looks for the listener again, as it may have moved to another port; waits for
// it only while none is known.
export async function findBridgeAgain() {
  const found = probe().then((f) => {
    if (f) answered(f);
  });
  if (!bridge) await found;
}
