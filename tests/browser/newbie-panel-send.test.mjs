// Sending a phrase to a new AI thread from the newbie panel: the version gate, the prompt
// request, job polling with its deadlines, and checkSend. The three workspace routes are
// mocked in the page except where the real server's own answers are the point.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { DASHBOARD_OPTIONS, mountPanel, recordToasts, startRig, toastTexts, vnpLog } from './fixtures/newbie-browser.mjs';

const OPENING = ['info', 'Opening a new AI thread\u2026'];
const SENT = ['ok', 'Sent. Your AI thread has the prompt.'];
const UNCONFIRMED = ['info', 'Thread opened, delivery not confirmed. Check your AI threads before sending again.'];
const NO_STATUS_ROUTE = 'Your AI chat opened. This app does not proxy GET /ai-threads/run-prompt/status yet, so progress cannot be shown.';

let rig;
before(async () => { rig = await startRig(); });
after(async () => { await rig?.stop(); });

const json = (body, status = 200) => ({ status, body: typeof body === 'string' ? body : JSON.stringify(body) });

// Mocks the workspace routes with the answers in `ws` (changeable between sends) and records
// every request. An answer is json(...), 'abort' (no connection) or 'hold' (kept until released).
async function mockWorkspace(page, ws) {
  const seen = { gate: [], posts: [], polls: [], options: [], held: [] };
  const answer = (route, a) => {
    if (a === 'abort') return route.abort();
    if (a === 'hold') { seen.held.push(route); return undefined; }
    return route.fulfill({ status: a.status, contentType: 'application/json', body: a.body });
  };
  await page.route((u) => u.pathname.endsWith('/updater/status'), (route) => {
    seen.gate.push(route.request().url());
    return answer(route, ws.gate);
  });
  await page.route((u) => u.pathname.endsWith('/ai-threads/run-prompt'), (route) => {
    const req = route.request();
    if (req.method() === 'OPTIONS') {
      seen.options.push(req.url());
      return route.fulfill({ status: 204, headers: { allow: 'POST, OPTIONS' } });
    }
    seen.posts.push({ url: req.url(), method: req.method(), type: req.headers()['content-type'], body: req.postData() });
    return answer(route, ws.post);
  });
  await page.route((u) => u.pathname.endsWith('/ai-threads/run-prompt/status'), (route) => {
    seen.polls.push(route.request().url());
    return answer(route, ws.poll(seen.polls.length));
  });
  await page.route((u) => u.pathname.startsWith('/__vnp_probe_'), (route) => {
    seen.options.push(route.request().url());
    return route.fulfill({ status: 404, body: '' });
  });
  return seen;
}

const isFinal = ([kind, text]) => kind === 'ok' || kind === 'err' || text.startsWith('Thread opened');

// Clicks the send button of row `row` and returns the toast texts the send produced. With a
// fake clock the clock is pumped until the send ends.
async function send(page, row, { clock = false } = {}) {
  const from = (await toastTexts(page)).length;
  await page.locator('.vnp-send').nth(row).click();
  for (let i = 0; ; i++) {
    const texts = (await toastTexts(page)).slice(from);
    if (texts.some(isFinal)) {
      await page.waitForFunction((n) => !document.querySelectorAll('.vnp-send')[n].disabled, row);
      return texts;
    }
    if (i > 2000) throw new Error('the send never ended: ' + JSON.stringify(texts));
    if (clock) await page.clock.runFor(500);
    else await page.waitForTimeout(20);
  }
}

function infoLines(page) {
  return page.consoleLines.filter((l) => l.type === 'info').map((l) => l.text);
}

async function panelPage(ws, options = DASHBOARD_OPTIONS, pageOptions = {}) {
  const page = await rig.newPage(pageOptions);
  const seen = await mockWorkspace(page, ws);
  await recordToasts(page);
  await mountPanel(page, options);
  return { page, seen };
}

describe('newbie panel send', () => {
  test('the version gate blocks only a reported version below 1.0.142', async () => {
    const ws = { post: json({ delivered_to: ['tab-1'] }), poll: () => 'abort' };
    const { page, seen } = await panelPage(ws);
    const outcomes = [];
    const cases = [
      ['1.0.99', json({ updater: { current_version: '1.0.99' } })],
      ['no version', json({ updater: {} })],
      ['1.0.x', json({ updater: { current_version: '1.0.x' } })],
      ['1.0.142', json({ updater: { current_version: '1.0.142' } })],
      ['1.1.0', json({ updater: { current_version: '1.1.0' } })],
      ['2', json({ updater: { current_version: 2 } })],
      ['unreachable', 'abort'],
      ['not JSON', json('<html>proxy error</html>')],
      ['proxy gave up', json({ ok: false, why: 'control API did not answer /updater/status' })],
      ['no workspace', json({ ok: false, proxied: true, why: 'Ovra Brindle is not reachable' }, 503)],
    ];
    for (const [name, gate] of cases) {
      ws.gate = gate;
      const posts = seen.posts.length;
      const texts = await send(page, 0);
      outcomes.push([name, texts.at(-1)[1], seen.posts.length - posts]);
    }
    const blocked = (found) => `Ovra needs updating to send prompts (found ${found}, needs 1.0.142). Run: ovra update`;
    assert.deepEqual(outcomes, [
      ['1.0.99', blocked('1.0.99'), 0],
      ['no version', blocked('0.0.0'), 0],
      ['1.0.x', blocked('1.0.x'), 0],
      ['1.0.142', SENT[1], 1],
      ['1.1.0', SENT[1], 1],
      ['2', SENT[1], 1],
      ['unreachable', SENT[1], 1],
      ['not JSON', SENT[1], 1],
      ['proxy gave up', SENT[1], 1],
      ['no workspace', SENT[1], 1],
    ]);
    assert.deepEqual((await toastTexts(page)).slice(0, 2), [OPENING, ['err', blocked('1.0.99')]]);
    assert.equal(seen.gate.length, cases.length);
  });

  test('the prompt request and what its reply means', async () => {
    const ws = { gate: json({ updater: { current_version: '1.0.200' } }), poll: () => 'abort' };
    const { page, seen } = await panelPage(ws);
    const outcomes = [];
    const replies = [
      ['list', json({ delivered_to: ['tab-1'], job: 'ignored' })],
      ['single text', json({ delivered_to: 'tab-1' })],
      ['in conversation', json({ delivered_to: [], inject: { delivered_in_conversation: true } })],
      ['no job', json({ delivered_to: [], _hints: { note: 'the tab opened in the background' } })],
      ['note on 500', json({ _hints: { note: 'AI threads are paused' }, error: 'paused' }, 500)],
      ['error on 502', json({ error: 'upstream exploded' }, 502)],
      ['why on 503', json({ ok: false, why: 'the workspace is absent' }, 503)],
      ['bare 503', json({ ok: false }, 503)],
      ['no connection', 'abort'],
    ];
    for (const [name, post] of replies) {
      ws.post = post;
      outcomes.push([name, ...(await send(page, 4))]);
    }
    assert.deepEqual(outcomes, [
      ['list', OPENING, SENT],
      ['single text', OPENING, SENT],
      ['in conversation', OPENING, SENT],
      ['no job', OPENING, UNCONFIRMED],
      ['note on 500', OPENING, ['err', 'AI threads are paused']],
      ['error on 502', OPENING, ['err', 'upstream exploded']],
      ['why on 503', OPENING, ['err', 'the workspace is absent']],
      ['bare 503', OPENING, ['err', 'AI threads returned 503']],
      ['no connection', OPENING, ['err', 'Could not send the prompt.']],
    ]);
    assert.deepEqual(infoLines(page), ['[newbie-panel] thread opened, delivery not confirmed: the tab opened in the background']);
    assert.equal(seen.polls.length, 0);
    const { url, ...post } = seen.posts[0];
    assert.equal(new URL(url).pathname, '/ai-threads/run-prompt');
    assert.deepEqual(post, {
      method: 'POST',
      type: 'application/json',
      body: '{"new":true,"prompt":"search my fusion cloud files for the amp board","submit":true,"name":"Loomdeck - say it","tags":["dock:gantry"]}',
    });

    await mountPanel(page, { mount: 'main', app: 'kicad', apiBase: '/dock/7', phrases: ['open kicad'] });
    ws.post = json({ delivered_to: ['tab-2'] });
    assert.deepEqual(await send(page, 6), [OPENING, SENT]);
    assert.equal(new URL(seen.gate.at(-1)).pathname, '/dock/7/updater/status');
    assert.equal(new URL(seen.posts.at(-1).url).pathname, '/dock/7/ai-threads/run-prompt');
    assert.equal(seen.posts.at(-1).body, '{"new":true,"prompt":"open kicad","submit":true,"name":"kicad - say it","tags":["dock:kicad"]}');
  });

  test('job polling narrates each phase and ends on the job state', async () => {
    const ws = { gate: json({ updater: { current_version: '1.0.142' } }), post: json({ job: 'job 1/a' }) };
    const { page, seen } = await panelPage(ws, DASHBOARD_OPTIONS, { clock: true });
    const script = (states) => (n) => {
      const s = states[Math.min(n - 1, states.length - 1)];
      return typeof s === 'string' ? (s === 'abort' ? s : json({ job: { state: s } })) : s;
    };

    ws.poll = script(['opening', 'abort', json('not json', 502), 'prefilled', 'queued', 'submitted', 'done']);
    assert.deepEqual(await send(page, 0, { clock: true }), [
      OPENING, ['info', 'Opening a new AI chat\u2026'], ['info', 'Prompt ready\u2026'],
      ['info', 'Sent, waiting for the AI\u2026'], ['info', 'Done.'], SENT,
    ]);
    assert.equal(seen.polls.length, 7, 'failed polls and unknown states poll again');
    assert.equal(new URL(seen.polls[0]).search, '?job=job%201%2Fa');
    assert.deepEqual((await vnpLog(page)).filter((e) => e[0] === 'progress').map((e) => e[1]),
      ['opening', 'prefilled', 'queued', 'submitted', 'done']);

    const states = [
      [json({ job: { state: 'working' } }), 'The AI is working\u2026', SENT],
      [json({ job: { state: 'needs_you' } }), 'The AI needs you. Open the tab.', SENT],
      [json({ job: { state: 'still_working' } }), 'The AI is still working. Open the tab.', SENT],
      [json({ job: { state: 'submit_failed', error: 'the tab lost focus', note: 'unused' } }),
        'The prompt is in the tab. Press Enter there to send it.', UNCONFIRMED],
      [json({ job: { state: 'submitted_unidentified', note: 'no check-in from the AI' } }),
        'Sent, but the AI never checked in.', UNCONFIRMED],
      [json({ job: { state: 'submit_unconfirmed' } }), 'Sent, but delivery was not confirmed.', UNCONFIRMED],
    ];
    for (const [reply, phase, final] of states) {
      ws.poll = () => reply;
      const texts = await send(page, 1, { clock: true });
      assert.deepEqual(texts, [OPENING, ['info', phase], final]);
    }
    assert.deepEqual(infoLines(page), [
      '[newbie-panel] thread opened, delivery not confirmed: the tab lost focus',
      '[newbie-panel] thread opened, delivery not confirmed: no check-in from the AI',
      '[newbie-panel] thread opened, delivery not confirmed: submit_unconfirmed',
    ]);

    const before404 = seen.polls.length;
    ws.poll = () => json({ error: 'not found' }, 404);
    assert.deepEqual(await send(page, 2, { clock: true }), [OPENING, UNCONFIRMED]);
    assert.equal(seen.polls.length - before404, 1, 'a missing status route is reported at its first 404');
    assert.equal(infoLines(page).at(-1), '[newbie-panel] thread opened, delivery not confirmed: ' + NO_STATUS_ROUTE);
  });

  test('a send gives up after 120 s without an answer or a confirmation', async () => {
    const ws = { gate: json({ updater: { current_version: '1.0.142' } }), post: 'hold', poll: () => json({ job: { state: 'submitted' } }) };
    const { page, seen } = await panelPage(ws, DASHBOARD_OPTIONS, { clock: true });

    await page.locator('.vnp-send').nth(0).click();
    await page.waitForFunction(() => document.querySelectorAll('.vnp-send')[0].disabled);
    while (!seen.held.length) await page.waitForTimeout(20);
    await page.clock.runFor(119000);
    assert.deepEqual(await toastTexts(page), [OPENING], 'still waiting for the prompt request');
    await page.clock.runFor(1001);
    await page.waitForFunction(() => window.__toastTexts.length === 2);
    assert.deepEqual(await toastTexts(page), [OPENING, UNCONFIRMED]);
    assert.equal(infoLines(page).at(-1), '[newbie-panel] thread opened, delivery not confirmed: no answer within 120s');
    await seen.held.shift().abort().catch(() => {});

    ws.post = json({ job: 'slow-1' });
    const texts = await send(page, 1, { clock: true });
    assert.deepEqual(texts, [OPENING, ['info', 'Sent, waiting for the AI\u2026'], UNCONFIRMED]);
    assert.equal(infoLines(page).at(-1), '[newbie-panel] thread opened, delivery not confirmed: no confirmation within 120s');
    assert.ok(seen.polls.length >= 2 && seen.polls.length <= 121, `polled ${seen.polls.length} times, at most once a second`);
    // The first state arrives with the first poll, a moment after polling began.
    const began = (await vnpLog(page)).find((e) => e[0] === 'progress')[2];
    const ended = await page.evaluate(() => window.__toastTimes.at(-1));
    assert.ok(ended - began >= 119000, `gave up ${ended - began} ms (page clock) after polling began`);
    assert.equal(seen.posts.length, 2, 'an opened thread is never sent again');
  });

  test('rows send at once, each button one send at a time', async () => {
    const ws = { gate: json({ updater: { current_version: '1.0.142' } }), post: 'hold', poll: () => 'abort' };
    const { page, seen } = await panelPage(ws);
    await page.locator('.vnp-send').nth(2).click();
    await page.locator('.vnp-send').nth(3).click();
    await page.locator('.vnp-send').nth(2).click({ force: true });
    while (seen.held.length < 2) await page.waitForTimeout(20);
    assert.deepEqual(await page.$$eval('.vnp-send', (b) => b.map((x) => x.disabled)), [false, false, true, true, false, false]);
    assert.deepEqual(await page.$$eval('.vnp-toast', (t) => t.map((x) => x.textContent)), [OPENING[1], OPENING[1]]);
    for (const route of seen.held.splice(0)) await route.fulfill({ status: 200, contentType: 'application/json', body: '{"delivered_to":["t"]}' });
    await page.waitForFunction(() => window.__toastTexts.filter(([k]) => k === 'ok').length === 2);
    await page.waitForFunction(() => [...document.querySelectorAll('.vnp-send')].every((b) => !b.disabled));
    assert.deepEqual(seen.posts.map((p) => JSON.parse(p.body).prompt), ['build the parts library in fusion', 'sign me into fusion']);
    assert.deepEqual(await page.$$eval('.vnp-toast', (t) => t.map((x) => x.textContent)), [SENT[1], SENT[1]]);
  });
});

describe('newbie panel checkSend', () => {
  test('a wired workspace passes every row', async () => {
    const ws = { gate: json({ updater: { current_version: '1.0.150' } }), poll: () => json({ ok: false, why: 'no such job' }) };
    const { page, seen } = await panelPage(ws);
    const report = await page.evaluate(() => window.OvraNewbiePanel.checkSend(''));
    assert.deepEqual(report, {
      ok: true,
      rows: [
        { what: 'gate route wired', want: '200 with JSON', got: '200 with JSON', pass: true },
        { what: 'gate reports a version', want: 'updater.current_version', got: '1.0.150', pass: true },
        { what: 'version meets the minimum', want: 'at least 1.0.142', got: '1.0.150', pass: true },
        { what: 'send route wired', want: 'an answer other than 404, unlike a path that cannot exist', got: '204, nonsense path 404', pass: true },
        { what: 'progress route wired', want: 'anything but 404', got: '200', pass: true },
      ],
    });
    assert.deepEqual(seen.options.map((u) => new URL(u).pathname).sort(), ['/__vnp_probe_618033988__', '/ai-threads/run-prompt']);
    assert.equal(new URL(seen.polls[0]).search, '?job=__vnp_probe__');
    assert.equal(seen.posts.length, 0, 'checkSend never sends');
  });

  test('against the real server without a workspace', async () => {
    const page = await rig.newPage();
    await recordToasts(page);
    await mountPanel(page);
    const report = await page.evaluate(() => window.OvraNewbiePanel.checkSend());
    assert.deepEqual(report, {
      ok: false,
      rows: [
        { what: 'gate route wired', want: '200 with JSON', got: '503 with JSON', pass: false },
        { what: 'gate reports a version', want: 'updater.current_version', got: 'missing', pass: false },
        { what: 'version meets the minimum', want: 'at least 1.0.142', got: 'unknown', pass: false },
        // The server answers every preflight alike, so OPTIONS cannot prove the send route.
        { what: 'send route wired', want: 'an answer other than 404, unlike a path that cannot exist', got: '204, nonsense path 204', pass: false },
        { what: 'progress route wired', want: 'anything but 404', got: '503', pass: true },
      ],
    });
    // The gate fails open on the 503, and the prompt request reports the absent workspace in a person's words
    // (the server's own words, for an agent, stay in the reply).
    assert.deepEqual(await send(page, 0), [OPENING, ['err', 'The Ovra workspace cannot be reached from here, so nothing was sent. '
      + 'Copy the phrase and paste it to your AI instead.']]);
  });
});
