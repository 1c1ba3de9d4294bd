// A person who follows a dead link gets a page in plain words that passes axe and leads back to
// the dashboard.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { makeSandbox, sim, startServer } from '../helpers/harness.mjs';
import { launchBrowser } from './fixtures/dashboard-page.mjs';
import { axeViolations } from './fixtures/axe.mjs';

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

test('the 404 page passes axe and its link opens the dashboard', async () => {
  const page = await (await browser.newContext()).newPage();
  const reply = await page.goto(`${server.url}/no/such/page`);
  assert.equal(reply.status(), 404);
  assert.equal(await page.title(), 'Page not found - loomdeck');
  assert.deepEqual(await axeViolations(page), []);
  await page.getByRole('link', { name: 'Go to the dashboard' }).click();
  await page.waitForURL(`${server.url}/`);
  await page.locator('#ledGrid').waitFor({ state: 'attached' });
});
