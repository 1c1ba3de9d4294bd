// Clients that send too slowly or stop early: a slowloris trickling one header byte at a time,
// a body that stops half-way, and one whose sender leaves half-way. The server answers others
// meanwhile, lets go of them at its 30 s deadline for a request's head and body, and never acts
// on half a request.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import net from 'node:net';
import { makeSandbox, startServer, getJson, waitFor, rawRequest, simLog } from '../helpers/harness.mjs';
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

test('slow senders are cut off at the deadline while others are served, and half a body is dropped', async () => {
  const loris = Array.from({ length: 40 }, () => trickler('GET /api/ping HTTP/1.1\r\nX-Slow: '));
  const halfBody = trickler('POST /ui/toast HTTP/1.1\r\nContent-Length: 200\r\n\r\n{"message":"', '');
  // Each is held open (a descriptor each) by a thread of its own; threads already waiting for
  // connections take some of them, so the thread count need not grow by 41.
  await waitFor(() => processStats(srv.proc.pid).fds >= baseline.fds + 41, { what: `every slow client held open ${JSON.stringify([baseline, processStats(srv.proc.pid)])}` });

  for (let i = 0; i < 5; i++) {
    assert.equal((await getJson(`${srv.url}/api/ping`)).json.app, 'loomdeck');
  }
  assert.equal((await getJson(`${srv.url}/health`)).json.ok, true);

  // A sender that leaves half-way through its body: no reply, and no run starts (the route
  // would have asked the bridge for the boxes before answering).
  const left = await rawRequest(srv.port, 'POST /api/auto-green HTTP/1.1\r\nContent-Length: 40\r\n\r\n{"force":tr', { endAfterWrite: true });
  assert.equal(left.length, 0);
  assert.deepEqual(simLog(sb), []);

  // Trickled headers and a body cut short at the deadline get no reply at all, and no route ran.
  assert.deepEqual(await Promise.all(loris), Array(40).fill(''));
  assert.equal(await halfBody, '');
  assert.deepEqual((await getJson(`${srv.url}/console`)).json.lines, []);

  await waitFor(() => {
    const now = processStats(srv.proc.pid);
    return now.threads <= baseline.threads && now.fds <= baseline.fds;
  }, { timeoutMs: 30000, what: 'threads and descriptors back to their baseline' });
});
