// Three pollers of /api/status until the 14 large answers are spent, then a minute of quiet:
// resident memory (VmRSS) at the start, its peak (VmHWM) and a minute after the burst, in MB.
// Arguments: server URL, server pid.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';

const [url, pid] = [process.argv[2], Number(process.argv[3])];
const memory = () => {
  const status = fs.readFileSync(`/proc/${pid}/status`, 'utf8');
  const kb = (name) => Number(new RegExp(`^${name}:\\s+(\\d+) kB`, 'm').exec(status)[1]);
  return { rss: kb('VmRSS') / 1024, peak: kb('VmHWM') / 1024 };
};
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const large = async () => (await (await fetch(`${url}/api/status?target=Studio`)).text()).length;

const before = memory();
let spent = false;
const poller = async () => {
  while (!spent) {
    await large();
    await sleep(200);
  }
};
const pollers = [poller(), poller(), poller()];
for (;;) {
  await sleep(1000);
  if (!/huge/.test(execFileSync('ovra-bridge', ['sim', 'faults'], { encoding: 'utf8' }))) break;
}
spent = true;
await Promise.all(pollers);
const burst = memory();
await sleep(60000);
const after = memory();
const mb = (v) => v.toFixed(1);
console.log(`resident memory, MB: before ${mb(before.rss)}, peak ${mb(after.peak)}, at the end of the burst ${mb(burst.rss)}, a minute later ${mb(after.rss)} (${mb(after.rss - before.rss)} above before)`);
