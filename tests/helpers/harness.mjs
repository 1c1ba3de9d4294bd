// Shared plumbing for the end-to-end and browser tests: a sandboxed HOME/TMPDIR per test file,
// the stand-in tools of sim/ first on PATH, and a real loomdeck server on a free port.
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { stopProcessesUsing, stopTree } from './process_tree.mjs';

export const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
export const BUILD = process.env.LOOMDECK_BUILD ? path.resolve(process.env.LOOMDECK_BUILD) : path.join(ROOT, 'build');
export const LOOMDECK = path.join(BUILD, 'loomdeck');
// The stand-in tools may come from another build (a sanitizer build of loomdeck uses the plain ones).
export const SIM_BIN = process.env.LOOMDECK_SIM_BIN ? path.resolve(process.env.LOOMDECK_SIM_BIN) : path.join(BUILD, 'sim');

// When set (a regular expression), a server or CLI run whose standard error matches it fails the
// test that ran it; the sanitizer stages set it to the sanitizers' report headers.
const STDERR_FAILURE = process.env.LOOMDECK_FAIL_ON_STDERR ? new RegExp(process.env.LOOMDECK_FAIL_ON_STDERR) : null;
export function checkStderr(stderr, what) {
  if (STDERR_FAILURE && STDERR_FAILURE.test(stderr || '')) throw new Error(`${what} reported on standard error:\n${stderr}`);
}

// A fresh HOME, TMPDIR and simulator state folder; PATH starts with the simulator's tools.
// cleanup() first stops every process still using the folder (a server's children in process
// groups of their own, a backgrounded server), then removes it.
export function makeSandbox({ withSim = true } = {}) {
  const base = fs.mkdtempSync(path.join(os.tmpdir(), 'loomdeck-test-'));
  const home = path.join(base, 'home');
  const tmp = path.join(base, 'tmp');
  const simDir = path.join(base, 'sim');
  for (const d of [home, tmp, simDir]) fs.mkdirSync(d, { recursive: true });
  const env = { ...process.env, HOME: home, TMPDIR: tmp, OVRA_SIM_DIR: simDir };
  delete env.VSCODE_PROXY_URI;
  delete env.OVRA_DOCK_WEBVIEW;
  const basePath = (process.env.PATH || '/usr/bin:/bin').split(':').filter((p) => p !== SIM_BIN).join(':');
  env.PATH = withSim ? `${SIM_BIN}:${basePath}` : basePath;
  const cleanup = () => {
    stopProcessesUsing(base);
    fs.rmSync(base, { recursive: true, force: true, maxRetries: 5, retryDelay: 100 });
  };
  return { base, home, tmp, simDir, env, cleanup };
}

// Runs the simulator's control verb, e.g. sim(sb, 'reset', 'demo').
export function sim(sandbox, ...args) {
  const r = spawnSync(path.join(SIM_BIN, 'ovra-bridge'), ['sim', ...args], { env: sandbox.env, encoding: 'utf8' });
  if (r.status !== 0) throw new Error(`ovra-bridge sim ${args.join(' ')} failed: ${r.stderr}${r.stdout}`);
  return r.stdout;
}

// The simulator's activity log: one object per bridge call, oldest first.
export function simLog(sandbox) {
  return sim(sandbox, 'log').trim().split('\n').filter(Boolean).map((l) => JSON.parse(l));
}

// Runs loomdeck to completion and returns { status, stdout, stderr }.
export function runCli(sandbox, args, opts = {}) {
  const r = spawnSync(LOOMDECK, args, { env: sandbox.env, encoding: 'utf8', timeout: 120000, ...opts });
  checkStderr(r.stderr, `loomdeck ${args.join(' ')}`);
  return { status: r.status, stdout: r.stdout, stderr: r.stderr };
}

export function freePort() {
  return new Promise((resolve, reject) => {
    const srv = net.createServer();
    srv.once('error', reject);
    srv.listen(0, '127.0.0.1', () => {
      const { port } = srv.address();
      srv.close(() => resolve(port));
    });
  });
}

// How long a fixture waits for a program's ready line: a liveness bound for a stuck start, far
// beyond any start-up on a busy machine.
export const READY_WITHIN_MS = 120000;

// Stops a process this test spawned together with everything it started, and waits for them.
export function stopSpawned(proc) {
  if (proc.exitCode === null && proc.signalCode === null) stopTree(proc.pid);
}

// Resolves true once `ready(output())` holds, false when the process exits first; after
// READY_WITHIN_MS stops the process and rejects with what it printed.
export function untilStarted(proc, output, ready, what) {
  return new Promise((resolve, reject) => {
    const started = Date.now();
    const timer = setInterval(() => {
      if (ready(output())) {
        clearInterval(timer);
        resolve(true);
      } else if (proc.exitCode !== null || proc.signalCode !== null) {
        clearInterval(timer);
        resolve(false);
      } else if (Date.now() - started > READY_WITHIN_MS) {
        clearInterval(timer);
        stopSpawned(proc);
        reject(new Error(`${what} printed no ready line within ${READY_WITHIN_MS / 1000} s: ${output()}`));
      }
    }, 20);
  });
}

// Starts `loomdeck serve` on a free port above the scan range (so it gets exactly that port), or
// on the port given (a server restarted where it was), and waits for its start line. stop() ends
// the server and every process group it started.
export async function startServer(sandbox, extraArgs = [], { port: wanted } = {}) {
  for (let attempt = 0; attempt < 5; attempt++) {
    const port = wanted ?? await freePort();
    if (port <= 8940) continue;
    const proc = spawn(LOOMDECK, ['serve', '--port', String(port), ...extraArgs], { env: sandbox.env, stdio: ['ignore', 'pipe', 'pipe'] });
    let out = '';
    let err = '';
    proc.stdout.on('data', (d) => { out += d; });
    proc.stderr.on('data', (d) => { err += d; });
    const closed = new Promise((resolve) => proc.once('close', resolve));
    const started = await untilStarted(proc, () => out, (o) => o.includes('OK: loomdeck v'), 'loomdeck serve');
    if (!started) continue;
    // Taken meanwhile: the server went on to the next port.
    if (!out.includes(`serving on port ${port} `)) {
      stopSpawned(proc);
      await closed;
      continue;
    }
    const url = `http://127.0.0.1:${port}`;
    return {
      port, url, proc,
      output: () => ({ stdout: out, stderr: err }),
      stop: async () => {
        stopSpawned(proc);
        await closed;
        checkStderr(err, 'loomdeck serve');
      },
    };
  }
  throw new Error('could not start loomdeck serve');
}

// Sends raw bytes and collects everything the server writes until it closes the connection.
export function rawRequest(port, bytes, { timeoutMs = 10000, endAfterWrite = false } = {}) {
  return new Promise((resolve, reject) => {
    const chunks = [];
    const sock = net.connect(port, '127.0.0.1', () => {
      sock.write(bytes);
      if (endAfterWrite) sock.end();
    });
    const timer = setTimeout(() => { sock.destroy(); reject(new Error('raw request timed out')); }, timeoutMs);
    sock.on('data', (d) => chunks.push(d));
    sock.on('error', (e) => { clearTimeout(timer); if (chunks.length) resolve(Buffer.concat(chunks)); else reject(e); });
    sock.on('close', () => { clearTimeout(timer); resolve(Buffer.concat(chunks)); });
  });
}

export async function getJson(url, init) {
  const res = await fetch(url, init);
  return { status: res.status, headers: res.headers, text: await res.clone().text(), json: await res.json() };
}

export function postJson(url, body) {
  return getJson(url, { method: 'POST', headers: { 'Content-Type': 'application/json' }, body: typeof body === 'string' ? body : JSON.stringify(body) });
}

export const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// Polls fn until it returns a truthy value or the deadline passes (a liveness bound, not a timing assertion).
export async function waitFor(fn, { timeoutMs = 30000, intervalMs = 50, what = 'condition' } = {}) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const v = await fn();
    if (v) return v;
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await sleep(intervalMs);
  }
}
