// The kit's plain logic both pages and the panel share: where a tooltip goes.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { placeTip } from '../../web/kit/tooltip.js';

test('a tip is centred on its control on the preferred side, flips without room, and stays 8 px inside the view', () => {
  const view = { width: 400, height: 300 };
  const rect = (left, top, width = 40, height = 20) => ({ left, top, width, height, bottom: top + height });
  // Below (the pages' tip), above (the panel's).
  assert.deepEqual(placeTip(rect(180, 100), 100, 30, view, { gap: 10, above: false }), { left: 150, top: 130 });
  assert.deepEqual(placeTip(rect(180, 100), 100, 30, view, { gap: 8, above: true }), { left: 150, top: 62 });
  // No room on the preferred side: the other one.
  assert.deepEqual(placeTip(rect(180, 270), 100, 30, view, { gap: 10, above: false }), { left: 150, top: 230 });
  assert.deepEqual(placeTip(rect(180, 10), 100, 30, view, { gap: 8, above: true }), { left: 150, top: 38 });
  // At the edges of the view.
  assert.deepEqual(placeTip(rect(0, 100), 100, 30, view, { gap: 10, above: false }), { left: 8, top: 130 });
  assert.deepEqual(placeTip(rect(380, 100), 100, 30, view, { gap: 10, above: false }), { left: 292, top: 130 });
  assert.deepEqual(placeTip(rect(180, 0, 40, 300), 100, 30, view, { gap: 10, above: false }), { left: 150, top: 8 });
});
