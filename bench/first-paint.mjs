// LED first paint: the time from the dashboard's navigation start until all seven LED pills show
// a state other than the "checking" they start with, in a fresh headless Chromium context each
// run (nothing cached), the runs of the servers taking turns. Prints each server's median.
// With LINK_MBIT set, Chromium throttles the page's traffic to that many Mbit/s each way with
// 20 ms of latency, as a browser reaching the container over a forwarded port might see it.
// Usage: [LINK_MBIT=10] node bench/first-paint.mjs RUNS LABEL=URL [LABEL=URL]  (ratios against the first)
import { spawnSync } from 'node:child_process';
import { chromium } from 'playwright-core';

const runs = Number(process.argv[2]);
const linkMbit = Number(process.env.LINK_MBIT || 0);
const servers = process.argv.slice(3).map((a) => ({ label: a.slice(0, a.indexOf('=')), url: a.slice(a.indexOf('=') + 1), times: [] }));
const CHROMIUM_ARGS = ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking'];

// Set before any of the page's scripts run: notes the first moment the condition holds.
function watchLeds() {
  const check = () => {
    const pills = [...document.querySelectorAll('#ledGrid .ledpill')];
    if (window.benchLedsAt === undefined && pills.length === 7 &&
        pills.every((p) => p.dataset.state && p.dataset.state !== 'checking')) {
      window.benchLedsAt = performance.now();
    }
  };
  new MutationObserver(check).observe(document, { subtree: true, childList: true, attributes: true, attributeFilter: ['data-state'] });
}

const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', headless: true, args: CHROMIUM_ARGS });
for (let i = 0; i < runs; i++) {
  // Each load follows a reset of the shared simulated world; the servers take turns at going first.
  for (const s of i % 2 ? [...servers].reverse() : servers) {
    // Every run starts from the same boxes.
    spawnSync('ovra-bridge', ['sim', 'reset', 'demo'], { stdio: 'ignore' });
    const context = await browser.newContext();
    await context.addInitScript(watchLeds);
    const page = await context.newPage();
    if (linkMbit) {
      const cdp = await context.newCDPSession(page);
      await cdp.send('Network.enable');
      const bytesPerSecond = (linkMbit * 1e6) / 8;
      await cdp.send('Network.emulateNetworkConditions',
        { offline: false, latency: 20, downloadThroughput: bytesPerSecond, uploadThroughput: bytesPerSecond });
    }
    await page.goto(s.url);
    await page.waitForFunction(() => window.benchLedsAt !== undefined, null, { timeout: 120000 });
    s.times.push(await page.evaluate(() => window.benchLedsAt));
    await context.close();
  }
}
await browser.close();

const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];
const link = linkMbit ? `, a ${linkMbit} Mbit/s link with 20 ms latency` : ', loopback';
console.log(`LED first paint: navigation start to seven LED states, ${runs} runs each, fresh context${link}, median`);
for (const s of servers) {
  let line = `${s.label.padEnd(10)} ${median(s.times).toFixed(0).padStart(6)} ms  (runs: ${s.times.map((t) => t.toFixed(0)).join(', ')})`;
  if (s !== servers[0]) line += `; ${servers[0].label}/${s.label} ${(median(servers[0].times) / median(s.times)).toFixed(3)}`;
  console.log(line);
}
