// The newbie panel as a page shows it: markup, geometry and self-check, the one-column switch,
// the stored open state, tooltips, copying, the width guard and untrusted phrase text.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import {
  DASHBOARD_OPTIONS, DASHBOARD_PHRASES, mountPanel, recordToasts, startRig, toastTexts, vnpLog,
} from './fixtures/newbie-browser.mjs';

const ROW_NAMES = [
  'card background', 'card border', 'card border colour', 'card accent edge', 'card radius', 'card padding',
  'column gap', 'copy icons in one column', 'columns at this width', 'panel gutter', 'phrase headroom',
  'phrase typeface',
];

const LONG = 'a phrase far too long for the cell it sits in, running on and on with more and more words, ' +
  'well past anything that a table cell of this width could ever hold';

let rig;
before(async () => { rig = await startRig(); });
after(async () => { await rig?.stop(); });

describe('newbie panel layout', () => {
  test('served script installs the module object', async () => {
    const res = await fetch(rig.server.url + '/newbie-panel.js');
    assert.equal(res.status, 200);
    assert.equal(res.headers.get('content-type'), 'application/javascript; charset=utf-8');
    const page = await rig.newPage();
    const api = await page.evaluate(() => {
      const p = window.OvraNewbiePanel;
      return { keys: Object.keys(p).sort(), version: p.version, two: p.TWO_COL_MIN, budget: p.PHRASE_BUDGET };
    });
    assert.deepEqual(api, {
      keys: ['PHRASE_BUDGET', 'TWO_COL_MIN', 'checkSend', 'copyText', 'mount', 'selfCheck', 'toast', 'version'],
      version: '2.22.0', two: 700, budget: 336,
    });
    const missing = await page.evaluate(() => {
      try { window.OvraNewbiePanel.mount({ mount: '#nowhere' }); return 'mounted'; } catch (e) { return e.message; }
    });
    assert.equal(missing, 'newbie panel: mount target not found: #nowhere');
  });

  test('the dashboard mount builds the card and passes its self-check', async () => {
    const page = await rig.newPage();
    await mountPanel(page);
    await page.evaluate(() => document.fonts.ready);
    const view = await page.evaluate(() => {
      const panel = window.__vnp.panel;
      return {
        tag: panel.tagName,
        label: panel.getAttribute('aria-label'),
        heading: panel.querySelector('h2').textContent,
        lede: panel.querySelector('.vnp-lede').textContent,
        ledeNoun: panel.querySelector('.vnp-lede b').textContent,
        demo: panel.querySelector('.vnp-demo').textContent,
        meta: panel.querySelector('.vnp-meta').textContent,
        phrases: [...panel.querySelectorAll('.vnp-phrase')].map((c) => c.textContent),
        wrapped: panel.parentElement.parentElement.id,
        titles: document.querySelectorAll('[title]').length,
        styles: document.querySelectorAll('#vnp-css').length,
      };
    });
    assert.deepEqual(view, {
      tag: 'SECTION',
      label: 'Say it: sample prompts for Loomdeck',
      heading: 'Say it',
      lede: "You never need this page's buttons: just tell your AI what you want, using the words fusion. Copy a phrase, or send it straight to a new AI thread.",
      ledeNoun: 'fusion',
      demo: 'Play the demo',
      meta: 'the whole bridge, about 10 minutes',
      phrases: DASHBOARD_PHRASES.map((p) => `\u201c${p}\u201d`),
      wrapped: 'newbie',
      titles: 0,
      styles: 1,
    });

    const check = await page.evaluate(() => window.__vnp.selfCheck());
    assert.equal(check.ok, true, JSON.stringify(check.rows.filter((r) => !r.pass)));
    assert.deepEqual(check.rows.map((r) => r.what), ROW_NAMES);
    const byName = Object.fromEntries(check.rows.map((r) => [r.what, r]));
    assert.deepEqual(byName['card padding'], { what: 'card padding', want: '18px 20px 20px', got: '18px 20px 20px', pass: true });
    assert.deepEqual(byName['panel gutter'], { what: 'panel gutter', want: '16px each side', got: 'left 16px, right 16px', pass: true });
    assert.deepEqual(byName['columns at this width'], { what: 'columns at this width', want: '2', got: '2', pass: true });
    assert.match(byName['phrase headroom'].got, /^[\d.]+px for \u201c.+\u201d, 0 of 6 tight$/);
    assert.equal(byName['phrase typeface'].got.split(',')[0], 'Satoshi');

    const geometry = await page.evaluate(() => {
      const panel = window.__vnp.panel;
      const px = (n) => Math.round(n * 10) / 10;
      const cells = [...panel.querySelectorAll('.vnp-act')];
      const buttons = [...cells[0].querySelectorAll('button')].map((b) => b.getBoundingClientRect());
      const demo = getComputedStyle(panel.querySelector('.vnp-demo'));
      return {
        columns: getComputedStyle(panel).gridTemplateColumns.split(' ')[0],
        rowGap: getComputedStyle(panel).rowGap,
        rowHeights: [...panel.querySelectorAll('.vnp-row')].map((r) => px(r.getBoundingClientRect().height)),
        actWidth: px(cells[0].getBoundingClientRect().width),
        buttons: buttons.map((b) => [px(b.width), px(b.height)]),
        buttonGap: px(buttons[1].left - buttons[0].right),
        buttonRight: px(cells[0].getBoundingClientRect().right - buttons[1].right),
        demo: [demo.backgroundColor, demo.color, demo.fontWeight, demo.fontSize, demo.padding, demo.borderRadius],
        rule: getComputedStyle(panel.querySelectorAll('.vnp-row')[1].cells[0]).borderTopColor,
        margins: [getComputedStyle(panel).marginTop, getComputedStyle(panel).marginBottom],
      };
    });
    assert.deepEqual(geometry, {
      columns: '220px',
      rowGap: '14px',
      rowHeights: [40, 40, 40, 40, 40, 40],
      actWidth: 72,
      buttons: [[28, 28], [28, 28]],
      buttonGap: 6,
      buttonRight: 0,
      demo: ['rgb(0, 184, 177)', 'rgb(5, 34, 31)', '600', '14px', '10px 18px', '8px'],
      rule: 'rgb(38, 45, 54)',
      margins: ['16px', '20px'],
    });

    await mountPanel(page, { ...DASHBOARD_OPTIONS, toggleButton: undefined, slug: 'second' });
    assert.equal(await page.locator('#vnp-css').count(), 1, 'a second mount adds no second style sheet');
    assert.deepEqual(page.pageErrors, []);
  });

  test('one column when the panel itself is narrower than 700px', async () => {
    const page = await rig.newPage({ viewport: { width: 1400, height: 900 } });
    await mountPanel(page);
    const at = (width) => page.evaluate((w) => {
      document.getElementById('newbie').style.width = w + 'px';
      document.getElementById('newbie').style.boxSizing = 'border-box';
      const panel = window.__vnp.panel;
      const row = window.__vnp.selfCheck().rows.find((r) => r.what === 'columns at this width');
      const cs = getComputedStyle(panel);
      return {
        width: panel.getBoundingClientRect().width,
        tracks: cs.gridTemplateColumns.split(' ').length,
        rowGap: cs.rowGap,
        left: getComputedStyle(panel.querySelector('.vnp-left')).flexDirection,
        row: [row.want, row.got, row.pass],
      };
    }, width);
    // The mount point carries a 16px gutter on each side.
    assert.deepEqual(await at(732), { width: 700, tracks: 2, rowGap: '14px', left: 'column', row: ['2', '2', true] });
    assert.deepEqual(await at(731), { width: 699, tracks: 1, rowGap: '12px', left: 'row', row: ['1', '1', true] });
    const narrow = await page.evaluate(() => window.__vnp.selfCheck());
    assert.equal(narrow.ok, false, 'the narrowed mount point no longer leaves the 16px gutter to the window');
    assert.deepEqual(narrow.rows.filter((r) => !r.pass).map((r) => r.what), ['panel gutter']);
  });

  test('self-check names every broken measurement', async () => {
    const empty = await rig.newPage();
    assert.deepEqual(await empty.evaluate(() => window.OvraNewbiePanel.selfCheck()),
      { ok: false, rows: [], error: 'no .vnp panel on the page' });

    const page = await rig.newPage();
    await page.evaluate(() => {
      const pane = document.createElement('div');
      pane.id = 'pane';
      pane.style.cssText = 'overflow-y:auto;height:600px;padding:0 30px 0 10px';
      document.body.prepend(pane);
      const style = document.createElement('style');
      style.textContent = 'body .vnp{background:#000;border-width:2px;border-color:#fff;border-radius:4px;padding:10px;column-gap:10px}' +
        'body .vnp .vnp-phrases td.vnp-phrase{font-family:serif}' +
        '.vnp-row:first-child .vnp-copy{margin-right:30px}';
      document.head.appendChild(style);
    });
    await mountPanel(page, {
      ...DASHBOARD_OPTIONS, mount: '#pane', toggleButton: undefined,
      phrases: [LONG, 'fusion'],
    });
    const check = await page.evaluate(() => window.__vnp.selfCheck());
    assert.equal(check.ok, false);
    const failed = Object.fromEntries(check.rows.filter((r) => !r.pass).map((r) => [r.what, r]));
    assert.deepEqual(Object.keys(failed), ['card background', 'card border', 'card border colour', 'card accent edge',
      'card radius', 'card padding', 'column gap', 'copy icons in one column', 'panel gutter', 'phrase headroom',
      'phrase typeface']);
    assert.deepEqual(failed['card background'], { what: 'card background', want: 'rgb(22, 27, 34)', got: 'rgb(0, 0, 0)', pass: false });
    assert.deepEqual(failed['card border'], { what: 'card border', want: '1px', got: '2px', pass: false });
    assert.deepEqual(failed['card border colour'], { what: 'card border colour', want: 'rgb(48, 54, 61)', got: 'rgb(255, 255, 255)', pass: false });
    assert.deepEqual(failed['card accent edge'], { what: 'card accent edge', want: '3px', got: '2px', pass: false });
    assert.deepEqual(failed['card radius'], { what: 'card radius', want: '12px', got: '4px', pass: false });
    assert.deepEqual(failed['card padding'], { what: 'card padding', want: '18px 20px 20px', got: '10px', pass: false });
    assert.deepEqual(failed['column gap'], { what: 'column gap', want: '24px', got: '10px', pass: false });
    assert.match(failed['copy icons in one column'].got, /^2 positions \([\d.]+px, [\d.]+px\)$/);
    assert.deepEqual(failed['panel gutter'], { what: 'panel gutter', want: '16px each side', got: 'left 10px, right 30px', pass: false });
    assert.match(failed['phrase headroom'].got,
      new RegExp(`^-[\\d.]+px for \u201c${LONG}\u201d, 1 of 2 tight$`));
    assert.deepEqual(failed['phrase typeface'], { what: 'phrase typeface', want: 'Satoshi', got: 'serif', pass: false });

    await page.evaluate(() => window.__vnp.close());
    const hidden = await page.evaluate(() => window.__vnp.selfCheck());
    assert.equal(hidden.ok, false);
    assert.equal(hidden.invalid, true);
    assert.deepEqual(hidden.rows, []);
    assert.equal(hidden.error, 'The panel measures 0px wide: this tab is not in the foreground or the panel is hidden. ' +
      'No rows are reported, because a partial result from an unrendered pane would look like a real fault. ' +
      'Activate the tab or open the panel, then run selfCheck again.');
  });

  test('the self-check passes at a device pixel ratio of 1.5', async () => {
    const page = await rig.newPage({ deviceScaleFactor: 1.5 });
    await mountPanel(page);
    const check = await page.evaluate(() => window.__vnp.selfCheck());
    assert.equal(check.ok, true, JSON.stringify(check.rows.filter((r) => !r.pass)));
    const border = check.rows.find((r) => r.what === 'card border');
    assert.equal(border.got, '1px');
  });
});

describe('newbie panel open state and controls', () => {
  test('the open state is stored per slug and drives the toggle button', async () => {
    const page = await rig.newPage();
    const toggleState = () => page.evaluate(() => {
      const b = document.getElementById('btnRecall');
      const wrap = window.__vnp.panel.parentElement;
      return {
        open: window.__vnp.isOpen(),
        wrapHidden: wrap.hidden,
        space: document.getElementById('newbie').getBoundingClientRect().height,
        pressed: b.getAttribute('aria-pressed'),
        label: b.getAttribute('aria-label'),
        title: b.getAttribute('title'),
        stored: localStorage.getItem('vnp:gantry:open'),
        icon: b.querySelectorAll('svg').length,
      };
    });
    await mountPanel(page);
    const opened = await toggleState();
    assert.ok(opened.space > 100);
    assert.deepEqual({ ...opened, space: 0 }, {
      open: true, wrapHidden: false, space: 0, pressed: 'true', label: 'Hide the sample prompts', title: null, stored: null, icon: 1,
    });

    await page.click('#btnRecall');
    assert.deepEqual(await vnpLog(page), [['toggle', true, 'api'], ['toggle', false, 'user']]);
    assert.deepEqual(await toggleState(), {
      open: false, wrapHidden: true, space: 0, pressed: 'false', label: 'Show the sample prompts', title: null, stored: '0', icon: 1,
    });

    await page.reload();
    await mountPanel(page);
    assert.deepEqual(await toggleState(), {
      open: false, wrapHidden: true, space: 0, pressed: 'false', label: 'Show the sample prompts', title: null, stored: '0', icon: 1,
    });
    await page.evaluate(() => window.__vnp.open({ remember: false }));
    assert.equal((await toggleState()).stored, '0');
    await page.click('.vnp-close');
    await page.evaluate(() => window.__vnp.toggle());
    assert.equal((await toggleState()).stored, '1');
    assert.deepEqual(await vnpLog(page), [
      ['toggle', false, 'api'], ['toggle', true, 'api'], ['toggle', false, 'user'], ['toggle', true, 'api'],
    ]);

    await page.evaluate(() => localStorage.setItem('vnp:fusion-360-pro:open', '0'));
    await mountPanel(page, { mount: '#newbie', app: 'fusion  360\tpro', phrases: ['x'] });
    assert.equal(await page.evaluate(() => window.__vnp.isOpen()), false, 'the slug defaults to the app with its white space runs as "-"');
  });

  test('one shared tooltip replaces title attributes', async () => {
    const page = await rig.newPage({ viewport: { width: 800, height: 600 } });
    await mountPanel(page);
    const tip = () => page.evaluate(() => {
      const t = document.getElementById('vnp-tip');
      if (!t || t.hidden) return null;
      const r = t.getBoundingClientRect();
      return { text: t.textContent, top: r.top, bottom: r.bottom, left: r.left, right: r.right };
    });

    const copy = page.locator('.vnp-copy').nth(2);
    await copy.hover();
    const tipShows = () => page.waitForFunction(() => document.getElementById('vnp-tip')?.hidden === false);
    await tipShows();
    const box = await copy.boundingBox();
    const above = await tip();
    assert.equal(above.text, 'Copy this phrase');
    assert.ok(Math.abs(above.bottom - (box.y - 8)) < 0.5, 'the tip sits 8px above the control');
    assert.ok(Math.abs((above.left + above.right) / 2 - (box.x + box.width / 2)) < 1, 'the tip is centred on the control');

    await page.mouse.move(5, 500);
    assert.equal(await tip(), null, 'leaving hides the tip');

    // The toggle sits at the top right: the tip goes below it and stays 8px inside the window.
    await page.hover('#btnRecall');
    await tipShows();
    const toggleBox = await page.locator('#btnRecall').boundingBox();
    const below = await tip();
    assert.equal(below.text, 'Hide the sample prompts');
    assert.ok(Math.abs(below.top - (toggleBox.y + toggleBox.height + 8)) < 0.5);
    assert.ok(below.right <= 800 - 8 + 0.5);
    await page.evaluate(() => window.__vnp.close());
    assert.equal((await tip()).text, 'Show the sample prompts', 'the tip follows a text change while it shows');

    await page.click('#btnRecall');
    assert.equal(await tip(), null, 'clicking hides the tip');
    assert.equal(await page.locator('#vnp-tip').count(), 1);
    assert.equal(await page.locator('[title]').count(), 0);
  });

  test('the demo button plays the demo or says none is wired', async () => {
    const page = await rig.newPage({ clock: true });
    await recordToasts(page);
    await mountPanel(page, { ...DASHBOARD_OPTIONS, demo: { meta: '', play: true } });
    assert.equal(await page.locator('.vnp-demo').textContent(), 'Play the demo');
    assert.equal(await page.locator('.vnp-meta').count(), 0);
    await page.click('.vnp-demo');
    assert.deepEqual((await vnpLog(page)).filter((e) => e[0] === 'play'), [['play']]);

    await page.evaluate(() => { document.getElementById('newbie').textContent = ''; });
    await mountPanel(page, { mount: '#newbie', app: 'fusion', demo: { label: 'Watch it' }, phrases: [] });
    await page.click('.vnp-demo');
    assert.deepEqual(await toastTexts(page), [['err', 'This dashboard has no demo wired up yet']]);
    await page.clock.runFor(6900);
    assert.equal(await page.locator('.vnp-toast').count(), 1, 'an error toast stays 7000 ms');
    await page.clock.runFor(200);
    assert.equal(await page.locator('.vnp-toast').count(), 0);

    const stack = await page.evaluate(() => {
      const P = window.OvraNewbiePanel;
      const first = P.toast('<b>first</b>', 'ok');
      P.toast('second');
      first.setText('first, retold');
      return [...document.querySelectorAll('.vnp-toast')].map((t) => [t.className, t.textContent, Math.round(t.getBoundingClientRect().top)]);
    });
    assert.deepEqual(stack.map((t) => t.slice(0, 2)), [['vnp-toast vnp-toast-ok', 'first, retold'], ['vnp-toast vnp-toast-info', 'second']]);
    assert.ok(stack[1][2] < stack[0][2], 'the newest toast sits above');
    assert.equal(await page.locator('.vnp-toast b').count(), 0);
    await page.clock.runFor(4001);
    assert.equal(await page.locator('.vnp-toast').count(), 0);
  });
});

describe('newbie panel phrases', () => {
  test('copying takes the clipboard, falling back to the copy command', async () => {
    const page = await rig.newPage({ permissions: ['clipboard-read', 'clipboard-write'] });
    await recordToasts(page);
    await mountPanel(page);
    const clipboard = () => page.evaluate(() => navigator.clipboard.readText());

    await page.locator('.vnp-copy').nth(1).click();
    await page.waitForFunction(() => window.__toastTexts.length === 1);
    assert.equal(await clipboard(), 'export this board to fusion');

    await page.locator('.vnp-phrase').nth(3).click();
    await page.waitForFunction(() => window.__toastTexts.length === 2);
    assert.equal(await clipboard(), 'sign me into fusion');

    await page.evaluate(() => {
      window.__asyncWrite = navigator.clipboard.writeText.bind(navigator.clipboard);
      navigator.clipboard.writeText = () => Promise.reject(new DOMException('denied', 'NotAllowedError'));
    });
    await page.locator('.vnp-copy').nth(4).click();
    await page.waitForFunction(() => window.__toastTexts.length === 3);
    assert.equal(await clipboard(), 'search my fusion cloud files for the amp board');

    await page.evaluate(() => { window.__execCommand = document.execCommand; document.execCommand = () => false; });
    await page.locator('.vnp-copy').nth(0).click();
    await page.waitForFunction(() => window.__toastTexts.length === 4);
    assert.deepEqual(await toastTexts(page), [
      ['ok', 'Copied. Paste it to your AI.'],
      ['ok', 'Copied. Paste it to your AI.'],
      ['ok', 'Copied. Paste it to your AI.'],
      ['err', 'Could not reach the clipboard. Select the phrase and copy it.'],
    ]);
    assert.equal(await page.evaluate(() => document.querySelectorAll('textarea').length), 0);

    // copyText itself, called from a click as a page would: which way it took, or why it failed.
    await page.evaluate(() => {
      const b = document.createElement('button');
      b.id = 'copyProbe';
      b.onclick = () => window.OvraNewbiePanel.copyText(window.__copyWhat)
        .then((way) => { window.__way = way; }, (e) => { window.__way = 'rejected: ' + e.message; });
      document.body.append(b);
    });
    const copyWay = async (what, setUp) => {
      await page.evaluate(([w, s]) => { window.__copyWhat = w; window.__way = null; new Function(s)(); }, [what, setUp]);
      await page.click('#copyProbe');
      return page.waitForFunction(() => window.__way).then((h) => h.jsonValue());
    };
    assert.equal(await copyWay('still failing', ''), 'rejected: clipboard unavailable');
    assert.equal(await copyWay('by command', 'document.execCommand = window.__execCommand;'), 'legacy');
    assert.equal(await clipboard(), 'by command');
    assert.equal(await copyWay('by api', 'navigator.clipboard.writeText = window.__asyncWrite;'), 'async');
    assert.equal(await clipboard(), 'by api');
  });

  test('phrases are text, with the noun bold as a whole word in any case', async () => {
    const page = await rig.newPage();
    const phrases = [
      '<img src=x onerror=__pwned=1>Fusion',
      'confusion? fusion360, fusion_x, <b>FUSION</b>',
      'three', 'four', 'five', 'the seventh phrase is measured but not shown, and it is long enough to go past the resting budget',
    ];
    await mountPanel(page, { mount: '#newbie', app: 'fusion', phrases });
    const cells = await page.evaluate(() => [...document.querySelectorAll('.vnp-phrase')].map((c) => ({
      text: c.textContent,
      bold: [...c.querySelectorAll('b')].map((b) => b.textContent),
      elements: [...c.querySelectorAll('*')].map((e) => e.tagName),
    })));
    assert.equal(cells.length, 6);
    assert.deepEqual(cells[0], { text: `\u201c${phrases[0]}\u201d`, bold: ['Fusion'], elements: ['B'] });
    assert.deepEqual(cells[1], { text: `\u201c${phrases[1]}\u201d`, bold: ['FUSION'], elements: ['B'] });
    assert.equal(await page.evaluate(() => window.__pwned), undefined);

    await page.waitForFunction(() => window.__vnp.overBudget.length > 0 && document.fonts.status === 'loaded');
    const over = await page.evaluate(() => window.__vnp.overBudget);
    assert.equal(over.length, 1);
    assert.equal(over[0].phrase, phrases[5]);
    assert.equal(over[0].budget, 336);
    assert.ok(Number.isInteger(over[0].need) && over[0].need > 336);
    const warnings = page.consoleLines.filter((l) => l.type === 'warning').map((l) => l.text);
    assert.deepEqual(warnings, ['[newbie-panel] 1 phrase(s) will truncate at the resting width. ' +
      'Shorten them, and lead with the trigger noun so a clip costs a detail not the routing words. [Object]']);

    await mountPanel(page, { mount: 'main', app: 'c++ (beta)', appName: '<i>x</i>', phrases: ['use C++ (Beta) now', 'c++ (beta)x'] });
    const special = await page.evaluate(() => ({
      label: window.__vnp.panel.getAttribute('aria-label'),
      bold: [...window.__vnp.panel.querySelectorAll('.vnp-phrase b')].map((b) => b.textContent),
      noun: window.__vnp.panel.querySelector('.vnp-lede b').textContent,
    }));
    assert.deepEqual(special, { label: 'Say it: sample prompts for <i>x</i>', bold: ['C++ (Beta)'], noun: 'c++ (beta)' });
    assert.deepEqual(page.pageErrors, []);
  });
});
