// Bytes on the wire for one dashboard load, as the server sends them to a client that takes gzip
// and to one that does not. A headless Chromium loads the dashboard once to learn which GETs the
// page makes on its own (the live channel, a stream, is left out); each is then fetched raw both
// ways, head and body counted.
// Usage: node bench/page-weight.mjs LABEL=URL [LABEL=URL]  (the first is measured, the others too,
// each against the first as a ratio)
import net from 'node:net';
import { chromium } from 'playwright-core';

const servers = process.argv.slice(2).map((a) => ({ label: a.slice(0, a.indexOf('=')), url: a.slice(a.indexOf('=') + 1) }));
const CHROMIUM_ARGS = ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking'];

// The same-origin GETs one load makes, until the seven LEDs show their first states and 2 s more.
async function pageReads(url) {
  const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', headless: true, args: CHROMIUM_ARGS });
  const page = await (await browser.newContext()).newPage();
  const seen = new Set();
  page.on('request', (r) => {
    const u = new URL(r.url());
    if (r.method() === 'GET' && u.origin === new URL(url).origin && u.pathname !== '/events') seen.add(u.pathname + u.search);
  });
  await page.goto(url);
  await page.waitForFunction(() => {
    const pills = [...document.querySelectorAll('#ledGrid .ledpill')];
    return pills.length === 7 && pills.every((p) => p.dataset.state && p.dataset.state !== 'checking');
  }, null, { timeout: 120000 });
  await new Promise((r) => setTimeout(r, 2000));
  await browser.close();
  return [...seen];
}

function rawBytes(url, target, gzip) {
  const { hostname, port } = new URL(url);
  return new Promise((resolve, reject) => {
    let n = 0;
    const sock = net.connect(Number(port), hostname, () => sock.write(
      `GET ${target} HTTP/1.1\r\nHost: ${hostname}:${port}\r\nAccept: */*\r\n${gzip ? 'Accept-Encoding: gzip, deflate, br\r\n' : ''}\r\n`));
    sock.on('data', (d) => { n += d.length; });
    sock.on('error', reject);
    sock.on('close', () => resolve(n));
  });
}

const reads = await pageReads(servers[0].url);
const kb = (n) => (n / 1024).toFixed(1).padStart(9);
console.log('page weight: one dashboard load, bytes on the wire (head and body), KiB');
console.log(`${'path'.padEnd(34)} ${servers.map((s) => `${s.label} plain`.padStart(16) + `${s.label} gzip`.padStart(16)).join('')}`);
const totals = servers.map(() => [0, 0]);
for (const target of reads) {
  const cells = [];
  for (const [i, s] of servers.entries()) {
    const plain = await rawBytes(s.url, target, false);
    const gz = await rawBytes(s.url, target, true);
    totals[i][0] += plain;
    totals[i][1] += gz;
    cells.push(kb(plain).padStart(16), kb(gz).padStart(16));
  }
  console.log(`${target.slice(0, 34).padEnd(34)} ${cells.join('')}`);
}
console.log(`${'total'.padEnd(34)} ${totals.map(([p, g]) => kb(p).padStart(16) + kb(g).padStart(16)).join('')}`);
for (const [i, s] of servers.entries()) {
  const [p, g] = totals[i];
  let line = `${s.label}: gzip/plain ${(g / p).toFixed(3)}`;
  if (i > 0) line += `; a browser's load (gzip), ${servers[0].label}/${s.label}: ${(totals[0][1] / g).toFixed(3)}`;
  console.log(line);
}
