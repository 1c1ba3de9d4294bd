import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { EventSource } from 'eventsource';
import { makeSandbox, startServer, sim, simLog, getJson, postJson, waitFor } from '../helpers/harness.mjs';

const act = (srv, body) => postJson(`${srv.url}/api/action`, body);

let sb;
let srv;
before(async () => {
  sb = makeSandbox();
  sim(sb, 'reset', 'demo');
  srv = await startServer(sb, ['--target', 'Studio']);
});
after(async () => {
  await srv.stop();
  sb.cleanup();
});

test('verbs reach the bridge with their argument texts and answers come back unchanged', async () => {
  sim(sb, 'clear-log');
  const badge = await act(srv, { action: 'set_driving_badge', args: { enabled: false } });
  assert.equal(badge.json.showDrivingBadge, false);
  const signin = await act(srv, { action: 'signin' });
  assert.equal(signin.json.success, false);
  const wrong = await act(srv, { action: 'Start' });
  assert.equal(wrong.text, '{"_hint":"Actions: start, stop, signin, tour, tour_progress, set_auto_update, set_seat_takeover, mcp_enable, aps_signin, import_basic_part.","error":"unknown action Start"}');
  const calls = simLog(sb).map((c) => [c.tool, c.args, c.target]);
  assert.deepEqual(calls, [['fusion_set_driving_badge', '{"enabled":false}', 'Studio'], ['fusion_signin', 'null', 'Studio']]);
  const lines = (await getJson(`${srv.url}/console`)).json.lines;
  assert.ok(lines.includes('action set_driving_badge target=Studio'));
  assert.ok(lines.includes('action Start target=Studio'));
});

test('start launches Fusion and stop closes it, escalating only for test documents', async () => {
  sim(sb, 'set', 'Bench', 'launchSeconds=1');
  const started = await act(srv, { action: 'start', target: 'Bench' });
  assert.equal(started.json.success, true);
  await waitFor(async () => (await getJson(`${srv.url}/api/status?target=Bench`)).json.leds.addinReady.on, { what: 'Bench ready' });

  sim(sb, 'set', 'Bench', 'documents=["my board"]');
  const refused = await act(srv, { action: 'stop', target: 'Bench' });
  assert.equal(refused.json.success, false);
  assert.equal(refused.json.bridgeDocsOnly, false);
  assert.equal(refused.json.escalated, undefined);

  sim(sb, 'set', 'Bench', 'documents=["ovra-test-board schematic"]');
  const forced = await act(srv, { action: 'stop', target: 'Bench' });
  assert.deepEqual(forced.json, {
    _hint: "The graceful close was blocked only by the bridge's own generated test documents, so it was force-closed for you - nothing of yours was at risk.",
    escalated: true,
    gracefulError: forced.json.gracefulError,
    success: true,
  });
  assert.equal(typeof forced.json.gracefulError, 'string');
  assert.equal((await getJson(`${srv.url}/api/status?target=Bench`)).json.leds.fusionRunning.on, false);
});

test('auto-green honours autoGreenOnLaunch unless forced', async () => {
  const file = path.join(sb.home, '.ovra', 'loomdeck', 'settings.json');
  await postJson(`${srv.url}/settings`, { autoGreenOnLaunch: false });
  const off = await postJson(`${srv.url}/api/auto-green?target=Bench`, '');
  assert.equal(off.text, '{"_hint":"autoGreenOnLaunch is off - the Dashboard is showing status only (the user\'s choice, sticky).","ok":true,"started":false}');
  sim(sb, 'reset', 'signed-in');
  const forced = await postJson(`${srv.url}/api/auto-green?target=Studio`, { force: true });
  assert.equal(forced.json.started, true);
  assert.equal(forced.json.target, 'Studio');
  const joined = await postJson(`${srv.url}/api/auto-green?target=Studio`, { force: true });
  assert.equal(joined.json.started, false);
  assert.equal(joined.json._hint, 'A run for THIS box is already in flight (or finished in the last 3 minutes) - joined it instead of stacking a second launch.');
  await waitFor(async () => (await getJson(`${srv.url}/console`)).json.lines.includes('auto-green: All green - ready to go'), { what: 'the run to end' });
  fs.rmSync(file);
});

test('a whole auto-green run drives a fresh box to green, narrated on the live channel', { timeout: 180000 }, async () => {
  sim(sb, 'reset', 'demo');
  // Long enough that the run's first wait pass still finds the launch under way.
  sim(sb, 'set', 'Studio', 'launchSeconds=12', 'mcpEnableSeconds=1', 'apsSigninSeconds=1');
  const es = new EventSource(`${srv.url}/events`);
  const events = [];
  for (const name of ['toast', 'state', 'progress']) es.addEventListener(name, (e) => events.push([name, JSON.parse(e.data)]));
  await new Promise((resolve) => es.addEventListener('hello', resolve));

  // Forced: the previous test's run on this box finished less than 180 s ago.
  const started = await postJson(`${srv.url}/api/auto-green`, { force: true });
  assert.equal(started.json.started, true);
  assert.equal(started.json._hint, 'Auto-green is running in the BACKGROUND; watch /events for per-step toasts and state pushes.');
  await waitFor(() => events.some(([n, v]) => n === 'toast' && (v.message.startsWith('All green') || v.message.startsWith('Ready except'))),
    { timeoutMs: 120000, what: 'the summary toast' });
  es.close();

  const toasts = events.filter(([n]) => n === 'toast').map(([, v]) => [v.kind, v.message]);
  // The launch is narrated as it starts, with the bridge's progress, which the pages' bar draws.
  assert.match(toasts[2][1], /^.+ - about \d+s left \((measured|typical)\)$/);
  toasts.splice(2, 1);
  assert.ok(events.some(([n, v]) => n === 'progress' && v.target === 'Studio'), 'a progress event was pushed');
  assert.deepEqual(toasts, [
    ['', 'Getting Studio ready - launching Fusion and its services in the background'],
    ['', 'Opening Fusion on Studio'],
    ['ok', 'Fusion is up and the bridge add-in is serving'],
    ['', 'Turning on the Fusion MCP server'],
    ['ok', 'Fusion MCP server enabled'],
    ['', 'Signing in to APS cloud search'],
    ['ok', 'APS cloud search is live'],
    ['ok', 'All green - ready to go'],
  ]);
  const states = events.filter(([n]) => n === 'state').map(([, v]) => v);
  assert.ok(states.some((s) => s.leds.fusionRunning.state === 'starting'), 'a starting state was pushed');
  const last = states.at(-1);
  for (const led of ['fusionRunning', 'addinReady', 'aps', 'mcp', 'signedIn', 'datahub', 'update']) assert.equal(last.leds[led].on, true, led);
  const lines = (await getJson(`${srv.url}/console`)).json.lines;
  assert.ok(lines.includes('auto-green: All green - ready to go'));
});

test('Fusion live on another box: no launch, and the seat text on the Fusion LED', async () => {
  sim(sb, 'reset', 'seat-elsewhere');
  sim(sb, 'clear-log');
  assert.equal((await postJson(`${srv.url}/api/auto-green`, { force: true })).json.started, true);
  await waitFor(async () => (await getJson(`${srv.url}/console`)).json.lines.some((l) => l.startsWith('auto-green: Fusion is live on Bench')), { what: 'the seat toast' });
  const s = (await getJson(`${srv.url}/api/status`)).json;
  assert.equal(s.leds.fusionRunning.state, 'off');
  assert.equal(s.leds.fusionRunning._hint, 'Fusion is live on Bench right now - starting it here would take the one Autodesk seat and suspend that box mid-work. Press Start Fusion to take the seat deliberately.');
  assert.ok(!simLog(sb).some((c) => c.tool === 'fusion_start'));
});
