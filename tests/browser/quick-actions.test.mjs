// The quick-actions page end to end, loaded from loomdeck's server and driving the browser-side
// stand-ins: the bridge's web-control listener and the parts wiki.
import { after, before, beforeEach, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import net from 'node:net';
import { chromium } from 'playwright-core';
import { makeSandbox, startServer } from '../helpers/harness.mjs';
import { startStandIn } from '../../sim/browser-side/start.mjs';
import { readZip } from '../../sim/browser-side/zip-reader.mjs';
import { axeViolations } from './fixtures/axe.mjs';
import { installStoppedClock } from './fixtures/clock.mjs';

const CHROMIUM_ARGS = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
  '--disable-component-update', '--disable-sync'];
const WAIT = { timeout: 30000 };

let sandbox;
let server;
let wiki;
let bridge;
let base;
let browser;

function portFree(port) {
  return new Promise((resolve) => {
    const s = net.createServer();
    s.once('error', () => resolve(false));
    s.listen(port, '127.0.0.1', () => s.close(() => resolve(true)));
  });
}

// Ten consecutive free ports stand in for 24680-24689, so the test never meets a real bridge.
async function portBlock() {
  for (let attempt = 0; attempt < 50; attempt++) {
    const first = 20000 + Math.floor(Math.random() * 40000);
    let free = true;
    for (let p = first; p < first + 10 && free; p++) free = await portFree(p);
    if (free) return first;
  }
  throw new Error('no block of ten free ports');
}

before(async () => {
  sandbox = makeSandbox({ withSim: false });
  server = await startServer(sandbox);
  wiki = await startStandIn('wiki.mjs', ['--port', '0']);
  base = await portBlock();
  bridge = await startStandIn('web-control.mjs', ['--port', String(base + 1)]);
  browser = await chromium.launch({ executablePath: '/usr/bin/chromium', headless: true, args: CHROMIUM_ARGS });
});

after(async () => {
  await browser?.close();
  await bridge?.stop();
  await wiki?.stop();
  await server?.stop();
  sandbox?.cleanup();
});

beforeEach(async () => {
  await bridge.control('/sim/reset', {});
  await wiki.control('/sim/reset', {});
});

const urlFor = (first = base, last = base + 9) => `${server.url}/quick-actions?wiki=${encodeURIComponent(wiki.url)}&bridgePorts=${first}-${last}`;

// A fresh page in a context of its own (a page clock belongs to the whole context), its start-up
// resolve of the default part finished. With clock, timers are virtual and only run when the
// test moves time on.
async function openPage({ clock = false, url = urlFor(), ready = true } = {}) {
  const context = await browser.newContext({ locale: 'en-US', timezoneId: 'UTC', viewport: { width: 1280, height: 1000 } });
  // The dashboard's font hosts stay out of the tests; the page's embedded faces stand in.
  await context.route(/^https:\/\/(fonts\.googleapis\.com|api\.fontshare\.com)\//, (r) => r.abort());
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  page.errors = errors;
  if (clock) await installStoppedClock(page);
  await page.goto(url);
  if (ready) await until(page, () => document.getElementById('partStatus').textContent === 'ready');
  return page;
}

const until = (page, fn, arg) => page.waitForFunction(fn, arg, WAIT);
const text = (page, sel) => page.$eval(sel, (e) => e.textContent);
const kv = (page, id) => page.$eval(`#${id}`, (dl) => {
  const out = [];
  for (const dt of dl.querySelectorAll('dt')) out.push([dt.textContent, dt.nextElementSibling.textContent]);
  return out;
});
const toasts = (page) => page.$$eval('#toasts .toast', (ts) => ts.map((t) => [t.textContent, t.className]));
const untilText = (page, sel, expected) => until(page, ([s, e]) => document.querySelector(s)?.textContent === e, [sel, expected]);
const untilIncludes = (page, sel, part) => until(page, ([s, p]) => (document.querySelector(s)?.textContent ?? '').includes(p), [sel, part]);
const untilToast = (page, message) => until(page, (m) => Array.from(document.querySelectorAll('#toasts .toast')).some((t) => t.textContent === m), message);

async function connect(page) {
  await page.click('#btnConnect');
  await untilText(page, '#btnConnect', 'Reconnect');
}

async function resolve(page, refs) {
  await page.fill('#partRef', refs);
  await page.press('#partRef', 'Enter');
  await until(page, () => /ready$|publishes|answered|not a wiki/.test(document.getElementById('partStatus').textContent)
    && !document.getElementById('partStatus').textContent.startsWith('resolving'));
}

const bridgeLog = () => bridge.control('/sim/log');
const commandsNamed = async (name) => (await bridgeLog()).commands.filter((c) => c.command === name);

describe('connecting to the listener', () => {
  test('the lowest bridge port wins, whichever answers first, and other services are ignored', async () => {
    const late = await startStandIn('web-control.mjs', ['--port', String(base + 3), '--machine', 'late-box']);
    const other = await startStandIn('web-control.mjs', ['--port', String(base), '--service', 'print-spooler']);
    try {
      await bridge.control('/sim/scenario', { statusDelayMs: 400 });
      const page = await openPage();
      assert.equal(await text(page, '#conn'), 'not connected');
      assert.equal(await text(page, '#meta'), 'press Connect');
      await connect(page);
      assert.equal(await text(page, '#conn'), `studio-pc :${base + 1}`);
      assert.equal(await text(page, '#meta'), 'Ovra Bridge 1.9.262 · web control on · Ovra Bridge will ask you per command');
      assert.equal(await text(page, '#bpAb'), '1.9.262 on studio-pc');
      assert.equal(await text(page, '#connStatus'), 'connected, web control enabled');
      assert.equal(await page.$eval('#led', (e) => e.className), 'led green');
      assert.deepEqual(await kv(page, 'connKv'), [
        ['machine', 'studio-pc'], ['Ovra Bridge version', '1.9.262'], ['endpoint', `http://127.0.0.1:${base + 1}`], ['web control', 'enabled'],
        ['this page', 'Ovra Bridge asks you once per command (Allow once / Allow 1 hr / Deny)'], ['handshake required', 'no']]);
      assert.deepEqual((await toasts(page)).slice(-1), [['Connected to Ovra Bridge on studio-pc', 'toast ok']]);
      assert.equal((await page.evaluate(() => window.QuickActions.state().bridge.port)), base + 1);

      // Web control switched off and the page granted: amber, and the texts say so.
      await bridge.control('/sim/scenario', { statusDelayMs: 0, status: { machine: 'bench-pc', version: '1.9.300', webControl: { enabled: false, grantedForYou: true, requireHandshake: true } } });
      await page.click('#btnConnect');
      await untilText(page, '#connStatus', "connected, web control is OFF in Ovra Bridge's Settings");
      assert.equal(await text(page, '#conn'), `bench-pc :${base + 1}`);
      assert.equal(await text(page, '#meta'), 'Ovra Bridge 1.9.300 · web control OFF · this page is granted');
      assert.equal(await page.$eval('#led', (e) => e.className), 'led amber');
      assert.deepEqual((await kv(page, 'connKv')).slice(3), [['web control', 'disabled'], ['this page', 'granted (no prompts)'], ['handshake required', 'yes']]);
      await page.close();
    } finally {
      await late.stop();
      await other.stop();
    }
  });

  test('with no bridge in the range the page says so, and commands fail at once', async () => {
    const page = await openPage({ url: urlFor(base + 4, base + 9) });
    await page.click('#btnConnect');
    await untilText(page, '#connStatus', 'Ovra Bridge not detected');
    assert.equal(await page.$eval('#connStatus', (e) => e.className), 'st err');
    assert.equal(await page.$eval('#led', (e) => e.className), 'led red');
    assert.equal(await text(page, '#conn'), 'not connected');
    assert.equal(await text(page, '#meta'), 'is Ovra Bridge running?');
    assert.deepEqual((await toasts(page)).slice(-1), [[`Ovra Bridge not found on ${base + 4}-${base + 9}. Is Ovra Bridge running on this machine?`, 'toast err']]);
    assert.equal(await page.evaluate(() => window.QuickActions.cmd('fusion_readiness').then(() => 'sent', (e) => e.message)), 'not connected');
    assert.equal(await text(page, '#logCount'), '0 calls');
    await page.close();
  });

  // Hidden or shown as a browser tab would be, which a headless page never is on its own.
  const setHidden = (page, hidden) => page.evaluate((hid) => {
    Object.defineProperty(document, 'hidden', { configurable: true, get: () => hid });
    Object.defineProperty(document, 'visibilityState', { configurable: true, get: () => (hid ? 'hidden' : 'visible') });
    document.dispatchEvent(new Event('visibilitychange'));
  }, hidden);

  test('once connected the card reads the listener again while shown, dated, so a bridge that left or came back shows so', async () => {
    const port = base + 6;
    let own = await startStandIn('web-control.mjs', ['--port', String(port), '--machine', 'bench-pc']);
    try {
      const page = await openPage({ clock: true, url: urlFor(base + 5, base + 9) });
      const probes = [];
      page.on('request', (r) => { if (r.url().endsWith('/status')) probes.push(r.url()); });
      await page.clock.runFor(60000);
      await connect(page);
      assert.equal(probes.length, 5, 'nothing is read before Connect, which reads the whole range');
      assert.equal(await text(page, '#connNote'), 'last read just now');

      await own.stop();
      await page.clock.runFor(15000);
      await untilText(page, '#connStatus', 'Ovra Bridge stopped answering');
      assert.equal(await text(page, '#connNote'), 'last read 15 s ago');
      assert.equal(await page.$eval('#led', (e) => e.className), 'led red');
      assert.deepEqual([await text(page, '#conn'), await text(page, '#meta')], ['not connected', 'is Ovra Bridge running?']);
      assert.deepEqual((await kv(page, 'connKv'))[0], ['machine', 'bench-pc']);
      await untilToast(page, 'Ovra Bridge stopped answering on bench-pc');
      await page.clock.runFor(15000);
      await untilText(page, '#connNote', 'last read 30 s ago');

      // Hidden, the page reads nothing; shown again it reads at once, the known port first.
      await setHidden(page, true);
      const before = probes.length;
      await page.clock.runFor(60000);
      own = await startStandIn('web-control.mjs', ['--port', String(port), '--machine', 'bench-pc']);
      await own.control('/sim/scenario', { status: { version: '1.9.300' } });
      await setHidden(page, false);
      await untilText(page, '#connStatus', 'connected, web control enabled');
      assert.equal(await text(page, '#connNote'), 'last read just now');
      assert.equal(await text(page, '#meta'), 'Ovra Bridge 1.9.300 · web control on · Ovra Bridge will ask you per command');
      assert.equal(await page.$eval('#led', (e) => e.className), 'led green');
      await untilToast(page, 'Ovra Bridge answers again on bench-pc');
      assert.deepEqual(probes.slice(before), [`http://127.0.0.1:${port}/status`]);
      assert.deepEqual(page.errors, []);
      await page.close();
    } finally {
      await own.stop();
    }
  });
});

describe('resolving parts', () => {
  test('the default part, several parts, failures and wiki text shown as text', async () => {
    const page = await openPage();
    const lbrSize = fs.statSync(new URL('../../sim/browser-side/fixtures/sefa/dac80504/files/DAC80504.lbr', import.meta.url)).size;
    const stepSize = fs.statSync(new URL('../../sim/browser-side/fixtures/sefa/dac80504/files/DAC80504ZRTER.step', import.meta.url)).size;
    assert.deepEqual(await kv(page, 'partKv'), [
      ['page', `${wiki.url}/sefa/dac80504`],
      ['title', 'DAC80504 - Quad 16-bit voltage-output DAC with a 2.5 V reference and SPI'],
      ['version', '1.3.0'],
      ['published', 'Jun 6, 2025, 09:41 AM (page created Feb 11, 2025, 04:02 PM)'],
      ['library', `DAC80504.lbr (${lbrSize} B)`],
      ['models', `DAC80504ZRTER.step (${stepSize} B)`],
    ]);
    assert.equal(await text(page, '#importNote'), 'one call, then the page polls');
    assert.equal(await page.$eval('#btnImport', (b) => b.disabled), false);
    assert.deepEqual(await toasts(page), [['Resolved dac80504 + 1 model(s)', 'toast ok']]);

    await resolve(page, ' /sefa/lm358-dual/ ,, sefa/opa2333-soic , tolm/in-s63btg');
    assert.equal(await text(page, '#partStatus'), '3 parts, ready');
    assert.deepEqual(await kv(page, 'partKv'), [
      ['library', 'ovra-multi-3parts (merged from 3 pages)'],
      ['part 1', 'sefa/lm358-dual · published Mar 30, 2025, 07:45 AM · LM358.lbr + SOIC8.step'],
      ['part 2', 'sefa/opa2333-soic · published May 2, 2025, 03:30 PM · OPA2333.lbr + OPA2333AIDR.step'],
      ['part 3', 'tolm/in-s63btg · IN-S63BTG.lbr + IN-S63BTG.stp'],
    ]);
    assert.equal(await text(page, '#importNote'), 'one call for all 3 parts, then the page polls');
    assert.equal((await page.evaluate(() => window.QuickActions.state().part.name)), 'ovra-multi-3parts');
    await untilToast(page, 'Resolved 3 parts + 3 model(s)');

    // The switch drops the models and says what that means.
    await resolve(page, 'sefa/rc0603');
    await page.click('#tglNoModel');
    await untilToast(page, 'Resolved rc0603 (no models)');
    assert.deepEqual((await kv(page, 'partKv')).slice(-1), [['models', 'SKIPPED by the switch above: the library will install unbound']]);
    assert.equal(await text(page, '#importNote'), 'no STEP: nothing to bind, the library installs unbound');
    await page.click('#tglNoModel');
    await untilToast(page, 'Resolved rc0603 + 1 model(s)');

    await resolve(page, 'sefa/no-library');
    assert.equal(await text(page, '#partStatus'), 'sefa/no-library publishes no .lbr');
    assert.equal(await page.$eval('#partStatus', (e) => e.className), 'st err');
    assert.equal(await page.$eval('#btnImport', (b) => b.disabled), true);
    await untilToast(page, 'Could not resolve: sefa/no-library publishes no .lbr');
    await resolve(page, 'sefa/gone');
    assert.equal(await text(page, '#partStatus'), 'sefa/gone: wiki answered 404');

    // Markup in a wiki page stays text.
    await resolve(page, 'sefa/odd-names');
    assert.equal((await kv(page, 'partKv'))[1][1], '<img src=x onerror="window.__pwned=1"> Header <b>2x5</b> - <script>window.__pwned=2</script>2 x 5 pin header, 1.27 mm');
    assert.equal(await page.$$eval('#partKv img, #partKv b, #partKv script', (els) => els.length), 0);
    assert.equal(await page.evaluate(() => window.__pwned), undefined);

    // Emptying the input leaves nothing to import.
    await page.fill('#partRef', ' , ');
    await page.click('#btnResolve');
    await untilText(page, '#partStatus', 'enter a wiki page reference');
    assert.equal(await page.$eval('#btnImport', (b) => b.disabled), true);
    assert.equal(await page.evaluate(() => window.QuickActions.state().part), null);
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test('chips pick and unpick parts; a failing catalog still resolves the input', async () => {
    const page = await openPage();
    const chips = await page.$$eval('#chips button', (bs) => bs.map((b) => ({ action: b.dataset.action, ref: b.dataset.ref, slug: b.firstChild.textContent, date: b.querySelector('small').textContent, tip: b.title })));
    assert.equal(chips.length, 6);
    assert.equal(new Set(chips.map((c) => c.ref)).size, 6);
    for (const c of chips) {
      assert.equal(c.action, 'pick');
      assert.equal(c.ref, `sefa/${c.slug}`);
      assert.doesNotMatch(c.date, /\d{4}/);
      assert.match(c.date, /^[A-Z][a-z]{2} \d{1,2}, \d\d:\d\d [AP]M$/);
    }
    assert.ok(!chips.some((c) => c.ref === 'sefa/bench-notes'), 'a guide page is not a part');
    assert.equal(await text(page, '#chipsNote'), '10 parts by Sefa, newest Jun 6, 2025, 09:41 AM');

    const [a, b2, c] = chips;
    const clickChip = (ref) => page.click(`#chips button[data-ref="${ref}"]`);
    const active = () => page.$$eval('#chips button.active', (bs) => bs.map((x) => x.dataset.ref));
    await clickChip(a.ref);
    assert.equal(await page.inputValue('#partRef'), a.ref);
    await clickChip(b2.ref);
    assert.equal(await page.inputValue('#partRef'), `${a.ref}, ${b2.ref}`);
    assert.deepEqual((await active()).sort(), [a.ref, b2.ref].sort());
    await clickChip(a.ref);
    assert.equal(await page.inputValue('#partRef'), b2.ref);
    assert.deepEqual(await active(), [b2.ref]);
    // "Resolve files" ends multi-pick mode: the next chip starts a fresh list.
    await page.click('#btnResolve');
    await clickChip(c.ref);
    assert.equal(await page.inputValue('#partRef'), c.ref);
    assert.deepEqual(await active(), [c.ref]);
    await page.close();

    await wiki.control('/sim/fail', { pageList: 500 });
    const failing = await openPage();
    assert.equal(await text(failing, '#chipsNote'), "could not list Sefa's pages: wiki answered 500");
    assert.equal(await failing.$$eval('#chips button', (bs) => bs.length), 0);
    assert.deepEqual((await kv(failing, 'partKv')).map((r) => r[0]), ['page', 'files published', 'library', 'models']);
    assert.equal((await kv(failing, 'partKv'))[1][1], 'Jun 6, 2025, 09:41 AM');
    await failing.close();
  });
});

describe('importing into Fusion', () => {
  test('one part: staged, installed, watched to proven, with fills, receipt, lint and frames', async () => {
    const page = await openPage({ clock: true });
    const requests = [];
    page.on('request', (r) => requests.push(r.url()));
    await bridge.control('/sim/scenario', { evidenceExtras: [
      { kind: 'proof', step: '3d', ok: false, error: 'the Fusion window was minimised' },
      { kind: 'proof', step: 'symbol', ok: false },
      { kind: 'context', view: 'library manager', path: 'C:/Users/studio/AppData/Local/Ovra/proof/gone.webp' }] });
    await resolve(page, 'tolm/in-s63btg');
    await connect(page);
    await page.click('#btnImport');
    await untilText(page, '#stageLine', 'importing_step · importing the STEP model of part 1 of 1 · 35% · ~18s left');
    assert.deepEqual(await kv(page, 'receiptKv'), [
      ['installed', 'yes, C:/Users/studio/Documents/Ovra/libraries/in-s63btg.lbr'],
      ['library', 'in-s63btg'],
      ['parts', '1 of 1 paired with a STEP'],
      ['named skips', 'none'],
      ['filled from wiki pages', 'LED name -> IN-S63BTG, IN-S63BTG description, IN-S63BTG MPN'],
      ['fusion', 'Fusion is running and its add-in answers'],
      ['runId', 'run-1'],
      ['estimated', '35s'],
    ]);
    assert.equal(await text(page, '#lint'), 'Part numbersevery component carries a manufacturer part number and a distributor number.');
    await untilToast(page, 'Installed and started run run-1');
    assert.equal(await page.$eval('#btnCancel', (b) => [b.hidden, b.disabled, b.textContent].join()), 'false,false,Cancel import');
    const state = await page.evaluate(() => window.QuickActions.state());
    assert.equal(state.staged, 'C:/Users/studio/ovra-wiki-libs/in-s63btg.zip');
    assert.equal(state.runId, 'run-1');

    const log = await bridgeLog();
    const chunks = log.commands.filter((c) => c.command === 'write_file_chunk');
    assert.equal(chunks.length, 1);
    assert.deepEqual({ ...chunks[0].args, dataB64: undefined }, { path: '~/ovra-wiki-libs/in-s63btg.zip', dataB64: undefined, offset: 0, final: true, createDirs: true });
    assert.deepEqual((await commandsNamed('fusion_install_library_bundle'))[0].args, { zipPath: 'C:/Users/studio/ovra-wiki-libs/in-s63btg.zip', libraryName: 'in-s63btg' });
    const bundle = log.bundles['C:/Users/studio/ovra-wiki-libs/in-s63btg.zip'];
    assert.deepEqual(bundle.entries.map((e) => e.name), ['in-s63btg.lbr', 'IN-S63BTG.stp']);
    assert.match(bundle.lbr, /<deviceset name="IN-S63BTG" prefix="D">\s*<description>Side-view RGB LED, 1.6 x 1.5 mm, common anode<\/description>/);
    assert.match(bundle.lbr, /<attribute name="LCSC_PN" value="C2843785" constant="no"\/><attribute name="MPN" value="IN-S63BTG" constant="no"\/>/);
    assert.deepEqual((await commandsNamed('fusion_live_feed'))[0].args, { action: 'start', intervalSec: 1, maxSec: 1500 });

    await page.clock.runFor(5000);
    await untilText(page, '#impStatus', 'proven');
    assert.equal(await text(page, '#stageLine'), 'done verdict: proven · 1/1 parts proven · 7 frames');
    assert.equal(await page.$eval('#progFill', (f) => [f.style.width, f.className].join()), '100%,ok');
    await untilToast(page, 'Library created in Fusion: 1/1 parts proven');
    assert.equal(await text(page, '#liveLabel'), 'live view ended · done');
    assert.equal(await page.$eval('#btnCancel', (b) => b.hidden), true);
    await until(page, () => document.querySelectorAll('#gallery figure img').length === 4
      && document.querySelector('#gallery figure:last-child .ph')?.textContent.startsWith('frame could not'));
    const captions = await page.$$eval('#gallery figcaption', (cs) => cs.map((c) => Array.from(c.children).map((s) => `${s.className}:${s.textContent}`).join('|')));
    assert.deepEqual(captions, ['symbol', 'footprint', '3d', 'library'].map((s) => `tag proof:proof|:${s}|:160x100|part:LED_RGB_1615`)
      .concat(['tag proof:proof|:3d|part:', 'tag proof:proof|:symbol|part:', 'tag other:context|:library manager|part:']));
    assert.deepEqual(await page.$$eval('#gallery .ph', (ps) => ps.map((p) => p.textContent)), [
      'REFUSED: the Fusion window was minimised', 'not evidence', 'frame could not be fetched from the box: gone.webp']);
    const proves = await commandsNamed('fusion_prove_result');
    assert.deepEqual(proves.map((p) => p.args), [{ runId: 'run-1' }, { runId: 'run-1' }, { runId: 'run-1', inlineFrames: true }]);
    assert.ok((await commandsNamed('fusion_live_feed')).some((c) => c.args.action === 'stop'));

    // After it loaded, the page only talked to the listener's port range and the wiki.
    const listener = (u) => { const m = /^http:\/\/127\.0\.0\.1:(\d+)\//.exec(u); return m && Number(m[1]) >= base && Number(m[1]) <= base + 9; };
    const elsewhere = requests.filter((u) => !u.startsWith(wiki.url) && !listener(u) && !u.startsWith('data:'));
    assert.ok(requests.some((u) => u.startsWith(`http://127.0.0.1:${base + 1}/command`)));
    assert.deepEqual(elsewhere, []);
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test('several parts: pre-flight, fills, merge and the multi-part bundle', async () => {
    const page = await openPage();
    await resolve(page, 'sefa/lm358-dual, sefa/opa2333-soic, sefa/cap-0805, sefa/broken-lbr');
    assert.equal(await text(page, '#partStatus'), '4 parts, ready');
    await connect(page);

    await page.click('#btnPlan');
    await untilToast(page, 'Plan: 40s, 6 stages');
    assert.deepEqual((await commandsNamed('fusion_plan_library_import'))[0].args, { parts: [
      { package: 'ovra-multi-4parts', modelPath: 'SOIC8.step' },
      { package: 'ovra-multi-4parts', modelPath: 'OPA2333AIDR.step' },
      { package: 'ovra-multi-4parts', modelPath: 'SW6X6.step' }] });
    assert.deepEqual(await kv(page, 'planKv'), [['status', 'ready'], ['message', 'Fusion is running and its add-in answers'], ['total', '40s (33s if already open)'], ['confidence', 'measured']]);
    assert.deepEqual(await page.$$eval('#planStages li', (ls) => ls.map((l) => Array.from(l.children).map((s) => s.textContent).join(' | '))), [
      'stage the bundle | 1s · measured', 'open the library in the library manager | 6s · measured',
      'bind SOIC8.step to ovra-multi-4parts | 9s · estimated', 'bind OPA2333AIDR.step to ovra-multi-4parts | 9s · estimated',
      'bind SW6X6.step to ovra-multi-4parts | 9s · estimated', 'prove | 4s · measured']);
    assert.equal(await text(page, '#impStatus'), 'ready');

    await page.click('#btnImport');
    await untilToast(page, 'Installed and started run run-1');
    await untilToast(page, 'Left out of the merged library (not valid XML): sefa/broken-lbr');
    const receipt = Object.fromEntries(await kv(page, 'receiptKv'));
    assert.equal(receipt.library, 'ovra-multi-4parts');
    assert.equal(receipt.parts, '3 of 3 paired with a STEP: SOIC8, DIP8, C0805');
    assert.equal(receipt['filled from wiki pages'], 'LM358 MPN, C name -> CL21B104KBCNNNC, CL21B104KBCNNNC description, CL21B104KBCNNNC MPN');
    const bundle = (await bridgeLog()).bundles['C:/Users/studio/ovra-wiki-libs/ovra-multi-4parts.zip'];
    assert.deepEqual(bundle.entries.map((e) => e.name), ['ovra-multi-4parts.lbr', 'SOIC8.step', 'OPA2333AIDR.step', 'SW6X6.step']);
    const lbr = bundle.lbr;
    assert.deepEqual([...lbr.matchAll(/<package name="([^"]+)"/g)].map((m) => m[1]), ['SOIC8', 'DIP8', 'C0805']);
    assert.match(lbr, /SOIC8 as drawn for the LM358/);
    assert.doesNotMatch(lbr, /SOIC8 as drawn for the OPA2333/);
    assert.deepEqual([...lbr.matchAll(/<package3d [^>]*urn="([^"]+)"/g)].map((m) => m[1]), ['urn:adsk.eagle:package:16406/2', 'urn:adsk.eagle:package:90211/1']);
    assert.deepEqual([...lbr.matchAll(/<symbol name="([^"]+)"/g)].map((m) => m[1]), ['OPAMP', 'OPAMP_PWR', 'C']);
    assert.deepEqual([...lbr.matchAll(/<deviceset name="([^"]+)"/g)].map((m) => m[1]), ['LM358', 'OPA2333', 'CL21B104KBCNNNC']);
    assert.match(lbr, /<device name="P" package="DIP8">[\s\S]*?<technologies><technology name=""><attribute name="MPN" value="LM358" constant="no"\/><\/technology><\/technologies><\/device>/);
    await page.close();
  });

  test('a part without a model installs unbound; a denied page is told how to allow', async () => {
    const page = await openPage();
    await resolve(page, 'sefa/cap-0805');
    await connect(page);
    await page.click('#btnImport');
    await untilText(page, '#impStatus', 'installed, unbound');
    assert.equal(await text(page, '#stageLine'), 'installed, unbound · The library is in the library manager without 3D models; publish a STEP on the wiki page to bind one.');
    assert.equal(await page.$eval('#progFill', (f) => [f.style.width, f.className].join()), '100%,ok');
    await untilToast(page, 'Library placed at C:/Users/studio/Documents/Ovra/libraries/cap-0805.lbr with no 3D bound');
    assert.equal(await page.$eval('#btnCancel', (b) => b.hidden), true);
    const receipt = Object.fromEntries(await kv(page, 'receiptKv'));
    assert.equal(receipt.parts, '0 of 1 paired with a STEP');
    assert.equal(receipt['named skips'], 'C0805 (no STEP model in the bundle)');
    assert.equal(await text(page, '#lint'), 'Part numbers1 of 1 component missing manufacturer, a distributor number (Mouser, DigiKey or LCSC). The import is fine; the BOM will be blank for it until the numbers are added upstream.');
    assert.equal(await page.$eval('#lint', (l) => l.className), 'lint warn');
    assert.deepEqual(await commandsNamed('fusion_prove_result'), []);

    await bridge.control('/sim/scenario', { deny: true });
    await page.click('#btnImport');
    await untilText(page, '#impStatus', 'failed');
    assert.equal(await text(page, '#stageLine'), 'not allowed Ovra Bridge asked you to allow this page and did not get a click in time. Press the button again and click Allow (1 hr) in the Ovra Bridge toast, or grant this page in Ovra Bridge\'s Settings > Web Control.');
    await untilToast(page, 'Ovra Bridge did not get your Allow click. this page is not allowed in Ovra Bridge');
    assert.equal(await page.$eval('#progFill', (f) => f.className), 'err');
    assert.equal(await page.$eval('#btnImport', (b) => b.disabled), false);
    assert.match(await page.$eval('#log .line', (l) => l.textContent), /write_file_chunk.*FAIL/);
    await page.close();
  });
});

describe('watching runs', () => {
  async function startImport(page, runScript) {
    if (runScript) await bridge.control('/sim/scenario', { runScript });
    const before = await page.evaluate(() => window.QuickActions.state().runId);
    await page.click('#btnImport');
    await until(page, (prev) => ![null, prev].includes(window.QuickActions.state().runId), before);
  }

  test('a run not yet on file is polled again; endless transient failures give up at the 12th poll', async () => {
    const page = await openPage({ clock: true });
    await connect(page);
    await startImport(page, [{ fail: { errorCode: 'run_not_found', error: 'no prove run run-1 on file' } }, { stage: 'done' }]);
    await untilText(page, '#stageLine', 'starting (the run is not on file yet) · no prove run run-1 on file (try 1 of 12)');
    await page.clock.runFor(8000);
    await untilText(page, '#impStatus', 'proven');

    await startImport(page, [{ fail: { status: 503, error: 'the bridge is restarting' } }]);
    for (let n = 1; n < 12; n++) {
      await untilText(page, '#stageLine', `bridge not answering, retrying · the bridge is restarting (try ${n} of 12)`);
      await page.clock.runFor(8000);
    }
    await untilText(page, '#impStatus', 'poll failed');
    assert.equal(await text(page, '#stageLine'), 'poll failed the bridge is restarting');
    assert.equal(await text(page, '#liveLabel'), 'live view ended · poll failed');
    assert.equal((await commandsNamed('fusion_prove_result')).filter((c) => c.args.runId === 'run-2').length, 12);
    await page.close();
  });

  test('cancelling, a run that already ended, and a failed run', async () => {
    const page = await openPage({ clock: true });
    await connect(page);
    await startImport(page);
    await untilIncludes(page, '#stageLine', 'importing_step');
    await page.click('#btnCancel');
    await untilToast(page, 'Stopping the import at the next part boundary (a STEP import in progress finishes first)');
    assert.equal(await page.$eval('#btnCancel', (b) => [b.hidden, b.disabled, b.textContent].join()), 'false,true,stopping at the next part...');
    assert.deepEqual((await commandsNamed('fusion_cancel_run'))[0].args, { runId: 'run-1' });
    await page.clock.runFor(5000);
    await untilText(page, '#impStatus', 'cancelled');
    assert.equal(await text(page, '#stageLine'), 'cancelled · cancelled by the user');
    await untilToast(page, 'Import cancelled: cancelled by the user');
    assert.equal(await page.$eval('#btnCancel', (b) => b.hidden), true);
    assert.equal(await text(page, '#liveLabel'), 'live view ended · cancelled');

    await startImport(page, [{ stage: 'binding', percent: 50 }, { stage: 'failed', error: 'STEP import of SOIC8 crashed', bind: { error: 'bind error' } }]);
    await untilIncludes(page, '#stageLine', 'binding · 50%');
    await bridge.control('/sim/scenario', { replies: { fusion_cancel_run: { body: { success: true, data: { alreadyFinished: true, stage: 'done' } } } } });
    await page.click('#btnCancel');
    await untilToast(page, 'That run had already ended (done)');
    assert.equal(await page.$eval('#btnCancel', (b) => b.hidden), true);
    await page.clock.runFor(5000);
    await untilText(page, '#impStatus', 'failed');
    assert.equal(await text(page, '#stageLine'), 'failed STEP import of SOIC8 crashed');
    await untilToast(page, 'Import failed: STEP import of SOIC8 crashed');
    await page.close();
  });

  test('the bridge restarting mid-run offers Start again; restarts of Fusion are always the user\'s choice', async () => {
    const page = await openPage({ clock: true });
    await connect(page);
    await startImport(page, [{ stage: 'failed', errorCode: 'bridge_restarted_mid_run', error: 'the bridge restarted (update to 1.9.263)' }]);
    await untilText(page, '#impStatus', 'bridge restarted mid-run');
    assert.equal(await text(page, '#stageLine'), 'the bridge restarted under this run the bridge restarted (update to 1.9.263) Start again');
    await untilToast(page, 'The bridge restarted mid-run (an update or a crash). Press Start again.');
    await bridge.control('/sim/scenario', { runScript: [{ stage: 'waiting_for_fusion', errorCode: 'addin_restart_required',
      userMessage: 'Fusion stopped answering the add-in.', openDocuments: [{ name: 'amp-board v12' }, 'enclosure v3'],
      unsavedDocuments: ['amp-board v12'], notificationId: 'n-7', remedyVerb: 'fusion_restart_for_addin' }] });
    await page.click('#stageLine button[data-action="start_again"]');
    await until(page, () => document.querySelector('[data-ask="addin_restart_required"]'));
    assert.equal(await text(page, '[data-ask] h3'), 'Fusion needs a restart to load the Ovra add-in');
    assert.deepEqual(await page.$$eval('[data-ask] p, [data-ask] li', (els) => els.map((e) => e.textContent)),
      ['Fusion stopped answering the add-in.', 'amp-board v12 (unsaved)', 'enclosure v3']);
    assert.equal(await text(page, '#liveLabel'), 'live view ended · waiting for your answer');
    assert.deepEqual(await commandsNamed('fusion_restart_for_addin'), []);
    await page.click('[data-action="restart_hold"]');
    await untilToast(page, 'Okay, the restart is yours');
    assert.equal(await text(page, '#askBox'), 'You own the restart. Nothing will restart Fusion until you do; the running import stops.');
    assert.deepEqual((await commandsNamed('fusion_restart_for_addin')).map((c) => c.args), [{ decline: true, notificationId: 'n-7' }]);

    // The pre-flight finds the add-in down: the ask can't list documents; saving restarts.
    await bridge.control('/sim/scenario', { addinDown: true });
    await page.click('#btnPlan');
    await until(page, () => document.querySelector('[data-ask="addin_restart_required"] button'));
    assert.equal(await page.$eval('#impStatus', (s) => [s.textContent, s.className].join()), 'addin_restart_required,st warn');
    assert.deepEqual(await page.$$eval('[data-ask] p', (els) => els.map((e) => e.textContent)),
      ['The Ovra add-in is not answering inside Fusion. Restarting Fusion loads it.', 'The bridge could not list open documents.']);
    assert.equal(await page.$eval('#planStages li', (l) => l.firstChild.textContent), 'restart Fusion to load the add-in (asks you first)');
    await page.click('[data-action="restart_save"]');
    await untilToast(page, 'Fusion is restarting with your documents saved');
    assert.equal(await text(page, '#askBox'), '');
    assert.deepEqual((await commandsNamed('fusion_restart_for_addin')).map((c) => c.args).slice(-1), [{ save: true }]);
    await page.close();
  });

  test('attaching to a run in flight', async () => {
    const page = await openPage({ clock: true });
    await connect(page);
    await page.click('#btnAttach');
    await untilToast(page, 'No run to attach to');
    await startImport(page, [{ stage: 'binding', percent: 20 }, { stage: 'binding', percent: 60 }, { stage: 'done' }]);
    await untilIncludes(page, '#stageLine', 'binding · 20%');
    await page.close();

    const other = await openPage({ clock: true });
    await connect(other);
    await other.click('#btnAttach');
    await untilToast(other, 'Attached to run run-1');
    await untilText(other, '#stageLine', 'binding · 60%');
    await other.clock.runFor(5000);
    await untilText(other, '#impStatus', 'proven');
    await other.close();
  });
});

describe('live view, feed, banner, catalog and the verb log', () => {
  test('the live view draws the Fusion window with its dialogs and skips slivers', async () => {
    const page = await openPage();
    await connect(page);
    await page.click('#btnFeedStart');
    await untilText(page, '#feedStatus', 'live');
    await until(page, () => !document.getElementById('liveCanvas').hidden);
    assert.match(await text(page, '#liveTick'), /^frame \d+ · 2 panel\(s\)\/dialog\(s\) over it$/);
    assert.equal(await text(page, '#liveNote'), 'Autodesk Fusion - amp-board v12');
    assert.equal(await page.$eval('#liveLed', (l) => l.className), 'led rec');
    const pixels = await page.evaluate(() => {
      const c = document.getElementById('liveCanvas');
      const px = (x, y) => Array.from(c.getContext('2d').getImageData(x, y, 1, 1).data);
      return { size: [c.width, c.height], dialog: px(245, 65), outline: px(190, 30), sliver: px(5, 15), tray: px(280, 187), window: px(100, 100) };
    });
    assert.deepEqual(pixels.size, [320, 200]);
    assert.deepEqual(pixels.dialog, [200, 0, 200, 255]);
    assert.notDeepEqual(pixels.outline, [200, 0, 200, 255]);
    assert.deepEqual(pixels.sliver, [40, 40, 40, 255]);
    assert.deepEqual(pixels.tray, [90, 90, 90, 255]);
    assert.deepEqual(pixels.window, [40, 40, 40, 255]);
    assert.deepEqual(Object.fromEntries(await kv(page, 'feedKv')), { running: 'yes', healthy: 'yes', tick: '0', captured: '0', buffered: '0', 'last error': 'none' });

    await page.click('#btnFeedStop');
    await untilText(page, '#feedStatus', 'stopped');
    assert.equal(await text(page, '#liveLabel'), 'live view ended · stopped by you');
    assert.equal(await page.$eval('#liveLed', (l) => l.className), 'led');
    await page.close();
  });

  test('feed states: a launching Fusion, a stopped feed, an old bridge', async () => {
    const page = await openPage();
    await connect(page);
    await bridge.control('/sim/scenario', { feedNoHwnd: true });
    await page.click('#btnFeedStart');
    await untilText(page, '#liveNote', 'waiting for the Fusion window (Fusion is launching)');
    assert.equal(await page.$eval('#liveCanvas', (c) => c.hidden), true);
    await page.click('#btnFeedStop');
    await untilText(page, '#feedStatus', 'stopped');
    assert.equal(await text(page, '#liveLabel'), 'live view ended · stopped by you');
    await bridge.control('/sim/scenario', { replies: { fusion_live_feed: { body: { success: true, data: { running: true, tick: 7, captured: 0, _honesty: 'running, but no frame was captured for 30 s' } } } } });
    await page.click('#btnFeed');
    await untilText(page, '#feedStatus', 'running but not live');
    assert.deepEqual(await kv(page, 'feedKv'), [['running', 'yes'], ['healthy', '(bridge < 1.9.245)'], ['tick', '7'], ['captured', '0'], ['buffered', '-'],
      ['last error', 'none'], ['honesty', 'running, but no frame was captured for 30 s']]);
    await untilToast(page, 'running, but no frame was captured for 30 s');
    await page.close();
  });

  test('Fusion state, banner, verb catalog and the log', async () => {
    const page = await openPage();
    await connect(page);
    await page.click('#btnFusion');
    await until(page, () => document.querySelectorAll('#docList li').length === 2);
    assert.equal(await page.$eval('#fusionStatus', (s) => [s.textContent, s.className].join()), 'ready,st ok');
    assert.deepEqual(await kv(page, 'fusionKv'), [['installed', 'yes'], ['running', 'yes'], ['ready', 'yes'], ['bridge', '1.9.262']]);
    assert.deepEqual(await page.$$eval('#docList li', (ls) => ls.map((l) => l.textContent)), ['amp-board v12 unsavedactive', 'enclosure v3']);

    await page.click('#btnBannerShow');
    await untilText(page, '#bannerStatus', 'shown in Fusion');
    assert.deepEqual(await kv(page, 'bannerKv'), [['result', 'percent=42']]);
    await page.click('#btnBannerHide');
    await untilText(page, '#bannerStatus', 'hidden');
    assert.deepEqual((await commandsNamed('fusion_activity_banner')).map((c) => c.args), [
      { action: 'show', title: 'Quick Actions demo', detail: 'driven from the browser through Ovra Bridge', percent: 42, tone: 'working' },
      { action: 'hide' }]);

    await page.click('#btnDescribe');
    await untilText(page, '#catStatus', '17 verbs');
    assert.equal(await page.$$eval('#catList li', (ls) => ls.length), 17);
    await page.fill('#catFilter', 'STAGED');
    assert.deepEqual(await page.$$eval('#catList li', (ls) => ls.map((l) => l.textContent)), ['fusion_install_library_bundleInstall a staged zip bundle as a Fusion library and start binding its 3D models']);
    await page.fill('#catFilter', 'no such verb');
    assert.deepEqual(await page.$$eval('#catList li', (ls) => ls.map((l) => l.textContent)), ['nothing matches']);

    const failure = await page.evaluate(() => window.QuickActions.cmd('fusion_nonsense', { x: 1 }).then(() => null, (e) => [e.message, e.code]));
    assert.deepEqual(failure, ['unknown command: fusion_nonsense', 'unknown_command']);
    // Newest first: the call, then its hint on the line below.
    const lines = await page.$$eval('#log .line', (ls) => ls.slice(0, 3).map((l) => Array.from(l.children).map((s) => s.textContent)));
    assert.deepEqual(lines[0].slice(1, 4).concat(lines[0].slice(5)), ['fusion_nonsense', '{"command":"fusion_nonsense","args":{"x":1}}', 'FAIL',
      'success=false errorCode="unknown_command" error="unknown command: fusion_nonsense"']);
    assert.match(lines[0][4], /^\d+ms$/);
    assert.equal(await page.$$eval('#log .line', (ls) => ls[1].textContent), '   hint: Call fusion_describe for the verb catalog.');
    assert.equal(lines[2][1], 'fusion_describe');
    assert.equal(await text(page, '#logCount'), '6 calls');
    await page.click('#btnClear');
    assert.equal(await text(page, '#logCount'), '0 calls');
    assert.equal(await page.$$eval('#log .line', (ls) => ls.length), 0);
    assert.equal(await page.evaluate(() => window.QuickActions.state().callCount), 0);
    await page.close();
  });
});

describe('one product with the dashboard', () => {
  test('the dashboard\'s name, header and faces, a way back to it, and nothing axe finds in either palette or width', async () => {
    const page = await openPage();
    assert.equal(await page.title(), 'Loomdeck · Quick actions');
    assert.deepEqual(await page.$$eval('header .brand > :is(span, h1)', (els) => els.map((e) => e.textContent)), ['Loomdeck', '·', 'Quick actions']);
    assert.equal(await page.$eval('header nav a', (a) => a.href), `${server.url}/`);
    const faces = await page.evaluate(async () => {
      await document.fonts.ready;
      return [...new Set([...document.fonts].filter((f) => f.status === 'loaded').map((f) => f.family.replace(/"/g, '')))].sort();
    });
    assert.deepEqual(faces, ['Familjen Grotesk', 'Figtree']);

    await connect(page);
    await page.click('#btnFusion');
    await until(page, () => document.querySelectorAll('#docList li').length === 2);
    for (const width of [1280, 390]) {
      await page.setViewportSize({ width, height: 900 });
      for (const colorScheme of ['dark', 'light']) {
        await page.emulateMedia({ colorScheme });
        assert.deepEqual(await axeViolations(page), [], `${colorScheme} at ${width} px`);
      }
    }
    await page.close();
  });
});
