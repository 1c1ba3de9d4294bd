// The bridge misbehaving in every way the simulator can make it: no output, non-JSON, invalid
// UTF-8, 8 MiB of output, a crash, a failing exit status with a valid answer, and a call that
// never returns. Every route and `loomdeck status` still answer with well-formed JSON, and a
// hung call holds up only the request that made it.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import path from 'node:path';
import { makeSandbox, startServer, sim, simLog, runCli, SIM_BIN, getJson, waitFor } from '../helpers/harness.mjs';
import { runCliAsync } from '../helpers/port_range.mjs';
import { processesOf } from '../helpers/procfs.mjs';

const utf8 = new TextDecoder('utf-8', { fatal: true });
const LEDS = ['addinReady', 'aps', 'datahub', 'fusionRunning', 'mcp', 'signedIn', 'update'];
const NO_ANSWER = 'the bridge did not answer (busy running a long verb?)';

let sb;
let srv;
before(async () => {
  sb = makeSandbox();
  sim(sb, 'reset', 'demo');
  srv = await startServer(sb, ['--target', 'Studio']);
});
after(async () => {
  sim(sb, 'clear-faults');
  killBridges();
  await srv.stop();
  sb.cleanup();
});

function bridges() {
  return processesOf(path.join(SIM_BIN, 'ovra-bridge'), `OVRA_SIM_DIR=${sb.simDir}`);
}
function killBridges() {
  for (const pid of bridges()) {
    try { process.kill(pid, 'SIGKILL'); } catch { /* already gone */ }
  }
}

// Fetches a route and insists on a 200 reply whose bytes are valid UTF-8 JSON.
async function wellFormed(route, init) {
  const res = await fetch(srv.url + route, init);
  assert.equal(res.status, 200, route);
  const text = utf8.decode(new Uint8Array(await res.arrayBuffer()));
  return JSON.parse(text);
}
const action = (verb, box, signal) => wellFormed('/api/action', {
  method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify({ action: verb, target: box, args: {} }), signal,
});

function assertPayload(payload, box) {
  assert.equal(payload.target, box);
  assert.deepEqual(Object.keys(payload.leds), LEDS);
  assert.match(payload.state, /^(ok|warn)$/);
  assert.equal(typeof payload._hint, 'string');
}

// [kind, value, whether the answer still carries the bridge's JSON, what the status says otherwise]
const FAULTS = [
  ['empty', null, false, (r) => assert.equal(r, NO_ANSWER)],
  ['garbage', 'this is not JSON <at all>', false, (r) => assert.match(r, /this is not JSON <at all>/)],
  ['badutf8', 'json', false, (r) => assert.match(r, /\ufffd/)],
  ['badutf8', 'raw', false, (r) => assert.match(r, /\ufffd/)],
  ['huge', '8', true],
  ['crash', 'abort', false, (r) => assert.ok(r.length <= 200)],
  ['crash', 'segv', false, (r) => assert.ok(r.length <= 200)],
  ['crash', 'kill', false, (r) => assert.ok(r.length <= 200)],
  ['exit', '3', true],
];
// 8 MiB is far past a pipe's 64 KiB, the few MiB of a screenshot (the largest answer the bridge
// really gives) and a socket's 4 MiB send buffer, and under the 64 MiB the server reads. Reading
// an answer costs about half a CPU second per 10 MiB (over a second under AddressSanitizer), all
// inside the readiness probe's 30 s limit, which a 50 MiB answer met on a busy machine. Only the
// readiness probe (read by the status, health, targets and command views) and one action (passed
// through whole) grow that big.
const HUGE_TOOLS = ['fusion_readiness', 'fusion_start'];

for (const [index, [kind, value, answers, checkReason]] of FAULTS.entries()) {
  test(`bridge fault "${kind}${value ? ` ${value}` : ''}": every route answers well-formed JSON`, async () => {
    const box = `F${index}-${kind}`;
    const fault = [kind, ...(value ? [value] : [])];
    sim(sb, 'add-box', box);
    sim(sb, 'clear-faults');
    for (const tool of kind === 'huge' ? HUGE_TOOLS : ['*']) sim(sb, 'fault', box, tool, ...fault);
    if (kind !== 'huge') sim(sb, 'fault', '*', 'targets', ...fault);
    try {
      const status = await wellFormed(`/api/status?target=${box}`);
      assertPayload(status, box);
      assert.equal(status.answered, answers);
      if (answers) {
        assert.equal(status.busyReason, null);
      } else {
        assert.equal(status.state, 'warn');
        checkReason(status.busyReason);
      }

      const health = await wellFormed(`/api/health?target=${box}`);
      assert.equal(health.dashboardVersion, '1.10.20');
      assert.equal(typeof health.state, 'string');

      const targets = await wellFormed('/api/targets');
      assert.ok(Array.isArray(targets.targets));
      if (answers) assert.ok(targets.targets.some((t) => t.name === box));
      else assert.deepEqual(targets.targets, []);

      for (const verb of ['start', 'stop', 'signin']) {
        const reply = await action(verb, box);
        assert.equal(typeof reply, 'object', verb);
        if (!answers) assert.equal(typeof reply.error, 'string', verb);
      }

      const cli = runCli(sb, ['status', '--target', box]);
      assert.equal(cli.status, 0, cli.stderr);
      const printed = JSON.parse(cli.stdout);
      assertPayload(printed, box);
      assert.equal(printed.answered, answers);
    } finally {
      sim(sb, 'clear-faults');
    }
  });
}

test('arguments too long for the bridge\'s command line are refused at once, without spawning', async () => {
  const calls = simLog(sb).length;
  const args = { email: 'x'.repeat(200000) };
  const reply = await wellFormed('/api/action', {
    method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify({ action: 'signin', target: 'Studio', args }),
  });
  assert.equal(reply.error, `the arguments of fusion_signin are ${JSON.stringify(args).length} bytes; the bridge takes at most 131072 on its command line`);
  assert.equal(typeof reply._hint, 'string');
  assert.equal(simLog(sb).length, calls);
});

test('a hung bridge call blocks only the request that made it', async () => {
  const box = 'F-hang';
  sim(sb, 'add-box', box);
  sim(sb, 'clear-faults');
  sim(sb, 'fault', box, '*', 'hang');
  const before = bridges().length;

  const status = wellFormed(`/api/status?target=${box}`);
  const start = action('start', box);
  const cli = runCliAsync(sb, ['status', '--target', box]);
  // The cached view never waits: it answers at once and warms up in the background.
  const health = await getJson(`${srv.url}/api/health?target=${box}`);
  assert.equal(health.json.state, 'unknown');

  // Other requests, including a live status of another box, go on.
  assert.equal((await getJson(`${srv.url}/api/ping`)).json.app, 'loomdeck');
  const bench = await wellFormed('/api/status?target=Bench');
  assert.equal(bench.answered, true);
  assert.equal((await wellFormed('/health')).ok, true);

  // Seven probes shared by /api/status and the warm-up, seven for the command, one for start.
  await waitFor(() => bridges().length >= before + 15, { timeoutMs: 60000, what: 'all hung bridge calls' });
  sim(sb, 'clear-faults');
  killBridges();

  const [s, a, c] = await Promise.all([status, start, cli]);
  assertPayload(s, box);
  assert.equal(s.answered, false);
  assert.equal(s.busyReason, NO_ANSWER);
  assert.deepEqual(a, { error: '' });
  assert.equal(c.status, 0, c.stderr);
  assertPayload(JSON.parse(c.stdout), box);
  await waitFor(() => bridges().length === 0, { what: 'no bridge processes left' });
});
