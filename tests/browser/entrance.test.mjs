// Nobody else can use the dashboard itself: a page of another site that frames, opens or navigates
// to it starts nothing (the frame never loads, the opened page waits for the user), while the user's
// own entrances still run the drive to green on load; and a machine on the network gets in only
// with the dashboard's token, as a real browser presents it.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { chromium } from 'playwright-core';
import { LOOMDECK, makeSandbox, READY_WITHIN_MS, sim, simLog, startServer, stopSpawned, waitFor } from '../helpers/harness.mjs';
import { CHROMIUM_ARGS, WAIT } from './fixtures/dashboard-page.mjs';

const LINE = 'Opened from another site - nothing was started. Press Set up to drive your boxes.';

// Every request a page (and its popups and frames) made to `port`, as "METHOD /path".
function recordRequests(context, port) {
  const seen = [];
  context.on('request', (r) => {
    const u = new URL(r.url());
    if (u.port === String(port)) seen.push(`${r.method()} ${u.pathname}`);
  });
  return seen;
}

const spendsOnABox = (requests) => requests.filter((r) => !/^GET \/(|index\.html|newbie-panel\.js|favicon\.\w+)$/.test(r));

describe('entrances', () => {
  let sandbox;
  let server;
  let browser;
  let foreign;
  let proxyPort;
  const servers = [];

  function listen(handler) {
    const s = http.createServer(handler);
    servers.push(s);
    return new Promise((resolve) => s.listen(0, '127.0.0.1', () => resolve(s.address().port)));
  }

  before(async () => {
    sandbox = makeSandbox();
    sim(sandbox, 'reset', 'demo');
    server = await startServer(sandbox);
    const target = `http://127.0.0.1:${server.port}/`;
    const evilPort = await listen((req, res) => {
      res.writeHead(200, { 'Content-Type': 'text/html' });
      res.end(`<!doctype html><title>a page that knows the port</title>
        <button id="decoy" style="position:absolute;left:40px;top:40px">Win a prize</button>
        <script>window.target = ${JSON.stringify(target)};</script>
        ${req.url === '/frame' ? `<iframe id="f" src="${target}" style="opacity:0.01;width:900px;height:700px"></iframe>` : ''}`);
    });
    foreign = `http://evil.localhost:${evilPort}`;
    // A workspace proxy that rewrites Host to the server's own address.
    proxyPort = await listen((req, res) => {
      const up = http.request({ host: '127.0.0.1', port: server.port, method: req.method, path: req.url,
        headers: { ...req.headers, host: `127.0.0.1:${server.port}` } },
      (answer) => { res.writeHead(answer.statusCode, answer.headers); answer.pipe(res); });
      up.on('error', () => res.destroy());
      res.on('close', () => up.destroy());
      req.pipe(up);
    });
    browser = await chromium.launch({ executablePath: '/usr/bin/chromium', headless: true, args: CHROMIUM_ARGS });
  });

  after(async () => {
    await browser?.close();
    await server?.stop();
    for (const s of servers) {
      s.closeAllConnections();
      s.close();
    }
    sandbox?.cleanup();
  });

  test('a frame of the dashboard in another site never loads, and nothing reaches the box', async () => {
    sim(sandbox, 'clear-log');
    const context = await browser.newContext();
    const requests = recordRequests(context, server.port);
    const page = await context.newPage();
    await page.goto(`${foreign}/frame`);
    await page.waitForLoadState('networkidle');
    const frame = page.frames().find((f) => f !== page.mainFrame());
    const loaded = await frame.evaluate(() => !!document.getElementById('ledGrid')).catch(() => false);
    assert.equal(loaded, false, 'the framed dashboard rendered');
    // A press on the decoy, under the nearly transparent frame, reaches nothing.
    await page.mouse.click(60, 50);
    await page.waitForLoadState('networkidle');
    assert.deepEqual(spendsOnABox(requests), []);
    assert.deepEqual(simLog(sandbox), []);
    await context.close();
  });

  // What an earlier case's page started in the server (the watch of its stream, a status build)
  // ends once its stream is gone and the bridge's log stops growing; only then is the log cleared.
  async function quietBox() {
    await waitFor(async () => (await (await fetch(`${server.url}/health`)).json()).sseClients === 0, { what: 'no open streams' });
    let seen = -1;
    await waitFor(async () => {
      const now = simLog(sandbox).length;
      const still = now === seen;
      seen = now;
      if (!still) await new Promise((resolve) => setTimeout(resolve, 500));
      return still;
    }, { what: 'a quiet bridge' });
    sim(sandbox, 'clear-log');
  }

  // The last one presses Set up, whose drive to green goes on in the server after the test.
  for (const [how, press] of [['navigation', '#btnRefresh'], ['window.open', '#btnSetup']]) {
    test(`a dashboard reached by ${how} from another site waits for the user, then ${press} works`, async () => {
      await quietBox();
      const context = await browser.newContext();
      const requests = recordRequests(context, server.port);
      const page = await context.newPage();
      await page.goto(`${foreign}/`);
      let dash = page;
      if (how === 'window.open') {
        const opened = context.waitForEvent('page');
        await page.evaluate(() => window.open(window.target));
        dash = await opened;
        await dash.waitForLoadState('load');
      } else {
        await Promise.all([page.waitForURL(/127\.0\.0\.1/), page.evaluate(() => { location.href = window.target; })]);
      }
      await dash.waitForSelector('#entranceLine:not([hidden])', WAIT);
      assert.equal((await dash.textContent('#entranceLine')).trim(), LINE);
      await dash.waitForLoadState('networkidle');
      assert.deepEqual(spendsOnABox(requests), []);
      assert.deepEqual(simLog(sandbox).map((e) => e.tool), [], requests.join(', '));
      // The user's own press works.
      await dash.click(press);
      await waitFor(() => simLog(sandbox).some((e) => e.tool === 'fusion_readiness'), { what: `a status read after ${press}` });
      await dash.waitForSelector('#entranceLine[hidden]', { state: 'attached', ...WAIT });
      await dash.waitForLoadState('networkidle');
      await context.close();
    });
  }

  test('the dashboard opened by the user, directly or through a proxy, still drives to green on load', async () => {
    for (const base of [`http://127.0.0.1:${server.port}/`, `http://127.0.0.1:${proxyPort}/`]) {
      const context = await browser.newContext();
      const page = await context.newPage();
      const answered = page.waitForResponse((r) => r.url().includes('/api/auto-green'), WAIT);
      await page.goto(base);
      const reply = await answered;
      assert.equal(reply.status(), 200, base);
      assert.ok('started' in (await reply.json()), base);
      assert.equal(await page.isHidden('#entranceLine'), true, base);
      await context.close();
    }
  });
});

// A machine on the network: this file's own network namespace, with a private address on its own
// loopback device, holds the server, curl and the browser; nothing leaves it.
const canIsolate = spawnSync('unshare', ['--net', 'true']).status === 0;
describe('a network peer', { skip: !canIsolate && 'no network namespaces here (needs root)' }, () => {
  const PEER = '10.213.7.1';
  let sandbox;
  let proc;
  let port;
  let wrapper;
  let browser;

  const inNamespace = (cmd, args) => execFileSync('nsenter', [`--net=/proc/${proc.pid}/ns/net`, cmd, ...args], { encoding: 'utf8' });
  const curl = (pathAndQuery, ...headers) => {
    const out = inNamespace('curl', ['-s', '--interface', PEER, '-o', '/dev/null', '-w', '%{http_code}',
      ...headers.flatMap((h) => ['-H', h]), `http://${PEER}:${port}${pathAndQuery}`]);
    return Number(out);
  };

  before(async () => {
    sandbox = makeSandbox();
    sim(sandbox, 'reset', 'signed-in');
    port = 18930;
    proc = spawn('unshare', ['--net', 'sh', '-c', `ip link set lo up && ip addr add ${PEER}/32 dev lo && exec "$0" serve --port ${port}`, LOOMDECK],
      { env: sandbox.env, stdio: ['ignore', 'pipe', 'pipe'] });
    let out = '';
    proc.stdout.on('data', (d) => { out += d; });
    await waitFor(() => out.includes('OK: loomdeck v') || proc.exitCode !== null, { timeoutMs: READY_WITHIN_MS, what: 'the server in its namespace' });
    assert.ok(out.includes('OK: loomdeck v'), out);
    wrapper = path.join(sandbox.base, 'chromium-in-namespace');
    fs.writeFileSync(wrapper, `#!/bin/sh\nexec nsenter --net=/proc/${proc.pid}/ns/net /usr/bin/chromium "$@"\n`, { mode: 0o755 });
    browser = await chromium.launch({ executablePath: wrapper, headless: true, args: CHROMIUM_ARGS });
  });

  after(async () => {
    await browser?.close();
    if (proc) {
      const closed = new Promise((resolve) => (proc.exitCode !== null || proc.signalCode !== null ? resolve() : proc.once('close', resolve)));
      stopSpawned(proc);
      await closed;
    }
    sandbox?.cleanup();
  });

  test('is refused without the token and served with it', () => {
    const token = fs.readFileSync(path.join(sandbox.home, '.ovra', 'loomdeck', 'token'), 'utf8').trim();
    assert.match(token, /^[0-9a-f]{64}$/);
    assert.equal(fs.statSync(path.join(sandbox.home, '.ovra', 'loomdeck', 'token')).mode & 0o777, 0o600);
    for (const route of ['/api/status?target=Studio', '/console', '/', '/no-such-route']) assert.equal(curl(route), 401, route);
    assert.equal(curl('/api/ping'), 200);
    assert.equal(curl('/api/status?target=Studio', `Authorization: Bearer ${token}`), 200);
    assert.equal(curl('/console', 'Authorization: Bearer 0000'), 401);
    const body = inNamespace('curl', ['-s', '--interface', PEER, `http://${PEER}:${port}/console`]);
    const refusal = JSON.parse(body);
    assert.equal(refusal.ok, false);
    assert.match(refusal.why, /10\.213\.7\.1 is not on this machine and presented no token/);
    assert.match(refusal._hint, /~\/\.ovra\/loomdeck\/token/);
    // This machine's own tools need no token.
    assert.equal(Number(inNamespace('curl', ['-s', '-o', '/dev/null', '-w', '%{http_code}', `http://127.0.0.1:${port}/console`])), 200);
  });

  test('a browser opened with ?token= works fully and loses the token from its address', async () => {
    const token = fs.readFileSync(path.join(sandbox.home, '.ovra', 'loomdeck', 'token'), 'utf8').trim();
    const context = await browser.newContext();
    const page = await context.newPage();
    // The page opens on the box the address names, so its stream asks for that box.
    const stream = page.waitForResponse((r) => new URL(r.url()).pathname === '/events', WAIT);
    const landed = await page.goto(`http://${PEER}:${port}/?token=${token}&target=Studio`);
    // The address with the token was answered by a redirect, so it never became a page of the history.
    assert.equal(landed.request().redirectedFrom()?.url(), `http://${PEER}:${port}/?token=${token}&target=Studio`);
    assert.equal(page.url(), `http://${PEER}:${port}/?target=Studio`);
    assert.equal((await stream).status(), 200);
    await page.waitForFunction(() => window.__dash && window.__dash.status !== null && window.__dash.sseUp, null, WAIT);
    const action = page.waitForResponse((r) => r.url().endsWith('/api/action'), WAIT);
    await page.click('#btnStart');
    assert.equal((await action).status(), 200);
    await context.close();
  });
});
