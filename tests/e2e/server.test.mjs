import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import net from 'node:net';
import { EventSource } from 'eventsource';
import { makeSandbox, startServer, rawRequest, getJson, postJson, waitFor, sleep } from '../helpers/harness.mjs';

let sb;
let srv;
before(async () => {
  sb = makeSandbox();
  srv = await startServer(sb);
});
after(async () => {
  await srv.stop();
  sb.cleanup();
});

const ROUTE_LIST = 'GET / /favicon.png /api/status /state /console /health /events(SSE); POST /api/action {action,args}, /ui/toast {message,kind}, /ui/click {target}';
const jsonReply = (body, status = '200 OK') =>
  `HTTP/1.1 ${status}\r\nContent-Type: application/json\r\nContent-Length: ${Buffer.byteLength(body)}\r\nAccess-Control-Allow-Origin: *\r\nConnection: close\r\n\r\n${body}`;

test('fixed replies are exact to the byte', async () => {
  const preflight = await rawRequest(srv.port, 'OPTIONS /anything HTTP/1.1\r\n\r\n');
  assert.equal(preflight.length, 220);
  assert.equal(preflight.toString(), 'HTTP/1.1 204 No Content\r\nAccess-Control-Allow-Origin: *\r\nAccess-Control-Allow-Methods: GET, POST, OPTIONS\r\nAccess-Control-Allow-Headers: Content-Type\r\nAccess-Control-Max-Age: 600\r\nContent-Length: 0\r\nConnection: close\r\n\r\n');

  const notFound = jsonReply(JSON.stringify({ _hint: ROUTE_LIST, error: 'not found' }), '404 Not Found');
  for (const req of ['GET /Index.html HTTP/1.1', 'HEAD / HTTP/1.1', 'PUT /api/ping HTTP/1.1', 'POST /health HTTP/1.1']) {
    assert.equal((await rawRequest(srv.port, `${req}\r\n\r\n`)).toString(), notFound, req);
  }
  assert.equal((await rawRequest(srv.port, 'get /api/ping HTTP/1.1\r\n\r\n')).toString(),
    jsonReply('{"app":"loomdeck","dashboardVersion":"1.10.20"}'));
  assert.equal((await rawRequest(srv.port, 'GET /health HTTP/1.1\r\n\r\n')).toString(),
    jsonReply('{"ok":true,"sseClients":0,"version":"1.10.20"}'));
});

test('pages are never kept; scripts and icons are kept and revalidated', async () => {
  const page = (await rawRequest(srv.port, 'GET\r\n\r\n')).toString('latin1');
  assert.match(page, /^HTTP\/1\.1 200 OK\r\nContent-Type: text\/html; charset=utf-8\r\nContent-Length: \d+\r\nCache-Control: no-store, must-revalidate\r\nPragma: no-cache\r\nExpires: 0\r\nAccess-Control-Allow-Origin: \*\r\nContent-Security-Policy: frame-ancestors 'self' vscode-webview:\r\nCross-Origin-Opener-Policy: same-origin\r\nVary: Accept-Encoding\r\nConnection: close\r\n\r\n<!doctype html>/i);
  const q = await fetch(`${srv.url}/index.html?x=1`);
  assert.equal(q.status, 200);
  for (const [path, type] of [['/favicon.ico', 'image/png'], ['/favicon.png', 'image/png'], ['/favicon.svg', 'image/svg+xml'],
    ['/newbie-panel.js', 'application/javascript; charset=utf-8'], ['/quick-actions', 'text/html; charset=utf-8']]) {
    const res = await fetch(srv.url + path);
    assert.equal(res.status, 200, path);
    assert.equal(res.headers.get('content-type'), type, path);
    assert.equal(res.headers.get('cache-control'), path.startsWith('/quick') ? 'no-store, must-revalidate' : 'no-cache', path);
  }
  const png = Buffer.from(await (await fetch(`${srv.url}/favicon.ico`)).arrayBuffer());
  assert.deepEqual([...png.subarray(0, 8)], [0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]);
});

test('an event stream opens with the header, the filler and hello, raw and through EventSource', async () => {
  const head = 'HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-cache, no-transform\r\nX-Accel-Buffering: no\r\nAccess-Control-Allow-Origin: *\r\nConnection: keep-alive\r\n\r\n';
  assert.equal(head.length, 170);
  const got = await new Promise((resolve, reject) => {
    let buf = Buffer.alloc(0);
    const sock = net.connect(srv.port, '127.0.0.1', () => sock.write('GET /events HTTP/1.1\r\n\r\n'));
    sock.on('data', (d) => {
      buf = Buffer.concat([buf, d]);
      if (buf.toString().includes('event: hello\ndata: {"version":"1.10.20"}\n\n')) { sock.destroy(); resolve(buf.toString()); }
    });
    sock.on('error', reject);
  });
  assert.equal(got.slice(0, 170), head);
  assert.equal(got.slice(170, 170 + 2052), `: ${'p'.repeat(2048)}\n\n`);
  assert.equal(got.slice(170 + 2052), 'event: hello\ndata: {"version":"1.10.20"}\n\n');

  const es = new EventSource(`${srv.url}/events`);
  const hello = await new Promise((resolve) => es.addEventListener('hello', (e) => resolve(JSON.parse(e.data))));
  assert.deepEqual(hello, { version: '1.10.20' });
  es.close();
});

test('toasts and clicks report how many pages received them, and closed pages are pruned', async () => {
  await waitFor(async () => (await getJson(`${srv.url}/health`)).json.sseClients === 0, { what: 'no viewers' });
  const empty = await postJson(`${srv.url}/ui/toast`, { message: 'nobody' });
  assert.equal(empty.text, '{"_hint":"delivered = live SSE viewers that showed it. 0 means nobody has the page open - open it first.","delivered":0,"ok":true}');

  const open = () => new Promise((resolve) => {
    const es = new EventSource(`${srv.url}/events`);
    const seen = [];
    for (const name of ['toast', 'click']) es.addEventListener(name, (e) => seen.push([name, JSON.parse(e.data)]));
    es.addEventListener('hello', () => resolve({ es, seen }));
  });
  const a = await open();
  const b = await open();
  const toast = await postJson(`${srv.url}/ui/toast`, { message: 'x', kind: 7 });
  assert.equal(toast.json.delivered, 2);
  const click = await postJson(`${srv.url}/ui/click`, {});
  assert.deepEqual(click.json, {
    _hint: 'Targets: setup, start, stop, tour, import-part, settings, refresh. The PAGE performs the click, so what the AI drives is exactly what the user gets.',
    delivered: 2, ok: true,
  });
  for (const page of [a, b]) {
    await waitFor(() => page.seen.length === 2, { what: 'both frames' });
    assert.deepEqual(page.seen, [['toast', { kind: 'info', message: 'x' }], ['click', { target: '' }]]);
  }
  a.es.close();
  await sleep(100);
  // The next broadcast finds the closed stream gone and drops it.
  await waitFor(async () => (await postJson(`${srv.url}/ui/toast`, { message: 'again' })).json.delivered === 1, { what: 'pruning' });
  assert.equal((await getJson(`${srv.url}/health`)).json.sseClients, 1);
  b.es.close();

  const lines = (await getJson(`${srv.url}/console`)).json.lines;
  assert.ok(lines.includes('toast [info] nobody'));
  assert.ok(lines.includes('toast [info] x'));
  assert.ok(lines.includes('ui click '));
  assert.ok(lines.includes('sse client connected'));
});

test('a 2 MiB body is answered as if it were empty, and the client reads the answer', async () => {
  const big = JSON.stringify({ message: 'm'.repeat(2 * 1024 * 1024) });
  const res = await postJson(`${srv.url}/ui/toast`, big);
  assert.equal(res.status, 200);
  assert.equal(res.json.ok, true);
  const lines = (await getJson(`${srv.url}/console`)).json.lines;
  assert.ok(lines.includes('toast [info] '));
});

test('hostile bytes never take the server down', async () => {
  const bad = Buffer.concat([Buffer.from('GET /console?target=\xff'), Buffer.from([0xff, 0xfe]), Buffer.from(' HTTP/1.1\r\n\r\n')]);
  const reply = (await rawRequest(srv.port, bad)).toString();
  assert.match(reply, /^HTTP\/1\.1 200 OK/);
  assert.equal((await rawRequest(srv.port, '\r\n')).length, 0);
  assert.equal((await rawRequest(srv.port, `GET /${'a'.repeat(20000)} HTTP/1.1\r\n\r\n`)).length, 0);
  const toast = await rawRequest(srv.port, Buffer.concat([Buffer.from('POST /ui/toast HTTP/1.1\r\nContent-Length: 16\r\n\r\n{"message":"'), Buffer.from([0xc3, 0x28]), Buffer.from('"}')]));
  assert.match(toast.toString(), /"ok":true/);
  assert.equal((await getJson(`${srv.url}/api/ping`)).status, 200);
});

test('idle connections do not block other clients', async () => {
  const idle = await Promise.all(Array.from({ length: 200 }, () => new Promise((resolve) => {
    const s = net.connect(srv.port, '127.0.0.1', () => resolve(s));
    s.on('error', () => {});
  })));
  const ping = await getJson(`${srv.url}/api/ping`);
  assert.equal(ping.json.app, 'loomdeck');
  for (const s of idle) s.destroy();
});
