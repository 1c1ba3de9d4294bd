// The dashboard claims only what it knows, against loomdeck and the box simulator: LEDs with no
// evidence (a lost server, a hung or silent bridge, no bridge at all) take the "unknown" look with
// the reason; refusals stay shown; the user's own step leads; the drive to green shows its
// progress; and a hidden page marks its tab.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { getJson, makeSandbox, postJson, sim, startServer } from '../helpers/harness.mjs';
import {
  dashboardFixture, ledPills, seenToasts, serveOn, text, until, untilLed, untilReady, untilToast,
} from './fixtures/dashboard-page.mjs';

const fixture = dashboardFixture('signed-in');
const PHONE = { width: 390, height: 844 };

const { withPage } = fixture;

// Every pill as [key, state, word, the state it last showed as known].
const pills = (page) => page.$$eval('#ledGrid .ledpill', (ps) =>
  ps.map((p) => [p.dataset.led, p.dataset.state, p.querySelector('.word')?.textContent ?? '', p.dataset.was ?? '']));
const evidence = (page) => page.$eval('#evidence', (e) => ({ text: e.textContent, unknown: e.classList.contains('unknown'), shown: e.getBoundingClientRect().width > 0 }));
const untilUnknown = (page) => until(page, () => Array.from(document.querySelectorAll('#ledGrid .ledpill')).every((p) => p.dataset.state === 'unknown'));
const chip = (page) => page.$eval('#tled', (e) => e.className);
// Moves a stopped page clock on a second at a time until `fn` holds in the page.
async function runUntil(page, fn, arg) {
  for (let s = 0; s < 60 && !(await page.evaluate(fn, arg)); s++) {
    await page.clock.runFor(1000);
    await page.waitForTimeout(50);
  }
  await until(page, fn, arg);
}
const LEDS = ['fusionRunning', 'addinReady', 'signedIn', 'aps', 'mcp', 'datahub', 'update'];

describe('no green without evidence', () => {
  test('a stopped server turns every LED unknown within 30 s with the reason; a restart brings them back', async () => {
    sim(fixture.sandbox, 'reset', 'signed-in');
    await withPage({ clock: true }, async (page) => {
      await untilReady(page);
      await untilLed(page, 'fusionRunning', 'ok');
      assert.deepEqual(await evidence(page), { text: 'Verified just now - live', unknown: false, shown: true });
      assert.equal(await chip(page), 'led green');

      const { port } = fixture.server;
      await fixture.server.stop();
      await until(page, () => !window.__dash.sseUp);
      let waited = 0;
      while ((await pills(page)).some(([, state]) => state !== 'unknown')) {
        assert.ok(waited < 30000, 'the LEDs were still shown as known 30 s after the server went away');
        await page.clock.runFor(5000);
        waited += 5000;
        await page.waitForTimeout(100);
      }
      await until(page, () => /^Lost contact with loomdeck \d+ s ago - reconnecting$/.test(document.getElementById('evidence').textContent));
      assert.deepEqual(await pills(page), LEDS.map((k) => [k, 'unknown', 'was on', 'ok']));
      assert.equal(await chip(page), 'led unknown');
      assert.deepEqual((await seenToasts(page)).filter(([t]) => t.startsWith('status failed')), []);

      fixture.server = await serveOn(fixture.sandbox, port);
      await page.clock.runFor(3000);
      await until(page, () => window.__dash.sseUp);
      await page.clock.runFor(15000);
      await untilLed(page, 'fusionRunning', 'ok');
      assert.deepEqual(await pills(page), LEDS.map((k) => [k, 'ok', '', '']));
      assert.match((await evidence(page)).text, /^Verified .* - live$/);
      assert.equal(await chip(page), 'led green');
    });
  });

  test('a hung bridge and a silent one show unknown LEDs and the busy reason at 390 px', async () => {
    sim(fixture.sandbox, 'reset', 'signed-in');
    await withPage({ clock: true, viewport: PHONE }, async (page) => {
      await untilReady(page);
      await untilLed(page, 'aps', 'ok');
      sim(fixture.sandbox, 'fault', 'Studio', '*', 'hang');
      // The poll at 15 s hangs in the server's probes; at 30 s nothing vouches for the LEDs any more.
      await page.clock.runFor(30000);
      await untilUnknown(page);
      assert.deepEqual(await evidence(page), {
        text: "Studio's bridge is not answering: the last status read has not come back - showing what was true 30 s ago", unknown: true, shown: true,
      });
      // Once the probes hit their time limit the server answers with the state it kept, and why.
      await until(page, () => window.__dash.status.stale === true);
      assert.match((await evidence(page)).text,
        /^Studio's bridge is not answering: ovra-bridge did not answer fusion_readiness on Studio within 30s; the call was stopped - showing what was true \d+ (s|min) ago$/);
      assert.deepEqual((await pills(page)).map(([, state, word]) => [state, word]), LEDS.map(() => ['unknown', 'was on']));
      assert.equal(await chip(page), 'led unknown');
      sim(fixture.sandbox, 'clear-faults');
    });

    sim(fixture.sandbox, 'reset', 'signed-in');
    await withPage({ clock: true, viewport: PHONE }, async (page) => {
      await untilReady(page);
      await untilLed(page, 'aps', 'ok');
      sim(fixture.sandbox, 'set', 'Studio', 'bridgeResponsive=false');
      await page.clock.runFor(15000);
      await untilUnknown(page);
      assert.deepEqual(await evidence(page), {
        text: "Studio's bridge is not answering: Studio's bridge did not answer within 20s (busy running a long verb?) - showing what was true 15 s ago",
        unknown: true, shown: true,
      });
      // The dashed look is neither green nor red.
      const dot = await page.$eval('.ledpill[data-led=fusionRunning] .dot', (d) => [getComputedStyle(d).backgroundColor, getComputedStyle(d).borderStyle]);
      assert.deepEqual(dot, ['rgba(0, 0, 0, 0)', 'dashed']);
      assert.equal(await page.$eval('#evidence', (e) => e.getBoundingClientRect().right <= window.innerWidth), true);
      assert.equal(await text(page, '#meta'), '(busy - last verified state)');
    });
  });

  test('without a bridge on the PATH nothing is "starting" and the runner\'s reason is shown', async () => {
    const sandbox = makeSandbox({ withSim: false });
    const server = await startServer(sandbox);
    try {
      await postJson(`${server.url}/settings`, { autoGreenOnLaunch: true });
      await withPage({ url: `${server.url}/`, autoGreen: 'server', beforeGoto: (page) => page.addInitScript(() => {
        window.seenStates = [];
        new MutationObserver(() => document.querySelectorAll('#ledGrid .ledpill').forEach((p) => window.seenStates.push(p.dataset.state)))
          .observe(document, { subtree: true, childList: true, attributes: true, attributeFilter: ['data-state'] });
      }) }, async (page) => {
        const why = /^Fusion is not starting on the default box: ovra-bridge CLI not runnable: /;
        await until(page, (re) => window.seenToasts.some(([t]) => new RegExp(re).test(t)), why.source);
        await untilUnknown(page);
        assert.match((await evidence(page)).text, /^The default box's bridge is not answering: ovra-bridge CLI not runnable: /);
        assert.ok((await seenToasts(page)).some(([t]) => t === 'Getting the default box ready - launching Fusion and its services in the background'));
        assert.equal(await page.evaluate(() => window.seenStates.includes('starting')), false);
        const fusion = (await getJson(`${server.url}/api/status`)).json.leds.fusionRunning;
        assert.equal(fusion.state, 'off');
        assert.match(fusion.notStarting, why);
      });
    } finally {
      await server.stop();
      sandbox.cleanup();
    }
  });
});

describe('every refusal shown, the user\'s own step in plain sight', () => {
  test('Close Fusion refused over open documents keeps the error, the hint and the user\'s step', async () => {
    sim(fixture.sandbox, 'reset', 'signed-in');
    sim(fixture.sandbox, 'set', 'Studio', 'documents=["amp-board v12","enclosure v3"]');
    await withPage({ clock: true }, async (page) => {
      await untilReady(page);
      await untilLed(page, 'fusionRunning', 'ok');
      await page.click('#btnStop');
      await until(page, () => !document.getElementById('actionNote').hidden);
      // Past the toasts' lives and the refresh after the reply, the refusal is still there.
      await page.clock.runFor(20000);
      assert.deepEqual(await page.$eval('#actionNote', (n) => [n.hidden, n.querySelector('.ntext').firstChild.textContent, n.querySelector('.nhint').textContent]), [
        false, 'Close Fusion on Studio:', 'Save and close them in Fusion first; fusion_kill would force-close and lose unsaved changes.']);
      assert.match(await text(page, '#actionNote .ntext'), /: Fusion has 2 open document\(s\) that would prompt on close: amp-board v12, enclosure v3/);
      assert.equal(await text(page, '#userStep'), 'Save and close amp-board v12, enclosure v3 in Fusion on Studio, then press Close Fusion again');
      await page.click('#actionNote .xbtn');
      assert.equal(await page.$eval('#actionNote', (n) => n.hidden), true);

      // Closed on purpose, Fusion reads "closed", not "needs setup"; the next action cleared the step.
      sim(fixture.sandbox, 'set', 'Studio', 'documents=[]');
      await page.click('#btnStop');
      await runUntil(page, () => document.querySelector('.ledpill[data-led=fusionRunning]').dataset.state === 'closed');
      assert.deepEqual((await ledPills(page))[0], ['fusionRunning', 'closed', 'closed']);
      assert.deepEqual(await page.$eval('#userStep', (n) => n.hidden), true);
    });
  });

  test('at the sign-in wall the password line leads and no toast says otherwise', async () => {
    sim(fixture.sandbox, 'reset', 'signin-wall');
    sim(fixture.sandbox, 'set', 'Studio', 'launchSeconds=2', 'signinSeconds=1');
    await postJson(`${fixture.server.url}/settings`, { autoGreenOnLaunch: true });
    try {
      await withPage({ autoGreen: 'server' }, async (page) => {
        await until(page, () => document.getElementById('userStep').textContent === 'Type your Autodesk password in Fusion on Studio - the rest is done for you');
        await until(page, () => window.seenToasts.some(([t]) => t.startsWith('Ready except: ')));
        assert.equal(await page.$eval('#userStep', (n) => n.hidden), false);
        assert.deepEqual((await ledPills(page)).slice(1, 3), [['addinReady', 'busy', 'waits for sign-in'], ['signedIn', 'busy', 'waiting for you']]);
        assert.deepEqual((await seenToasts(page)).filter(([t]) => /Start Fusion|never came up|stuck/.test(t)), []);

        sim(fixture.sandbox, 'enter-password', 'Studio');
        await page.click('#btnRefresh');
        await until(page, () => document.getElementById('userStep').hidden);
      });
    } finally {
      await postJson(`${fixture.server.url}/settings`, { autoGreenOnLaunch: false });
    }
  });
});

describe('the drive to green and the user who looked away', () => {
  test('the drive shows its progress in the bar, the add-in "starting"; a page opened just after says why nothing runs', async () => {
    sim(fixture.sandbox, 'reset', 'demo');
    sim(fixture.sandbox, 'set', 'Studio', 'launchSeconds=12');
    const record = (page) => page.addInitScript(() => {
      window.seenWords = new Set();
      new MutationObserver(() => document.querySelectorAll('#ledGrid .ledpill .word').forEach((w) => window.seenWords.add(w.textContent)))
        .observe(document, { subtree: true, childList: true, characterData: true });
    });
    try {
      await withPage({ autoGreen: 'server', beforeGoto: record }, async (page) => {
        await untilReady(page);
        await page.click('#btnSetup');
        await until(page, () => !document.getElementById('launchbar').hidden);
        assert.match(await text(page, '#lbEta'), /^~\d+s left {2}\d+%$/);
        assert.match(await text(page, '#lbNote'), /^(cold|warm) start · /);
        await until(page, () => window.seenToasts.some(([t]) => t === 'All green - ready to go'));
        assert.equal(await page.evaluate(() => window.seenWords.has('stuck?')), false);
        assert.equal(await page.evaluate(() => window.seenWords.has('starting')), true);
        assert.ok((await seenToasts(page)).some(([t]) => t === 'Opening Fusion on Studio'));
      });
      await postJson(`${fixture.server.url}/settings`, { autoGreenOnLaunch: true });
      await withPage({ autoGreen: 'server' }, async (page) => {
        await untilToast(page, 'Studio was driven to green moments ago - press Set up to run it again', 'toast');
      });
    } finally {
      await postJson(`${fixture.server.url}/settings`, { autoGreenOnLaunch: false });
    }
  });

  test('a hidden page marks its title and icon and notifies once when Fusion stops; all green clears them', async () => {
    sim(fixture.sandbox, 'reset', 'signed-in');
    const beforeGoto = (page) => page.addInitScript(() => {
      window.notes = [];
      window.Notification = class {
        static permission = 'granted';
        static requestPermission() { return Promise.resolve('granted'); }
        constructor(message) { window.notes.push(message); }
      };
    });
    const tab = (page) => page.evaluate(() => {
      const icon = document.querySelector('link[rel=icon]');
      return [document.title, icon.dataset.mark ?? '', icon.getAttribute('href').slice(0, 18), icon.getAttribute('href').includes('%23f85149')];
    });
    await withPage({ clock: true, beforeGoto, storage: { ldNotify: '1' } }, async (page) => {
      await untilReady(page);
      await untilLed(page, 'fusionRunning', 'ok');
      // "Notify me" is the user's choice; here it was stored as on.
      await page.click('#btnSettings');
      await until(page, () => document.getElementById('dlgSettings').open);
      assert.equal(await page.$eval('#tglNotify', (t) => t.getAttribute('aria-checked')), 'true');
      await page.click('#btnCloseSettings');
      await page.evaluate(() => {
        Object.defineProperty(document, 'hidden', { configurable: true, get: () => true });
        document.dispatchEvent(new Event('visibilitychange'));
      });
      sim(fixture.sandbox, 'set', 'Studio', 'running=false');
      await page.clock.runFor(15000);
      await untilLed(page, 'fusionRunning', 'bad');
      await until(page, () => document.title === '(!) Loomdeck');
      assert.deepEqual(await tab(page), ['(!) Loomdeck', 'alarm', 'data:image/svg+xml', true]);
      assert.deepEqual(await page.evaluate(() => window.notes), ['Fusion on Studio stopped - open loomdeck']);

      sim(fixture.sandbox, 'set', 'Studio', 'running=true');
      await page.clock.runFor(15000);
      await untilLed(page, 'fusionRunning', 'ok');
      await until(page, () => document.title === 'Loomdeck');
      assert.deepEqual(await tab(page), ['Loomdeck', '', 'favicon.svg', false]);
      assert.equal(await page.evaluate(() => window.notes.length), 1);
    });
    // Off by default.
    await withPage({}, async (page) => {
      await untilReady(page);
      await page.click('#btnSettings');
      await until(page, () => document.getElementById('dlgSettings').open);
      assert.deepEqual(await page.$eval('#tglNotify', (t) => t.getAttribute('aria-checked')), 'false');
      assert.equal(await text(page, '#stNotify'), 'off');
    });
  });
});
