// The dashboard's controls against loomdeck and the box simulator: the status buttons, the setup
// and settings dialogs, the part import, the surfaces grid, and the guided tour with its remote.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { getJson, makeSandbox, postJson, sim, startServer, waitFor } from '../helpers/harness.mjs';
import {
  launchBrowser, openDashboard, seenToasts, simLog, simShow, text, until, untilLed, untilReady, untilToast,
} from './fixtures/dashboard-page.mjs';

const FIXTURES = path.join(path.dirname(fileURLToPath(import.meta.url)), 'fixtures');
const DORMANT = fs.readFileSync(path.join(FIXTURES, 'dashboard-dormant.json'), 'utf8');

let sandbox;
let server;
let browser;

before(async () => {
  sandbox = makeSandbox();
  sim(sandbox, 'reset', 'demo');
  server = await startServer(sandbox);
  browser = await launchBrowser();
});

after(async () => {
  await browser?.close();
  await server?.stop();
  sandbox?.cleanup();
});

async function withPage(options, fn) {
  const page = await openDashboard(browser, options.url ?? `${server.url}/`, options);
  try {
    await fn(page);
  } finally {
    await page.dispose();
  }
}

// A clean box world and dashboard settings that leave the boxes alone on page load.
async function scenario(name, ...sets) {
  sim(sandbox, 'reset', name);
  for (const s of sets) sim(sandbox, 'set', ...s);
  sim(sandbox, 'clear-log');
  await postJson(`${server.url}/settings`, { autoGreenOnLaunch: false, demoPart: 'tolm/in-s63btg' });
}

const calls = (tool) => simLog(sandbox).filter((c) => c.tool === tool);
const lines = (page, selector) => page.$$eval(selector, (es) => es.map((e) => e.textContent));

describe('status buttons', () => {
  test('Start Fusion and Close Fusion drive the selected box', async () => {
    await scenario('demo', ['Studio', 'launchSeconds=3']);
    await withPage({}, async (page) => {
      await untilReady(page);
      await page.click('#btnStart');
      await untilToast(page, 'starting Fusion in the background', 'toast');
      await untilLed(page, 'addinReady', 'ok');
      assert.equal(await page.$eval('.ledpill[data-led=fusionRunning]', (p) => p.dataset.state), 'ok');
      assert.deepEqual(calls('fusion_start').map((c) => [c.target, c.aiThread, c.args]), [['Studio', 'loomdeck', '{}']]);

      await page.click('#btnStop');
      await untilToast(page, 'closing Fusion', 'toast');
      // Closed on purpose: "closed", not "needs setup".
      await untilLed(page, 'fusionRunning', 'closed');
      assert.deepEqual(calls('fusion_stop').map((c) => [c.target, c.args]), [['Studio', '{"reason":"dashboard: user clicked Close Fusion"}']]);
    });
  });

  test('Setup lists the pending steps, asks for a forced run and runs the next step', async () => {
    await scenario('demo', ['Studio', 'launchSeconds=3']);
    await withPage({}, async (page) => {
      await untilReady(page);
      await page.click('#btnSetup');
      await until(page, () => document.getElementById('dlgSetup').open);
      assert.deepEqual(await lines(page, '#setupBody > *'),
        ['Remaining steps:', '1. Start Fusion (background)', '2. Set up APS cloud search', '3. Enable the Fusion MCP server']);
      await until(page, () => !document.getElementById('btnSetupNext').hidden);
      assert.deepEqual(page.autoGreenCalls.map((c) => [c.url.replace(server.url, ''), c.body]),
        [['/api/auto-green?target=Studio', { force: false }], ['/api/auto-green?target=Studio', { force: true }]]);

      await page.click('#btnSetupNext');
      await untilToast(page, 'running: Start Fusion (background)', 'toast');
      await until(page, () => document.getElementById('setupBody').textContent === 'Remaining steps:1. Set up APS cloud search2. Enable the Fusion MCP server');
      assert.equal(calls('fusion_start').length, 1);
    });
  });

  test('Setup says when everything is configured, naming a box whose Fusion is dormant', async () => {
    await scenario('signed-in');
    await withPage({}, async (page) => {
      await untilReady(page);
      await page.click('#btnSetup');
      await until(page, () => document.getElementById('dlgSetup').open);
      assert.equal(await text(page, '#setupBody'), 'Everything is configured. You are ready to go.');
      assert.equal(await page.$eval('#btnSetupNext', (b) => b.hidden), true);
      await page.click('#btnCloseSetup');
      assert.equal(await page.$eval('#dlgSetup', (d) => d.open), false);
    });
    const beforeGoto = (page) => page.route('**/api/status*', (route) => route.fulfill({ contentType: 'application/json', body: DORMANT }));
    await withPage({ beforeGoto, storage: { ldTarget: 'Studio' } }, async (page) => {
      await untilReady(page);
      await page.click('#btnSetup');
      await until(page, () => document.getElementById('dlgSetup').open);
      assert.equal(await text(page, '#setupBody'), 'Everything is configured - Fusion just is not running on Studio. ' +
        'Start Fusion (or start it on another box; the Autodesk seat follows automatically).');
      assert.equal(await page.$eval('#btnSetupNext', (b) => b.hidden), true);
    });
  });
});

describe('parts', () => {
  test('Import part opens the library on the box and reports a page without one', async () => {
    await scenario('signed-in');
    await withPage({}, async (page) => {
      await untilReady(page);
      await postJson(`${server.url}/ui/click`, { target: 'import-part' });
      await untilToast(page, 'importing tolm/in-s42ata from the wiki into Fusion', 'toast');
      await untilToast(page, 'library opened in Fusion (background)', 'toast ok');
      assert.deepEqual(calls('fusion_open_lbr').map((c) => JSON.parse(c.args).filePath.split('/').pop()), ['IN-S42ATA.lbr']);

      await page.fill('#partPage', '  tolm/datasheet-only ');
      await page.click('#btnImportPart');
      await untilToast(page, 'importing tolm/datasheet-only from the wiki into Fusion', 'toast');
      await untilToast(page, 'import failed: tolm/datasheet-only has no .lbr file', 'toast err');
    });
  });

  test('an import whose bridge calls failed says so, whichever call it was', async () => {
    await scenario('signed-in');
    const ok = { success: true };
    const cases = [
      ['tolm/busy', { sent: ok, opened: { errorCode: 'main_thread_busy', error: 'main thread busy: fusion_build_3d is in progress from another caller', success: false } },
        'main thread busy: fusion_build_3d is in progress from another caller'],
      ['tolm/unsent', { sent: { success: false, error: 'could not send 1 file(s)', failed: [{ path: '/tmp/x.lbr' }] }, opened: ok }, 'could not send 1 file(s)'],
      ['tolm/refused', { sent: ok, opened: { success: false } }, 'the bridge reported no success'],
      ['tolm/coded', { sent: { errorCode: 'disk_full' }, opened: ok }, 'disk_full'],
    ];
    const replies = Object.fromEntries(cases.map(([ref, reply]) => [ref, reply]));
    const beforeGoto = (page) => page.route('**/api/action', (route) => {
      const body = route.request().postDataJSON();
      if (body.action !== 'import_basic_part') return route.continue();
      return route.fulfill({ contentType: 'application/json', body: JSON.stringify({ _hint: 'next steps', page: body.args.page, ...replies[body.args.page] }) });
    });
    await withPage({ beforeGoto }, async (page) => {
      await untilReady(page);
      for (const [ref, , error] of cases) {
        await page.fill('#partPage', ref);
        await page.click('#btnImportPart');
        await untilToast(page, `import failed: ${error}`, 'toast err');
      }
      assert.deepEqual((await seenToasts(page)).filter(([t]) => t === 'library opened in Fusion (background)'), []);
    });
  });

  test('a surface button stages the part, shows where it opened and renders the capture', async () => {
    await scenario('signed-in');
    await withPage({}, async (page) => {
      await untilReady(page);
      assert.equal(await page.$eval('[data-surface=symbol]', (b) => b.dataset.tip),
        'Open the symbol surface for IN-S63BTG in the background, then render it here');
      await page.click('[data-surface=symbol]');
      assert.equal(await text(page, '#ss-symbol'), 'opening…');
      await untilToast(page, 'Symbol surface opened', 'toast ok');
      assert.deepEqual(await page.$eval('#ss-symbol', (s) => [s.textContent, s.className]), ['shown on IN-S63BTG', 'sstate ok']);
      assert.deepEqual(await page.$eval('#si-symbol', (i) => [i.hidden, i.src.slice(0, 22), i.naturalWidth > 0]), [false, 'data:image/png;base64,', true]);
      assert.deepEqual(calls('fusion_show_symbol').map((c) => c.target), ['Studio']);
    });
  });

  test('surface replies without an image, with an error, or none at all', async () => {
    await scenario('signed-in');
    const replies = {
      footprint: { body: { ok: true, deviceset: 'IN-S63BTG', image: 'PHN2Zz48L3N2Zz4KPHN2Zz48L3N2Zz4K', label: 'Footprint', surface: 'footprint', error: null } },
      schematic: { body: { ok: false, label: 'Schematic', surface: 'schematic', error: 'could not generate the test project: "no library"' } },
      library: { abort: true },
    };
    const sent = [];
    const beforeGoto = (page) => page.route('**/api/surface', (route) => {
      const body = route.request().postDataJSON();
      sent.push(body);
      const reply = replies[body.surface];
      if (reply.abort) return route.abort();
      return route.fulfill({ contentType: 'application/json', body: JSON.stringify(reply.body) });
    });
    await withPage({ beforeGoto }, async (page) => {
      await untilReady(page);
      await page.click('[data-surface=footprint]');
      await untilToast(page, 'Footprint surface opened', 'toast ok');
      assert.deepEqual(await page.$eval('#ss-footprint', (s) => [s.textContent, s.className]), ['shown on IN-S63BTG', 'sstate ok']);
      assert.equal(await page.$eval('#si-footprint', (i) => i.hidden), true);

      await page.click('[data-surface=schematic]');
      await untilToast(page, 'Schematic: could not generate the test project: "no library"', 'toast err');
      assert.deepEqual(await page.$eval('#ss-schematic', (s) => [s.textContent, s.className]),
        ['could not generate the test project: "no library"', 'sstate err']);

      await page.click('[data-surface=library]');
      await until(page, () => document.getElementById('ss-library').className === 'sstate err');
      assert.equal(await text(page, '#ss-library'), 'Failed to fetch');
      assert.deepEqual(sent, [{ surface: 'footprint', target: 'Studio' }, { surface: 'schematic', target: 'Studio' }, { surface: 'library', target: 'Studio' }]);
    });
  });
});

describe('settings dialog', () => {
  const state = (page) => page.evaluate(() => {
    const sw = (id) => document.getElementById(id).getAttribute('aria-checked');
    const st = (id) => [document.getElementById(id).textContent, document.getElementById(id).classList.contains('ok')];
    return {
      switches: ['tglAutoGreen', 'tglAutoUpdate', 'tglSeatTakeover', 'tglBadge'].map(sw),
      texts: ['stAutoGreen', 'stUpkeep', 'stBadge', 'stActivity', 'stPart'].map(st),
      mode: document.querySelector('#segActivity .choice.selected')?.dataset.mode ?? null,
      part: document.getElementById('inpPart').value,
    };
  });
  const settingsFile = async () => (await getJson(`${server.url}/settings`)).json.settings;

  test('paints the stored choices and round-trips every change', async () => {
    await scenario('signed-in');
    await withPage({}, async (page) => {
      await untilReady(page);
      await page.click('#btnSettings');
      await until(page, () => document.getElementById('dlgSettings').open);
      assert.equal(await page.evaluate(() => document.activeElement.id), 'dlgSettings');
      assert.equal(await page.$eval('#dlgSettings', (d) => d.getAttribute('aria-labelledby') && document.getElementById(d.getAttribute('aria-labelledby')).textContent), 'Loomdeck Settings');
      assert.deepEqual(await state(page), {
        switches: ['false', 'true', 'true', 'true'],
        texts: [['status only', false], ['updates on | seat take-over on', true], ['badge on while driving', true], ['progress while a verb runs', true], ['IN-S63BTG', false]],
        mode: 'progress',
        part: 'tolm/in-s63btg',
      });

      await page.click('#tglAutoGreen');
      await untilToast(page, 'I will get everything ready whenever you open the Dashboard', 'toast ok');
      await until(page, () => document.getElementById('stAutoGreen').textContent === 'active - drives every facet to green on open');
      assert.equal((await settingsFile()).autoGreenOnLaunch, true);
      assert.deepEqual(page.autoGreenCalls.at(-1).body, { force: false });
      await page.click('#tglAutoGreen');
      await untilToast(page, 'Status only - I will not act on open', 'toast ok');
      await until(page, () => document.getElementById('stAutoGreen').textContent === 'status only');
      assert.equal((await settingsFile()).autoGreenOnLaunch, false);

      await page.click('#tglAutoUpdate');
      await untilToast(page, 'auto-update off (sticky)', 'toast ok');
      assert.equal(simShow(sandbox, 'Studio').autoUpdateFusion, false);
      await page.click('#tglBadge');
      await untilToast(page, 'driving badge off (sticky)', 'toast ok');
      assert.equal(simShow(sandbox, 'Studio').showDrivingBadge, false);

      await page.click('#segActivity .choice[data-mode=flash]');
      await untilToast(page, 'activity indicator: flash', 'toast ok');
      assert.equal(simShow(sandbox, 'Studio').activityIndicator, 'flash');
      await page.click('#segActivity .choice[data-mode=none]');
      await untilToast(page, 'could not set indicator: fusion_set_activity_indicator takes {"mode": "progress"|"flash"}', 'toast err');

      await page.fill('#inpPart', ' tolm/shout-case ');
      await page.press('#inpPart', 'Tab');
      await untilToast(page, 'Surfaces demo part set to tolm/shout-case', 'toast ok');
      assert.equal((await settingsFile()).demoPart, 'tolm/shout-case');
      assert.match(await text(page, '#surfnote'), /^The same part on every surface: SHOUT-CASE from https:\/\/wiki\.ovra\.dev\/tolm\/shout-case\. /);
      await page.fill('#inpPart', '   ');
      await page.press('#inpPart', 'Tab');
      assert.equal((await settingsFile()).demoPart, 'tolm/shout-case');
      await page.click('#btnCloseSettings');
      assert.equal(await page.$eval('#dlgSettings', (d) => d.open), false);

      // A new page reads the sticky values back from the bridge and the rest from the file.
      await page.reload();
      await untilReady(page);
      await page.click('#btnSettings');
      await until(page, () => document.getElementById('dlgSettings').open);
      assert.deepEqual(await state(page), {
        switches: ['false', 'false', 'true', 'false'],
        texts: [['status only', false], ['updates off | seat take-over on', false], ['badge off', false], ['flash while a verb runs', true], ['SHOUT-CASE', false]],
        mode: 'flash',
        part: 'tolm/shout-case',
      });
    });
  });

  test('a confirmed change stays shown on reopening, even past an older snapshot; a refused one springs back', async () => {
    await scenario('signed-in');
    // One status read is held back with the answer it got before the change, as a slow poll would
    // be; its snapshot is marked so the case knows when the page has applied it.
    let holdNext = false;
    const held = [];
    const beforeGoto = (page) => page.route('**/api/status*', async (route) => {
      if (!holdNext) return route.continue();
      holdNext = false;
      const json = await (await route.fetch()).json();
      held.push(() => route.fulfill({ json: { ...json, heldBack: true } }));
    });
    const reopen = async (page) => {
      await page.click('#btnCloseSettings');
      await page.click('#btnSettings');
      await until(page, () => document.getElementById('dlgSettings').open);
      return state(page);
    };
    await withPage({ clock: true, beforeGoto }, async (page) => {
      await untilReady(page);
      await page.click('#btnSettings');
      await until(page, () => document.getElementById('dlgSettings').open);
      await page.click('#tglBadge');
      await untilToast(page, 'driving badge off (sticky)', 'toast ok');
      await page.click('#segActivity .choice[data-mode=flash]');
      await untilToast(page, 'activity indicator: flash', 'toast ok');
      let shown = await reopen(page);
      assert.deepEqual([shown.switches[3], shown.texts[2], shown.mode], ['false', ['badge off', false], 'flash']);

      holdNext = true;
      await page.evaluate(() => document.getElementById('btnRefresh').click());
      await waitFor(() => held.length === 1, { what: 'the held status read' });
      await page.click('#tglAutoUpdate');
      await untilToast(page, 'auto-update off (sticky)', 'toast ok');
      await held[0]();
      await until(page, () => window.__dash.status.heldBack === true);
      assert.equal(await page.evaluate(() => window.__dash.status.settings.autoUpdateFusion), false);
      shown = await reopen(page);
      assert.deepEqual([shown.switches.slice(1), shown.texts[1]], [['false', 'true', 'false'], ['updates off | seat take-over on', false]]);

      // The next read agrees, and from then on the bridge's own values are shown.
      await page.clock.runFor(15000);
      await until(page, () => window.__dash.status.heldBack === undefined);
      assert.deepEqual(await page.evaluate(() => window.__dash.status.settings),
        { activityIndicator: 'flash', autoGreenOnLaunch: false, autoTakeOverSeat: true, autoUpdateFusion: false, demoPart: 'tolm/in-s63btg', showDrivingBadge: false });

      sim(sandbox, 'fault', 'Studio', 'fusion_set_seat_takeover', 'garbage', '--count', '1');
      await page.click('#tglSeatTakeover');
      await until(page, () => window.seenToasts.some(([t, k]) => t.startsWith('could not set seat take-over: ') && k === 'toast err'));
      assert.deepEqual((await state(page)).switches[2], 'true');
      assert.deepEqual((await reopen(page)).texts[1], ['updates off | seat take-over on', false]);
      assert.equal(simShow(sandbox, 'Studio').autoTakeOverSeat, true);
    });
  });

  test('opens at the top and closes on its buttons, Escape and the backdrop, not on its own edge', async () => {
    await scenario('signed-in');
    await withPage({}, async (page) => {
      await untilReady(page);
      const open = async () => {
        await page.click('#btnSettings');
        await until(page, () => document.getElementById('dlgSettings').open);
      };
      const isOpen = () => page.$eval('#dlgSettings', (d) => d.open);
      await open();
      await page.$eval('#settingsBody', (b) => { b.scrollTop = b.scrollHeight; });
      assert.ok(await page.$eval('#settingsBody', (b) => b.scrollTop > 0));
      await page.click('#btnXSettings');
      assert.equal(await isOpen(), false);
      await open();
      assert.equal(await page.$eval('#settingsBody', (b) => b.scrollTop), 0);

      const box = await page.$eval('#dlgSettings', (d) => { const r = d.getBoundingClientRect(); return { x: r.left, y: r.top }; });
      await page.mouse.click(box.x + 3, box.y + 3);
      assert.equal(await isOpen(), true);
      await page.mouse.click(5, 5);
      assert.equal(await isOpen(), false);
      await open();
      await page.keyboard.press('Escape');
      assert.equal(await isOpen(), false);
    });
  });

  test('Restore defaults disarms after 4 s and resets everything on the second click', async () => {
    await scenario('signed-in', ['Studio', 'autoUpdateFusion=false', 'autoTakeOverSeat=false', 'showDrivingBadge=false', 'activityIndicator=flash']);
    await postJson(`${server.url}/settings`, { demoPart: 'tolm/shout-case', theme: 'dark' });
    await withPage({ clock: true }, async (page) => {
      await untilReady(page);
      await page.click('#btnSettings');
      await until(page, () => document.getElementById('dlgSettings').open);
      await page.click('#btnRestoreDefaults');
      assert.deepEqual(await page.$eval('#btnRestoreDefaults', (b) => [b.textContent, b.className]), ['Confirm reset', 'armed']);
      await page.clock.runFor(4000);
      assert.deepEqual(await page.$eval('#btnRestoreDefaults', (b) => [b.textContent, b.className]), ['Restore defaults', '']);
      assert.equal((await settingsFile()).demoPart, 'tolm/shout-case');
      assert.equal(simShow(sandbox, 'Studio').autoUpdateFusion, false);

      await page.click('#btnRestoreDefaults');
      await page.click('#btnRestoreDefaults');
      await untilToast(page, 'Settings restored to defaults', 'toast ok');
      assert.deepEqual(await settingsFile(), { autoGreenOnLaunch: true, demoPart: 'tolm/in-s63btg', theme: 'dark' });
      const studio = simShow(sandbox, 'Studio');
      assert.deepEqual([studio.autoUpdateFusion, studio.autoTakeOverSeat, studio.showDrivingBadge, studio.activityIndicator], [true, true, true, 'progress']);
      await until(page, () => document.getElementById('tglAutoUpdate').getAttribute('aria-checked') === 'true');
      assert.deepEqual(await state(page), {
        switches: ['true', 'true', 'true', 'true'],
        texts: [['active - drives every facet to green on open', true], ['updates on | seat take-over on', true], ['badge on while driving', true],
          ['progress while a verb runs', true], ['IN-S63BTG', false]],
        mode: 'progress',
        part: 'tolm/in-s63btg',
      });
      assert.equal(await page.$eval('#dlgSettings', (d) => d.open), true);
    });
  });
});

describe('guided tour', () => {
  test('the demo button launches Fusion with progress, then plays, narrates and steers the tour', async () => {
    await scenario('demo', ['Studio', 'launchSeconds=12', 'tourStepSeconds=2.5', 'mcpEnabled=true', 'apsSignedIn=true']);
    const audio = [];
    const beforeGoto = async (page) => {
      page.on('request', (r) => {
        const u = new URL(r.url());
        if (u.pathname.startsWith('/demo/audio/') || u.pathname === '/api/tts') audio.push(u.pathname + u.search);
      });
      // No pre-built clip for the first step: its caption goes to speech synthesis instead.
      await page.route('**/demo/audio/launch.mp3', (route) => route.fulfill({ contentType: 'application/json', body: '{"ok":false,"why":"no pre-built narration for step launch"}' }));
    };
    await withPage({ beforeGoto }, async (page) => {
      await untilReady(page);
      await page.getByRole('button', { name: 'Play the demo' }).click();
      await untilToast(page, 'starting the guided tour (background)', 'toast');
      await until(page, () => !document.getElementById('launchbar').hidden);
      assert.match(await text(page, '#lbEta'), /^~\d+s left {2}\d+%$/);
      assert.match(await text(page, '#lbNote'), /^(cold|warm) start · measured from this machine’s own history · [\d.]+s elapsed$/);

      await until(page, () => !document.getElementById('tourTransport').hidden && document.getElementById('tourCaption').textContent !== '');
      const caption = await text(page, '#tourCaption');
      assert.equal(caption, 'Fusion runs on this box in the background; the bridge add-in drives it without stealing focus.');
      await until(page, () => /^step \d+\/16$/.test(document.getElementById('ttStep').textContent));
      const tts = '/api/tts?text=' + encodeURIComponent(caption);
      await waitFor(() => audio.includes(tts), { what: 'the speech request' });
      assert.deepEqual(audio.slice(0, 2), ['/demo/audio/launch.mp3', tts]);

      // The tour card came into view with the demo button, which sits far above it.
      assert.equal(await page.$eval('#tourCard', (c) => c.getBoundingClientRect().top < innerHeight), true);
      await page.click('#ttMute');
      assert.equal(await page.$eval('#ttMute', (b) => [b.dataset.icon, b.getAttribute('aria-pressed')].join()), 'muted,true');
      assert.equal(await page.evaluate(() => localStorage.getItem('ovra-tour-muted')), '1');
      const heard = audio.length;

      await until(page, () => document.querySelectorAll('#tourGallery figure').length > 0);
      await page.click('#ttPrev');
      await untilToast(page, 'replaying the previous view', 'toast');
      await page.click('#ttPause');
      await untilToast(page, 'pausing at the next step boundary', 'toast');
      assert.equal(await page.$eval('#ttPause', (b) => b.dataset.icon), 'play');
      await page.click('#ttPause');
      await untilToast(page, 'resuming', 'toast');
      assert.equal(await page.$eval('#ttPause', (b) => b.dataset.icon), 'pause');

      await until(page, () => window.seenToasts.some(([t]) => t.startsWith('tour complete: ')));
      const done = (await seenToasts(page)).find(([t]) => t.startsWith('tour complete: '));
      const views = Number(/^tour complete: (\d+) views captured$/.exec(done[0])[1]);
      assert.equal(done[1], 'toast ok');
      assert.equal(await page.$$eval('#tourGallery figure img', (imgs) => imgs.filter((i) => i.src.startsWith('data:image/png;base64,')).length), views);
      assert.equal(views, simShow(sandbox, 'Studio').tour.shots.length);
      assert.equal(await text(page, '#tourLabel'), `tour complete  -  ${views} views captured`);
      assert.equal(await page.$eval('#tourTransport', (t) => t.hidden), true);
      assert.equal(audio.length, heard);
      assert.deepEqual(calls('fusion_demo').map((c) => c.args), ['{"mode":"tour","preset":"electronics","remote":true}']);
    });
  });

  test('the remote window polls and steers a running tour on its own', async () => {
    await scenario('signed-in', ['Studio', 'tourStepSeconds=3']);
    const started = await postJson(`${server.url}/api/action`, { action: 'tour', target: 'Studio' });
    const { demoId } = started.json;
    assert.ok(demoId);
    const statusPolls = [];
    const beforeGoto = (page) => page.on('request', (r) => { if (r.url().includes('/api/status')) statusPolls.push(r.url()); });
    await withPage({ url: `${server.url}/?remote=${encodeURIComponent(demoId)}`, storage: { ldTarget: 'Studio' }, beforeGoto }, async (page) => {
      await until(page, () => document.title === 'Fusion Tour Remote' && /^\d+% {2}\S/.test(document.getElementById('rLabel')?.textContent ?? ''));
      assert.equal(await text(page, 'main h2'), 'Fusion Tour');
      await until(page, () => document.getElementById('rCaption').textContent !== '');
      await page.click('#rPause');
      await until(page, () => document.getElementById('rPause').dataset.icon === 'play');
      assert.equal(simShow(sandbox, 'Studio').tour.pauseRequested || simShow(sandbox, 'Studio').tour.paused, true);
      await page.click('#rExit');
      await until(page, () => document.getElementById('rLabel').textContent === 'Tour stopped');
      assert.equal(simShow(sandbox, 'Studio').tour.exited, true);
      assert.deepEqual(statusPolls, []);
      assert.deepEqual(await seenToasts(page), []);
    });
  });
});
