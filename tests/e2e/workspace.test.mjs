import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { makeSandbox, startServer, rawRequest } from '../helpers/harness.mjs';

const THREADS_503 = '{"ok":false,"proxied":true,"why":"Ovra Brindle is not reachable from this workspace (~/.ovra/brindle-control-url missing). The route EXISTS - 503 means vo is absent, not unwired."}';
const UPDATER_503 = '{"ok":false,"proxied":true,"why":"Ovra Brindle is not reachable from this workspace (~/.ovra/brindle-control-url missing), so the panel cannot check the version or send. The route EXISTS - a 503 here means vo is absent, not that the proxy was never wired."}';

// A stand-in for the workspace control API: records what arrives and answers per route.
function startControlApi() {
  const seen = [];
  const server = http.createServer((req, res) => {
    let body = '';
    req.setEncoding('utf8');
    req.on('data', (d) => { body += d; });
    req.on('end', () => {
      seen.push({ method: req.method, url: req.url, type: req.headers['content-type'], body });
      res.setHeader('Content-Type', 'application/json');
      if (req.url === '/ai-threads/run-prompt') {
        res.end(`{"jobId":"j-${seen.length}"}`);
      } else if (req.url.startsWith('/ai-threads/run-prompt/status')) {
        res.statusCode = 500;
        res.end(' {"state": "failed", "detail": "caf\u00e9"} ');
      } else if (req.url === '/updater/status') {
        res.end('{ "version" : "2.3.4",\n  "z": 1 }');
      } else if (req.url === '/silent') {
        res.end();
      } else {
        res.statusCode = 404;
        res.end('{"error":"no such route"}');
      }
    });
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve({
    seen, base: `http://127.0.0.1:${server.address().port}`, close: () => new Promise((r) => server.close(r)),
  })));
}

let sb;
let srv;
let api;
let addressFile;
before(async () => {
  sb = makeSandbox({ withSim: false });
  srv = await startServer(sb);
  api = await startControlApi();
  addressFile = path.join(sb.home, '.ovra', 'brindle-control-url');
});
after(async () => {
  await srv.stop();
  await api.close();
  sb.cleanup();
});

function writeAddress(text) {
  fs.mkdirSync(path.dirname(addressFile), { recursive: true });
  fs.writeFileSync(addressFile, text);
}

async function call(method, route, body) {
  const init = { method };
  if (body !== undefined) {
    init.body = body;
    init.headers = { 'Content-Type': 'application/json' };
  }
  const res = await fetch(srv.url + route, init);
  return { status: res.status, type: res.headers.get('content-type'), text: await res.text() };
}

test('without an address file every pass-through route answers 503 and says the route exists', async () => {
  fs.rmSync(addressFile, { force: true });
  for (const [method, route, body] of [['POST', '/ai-threads/run-prompt', '{"prompt":"hi"}'],
    ['GET', '/ai-threads/run-prompt/status?job=1'], ['GET', '/updater/status']]) {
    const r = await call(method, route, body);
    assert.equal(r.status, 503, route);
    assert.equal(r.type, 'application/json');
    assert.equal(r.text, route === '/updater/status' ? UPDATER_503 : THREADS_503, route);
  }
  writeAddress(' /// \n');
  assert.equal((await call('GET', '/updater/status')).status, 503, 'an address of slashes and spaces is none');
  assert.equal(api.seen.length, 0);
});

test('prompts are forwarded with type removed and the gantry tag added once', async () => {
  writeAddress(`${api.base}/ \n`);
  const cases = [
    ['{"type":"chat","prompt":"Help me \u201csign in\u201d","tags":["newbie"]}', '{"prompt":"Help me \u201csign in\u201d","tags":["newbie","app:ovra/gantry"]}'],
    ['{"prompt":"again","tags":["app:ovra/gantry","x"]}', '{"prompt":"again","tags":["app:ovra/gantry","x"]}'],
    ['{"prompt":"p","tags":"newbie"}', '{"prompt":"p","tags":["app:ovra/gantry"]}'],
    ['["type",1]', '["type",1]'],
    ['not json at all', '{"tags":["app:ovra/gantry"]}'],
    // Longer than one command-line argument may be.
    [`{"prompt":"${'\u00e9'.repeat(100000)}"}`, `{"prompt":"${'\u00e9'.repeat(100000)}","tags":["app:ovra/gantry"]}`],
  ];
  for (const [sent, forwarded] of cases) {
    const before = api.seen.length;
    const r = await call('POST', '/ai-threads/run-prompt', sent);
    assert.equal(r.status, 200);
    assert.equal(r.type, 'application/json');
    assert.equal(r.text, `{"jobId":"j-${before + 1}"}`);
    assert.deepEqual(api.seen.at(-1), { method: 'POST', url: '/ai-threads/run-prompt', type: 'application/json', body: forwarded });
  }
});

test('status routes append the query as received and pass any answer through byte for byte', async () => {
  writeAddress(`${api.base}\n`);
  let r = await call('GET', '/ai-threads/run-prompt/status?job=abc&x=%20y?ignored');
  assert.equal(r.status, 200);
  assert.equal(r.text, ' {"state": "failed", "detail": "caf\u00e9"} ');
  assert.equal(api.seen.at(-1).url, '/ai-threads/run-prompt/status?job=abc&x=%20y');
  for (const route of ['/ai-threads/run-prompt/status', '/ai-threads/run-prompt/status?']) {
    await call('GET', route);
    assert.equal(api.seen.at(-1).url, '/ai-threads/run-prompt/status', route);
  }
  r = await call('GET', '/updater/status?target=Studio');
  assert.equal(r.status, 200);
  assert.equal(r.text, '{ "version" : "2.3.4",\n  "z": 1 }');
  assert.equal(api.seen.at(-1).url, '/updater/status');
  assert.equal(api.seen.at(-1).method, 'GET');
});

test('a control API that is gone or silent did not answer, and a removed address file means 503 again', async () => {
  writeAddress(`${api.base}/silent#`);
  assert.equal((await call('GET', '/updater/status')).text, '{"ok":false,"why":"control API did not answer /updater/status"}');

  const gone = await startControlApi();
  await gone.close();
  writeAddress(gone.base);
  let r = await call('POST', '/ai-threads/run-prompt', '{"prompt":"x"}');
  assert.equal(r.status, 200);
  assert.equal(r.text, '{"ok":false,"why":"control API did not answer run-prompt within 120s"}');
  r = await call('GET', '/ai-threads/run-prompt/status?job=1');
  assert.equal(r.text, '{"ok":false,"why":"control API did not answer run-prompt/status"}');
  r = await call('GET', '/updater/status');
  assert.equal(r.text, '{"ok":false,"why":"control API did not answer /updater/status"}');

  writeAddress('--config /etc/passwd\n');
  assert.equal((await call('GET', '/updater/status')).status, 503, 'an address curl would read as an option is refused');

  fs.rmSync(addressFile);
  assert.equal((await call('GET', '/updater/status')).text, UPDATER_503);
  const raw = (await rawRequest(srv.port, 'POST /ai-threads/run-prompt HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}')).toString();
  assert.match(raw, /^HTTP\/1\.1 503 Service Unavailable\r\nContent-Type: application\/json\r\n/);
});
