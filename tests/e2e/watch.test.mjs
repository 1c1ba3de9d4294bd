// `loomdeck watch`: live events as JSON lines, across a server restart, until its reader goes.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import readline from 'node:readline';
import { LOOMDECK, checkStderr, getJson, makeSandbox, postJson, sim, startServer, waitFor } from '../helpers/harness.mjs';

function startWatch(sb, args) {
  const proc = spawn(LOOMDECK, ['watch', ...args], { env: sb.env, stdio: ['ignore', 'pipe', 'pipe'] });
  const watch = { proc, raw: [], lines: [], stderr: '' };
  readline.createInterface({ input: proc.stdout }).on('line', (line) => {
    watch.raw.push(line);
    watch.lines.push(JSON.parse(line));
  });
  proc.stderr.on('data', (d) => { watch.stderr += d; });
  watch.exited = new Promise((resolve) => proc.once('close', resolve));
  return watch;
}

test('watch prints a state line when a status is built and follows a restarted server', async () => {
  const sb = makeSandbox();
  sim(sb, 'reset', 'demo');
  let srv = await startServer(sb);
  const all = startWatch(sb, ['--port', String(srv.port), '--target', 'Studio']);
  const states = startWatch(sb, ['--port', String(srv.port), '--events', 'state']);
  try {
    await waitFor(() => all.lines.some((l) => l.event === 'hello'), { what: 'the hello line' });
    await waitFor(async () => (await getJson(`${srv.url}/health`)).json.sseClients === 2, { what: 'both streams' });
    await getJson(`${srv.url}/api/status?target=Studio`);
    for (const w of [all, states]) {
      await waitFor(() => w.lines.some((l) => l.event === 'state' && l.data.target === 'Studio'), { what: 'the state line' });
    }
    assert.match(all.raw.find((l) => l.includes('"event":"state"')), /^\{"data":\{.*\},"event":"state"\}$/);

    await srv.stop();
    srv = await startServer(sb, [], { port: srv.port });
    for (const w of [all, states]) {
      await waitFor(() => w.lines.some((l) => l.event === 'reconnected'), { what: 'the reconnected line', timeoutMs: 60000 });
    }
    await waitFor(async () => (await getJson(`${srv.url}/health`)).json.sseClients === 2, { what: 'both streams again' });
    await postJson(`${srv.url}/ui/toast`, { message: 'back again' });
    await waitFor(() => all.lines.some((l) => l.event === 'toast' && l.data.message === 'back again'), { what: 'the toast line' });
    assert.deepEqual(all.lines.map((l) => l.event).filter((e) => e !== 'state' && e !== 'logbook'),
      ['hello', 'reconnected', 'hello', 'toast']);
    assert.deepEqual([...new Set(states.lines.map((l) => l.event))], ['state', 'reconnected']);

    // Its reader goes away: the next line it writes fails, and it ends with 0.
    all.proc.stdout.destroy();
    await postJson(`${srv.url}/ui/toast`, { message: 'nobody reads this' });
    assert.equal(await all.exited, 0);
  } finally {
    for (const w of [all, states]) if (w.proc.exitCode === null) w.proc.kill('SIGKILL');
    await srv.stop();
    sb.cleanup();
  }
  checkStderr(all.stderr + states.stderr, 'loomdeck watch');
});
