// Stopping everything a test started: a process with every process group it spawned (the server
// starts each child in a group of its own), and whatever still runs on a sandbox's files, so a
// sandbox folder is removed only once nothing writes into it any more.
// Synchronous on purpose: node cannot reap a child (and free its pid for reuse) while these run.
import fs from 'node:fs';

// How long SIGKILLed processes may take to be gone before the test fails for it.
const GONE_WITHIN_MS = 60000;

const pause = new Int32Array(new SharedArrayBuffer(4));
const nap = (ms) => Atomics.wait(pause, 0, 0, ms);

function stat(pid) {
  try {
    const text = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
    const fields = text.slice(text.lastIndexOf(')') + 2).split(' ');
    return { pid, state: fields[0], ppid: Number(fields[1]), pgid: Number(fields[2]) };
  } catch {
    return null;
  }
}

function allPids() {
  return fs.readdirSync('/proc').filter((e) => /^\d+$/.test(e)).map(Number);
}

// Not exited yet: a zombie holds no files, no port and no process group members. A process whose
// first thread has exited shows as a zombie while its other threads are still exiting, and until
// the last of them is gone it still holds its files (a listening port among them).
export function alive(pid) {
  const s = stat(pid);
  if (s === null) return false;
  if (s.state !== 'Z') return true;
  try {
    return fs.readdirSync(`/proc/${pid}/task`).length > 1;
  } catch {
    return false;
  }
}

// Every process below `pid` right now: its children, theirs, and so on.
export function descendants(pid) {
  const children = new Map();
  for (const s of allPids().map(stat)) {
    if (!s) continue;
    if (!children.has(s.ppid)) children.set(s.ppid, []);
    children.get(s.ppid).push(s.pid);
  }
  const found = [];
  const todo = [pid];
  while (todo.length) {
    for (const c of children.get(todo.pop()) || []) {
      found.push(c);
      todo.push(c);
    }
  }
  return found;
}

function signal(pid, sig) {
  try { process.kill(pid, sig); } catch { /* gone already */ }
}

// SIGKILL for each process and for every process group one of them leads.
function killAll(pids) {
  for (const pid of pids) {
    if (stat(pid)?.pgid === pid) signal(-pid, 'SIGKILL');
    signal(pid, 'SIGKILL');
  }
}

function waitGone(pids, what) {
  const deadline = Date.now() + GONE_WITHIN_MS;
  while (pids.some(alive)) {
    if (Date.now() > deadline) throw new Error(`${what}: ${pids.filter(alive).join(', ')} outlived SIGKILL`);
    nap(10);
  }
}

// Stops `pid` and all its descendants and returns once they have exited. The tree is frozen
// first (SIGSTOP, until a scan finds no new process), since once a parent is killed its children
// are re-parented and could no longer be found; a frozen process cannot start another.
export function stopTree(pid) {
  const frozen = new Set();
  const deadline = Date.now() + GONE_WITHIN_MS;
  for (;;) {
    const fresh = [pid, ...descendants(pid)].filter((p) => !frozen.has(p) && alive(p));
    if (fresh.length === 0) break;
    for (const p of fresh) {
      signal(p, 'SIGSTOP');
      frozen.add(p);
    }
    // A process forking right now has its child only once it is really stopped.
    while (fresh.some((p) => !['T', 't', 'Z', undefined].includes(stat(p)?.state))) {
      if (Date.now() > deadline) throw new Error(`process ${pid}: its tree would not stop`);
      nap(5);
    }
  }
  killAll([...frozen]);
  waitGone([...frozen], `process ${pid} and its children`);
}

function ancestorsOfSelf() {
  const chain = new Set([process.pid]);
  for (let s = stat(process.pid); s && s.ppid > 1; s = stat(s.ppid)) chain.add(s.ppid);
  return chain;
}

const inside = (file, base) => file === base || file.startsWith(`${base}/`);

// Whether a process works in `base` or has it in its environment (HOME, TMPDIR, the simulator's
// folder: every program started with a sandbox's environment, and everything those started).
function usesFolder(pid, base) {
  try {
    if (inside(fs.readlinkSync(`/proc/${pid}/cwd`), base)) return true;
  } catch { /* gone, or not ours to read */ }
  try {
    return fs.readFileSync(`/proc/${pid}/environ`, 'utf8').split('\0').some((e) => inside(e.slice(e.indexOf('=') + 1), base));
  } catch {
    return false;
  }
}

// Kills every process that still uses the folder `base` (never this process or its parents) and
// returns once they have exited; scans again until none is found, since one may fork meanwhile.
export function stopProcessesUsing(base) {
  const spared = ancestorsOfSelf();
  const deadline = Date.now() + GONE_WITHIN_MS;
  for (;;) {
    const found = allPids().filter((p) => !spared.has(p) && alive(p) && usesFolder(p, base));
    if (found.length === 0) return;
    if (Date.now() > deadline) throw new Error(`processes ${found.join(', ')} still use ${base}`);
    killAll(found);
    nap(10);
  }
}
