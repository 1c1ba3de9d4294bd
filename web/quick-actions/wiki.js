// Part pages on the wiki: references as the user types them, the page records, part sets and the
// owner's catalog.

import { errText, isNum, isObjectLike, lastSegment, str, timeoutSignal } from '../kit/values.js';

export function splitRefs(text) {
  return String(text || '').split(',')
    .map((s) => s.trim().replace(/^\/+|\/+$/g, '').trim())
    .filter(Boolean);
}

// "owner/slug" as a URL path; dot segments and empty segments are no page of the wiki.
export function refPath(ref) {
  return ref.split('/').map((seg) => {
    if (seg === '' || seg === '.' || seg === '..') throw new Error(ref + ' is not a wiki page reference');
    return encodeURIComponent(seg);
  }).join('/');
}

export const pageUrl = (ref, base) => base + '/' + refPath(ref);

export async function readPartPage(ref, base) {
  const api = base + '/api/v1/pages/' + refPath(ref);
  const filesUrl = api + '/files';
  let res;
  try {
    res = await fetch(filesUrl, { signal: timeoutSignal(15000) });
  } catch (e) {
    throw new Error(ref + ': ' + errText(e), { cause: e });
  }
  if (!res.ok) throw new Error(ref + ': wiki answered ' + res.status);
  let body;
  try { body = await res.json(); } catch { body = null; }
  const files = (isObjectLike(body) && Array.isArray(body.files) ? body.files : []).filter((f) => isObjectLike(f) && typeof f.name === 'string');
  const fileRec = (f) => ({ name: f.name, url: filesUrl + '/' + encodeURIComponent(f.name), size: isNum(f.size) ? f.size : 0 });
  const lbrs = files.filter((f) => /\.lbr$/i.test(f.name));
  const sym = files.find((f) => /\.kicad_sym$/i.test(f.name));
  const steps = files.filter((f) => /\.(step|stp)$/i.test(f.name));
  if (!lbrs.length) throw new Error(ref + ' publishes no .lbr');

  let page = {};
  try {
    const r = await fetch(api, { signal: timeoutSignal(15000) });
    if (r.ok) {
      const j = await r.json();
      page = isObjectLike(j) && isObjectLike(j.page) ? j.page : (isObjectLike(j) ? j : {});
    }
  } catch { page = {}; }

  let mpn = '';
  if (sym) {
    try {
      const r = await fetch(fileRec(sym).url, { signal: timeoutSignal(15000) });
      if (r.ok) {
        const m = /\(property "Value" "([^"]+)"/.exec(await r.text());
        if (m) mpn = m[1];
      }
    } catch { mpn = ''; }
  }

  let lastCommit = 0;
  for (const f of files) {
    const ts = isObjectLike(f.lastCommit) ? Number(f.lastCommit.timestamp) : NaN;
    if (Number.isFinite(ts) && ts > lastCommit) lastCommit = ts;
  }
  return {
    ref,
    name: lastSegment(ref),
    title: typeof page.title === 'string' ? page.title : '',
    brief: typeof page.brief === 'string' ? page.brief : '',
    mpn,
    lbr: fileRec(lbrs[0]),
    steps: steps.map(fileRec),
    lastCommit,
  };
}

// The zip entry of each model: its file name without any path, unique within the bundle
// (case-insensitively: the box may be Windows), so no model overwrites another on unpacking.
export function modelEntries(steps) {
  const seen = new Set();
  return steps.map((s, i) => {
    let name = String(s.name).split(/[\\/]/).pop();
    if (!name || /^\.+$/.test(name)) name = 'model-' + (i + 1) + '.step';
    const dot = name.lastIndexOf('.');
    const stem = dot > 0 ? name.slice(0, dot) : name;
    const ext = dot > 0 ? name.slice(dot) : '';
    let entry = name;
    for (let n = 2; seen.has(entry.toLowerCase()); n++) entry = stem + '-' + n + ext;
    seen.add(entry.toLowerCase());
    return Object.assign({}, s, { entry });
  });
}

export function partSetName(records) {
  return records.length > 1 ? 'ovra-multi-' + records.length + 'parts' : records[0].name;
}

export function buildPartSet(refs, records, skipModels) {
  const all = [];
  for (const r of records) all.push.apply(all, r.steps);
  return {
    refs: refs.slice(),
    parts: records,
    multi: records.length > 1,
    name: partSetName(records),
    lbr: records[0].lbr,
    steps: skipModels ? [] : modelEntries(all),
  };
}

export function parseCatalog(reply) {
  const pages = isObjectLike(reply) && Array.isArray(reply.pages) ? reply.pages : [];
  const list = pages.filter((p) => isObjectLike(p) && p.kind === 'component');
  const key = (p) => str(p.last_commit_at);
  list.sort((a, b) => (key(a) < key(b) ? 1 : key(a) > key(b) ? -1 : 0));
  const byRef = new Map();
  for (const p of list) byRef.set(str(p.owner) + '/' + str(p.slug), p);
  return { list, byRef };
}

export function drawChips(list, count, random) {
  const pool = list.slice(0, 120);
  const rnd = random || Math.random;
  const n = Math.min(count === undefined ? 6 : count, pool.length);
  for (let i = 0; i < n; i++) {
    const j = i + Math.floor(rnd() * (pool.length - i));
    const t = pool[i]; pool[i] = pool[j]; pool[j] = t;
  }
  return pool.slice(0, n);
}

// The references after clicking a chip: an active chip leaves, an inactive one joins (or starts
// a fresh list when the input isn't in multi-pick mode yet).
export function pickRefs(inputText, ref, wasActive, multi) {
  if (wasActive) return splitRefs(inputText).filter((r) => r !== ref);
  const list = multi ? splitRefs(inputText) : [];
  if (!list.includes(ref)) list.push(ref);
  return list;
}

export function formatDate(v) {
  if (v === null || v === undefined || v === '') return '';
  let d;
  if (typeof v === 'number') d = new Date(v);
  else if (typeof v === 'string') d = new Date(v.replace(' ', 'T'));
  else return str(v);
  if (isNaN(d.getTime())) return str(v);
  return d.toLocaleString(undefined, { year: 'numeric', month: 'short', day: 'numeric', hour: '2-digit', minute: '2-digit' });
}

export const stripYear = (s) => String(s).replace(/,? \d{4}/, '');
