// Servers of other test runs share the port range 8930-8940 on this machine. These helpers let a
// test see only the loomdeck servers it started itself: a curl stand-in first on PATH answers
// "could not connect" for every port of the range that was already taken when the test began.
// runCliAsync keeps this process's event loop turning, for tests whose stand-in servers live here.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import { LOOMDECK, stopSpawned, untilStarted } from './harness.mjs';
import { stopTree } from './process_tree.mjs';

export const RANGE = Array.from({ length: 11 }, (_, i) => 8930 + i);

export function portTaken(port) {
  return new Promise((resolve) => {
    const sock = net.connect(port, '127.0.0.1');
    sock.once('connect', () => { sock.destroy(); resolve(true); });
    sock.once('error', () => resolve(false));
  });
}

// A directory first on the sandbox's PATH for stand-in tools.
export function toolDir(sandbox) {
  const dir = path.join(sandbox.base, 'tools');
  if (!fs.existsSync(dir)) {
    fs.mkdirSync(dir, { recursive: true });
    sandbox.env.PATH = `${dir}:${sandbox.env.PATH}`;
  }
  return dir;
}

export function fakeTool(sandbox, name, shellBody) {
  const file = path.join(toolDir(sandbox), name);
  fs.writeFileSync(file, `#!/bin/sh\n${shellBody}\n`, { mode: 0o755 });
  return file;
}

// Hides the range ports taken right now from every curl the sandboxed programs run.
export async function hideForeignServers(sandbox) {
  const taken = [];
  for (const port of RANGE) if (await portTaken(port)) taken.push(port);
  fakeTool(sandbox, 'curl', [
    'for a; do last=$a; done',
    'case "$last" in',
    '  http://127.0.0.1:*) rest=${last#http://127.0.0.1:}; port=${rest%%/*}',
    `    case " ${taken.join(' ')} " in *" $port "*) exit 7;; esac;;`,
    'esac',
    'exec /usr/bin/curl "$@"',
  ].join('\n'));
  return taken;
}

export function runCliAsync(sandbox, args, opts = {}) {
  return runAsync(LOOMDECK, args, { env: sandbox.env, ...opts });
}

// Any program, its output collected, without blocking this process's event loop.
export function runAsync(program, args, opts = {}) {
  return new Promise((resolve, reject) => {
    const proc = spawn(program, args, { stdio: ['ignore', 'pipe', 'pipe'], ...opts });
    let stdout = '';
    let stderr = '';
    proc.stdout.on('data', (d) => { stdout += d; });
    proc.stderr.on('data', (d) => { stderr += d; });
    proc.on('error', reject);
    proc.on('close', (status) => resolve({ status, stdout, stderr }));
  });
}

// Ids of the loomdeck processes running with this sandbox's HOME (backgrounded servers included,
// their child guards not).
export function sandboxServers(sandbox) {
  const pids = [];
  for (const entry of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      if (fs.readlinkSync(`/proc/${entry}/exe`) !== LOOMDECK) continue;
      // A server's child guard runs the same program under a name of its own.
      if (fs.readFileSync(`/proc/${entry}/comm`, 'utf8') === 'loomdeck-guard\n') continue;
      const env = fs.readFileSync(`/proc/${entry}/environ`, 'utf8').split('\0');
      if (env.includes(`HOME=${sandbox.home}`)) pids.push(Number(entry));
    } catch {
      // gone already, or not ours to read
    }
  }
  return pids;
}

// Kills them, with everything they started, and returns once they have exited: a port one of
// them held is free again, and the next test does not take it for a foreign server.
export function killSandboxServers(sandbox) {
  for (const pid of sandboxServers(sandbox)) stopTree(pid);
}

// The session id of a process (field 6 of /proc/<pid>/stat).
export function sessionOf(pid) {
  const stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
  return Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[3]);
}

// `loomdeck serve` without --port, so it binds the first free port of the range like a real one.
export async function startRangeServer(sandbox, extraArgs = []) {
  const proc = spawn(LOOMDECK, ['serve', ...extraArgs], { env: sandbox.env, stdio: ['ignore', 'pipe', 'pipe'] });
  let out = '';
  proc.stdout.on('data', (d) => { out += d; });
  if (!await untilStarted(proc, () => out, (o) => /serving on port \d+/.test(o), 'loomdeck serve')) throw new Error(`loomdeck serve ended: ${out}`);
  const port = Number(out.match(/serving on port (\d+)/)[1]);
  return {
    port, proc,
    stop: () => new Promise((resolve) => {
      if (proc.exitCode !== null) return resolve();
      proc.once('exit', () => resolve());
      stopSpawned(proc);
    }),
  };
}
