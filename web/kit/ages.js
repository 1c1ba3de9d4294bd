// Relative ages in the words every page uses ("just now", "40 s ago", "3 min ago").

// s whole seconds in words: "just now" below justNowUnder, then s, min, h and, withDays, days.
export function ageWords(s, justNowUnder, withDays) {
  if (s < justNowUnder) return 'just now';
  if (s < 60) return s + ' s ago';
  if (s < 3600) return Math.floor(s / 60) + ' min ago';
  if (!withDays || s < 86400) return Math.floor(s / 3600) + ' h ago';
  const days = Math.floor(s / 86400);
  return days + (days === 1 ? ' day ago' : ' days ago');
}
