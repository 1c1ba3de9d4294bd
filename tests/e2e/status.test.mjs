import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { EventSource } from 'eventsource';
import { makeSandbox, startServer, sim, simLog, runCli, getJson, postJson, waitFor } from '../helpers/harness.mjs';

const LEDS = ['addinReady', 'aps', 'datahub', 'fusionRunning', 'mcp', 'signedIn', 'update'];

let sb;
let srv;
before(async () => {
  sb = makeSandbox();
  sim(sb, 'reset', 'demo');
  srv = await startServer(sb, ['--ai-thread', 't7']);
});
after(async () => {
  await srv.stop();
  sb.cleanup();
});

test('loomdeck status prints an indented, sorted snapshot of the named box', () => {
  sim(sb, 'clear-log');
  const r = runCli(sb, ['status', '--target', 'Studio', '--ai-thread', 'cli-agent']);
  assert.equal(r.status, 0);
  assert.ok(r.stdout.startsWith('{\n  "_hint": "This is the Dashboard status payload.'));
  assert.ok(r.stdout.endsWith('}\n'));
  const s = JSON.parse(r.stdout);
  assert.equal(s.target, 'Studio');
  assert.equal(s.answered, true);
  assert.deepEqual(Object.keys(s.leds), LEDS);
  assert.equal(s.leds.fusionRunning.state, 'off');
  assert.equal(s.leds.addinReady.state, 'dormant');
  const calls = simLog(sb);
  assert.equal(calls.length, 7);
  assert.ok(calls.every((c) => c.aiThread === 'cli-agent' && c.target === 'Studio' && c.args === '{}'));
});

test('status picks the most ready box when none is named', () => {
  sim(sb, 'reset', 'seat-elsewhere');
  const s = JSON.parse(runCli(sb, ['status']).stdout);
  assert.equal(s.target, 'Bench');
  assert.equal(s.leds.fusionRunning.on, true);
  sim(sb, 'reset', 'demo');
});

test('/api/status and /state give the same snapshot, attributed to the server and pushed live', async () => {
  sim(sb, 'clear-log');
  const es = new EventSource(`${srv.url}/events`);
  const states = [];
  es.addEventListener('state', (e) => states.push(JSON.parse(e.data)));
  await new Promise((resolve) => es.addEventListener('hello', resolve));
  const a = await getJson(`${srv.url}/api/status?target=Studio`);
  const b = await getJson(`${srv.url}/state?target=Studio`);
  assert.equal(a.status, 200);
  assert.deepEqual(a.json, b.json);
  assert.ok(!a.text.includes(' "'), 'compact JSON');
  await waitFor(() => states.length >= 2, { what: 'state events' });
  assert.deepEqual(states[0], a.json);
  es.close();
  // Every tool call names the server's attribution; the box listing (which decides whether a new
  // box name is a real one) takes none.
  assert.ok(simLog(sb).every((c) => c.aiThread === 't7' || c.tool === 'targets'));
  const lines = (await getJson(`${srv.url}/console`)).json.lines;
  assert.ok(lines.includes('status target=Studio'));
});

test('/api/health answers unknown first, then the cached state after the warm-up', async () => {
  const first = await getJson(`${srv.url}/api/health?target=Bench`);
  assert.equal(first.text, '{"dashboardVersion":"1.10.20","detail":"no status gathered yet - warming in the background","state":"unknown"}');
  const cached = await waitFor(async () => {
    const r = await getJson(`${srv.url}/api/health?target=Bench`);
    return r.json.state !== 'unknown' && r.json;
  }, { what: 'warm-up' });
  assert.equal(cached.state, 'ok');
  assert.equal(typeof cached.cachedAgeSec, 'number');
  assert.equal(cached.dashboardVersion, '1.10.20');
  assert.deepEqual(Object.keys(cached.leds), LEDS);
});

test('/api/targets lists every box with its readiness', async () => {
  const r = await getJson(`${srv.url}/api/targets`);
  assert.deepEqual(r.json.targets.map((t) => [t.name, t.running, t.ready]), [['Studio', false, false], ['Bench', false, false]]);
  assert.ok(r.json.targets.every((t) => typeof t.lastReadyAt === 'string'));
  assert.match(r.json._hint, /^One Autodesk seat: start Fusion on whichever box suits the moment/);

  // The pages' timed refresh takes the last listing (one serves every page); a plain request lists anew.
  sim(sb, 'set', 'Bench', 'running=true');
  assert.equal((await getJson(`${srv.url}/api/targets?shared=1`)).text, r.text);
  assert.equal((await getJson(`${srv.url}/api/targets`)).json.targets[1].running, true);
  sim(sb, 'set', 'Bench', 'running=false');
});

test('a busy bridge keeps showing the last verified state, marked stale', async () => {
  await getJson(`${srv.url}/api/status?target=Studio`);
  sim(sb, 'set', 'Studio', 'bridgeResponsive=false');
  const s = (await getJson(`${srv.url}/api/status?target=Studio`)).json;
  sim(sb, 'set', 'Studio', 'bridgeResponsive=true');
  assert.equal(s.stale, true);
  assert.equal(s.answered, true);
  assert.equal(typeof s.busyReason, 'string');
  assert.match(s._hint, /^Showing the state verified \d+s ago: a fresh probe did not answer/);
});

test('without ovra-bridge the snapshot says why, and the server keeps answering', async () => {
  const bare = makeSandbox({ withSim: false });
  const lonely = await startServer(bare, ['--target', 'Studio']);
  try {
    const s = (await getJson(`${lonely.url}/api/status`)).json;
    assert.equal(s.answered, false);
    assert.equal(s.state, 'warn');
    assert.match(s.busyReason, /^ovra-bridge CLI not runnable: /);
    assert.equal(s.target, 'Studio');
    const targets = (await getJson(`${lonely.url}/api/targets`)).json;
    assert.deepEqual(targets.targets, []);
  } finally {
    await lonely.stop();
    bare.cleanup();
  }
});

test('settings: defaults without a file, merge, odd bodies, and concurrent saves', async () => {
  const file = path.join(sb.home, '.ovra', 'loomdeck', 'settings.json');
  const got = await getJson(`${srv.url}/settings`);
  assert.deepEqual(got.json.settings, { autoGreenOnLaunch: true, demoPart: 'tolm/in-s63btg' });
  assert.ok(got.json._hint.startsWith('Dashboard-own settings (container-side).'));
  assert.equal(fs.existsSync(file), false);
  assert.equal(fs.existsSync(path.dirname(file)), true);

  const saved = await postJson(`${srv.url}/settings`, { autoGreenOnLaunch: false });
  assert.deepEqual(saved.json, { ok: true, settings: { autoGreenOnLaunch: false, demoPart: 'tolm/in-s63btg' } });
  assert.equal(fs.readFileSync(file, 'utf8'), '{\n  "autoGreenOnLaunch": false,\n  "demoPart": "tolm/in-s63btg"\n}');
  assert.equal((await postJson(`${srv.url}/settings`, [1, 2])).json.ok, true);
  assert.equal(fs.readFileSync(file, 'utf8'), '{\n  "autoGreenOnLaunch": false,\n  "demoPart": "tolm/in-s63btg"\n}');
  const status = (await getJson(`${srv.url}/api/status?target=Studio`)).json;
  assert.equal(status.settings.autoGreenOnLaunch, false);

  await Promise.all(Array.from({ length: 20 }, (_, i) => postJson(`${srv.url}/settings`, { [`k${i}`]: i })));
  const all = (await getJson(`${srv.url}/settings`)).json.settings;
  for (let i = 0; i < 20; i++) assert.equal(all[`k${i}`], i);
  assert.ok((await getJson(`${srv.url}/console`)).json.lines.some((l) => l.startsWith('settings {"autoGreenOnLaunch":false')));

  fs.writeFileSync(file, '{"autoGreenOnLaunch": null}');
  assert.deepEqual((await getJson(`${srv.url}/settings`)).json.settings, { autoGreenOnLaunch: null, demoPart: 'tolm/in-s63btg' });
  fs.rmSync(file);
});
