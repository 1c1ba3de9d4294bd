// Run inside a network namespace of its own (the test starts it behind `unshare --net`), so the
// whole port range is free and no other test sees it: a stranger answering JSON on every path
// takes 8930, loomdeck binds 8931, and `loomdeck ui click stop` must reach loomdeck. Prints one
// JSON line: what the stranger heard, the CLI's result and what the page received.
import http from 'node:http';
import { spawn } from 'node:child_process';
import { EventSource } from 'eventsource';
import { LOOMDECK, untilStarted, stopSpawned } from './harness.mjs';
import { runCliAsync } from './port_range.mjs';

const sandbox = { env: process.env };
const heard = [];
const stranger = http.createServer((req, res) => {
  heard.push(req.url);
  res.setHeader('Content-Type', 'application/json');
  res.end('{"delivered":1,"ok":true,"state":"forged"}');
});
await new Promise((resolve, reject) => {
  stranger.once('error', reject);
  stranger.listen(8930, '127.0.0.1', resolve);
});
const server = spawn(LOOMDECK, ['serve'], { env: process.env, stdio: ['ignore', 'pipe', 'inherit'] });
let out = '';
server.stdout.on('data', (d) => { out += d; });
try {
  if (!await untilStarted(server, () => out, (o) => /serving on port \d+/.test(o), 'loomdeck serve')) throw new Error(`loomdeck serve ended: ${out}`);
  const port = Number(out.match(/serving on port (\d+)/)[1]);
  const es = new EventSource(`http://127.0.0.1:${port}/events`);
  const events = [];
  es.addEventListener('click', (e) => events.push(JSON.parse(e.data)));
  await new Promise((resolve, reject) => { es.addEventListener('hello', resolve); es.onerror = reject; });
  const r = await runCliAsync(sandbox, ['ui', 'click', 'stop']);
  for (let i = 0; i < 200 && events.length === 0; i++) await new Promise((resolve) => setTimeout(resolve, 50));
  es.close();
  console.log(JSON.stringify({ port, heard, status: r.status, stdout: r.stdout, stderr: r.stderr, events }));
} finally {
  stranger.close();
  stopSpawned(server);
}
