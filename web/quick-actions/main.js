// The quick-actions page: finds Ovra Bridge's listener, resolves wiki part pages into a part set,
// bundles and stages it, starts the import and watches the run to its verdict with live frames.

import { $, h } from '../kit/dom.js';
import { catalogEntries, isEmpty, lintText, pollFailureKind, readReply, resultOf, summarize } from '../kit/reply.js';
import { toast } from '../kit/toast.js';
import { errText, firstPresent, has, isNum, isObjectLike, safeName, str, timeoutSignal } from '../kit/values.js';
import { DEFAULT_WIKI } from '../kit/wiki.js';
import { crc32, makeZip, toBase64, utf8 } from '../kit/zip.js';
import { liveStart, liveStop, renderFrames, viewVia } from './frames.js';
import { fillLibrary, GENERIC_DESCRIPTION, GENERIC_NAME, mergeLibraries } from './library.js';
import { stageBundle } from './staging.js';
import {
  buildPartSet,
  drawChips,
  formatDate,
  modelEntries,
  pageUrl,
  parseCatalog,
  partSetName,
  pickRefs,
  readPartPage,
  refPath,
  splitRefs,
  stripYear,
} from './wiki.js';

// ---- Addresses ---------------------------------------------------------------------------
// The listener is always on the loopback address; ?bridgePorts=FIRST-LAST and ?wiki=URL
// point the page elsewhere (stand-ins, a staging wiki).

const BRIDGE_HOST = '127.0.0.1';
const OWNER = 'sefa';
const LOG_KEEP = 1000;

function portRange(text) {
  const m = /^(\d{1,5})-(\d{1,5})$/.exec(text || '');
  if (m) {
    const first = Number(m[1]);
    const last = Number(m[2]);
    if (first >= 1 && last <= 65535 && last >= first && last - first < 64) return { first, last };
  }
  return { first: 24680, last: 24689 };
}

function wikiBase(text) {
  if (text) {
    try {
      const u = new URL(text);
      if (u.protocol === 'http:' || u.protocol === 'https:') return (u.origin + u.pathname).replace(/\/+$/, '');
    } catch { /* an unusable override falls back to the real wiki */ }
  }
  return DEFAULT_WIKI;
}

const params = new URLSearchParams(location.search);
const PORTS = portRange(params.get('bridgePorts'));
const WIKI = wikiBase(params.get('wiki'));
const PORT_TEXT = PORTS.first + '-' + PORTS.last;

// ---- DOM helpers -------------------------------------------------------------------------

const b = (text) => h('b', { text });

function setStatus(el, text, kind) {
  el.textContent = text;
  el.className = 'st' + (kind ? ' ' + kind : '');
}

function renderKv(el, rows) {
  el.replaceChildren();
  for (const row of rows) {
    if (!row) continue;
    el.append(h('dt', { text: row[0] }), h('dd', { class: row[2] }, row[1] instanceof Node ? row[1] : (str(row[1]) || '-')));
  }
}

// ---- Verb log ----------------------------------------------------------------------------
let callCount = 0;

function setCallCount(n) {
  callCount = n;
  $('logCount').textContent = n + (n === 1 ? ' call' : ' calls');
}

function addLog(line, hint) {
  const log = $('log');
  if (hint) log.prepend(h('div', { class: 'line hint', text: '   hint: ' + hint.slice(0, 200) }));
  log.prepend(line);
  // Long imports tick the live feed every 1.5 s; the oldest lines go so the page stays light.
  while (log.childElementCount > LOG_KEEP) log.lastElementChild.remove();
  setCallCount(callCount + 1);
}

function logCall(command, preview, ok, ms, summary, hint) {
  addLog(h('div', { class: 'line' },
    h('span', { class: 't', text: new Date().toLocaleTimeString() }),
    h('span', { class: 'acc', text: command }),
    h('span', { text: preview.slice(0, 220) }),
    h('span', { class: ok ? 'ok' : 'err', text: ok ? 'ok' : 'FAIL' }),
    h('span', { class: 't', text: ms + 'ms' }),
    h('span', { text: summary })), hint);
}

// ---- Listener: probe and commands --------------------------------------------------------
let bridge = null;

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

async function cmd(command, args, options) {
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
function failText(e) {
  const m = errText(e);
  return e && e.code === 'web_denied' ? m + ' (allow this page in Ovra Bridge: click Allow (1 hr) in its toast, or grant it in vb Settings > Web Control)' : m;
}

const granted = () => !!(bridge && isObjectLike(bridge.status.webControl) && bridge.status.webControl.grantedForYou === true);

function machineName(status) {
  const m = status.machine;
  if (isObjectLike(m)) return firstPresent(m.clientName, m.hostname) || 'this machine';
  return typeof m === 'string' && m ? m : 'this machine';
}

function showBridge() {
  const st = bridge.status;
  const wc = isObjectLike(st.webControl) ? st.webControl : {};
  const name = machineName(st);
  const version = firstPresent(st.version) || '?';
  $('led').className = 'led ' + (wc.enabled ? 'green' : 'amber');
  $('conn').textContent = name + ' :' + bridge.port;
  $('meta').textContent = 'vb ' + version + ' · web control ' + (wc.enabled ? 'on' : 'OFF') +
    (wc.grantedForYou ? ' · this page is granted' : (wc.promptExpected ? ' · vb will ask you per command' : ''));
  $('bpAb').textContent = version + ' on ' + name;
  setStatus($('connStatus'), wc.enabled ? 'connected, web control enabled' : 'connected, web control is OFF in vb Settings', wc.enabled ? 'ok' : 'warn');
  $('connNote').textContent = '';
  renderKv($('connKv'), [
    ['machine', name],
    ['vb version', version],
    ['endpoint', 'http://' + bridge.host + ':' + bridge.port],
    ['web control', wc.enabled ? 'enabled' : 'disabled'],
    ['this page', wc.grantedForYou ? 'granted (no prompts)' : (wc.promptExpected ? 'vb asks you once per command (Allow once / Allow 1 hr / Deny)' : 'unknown')],
    ['handshake required', wc.requireHandshake ? 'yes' : 'no'],
  ]);
  $('btnConnect').textContent = 'Reconnect';
  return name;
}

async function connect() {
  setStatus($('connStatus'), 'probing ' + BRIDGE_HOST + ':' + PORT_TEXT + '...');
  $('connNote').textContent = 'allow local network access if your browser asks';
  $('led').className = 'led';
  const found = await probe();
  if (!found) {
    bridge = null;
    setStatus($('connStatus'), 'Ovra Bridge not detected', 'err');
    $('connNote').textContent = '';
    $('led').className = 'led red';
    $('conn').textContent = 'not connected';
    $('meta').textContent = 'is Ovra Bridge running?';
    renderKv($('connKv'), []);
    toast('Ovra Bridge not found on ' + PORT_TEXT + '. Is vb running on this machine?', 'err');
    return null;
  }
  bridge = found;
  const name = showBridge();
  toast('Connected to Ovra Bridge on ' + name, 'ok');
  return { port: found.port, status: found.status };
}

// ---- Fusion state ------------------------------------------------------------------------
async function readFusion() {
  const status = $('fusionStatus');
  setStatus(status, 'reading...');
  try {
    const r = await cmd('fusion_readiness', {});
    const yn = (v) => (v ? 'yes' : 'no');
    const rows = [['installed', yn(r.installed)], ['running', yn(r.running)], ['ready', yn(r.ready)], ['bridge', firstPresent(r.bridgeVersion) || '?']];
    if (r.needsSignin) rows.push(['needs sign-in', 'yes']);
    renderKv($('fusionKv'), rows);
    if (r.ready) setStatus(status, 'ready', 'ok');
    else setStatus(status, r.running ? 'running, add-in not ready' : (r.installed ? 'installed, not running' : 'not installed'), 'warn');
    const app = await cmd('fusion_get_app_state', {});
    const docs = Array.isArray(app.documents) ? app.documents.filter(isObjectLike) : [];
    $('docList').replaceChildren(...(docs.length ? docs.map((d) => h('li', null,
      h('span', null, str(d.name), (d.isModified || d.modified) ? h('span', { class: 'warn', text: ' unsaved' }) : null),
      d.isActive ? h('span', { class: 'acc', text: 'active' }) : null)) : [h('li', { class: 'note', text: 'no documents open' })]));
  } catch (e) {
    setStatus(status, errText(e), 'err');
    toast(failText(e), 'err');
  }
}

// ---- Part card ---------------------------------------------------------------------------
let part = null;
let skipModel = false;
let multiPick = false;
let resolveSeq = 0;
let owners = null;
let ownersLoad = null;

function loadCatalog() {
  if (!ownersLoad) {
    ownersLoad = (async () => {
      const res = await fetch(WIKI + '/api/v1/pages?owner=' + OWNER + '&limit=500', { signal: timeoutSignal(15000) });
      if (!res.ok) throw new Error('wiki answered ' + res.status);
      owners = parseCatalog(await res.json());
      return owners;
    })();
    // A failed list may be tried again by the next Shuffle.
    ownersLoad.catch(() => { ownersLoad = null; });
  }
  return ownersLoad;
}

function describeSet(set, record) {
  const rows = [];
  if (set.multi) {
    rows.push(['library', set.name + ' (merged from ' + set.parts.length + ' pages)']);
    set.parts.forEach((p, i) => {
      const c = owners && owners.byRef.get(p.ref);
      rows.push(['part ' + (i + 1), p.ref + (c ? ' · published ' + formatDate(c.last_commit_at || c.updated_at) : '') + ' · ' +
        p.lbr.name + (p.steps.length ? ' + ' + p.steps[0].name : ' (no model)')]);
    });
  } else {
    const p = set.parts[0];
    const link = h('a', { href: pageUrl(p.ref, WIKI), target: '_blank', rel: 'noopener noreferrer', text: pageUrl(p.ref, WIKI) });
    rows.push(['page', link]);
    const c = record || (owners && owners.byRef.get(p.ref));
    if (c) {
      const brief = str(c.brief);
      rows.push(['title', str(c.title) + (brief ? ' - ' + brief.slice(0, 90) : '')]);
      rows.push(['version', str(c.version)]);
      rows.push(['published', formatDate(c.last_commit_at || c.updated_at) + (c.created_at ? ' (page created ' + formatDate(c.created_at) + ')' : '')]);
    } else if (p.lastCommit) {
      rows.push(['files published', formatDate(p.lastCommit * 1000)]);
    }
    rows.push(['library', p.lbr.name + ' (' + p.lbr.size + ' B)']);
  }
  if (skipModel) rows.push(['models', 'SKIPPED by the switch above: the library will install unbound']);
  else if (!set.multi) rows.push(['models', set.steps.length ? set.steps.map((s) => s.name + ' (' + s.size + ' B)').join(', ') : 'none']);
  renderKv($('partKv'), rows);
}

function forgetPart() {
  part = null;
  $('btnImport').disabled = true;
}

async function resolvePart(text, record) {
  const input = $('partRef');
  if (text !== undefined) input.value = String(text);
  const refs = splitRefs(input.value);
  const seq = ++resolveSeq;
  if (!refs.length) {
    // An emptied input must not leave the previous part ready to import.
    forgetPart();
    renderKv($('partKv'), []);
    setStatus($('partStatus'), 'enter a wiki page reference');
    $('importNote').textContent = '';
    return null;
  }
  setStatus($('partStatus'), 'resolving ' + refs.length + (refs.length === 1 ? ' page' : ' pages') + '...');
  forgetPart();
  try {
    const records = await Promise.all(refs.map((r) => readPartPage(r, WIKI)));
    if (seq !== resolveSeq) return null;
    const set = buildPartSet(refs, records, skipModel);
    part = set;
    describeSet(set, record);
    setStatus($('partStatus'), set.multi ? set.parts.length + ' parts, ready' : 'ready', 'ok');
    $('btnImport').disabled = false;
    $('importNote').textContent = !set.steps.length ? 'no STEP: nothing to bind, the library installs unbound'
      : (set.multi ? 'one call for all ' + set.parts.length + ' parts, then the page polls' : 'one call, then the page polls');
    toast('Resolved ' + (set.multi ? set.parts.length + ' parts' : set.name) +
      (set.steps.length ? ' + ' + set.steps.length + ' model(s)' : ' (no models)'), 'ok');
    return set;
  } catch (e) {
    if (seq !== resolveSeq) return null;
    renderKv($('partKv'), []);
    setStatus($('partStatus'), errText(e), 'err');
    toast('Could not resolve: ' + errText(e), 'err');
    return null;
  }
}

function markChips() {
  const refs = new Set(multiPick ? splitRefs($('partRef').value) : []);
  for (const c of $('chips').querySelectorAll('button[data-action="pick"]')) {
    const on = refs.has(c.dataset.ref);
    c.classList.toggle('active', on);
    c.setAttribute('aria-pressed', on ? 'true' : 'false');
  }
}

function pickChip(ref) {
  const chip = Array.from($('chips').querySelectorAll('button[data-action="pick"]')).find((c) => c.dataset.ref === ref);
  const wasActive = !!(chip && chip.classList.contains('active'));
  const refs = pickRefs($('partRef').value, ref, wasActive, multiPick);
  multiPick = true;
  $('partRef').value = refs.join(', ');
  markChips();
  return resolvePart(undefined, refs.length === 1 && owners ? owners.byRef.get(refs[0]) : undefined);
}

function chipsFailed(e) {
  $('chips').replaceChildren();
  $('chipsNote').textContent = "could not list Sefa's pages: " + errText(e);
}

async function shuffle() {
  const chips = $('chips');
  const note = $('chipsNote');
  chips.replaceChildren("loading Sefa's parts...");
  note.textContent = '';
  try {
    const cat = await loadCatalog();
    chips.replaceChildren(...drawChips(cat.list, 6).map((p) => {
      const ref = str(p.owner) + '/' + str(p.slug);
      return h('button', { class: 'pchip', 'data-action': 'pick', 'data-ref': ref, title: str(p.title) + ' - ' + str(p.brief),
        onclick: () => pickChip(ref) }, str(p.slug), h('small', { text: stripYear(formatDate(p.last_commit_at)) }));
    }));
    markChips();
    note.textContent = cat.list.length + ' parts by Sefa, newest ' + (cat.list.length ? formatDate(cat.list[0].last_commit_at) : '-');
  } catch (e) {
    chipsFailed(e);
  }
}

// ---- Plan ----------------------------------------------------------------------------------
async function plan() {
  const status = $('impStatus');
  const parts = part ? part.steps.map((s) => ({ package: part.name, modelPath: s.entry })) : [];
  setStatus(status, 'planning...');
  try {
    const r = await cmd('fusion_plan_library_import', { parts });
    const fusion = isObjectLike(r.fusion) ? r.fusion : {};
    setStatus(status, str(fusion.status), fusion.status === 'ready' ? 'ok' : 'warn');
    const total = Math.round(Number(r.estimatedSec) || 0);
    const open = Math.round(Number(r.estimatedSecIfAlreadyOpen));
    renderKv($('planKv'), [
      ['status', str(fusion.status)],
      ['message', str(fusion.message)],
      ['total', total + 's' + (isNum(open) && open !== total ? ' (' + open + 's if already open)' : '')],
      ['confidence', str(r.confidence)],
    ]);
    const stages = Array.isArray(r.plan) ? r.plan.filter(isObjectLike) : [];
    $('planStages').replaceChildren(...stages.map((s) => h('li', null,
      h('span', { text: firstPresent(s.label, s.stage) + (s.needsUserConsent ? ' (asks you first)' : '') }),
      h('span', { class: s.confidence === 'measured' ? 'ok' : '', text: Math.round(Number(s.estimatedSec) || 0) + 's · ' + str(s.confidence) }))));
    if (fusion.status === 'addin_restart_required') showRestartAsk({ userMessage: fusion.message, documentsKnown: false });
    toast('Plan: ' + total + 's, ' + stages.length + ' stages', 'ok');
  } catch (e) {
    setStatus(status, errText(e), 'err');
    toast(failText(e), 'err');
  }
}

// ---- Import --------------------------------------------------------------------------------
let staged = null;
let runId = null;
let pollTimer = null;
let pollCount = 0;
let askShown = false;

function progress(pct, kind) {
  const fill = $('progFill');
  fill.style.width = Math.max(0, Math.min(100, pct)) + '%';
  fill.className = kind || '';
}
const stageLine = (...kids) => $('stageLine').replaceChildren(...kids);

async function fetchOk(url, name) {
  const res = await fetch(url);
  if (!res.ok) throw new Error(name + ': wiki answered ' + res.status);
  return res;
}

// What the install receipt says: placed without a run, placed with no run named, or a run to watch.
function afterInstall(receipt, set, status) {
  renderReceipt(receipt, set);
  if (receipt.errorCode === 'nothing_to_bind' || receipt.started === false) {
    progress(100, 'ok');
    stageLine(b('installed, unbound'), ' · ' + (firstPresent(receipt._hint) || 'nothing to bind'));
    setStatus(status, 'installed, unbound', 'warn');
    toast('Library placed at ' + str(receipt.libraryPath) + ' with no 3D bound', 'ok');
  } else if (!firstPresent(receipt.runId)) {
    progress(100, 'ok');
    stageLine(b('installed'), ' · the bridge named no run to watch');
    setStatus(status, 'installed', 'warn');
  } else {
    toast(receipt.attached ? 'An import is already running; attached to ' + str(receipt.runId) : 'Installed and started run ' + str(receipt.runId), 'ok');
    watch(str(receipt.runId));
  }
}

// A failed import: a missing Allow click explains itself; a restart the add-in needs is asked for.
function importFailed(e, status) {
  progress(100, 'err');
  setStatus(status, 'failed', 'err');
  if (e.code === 'web_denied') {
    stageLine(b('not allowed'), ' Ovra Bridge asked you to allow this page and did not get a click in time. Press the button again and click Allow (1 hr) in the Ovra Bridge toast, or grant this page in vb Settings > Web Control.');
    toast('Ovra Bridge did not get your Allow click. ' + errText(e), 'err');
  } else {
    stageLine(b(e.code || 'failed'), ' ' + errText(e));
    toast(errText(e), 'err');
  }
  if (isObjectLike(e.payload) && e.payload.errorCode === 'addin_restart_required') showRestartAsk(e.payload);
}

async function importBundle() {
  const btn = $('btnImport');
  const status = $('impStatus');
  const set = part;
  if (!set) { toast('Resolve a part first', 'err'); return; }
  if (bridge) probe().then((f) => { if (f) { bridge = f; showBridge(); } });
  else {
    const f = await probe();
    if (f) { bridge = f; showBridge(); }
  }
  btn.disabled = true;
  setStatus(status, 'working');
  $('gallery').replaceChildren();
  renderKv($('receiptKv'), []);
  $('lint').hidden = true;
  progress(0);
  try {
    const libs = set.parts.map((p) => p.lbr);
    const models = set.steps;
    stageLine('fetching ' + libs.length + (libs.length === 1 ? ' library' : ' libraries') +
      (models.length ? ' and ' + models.length + ' model(s)' : '') + ' from the wiki...');
    const fetched = await Promise.all([
      Promise.all(libs.map((l) => fetchOk(l.url, l.name).then((r) => r.text()))),
      Promise.all(models.map((m) => fetchOk(m.url, m.name).then((r) => r.arrayBuffer()).then((a) => new Uint8Array(a)))),
    ]);
    stageLine((set.multi ? 'merging ' + libs.length + ' libraries into one and ' : '') + 'zipping in the browser...');
    const fills = [];
    const filled = fetched[0].map((t, i) => fillLibrary(t, set.parts[i], fills));
    const left = [];
    const merged = mergeLibraries(filled, (i) => left.push(set.parts[i].ref));
    if (left.length) toast('Left out of the merged library (not valid XML): ' + left.join(', '), 'err');
    set.metaFills = fills;
    const name = safeName(set.name);
    const zip = makeZip([{ name: name + '.lbr', data: utf8(merged) }].concat(models.map((m, i) => ({ name: m.entry, data: fetched[1][i] }))));
    const path = '~/ovra-wiki-libs/' + name + '.zip';
    staged = await stageBundle(zip, path, (args) => cmd('write_file_chunk', args), (n, total) => {
      stageLine('staging the bundle on this machine (approve in Ovra Bridge) (chunk ' + n + '/' + total + ')' +
        (granted() ? '' : ' · Ovra Bridge is asking you on this machine: click Allow (1 hr) in its toast'));
    });
    stageLine('installing the bundle (one call)...');
    const receipt = await cmd('fusion_install_library_bundle', { zipPath: staged, libraryName: name });
    afterInstall(receipt, set, status);
  } catch (e) {
    importFailed(e, status);
  } finally {
    btn.disabled = !part;
  }
}

function renderReceipt(r, set) {
  const parts = Array.isArray(r.parts) ? r.parts : [];
  const packages = parts.map((p) => (isObjectLike(p) ? str(p.package) : str(p)));
  const unbound = Array.isArray(r.unbound) ? r.unbound : [];
  const fills = set.metaFills || [];
  renderKv($('receiptKv'), [
    ['installed', r.installed ? 'yes, ' + str(r.libraryPath) : 'no'],
    ['library', str(r.libraryName)],
    ['parts', str(r.partsToBind) + ' of ' + str(r.partsTotal) + ' paired with a STEP' + (packages.length > 1 ? ': ' + packages.join(', ') : '')],
    ['named skips', unbound.length ? unbound.map((u) => (isObjectLike(u) ? str(u.package) + ' (' + str(u.reason) + ')' : str(u))).join('; ') : 'none'],
    ['filled from wiki pages', fills.length ? fills.map((f) => f.deviceset + ' ' + f.field).join(', ') : 'nothing (source libraries were complete)'],
    ['fusion', isObjectLike(r.fusion) ? str(r.fusion.message) : ''],
    ['runId', str(r.runId)],
    ['estimated', isNum(r.estimatedSec) ? Math.round(r.estimatedSec) + 's' : ''],
  ]);
  renderLint(r.partMetadata);
}

function renderLint(meta) {
  const box = $('lint');
  const l = lintText(meta);
  if (!l) { box.hidden = true; return; }
  box.className = 'lint ' + (l.ok ? 'ok' : 'warn');
  box.replaceChildren(h('h3', { text: 'Part numbers' }), h('div', { text: l.text }));
  box.hidden = false;
}

// ---- Watching a run ------------------------------------------------------------------------
function cancelButton(state) {
  const btn = $('btnCancel');
  btn.hidden = state === 'hidden';
  btn.disabled = state === 'stopping';
  btn.textContent = state === 'stopping' ? 'stopping at the next part...' : 'Cancel import';
}

function watch(id) {
  runId = id;
  clearTimeout(pollTimer);
  pollTimer = null;
  pollCount = 0;
  askShown = false;
  liveStart();
  cancelButton('ready');
  return poll();
}

// A run the user cancelled.
function showCancelled(res, status) {
  cancelButton('hidden');
  liveStop('cancelled');
  progress(100, 'err');
  stageLine(b('cancelled'), ' · ' + (firstPresent(res.error) || 'stopped while ' + str(res.cancelledAt)));
  setStatus(status, 'cancelled', 'warn');
  renderFrames(res.evidence);
  toast('Import cancelled: ' + str(res.error), 'ok');
  return res;
}

// A failed run; a bridge that restarted under it offers to start again.
function showFailed(res, status) {
  liveStop('failed');
  progress(100, 'err');
  renderFrames(res.evidence);
  if (res.errorCode === 'bridge_restarted_mid_run') {
    setStatus(status, 'bridge restarted mid-run', 'err');
    stageLine(b('the bridge restarted under this run'), ' ' + str(res.error) + ' ',
      h('button', { 'data-action': 'start_again', text: 'Start again', onclick: () => importBundle() }));
    toast('The bridge restarted mid-run (an update or a crash). Press Start again.', 'err');
    return res;
  }
  setStatus(status, 'failed', 'err');
  stageLine(b('failed'), ' ' + (firstPresent(res.error, isObjectLike(res.bind) ? res.bind.error : '', res.errorCode)));
  toast('Import failed: ' + (firstPresent(res.error) || 'see the log'), 'err');
  return res;
}

// A finished run: the verdict, the lint, and the frames fetched once more with their images.
async function showDone(res, run, status) {
  liveStop('done');
  progress(100, 'ok');
  const prove = isObjectLike(res.prove) ? res.prove : {};
  const proven = isObjectLike(res.prove) ? prove.proven === true : res.verdict === 'proven';
  const partsProven = firstPresent(prove.partsProven) || '0';
  const partsTotal = firstPresent(prove.partsTotal, res.partsTotal) || '0';
  stageLine(b('done'), ' verdict: ' + (firstPresent(res.verdict) || (prove.proven ? 'proven' : 'not proven')) + ' · ' +
    partsProven + '/' + partsTotal + ' parts proven · ' + (firstPresent(res.evidenceCount) || '0') + ' frames');
  setStatus(status, proven ? 'proven' : 'finished, not proven', proven ? 'ok' : 'warn');
  if (isObjectLike(res.partMetadata)) renderLint(res.partMetadata);
  toast('Library created in Fusion: ' + partsProven + '/' + partsTotal + ' parts proven', 'ok');
  try {
    const inline = resultOf(await cmd('fusion_prove_result', { runId: run, inlineFrames: true }, { timeoutMs: 120000 }));
    if (run === runId) renderFrames(inline.evidence);
  } catch {
    if (run === runId) renderFrames(res.evidence);
  }
  return res;
}

async function poll(id) {
  if (id !== undefined && id !== runId) return watch(String(id));
  clearTimeout(pollTimer);
  pollTimer = null;
  const run = runId;
  if (!run) return null;
  pollCount += 1;
  let res;
  try {
    res = resultOf(await cmd('fusion_prove_result', { runId: run }));
  } catch (e) {
    if (run === runId) pollFailed(e);
    return null;
  }
  if (run !== runId) return null;
  const status = $('impStatus');
  const stage = str(res.stage);
  if (stage === 'cancelled') return showCancelled(res, status);
  if (stage === 'done' || stage === 'failed') cancelButton('hidden');
  else if (res.cancelRequested) cancelButton('stopping');
  if (stage === 'failed') return showFailed(res, status);
  if (stage === 'done') return showDone(res, run, status);
  if (isNum(res.percent)) progress(res.percent);
  const line = [b(stage || 'working')];
  if (!isEmpty(res.stageLabel)) line.push(' · ' + str(res.stageLabel));
  if (isNum(res.percent)) line.push(' · ' + Math.round(res.percent) + '%');
  if (isNum(res.etaSec)) line.push(' · ~' + Math.round(res.etaSec) + 's left');
  stageLine(...line);
  if (Array.isArray(res.evidence) && res.evidence.length) renderFrames(res.evidence);
  if (res.errorCode === 'addin_restart_required' && !askShown) {
    askShown = true;
    showRestartAsk(res);
    liveStop('waiting for your answer');
  }
  pollTimer = setTimeout(() => poll(), pollCount <= 2 ? 5000 : 10000);
  return res;
}

function pollFailed(e) {
  const kind = pollFailureKind(e);
  const msg = errText(e);
  if (kind !== 'fatal' && pollCount < 12) {
    stageLine(b(kind === 'not_filed' ? 'starting (the run is not on file yet)' : 'bridge not answering, retrying'),
      ' · ' + msg.slice(0, 90) + ' (try ' + pollCount + ' of 12)');
    pollTimer = setTimeout(() => poll(), 8000);
    return;
  }
  liveStop('poll failed');
  progress(100, 'err');
  stageLine(b('poll failed'), ' ' + msg);
  setStatus($('impStatus'), 'poll failed', 'err');
}

async function cancelRun() {
  if (!runId) { toast('No run to cancel', 'err'); return; }
  cancelButton('stopping');
  try {
    const r = await cmd('fusion_cancel_run', { runId });
    if (r.alreadyFinished) {
      toast('That run had already ended (' + str(r.stage) + ')', 'info');
      cancelButton('hidden');
    } else {
      toast('Stopping the import at the next part boundary (a STEP import in progress finishes first)', 'info');
    }
  } catch (e) {
    cancelButton('ready');
    toast(failText(e), 'err');
  }
}

async function attachRun() {
  try {
    const res = resultOf(await cmd('fusion_prove_result', {}));
    const id = firstPresent(res.runId);
    if (!id) { toast('No run to attach to', 'err'); return; }
    toast('Attached to run ' + id, 'ok');
    await watch(id);
  } catch (e) {
    toast(failText(e), 'err');
  }
}

// ---- Restart ask ---------------------------------------------------------------------------
function showRestartAsk(info) {
  const box = $('askBox');
  const nameOf = (d) => (isObjectLike(d) ? str(d.name) : str(d));
  const docs = (Array.isArray(info.openDocuments) ? info.openDocuments : (Array.isArray(info.documentNames) ? info.documentNames : [])).map(nameOf);
  const unsaved = new Set((Array.isArray(info.unsavedDocuments) ? info.unsavedDocuments : []).map(nameOf));
  const remedy = typeof info.remedyVerb === 'string' && /^[A-Za-z0-9_]+$/.test(info.remedyVerb) ? info.remedyVerb : 'fusion_restart_for_addin';
  const ask = h('div', { class: 'ask', 'data-ask': 'addin_restart_required' },
    h('h3', { text: 'Fusion needs a restart to load the Ovra add-in' }),
    h('p', { text: firstPresent(info.userMessage) || 'The add-in is not answering. Restarting Fusion loads it. Your documents will be saved first.' }),
    docs.length ? h('ul', { class: 'docs' }, docs.map((d) => h('li', { text: d + (unsaved.has(d) ? ' (unsaved)' : '') })))
      : h('p', { class: 'note', text: info.documentsKnown === false ? 'The bridge could not list open documents.' : 'No open documents.' }));
  const save = h('button', { class: 'primary', 'data-action': 'restart_save', text: 'Save and restart Fusion' });
  const hold = h('button', { 'data-action': 'restart_hold', text: "I'll handle it" });
  save.addEventListener('click', async () => {
    save.disabled = true;
    try {
      await cmd(remedy, { save: true }, { timeoutMs: 135000 });
      toast('Fusion is restarting with your documents saved', 'ok');
      box.replaceChildren();
    } catch (e) {
      save.disabled = false;
      toast(failText(e), 'err');
    }
  });
  hold.addEventListener('click', async () => {
    try { await cmd(remedy, { decline: true, notificationId: firstPresent(info.notificationId) }); } catch { /* the answer is the user's either way */ }
    box.replaceChildren(h('div', { class: 'ask', text: 'You own the restart. Nothing will restart Fusion until you do; the running import stops.' }));
    toast('Okay, the restart is yours', 'ok');
  });
  ask.append(h('div', { class: 'row' }, save, hold));
  box.replaceChildren(ask);
}

// ---- Feed, banner, catalog -----------------------------------------------------------------
async function feed(action) {
  const status = $('feedStatus');
  setStatus(status, action + '...');
  try {
    const p = await cmd('fusion_live_feed', action === 'status' ? { action } : { action, intervalSec: 1, maxSec: 300 });
    const rows = [
      ['running', p.running ? 'yes' : 'no'],
      ['healthy', has(p, 'healthy') ? (p.healthy ? 'yes' : 'NO') : '(bridge < 1.9.245)'],
      ['tick', str(p.tick)],
      ['captured', str(p.captured)],
      ['buffered', str(p.buffered)],
      ['last error', firstPresent(p.lastError) || 'none'],
    ];
    if (!isEmpty(p._honesty)) rows.push(['honesty', str(p._honesty)]);
    renderKv($('feedKv'), rows);
    if (p.healthy) setStatus(status, 'live', 'ok');
    else if (p.running) setStatus(status, 'running but not live', 'warn');
    else setStatus(status, 'stopped');
    if (!isEmpty(p._honesty)) toast(str(p._honesty), 'err');
    return p;
  } catch (e) {
    setStatus(status, errText(e), 'err');
    toast(failText(e), 'err');
    return null;
  }
}

async function banner(show) {
  const status = $('bannerStatus');
  try {
    const p = await cmd('fusion_activity_banner', show
      ? { action: 'show', title: 'Quick Actions demo', detail: 'driven from the browser through Ovra Bridge', percent: 42, tone: 'working' }
      : { action: 'hide' });
    renderKv($('bannerKv'), [['result', summarize(has(p, 'result') && p.result !== null ? p.result : p)]]);
    setStatus(status, show ? 'shown in Fusion' : 'hidden', 'ok');
  } catch (e) {
    setStatus(status, errText(e), 'err');
    toast(failText(e), 'err');
  }
}

let verbs = [];

function renderCatalog() {
  const q = $('catFilter').value.trim().toLowerCase();
  const hits = verbs.filter((v) => !q || v.name.toLowerCase().includes(q) || v.description.toLowerCase().includes(q)).slice(0, 200);
  $('catList').replaceChildren(...(hits.length ? hits.map((v) => h('li', null, h('span', { class: 'vn', text: v.name }), h('span', { text: v.description.slice(0, 160) })))
    : [h('li', { class: 'note', text: 'nothing matches' })]));
}

async function describe() {
  const status = $('catStatus');
  setStatus(status, 'loading...');
  try {
    verbs = catalogEntries(await cmd('fusion_describe', {}, { timeoutMs: 60000 }));
    setStatus(status, verbs.length + ' verbs', 'ok');
    renderCatalog();
  } catch (e) {
    setStatus(status, errText(e), 'err');
    toast(failText(e), 'err');
  }
}

// ---- Wiring --------------------------------------------------------------------------------
viewVia(cmd);
$('bpWiki').href = WIKI + '/ovra/ovra-bridge';
const on = (id, fn) => $(id).addEventListener('click', fn);
on('btnConnect', () => connect());
on('btnResolve', () => { multiPick = false; markChips(); resolvePart(); });
$('partRef').addEventListener('keydown', (e) => { if (e.key === 'Enter') { e.preventDefault(); resolvePart(); } });
$('tglNoModel').addEventListener('change', (e) => { skipModel = e.target.checked; resolvePart(); });
on('btnShuffle', () => shuffle());
on('btnFusion', () => readFusion());
on('btnPlan', () => plan());
on('btnImport', () => importBundle());
on('btnAttach', () => attachRun());
on('btnCancel', () => cancelRun());
on('btnFeed', () => feed('status'));
on('btnFeedStart', async () => { if (await feed('start')) liveStart(); });
on('btnFeedStop', () => { liveStop('stopped by you'); feed('stop'); });
on('btnBannerShow', () => banner(true));
on('btnBannerHide', () => banner(false));
on('btnDescribe', () => describe());
$('catFilter').addEventListener('input', renderCatalog);
on('btnClear', () => { $('log').replaceChildren(); setCallCount(0); });

window.QuickActions = {
  connect,
  resolvePart,
  importBundle,
  poll,
  cmd,
  state: () => ({ bridge: bridge ? { port: bridge.port, status: bridge.status } : null, part, staged, runId, callCount }),
};
// The page's plain logic, callable on its own (by tests, or an agent checking a bundle).
window.QuickActionsLib = {
  crc32, makeZip, GENERIC_NAME, GENERIC_DESCRIPTION, fillLibrary, mergeLibraries, safeName, splitRefs, refPath,
  readPartPage, buildPartSet, partSetName, modelEntries, parseCatalog, drawChips, pickRefs, formatDate, stripYear,
  summarize, readReply, pollFailureKind, lintText, catalogEntries, stageBundle, toBase64,
  addresses: { bridgeHost: BRIDGE_HOST, bridgePorts: PORTS, wiki: WIKI },
};

// Reached from another site: say so. Nothing here talks to a box before the user presses Connect.
if (document.querySelector('meta[name="loomdeck-entrance"]')?.content === 'foreign') {
  $('entranceLine').hidden = false;
  document.addEventListener('click', () => { $('entranceLine').hidden = true; }, { once: true });
}

(async function start() {
  $('chips').replaceChildren("loading Sefa's parts...");
  let failure = null;
  try { await loadCatalog(); } catch (e) { failure = e; }
  resolvePart();
  if (failure) chipsFailed(failure);
  else shuffle();
})();
