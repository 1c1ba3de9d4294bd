// A person who follows a dead link gets a page in plain words that passes axe and leads back to
// the dashboard.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { axeViolations } from './fixtures/axe.mjs';
import { dashboardFixture } from './fixtures/dashboard-page.mjs';

const fixture = dashboardFixture('demo');

test('the 404 page passes axe and its link opens the dashboard', async () => {
  const { browser, server } = fixture;
  const page = await (await browser.newContext()).newPage();
  const reply = await page.goto(`${server.url}/no/such/page`);
  assert.equal(reply.status(), 404);
  assert.equal(await page.title(), 'Page not found - loomdeck');
  assert.deepEqual(await axeViolations(page), []);
  await page.getByRole('link', { name: 'Go to the dashboard' }).click();
  await page.waitForURL(`${server.url}/`);
  await page.locator('#ledGrid').waitFor({ state: 'attached' });
});
