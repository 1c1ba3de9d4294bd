// The dashboard's plain logic, imported from web/ as the page runs it: the colour and word of each
// LED state, the plain words a person reads, relative ages, reading action replies, the hint markup filter and the phrase list.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { ago, sinceText } from '../../web/dashboard/ages.js';
import { changeColour, displayState, knownLabel, ledWord } from '../../web/dashboard/leds.js';
import { PHRASES } from '../../web/dashboard/phrases.js';
import { plainSentence, stampIn, stateWord } from '../../web/dashboard/plain.js';
import { inlineOnly } from '../../web/kit/markup.js';
import { payload, replyError, replyHint } from '../../web/kit/reply.js';

describe('LED colours and words', () => {
  test('each state shows as one colour and word, a pending LED as busy', () => {
    const leds = [{ on: true }, { on: false }, { state: 'starting' }, { state: 'stale', on: true }, { state: 'dormant' },
      { state: 'busy' }, { on: true, pending: true }, {}];
    assert.deepEqual(leds.map((l) => [displayState(l), ledWord(l, 'aps')]), [
      ['ok', ''], ['bad', 'off'], ['starting', 'starting'], ['busy', 'stuck?'], ['busy', 'paused'],
      ['busy', 'busy'], ['busy', 'waiting'], ['bad', 'off']]);
    // A closed Fusion is never worded like a step left to the user.
    assert.equal(ledWord({ on: false, state: 'off' }, 'fusionRunning'), 'closed');
  });

  test('a person reads what an LED means with relative times, never the bridge\'s stamps or tool names', () => {
    const now = Date.parse('2026-12-08T17:06:04Z');
    const dormant = { state: 'dormant', _hint: 'Dormant - resumes when Fusion starts (last verified 2026-12-08T14:06:04).' };
    assert.equal(stampIn(dormant._hint), '2026-12-08T14:06:04Z');
    assert.equal(stampIn('no time here'), '');
    assert.equal(plainSentence('addinReady', dormant, now), 'Fusion is closed. The add-in last answered 3 h ago and comes back when Fusion opens.');
    assert.equal(plainSentence('signedIn', { on: false, wall: 'password' }, now),
      'Autodesk is waiting for your password in Fusion on this box. Only you can type it; everything else is done for you.');
    assert.equal(plainSentence('zeta', { on: false, label: 'Zeta' }, now), 'Zeta is off.');
    const keys = ['fusionRunning', 'addinReady', 'signedIn', 'aps', 'mcp', 'datahub', 'update'];
    const states = [{ on: true }, { on: false }, { state: 'dormant', _hint: dormant._hint }, { state: 'stale' }, { state: 'starting' }, {}];
    for (const key of keys) {
      for (const led of states) assert.doesNotMatch(plainSentence(key, led, now), /fusion_|\d{4}-\d\d-\d\dT|[A-Z]{4,}/, `${key} ${JSON.stringify(led)}`);
    }
    assert.deepEqual(['silent', 'dormant', 'answering', 'gone'].map(stateWord), ['not answering', 'paused', 'answering', 'gone']);
  });

  test('a recent change is coloured by the state it went to; an unknown LED keeps its key as label', () => {
    assert.deepEqual(['on', 'answering', 'starting', 'busy', 'dormant', 'stale', 'pending', 'off', 'gone', null].map(changeColour),
      ['ok', 'ok', 'starting', 'busy', 'busy', 'busy', 'busy', 'bad', 'bad', 'none']);
    assert.deepEqual([knownLabel('aps'), knownLabel('mystery')], ['APS cloud search', 'mystery']);
  });
});

describe('relative ages', () => {
  test('verified ages and change ages round to whole seconds and step up to minutes, hours and days', () => {
    assert.deepEqual([0, 4400, 5000, 59000, 60000, 3599000, 3600000, 90000000, -3000].map(sinceText),
      ['just now', 'just now', '5 s ago', '59 s ago', '1 min ago', '59 min ago', '1 h ago', '25 h ago', 'just now']);
    const now = Date.parse('2026-01-02T00:00:00Z');
    const at = (s) => new Date(now - s * 1000).toISOString();
    assert.deepEqual([9, 10, 3599, 3600, 86399, 86400, 2 * 86400, -60].map((s) => ago(at(s), now)),
      ['just now', '10 s ago', '59 min ago', '1 h ago', '23 h ago', '1 day ago', '2 days ago', 'just now']);
    assert.deepEqual([ago('not a time', now), ago(undefined, now), ago(12, now)], ['', '', '']);
  });
});

describe('action replies', () => {
  test('the failure and the hint come from the payload first, then the reply', () => {
    assert.deepEqual(payload({ data: { a: 1 } }), { a: 1 });
    assert.deepEqual(payload({ data: [1] }), { data: [1] });
    assert.deepEqual([
      replyError({ ok: true, data: { done: true } }),
      replyError({ data: { error: { code: 7 } }, error: 'outer' }),
      replyError({ error: 'outer', data: { success: true } }),
      replyError({ data: { success: false } }),
      replyError({ ok: false }),
      replyError('plain'),
    ], ['', '{"code":7}', 'outer', 'refused', 'refused', '']);
    assert.deepEqual([
      replyHint({ _hint: 'outer', data: { _hint: 'inner' } }),
      replyHint({ _hint: 'outer', data: { _hint: '' } }),
      replyHint({ data: { _hint: null } }),
    ], ['inner', 'outer', '']);
  });
});

describe('hint markup', () => {
  test('only allowed inline tags stay markup; every other "<" becomes text', () => {
    assert.equal(inlineOnly('ui click <target>'), 'ui click &lt;target>');
    assert.equal(inlineOnly('<b>bold</b> and <code class="x">code</code>'), '<b>bold</b> and <code class="x">code</code>');
    assert.equal(inlineOnly('<script>alert(1)</script><img src=x onerror=y>'), '&lt;script>alert(1)&lt;/script>&lt;img src=x onerror=y>');
    assert.equal(inlineOnly('a < b <br/> <BR>'), 'a &lt; b <br/> <BR>');
  });
});

describe('the phrase list', () => {
  test('at most six phrases, each naming the app the panel highlights', () => {
    assert.ok(PHRASES.length > 0 && PHRASES.length <= 6, `${PHRASES.length} phrases`);
    for (const phrase of PHRASES) assert.match(phrase, /\bfusion\b/i, phrase);
  });
});
