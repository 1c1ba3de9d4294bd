// Clients that misbehave on purpose: endless lines, oversized bodies, event streams that never
// read, connection floods, invalid UTF-8 and random bytes. The server must keep answering, and
// its threads, descriptors and memory must come back once the clients are gone.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import net from 'node:net';
import { makeSandbox, startServer, sim, rawRequest, getJson, postJson, waitFor } from '../helpers/harness.mjs';
import { processStats } from '../helpers/procfs.mjs';

const utf8 = new TextDecoder('utf-8', { fatal: true });
const LEDS = ['addinReady', 'aps', 'datahub', 'fusionRunning', 'mcp', 'signedIn', 'update'];

let sb;
let srv;
let baseline;
before(async () => {
  sb = makeSandbox();
  sim(sb, 'reset', 'demo');
  srv = await startServer(sb, ['--target', 'Studio']);
  for (let i = 0; i < 5; i++) await getJson(`${srv.url}/api/ping`);
  baseline = processStats(srv.proc.pid);
});
after(async () => {
  await srv.stop();
  sb.cleanup();
});

// Splits a raw reply and checks that it is one whole HTTP/1.1 response.
function parseReply(buf) {
  const text = buf.toString('latin1');
  const end = text.indexOf('\r\n\r\n');
  assert.ok(end > 0, `no reply head in ${JSON.stringify(text.slice(0, 80))}`);
  const head = text.slice(0, end);
  const body = buf.subarray(end + 4);
  assert.match(head, /^HTTP\/1\.1 \d{3} /);
  const length = /\r\nContent-Length: (\d+)/.exec(head);
  if (length) assert.equal(body.length, Number(length[1]), 'body length matches Content-Length');
  return { head, status: Number(head.slice(9, 12)), body };
}

function jsonBody(reply) {
  return JSON.parse(utf8.decode(reply.body));
}

async function ping() {
  const r = await getJson(`${srv.url}/api/ping`);
  assert.equal(r.text, '{"app":"loomdeck","dashboardVersion":"1.10.20"}');
}

// Keeps writing `chunk` after `prefix` until the server ends the connection; resolves with what
// the server sent and whether it closed first (bounded by bytes and time).
function writeUntilClosed(prefix, chunk, { maxBytes = 4 << 20, timeoutMs = 20000 } = {}) {
  return new Promise((resolve, reject) => {
    const received = [];
    let sent = 0;
    let ended = false;
    const sock = net.connect(srv.port, '127.0.0.1');
    const timer = setTimeout(() => { sock.destroy(); reject(new Error('the server never closed the connection')); }, timeoutMs);
    const pump = () => {
      while (!ended && sent < maxBytes) {
        sent += chunk.length;
        if (!sock.write(chunk)) return sock.once('drain', pump);
      }
    };
    sock.on('connect', () => { sock.write(prefix); pump(); });
    sock.on('data', (d) => received.push(d));
    sock.on('end', () => { ended = true; });
    sock.on('error', () => { ended = true; });
    sock.on('close', () => { clearTimeout(timer); resolve({ received: Buffer.concat(received), sent, closedByServer: ended || sent < maxBytes }); });
  });
}

test('an endless request line or header line is cut off at 8 KiB without a reply', async () => {
  const chunk = Buffer.alloc(1024, 'a');
  for (const prefix of ['GET /', 'GET /api/ping HTTP/1.1\r\nX-Endless: ']) {
    const r = await writeUntilClosed(prefix, chunk);
    assert.equal(r.received.length, 0, prefix);
    assert.ok(r.closedByServer, prefix);
  }
  await ping();
});

test('oversized and lying bodies are answered as if they were empty', async () => {
  // 2 MiB of random bytes under a truthful Content-Length.
  const body = Buffer.alloc(2 << 20);
  for (let i = 0; i < body.length; i++) body[i] = (i * 2654435761) >>> 24;
  const big = parseReply(await rawRequest(srv.port, Buffer.concat([
    Buffer.from(`POST /ui/toast HTTP/1.1\r\nContent-Length: ${body.length}\r\n\r\n`), body])));
  assert.equal(big.status, 200);
  assert.deepEqual(jsonBody(big), {
    _hint: 'delivered = live SSE viewers that showed it. 0 means nobody has the page open - open it first.', delivered: 0, ok: true,
  });
  // A Content-Length no body could have, with the client done sending: the body's end is unknown,
  // so nothing runs.
  const short = parseReply(await rawRequest(srv.port, 'POST /ui/click HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n{"target":"start"}', { endAfterWrite: true }));
  assert.equal(short.status, 400);
  assert.equal(jsonBody(short).ok, false);
  // A 2 MiB JSON body of nested brackets, which a route would copy and serialise.
  // Nested 400,000 levels deep, it reads as no JSON at all.
  const action = await postJson(`${srv.url}/api/action`, `{"action":"start","args":${'['.repeat(400000)}${']'.repeat(400000)}}`);
  assert.equal(action.json.error, 'unknown action ');
  const nested = await postJson(`${srv.url}/settings`, `{"x":${'['.repeat(500000)}${']'.repeat(500000)}}`);
  assert.equal(nested.json.ok, true);
  assert.equal(nested.json.settings.x, undefined);
  await ping();
});

test('an event stream that stops reading is dropped once its backlog is full, and memory stays bounded', async () => {
  // A page that keeps reading: it must get every toast.
  let lastToast = '';
  let tail = '';
  const reader = await new Promise((resolve) => {
    const s = net.connect(srv.port, '127.0.0.1', () => s.write('GET /events HTTP/1.1\r\n\r\n'));
    s.on('data', (d) => {
      const text = tail + d.toString('latin1');
      const seen = text.match(/n\d{10}/g);
      if (seen) lastToast = seen[seen.length - 1];
      if (text.includes('event: hello')) resolve(s);
      tail = text.slice(-16);
    });
    s.on('error', () => {});
  });
  // Two pages that stopped reading: the kernel buffers fill, then the server's queue.
  const stalled = await Promise.all([0, 1].map(() => new Promise((resolve) => {
    const s = net.connect(srv.port, '127.0.0.1', () => { s.write('GET /events HTTP/1.1\r\n\r\n'); s.pause(); resolve(s); });
    s.on('error', () => {});
  })));
  try {
    await waitFor(async () => (await getJson(`${srv.url}/health`)).json.sseClients === 3, { what: 'three viewers' });
    const filler = 'm'.repeat(48 * 1024);
    const flood = async (from, count) => {
      for (let i = from; i < from + count; i++) {
        const r = await postJson(`${srv.url}/ui/toast`, { message: `n${String(i).padStart(10, '0')}${filler}` });
        assert.equal(r.status, 200);
      }
    };
    await flood(0, 1000);
    const half = processStats(srv.proc.pid).rssKb;
    await flood(1000, 1000);
    const full = processStats(srv.proc.pid).rssKb;
    // 2000 toasts of 48 KiB are 96 MiB per viewer; what a stalled viewer may hold is bounded, so
    // the second thousand adds (almost) nothing.
    assert.ok(full - half < 24 * 1024, `memory grew by ${full - half} KiB over the second thousand toasts`);
    assert.equal((await getJson(`${srv.url}/health`)).json.sseClients, 1);
    await waitFor(() => lastToast === 'n0000001999', { what: 'the reading page to receive every toast' });
    // The log keeps 500 lines, each bounded.
    const lines = (await getJson(`${srv.url}/console`)).json.lines;
    assert.ok(lines.every((l) => Buffer.byteLength(l) <= 4099));
    assert.ok(lines.includes(`toast [info] n0000001999${filler.slice(0, 4096 - 24)}\u2026`));
  } finally {
    for (const s of [...stalled, reader]) s.destroy();
  }
  // A stream notices its page is gone at its next write: the keep-alive ping at the latest.
  await waitFor(async () => (await getJson(`${srv.url}/health`)).json.sseClients === 0, { what: 'no viewers' });
});

test('500 connections opened and dropped at once, and clients that leave without reading', async () => {
  const socks = await Promise.all(Array.from({ length: 500 }, (_, i) => new Promise((resolve) => {
    const s = net.connect(srv.port, '127.0.0.1', () => {
      if (i % 3 === 1) s.write('GET /api/pi');
      if (i % 3 === 2) s.write('POST /ui/toast HTTP/1.1\r\nContent-Length: 50\r\n\r\n{"mess');
      resolve(s);
    });
    s.on('error', () => resolve(s));
  })));
  await ping();
  for (const s of socks) s.destroy();
  // Whole requests whose senders are gone before the reply is written.
  await Promise.all(Array.from({ length: 200 }, (_, i) => new Promise((resolve) => {
    const s = net.connect(srv.port, '127.0.0.1', () => {
      s.write(i % 2 ? 'GET / HTTP/1.1\r\n\r\n' : 'GET /events HTTP/1.1\r\n\r\n');
      s.destroy();
      resolve();
    });
    s.on('error', resolve);
  })));
  await ping();
});

// Each closed stream gives its slot back within a second, not at the next keep-alive (15 s): after
// 4,096 streams opened and closed, the server answers again well before a keep-alive could have
// freed them. An instrumented build cannot hold 4,096 threads at once.
test('4,096 event streams opened and closed leave the server answering', {
  skip: process.env.LOOMDECK_SANITIZER ? 'an instrumented build cannot hold 4,096 connection threads' : false,
}, async () => {
  const openAndClose = () => new Promise((resolve) => {
    const s = net.connect(srv.port, '127.0.0.1', () => s.write('GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n'));
    s.once('data', () => { s.destroy(); resolve(); });
    s.on('error', resolve);
    s.on('close', resolve);
  });
  for (let opened = 0; opened < 4096; opened += 256) await Promise.all(Array.from({ length: 256 }, openAndClose));
  const answered = Date.now() + 10000;
  for (;;) {
    try {
      await ping();
      break;
    } catch (e) {
      if (Date.now() > answered) throw e;
      await new Promise((r) => setTimeout(r, 100));
    }
  }
  await waitFor(async () => (await getJson(`${srv.url}/health`)).json.sseClients === 0, { what: 'no viewers' });
});

test('invalid UTF-8 in the request line and the target param comes back as well-formed JSON', async () => {
  const bytes = (...parts) => Buffer.concat(parts.map((p) => (typeof p === 'string' ? Buffer.from(p, 'latin1') : Buffer.from(p))));
  const bad = [0xff, 0xfe, 0xc3];
  const status = parseReply(await rawRequest(srv.port, bytes('GET /api/status?target=', bad, '%20x HTTP/1.1\r\n\r\n')));
  const payload = jsonBody(status);
  assert.equal(payload.target, '\ufffd\ufffd\ufffd x');
  assert.deepEqual(Object.keys(payload.leds), LEDS);
  assert.equal(payload.answered, false);

  const health = jsonBody(parseReply(await rawRequest(srv.port, bytes('GET /api/health?target=', bad, ' HTTP/1.1\r\n\r\n'))));
  assert.equal(health.dashboardVersion, '1.10.20');
  for (const line of [bytes(bad, ' /api/ping HTTP/1.1\r\n\r\n'), bytes('GET /', bad, ' HTTP/1.1\r\n\r\n'), bytes('GET /api/ping', bad, '\r\n\r\n')]) {
    const r = parseReply(await rawRequest(srv.port, line));
    assert.equal(r.status, 404);
    assert.equal(jsonBody(r).error, 'not found');
  }
  const body = bytes('{"action":"start', bad, '"}');
  const action = parseReply(await rawRequest(srv.port, bytes('POST /api/action?target=', bad, ` HTTP/1.1\r\nContent-Length: ${body.length}\r\n\r\n`, body)));
  assert.deepEqual(jsonBody(action).error, 'unknown action ');
  const tts = parseReply(await rawRequest(srv.port, bytes('GET /api/tts?text=%FF%fe+', bad, ' HTTP/1.1\r\n\r\n')));
  assert.equal(tts.status, 200);

  const consoleReply = await fetch(`${srv.url}/console`);
  const lines = JSON.parse(utf8.decode(new Uint8Array(await consoleReply.arrayBuffer()))).lines;
  assert.ok(lines.includes('status target=\ufffd\ufffd\ufffd x'));
  assert.ok(lines.includes('action  target=\ufffd\ufffd\ufffd'));
});

// A small deterministic generator, so a failing sequence can be replayed.
function random(seed) {
  let a = seed >>> 0;
  return () => {
    a = (a + 0x6d2b79f5) >>> 0;
    let t = a;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

test('random bytes get a whole reply or none, and the server keeps answering', async () => {
  const rnd = random(20250615);
  const pieces = ['GET ', 'POST ', '/api/status', '/ui/toast', '?target=', '\r\n', '\r\n\r\n', 'Content-Length: 12\r\n', '{"a":', '%20'];
  const inputs = Array.from({ length: 300 }, () => {
    const parts = [];
    const n = 1 + Math.floor(rnd() * 12);
    for (let k = 0; k < n; k++) {
      if (rnd() < 0.4) {
        parts.push(Buffer.from(pieces[Math.floor(rnd() * pieces.length)]));
      } else {
        const b = Buffer.alloc(1 + Math.floor(rnd() * 300));
        for (let i = 0; i < b.length; i++) b[i] = Math.floor(rnd() * 256);
        parts.push(b);
      }
    }
    return Buffer.concat(parts);
  });
  for (let i = 0; i < inputs.length; i += 20) {
    const replies = await Promise.all(inputs.slice(i, i + 20).map((b) => rawRequest(srv.port, b, { endAfterWrite: true, timeoutMs: 60000 })));
    for (const [k, reply] of replies.entries()) {
      if (reply.length === 0) continue;
      const r = parseReply(reply);
      if (/\r\nContent-Type: application\/json/.test(r.head)) assert.doesNotThrow(() => jsonBody(r), `input ${i + k}`);
    }
  }
  await ping();
});

test('threads and descriptors come back to their baseline, and memory near it', async () => {
  const settled = await waitFor(() => {
    const now = processStats(srv.proc.pid);
    return now.threads <= baseline.threads && now.fds <= baseline.fds && now;
  }, { timeoutMs: 90000, intervalMs: 250, what: `threads and descriptors back to ${JSON.stringify(baseline)}` });
  // Under AddressSanitizer the resident figure is the sanitizer's: the shadow of every heap byte
  // the floods touched and its allocator's regions stay mapped. The plain run holds the server
  // to the bound.
  if (process.env.LOOMDECK_SANITIZER !== 'address') {
    // About 20 MiB stay after floods of 2,000 toasts of 48 KiB; more than 70 did while the
    // allocator kept what finished threads had freed.
    assert.ok(settled.rssKb - baseline.rssKb < 48 * 1024, `resident memory ${settled.rssKb} KiB against a baseline of ${baseline.rssKb} KiB`);
  }
  await ping();
});
