// What local tools may still do and what nobody may do any more: the CLI and plain curl drive the
// server as before, while box names that could become options, globs in a forwarded query,
// oversized settings and open files and folders are refused or closed. Hostile web pages are in
// tests/browser/gate.test.mjs.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { makeSandbox, startServer, runCli, sim, simLog, getJson, postJson, rawRequest, LOOMDECK } from '../helpers/harness.mjs';

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

const curl = (...args) => spawnSync('curl', ['-s', ...args], { env: sb.env, encoding: 'utf8' });

test('the CLI and plain curl keep working, whatever their content type', () => {
  const port = String(srv.port);
  assert.match(runCli(sb, ['ui', 'toast', 'from the shell', '--port', port]).stdout, /^OK: \{"_hint":.*"ok":true\}\n$/);
  assert.match(runCli(sb, ['ui', 'click', 'refresh', '--port', port]).stdout, /^OK: \{"_hint":.*"ok":true\}\n$/);
  assert.match(runCli(sb, ['ui', 'state', '--port', port]).stdout, /^OK: \{.*"target":"Studio".*\}\n$/);
  const consoleOut = runCli(sb, ['ui', 'console', '--port', port]).stdout;
  assert.ok(consoleOut.includes('toast [info] from the shell'), consoleOut);
  assert.equal(JSON.parse(runCli(sb, ['status', '--target', 'Studio']).stdout).target, 'Studio');
  // -d sends application/x-www-form-urlencoded: the body is not JSON, so the route sees {}.
  assert.match(curl('-d', 'message=hi', `${srv.url}/ui/toast`).stdout, /"ok":true/);
  assert.match(curl('-d', '{"autoGreenOnLaunch":false}', `${srv.url}/settings`).stdout, /^\{"ok":true,/);
  assert.ok(!consoleOut.includes('refused'));
});

test('box names that could become an option or be cut short never reach the bridge', async () => {
  sim(sb, 'clear-log');
  const startsWithDash = '{"_hint":"Name a box as GET /api/targets lists it: at most 128 bytes, no control characters, not starting with \\"-\\".","error":"box name refused: it starts with \\"-\\""}';
  assert.equal((await postJson(`${srv.url}/api/action`, { action: 'start', target: '-h' })).text, startsWithDash);
  assert.equal((await getJson(`${srv.url}/api/status?target=--help`)).text, startsWithDash);
  assert.match((await postJson(`${srv.url}/api/surface`, { surface: 'symbol', target: 'Stu\u0000dio' })).json.error, /control character/);
  assert.match((await getJson(`${srv.url}/api/health?target=${'b'.repeat(129)}`)).json.error, /longer than 128 bytes/);
  assert.match((await postJson(`${srv.url}/api/auto-green?target=-x`, {})).json.error, /starts with/);
  // A live channel naming such a box still opens, but the server never refreshes that box.
  const channel = new AbortController();
  const events = (await fetch(`${srv.url}/events?target=-x`, { signal: channel.signal })).body.getReader();
  for (let seen = ''; !seen.includes('event: hello'); seen += Buffer.from((await events.read()).value).toString());
  channel.abort();
  assert.ok((await getJson(`${srv.url}/console`)).json.lines.includes('sse client\'s box not watched: box name refused: it starts with "-"'));
  assert.deepEqual(simLog(sb), []);
  const cli = runCli(sb, ['status', '--target', '-h']);
  assert.equal(cli.status, 1);
  assert.equal(cli.stderr, 'ERROR: box name refused: it starts with "-"\nHint: Name a box as `ovra-bridge targets` lists it.\n');
  assert.deepEqual(simLog(sb), []);
});

test('a glob in a forwarded status query reaches the control API once, as it came', async () => {
  const seen = [];
  const api = http.createServer((req, res) => {
    seen.push(req.url);
    res.end('{"job":{"state":"running"}}');
  });
  await new Promise((r) => api.listen(0, '127.0.0.1', r));
  fs.mkdirSync(path.join(sb.home, '.ovra'), { recursive: true });
  fs.writeFileSync(path.join(sb.home, '.ovra', 'brindle-control-url'), `http://127.0.0.1:${api.address().port}\n`);
  try {
    const reply = (await rawRequest(srv.port, 'GET /ai-threads/run-prompt/status?job=[1-100000000]{a,b} HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n')).toString();
    assert.ok(reply.endsWith('{"job":{"state":"running"}}'), reply);
    assert.deepEqual(seen, ['/ai-threads/run-prompt/status?job=[1-100000000]{a,b}']);
  } finally {
    fs.rmSync(path.join(sb.home, '.ovra', 'brindle-control-url'));
    await new Promise((r) => api.close(r));
  }
});

test('settings are private to the user and bounded to 64 KiB', async () => {
  const file = path.join(sb.home, '.ovra', 'loomdeck', 'settings.json');
  assert.equal((await postJson(`${srv.url}/settings`, { note: 'x' })).json.ok, true);
  assert.equal(fs.statSync(file).mode & 0o777, 0o600);
  const before = fs.readFileSync(file, 'utf8');
  const big = await postJson(`${srv.url}/settings`, { blob: 'y'.repeat(70000) });
  assert.equal(big.json.ok, false);
  assert.match(big.json.why, /^the settings would take \d+ bytes, more than the 64 KiB they may hold - nothing was saved$/);
  assert.equal(fs.readFileSync(file, 'utf8'), before);
  assert.equal((await getJson(`${srv.url}/settings`)).json.settings.blob, undefined);
});

// The listening sockets of a process, as "address:port" texts in /proc's hexadecimal form.
function listeningOn(pid) {
  const inodes = new Set();
  for (const fd of fs.readdirSync(`/proc/${pid}/fd`)) {
    // A descriptor closed since the listing (a bridge pipe, the logbook file) is no listener.
    let target;
    try { target = fs.readlinkSync(`/proc/${pid}/fd/${fd}`); } catch (e) { if (e.code === 'ENOENT') continue; throw e; }
    const m = /^socket:\[(\d+)\]$/.exec(target);
    if (m) inodes.add(m[1]);
  }
  const out = [];
  for (const table of ['tcp', 'tcp6']) {
    for (const line of fs.readFileSync(`/proc/${pid}/net/${table}`, 'utf8').trim().split('\n').slice(1)) {
      const cols = line.trim().split(/\s+/);
      if (cols[3] === '0A' && inodes.has(cols[9])) out.push(cols[1]);
    }
  }
  return out;
}

test('serve listens on every interface unless --bind or LOOMDECK_BIND names one address', async () => {
  const hexPort = (port) => port.toString(16).toUpperCase().padStart(4, '0');
  assert.deepEqual(listeningOn(srv.proc.pid), [`00000000:${hexPort(srv.port)}`]);
  const bound = await startServer(sb, ['--bind', '127.0.0.1']);
  sb.env.LOOMDECK_BIND = '127.0.0.1';
  const byEnv = await startServer(sb);
  delete sb.env.LOOMDECK_BIND;
  try {
    assert.deepEqual(listeningOn(bound.proc.pid), [`0100007F:${hexPort(bound.port)}`]);
    assert.deepEqual(listeningOn(byEnv.proc.pid), [`0100007F:${hexPort(byEnv.port)}`]);
    assert.equal((await getJson(`${bound.url}/api/ping`)).json.app, 'loomdeck');
  } finally {
    await bound.stop();
    await byEnv.stop();
  }
  const bad = spawnSync(LOOMDECK, ['serve', '--bind', 'localhost'], { env: sb.env, encoding: 'utf8' });
  assert.equal(bad.status, 1);
  assert.equal(bad.stderr, 'ERROR: cannot listen on "localhost": --bind (or LOOMDECK_BIND) needs a numeric IP address\n' +
    'Hint: Say `loomdeck serve --bind 127.0.0.1` to serve this machine alone, or leave it out to listen on every interface (0.0.0.0).\n');
});
