import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { EventSource } from 'eventsource';
import { SIM_BIN, makeSandbox, startServer, sim, getJson, waitFor } from '../helpers/harness.mjs';

const sb = makeSandbox();
after(() => sb.cleanup());

function bridgeCall(box, tool) {
  const r = spawnSync(path.join(SIM_BIN, 'ovra-bridge'), ['--target', box, tool, '{}'], { env: sb.env, encoding: 'utf8' });
  assert.equal(r.status, 0, r.stderr + r.stdout);
}

const changes = (entries) => entries.map((e) => `${e.led}:${e.from}->${e.to}`);

test('a stopped Fusion and a silent bridge are recorded, pushed live and kept over a restart', async () => {
  sim(sb, 'reset', 'signed-in');
  let srv = await startServer(sb);
  const pushed = [];
  const es = new EventSource(`${srv.url}/events`);
  es.addEventListener('logbook', (e) => pushed.push(JSON.parse(e.data)));
  await new Promise((resolve, reject) => { es.addEventListener('hello', resolve); es.onerror = reject; });
  try {
    await getJson(`${srv.url}/api/status?target=Studio`);
    bridgeCall('Studio', 'fusion_stop');
    await getJson(`${srv.url}/api/status?target=Studio`);
    const r = await getJson(`${srv.url}/api/logbook?target=Studio`);
    assert.equal(r.status, 200);
    assert.match(r.json._hint, /"logbook" event/);
    const stop = r.json.entries.find((e) => e.led === 'fusionRunning' && e.from === 'on');
    assert.deepEqual({ ...stop, at: 'T' }, {
      at: 'T', box: 'Studio', led: 'fusionRunning', label: 'Fusion running', from: 'on', to: 'off',
      hint: 'fusion_start launches it in the BACKGROUND (never steals focus).',
    });
    assert.match(stop.at, /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$/);
    assert.ok(r.json.entries.some((e) => e.led === 'fusionRunning' && e.from === null && e.to === 'on'));
    await waitFor(() => pushed.some((e) => e.led === 'fusionRunning' && e.to === 'off'), { what: 'the logbook event' });
    assert.deepEqual(pushed.find((e) => e.to === 'off' && e.led === 'fusionRunning'), stop);

    sim(sb, 'set', 'Studio', 'bridgeResponsive=false');
    await getJson(`${srv.url}/api/status?target=Studio`);
    await getJson(`${srv.url}/api/status?target=Studio`);
    const silent = (await getJson(`${srv.url}/api/logbook?target=Studio&limit=1`)).json.entries;
    assert.deepEqual(changes(silent), ['bridge:answering->silent']);

    const bad = await getJson(`${srv.url}/api/logbook?limit=abc`);
    assert.equal(bad.status, 400);
    assert.match(bad.json.error, /limit must be a whole number from 1 to 2000/);
    assert.ok(bad.json._hint);
    const foreign = await getJson(`${srv.url}/api/logbook`, { headers: { Origin: 'https://evil.example' } });
    assert.equal(foreign.status, 403);
  } finally {
    es.close();
    await srv.stop();
  }

  const file = path.join(sb.home, '.ovra', 'loomdeck', 'logbook.jsonl');
  assert.equal(fs.statSync(file).mode & 0o777, 0o600);
  srv = await startServer(sb);
  try {
    const kept = (await getJson(`${srv.url}/api/logbook?target=Studio`)).json.entries;
    assert.ok(changes(kept).includes('fusionRunning:on->off'));
    // The restarted server knows the last states: the same silent bridge records nothing new.
    await getJson(`${srv.url}/api/status?target=Studio`);
    assert.equal((await getJson(`${srv.url}/api/logbook?target=Studio`)).json.entries.length, kept.length);
  } finally {
    await srv.stop();
  }
});

test('300 made-up box names get their answer and leave nothing in the logbook', async () => {
  sim(sb, 'reset', 'signed-in');
  const srv = await startServer(sb);
  try {
    const names = Array.from({ length: 300 }, (_, i) => `made-up-${i}`);
    for (let i = 0; i < names.length; i += 10) {
      const replies = await Promise.all(names.slice(i, i + 10).map((n) => getJson(`${srv.url}/api/status?target=${n}`)));
      for (const r of replies) assert.match(r.json.busyReason, /^unknown target/);
    }
    await getJson(`${srv.url}/api/status?target=Studio`);
    const boxes = new Set((await getJson(`${srv.url}/api/logbook?limit=2000`)).json.entries.map((e) => e.box));
    assert.deepEqual([...boxes], ['Studio']);
  } finally {
    await srv.stop();
  }
  const file = fs.readFileSync(path.join(sb.home, '.ovra', 'loomdeck', 'logbook.jsonl'), 'utf8');
  assert.doesNotMatch(file, /made-up/);
});
