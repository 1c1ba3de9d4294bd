// Runs the hung-box load against a server and prints its counts at start, 30 s, 60 s and the
// end, then waits until the last probes have hit their time limit (so no hung bridge outlives
// the run). Arguments: server URL, server pid, seconds.
import { pollHungBox, countsTable } from '../tests/helpers/hung_box_load.mjs';
import { childCount } from '../tests/helpers/procfs.mjs';

const [url, pid, seconds] = [process.argv[2], Number(process.argv[3]), Number(process.argv[4])];
const { samples, polls, pings } = await pollHungBox({ url, pid, box: 'Hung', seconds });
const at = [0, 30, 60, seconds].filter((t, i, all) => t <= seconds && all.indexOf(t) === i);
console.log(`Hung box, 5 clients polling /api/status every second for ${seconds} s:`);
console.log(countsTable(samples, at));
const answered = polls.filter((p) => p.status === 200 && p.json && typeof p.json.busyReason === 'string').length;
console.log(`polls answered with a status payload: ${answered} of ${polls.length}; slowest ${(Math.max(...polls.map((p) => p.ms)) / 1000).toFixed(1)} s`);
console.log(`pings answered: ${pings.filter((p) => p.json && p.json.app === 'loomdeck').length} of ${pings.length}; slowest ${Math.round(Math.max(...pings.map((p) => p.ms)))} ms`);
console.log(`most processes at any sample: ${Math.max(...samples.map((s) => s.processes))} (the server and its probes)`);
// Polls pile up until a build ends, so within each 30 s the counts climb and fall back; their peaks show the trend.
for (let from = 0; from < seconds; from += 30) {
  const window = samples.filter((s) => s.t > from && s.t <= from + 30);
  if (window.length) console.log(`peak in ${from}-${from + 30} s: threads ${Math.max(...window.map((s) => s.threads))}, descriptors ${Math.max(...window.map((s) => s.fds))}`);
}
while (childCount(pid) > 0) await new Promise((resolve) => setTimeout(resolve, 500));
