import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { EventSource } from 'eventsource';
import { ROOT, LOOMDECK, makeSandbox, runCli, startServer, freePort, waitFor } from '../helpers/harness.mjs';
import { fakeTool, hideForeignServers, killSandboxServers, runAsync, runCliAsync, startRangeServer } from '../helpers/port_range.mjs';

const NO_SERVER = 'ERROR: no loomdeck server answering on 8930-8940\nHint: Start it first: `loomdeck serve &`\n';
const WEBVIEW_HINT = "Hint: to place it in a Brindle webview tab, load the `webview` skill (ovra-workspace-control) and add a tab for that URL - panel selection is the AI's call, never this CLI's.\n";
const SIM_BRIDGE = path.join(ROOT, 'build-sim', 'sim', 'ovra-bridge');

let sb;
let srv;
before(async () => {
  sb = makeSandbox({ withSim: false });
  srv = await startServer(sb);
});
after(async () => {
  await srv.stop();
  sb.cleanup();
});

function openViewer(url) {
  const es = new EventSource(`${url}/events`);
  const events = [];
  for (const name of ['toast', 'click']) es.addEventListener(name, (e) => events.push([name, JSON.parse(e.data)]));
  const ready = new Promise((resolve, reject) => {
    es.addEventListener('hello', resolve);
    es.onerror = reject;
  });
  return { es, events, ready };
}

test('ui argument failures exit 1 without contacting a server', () => {
  const cases = [
    [['ui', 'toast'], 'ERROR: ui toast needs a message\nHint: loomdeck ui toast "running test 3 of 8"\n'],
    [['ui', 'click'], 'ERROR: ui click needs a target\nHint: loomdeck ui click tour   (targets: setup, start, stop, tour, import-part, settings, refresh)\n'],
    [['ui'], 'ERROR: unknown ui verb\nHint: ui toast "msg" [--kind ok|err|info] | ui click <target> | ui state | ui console\n'],
    [['ui', 'reload', '--port', String(srv.port)], 'ERROR: unknown ui verb\nHint: ui toast "msg" [--kind ok|err|info] | ui click <target> | ui state | ui console\n'],
  ];
  for (const [args, err] of cases) {
    const r = runCli(sb, args);
    assert.equal(r.status, 1, args.join(' '));
    assert.equal(r.stdout, '');
    assert.equal(r.stderr, err);
  }
});

test('ui toast and ui click reach an open page and report the viewers', async () => {
  const viewer = openViewer(srv.url);
  await viewer.ready;
  try {
    const port = String(srv.port);
    let r = runCli(sb, ['ui', 'toast', 'done', '--kind', 'ok', '--port', port]);
    assert.equal(r.stderr, '');
    assert.equal(r.status, 0);
    assert.equal(r.stdout, 'OK: {"_hint":"delivered = live SSE viewers that showed it. 0 means nobody has the page open - open it first.","delivered":1,"ok":true}\n');
    r = runCli(sb, ['ui', 'toast', '--kind', 'err', 'oops', '--port', port]);
    assert.equal(r.status, 0);
    r = runCli(sb, ['ui', 'toast', 'caf\u00e9 \u201cquoted\u201d', '--port', port]);
    assert.equal(r.status, 0);
    r = runCli(sb, ['ui', 'click', 'banana', '--port', port]);
    assert.equal(r.status, 0);
    assert.equal(r.stdout, 'OK: {"_hint":"Targets: setup, start, stop, tour, import-part, settings, refresh. The PAGE performs the click, so what the AI drives is exactly what the user gets.","delivered":1,"ok":true}\n');
    await waitFor(() => viewer.events.length === 4, { what: 'four events' });
    assert.deepEqual(viewer.events, [
      ['toast', { kind: 'ok', message: 'done' }],
      ['toast', { kind: 'err', message: '--kind' }],
      ['toast', { kind: 'info', message: 'caf\u00e9 \u201cquoted\u201d' }],
      ['click', { target: 'banana' }],
    ]);
  } finally {
    viewer.es.close();
  }
  const r = runCli(sb, ['ui', 'console', '--port', String(srv.port)]);
  assert.equal(r.status, 0);
  const lines = JSON.parse(r.stdout.replace(/^OK: /, '')).lines;
  for (const line of ['toast [ok] done', 'toast [err] --kind', 'toast [info] caf\u00e9 \u201cquoted\u201d', 'ui click banana']) {
    assert.ok(lines.includes(line), line);
  }
});

test('ui state prints the server\'s JSON reply on one OK line', () => {
  const r = runCli(sb, ['ui', 'state', '--port', String(srv.port)]);
  assert.equal(r.status, 0);
  assert.match(r.stdout, /^OK: \{.*\}\n$/);
  assert.equal(typeof JSON.parse(r.stdout.slice(4)), 'object');
});

// A standard output whose reader has gone: a FIFO that a reader opened and closed again.
let fifos = 0;
function pipeWithoutReader() {
  const fifo = path.join(sb.tmp, `out-${++fifos}.fifo`);
  execFileSync('mkfifo', [fifo]);
  const reader = fs.openSync(fifo, fs.constants.O_RDONLY | fs.constants.O_NONBLOCK);
  const writer = fs.openSync(fifo, fs.constants.O_WRONLY);
  fs.closeSync(reader);
  return writer;
}

test('a verb whose output reader went away ends its output there and still succeeds', () => {
  for (const args of [['ui', 'console', '--port', String(srv.port)], ['status', '--target', 'Studio'], ['health']]) {
    const out = pipeWithoutReader();
    const r = spawnSync(LOOMDECK, args, { env: sb.env, stdio: ['ignore', out, 'pipe'], encoding: 'utf8', timeout: 60000 });
    fs.closeSync(out);
    assert.equal(r.signal, null, args.join(' '));
    assert.equal(r.status, 0, args.join(' '));
    assert.equal(r.stderr, '', args.join(' '));
  }
});

test('ui fails when the given port does not answer JSON, whatever runs elsewhere', async () => {
  const idle = await freePort();
  let r = runCli(sb, ['ui', 'state', '--port', String(idle)]);
  assert.equal(r.status, 1);
  assert.equal(r.stdout, '');
  assert.equal(r.stderr, NO_SERVER);

  const html = http.createServer((req, res) => res.end('<html>not json</html>'));
  await new Promise((resolve) => html.listen(0, '127.0.0.1', resolve));
  try {
    r = await runCliAsync(sb, ['ui', 'console', '--port', String(html.address().port)]);
    assert.equal(r.status, 1);
    assert.equal(r.stderr, `NOTE: port ${html.address().port} answers, but not as loomdeck - skipped\n${NO_SERVER}`);
  } finally {
    html.close();
  }
});

// In a network namespace of its own, so the stranger on 8930 meets no other test's verbs.
test('ui skips a stranger that answers JSON on every path and reaches the loomdeck after it', async () => {
  const local = makeSandbox({ withSim: false });
  try {
    const scenario = path.join(ROOT, 'tests/helpers/ui_squatter.mjs');
    const r = await runAsync('unshare', ['--net', 'sh', '-c', 'ip link set lo up && exec "$0" "$1"', process.execPath, scenario],
      { env: local.env });
    assert.equal(r.status, 0, r.stderr);
    const seen = JSON.parse(r.stdout.trim().split('\n').pop());
    assert.equal(seen.port, 8931);
    assert.deepEqual(seen.heard, ['/api/ping']);
    assert.equal(seen.status, 0);
    assert.equal(seen.stderr, 'NOTE: port 8930 answers, but not as loomdeck - skipped\n');
    assert.equal(seen.stdout, 'OK: {"_hint":"Targets: setup, start, stop, tour, import-part, settings, refresh. The PAGE performs the click, so what the AI drives is exactly what the user gets.","delivered":1,"ok":true}\n');
    assert.deepEqual(seen.events, [{ target: 'stop' }]);
  } finally {
    local.cleanup();
  }
});

test('open finds the server in the range and prints the webview hint or opens a pup window', async (t) => {
  const local = makeSandbox({ withSim: false });
  await hideForeignServers(local);
  try {
    let r = runCli(local, ['open', '--webview']);
    assert.equal(r.status, 1);
    assert.equal(r.stderr, 'ERROR: no loomdeck server is running\nHint: Start it first: `loomdeck serve &`, then re-run open.\n');

    const server = await startRangeServer(local);
    r = runCli(local, ['open', '--webview', '--port', '1']);
    assert.equal(r.status, 0);
    assert.equal(r.stdout, `OK: Dashboard is serving at http://127.0.0.1:${server.port}/\n${WEBVIEW_HINT}`);
    r = runCli(local, ['open', '--webview'], { env: { ...local.env, VSCODE_PROXY_URI: '/proxy/{{port}}/x/{{port}}' } });
    assert.equal(r.stdout, `OK: Dashboard is serving at /proxy/${server.port}/x/${server.port}\n${WEBVIEW_HINT}`);

    r = runCli(local, ['open']);
    assert.equal(r.status, 0);
    assert.equal(r.stdout, '');
    assert.equal(r.stderr, 'ERROR: ovra-bridge not runnable: No such file or directory\nHint: The container ships ovra-bridge on PATH.\n');

    const calls = path.join(local.base, 'bridge-calls');
    fakeTool(local, 'ovra-bridge', `for a; do printf '[%s]' "$a" >> '${calls}'; done; printf '{"error":"no desktop %0250d"}' 0`);
    r = runCli(local, ['open', '--pup', '--target', 'Studio', '--ai-thread', 't4']);
    assert.equal(r.status, 0);
    assert.equal(r.stderr, `ERROR: pup_open_window did not confirm: {"error":"no desktop ${'0'.repeat(179)}\nHint: Is a desktop connected? \`ovra-bridge targets\`. The URL above still works in any browser.\n`);
    assert.equal(fs.readFileSync(calls, 'utf8'), `[--target][Studio][--ai-thread][t4][pup_open_window][{"background":true,"url":"http://127.0.0.1:${server.port}/"}]`);

    if (!fs.existsSync(SIM_BRIDGE)) {
      t.diagnostic(`skipped the simulator case: ${SIM_BRIDGE} is not built`);
    } else {
      fs.rmSync(path.join(local.base, 'tools', 'ovra-bridge'));
      fs.symlinkSync(SIM_BRIDGE, path.join(local.base, 'tools', 'ovra-bridge'));
      r = runCli(local, ['open']);
      assert.equal(r.stderr, '');
      assert.equal(r.stdout, `OK: Dashboard opened in a BACKGROUND pup window at http://127.0.0.1:${server.port}/ (taskbar flashes; the user brings it up when ready - never foregrounded)\n`);
    }
    await server.stop();
  } finally {
    killSandboxServers(local);
    local.cleanup();
  }
});
