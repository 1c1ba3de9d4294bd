#!/usr/bin/env node
// Stand-in for the parts wiki's page API, serving the fixture pages under fixtures/<owner>/<slug>/
// (page.json for the page record, files/ for what the page publishes).
//
//   node wiki.mjs [--port N] [--host 127.0.0.1] [--fixtures DIR]     (port also from WIKI_PORT)
//
// Test controls (never used by the page): POST /sim/fail {"pageList": 500, "page": {"owner/slug": 500},
// "files": {"owner/slug": 503}, "file": {"owner/slug/name": 404}} makes those requests fail;
// POST /sim/reset clears that;
// GET /sim/requests lists the paths requested so far.
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { cors, flag, listen, parseJson, portFrom, readBody, sendJson } from './http-util.mjs';

const argv = process.argv.slice(2);
const host = flag(argv, '--host') ?? '127.0.0.1';
const port = portFrom(argv, 'WIKI_PORT', 8990);
const root = path.resolve(flag(argv, '--fixtures') ?? path.join(path.dirname(fileURLToPath(import.meta.url)), 'fixtures'));

let failures = {};
const requests = [];

// A path segment is a plain name: no separators, no dot segments.
const plain = (s) => typeof s === 'string' && s !== '' && s !== '.' && s !== '..' && !/[\\/\0]/.test(s);

function pageDir(owner, slug) {
  if (!plain(owner) || !plain(slug)) return null;
  const dir = path.join(root, owner, slug);
  return fs.existsSync(path.join(dir, 'page.json')) ? dir : null;
}

function pageRecord(owner, slug) {
  const dir = pageDir(owner, slug);
  if (!dir) return null;
  const meta = JSON.parse(fs.readFileSync(path.join(dir, 'page.json'), 'utf8'));
  return { dir, meta, page: { owner, slug, ...meta.page } };
}

function allPages() {
  const out = [];
  for (const owner of fs.readdirSync(root).sort()) {
    const od = path.join(root, owner);
    if (!fs.statSync(od).isDirectory()) continue;
    for (const slug of fs.readdirSync(od).sort()) {
      const rec = pageRecord(owner, slug);
      if (rec) out.push(rec.page);
    }
  }
  return out;
}

function fileList(rec) {
  const fd = path.join(rec.dir, 'files');
  if (!fs.existsSync(fd)) return [];
  return fs.readdirSync(fd).sort().map((name) => ({
    name,
    size: fs.statSync(path.join(fd, name)).size,
    lastCommit: { timestamp: rec.meta.filesCommittedAt ?? 0, message: 'publish' },
  }));
}

const TYPES = { '.lbr': 'application/xml', '.kicad_sym': 'text/plain; charset=utf-8', '.step': 'model/step', '.stp': 'model/step', '.md': 'text/markdown; charset=utf-8' };

const escapeHtml = (s) => String(s).replace(/[&<>"']/g, (c) => `&#${c.charCodeAt(0)};`);

async function handle(req, res) {
  cors(res);
  const url = new URL(req.url, 'http://wiki.local');
  requests.push(`${req.method} ${url.pathname}${url.search}`);
  if (req.method === 'OPTIONS') { res.writeHead(204); res.end(); return; }

  if (url.pathname.startsWith('/sim/')) {
    if (req.method === 'GET' && url.pathname === '/sim/requests') return sendJson(res, 200, { requests });
    if (req.method === 'POST' && url.pathname === '/sim/fail') {
      failures = { ...failures, ...(parseJson(await readBody(req)) ?? {}) };
      return sendJson(res, 200, { ok: true, failures });
    }
    if (req.method === 'POST' && url.pathname === '/sim/reset') {
      failures = {};
      requests.length = 0;
      return sendJson(res, 200, { ok: true });
    }
    return sendJson(res, 404, { error: 'no such control' });
  }
  if (req.method !== 'GET') return sendJson(res, 405, { error: 'method not allowed' });

  let segs;
  try { segs = url.pathname.split('/').slice(1).map(decodeURIComponent); } catch { return sendJson(res, 400, { error: 'bad path' }); }

  if (segs.length === 3 && segs[0] === 'api' && segs[1] === 'v1' && segs[2] === 'pages') {
    if (failures.pageList) return sendJson(res, failures.pageList, { error: 'page list is down' });
    const owner = url.searchParams.get('owner');
    const limit = Math.max(0, Number(url.searchParams.get('limit') ?? 50) || 50);
    const pages = allPages().filter((p) => !owner || p.owner === owner).slice(0, limit);
    return sendJson(res, 200, { pages, total: pages.length });
  }
  if (segs.length >= 5 && segs[0] === 'api' && segs[1] === 'v1' && segs[2] === 'pages') {
    const [, , , owner, slug, what, name, ...rest] = segs;
    const ref = `${owner}/${slug}`;
    const rec = pageRecord(owner, slug);
    if (!rec) return sendJson(res, 404, { error: `no page ${ref}` });
    if (what === undefined) {
      const code = failures.page?.[ref];
      if (code) return sendJson(res, code, { error: 'page record is unavailable' });
      return sendJson(res, 200, { page: rec.page });
    }
    if (what === 'files' && name === undefined) {
      const code = failures.files?.[ref];
      if (code) return sendJson(res, code, { error: 'files are unavailable' });
      return sendJson(res, 200, { files: fileList(rec) });
    }
    if (what === 'files' && rest.length === 0 && plain(name)) {
      const code = failures.file?.[`${ref}/${name}`];
      if (code) return sendJson(res, code, { error: 'file is unavailable' });
      const file = path.join(rec.dir, 'files', name);
      if (!fs.existsSync(file)) return sendJson(res, 404, { error: `no file ${name}` });
      const body = fs.readFileSync(file);
      res.writeHead(200, { 'Content-Type': TYPES[path.extname(name).toLowerCase()] ?? 'application/octet-stream', 'Content-Length': body.length });
      res.end(body);
      return;
    }
    return sendJson(res, 404, { error: 'not found' });
  }
  // The human page of a part, linked from the quick-actions page.
  if (segs.length === 2) {
    const rec = pageRecord(segs[0], segs[1]);
    if (rec) {
      const body = Buffer.from(`<!doctype html><meta charset="utf-8"><title>${escapeHtml(rec.page.title)}</title><h1>${escapeHtml(rec.page.title)}</h1><p>${escapeHtml(rec.page.brief ?? '')}</p>`);
      res.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8', 'Content-Length': body.length });
      res.end(body);
      return;
    }
  }
  return sendJson(res, 404, { error: 'not found' });
}

const server = http.createServer((req, res) => {
  handle(req, res).catch((e) => { if (!res.headersSent) sendJson(res, 500, { error: String(e.message) }); else res.destroy(); });
});
listen(server, host, port, 'parts wiki stand-in');
