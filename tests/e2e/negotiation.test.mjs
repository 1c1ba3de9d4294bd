// What the server sends depends on what the client says it takes: gzip or the bytes as built
// (Accept-Encoding), a copy it already holds (If-None-Match), a page or JSON for a path nobody
// serves (Accept).
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import zlib from 'node:zlib';
import { BUILD, makeSandbox, rawRequest, startServer } from '../helpers/harness.mjs';

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

// One raw GET with the given header lines: status, lower-cased headers and the body's bytes.
async function get(target, headers = {}) {
  const lines = Object.entries(headers).map(([k, v]) => `${k}: ${v}\r\n`).join('');
  const raw = await rawRequest(srv.port, `GET ${target} HTTP/1.1\r\nHost: 127.0.0.1:${srv.port}\r\n${lines}\r\n`);
  const end = raw.indexOf('\r\n\r\n');
  const [statusLine, ...fields] = raw.subarray(0, end).toString('latin1').split('\r\n');
  const head = {};
  for (const f of fields) head[f.slice(0, f.indexOf(':')).toLowerCase()] = f.slice(f.indexOf(':') + 1).trim();
  return { status: Number(statusLine.split(' ')[1]), head, body: raw.subarray(end + 4) };
}

const BUILT = { '/': 'index.html', '/quick-actions': 'quick-actions.html', '/newbie-panel.js': 'newbie-panel.js' };

test('gzip goes to clients that take it, the bytes as built to the others', async () => {
  for (const [target, file] of Object.entries(BUILT)) {
    const built = fs.readFileSync(path.join(BUILD, 'web', file));
    for (const ae of [undefined, 'identity', 'gzip;q=0', 'gzip;q=0, *', 'br', 'GZIP;Q=0.000']) {
      const r = await get(target, ae === undefined ? {} : { 'Accept-Encoding': ae });
      assert.equal(r.status, 200, `${target} ${ae}`);
      assert.equal(r.head['content-encoding'], undefined, `${target} ${ae}`);
      assert.equal(r.head.vary, 'Accept-Encoding', `${target} ${ae}`);
      assert.ok(r.body.equals(built), `${target} ${ae}: identity bytes as built`);
    }
    for (const ae of ['gzip', 'gzip, deflate, br', 'br;q=1.0, gzip;q=0.8', '*', 'deflate, *;q=0.1']) {
      const r = await get(target, { 'Accept-Encoding': ae });
      assert.equal(r.head['content-encoding'], 'gzip', `${target} ${ae}`);
      assert.equal(r.head.vary, 'Accept-Encoding', `${target} ${ae}`);
      assert.equal(Number(r.head['content-length']), r.body.length);
      assert.ok(r.body.length < built.length, `${target}: compressed`);
      assert.ok(zlib.gunzipSync(r.body).equals(built), `${target} ${ae}: gunzips to the bytes as built`);
    }
  }
  // A page opened from another site is marked per request, so it goes out uncompressed.
  const foreign = await get('/', { 'Accept-Encoding': 'gzip', 'Sec-Fetch-Site': 'cross-site' });
  assert.equal(foreign.head['content-encoding'], undefined);
  assert.match(foreign.body.toString(), /<!doctype html>/i);
});

test('scripts and icons carry a strong ETag per representation and answer 304 to it', async () => {
  const plain = await get('/newbie-panel.js');
  const zipped = await get('/newbie-panel.js', { 'Accept-Encoding': 'gzip' });
  for (const r of [plain, zipped]) {
    assert.match(r.head.etag, /^"[0-9a-f]{32}"$/);
    assert.equal(r.head['cache-control'], 'no-cache');
  }
  assert.notEqual(plain.head.etag, zipped.head.etag);

  for (const [headers, tag] of [
    [{ 'If-None-Match': plain.head.etag }, plain.head.etag],
    [{ 'If-None-Match': `"other", W/${zipped.head.etag}`, 'Accept-Encoding': 'gzip' }, zipped.head.etag],
    [{ 'If-None-Match': '*' }, plain.head.etag],
  ]) {
    const r = await get('/newbie-panel.js', headers);
    assert.equal(r.status, 304, JSON.stringify(headers));
    assert.equal(r.body.length, 0);
    assert.equal(r.head.etag, tag);
    assert.equal(r.head['content-length'], undefined);
    assert.equal(r.head.vary, 'Accept-Encoding');
  }
  // The other representation's tag does not stand for this one.
  const crossed = await get('/newbie-panel.js', { 'If-None-Match': zipped.head.etag });
  assert.equal(crossed.status, 200);
  assert.ok(crossed.body.equals(plain.body));

  const png = await get('/favicon.png');
  assert.match(png.head.etag, /^"[0-9a-f]{32}"$/);
  assert.equal(png.head.vary, undefined);
  assert.equal((await get('/favicon.ico', { 'If-None-Match': png.head.etag })).status, 304);
  const svg = await get('/favicon.svg', { 'If-None-Match': '"stale"' });
  assert.equal(svg.status, 200);
  assert.match(svg.head.etag, /^"[0-9a-f]{32}"$/);
  // Pages are never kept, so they carry no validator.
  assert.equal((await get('/', { 'If-None-Match': '*' })).status, 200);
});

test('a browser asking for a missing page gets a page, every other client the JSON 404', async () => {
  const json = (await rawRequest(srv.port, 'GET /nope HTTP/1.1\r\n\r\n')).toString();
  for (const accept of ['*/*', 'application/json', 'application/json, text/html;q=0.9', 'text/html;q=0', 'text/*']) {
    const r = await rawRequest(srv.port, `GET /nope HTTP/1.1\r\nAccept: ${accept}\r\n\r\n`);
    assert.equal(r.toString(), json, accept);
  }
  assert.match(json, /^HTTP\/1\.1 404 Not Found\r\nContent-Type: application\/json\r\n/);

  const browser = 'text/html,application/xhtml+xml,application/xml;q=0.9,image/avif,image/webp,*/*;q=0.8';
  const r = await get('/%3Cscript%3Ealert(1)%3C/script%3E?q=<b>x</b>', { Accept: browser });
  assert.equal(r.status, 404);
  assert.equal(r.head['content-type'], 'text/html; charset=utf-8');
  const html = r.body.toString();
  assert.match(html, /^<!doctype html>\n<html lang="en">/);
  assert.equal(html.match(/<h1>/g).length, 1);
  assert.match(html, /<title>[^<]+<\/title>/);
  // Relative, so it leads home under a proxy's path prefix too: two slashes deep here, one for /nope.
  assert.match(html, /<a href="\.\.\/">Go to the dashboard<\/a>/);
  assert.match((await get('/nope', { Accept: browser })).body.toString(), /<a href="\.\/">Go to the dashboard<\/a>/);
  assert.doesNotMatch(html, /script|alert|<b>/i);
  const other = await get('/another/path', { Accept: browser });
  assert.ok(other.body.equals(r.body), 'the same bytes whatever was asked');

  // A gated route stays gated for a browser: refused, not turned into a page.
  const refused = await get('/api/status', { Accept: browser, Origin: 'http://evil.example', 'Sec-Fetch-Site': 'cross-site' });
  assert.equal(refused.status, 403);
  assert.equal(refused.head['content-type'], 'application/json');
});
