// The dashboard as a person meets it, against loomdeck and the two simulated boxes: the status
// leads on a phone and at 200 % zoom, axe finds nothing in light or dark, toasts can be read again,
// a link opens on a box, the keys work, and reduced motion stops the pulse.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { postJson } from '../helpers/harness.mjs';
import { axeViolations } from './fixtures/axe.mjs';
import { dashboardFixture, text, until, untilReady, untilToast } from './fixtures/dashboard-page.mjs';

const fixture = dashboardFixture('demo');

const { withPage } = fixture;

const dialogOpen = (page, id) => until(page, (d) => document.getElementById(d).open, id);

describe('status first, for every reader', () => {
  test('on a phone and at 200 % zoom the LEDs and the user\'s step are on the first screen; the first Tab skips to them', async () => {
    for (const viewport of [{ width: 390, height: 844 }, { width: 720, height: 450 }]) {
      await withPage({ viewport, hasTouch: viewport.width === 390 }, async (page) => {
        await untilReady(page);
        const below = await page.$$eval('#ledGrid .ledpill, #evidence', (nodes) => nodes.filter((n) => n.getBoundingClientRect().bottom > innerHeight).length);
        assert.equal(below, 0, `every LED on the first screen at ${viewport.width}x${viewport.height}`);
        assert.equal(await page.$$eval('h1', (hs) => hs.length), 1);
        await page.keyboard.press('Tab');
        assert.equal(await page.evaluate(() => document.activeElement.className), 'skip');
        await page.keyboard.press('Enter');
        await until(page, () => document.activeElement.id === 'status');
      });
    }
  });

  test('axe finds nothing on the dashboard and its settings dialog, in light and in dark', async () => {
    for (const colorScheme of ['light', 'dark']) {
      await withPage({}, async (page) => {
        await page.emulateMedia({ colorScheme });
        await untilReady(page);
        assert.deepEqual(await axeViolations(page), [], `dashboard, ${colorScheme}`);
        await page.click('#btnSettings');
        await dialogOpen(page, 'dlgSettings');
        assert.deepEqual(await axeViolations(page), [], `settings, ${colorScheme}`);
      });
    }
  });

  test('with reduced motion the starting LED holds still; without, it pulses', async () => {
    const pulses = (page) => page.evaluate(() => {
      const pill = document.querySelector('#ledGrid .ledpill');
      pill.dataset.state = 'starting';
      return pill.querySelector('.dot').getAnimations().length;
    });
    // The page's clock stands still, so its own redraws (every second) leave the pill as set here.
    await withPage({ clock: true }, async (page) => {
      await untilReady(page);
      assert.equal(await pulses(page), 1);
      await page.emulateMedia({ reducedMotion: 'reduce' });
      assert.equal(await pulses(page), 0);
    });
  });
});

describe('toasts, links and keys', () => {
  test('an error stays until dismissed, the rest go; the messages so far list both with their times', async () => {
    await withPage({ clock: true }, async (page) => {
      await untilReady(page);
      await postJson(`${fixture.server.url}/ui/toast`, { message: 'a passing note', kind: 'ok' });
      await postJson(`${fixture.server.url}/ui/toast`, { message: 'a refusal to read', kind: 'err' });
      await untilToast(page, 'a refusal to read', 'toast err');
      await untilToast(page, 'a passing note', 'toast ok');
      // The passing one is read out through the polite live region; the error is an alert of its own.
      await page.clock.runFor(500);
      assert.match(await text(page, '#announce'), /a passing note/);
      await page.clock.runFor(60000);
      await until(page, () => !Array.from(document.querySelectorAll('#toasts .toast')).some((t) => t.textContent === 'a passing note'));
      assert.equal(await text(page, '#toasts .toast.err .ttext'), 'a refusal to read');
      // Placed clear of the status: bottom right.
      const box = await page.$eval('#toasts', (t) => { const r = t.getBoundingClientRect(); return [r.right > innerWidth / 2, r.bottom > innerHeight / 2]; });
      assert.deepEqual(box, [true, true]);
      await page.click('#toasts .toast.err .tclose');
      await until(page, () => !document.querySelector('#toasts .toast.err'));
      await page.keyboard.press('m');
      await dialogOpen(page, 'dlgHistory');
      const rows = await page.$$eval('#historyList li', (lis) => lis.map((li) => [li.querySelector('.msg').textContent, /^\d\d:\d\d:\d\d/.test(li.querySelector('time').textContent)]));
      assert.deepEqual(rows.slice(0, 2), [['a refusal to read', true], ['a passing note', true]]);
    });
  });

  test('?target= opens on that box; 1 and 2 show the boxes, s the settings and ? the shortcuts', async () => {
    await withPage({ url: `${fixture.server.url}/?target=Bench` }, async (page) => {
      await untilReady(page);
      assert.equal(await page.evaluate(() => window.__dash.status.target), 'Bench');
      await until(page, () => document.querySelector('#targets .tpill.active')?.dataset.box === 'Bench');
      await page.keyboard.press('1');
      await until(page, () => window.__dash.target === 'Studio');
      await page.keyboard.press('s');
      await dialogOpen(page, 'dlgSettings');
      await page.keyboard.press('Escape');
      await page.keyboard.press('?');
      await dialogOpen(page, 'dlgHelp');
      assert.match(await text(page, '#dlgHelp .keys'), /Read the status again now/);
    });
  });
});
