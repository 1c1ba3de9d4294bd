// What open dashboards cost the box, measured in the simulator's activity log.
//   node viewers.mjs pages <server URL> <pages> <seconds>
//     opens that many dashboard pages (Chromium through playwright-core, each in a context of its
//     own), waits until each shows its box, lets the start-up reads pass, then counts the bridge
//     calls made in the next <seconds> and prints them as one JSON line.
//   node viewers.mjs hidden <server URL> <seconds hidden>
//     opens one dashboard in a Chromium of its own, driven over the DevTools protocol alone (the
//     page then lives as in a desktop browser: a tab that is not in front is hidden and its timers
//     are throttled), puts another tab in front of it for <seconds hidden>, changes the box, and
//     prints how long the hidden page took to show the change and how often its timers still ran.
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

const SETTLE_MS = 20000;
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const sim = (...args) => {
  const r = spawnSync('ovra-bridge', ['sim', ...args], { encoding: 'utf8' });
  if (r.status !== 0) throw new Error(`ovra-bridge sim ${args.join(' ')}: ${r.stderr}`);
  return r.stdout;
};
const ready = () => window.__dash && window.__dash.status !== null && window.__dash.sseUp &&
  document.querySelector('#ledGrid .ledpill[data-led="aps"]')?.dataset.state === 'ok';

async function countPages(url, pages, seconds) {
  const { chromium } = await import('playwright-core');
  const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update'] });
  try {
    const opened = [];
    for (let i = 0; i < pages; i++) {
      const page = await (await browser.newContext()).newPage();
      await page.goto(url);
      opened.push(page);
    }
    for (const page of opened) await page.waitForFunction(ready, null, { timeout: 120000 });
    await sleep(SETTLE_MS);
    sim('clear-log');
    await sleep(seconds * 1000);
    const calls = sim('log').split('\n').filter(Boolean).map((l) => JSON.parse(l));
    const perMinute = (n) => Math.round((n * 60) / seconds);
    console.log(JSON.stringify({
      pages,
      calls: perMinute(calls.length),
      builds: perMinute(calls.filter((c) => c.tool === 'fusion_set_activity_indicator').length),
      listings: perMinute(calls.filter((c) => c.tool === 'targets').length),
    }));
  } finally {
    await browser.close();
  }
}

// Just enough of the DevTools protocol: commands, optionally to an attached page's session.
async function devtools(wsUrl) {
  const ws = new WebSocket(wsUrl);
  await new Promise((resolve, reject) => { ws.onopen = resolve; ws.onerror = reject; });
  let last = 0;
  const pending = new Map();
  ws.onmessage = (m) => {
    const msg = JSON.parse(m.data);
    const p = pending.get(msg.id);
    if (!p) return;
    pending.delete(msg.id);
    if (msg.error) p.reject(new Error(msg.error.message));
    else p.resolve(msg.result);
  };
  const send = (method, params = {}, sessionId = undefined) => new Promise((resolve, reject) => {
    const id = ++last;
    pending.set(id, { resolve, reject });
    ws.send(JSON.stringify({ id, method, params, sessionId }));
  });
  return { send, close: () => ws.close() };
}

async function hiddenPage(url, hiddenSeconds) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'viewers-chromium-'));
  const browser = spawn('/usr/bin/chromium', ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--remote-debugging-port=0',
    `--user-data-dir=${profile}`, 'about:blank'], { stdio: ['ignore', 'ignore', 'pipe'] });
  try {
    const wsUrl = await new Promise((resolve, reject) => {
      let err = '';
      browser.stderr.on('data', (d) => {
        err += d;
        const m = /DevTools listening on (ws:\S+)/.exec(err);
        if (m) resolve(m[1]);
      });
      browser.once('exit', () => reject(new Error(`chromium ended: ${err}`)));
    });
    const cdp = await devtools(wsUrl);
    const { targetId } = await cdp.send('Target.createTarget', { url });
    const { sessionId } = await cdp.send('Target.attachToTarget', { targetId, flatten: true });
    const evaluate = async (fn) => (await cdp.send('Runtime.evaluate',
      { expression: `(${fn})()`, returnByValue: true }, sessionId)).result.value;
    while (!(await evaluate(ready))) await sleep(200);
    // A one-second timer of the page's own shows how often the browser still lets its timers run.
    await evaluate(() => { window.benchTicks = []; setInterval(() => window.benchTicks.push(Date.now()), 1000); });
    await cdp.send('Target.createTarget', { url: 'about:blank' });
    await sleep(1000);
    const visibility = await evaluate(() => document.visibilityState);
    await sleep(hiddenSeconds * 1000);
    const ticksLastMinute = await evaluate(() => window.benchTicks.filter((t) => t > Date.now() - 60000).length);
    // Three changes in a row, each made as soon as the page showed the one before.
    const shownAfter = [];
    for (const [signedIn, led] of [[false, 'bad'], [true, 'ok'], [false, 'bad']]) {
      sim('set', 'Studio', `apsSignedIn=${signedIn}`);
      const changed = Date.now();
      let seconds = null;
      while (Date.now() - changed < 120000) {
        if (await evaluate(`() => document.querySelector('#ledGrid .ledpill[data-led="aps"]').dataset.state === '${led}'`)) {
          seconds = (Date.now() - changed) / 1000;
          break;
        }
        await sleep(100);
      }
      shownAfter.push(seconds);
    }
    console.log(JSON.stringify({ hiddenSeconds, visibility, ticksLastMinute, shownAfter: shownAfter.join(' s; '),
      stillHidden: (await evaluate(() => document.visibilityState)) === 'hidden' }));
    cdp.close();
  } finally {
    browser.kill();
    await new Promise((r) => (browser.exitCode !== null ? r() : browser.once('exit', r)));
    fs.rmSync(profile, { recursive: true, force: true, maxRetries: 10, retryDelay: 200 });
  }
}

const [mode, url, ...rest] = process.argv.slice(2);
if (mode === 'pages') await countPages(url, Number(rest[0]), Number(rest[1]));
else if (mode === 'hidden') await hiddenPage(url, Number(rest[0]));
else throw new Error('usage: viewers.mjs pages URL PAGES SECONDS | hidden URL SECONDS');
