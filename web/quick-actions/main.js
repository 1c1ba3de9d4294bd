// The quick-actions page: finds Ovra Bridge's listener, resolves wiki part pages into a part set,
// bundles and stages it, starts the import and watches the run to its verdict with live frames.

import { $, h } from '../kit/dom.js';
import { catalogEntries, isEmpty, lintText, pollFailureKind, readReply, summarize } from '../kit/reply.js';
import { toast } from '../kit/toast.js';
import { errText, firstPresent, has, isNum, isObjectLike, safeName, str, timeoutSignal } from '../kit/values.js';
import { DEFAULT_WIKI } from '../kit/wiki.js';
import { crc32, makeZip, toBase64, utf8 } from '../kit/zip.js';
import { liveStart, liveStop, viewVia } from './frames.js';
import { fillLibrary, GENERIC_DESCRIPTION, GENERIC_NAME, mergeLibraries } from './library.js';
import { connectAndWatch } from './freshness.js';
import { bridge, BRIDGE_HOST, cmd, failText, findBridgeAgain, granted, PORT_TEXT, PORTS } from './listener.js';
import { callCount, setCallCount } from './log.js';
import { showRestartAsk } from './restart-ask.js';
import { attachRun, cancelRun, poll, progress, renderLint, restartVia, runId, stageLine, watch } from './runs.js';
import { stageBundle } from './staging.js';
import { b, renderKv, setStatus } from './view.js';
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

const OWNER = 'sefa';

// ?wiki=URL points the page at another wiki (a staging one).
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
const WIKI = wikiBase(params.get('wiki'));

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
    stageLine(b('not allowed'), ' Ovra Bridge asked you to allow this page and did not get a click in time. Press the button again and click Allow (1 hr) in the Ovra Bridge toast, or grant this page in Ovra Bridge\'s Settings > Web Control.');
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
  await findBridgeAgain();
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
restartVia(importBundle);
$('bpWiki').href = WIKI + '/ovra/ovra-bridge';
$('bpLane').textContent = 'browser → ' + BRIDGE_HOST + ':' + PORT_TEXT + ' → Ovra Bridge';
const on = (id, fn) => $(id).addEventListener('click', fn);
on('btnConnect', () => connectAndWatch());
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
  connect: connectAndWatch,
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
