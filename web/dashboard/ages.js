// Relative ages ("just now", "3 min ago") of what the page shows.

import { ageWords } from '../kit/ages.js';

// How long ago the shown LEDs were verified, from a span in ms.
export const sinceText = (ms) => ageWords(Math.max(0, Math.round(ms / 1000)), 5, false);

// The age of a change stamped `at` (ISO text) at `now` (ms); '' for a stamp that is no time.
export function ago(at, now) {
  const t = typeof at === 'string' ? Date.parse(at) : NaN;
  if (!Number.isFinite(t)) return '';
  return ageWords(Math.max(0, Math.round((now - t) / 1000)), 10, true);
}
