// Open dashboards name their box on the live channel and the server refreshes it for them: the
// box pays for one status build per period however many pages show it, and a page whose timers
// are held back (a background tab) still sees a change on the box.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { sim, waitFor } from '../helpers/harness.mjs';
import { dashboardFixture, openDashboard, simLog, untilLed, untilReady } from './fixtures/dashboard-page.mjs';

const fixture = dashboardFixture('signed-in');

test('two pages on one box: one build per period, and a change reaches pages whose clocks stand still', async () => {
  const reads = [];
  const beforeGoto = (page) => page.on('request', (r) => { if (new URL(r.url()).pathname === '/api/status') reads.push(r.url()); });
  const pages = [];
  try {
    for (let i = 0; i < 2; i++) {
      pages.push(await openDashboard(fixture.browser, `${fixture.server.url}/`, { clock: true, beforeGoto, storage: { ldTarget: 'Studio' } }));
    }
    for (const page of pages) await untilReady(page);
    reads.length = 0;
    sim(fixture.sandbox, 'clear-log');
    sim(fixture.sandbox, 'set', 'Studio', 'apsSignedIn=false');
    // No timer of either page runs: only the server's own refresh can bring the change.
    for (const page of pages) await untilLed(page, 'aps', 'bad');
    // A poll falls due on each page with the box's state fresh from the channel: no read goes out.
    for (const page of pages) await page.clock.runFor(15000);

    const builds = () => simLog(fixture.sandbox).filter((c) => c.tool === 'fusion_set_activity_indicator' && c.target === 'Studio');
    await waitFor(() => builds().length >= 2, { timeoutMs: 60000, what: 'the next refresh of Studio' });
    const [first, second] = builds().map((c) => Date.parse(c.time));
    // Builds of one refresh would fall together; refreshes are a period apart (a loaded machine only stretches that).
    assert.ok(second - first >= 10000, `two builds ${second - first} ms apart`);
    assert.deepEqual(reads, []);
    for (const page of pages) assert.deepEqual(page.pageErrors, []);
  } finally {
    for (const page of pages) await page.dispose();
  }
});
