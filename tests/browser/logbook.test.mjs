// The dashboard's "Recent changes" list: filled from the logbook route, kept live from its events.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import path from 'node:path';
import { SIM_BIN, getJson } from '../helpers/harness.mjs';
import { dashboardFixture, openDashboard, until, untilReady } from './fixtures/dashboard-page.mjs';

const fixture = dashboardFixture('signed-in');

// Each row's text after its age, the colours of its two states and its tooltip.
const rows = (page) => page.$$eval('#changeList li:has(.when)', (lis) => lis.map((li) => ({
  text: Array.from(li.children).slice(1).map((c) => c.textContent).join(' '),
  when: li.querySelector('.when').textContent,
  colours: Array.from(li.querySelectorAll('.st')).map((s) => s.dataset.state),
  tip: li.getAttribute('data-tip'),
})));

test('the list shows the box\'s changes and a new one arrives live', async () => {
  const page = await openDashboard(fixture.browser, `${fixture.server.url}/`, { storage: { ldTarget: 'Studio' } });
  try {
    await untilReady(page);
    await until(page, () => document.querySelectorAll('#changeList li').length > 0 && !document.getElementById('changes').hidden);
    // First sightings are folded away until asked for.
    assert.ok(!(await rows(page)).some((r) => r.text === 'Fusion running first seen on'));
    await page.click('#btnFirstSeen');
    assert.ok((await rows(page)).some((r) => r.text === 'Fusion running first seen on'));

    const r = spawnSync(path.join(SIM_BIN, 'ovra-bridge'), ['--target', 'Studio', 'fusion_stop', '{}'], { env: fixture.sandbox.env, encoding: 'utf8' });
    assert.equal(r.status, 0, r.stderr);
    await getJson(`${fixture.server.url}/api/status?target=Studio`);
    await until(page, () => Array.from(document.querySelectorAll('#changeList li')).some((li) => li.textContent.includes('Fusion runningon->off')));
    const shown = await rows(page);
    assert.ok(shown.length <= 10);
    const stop = shown.find((r) => r.text.includes('Fusion running on'));
    assert.match(stop.when, /^(just now|\d+ (s|min) ago)$/);
    assert.match(stop.tip, /\d/);
    assert.deepEqual({ ...stop, when: '', tip: '' }, { text: 'Fusion running on -> off', when: '', colours: ['ok', 'bad'], tip: '' });
    assert.deepEqual(page.pageErrors, []);
  } finally {
    await page.dispose();
  }
});

test('hidden while the box has no entries; entry text never becomes markup', async () => {
  const hostile = {
    at: new Date(Date.now() - 3 * 60 * 1000).toISOString(), box: 'Studio', led: 'zeta',
    label: '<img src=x onerror="window.owned=1">', from: 'off', to: '<b>on</b>', hint: '<script>window.owned=2</script>',
  };
  // Bench seen once already: the page's own polls of it repeat its states and push nothing.
  await getJson(`${fixture.server.url}/api/status?target=Bench`);
  let entries = [];
  const beforeGoto = (page) => page.route('**/api/logbook*', (route) =>
    route.fulfill({ contentType: 'application/json', body: JSON.stringify({ entries, _hint: '' }) }));
  const page = await openDashboard(fixture.browser, `${fixture.server.url}/`, { storage: { ldTarget: 'Bench' }, beforeGoto });
  try {
    await untilReady(page);
    await until(page, () => window.__dash.status.target === 'Bench' && document.querySelector('.tpill[data-box="Studio"]'));
    assert.equal(await page.$eval('#changes', (s) => s.hidden), true);
    // Choosing another box fills the list from the route.
    entries = [hostile];
    await page.click('.tpill[data-box="Studio"]');
    await until(page, () => document.querySelectorAll('#changeList li').length === 1);
    const [row] = await rows(page);
    assert.equal(row.when, '3 min ago');
    assert.equal(row.text, '<img src=x onerror="window.owned=1"> off -> <b>on</b>');
    assert.doesNotMatch(row.tip, /script/);
    assert.equal(await page.$$eval('#changes img, #changes b, #changes script', (n) => n.length), 0);
    assert.equal(await page.evaluate(() => window.owned), undefined);
  } finally {
    await page.dispose();
  }
});
