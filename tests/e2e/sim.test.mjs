// End-to-end checks of the ovra-bridge stand-in as the product meets it: real processes, real
// files, parallel calls against one box, and faults injected from the command line.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import path from 'node:path';
import { makeSandbox, sim, SIM_BIN, waitFor, simLog } from '../helpers/harness.mjs';

const BRIDGE = path.join(SIM_BIN, 'ovra-bridge');

// Runs ovra-bridge and resolves with its raw stdout bytes, exit status and signal.
function bridge(sb, args, { timeoutMs = 30000 } = {}) {
  return new Promise((resolve, reject) => {
    const proc = spawn(BRIDGE, args, { env: sb.env, stdio: ['ignore', 'pipe', 'pipe'] });
    const out = [];
    let err = '';
    const timer = setTimeout(() => { proc.kill('SIGKILL'); reject(new Error(`ovra-bridge ${args.join(' ')} did not finish`)); }, timeoutMs);
    proc.stdout.on('data', (d) => out.push(d));
    proc.stderr.on('data', (d) => { err += d; });
    proc.on('close', (status, signal) => {
      clearTimeout(timer);
      resolve({ stdout: Buffer.concat(out), status, signal, stderr: err, pid: proc.pid });
    });
  });
}

const call = (sb, box, tool, args = '{}', thread = 'e2e') => bridge(sb, ['--target', box, '--ai-thread', thread, tool, args]);
const callJson = async (sb, ...a) => JSON.parse((await call(sb, ...a)).stdout.toString('utf8'));
const unwrap = (r) => (r && r.data && typeof r.data === 'object' && Object.keys(r.data).length ? r.data : r);
const activity = simLog;

const STATUS_TOOLS = ['fusion_readiness', 'fusion_aps_status', 'fusion_mcp_status', 'fusion_set_auto_update',
  'fusion_set_seat_takeover', 'fusion_set_driving_badge', 'fusion_set_activity_indicator'];

test('the status fan-out: seven parallel calls on one box all answer and are all logged', async (t) => {
  const sb = makeSandbox();
  t.after(sb.cleanup);
  sim(sb, 'reset', 'signed-in');
  const results = await Promise.all(STATUS_TOOLS.map((tool) => call(sb, 'Studio', tool, '{}', 'status-probe')));
  for (const [i, r] of results.entries()) {
    assert.equal(r.status, 0, STATUS_TOOLS[i]);
    assert.doesNotThrow(() => JSON.parse(r.stdout.toString('utf8')), STATUS_TOOLS[i]);
  }
  const [ready, aps, mcp, update, seat, badge, indicator] = results.map((r) => unwrap(JSON.parse(r.stdout)));
  assert.equal(ready.ready, true);
  assert.equal(aps.signedIn, true);
  assert.equal(mcp.enabled, true);
  assert.equal(update.autoUpdateFusion, true);
  assert.equal(seat.autoTakeOverSeat, true);
  assert.equal(badge.showDrivingBadge, true);
  assert.equal(indicator.activityIndicator, 'progress');

  const log = activity(sb);
  assert.equal(log.length, 7);
  assert.deepEqual(log.map((e) => e.tool).sort(), [...STATUS_TOOLS].sort());
  for (const e of log) {
    assert.equal(e.aiThread, 'status-probe');
    assert.equal(e.target, 'Studio');
    assert.equal(e.args, '{}');
  }
  assert.equal(JSON.parse(sim(sb, 'show', 'Studio')).calls, 7);
});

test('many processes doing read-modify-write on one box lose no update', async (t) => {
  const sb = makeSandbox();
  t.after(sb.cleanup);
  sim(sb, 'reset', 'demo');
  const n = 24;
  await Promise.all(Array.from({ length: n }, (_, i) =>
    call(sb, 'Studio', 'fusion_set_driving_badge', JSON.stringify({ enabled: i % 2 === 0 }))));
  const state = JSON.parse(sim(sb, 'show', 'Studio'));
  assert.equal(state.calls, n);
  assert.equal(activity(sb).length, n);
});

test('first use without any state serves the demo scenario', async (t) => {
  const sb = makeSandbox();
  t.after(sb.cleanup);
  const targets = JSON.parse((await bridge(sb, ['targets'])).stdout);
  assert.deepEqual(targets.targets.map((x) => x.name), ['Studio', 'Bench']);
  const r = unwrap(await callJson(sb, 'Studio', 'fusion_readiness'));
  assert.equal(r.installed, true);
  assert.equal(r.running, false);
  assert.equal(r.needsSignin, false);
});

test('a launch shows progress and turns ready after its simulated duration', async (t) => {
  const sb = makeSandbox();
  t.after(sb.cleanup);
  sim(sb, 'reset', 'demo');
  // Far longer than two calls take on any machine; the box's clock is then moved past it.
  sim(sb, 'set', 'Studio', 'launchSeconds=600');
  const started = await callJson(sb, 'Studio', 'fusion_start');
  assert.equal(started.launching, true);
  const during = unwrap(await callJson(sb, 'Studio', 'fusion_readiness'));
  assert.equal(during.ready, false);
  assert.equal(typeof during.progress.etaSec, 'number');
  assert.equal(during.progress.stepLabel, 'Starting Fusion');
  sim(sb, 'advance', 'Studio', '600');
  await waitFor(async () => unwrap(await callJson(sb, 'Studio', 'fusion_readiness')).ready, { what: 'Studio ready' });
  const mcp = await callJson(sb, 'Studio', 'fusion_mcp_enable');
  assert.equal(mcp.success, true);
  assert.equal((await callJson(sb, 'Studio', 'fusion_mcp_status')).enabled, true);
});

test('faults injected from the command line', async (t) => {
  const sb = makeSandbox();
  t.after(sb.cleanup);
  sim(sb, 'reset', 'signed-in');

  sim(sb, 'fault', 'Studio', 'fusion_state', 'garbage', '--count', '1');
  let r = await call(sb, 'Studio', 'fusion_state', '{"screenshot":false}');
  assert.equal(r.status, 0);
  assert.equal(r.stdout.toString('utf8'), 'Traceback (most recent call last):\n  bridge relay lost the add-in socket\n');
  r = await call(sb, 'Studio', 'fusion_state', '{"screenshot":false}');
  assert.equal(JSON.parse(r.stdout).running, true, 'a counted fault clears itself');

  sim(sb, 'fault', '*', 'fusion_readiness', 'badutf8', 'raw', '--count', '1');
  r = await call(sb, 'Bench', 'fusion_readiness');
  assert.ok(r.stdout.includes(Buffer.from([0xff, 0xfe])));
  assert.throws(() => JSON.parse(r.stdout.toString('latin1')));

  sim(sb, 'fault', 'Studio', 'fusion_readiness', 'badutf8', '--count', '1');
  r = await call(sb, 'Studio', 'fusion_readiness');
  assert.ok(r.stdout.includes(Buffer.from([0xff, 0xfe])));
  assert.equal(unwrap(JSON.parse(r.stdout.toString('utf8'))).ready, true, 'JSON once the bad bytes are replaced');

  sim(sb, 'fault', 'Studio', 'fusion_kill', 'crash', '--count', '1');
  r = await call(sb, 'Studio', 'fusion_kill');
  assert.equal(r.signal, 'SIGABRT');
  assert.ok(r.stdout.length > 0);
  assert.throws(() => JSON.parse(r.stdout));

  sim(sb, 'fault', 'Studio', 'fusion_aps_status', 'exit', '5', '--count', '1');
  r = await call(sb, 'Studio', 'fusion_aps_status');
  assert.equal(r.status, 5);
  assert.equal(JSON.parse(r.stdout).ok, true);

  sim(sb, 'fault', 'Studio', 'fusion_mcp_status', 'empty', '--count', '1');
  r = await call(sb, 'Studio', 'fusion_mcp_status');
  assert.equal(r.stdout.length, 0);

  sim(sb, 'fault', 'Studio', 'fusion_set_auto_update', 'huge', '3', '--count', '1');
  r = await call(sb, 'Studio', 'fusion_set_auto_update');
  assert.ok(r.stdout.length > 3 * 1024 * 1024);
  assert.equal(JSON.parse(r.stdout).autoUpdateFusion, true);

  sim(sb, 'fault', 'Bench', '*', 'hang');
  const hung = spawn(BRIDGE, ['--target', 'Bench', '--ai-thread', 'e2e', 'fusion_readiness', '{}'], { env: sb.env, stdio: 'ignore' });
  const ended = new Promise((resolve) => hung.on('close', (status, signal) => resolve(signal)));
  await waitFor(() => activity(sb).some((e) => e.target === 'Bench' && e.faults?.includes('hang')), { what: 'the hung call in the log' });
  assert.equal(hung.exitCode, null, 'a hung call stays until killed');
  hung.kill('SIGTERM');
  assert.equal(await ended, 'SIGTERM');

  sim(sb, 'clear-faults');
  r = await call(sb, 'Bench', 'fusion_readiness');
  assert.equal(r.status, 0);
  assert.deepEqual(JSON.parse(sim(sb, 'faults')), []);
});

test('contract errors are JSON on stdout with exit status 1', async (t) => {
  const sb = makeSandbox();
  t.after(sb.cleanup);
  let r = await call(sb, 'Attic', 'fusion_readiness');
  assert.equal(r.status, 1);
  assert.deepEqual(JSON.parse(r.stdout), { _hint: 'ovra-bridge targets lists the boxes: Studio, Bench.', error: "unknown target 'Attic'" });
  r = await call(sb, 'Studio', 'fusion_warp');
  assert.equal(r.status, 1);
  assert.equal(JSON.parse(r.stdout).error, 'unknown tool fusion_warp');
  r = await call(sb, 'Studio', 'fusion_state', 'not json');
  assert.equal(r.status, 1);
  assert.equal(JSON.parse(r.stdout).error, 'arguments are not valid JSON: not json');
});
