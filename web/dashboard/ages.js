// Relative ages ("just now", "3 min ago") of what the page shows.

// s whole seconds in words: "just now" below justNowUnder, then s, min, h and, withDays, days.
function ageWords(s, justNowUnder, withDays) {
  if (s < justNowUnder) return 'just now';
  if (s < 60) return s + ' s ago';
  if (s < 3600) return Math.floor(s / 60) + ' min ago';
  if (!withDays || s < 86400) return Math.floor(s / 3600) + ' h ago';
  const days = Math.floor(s / 86400);
  return days + (days === 1 ? ' day ago' : ' days ago');
}

// How long ago the shown LEDs were verified, from a span in ms.
export const sinceText = (ms) => ageWords(Math.max(0, Math.round(ms / 1000)), 5, false);

// The age of a change stamped `at` (ISO text) at `now` (ms); '' for a stamp that is no time.
export function ago(at, now) {
  const t = typeof at === 'string' ? Date.parse(at) : NaN;
  if (!Number.isFinite(t)) return '';
  return ageWords(Math.max(0, Math.round((now - t) / 1000)), 10, true);
}
