// What a running process holds, read from /proc: resident memory, threads, open descriptors.
import fs from 'node:fs';
import path from 'node:path';

export function processStats(pid) {
  const status = fs.readFileSync(`/proc/${pid}/status`, 'utf8');
  return {
    rssKb: Number(/^VmRSS:\s+(\d+) kB$/m.exec(status)[1]),
    threads: fs.readdirSync(`/proc/${pid}/task`).length,
    fds: fs.readdirSync(`/proc/${pid}/fd`).length,
  };
}

// Ids of the running processes of `program` whose environment holds `envEntry` (e.g.
// "OVRA_SIM_DIR=/tmp/x"), so a test only ever touches the processes its own sandbox started.
export function processesOf(program, envEntry) {
  const want = path.resolve(program);
  const pids = [];
  for (const entry of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      if (fs.readlinkSync(`/proc/${entry}/exe`) !== want) continue;
      if (fs.readFileSync(`/proc/${entry}/environ`, 'utf8').split('\0').includes(envEntry)) pids.push(Number(entry));
    } catch {
      // gone already, or not ours to read
    }
  }
  return pids;
}

// How many processes have `pid` as their parent right now.
export function childCount(pid) {
  let n = 0;
  for (const entry of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      const stat = fs.readFileSync(`/proc/${entry}/stat`, 'utf8');
      if (Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]) === pid) n++;
    } catch {
      // gone already
    }
  }
  return n;
}
