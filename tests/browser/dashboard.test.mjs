// The dashboard page as loomdeck serves it, against the box simulator: start-up, LED rendering,
// the live channel (state, toast and click events) and the launch progress box.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { getJson, postJson, sim, waitFor } from '../helpers/harness.mjs';
import {
  dashboardFixture, ledPills, serveOn, simShow, startPrefixProxy, text, until, untilLed, untilReady, untilToast,
} from './fixtures/dashboard-page.mjs';

const FIXTURES = path.join(path.dirname(fileURLToPath(import.meta.url)), 'fixtures');
const SNAPSHOT = fs.readFileSync(path.join(FIXTURES, 'dashboard-snapshot.json'), 'utf8');
// The same snapshot as an answering bridge sends it: only then do the LEDs show their own states.
const ANSWERED = JSON.stringify({ ...JSON.parse(SNAPSHOT), answered: true, stale: undefined, busyReason: null });

const fixture = dashboardFixture('demo');

// Runs a case on a fresh page and closes it whatever happens.
const { withPage } = fixture;

describe('the page as served', () => {
  test('loads whole, mounts the newbie panel right after the status and passes its self-check', async () => {
    sim(fixture.sandbox, 'reset', 'demo');
    await withPage({ autoGreen: 'server' }, async (page) => {
      await untilReady(page);
      assert.equal(await page.title(), 'Loomdeck');
      const layout = await page.evaluate(() => ({
        afterStatus: document.getElementById('newbie').previousElementSibling.id,
        panelInMount: !!document.querySelector('#newbie .vnp'),
        phrases: Array.from(document.querySelectorAll('#newbie td.vnp-phrase')).map((td) => td.textContent),
        prompts: Array.from(document.querySelectorAll('#prompts .prompt')).map((r) => [r.querySelector('code').textContent, r.querySelector('button').textContent]),
        check: window.OvraNewbiePanel.selfCheck(),
      }));
      assert.equal(layout.afterStatus, 'status');
      assert.equal(layout.panelInMount, true);
      assert.deepEqual(layout.phrases, ['“open the step in fusion”', '“export this board to fusion”', '“build the parts library in fusion”',
        '“sign me into fusion”', '“search my fusion cloud files for the amp board”', '“export the fusion design as STEP”']);
      assert.equal(layout.prompts.length, 8);
      assert.deepEqual(layout.prompts[0], ['run the fusion demo tour and show me the gallery', 'Copy']);
      assert.equal(layout.check.ok, true, JSON.stringify(layout.check.rows.filter((r) => !r.pass)));

      // With the setting off, the page's unforced auto-green request is refused and says so.
      await until(page, () => window.__dash.errors.includes('log: auto-green off by setting'));
      assert.deepEqual(await page.evaluate(() => window.__dash.errors), ['log: sse connected', 'log: auto-green off by setting']);
      assert.equal(await page.evaluate(() => window.__dash.settings.autoGreenOnLaunch), false);

      // The header button belongs to the panel: it hides and shows it.
      await page.click('#btnRecall');
      assert.equal(await page.$eval('#newbie .vnp', (p) => p.closest('[hidden]') !== null), true);
      await page.click('#btnRecall');
      assert.equal(await page.$eval('#newbie .vnp', (p) => p.closest('[hidden]') !== null), false);
      assert.deepEqual(page.pageErrors, []);
    });
  });

  test('narrow windows drop to fewer columns; small and touch screens get 44px targets', async () => {
    sim(fixture.sandbox, 'reset', 'demo');
    const layout = (page) => page.evaluate(() => {
      const shown = Array.from(document.querySelectorAll('header button, main button, .ledpill, .tpill')).filter((b) => b.offsetParent);
      return {
        brand: ['bname', 'bsep', 'bsubj'].map((c) => getComputedStyle(document.querySelector('.brand .' + c)).display !== 'none'),
        meta: getComputedStyle(document.getElementById('meta')).display !== 'none',
        columns: getComputedStyle(document.getElementById('surfaces')).gridTemplateColumns.split(' ').length,
        smallest: Math.min(...shown.map((b) => b.getBoundingClientRect().height)),
        panel: window.OvraNewbiePanel.selfCheck().rows.filter((r) => !r.pass && r.what !== 'phrase headroom').map((r) => r.what),
      };
    });
    await withPage({ viewport: { width: 420, height: 900 } }, async (page) => {
      await untilReady(page);
      assert.deepEqual(await layout(page), { brand: [false, false, false], meta: false, columns: 1, smallest: 44, panel: [] });
    });
    await withPage({ viewport: { width: 660, height: 900 } }, async (page) => {
      await untilReady(page);
      // With a mouse the panel (inside main since the status leads) keeps its own 28 px buttons.
      assert.deepEqual(await layout(page), { brand: [true, true, true], meta: false, columns: 2, smallest: 28, panel: [] });
    });
    await withPage({ viewport: { width: 1024, height: 900 }, hasTouch: true }, async (page) => {
      await untilReady(page);
      assert.deepEqual(await layout(page), { brand: [true, true, true], meta: true, columns: 4, smallest: 44, panel: [] });
    });
  });

  test('works unchanged under a path prefix', async () => {
    sim(fixture.sandbox, 'reset', 'demo');
    const proxy = await startPrefixProxy(fixture.server.port, '/deck/');
    try {
      await withPage({ url: proxy.url }, async (page) => {
        await untilReady(page);
        assert.equal(await text(page, '#tname'), 'target: Studio');
        await postJson(`${fixture.server.url}/ui/toast`, { message: 'through the prefix', kind: 'ok' });
        await untilToast(page, 'through the prefix', 'toast ok');
        assert.equal(page.autoGreenCalls[0].url, proxy.url + 'api/auto-green?target=Studio');
        assert.deepEqual(proxy.stray, []);
      });
    } finally {
      await proxy.stop();
    }
  });

  test('shows the seven skeleton pills until the first snapshot arrives', async () => {
    const beforeGoto = (page) => page.route('**/api/status*', () => {});
    await withPage({ beforeGoto }, async (page) => {
      await until(page, () => document.querySelectorAll('#ledGrid .ledpill').length === 7);
      assert.deepEqual(await page.$$eval('#ledGrid .ledpill', (ps) => ps.map((p) => [p.querySelector('.lbl').textContent, p.querySelector('.word').textContent])), [
        ['Fusion running', 'checking'], ['Bridge add-in', 'checking'], ['Autodesk sign-in', 'checking'], ['APS cloud search', 'checking'],
        ['Fusion MCP server', 'checking'], ['Data Hub API', 'checking'], ['Fusion up to date', 'checking']]);
      assert.equal(await text(page, '#tname'), 'connecting...');
    });
  });

  test('keeps the console lines and uncaught errors for agents to read', async () => {
    await withPage({}, async (page) => {
      await untilReady(page);
      await page.evaluate(() => {
        console.warn('two', { a: 1 }, 3);
        setTimeout(() => { throw new Error('boom'); });
      });
      await until(page, () => window.__dash.errors.includes('onerror: Uncaught Error: boom'));
      assert.ok((await page.evaluate(() => window.__dash.errors)).includes('warn: two {"a":1} 3'));
    });
  });
});

describe('timers, tooltips and the about box', () => {
  test('with the live channel down, refreshes the status every 15 s and the box list every 60 s; old LEDs say their age', async () => {
    sim(fixture.sandbox, 'reset', 'demo');
    const counts = { status: 0, targets: 0 };
    // Counted once answered: a refresh still out when the next tick comes is not stacked.
    const beforeGoto = (page) => {
      page.on('requestfinished', (r) => {
        const { pathname } = new URL(r.url());
        if (pathname === '/api/status') counts.status++;
        if (pathname === '/api/targets') counts.targets++;
      });
      return page.route('**/events*', (route) => route.abort());
    };
    await withPage({ clock: true, beforeGoto }, async (page) => {
      await until(page, () => window.__dash.status !== null);
      await waitFor(() => counts.targets === 1 && counts.status === 1, { what: 'the start-up requests' });
      for (let n = 2; n <= 4; n++) {
        await page.clock.runFor(15000);
        await waitFor(() => counts.status === n, { what: `status request ${n}` });
      }
      assert.equal(counts.targets, 1);
      await page.clock.runFor(15000);
      await waitFor(() => counts.targets === 2 && counts.status === 5, { what: 'the minute\'s requests' });

      // Reads that no longer answer leave the LEDs as they were: past 30 s they say how old they are.
      await page.route('**/api/status*', () => {});
      assert.equal(await page.$eval('#ledAge', (e) => e.hidden), true);
      await page.clock.runFor(35000);
      await until(page, () => /^as of 3\d s ago$/.test(document.getElementById('ledAge').textContent));
    });
  });

  test('tooltips wait 600 ms, sit under their element inside the window; the about box follows the brand', async () => {
    sim(fixture.sandbox, 'reset', 'demo');
    const bridge = simShow(fixture.sandbox, 'Studio').bridgeVersion;
    await withPage({ clock: true }, async (page) => {
      await untilReady(page);
      const tip = () => page.evaluate(() => {
        const tt = document.getElementById('tt');
        const r = tt.getBoundingClientRect();
        return { open: tt.matches(':popover-open'), text: tt.textContent, top: r.top, left: r.left, right: r.right, width: window.innerWidth };
      });
      const rect = (sel) => page.$eval(sel, (e) => { const r = e.getBoundingClientRect(); return { top: r.top, bottom: r.bottom, centre: r.left + r.width / 2 }; });
      await page.hover('#btnStart');
      await page.clock.runFor(590);
      assert.equal((await tip()).open, false);
      await page.clock.runFor(20);
      const start = await tip();
      const button = await rect('#btnStart');
      assert.equal(start.text, 'Launch Fusion on the selected box, in the background - your focus is never taken');
      assert.equal(Math.round(start.top - button.bottom), 10);
      assert.ok(Math.abs((start.left + start.right) / 2 - button.centre) < 1);

      await page.hover('#btnRefresh');
      assert.equal((await tip()).open, false);
      await page.clock.runFor(610);
      const edge = await tip();
      assert.equal(edge.text, "Re-read every facet's status from the bridge right now (also auto-refreshes every 15s)");
      assert.equal(Math.round(edge.width - edge.right), 8);
      await page.hover('#ledGrid .ledpill');
      assert.equal((await tip()).open, false);

      await page.hover('#brandZone .bname');
      await page.clock.runFor(610);
      assert.deepEqual(await page.$eval('#appinfo', (a) => [a.hidden, a.querySelector('.vers').textContent]),
        [false, `dashboard v1.10.20 · bridge v${bridge}`]);
      assert.equal(await text(page, '#bpBridge'), bridge);
      await page.mouse.move(640, 700);
      await page.clock.runFor(230);
      assert.equal(await page.$eval('#appinfo', (a) => a.hidden), true);
    });
  });
});

describe('status rendering', () => {
  test('a signed-in box shows every LED green, its header chip, versions and the box pills', async () => {
    sim(fixture.sandbox, 'reset', 'signed-in');
    const studio = simShow(fixture.sandbox, 'Studio');
    await withPage({}, async (page) => {
      await untilReady(page);
      await untilLed(page, 'fusionRunning', 'ok');
      assert.deepEqual(await ledPills(page), [['fusionRunning', 'ok', ''], ['addinReady', 'ok', ''], ['signedIn', 'ok', ''],
        ['aps', 'ok', ''], ['mcp', 'ok', ''], ['datahub', 'ok', ''], ['update', 'ok', '']]);
      assert.equal(await text(page, '#tname'), 'target: Studio');
      assert.equal(await page.$eval('#tled', (e) => e.className), 'led green');
      assert.equal(await text(page, '#meta'), '');
      assert.deepEqual(await page.evaluate(() => ['bpDash', 'bpBridge', 'bpAddin'].map((id) => document.getElementById(id).textContent)),
        ['1.10.20', studio.bridgeVersion, studio.addinVersion]);
      await until(page, () => document.querySelectorAll('#targets .tpill').length === 2);
      const pills = await page.$$eval('#targets .tpill', (ps) => ps.map((p) => [p.textContent, p.classList.contains('active'), p.dataset.tip]));
      assert.deepEqual(pills.map(([name, active]) => [name, active]), [['Studio', true], ['Bench', false]]);
      assert.match(pills[0][2], /^Fusion is running here - last ready \d{4}-\d\d-\d\dT/);
      assert.match(pills[1][2], /^Fusion is closed here/);
      assert.equal(await page.$eval('#seatnote', (e) => e.hidden), false);
    });
  });

  test('a closed box shows its dormant facets in amber with their words', async () => {
    sim(fixture.sandbox, 'reset', 'demo');
    await withPage({}, async (page) => {
      await untilReady(page);
      assert.deepEqual(await ledPills(page), [['fusionRunning', 'bad', 'closed'], ['addinReady', 'busy', 'paused'],
        ['signedIn', 'busy', 'paused'], ['aps', 'bad', 'off'], ['mcp', 'bad', 'off'], ['datahub', 'bad', 'off'],
        ['update', 'ok', '']]);
    });
  });

  test('display rules, unknown keys and untrusted hints on a crafted snapshot', async () => {
    const beforeGoto = (page) => page.route('**/api/status*', (route) => route.fulfill({ contentType: 'application/json', body: ANSWERED }));
    await withPage({ beforeGoto }, async (page) => {
      await untilReady(page);
      assert.deepEqual(await ledPills(page), [['fusionRunning', 'starting', 'starting'], ['addinReady', 'busy', 'stuck?'],
        ['signedIn', 'busy', 'paused'], ['aps', 'ok', ''], ['update', 'busy', 'waiting'], ['zeta', 'bad', 'off']]);
      assert.equal(await page.$eval('.ledpill[data-led=fusionRunning] .dot', (d) => getComputedStyle(d).animationName), 'ldpulse');
      // The light palette's amber (the browser here asks for light).
      assert.equal(await page.$eval('.ledpill[data-led=addinReady] .dot', (d) => getComputedStyle(d).backgroundColor), 'rgb(191, 135, 0)');
      // The chip shows the box's overall state: one facet needs setup.
      assert.equal(await page.$eval('#tled', (e) => e.className), 'led red');
      assert.equal(await text(page, '#bpBridge'), '-');
      assert.equal(await text(page, '#bpAddin'), '3.8.2');

      await page.click('.ledpill[data-led=aps]');
      const detail = await page.$eval('#ledDetail', (d) => ({
        hidden: d.hidden,
        text: d.textContent,
        bold: Array.from(d.querySelectorAll('.hint b, .hint i, .hint code')).map((b) => b.outerHTML),
        foreign: d.querySelectorAll('img, script, a, target, [onerror]').length,
      }));
      // Tags outside the inline allow-list stay visible as the text they are.
      assert.deepEqual(detail, {
        hidden: false,
        text: 'APS cloud searchCloud search of your Fusion files works.signed in as <img src=x onerror="window.pwned=1">For your AI' +
          'Use fusion_aps_search <img src=x onerror="window.pwned=2"><script>window.pwned=3</script>' +
          '<a href="javascript:window.pwned=4">now</a> & then. Check with loomdeck ui click <target>.',
        bold: ['<b>fusion_aps_search</b>', '<i>then</i>', '<code>loomdeck ui click &lt;target&gt;</code>'],
        foreign: 0,
      });
      assert.equal(await page.evaluate(() => window.pwned), undefined);
      await page.click('.ledpill[data-led=aps]');
      assert.equal(await page.$eval('#ledDetail', (d) => d.hidden), true);
    });
  });

  test('a state event re-renders and keeps the open detail; another box\'s state changes nothing', async () => {
    sim(fixture.sandbox, 'reset', 'signed-in');
    await withPage({}, async (page) => {
      await untilReady(page);
      await untilLed(page, 'aps', 'ok');
      await page.click('.ledpill[data-led=aps]');
      // A person reads plain words first; the bridge's hint follows, unchanged, for the AI.
      assert.equal(await text(page, '#ledDetail .plain'), 'Cloud search of your Fusion files works.');
      assert.equal(await text(page, '#ledDetail .fortag'), 'For your AI');
      assert.equal(await text(page, '#ledDetail .hint'), 'fusion_aps_search gives ~2s cloud lookups.');

      sim(fixture.sandbox, 'set', 'Studio', 'apsSignedIn=false');
      await getJson(`${fixture.server.url}/api/status?target=Studio`);
      await untilLed(page, 'aps', 'bad');
      // The change is read out politely to a screen reader, in the LED's label and word.
      await until(page, () => document.getElementById('announce').textContent.includes('APS cloud search off'));
      assert.equal(await page.$eval('.ledpill[data-led=aps]', (p) => p.classList.contains('selected')), true);
      assert.equal(await text(page, '#ledDetail .hint'),
        'Configured, not signed in: fusion_aps_signin (silent when the browser session is warm).');

      await getJson(`${fixture.server.url}/api/status?target=Bench`);
      await postJson(`${fixture.server.url}/ui/toast`, { message: 'after the Bench state' });
      await untilToast(page, 'after the Bench state', 'toast');
      assert.equal(await text(page, '#tname'), 'target: Studio');
      assert.equal(await page.evaluate(() => window.__dash.status.target), 'Studio');
      assert.equal((await ledPills(page))[0][1], 'ok');
    });
  });

  test('a state event that finds Fusion up or down recolours that box\'s pill at once', async () => {
    sim(fixture.sandbox, 'reset', 'demo');
    let targetReads = 0;
    const beforeGoto = (page) => page.on('request', (r) => { if (new URL(r.url()).pathname === '/api/targets') targetReads++; });
    const pills = (page) => page.$$eval('#targets .tpill', (ps) => ps.map((p) => [p.dataset.box, p.querySelector('.dot').classList.contains('on'), p.dataset.tip.split(' - ')[0]]));
    await withPage({ clock: true, beforeGoto, storage: { ldTarget: 'Studio' } }, async (page) => {
      await untilReady(page);
      await until(page, () => document.querySelectorAll('#targets .tpill').length === 2);
      assert.deepEqual(await pills(page), [['Studio', false, 'Fusion is closed here'], ['Bench', false, 'Fusion is closed here']]);

      sim(fixture.sandbox, 'set', 'Bench', 'running=true');
      await getJson(`${fixture.server.url}/api/status?target=Bench`);
      await until(page, () => document.querySelector('#targets .tpill[data-box=Bench] .dot.on') !== null);
      sim(fixture.sandbox, 'set', 'Studio', 'running=true');
      await getJson(`${fixture.server.url}/api/status?target=Studio`);
      await untilLed(page, 'fusionRunning', 'ok');
      await until(page, () => document.querySelector('#targets .tpill[data-box=Studio] .dot.on') !== null);
      assert.deepEqual(await pills(page), [['Studio', true, 'Fusion is running here'], ['Bench', true, 'Fusion is running here']]);
      assert.equal(await page.$eval('#targets .tpill[data-box=Studio]', (p) => p.classList.contains('active')), true);

      sim(fixture.sandbox, 'set', 'Studio', 'running=false');
      await getJson(`${fixture.server.url}/api/status?target=Studio`);
      await untilLed(page, 'fusionRunning', 'bad');
      assert.deepEqual(await pills(page), [['Studio', false, 'Fusion is closed here'], ['Bench', true, 'Fusion is running here']]);
      assert.equal(targetReads, 1);
    });
  });

  test('choosing a box switches the view and survives a reload; a first visit picks the running box', async () => {
    sim(fixture.sandbox, 'reset', 'seat-elsewhere');
    await withPage({}, async (page) => {
      await untilReady(page);
      assert.equal(await page.evaluate(() => window.__dash.target), 'Bench');
      await until(page, () => document.querySelectorAll('#targets .tpill').length === 2);
      await page.click('#targets .tpill[data-box=Studio]');
      await untilToast(page, 'switched to Studio', 'toast');
      await until(page, () => document.getElementById('tname').textContent === 'target: Studio');
      assert.equal(await page.evaluate(() => localStorage.getItem('ldTarget')), 'Studio');
      await page.reload();
      await untilReady(page);
      assert.equal(await page.evaluate(() => window.__dash.target), 'Studio');
      assert.equal(await text(page, '#tname'), 'target: Studio');
    });
  });
});

describe('remote control over the live channel', () => {
  test('toasts show as text in their kind, whatever markup they carry', async () => {
    await withPage({}, async (page) => {
      await untilReady(page);
      await postJson(`${fixture.server.url}/ui/toast`, { message: 'all green', kind: 'ok' });
      await untilToast(page, 'all green', 'toast ok');
      await postJson(`${fixture.server.url}/ui/toast`, { message: 'plain', kind: 'info' });
      await untilToast(page, 'plain', 'toast');
      const hostile = '<img src=x onerror="window.pwned=1"><b>bold?</b></div><script>window.pwned=2</script>';
      await postJson(`${fixture.server.url}/ui/toast`, { message: hostile, kind: 'err hidden' });
      await untilToast(page, hostile, 'toast');
      assert.equal(await page.$$eval('#toasts .toast', (ts) => ts.reduce((n, t) => n + t.children.length, 0)), 0);
      assert.equal(await page.evaluate(() => window.pwned), undefined);
    });
  });

  test('the newbie panel\'s toasts join the page\'s one stack, above an open dialog', async () => {
    await withPage({ clock: true }, async (page) => {
      await page.context().grantPermissions(['clipboard-read', 'clipboard-write'], { origin: fixture.server.url });
      await untilReady(page);
      await page.click('#newbie .vnp-copy');
      await until(page, () => document.querySelector('#toasts .vnp-toast') !== null);
      await postJson(`${fixture.server.url}/ui/toast`, { message: 'Studio is green', kind: 'ok' });
      await untilToast(page, 'Studio is green', 'toast ok');
      await page.click('#btnSettings');
      await until(page, () => document.getElementById('dlgSettings').open);

      const stack = await page.evaluate(() => {
        const shown = Array.from(document.querySelectorAll('.toast, .vnp-toast'));
        const rects = shown.map((t) => t.getBoundingClientRect());
        return {
          texts: shown.map((t) => [t.parentElement.id, t.textContent]),
          apart: rects[0].bottom <= rects[1].top || rects[1].bottom <= rects[0].top,
          // Inside the rounded corners, where each toast is opaque.
          clips: rects.map((r) => ({ x: r.left + 8, y: r.top + 4, width: r.width - 16, height: r.height - 8 })),
        };
      });
      assert.deepEqual([stack.texts, stack.apart], [[['toasts', 'Studio is green'], ['toasts', 'Copied. Paste it to your AI.']], true]);
      // The modal dialog makes the page inert to hit tests, so what is on top is read from the
      // pixels: a toast above the dialog and its backdrop looks the same once the dialog closes.
      const withDialog = await Promise.all(stack.clips.map((clip) => page.screenshot({ clip })));
      await page.click('#btnCloseSettings');
      const withoutDialog = await Promise.all(stack.clips.map((clip) => page.screenshot({ clip })));
      assert.deepEqual(withDialog.map((shot, i) => shot.equals(withoutDialog[i])), [true, true]);
      await page.clock.runFor(4000);
      await until(page, () => !document.getElementById('toasts').matches(':popover-open'));
    });
  });

  test('clicks press the page\'s own buttons; an unknown target says so', async () => {
    await withPage({}, async (page) => {
      await untilReady(page);
      await postJson(`${fixture.server.url}/ui/click`, { target: 'settings' });
      await until(page, () => document.getElementById('dlgSettings').open);
      await page.keyboard.press('Escape');
      await until(page, () => !document.getElementById('dlgSettings').open);

      await postJson(`${fixture.server.url}/ui/click`, { target: 'refresh' });
      await untilToast(page, 'refreshing status', 'toast');
      await postJson(`${fixture.server.url}/ui/click`, { target: 'warp-drive' });
      await untilToast(page, 'unknown click target: warp-drive', 'toast err');
      await postJson(`${fixture.server.url}/ui/click`, { target: '__proto__' });
      await untilToast(page, 'unknown click target: __proto__', 'toast err');
    });
  });
});

describe('launch progress box', () => {
  // The live channel is scripted: each connection plays the frames queued for it (if any), then
  // ends, and the page reconnects 3 s later on its own, virtual, clock.
  function scriptedChannel(page) {
    const channel = { queued: null, served: 0 };
    const frame = ([name, value, raw]) => `event: ${name}\ndata: ${raw ? value : JSON.stringify(value)}\n\n`;
    channel.install = () => page.route('**/events*', (route) => {
      const events = channel.queued ?? [];
      channel.queued = null;
      channel.served++;
      route.fulfill({ status: 200, headers: { 'content-type': 'text/event-stream' }, body: ': p\n\n' + [['hello', {}], ...events].map(frame).join('') });
    });
    // Queues frames and moves the clock on until a reconnection has taken them.
    channel.play = async (events) => {
      channel.queued = events;
      while (channel.queued !== null) await page.clock.runFor(500);
    };
    return channel;
  }
  const box = (page) => page.evaluate(() => ({
    hidden: document.getElementById('launchbar').hidden,
    label: document.getElementById('lbLabel').textContent,
    eta: document.getElementById('lbEta').textContent,
    width: document.getElementById('lbFill').style.width,
    note: document.getElementById('lbNote').textContent,
  }));

  test('draws what the server measured, clamps the percentage and hides itself', async () => {
    sim(fixture.sandbox, 'reset', 'demo');
    let channel;
    const beforeGoto = (page) => {
      channel = scriptedChannel(page);
      channel.queued = [['progress', { target: 'Studio', stepLabel: 'Waiting for the bridge add-in', percent: 40, etaSec: 12,
        startKind: 'cold', confidence: 'measured', elapsedSec: 9, phase: 'addin' }]];
      return channel.install();
    };
    await withPage({ clock: true, beforeGoto }, async (page) => {
      await until(page, () => !document.getElementById('launchbar').hidden);
      assert.deepEqual(await box(page), {
        hidden: false, label: 'Waiting for the bridge add-in', eta: '~12s left  40%', width: '40%',
        note: 'cold start · measured from this machine’s own history · 9s elapsed',
      });
      await page.clock.runFor(24000);
      assert.equal((await box(page)).hidden, false);
      await page.clock.runFor(1100);
      assert.equal((await box(page)).hidden, true);

      await until(page, () => window.__dash.target === 'Studio');
      await channel.play([['progress', { target: 'Studio', stepLabel: '', percent: 140, etaSec: null, startKind: null, confidence: 'typical', elapsedSec: null }]]);
      await until(page, () => !document.getElementById('launchbar').hidden);
      assert.deepEqual(await box(page), { hidden: false, label: 'Fusion is starting', eta: '  100%', width: '100%', note: 'typical' });
      await page.clock.runFor(1600);
      assert.equal((await box(page)).hidden, true);

      await channel.play([['progress', { target: 'Bench', stepLabel: 'Somewhere else', percent: 10 }], ['toast', { message: 'after Bench', kind: 'ok' }],
        ['progress', 'not an object'], ['state', '{broken', true]]);
      await untilToast(page, 'after Bench', 'toast ok');
      assert.equal((await box(page)).hidden, true);
      assert.deepEqual(page.pageErrors, []);
    });
  });
});

describe('live channel', () => {
  test('reconnects after the server restarts and logs nothing meanwhile', async () => {
    await withPage({}, async (page) => {
      await untilReady(page);
      const before = await page.evaluate(() => window.__dash.errors);
      const { port } = fixture.server;
      await fixture.server.stop();
      await until(page, () => !window.__dash.sseUp);
      fixture.server = await serveOn(fixture.sandbox, port);
      await until(page, () => window.__dash.sseUp);
      const lines = await page.evaluate(() => window.__dash.errors);
      assert.deepEqual(lines.filter((l) => !before.includes(l)), []);
      assert.equal(lines.filter((l) => l === 'log: sse connected').length, before.filter((l) => l === 'log: sse connected').length + 1);
      await postJson(`${fixture.server.url}/ui/toast`, { message: 'back again', kind: 'ok' });
      await untilToast(page, 'back again', 'toast ok');
    });
  });
});
