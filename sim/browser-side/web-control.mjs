#!/usr/bin/env node
// Stand-in for Ovra Bridge's local web-control listener: GET /status and POST /command with a
// believable box (Fusion running with two documents, staged files kept in memory, one library
// import run at a time that advances one stage per poll, a 1 fps live feed of drawn frames).
//
//   node web-control.mjs [--port N] [--host 127.0.0.1] [--service NAME] [--machine NAME]
//                        [--web-control on|off] [--granted]        (port also from WEB_CONTROL_PORT)
//
// Test controls (never used by the page):
//   POST /sim/scenario  merges knobs: {"status": {...}} into the status reply, "deny": true (403 on
//                       every command), "replies": {"<verb>": {"status": 200, "body": {...}}},
//                       "runScript": [<result or {"fail": {...}}>, ...] for the next runs,
//                       "noNextOffset": true, "feedNoHwnd": true, "addinDown": true, "statusDelayMs": 400,
//                       "evidenceExtras": [<frame>, ...]
//   POST /sim/reset     back to the start state;  GET /sim/log  commands received, staged bundles.
import http from 'node:http';
import { cors, flag, listen, parseJson, portFrom, readBody, sendJson } from './http-util.mjs';
import { dataUrl, png } from './png.mjs';
import { readZip } from './zip-reader.mjs';

const argv = process.argv.slice(2);
const host = flag(argv, '--host') ?? '127.0.0.1';
const port = portFrom(argv, 'WEB_CONTROL_PORT', 24680);
const HOME = 'C:/Users/studio';
const BRIDGE_VERSION = '1.9.262';

function initialStatus() {
  const machine = flag(argv, '--machine') ?? 'studio-pc';
  return {
    service: flag(argv, '--service') ?? 'ovra-bridge',
    version: BRIDGE_VERSION,
    machine: { clientName: machine, hostname: machine.toUpperCase(), os: 'Windows 11' },
    webControl: {
      enabled: flag(argv, '--web-control') !== 'off',
      grantedForYou: argv.includes('--granted'),
      promptExpected: !argv.includes('--granted'),
      requireHandshake: false,
    },
  };
}

let state;
function reset() {
  state = {
    status: initialStatus(),
    scenario: {},
    commands: [],
    files: new Map(),
    bundles: {},
    runs: new Map(),
    runSeq: 0,
    currentRun: null,
    feed: { running: false, tick: 0, captured: 0, lastError: null },
  };
}
reset();

const ok = (data, extra = {}) => ({ success: true, data, ...extra });
const fail = (errorCode, error, extra = {}) => ({ success: false, errorCode, error, ...extra });
const boxPath = (p) => (typeof p === 'string' ? p.replace(/^~(?=\/|$)/, HOME) : '');

// --- library import -------------------------------------------------------------------------

function packageNames(lbr) {
  return [...lbr.matchAll(/<package\s[^>]*\bname="([^"]*)"/g)].map((m) => m[1]);
}

// What the bridge's part-number lint reports: every technology is one component variant.
function partMetadata(lbr) {
  const techs = [...lbr.matchAll(/<technology\b[^>]*?(?:\/>|>([\s\S]*?)<\/technology>)/g)].map((m) => m[1] ?? '');
  const has = (body, key) => [...body.matchAll(/<attribute\b([^>]*?)\/?>/g)].some((m) => {
    const name = /\bname="([^"]*)"/.exec(m[1])?.[1] ?? '';
    const value = /\bvalue="([^"]*)"/.exec(m[1])?.[1] ?? '';
    return name.toUpperCase() === key && value.trim() !== '';
  });
  const missingCounts = {};
  for (const k of ['MPN', 'MANUFACTURER', 'MOUSER_PN', 'DIGIKEY_PN', 'LCSC_PN']) missingCounts[k] = techs.filter((b) => !has(b, k)).length;
  const componentsWithoutAnyDistributor = techs.filter((b) => !['MOUSER_PN', 'DIGIKEY_PN', 'LCSC_PN'].some((k) => has(b, k))).length;
  return {
    ok: missingCounts.MPN === 0 && missingCounts.MANUFACTURER === 0 && componentsWithoutAnyDistributor === 0,
    componentsTotal: techs.length,
    variantsTotal: techs.length,
    missingCounts,
    componentsWithoutAnyDistributor,
  };
}

const STEP_COLOURS = { symbol: [60, 120, 200], footprint: [200, 140, 40], '3d': [40, 170, 90], library: [150, 80, 190] };

function proofFrames(run, inline) {
  const frames = [];
  run.parts.forEach((p, i) => {
    for (const step of Object.keys(STEP_COLOURS)) {
      const path = `${HOME}/AppData/Local/Ovra/proof/${run.id}-${i + 1}-${step}.png`;
      const frame = { kind: 'proof', step, part: p.package, width: 160, height: 100, ok: true };
      if (inline) frame.thumbnailDataUrl = dataUrl(state.files.get(path));
      else frame.path = path;
      frames.push(frame);
    }
  });
  return [...frames, ...(state.scenario.evidenceExtras ?? [])];
}

function install(args) {
  const zipPath = boxPath(args.zipPath);
  const zip = state.files.get(zipPath);
  if (!zip) return fail('zip_not_found', `no staged bundle at ${args.zipPath}`, { _hint: 'Stage the bundle with write_file_chunk first.' });
  let entries;
  try { entries = readZip(zip); } catch (e) { return fail('bad_zip', `the bundle is not a valid zip: ${e.message}`); }
  const lbrEntry = entries.find((e) => /\.lbr$/i.test(e.name));
  if (!lbrEntry) return fail('no_library', 'the bundle holds no .lbr library');
  const lbr = lbrEntry.data.toString('utf8');
  state.bundles[zipPath] = { entries: entries.map(({ name, size, crc, flags }) => ({ name, size, crc, flags })), lbr };
  const models = entries.filter((e) => /\.(step|stp)$/i.test(e.name));
  const libraryName = typeof args.libraryName === 'string' && args.libraryName ? args.libraryName : lbrEntry.name.replace(/\.lbr$/i, '');
  const libraryPath = `${HOME}/Documents/Ovra/libraries/${libraryName}.lbr`;
  const packages = packageNames(lbr);
  const parts = packages.slice(0, models.length).map((pkg, i) => ({ package: pkg, modelPath: models[i].name }));
  const unbound = packages.slice(models.length).map((pkg) => ({ package: pkg, reason: 'no STEP model in the bundle' }));
  const receipt = { installed: true, libraryName, libraryPath, partsToBind: parts.length, partsTotal: packages.length, parts, unbound, partMetadata: partMetadata(lbr) };
  if (!models.length) {
    return ok({ ...receipt, started: false, errorCode: 'nothing_to_bind', _hint: 'The library is in the library manager without 3D models; publish a STEP on the wiki page to bind one.' });
  }
  const running = state.currentRun && state.runs.get(state.currentRun);
  if (running && !running.finished) return ok({ ...receipt, started: true, attached: true, runId: running.id, fusion: { status: 'busy', message: 'An import is already running' } });
  const id = `run-${++state.runSeq}`;
  const run = { id, polls: 0, stage: 'queued', finished: false, cancelRequested: false, parts, lbr, script: state.scenario.runScript ?? defaultScript(parts.length) };
  parts.forEach((_, i) => {
    for (const [step, rgb] of Object.entries(STEP_COLOURS)) {
      state.files.set(`${HOME}/AppData/Local/Ovra/proof/${id}-${i + 1}-${step}.png`, png(160, 100, [22, 27, 34], [{ x: 20, y: 20, w: 120, h: 60, rgb }]));
    }
  });
  state.runs.set(id, run);
  state.currentRun = id;
  return ok({ ...receipt, started: true, attached: false, runId: id, fusion: { status: 'ready', message: 'Fusion is running and its add-in answers' }, estimatedSec: 20.4 + 14.5 * parts.length }, { _hint: `Poll fusion_prove_result with runId ${id}.` });
}

function defaultScript(n) {
  return [
    { stage: 'importing_step', stageLabel: `importing the STEP model of part 1 of ${n}`, percent: 35, etaSec: 18.2 },
    { stage: 'done' },
  ];
}

function doneResult(run, inline) {
  const evidence = proofFrames(run, inline);
  return {
    runId: run.id, stage: 'done', percent: 100, verdict: 'proven',
    prove: { proven: true, partsProven: run.parts.length, partsTotal: run.parts.length },
    partsTotal: run.parts.length, evidenceCount: evidence.length, evidence, partMetadata: partMetadata(run.lbr),
  };
}

function proveResult(args) {
  if (args.runId === undefined) {
    const run = state.currentRun && state.runs.get(state.currentRun);
    if (!run || run.finished) return ok({ result: { stage: 'idle' } });
    return ok({ result: { runId: run.id, stage: run.stage, partsTotal: run.parts.length } });
  }
  const run = state.runs.get(args.runId);
  if (!run) return fail('run_not_found', `no prove run ${args.runId} on file`);
  if (run.finished) return ok({ result: run.final.stage === 'done' ? doneResult(run, args.inlineFrames === true) : run.final });
  run.polls += 1;
  if (run.cancelRequested) {
    run.finished = true;
    run.final = { runId: run.id, stage: 'cancelled', error: 'cancelled by the user', cancelledAt: `binding part 1 of ${run.parts.length}` };
    return ok({ result: run.final });
  }
  const step = run.script[Math.min(run.polls, run.script.length) - 1];
  if (step.fail) return { status: step.fail.status ?? 200, body: fail(step.fail.errorCode, step.fail.error) };
  run.stage = step.stage;
  if (step.stage === 'done') {
    run.finished = true;
    run.final = { stage: 'done' };
    return ok({ result: doneResult(run, false) });
  }
  const result = { runId: run.id, partsTotal: run.parts.length, ...step };
  if (run.cancelRequested) result.cancelRequested = true;
  if (step.stage === 'failed') { run.finished = true; run.final = result; }
  return ok({ result });
}

function cancelRun(args) {
  const run = state.runs.get(args.runId);
  if (!run) return fail('run_not_found', `no prove run ${args.runId} on file`);
  if (run.finished) return ok({ alreadyFinished: true, stage: run.final.stage });
  run.cancelRequested = true;
  return ok({ alreadyFinished: false, cancelRequested: true, stage: run.stage });
}

// --- files ----------------------------------------------------------------------------------

function writeChunk(args) {
  if (typeof args.path !== 'string' || typeof args.dataB64 !== 'string' || !Number.isInteger(args.offset)) {
    return fail('bad_args', 'write_file_chunk needs path, dataB64 and an integer offset');
  }
  const path = boxPath(args.path);
  const have = args.offset === 0 ? Buffer.alloc(0) : state.files.get(path) ?? Buffer.alloc(0);
  if (args.offset !== have.length) return fail('bad_offset', `expected offset ${have.length}, got ${args.offset}`);
  const next = Buffer.concat([have, Buffer.from(args.dataB64, 'base64')]);
  state.files.set(path, next);
  const data = { bytes: next.length, final: args.final === true };
  if (!state.scenario.noNextOffset) data.nextOffset = next.length;
  if (args.final === true) data.path = path;
  return ok(data);
}

function readFile(args) {
  const path = boxPath(args.path);
  const buf = state.files.get(path);
  if (!buf) return fail('not_found', `no such file: ${args.path}`);
  return ok({ path, encoding: 'base64', size: buf.length, content: buf.toString('base64') });
}

// --- live feed ------------------------------------------------------------------------------

const POPUP_PATH = `${HOME}/AppData/Local/Ovra/feed/popup.png`;

function liveFeed(args) {
  const f = state.feed;
  const counters = () => ({ running: f.running, healthy: f.running, tick: f.tick, captured: f.captured, buffered: Math.min(f.captured, 120), lastError: f.lastError });
  switch (args.action) {
    case 'start':
      f.running = true;
      return ok({ ...counters(), started: true, intervalSec: args.intervalSec, maxSec: args.maxSec });
    case 'stop':
      f.running = false;
      return ok({ ...counters(), stopped: true });
    case 'status':
      return ok(counters());
    case 'frames': {
      if (state.scenario.feedNoHwnd) return ok({ running: true, healthy: false, noHwnd: true, tick: 0, captured: 0, buffered: 0, frames: [] });
      if (!f.running) return ok({ ...counters(), frames: [], _honesty: 'the live feed is stopped; nothing is being captured' });
      f.tick += 1;
      f.captured += 1;
      const x = 20 + (f.tick * 12) % 240;
      state.files.set(POPUP_PATH, png(220, 140, [200, 0, 200]));
      return ok({
        ...counters(),
        frames: [
          { kind: 'main', tick: f.tick, title: 'Autodesk Fusion - amp-board v12', rect: { left: 100, top: 40, width: 640, height: 400 },
            thumbnailDataUrl: dataUrl(png(320, 200, [40, 40, 40], [{ x, y: 150, w: 40, h: 20, rgb: [0, 184, 177] }])) },
          { kind: 'popup', tick: f.tick, title: 'Import STEP', rect: { x: 480, y: 100, w: 220, h: 140 }, path: POPUP_PATH },
          { kind: 'popup', tick: f.tick, title: 'splitter', rect: { left: 110, top: 50, width: 2, height: 50 }, dataUrl: dataUrl(png(2, 50, [255, 140, 0])) },
          { kind: 'popup', tick: f.tick, title: 'MessageTrayWindow', rect: { x: 600, y: 400, w: 120, h: 30 }, dataUrl: dataUrl(png(120, 30, [90, 90, 90])) },
        ],
      });
    }
    default:
      return fail('bad_args', `unknown live feed action: ${args.action}`);
  }
}

// --- the rest of the verbs ------------------------------------------------------------------

const CATALOG = [
  ['fusion_readiness', 'Is Fusion installed, running and ready for the bridge add-in?'],
  ['fusion_state', 'Fusion window state, blocking dialogs and measured launch timings'],
  ['fusion_get_app_state', 'Open documents, which one is active and which have unsaved changes'],
  ['fusion_start', 'Start Fusion on this machine'],
  ['fusion_stop', 'Close Fusion, saving bridge documents only'],
  ['fusion_kill', 'End a hung Fusion process'],
  ['fusion_signin', 'Open the Autodesk sign-in'],
  ['fusion_plan_library_import', 'Pre-flight a library import: stages, consent and measured seconds'],
  ['fusion_install_library_bundle', 'Install a staged zip bundle as a Fusion library and start binding its 3D models'],
  ['fusion_prove_result', 'Progress, proof frames and verdict of an import run'],
  ['fusion_cancel_run', 'Stop an import run at the next part boundary'],
  ['fusion_restart_for_addin', 'Restart Fusion to load the add-in, saving documents first'],
  ['fusion_live_feed', 'Start, stop or read the 1 fps capture of the Fusion window'],
  ['fusion_activity_banner', 'Show or hide the status banner inside Fusion'],
  ['fusion_describe', 'This catalog'],
  ['write_file_chunk', 'Write a base64 chunk of a file on this machine'],
  ['read_file', 'Read a file on this machine (text or base64)'],
];

function plan(args) {
  const parts = Array.isArray(args.parts) ? args.parts : [];
  const down = state.scenario.addinDown === true;
  const stages = [
    ...(down ? [{ label: 'restart Fusion to load the add-in', needsUserConsent: true, estimatedSec: 44.6, confidence: 'measured' }] : []),
    { label: 'stage the bundle', estimatedSec: 1.2, confidence: 'measured' },
    { label: 'open the library in the library manager', estimatedSec: 6.4, confidence: 'measured' },
    ...parts.map((p, i) => ({ stage: `bind_3d_${i + 1}`, label: `bind ${p.modelPath} to ${p.package}`, estimatedSec: 9.3, confidence: 'estimated' })),
    { stage: 'prove', estimatedSec: 4.1, confidence: 'measured' },
  ];
  const total = stages.reduce((s, x) => s + x.estimatedSec, 0);
  return ok({
    fusion: down
      ? { status: 'addin_restart_required', message: 'The Ovra add-in is not answering inside Fusion. Restarting Fusion loads it.' }
      : { status: 'ready', message: 'Fusion is running and its add-in answers' },
    estimatedSec: total, estimatedSecIfAlreadyOpen: total - 6.4, confidence: 'measured', plan: stages,
  });
}

function command(name, args) {
  switch (name) {
    case 'fusion_readiness':
      return { installed: true, running: true, ready: true, fusionRunning: true, needsSignin: false, bridgeVersion: BRIDGE_VERSION, addinVersion: '3.4.1' };
    case 'fusion_get_app_state':
      return ok({ documents: [{ name: 'amp-board v12', isModified: true, isActive: true }, { name: 'enclosure v3', modified: false }] });
    case 'fusion_plan_library_import': return plan(args);
    case 'write_file_chunk': return writeChunk(args);
    case 'fusion_install_library_bundle': return install(args);
    case 'fusion_prove_result': return proveResult(args);
    case 'fusion_cancel_run': return cancelRun(args);
    case 'fusion_restart_for_addin': return ok({ restarting: args.save === true, declined: args.decline === true });
    case 'read_file': return readFile(args);
    case 'fusion_live_feed': return liveFeed(args);
    case 'fusion_activity_banner':
      return args.action === 'hide' ? ok({ shown: false }) : ok({ shown: true, title: args.title, percent: args.percent });
    case 'fusion_describe': return ok({ verbs: CATALOG.map(([n, d]) => ({ name: n, description: d })) });
    default: return fail('unknown_command', `unknown command: ${name}`, { _hint: 'Call fusion_describe for the verb catalog.' });
  }
}

function logged(args) {
  const copy = { ...args };
  if (typeof copy.dataB64 === 'string') copy.dataB64 = `<${copy.dataB64.length} base64 chars>`;
  return copy;
}

async function handle(req, res) {
  cors(res);
  const url = new URL(req.url, 'http://bridge.local');
  if (req.method === 'OPTIONS') { res.writeHead(204); res.end(); return; }
  if (req.method === 'GET' && url.pathname === '/status') {
    if (state.scenario.statusDelayMs) await new Promise((r) => setTimeout(r, state.scenario.statusDelayMs));
    return sendJson(res, 200, state.status);
  }
  if (req.method === 'POST' && url.pathname === '/command') {
    const body = parseJson(await readBody(req));
    if (!body || typeof body.command !== 'string') return sendJson(res, 400, fail('bad_request', 'the body must be {"command": ..., "args": {...}}'));
    const args = body.args && typeof body.args === 'object' ? body.args : {};
    state.commands.push({ command: body.command, args: logged(args) });
    if (state.scenario.deny) return sendJson(res, 403, { error: 'this page is not allowed in Ovra Bridge' });
    const canned = state.scenario.replies?.[body.command];
    if (canned) return sendJson(res, canned.status ?? 200, canned.body ?? {});
    const out = command(body.command, args);
    return out.status && out.body ? sendJson(res, out.status, out.body) : sendJson(res, 200, out);
  }
  if (url.pathname === '/sim/log' && req.method === 'GET') {
    return sendJson(res, 200, { commands: state.commands, bundles: state.bundles, files: [...state.files.keys()] });
  }
  if (url.pathname === '/sim/scenario' && req.method === 'POST') {
    const { status, ...knobs } = parseJson(await readBody(req)) ?? {};
    if (status) state.status = { ...state.status, ...status };
    state.scenario = { ...state.scenario, ...knobs };
    return sendJson(res, 200, { ok: true });
  }
  if (url.pathname === '/sim/reset' && req.method === 'POST') { reset(); return sendJson(res, 200, { ok: true }); }
  return sendJson(res, 404, { error: 'not found' });
}

const server = http.createServer((req, res) => {
  handle(req, res).catch((e) => { if (!res.headersSent) sendJson(res, 500, fail('internal', String(e.message))); else res.destroy(); });
});
listen(server, host, port, 'Ovra Bridge web-control stand-in');
