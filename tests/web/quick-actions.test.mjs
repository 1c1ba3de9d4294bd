// The quick-actions page's plain logic, imported from web/ as the page runs it: the generic name
// and description patterns, part references as typed, and reading the listener's replies.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import * as L from '../../web/kit/reply.js';
import { safeName } from '../../web/kit/values.js';
import { GENERIC_DESCRIPTION, GENERIC_NAME } from '../../web/quick-actions/library.js';
import { pickRefs, splitRefs } from '../../web/quick-actions/wiki.js';

const { readReply } = L;

describe('generic patterns', () => {
  test('both generic patterns match whole texts in any case', () => {
    const r = (() => {
      const names = ['R', 'r', 'LED', 'fb', 'Conn_02x05_Odd_Even', 'Crystal', 'Crystal_GND24', 'Resistor', 'LM358', 'RC', 'Conn_2', 'Crystal-GND24', 'R ', 'XTAL'];
      const descs = ['Resistor', 'LIGHT EMITTING DIODE', 'Generic connector, double row', 'MOSFET N-channel', 'four pin crystal, GND on 2 and 4',
        'Precision resistor array', 'Resistor network', 'ferrite bead', 'diode array'];
      return { names: names.filter((n) => GENERIC_NAME.test(n)), descs: descs.filter((d) => GENERIC_DESCRIPTION.test(d)) };
    })();
    assert.deepEqual(r.names, ['R', 'r', 'LED', 'fb', 'Conn_02x05_Odd_Even', 'Crystal', 'Crystal_GND24', 'Resistor']);
    assert.deepEqual(r.descs, ['Resistor', 'LIGHT EMITTING DIODE', 'Generic connector, double row', 'MOSFET N-channel', 'four pin crystal, GND on 2 and 4', 'ferrite bead']);
  });
});

describe('part references', () => {
  test('input forms: commas, slashes, multi-pick', () => {
    const r = (() => {
      return {
        split: splitRefs(' /sefa/a/ , ,tolm/b//,  / ,sefa/c'),
        empty: splitRefs(' , ,'),
        fresh: pickRefs('sefa/dac80504', 'sefa/x', false, false),
        add: pickRefs('sefa/x', 'sefa/y', false, true),
        remove: pickRefs('sefa/x, sefa/y', 'sefa/x', true, true),
        name: safeName('ovra multi/3 parts?'),
      };
    })();
    assert.deepEqual(r, {
      split: ['sefa/a', 'tolm/b', 'sefa/c'], empty: [], fresh: ['sefa/x'], add: ['sefa/x', 'sefa/y'], remove: ['sefa/y'], name: 'ovra_multi_3_parts_',
    });
  });
});

describe('listener replies', () => {
  test('reading replies: payload, success and error precedence', () => {
    const r = (() => {
      const pick = (x) => ({ ok: x.ok, payload: x.payload, message: x.message, code: x.code });
      return [
        readReply(200, '{"success":true,"data":{"a":1}}'),
        readReply(200, '{"a":1,"data":"text"}'),
        readReply(200, '{"success":true,"data":{"success":false,"error":"inner","errorCode":"E1"},"error":"outer"}'),
        readReply(200, '{"errorCode":"run_not_found","data":{}}'),
        readReply(403, '{"error":"not allowed"}'),
        readReply(502, 'Bad Gateway'),
        readReply(200, '[1,2]'),
        readReply(200, 'null'),
      ].map(pick);
    })();
    assert.deepEqual(r, [
      { ok: true, payload: { a: 1 }, message: undefined, code: undefined },
      { ok: true, payload: { a: 1, data: 'text' }, message: undefined, code: undefined },
      { ok: false, payload: { success: false, error: 'inner', errorCode: 'E1' }, message: 'inner', code: 'E1' },
      { ok: false, payload: {}, message: 'run_not_found', code: 'run_not_found' },
      { ok: false, payload: { error: 'not allowed' }, message: 'not allowed', code: 'web_denied' },
      { ok: false, payload: {}, message: 'HTTP 502', code: '' },
      { ok: true, payload: [1, 2], message: undefined, code: undefined },
      { ok: true, payload: {}, message: undefined, code: undefined },
    ]);
  });

  test('log summaries, poll failures, lint texts and verb catalogs', () => {
    const r = (() => {
      const err = (message, extra) => Object.assign(new Error(message), extra);
      return {
        summaries: [
          L.summarize({ tick: 4, stage: 'binding', error: '', success: true, runId: null, evidenceCount: 8, status: { long: 'x'.repeat(80) } }),
          L.summarize({ alpha: 1, beta: 2, gamma: 3, delta: 4, epsilon: 5, zeta: 6, eta: 7 }),
          L.summarize('plain text'),
          L.summarize(42),
        ],
        polls: [
          err('no prove run run-9 on file'), err('x', { code: 'unknown_run_id' }), err('signal timed out'), err('HTTP 503'),
          err('bridge busy', { status: 502 }), err('Failed to fetch', { code: 'unreachable' }), err('main_thread_busy: try later'),
          err('the zip is corrupt'), err('HTTP 404'),
        ].map(L.pollFailureKind),
        lints: [
          L.lintText({ ok: true }),
          L.lintText({ ok: false, componentsTotal: 4, missingCounts: { MPN: 1, MANUFACTURER: 0, MOUSER_PN: 3 }, componentsWithoutAnyDistributor: 2 }),
          L.lintText({ ok: false, variantsTotal: 1, missingCounts: {} }),
          L.lintText({ ok: false, missingCounts: { MANUFACTURER: 2 } }),
          L.lintText(undefined),
        ],
        catalogs: [
          L.catalogEntries({ verbs: [{ name: 'fusion_a', description: 'A' }, { verb: 'fusion_b', desc: 'B' }, 'fusion_c'] }),
          L.catalogEntries({ commands: [{ name: 'x', summary: 'S' }] }),
          L.catalogEntries([{ name: 'listed' }]),
          L.catalogEntries({ catalog: { fusion_start: 'Start Fusion', fusion_stop: { description: 'Stop it' }, other: 'no' } }),
          L.catalogEntries({ something: 1 }),
        ],
      };
    })();
    assert.deepEqual(r.summaries, [
      `success=true stage="binding" tick=4 status={"long":"${'x'.repeat(51)} evidenceCount=8`,
      'alpha,beta,gamma,delta,epsilon,zeta',
      'plain text',
      '42',
    ]);
    assert.deepEqual(r.polls, ['not_filed', 'not_filed', 'transient', 'transient', 'transient', 'transient', 'transient', 'fatal', 'fatal']);
    const tail = '. The import is fine; the BOM will be blank for it until the numbers are added upstream.';
    assert.deepEqual(r.lints, [
      { ok: true, text: 'every component carries a manufacturer part number and a distributor number.' },
      { ok: false, text: `3 of 4 components missing manufacturer part number, a distributor number (Mouser, DigiKey or LCSC)${tail}` },
      { ok: false, text: `1 of 1 component missing part numbers${tail}` },
      { ok: false, text: `missing manufacturer${tail}` },
      null,
    ]);
    assert.deepEqual(r.catalogs, [
      [{ name: 'fusion_a', description: 'A' }, { name: 'fusion_b', description: 'B' }, { name: 'fusion_c', description: '' }],
      [{ name: 'x', description: 'S' }],
      [{ name: 'listed', description: '' }],
      [{ name: 'fusion_start', description: 'Start Fusion' }, { name: 'fusion_stop', description: 'Stop it' }],
      [],
    ]);
  });
});
