// Starts a browser-side stand-in as a child process and waits for the URL it prints (its ready
// line); the bound is only for a stand-in that is stuck, far beyond a start on a busy machine.
import { spawn } from 'node:child_process';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const HERE = path.dirname(fileURLToPath(import.meta.url));
const READY_WITHIN_S = 120;

// script: 'wiki.mjs' or 'web-control.mjs'; resolves to {url, port, control(path, body), stop()}.
export function startStandIn(script, args = []) {
  return new Promise((resolve, reject) => {
    const proc = spawn(process.execPath, [path.join(HERE, script), ...args], { stdio: ['ignore', 'pipe', 'pipe'] });
    let out = '';
    let err = '';
    const fail = (why) => { proc.kill('SIGKILL'); reject(new Error(`${script} did not start: ${why}${err}`)); };
    const timer = setTimeout(() => fail(`no URL within ${READY_WITHIN_S} s`), READY_WITHIN_S * 1000);
    proc.stderr.on('data', (d) => { err += d; });
    proc.on('exit', (code) => { clearTimeout(timer); if (!out.includes('http://')) reject(new Error(`${script} exited with ${code}: ${err}`)); });
    proc.stdout.on('data', (d) => {
      out += d;
      const m = /(http:\/\/[^\s]+:(\d+))/.exec(out);
      if (!m) return;
      clearTimeout(timer);
      const url = m[1];
      resolve({
        url,
        port: Number(m[2]),
        async control(route, body) {
          const res = await fetch(url + route, body === undefined ? {} : { method: 'POST', body: JSON.stringify(body) });
          return res.json();
        },
        stop: () => new Promise((done) => {
          if (proc.exitCode !== null) return done();
          proc.once('exit', () => done());
          proc.kill('SIGKILL');
        }),
      });
    });
  });
}
