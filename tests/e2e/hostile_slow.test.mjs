// Clients that send too slowly: a slowloris trickling one header byte at a time and a body that
// stops half-way. The server answers others meanwhile and lets go of them at its 30 s deadline
// for a request's head and body.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import net from 'node:net';
import { makeSandbox, startServer, getJson, waitFor } from '../helpers/harness.mjs';
import { processStats } from '../helpers/procfs.mjs';

let sb;
let srv;
let baseline;
before(async () => {
  sb = makeSandbox();
  srv = await startServer(sb);
  await getJson(`${srv.url}/api/ping`);
  baseline = processStats(srv.proc.pid);
});
after(async () => {
  await srv.stop();
  sb.cleanup();
});

// Opens a connection, sends `head`, then one byte of `trickle` every second until the server
// closes; resolves with what the server sent.
function trickler(head, trickle = 'a') {
  return new Promise((resolve) => {
    const received = [];
    const sock = net.connect(srv.port, '127.0.0.1', () => sock.write(head));
    const timer = setInterval(() => { if (trickle) sock.write(trickle); }, 1000);
    const done = () => { clearInterval(timer); resolve(Buffer.concat(received).toString()); };
    sock.on('data', (d) => received.push(d));
    sock.on('end', () => { clearInterval(timer); sock.end(); });
    sock.on('error', done);
    sock.on('close', done);
    // A liveness bound far past the server's deadline, so a broken server fails the test
    // instead of hanging it.
    setTimeout(() => sock.destroy(), 120000).unref();
  });
}

test('slow senders are cut off at the deadline while others are served', async () => {
  const loris = Array.from({ length: 40 }, () => trickler('GET /api/ping HTTP/1.1\r\nX-Slow: '));
  const halfBody = trickler('POST /ui/toast HTTP/1.1\r\nContent-Length: 200\r\n\r\n{"message":"', '');
  await waitFor(() => processStats(srv.proc.pid).threads >= baseline.threads + 41, { what: 'a thread per slow client' });

  for (let i = 0; i < 5; i++) {
    assert.equal((await getJson(`${srv.url}/api/ping`)).json.app, 'loomdeck');
  }
  assert.equal((await getJson(`${srv.url}/health`)).json.ok, true);

  // Trickled headers get no reply at all; a body cut short reads as no body.
  assert.deepEqual(await Promise.all(loris), Array(40).fill(''));
  const reply = await halfBody;
  assert.match(reply, /^HTTP\/1\.1 200 OK\r\n/);
  assert.ok(reply.endsWith('"delivered":0,"ok":true}'));
  assert.ok((await getJson(`${srv.url}/console`)).json.lines.includes('toast [info] '));

  await waitFor(() => {
    const now = processStats(srv.proc.pid);
    return now.threads <= baseline.threads && now.fds <= baseline.fds;
  }, { timeoutMs: 30000, what: 'threads and descriptors back to their baseline' });
});
