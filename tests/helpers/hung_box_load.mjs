// The load of the hung-bridge test and benchmark: clients polling one box's live status every
// second (each poll on its own, as a page's timer does, never waiting for the previous one), a
// ping every second, and the server's process, thread and descriptor counts sampled every second.
import { processStats, childCount } from './procfs.mjs';

const utf8 = new TextDecoder('utf-8', { fatal: true });

// One request: its status, parsed JSON (or the reason it is not), and how long it took.
async function timedJson(url, timeoutMs) {
  const sent = performance.now();
  try {
    const res = await fetch(url, { signal: AbortSignal.timeout(timeoutMs) });
    const text = utf8.decode(new Uint8Array(await res.arrayBuffer()));
    return { ms: performance.now() - sent, status: res.status, json: JSON.parse(text) };
  } catch (e) {
    return { ms: performance.now() - sent, error: String(e) };
  }
}

function sample(pid, t) {
  const { threads, fds, rssKb } = processStats(pid);
  return { t, processes: 1 + childCount(pid), threads, fds, rssKb };
}

// Resolves once every poll has been answered (or given up on after `pollTimeoutMs`) with
// { samples, polls, pings }; samples[0] is taken before the first poll.
export async function pollHungBox({ url, pid, box, seconds = 120, clients = 5, pollTimeoutMs = 90000, pingTimeoutMs = 10000 }) {
  const samples = [sample(pid, 0)];
  const polls = [];
  const pings = [];
  const started = performance.now();
  for (let second = 1; second <= seconds; second++) {
    for (let c = 0; c < clients; c++) polls.push(timedJson(`${url}/api/status?target=${encodeURIComponent(box)}`, pollTimeoutMs));
    pings.push(timedJson(`${url}/api/ping`, pingTimeoutMs));
    const next = started + second * 1000;
    await new Promise((resolve) => setTimeout(resolve, Math.max(0, next - performance.now())));
    samples.push(sample(pid, second));
  }
  return { samples, polls: await Promise.all(polls), pings: await Promise.all(pings) };
}

// The samples at the given seconds, as table rows.
export function countsTable(samples, at = [0, 30, 60, 120]) {
  const rows = ['| time | processes | threads | descriptors | RSS (KiB) |', '|---|---|---|---|---|'];
  for (const t of at) {
    const s = samples.find((x) => x.t === t);
    if (s) rows.push(`| ${t === 0 ? 'start' : `${t} s`} | ${s.processes} | ${s.threads} | ${s.fds} | ${s.rssKb} |`);
  }
  return rows.join('\n');
}
