// Many clients at once against every shared structure of the server: status builds and their
// cache, warm-ups, settings saves, the event hub with streams coming and going, toasts, actions
// and an auto-green run. The test command also runs this file against a ThreadSanitizer build.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { EventSource } from 'eventsource';
import { makeSandbox, startServer, sim, getJson, postJson, waitFor } from '../helpers/harness.mjs';

let sb;
let srv;
before(async () => {
  sb = makeSandbox();
  sim(sb, 'reset', 'demo');
  sim(sb, 'set', 'Studio', 'launchSeconds=2');
  sim(sb, 'set', 'Bench', 'launchSeconds=2');
  srv = await startServer(sb);
});
after(async () => {
  await srv.stop();
  sb.cleanup();
});

test('concurrent requests of every kind all answer, and saves lose nothing', async () => {
  const streams = [];
  const openStream = () => new Promise((resolve) => {
    const es = new EventSource(`${srv.url}/events`);
    streams.push(es);
    es.addEventListener('hello', () => resolve(es));
  });
  await Promise.all([openStream(), openStream()]);

  const requests = [];
  const ok = async (promise, what) => {
    const r = await promise;
    assert.equal(r.status, 200, what);
    return r;
  };
  for (let round = 0; round < 6; round++) {
    for (const box of ['Studio', 'Bench']) {
      requests.push(ok(getJson(`${srv.url}/api/status?target=${box}`), 'status'));
      requests.push(ok(getJson(`${srv.url}/api/health?target=${box}`), 'health'));
    }
    requests.push(ok(getJson(`${srv.url}/api/targets`), 'targets'));
    requests.push(ok(postJson(`${srv.url}/settings`, { [`key${round}`]: round }), 'settings'));
    requests.push(ok(getJson(`${srv.url}/settings`), 'settings read'));
    requests.push(ok(postJson(`${srv.url}/ui/toast`, { message: `round ${round}`, kind: 'info' }), 'toast'));
    requests.push(ok(postJson(`${srv.url}/ui/click`, { target: 'refresh' }), 'click'));
    requests.push(ok(getJson(`${srv.url}/health`), 'liveness'));
    requests.push(ok(getJson(`${srv.url}/console`), 'console'));
    requests.push(ok(postJson(`${srv.url}/api/action`, { action: 'set_driving_badge', target: 'Bench', args: { enabled: round % 2 === 0 } }), 'action'));
    if (round === 1) requests.push(ok(postJson(`${srv.url}/api/auto-green?target=Studio`, { force: true }), 'auto-green'));
    // Streams that open and go while everything else runs.
    requests.push(openStream().then((es) => es.close()));
  }
  await Promise.all(requests);

  // The auto-green run goes on in the background; keep reading status and toasting until it ends.
  await waitFor(async () => {
    await Promise.all([
      getJson(`${srv.url}/api/status?target=Studio`),
      getJson(`${srv.url}/api/status?target=Bench`),
      postJson(`${srv.url}/ui/toast`, { message: 'meanwhile' }),
      openStream().then((es) => es.close()),
    ]);
    return (await getJson(`${srv.url}/console`)).json.lines.some((l) => l === 'auto-green: All green - ready to go');
  }, { timeoutMs: 180000, intervalMs: 200, what: 'the auto-green run to finish' });

  const settings = (await getJson(`${srv.url}/settings`)).json.settings;
  for (let round = 0; round < 6; round++) assert.equal(settings[`key${round}`], round);
  for (const es of streams) es.close();
  await waitFor(async () => (await getJson(`${srv.url}/health`)).json.sseClients === 0, { what: 'streams closed' });
  assert.ok((await getJson(`${srv.url}/console`)).json.lines.includes('toast [info] round 5'));
});
