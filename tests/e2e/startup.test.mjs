import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { makeSandbox, runCli, startServer, getJson, waitFor } from '../helpers/harness.mjs';
import {
  RANGE, portTaken, fakeTool, hideForeignServers, sandboxServers, killSandboxServers, runCliAsync, sessionOf, startRangeServer,
} from '../helpers/port_range.mjs';

const sandboxes = [];
function sandbox() {
  const sb = makeSandbox();
  sandboxes.push(sb);
  return sb;
}
after(() => {
  for (const sb of sandboxes) {
    killSandboxServers(sb);
    sb.cleanup();
  }
});

const logOf = (sb) => path.join(sb.home, '.ovra', 'gantry', 'dashboard.log');

function expectBackgrounded(sb, r) {
  // A server that did not come up says why in its log.
  const log = fs.existsSync(logOf(sb)) ? fs.readFileSync(logOf(sb), 'utf8') : '(none)';
  assert.equal(r.stderr, '', `${r.stderr}the dashboard log: ${log}`);
  assert.equal(r.status, 0);
  const m = r.stdout.match(/^http:\/\/127\.0\.0\.1:(\d+)\/\nOK: loomdeck serving on port (\d+) \(backgrounded; log: (.*)\)\n$/);
  assert.ok(m, r.stdout);
  assert.equal(m[1], m[2]);
  assert.equal(m[3], logOf(sb));
  return Number(m[1]);
}

test('print-url reuses a running server of the same version and starts nothing', async () => {
  const sb = sandbox();
  await hideForeignServers(sb);
  const srv = await startRangeServer(sb);
  const r = runCli(sb, ['serve', '--print-url']);
  assert.equal(r.status, 0);
  assert.equal(r.stdout, `http://127.0.0.1:${srv.port}/\nOK: loomdeck already serving on port ${srv.port} - reusing it\n`);
  assert.equal(r.stderr, '');
  assert.deepEqual(sandboxServers(sb), [srv.proc.pid]);
  assert.equal(fs.existsSync(logOf(sb)), false);
  await srv.stop();
});

test('print-url starts a detached server behind setsid, logs to the dashboard log and reuses it next time', async () => {
  const sb = sandbox();
  await hideForeignServers(sb);
  sb.env.VSCODE_PROXY_URI = '/proxy/{{port}}/';
  const r = runCli(sb, ['serve', '--print-url', '--ai-thread', 't9', '--target', '']);
  assert.equal(r.stderr, '');
  assert.equal(r.status, 0);
  const m = r.stdout.match(/^\/proxy\/(\d+)\/\nOK: loomdeck serving on port (\d+) \(backgrounded; log: (.*)\)\n$/);
  assert.ok(m, r.stdout);
  const port = Number(m[1]);
  assert.equal(m[3], logOf(sb));
  const [pid] = sandboxServers(sb);
  assert.ok(pid, 'the background server runs');
  assert.notEqual(sessionOf(pid), sessionOf(process.pid), 'the server left our session');
  assert.equal(fs.readFileSync(`/proc/${pid}/cmdline`, 'utf8').split('\0').slice(1, -1).join(' '),
    'serve --port 8930 --ai-thread t9');
  await waitFor(() => fs.readFileSync(logOf(sb), 'utf8').includes('\n') && fs.readFileSync(logOf(sb), 'utf8'), { what: 'the start line in the log' });
  assert.equal(fs.readFileSync(logOf(sb), 'utf8'), `OK: loomdeck v1.10.20 serving on port ${port} (target auto)\n`);

  const again = runCli(sb, ['serve', '--print-url']);
  assert.equal(again.stdout, `/proxy/${port}/\nOK: loomdeck already serving on port ${port} - reusing it\n`);
  assert.deepEqual(sandboxServers(sb), [pid]);
  killSandboxServers(sb);
});

test('without setsid the launcher starts the server in its own session and does not wait for it', async () => {
  const sb = sandbox();
  await hideForeignServers(sb);
  const probes = path.join(sb.base, 'setsid-calls');
  fakeTool(sb, 'setsid', `echo "$@" >> '${probes}'; exit 1`);
  const r = runCli(sb, ['serve', '--print-url', '--target', 'Studio']);
  expectBackgrounded(sb, r);
  assert.equal(fs.readFileSync(probes, 'utf8'), '--version\n');
  const [pid] = sandboxServers(sb);
  assert.equal(sessionOf(pid), pid, 'the server leads a session of its own');
  assert.equal(fs.readFileSync(`/proc/${pid}/cmdline`, 'utf8').split('\0').slice(1, -1).join(' '),
    'serve --port 8930 --target Studio --ai-thread loomdeck');
  killSandboxServers(sb);
});

test('a server of another version is never reused: a new one binds the next free port', async (t) => {
  const sb = sandbox();
  await hideForeignServers(sb);
  let pings = 0;
  const old = http.createServer((req, res) => {
    if (req.url === '/api/ping') pings += 1;
    res.setHeader('Content-Type', 'application/json');
    res.end(req.url === '/api/ping' ? '{"app":"loomdeck","dashboardVersion":"1.10.19"}' : '{"ok":true}');
  });
  let oldPort = null;
  for (const port of RANGE) {
    if (await portTaken(port)) continue;
    const ok = await new Promise((resolve) => {
      old.once('error', () => resolve(false));
      old.listen(port, '127.0.0.1', () => resolve(true));
    });
    if (ok) { oldPort = port; break; }
  }
  if (oldPort === null) return t.skip('every port of 8930-8940 is taken on this machine');
  try {
    const port = expectBackgrounded(sb, await runCliAsync(sb, ['serve', '--print-url']));
    assert.notEqual(port, oldPort);
    assert.ok(pings >= 2, 'the old server was asked and answered');
    assert.equal((await getJson(`http://127.0.0.1:${port}/api/ping`)).text, '{"app":"loomdeck","dashboardVersion":"1.10.20"}');
  } finally {
    killSandboxServers(sb);
    old.close();
  }
});

test('the start line says auto for an empty target, and the dock webview opens on the advertised URL', async () => {
  const sb = sandbox();
  const calls = path.join(sb.base, 'ovra-cli-calls');
  fakeTool(sb, 'ovra-cli', `for a; do printf '[%s]' "$a" >> '${calls}'; done; echo >> '${calls}'; echo noise; exit 3`);
  sb.env.OVRA_DOCK_WEBVIEW = ' Gantry ';
  sb.env.VSCODE_PROXY_URI = 'https://ws.example/p/{{port}}/?again={{port}}';
  const srv = await startServer(sb, ['--target', '']);
  try {
    assert.equal(srv.output().stdout, `OK: loomdeck v1.10.20 serving on port ${srv.port} (target auto)\n`);
    // The fake writes its arguments one at a time: the call is whole once its line ends.
    const line = await waitFor(() => fs.existsSync(calls) && fs.readFileSync(calls, 'utf8').endsWith('\n') && fs.readFileSync(calls, 'utf8'),
      { what: 'the ovra-cli call' });
    assert.match(line, new RegExp(`^\\[brindle\\]\\[webview\\]\\[open-or-refresh\\]\\[--name\\]\\[ Gantry \\]\\[--url\\]\\[https://ws\\.example/p/${srv.port}/\\?again=${srv.port}&entrance=[0-9a-f]{32}\\]\n$`));
    assert.equal((await getJson(`${srv.url}/health`)).json.ok, true);
    assert.equal(srv.output().stdout, `OK: loomdeck v1.10.20 serving on port ${srv.port} (target auto)\n`);
  } finally {
    await srv.stop();
  }
});

test('print-url gives up after 10 s when the started server never answers', async () => {
  const sb = sandbox();
  await hideForeignServers(sb);
  fakeTool(sb, 'setsid', 'exit 0');
  const r = runCli(sb, ['serve', '--print-url']);
  assert.equal(r.status, 1);
  assert.equal(r.stdout, '');
  assert.equal(r.stderr, `ERROR: background server did not answer within 10s\nHint: Read ${logOf(sb)} for its output.\n`);
  assert.deepEqual(sandboxServers(sb), []);
});
