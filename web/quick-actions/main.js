// ---- Addresses ---------------------------------------------------------------------------
// The listener is always on the loopback address; ?bridgePorts=FIRST-LAST and ?wiki=URL
// point the page elsewhere (stand-ins, a staging wiki).
const BRIDGE_HOST = '127.0.0.1';
const DEFAULT_WIKI = 'https://wiki.ovra.dev';
const OWNER = 'sefa';
const CHUNK_BYTES = 1048576;
const LOG_KEEP = 1000;

function portRange(text) {
  const m = /^(\d{1,5})-(\d{1,5})$/.exec(text || '');
  if (m) {
    const first = Number(m[1]);
    const last = Number(m[2]);
    if (first >= 1 && last <= 65535 && last >= first && last - first < 64) return { first, last };
  }
  return { first: 24680, last: 24689 };
}

function wikiBase(text) {
  if (text) {
    try {
      const u = new URL(text);
      if (u.protocol === 'http:' || u.protocol === 'https:') return (u.origin + u.pathname).replace(/\/+$/, '');
    } catch (e) { /* an unusable override falls back to the real wiki */ }
  }
  return DEFAULT_WIKI;
}

const params = new URLSearchParams(location.search);
const PORTS = portRange(params.get('bridgePorts'));
const WIKI = wikiBase(params.get('wiki'));
const PORT_TEXT = PORTS.first + '-' + PORTS.last;

// ---- Plain helpers -----------------------------------------------------------------------
const utf8 = (s) => new TextEncoder().encode(s);

// Untrusted values become display text: strings as they are, anything else as JSON.
function str(v) {
  if (v === null || v === undefined) return '';
  if (typeof v === 'string') return v;
  if (typeof v === 'number' || typeof v === 'boolean') return String(v);
  try { return JSON.stringify(v); } catch (e) { return String(v); }
}
const isObj = (v) => v !== null && typeof v === 'object';
const has = (o, k) => isObj(o) && Object.prototype.hasOwnProperty.call(o, k);
const isNum = (v) => typeof v === 'number' && Number.isFinite(v);
const errText = (e) => (e && e.message) ? String(e.message) : str(e);

function firstPresent() {
  for (const v of arguments) if (v !== null && v !== undefined && v !== '') return str(v);
  return '';
}

function timeoutSignal(ms) {
  return (typeof AbortSignal !== 'undefined' && AbortSignal.timeout) ? AbortSignal.timeout(ms) : undefined;
}

const safeName = (s) => String(s).replace(/[^A-Za-z0-9._-]+/g, '_');
const lastSegment = (ref) => { const parts = String(ref).split('/'); return parts[parts.length - 1]; };

function toBase64(bytes) {
  let s = '';
  for (let i = 0; i < bytes.length; i += 0x8000) s += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
  return btoa(s);
}

// ---- CRC-32 and the stored zip bundle ----------------------------------------------------
const CRC_TABLE = (function () {
  const t = new Uint32Array(256);
  for (let n = 0; n < 256; n++) {
    let c = n;
    for (let k = 0; k < 8; k++) c = (c & 1) ? (0xEDB88320 ^ (c >>> 1)) : (c >>> 1);
    t[n] = c >>> 0;
  }
  return t;
})();

function crc32(data) {
  const bytes = typeof data === 'string' ? utf8(data) : data;
  let c = 0xFFFFFFFF;
  for (let i = 0; i < bytes.length; i++) c = CRC_TABLE[(c ^ bytes[i]) & 0xFF] ^ (c >>> 8);
  return (c ^ 0xFFFFFFFF) >>> 0;
}

// entries: [{name, data: Uint8Array or string}] -> the archive bytes, no compression.
function makeZip(entries) {
  const files = entries.map((e) => {
    const name = utf8(String(e.name));
    const data = e.data instanceof Uint8Array ? e.data : utf8(String(e.data));
    // Names outside ASCII carry the UTF-8 flag, or unzip tools would read them as code page 437.
    const ascii = name.every((b) => b < 0x80);
    return { name, data, crc: crc32(data), flags: ascii ? 0 : 0x0800, offset: 0 };
  });
  let dataSize = 0;
  let dirSize = 0;
  for (const f of files) { dataSize += 30 + f.name.length + f.data.length; dirSize += 46 + f.name.length; }
  if (files.length > 0xFFFF || dataSize + dirSize + 22 > 0xFFFFFFFF) throw new Error('the bundle is too large for a zip archive');
  const out = new Uint8Array(dataSize + dirSize + 22);
  const dv = new DataView(out.buffer);
  let p = 0;
  for (const f of files) {
    f.offset = p;
    dv.setUint32(p, 0x04034b50, true);
    dv.setUint16(p + 4, 20, true);
    dv.setUint16(p + 6, f.flags, true);
    dv.setUint16(p + 8, 0, true);
    dv.setUint16(p + 10, 0, true);
    dv.setUint16(p + 12, 0x21, true);
    dv.setUint32(p + 14, f.crc, true);
    dv.setUint32(p + 18, f.data.length, true);
    dv.setUint32(p + 22, f.data.length, true);
    dv.setUint16(p + 26, f.name.length, true);
    dv.setUint16(p + 28, 0, true);
    out.set(f.name, p + 30);
    out.set(f.data, p + 30 + f.name.length);
    p += 30 + f.name.length + f.data.length;
  }
  const dirOffset = p;
  for (const f of files) {
    dv.setUint32(p, 0x02014b50, true);
    dv.setUint16(p + 4, 20, true);
    dv.setUint16(p + 6, 20, true);
    dv.setUint16(p + 8, f.flags, true);
    dv.setUint16(p + 10, 0, true);
    dv.setUint16(p + 12, 0, true);
    dv.setUint16(p + 14, 0x21, true);
    dv.setUint32(p + 16, f.crc, true);
    dv.setUint32(p + 20, f.data.length, true);
    dv.setUint32(p + 24, f.data.length, true);
    dv.setUint16(p + 28, f.name.length, true);
    dv.setUint16(p + 30, 0, true);
    dv.setUint16(p + 32, 0, true);
    dv.setUint16(p + 34, 0, true);
    dv.setUint16(p + 36, 0, true);
    dv.setUint32(p + 38, 0, true);
    dv.setUint32(p + 42, f.offset, true);
    out.set(f.name, p + 46);
    p += 46 + f.name.length;
  }
  dv.setUint32(p, 0x06054b50, true);
  dv.setUint16(p + 4, 0, true);
  dv.setUint16(p + 6, 0, true);
  dv.setUint16(p + 8, files.length, true);
  dv.setUint16(p + 10, files.length, true);
  dv.setUint32(p + 12, p - dirOffset, true);
  dv.setUint32(p + 16, dirOffset, true);
  dv.setUint16(p + 20, 0, true);
  return out;
}

// ---- Library fix-ups ---------------------------------------------------------------------
const GENERIC_NAME = /^(L|R|C|D|LED|Q|Y|X|F|FB|J|Conn_\d+x\d+.*|Crystal(_\w+)?|Resistor|Capacitor|Inductor)$/i;
const GENERIC_DESCRIPTION = /^(inductor|resistor|capacitor|unpolarized capacitor|polarized capacitor|light emitting diode|led|diode|generic connector.*|four pin crystal.*|crystal|two pin crystal.*|fuse|ferrite bead|transistor.*|mosfet.*)$/i;

const XML_DECLARATION = '<?xml version="1.0" encoding="utf-8"?>\n';

function parseXml(text) {
  const doc = new DOMParser().parseFromString(text, 'application/xml');
  if (doc.getElementsByTagName('parsererror').length) throw new Error('not well-formed XML');
  return doc;
}

function serializeXml(doc, original) {
  const text = new XMLSerializer().serializeToString(doc);
  // The serializer drops the declaration; keep the file announcing itself as UTF-8 XML.
  return /^\s*<\?xml/.test(original) && !/^\s*<\?xml/.test(text) ? XML_DECLARATION + text : text;
}

const childrenNamed = (el, name) => el ? Array.from(el.children).filter((c) => c.localName === name) : [];
const childNamed = (el, name) => childrenNamed(el, name)[0] || null;
const makeEl = (doc, near, name) => doc.createElementNS(near.namespaceURI, name);

function findLibrary(doc) {
  const drawing = childNamed(doc.documentElement, 'drawing');
  return childNamed(drawing, 'library') || doc.getElementsByTagName('library')[0] || null;
}

// Repairs a fetched library's metadata from its wiki page record; `fills` receives what changed.
function fillLibrary(text, record, fills) {
  if (!record || (!record.brief && !record.title)) return text;
  const found = [];
  try {
    const doc = parseXml(text);
    let changed = false;
    let mpn = String(record.mpn || '').trim();
    if (!mpn || GENERIC_NAME.test(mpn)) mpn = lastSegment(record.ref).toUpperCase();
    const library = findLibrary(doc);
    const devicesets = childrenNamed(childNamed(library, 'devicesets'), 'deviceset');
    const taken = new Set(devicesets.map((d) => d.getAttribute('name') || ''));
    for (const ds of devicesets) {
      let name = ds.getAttribute('name') || '';
      if (GENERIC_NAME.test(name)) {
        const renamed = safeName(mpn);
        // Two generic devicesets of one library must not end up with the same name.
        if (!taken.has(renamed)) {
          ds.setAttribute('name', renamed);
          taken.delete(name);
          taken.add(renamed);
          found.push({ deviceset: name, field: 'name -> ' + renamed, from: record.ref });
          name = renamed;
          changed = true;
        }
      }
      let desc = childNamed(ds, 'description');
      const descText = desc ? desc.textContent.trim() : '';
      if ((!desc || !descText || GENERIC_DESCRIPTION.test(descText)) && record.brief) {
        if (!desc) {
          desc = makeEl(doc, ds, 'description');
          ds.insertBefore(desc, ds.firstChild);
        }
        desc.textContent = record.brief;
        found.push({ deviceset: name, field: 'description', from: record.ref });
        changed = true;
      }
      let addedMpn = false;
      for (const device of childrenNamed(childNamed(ds, 'devices'), 'device')) {
        let techs = childNamed(device, 'technologies');
        let list = childrenNamed(techs, 'technology');
        if (!list.length) {
          if (!techs) { techs = makeEl(doc, device, 'technologies'); device.appendChild(techs); }
          const tech = makeEl(doc, techs, 'technology');
          tech.setAttribute('name', '');
          techs.appendChild(tech);
          list = [tech];
          changed = true;
        }
        for (const tech of list) {
          const hasMpn = childrenNamed(tech, 'attribute').some((a) =>
            (a.getAttribute('name') || '').toUpperCase() === 'MPN' && (a.getAttribute('value') || '').trim() !== '');
          if (hasMpn) continue;
          const attr = makeEl(doc, tech, 'attribute');
          attr.setAttribute('name', 'MPN');
          attr.setAttribute('value', mpn);
          attr.setAttribute('constant', 'no');
          tech.appendChild(attr);
          addedMpn = true;
          changed = true;
        }
      }
      if (addedMpn) found.push({ deviceset: name, field: 'MPN', from: record.ref });
    }
    if (!changed) return text;
    const out = serializeXml(doc, text);
    if (Array.isArray(fills)) fills.push.apply(fills, found);
    return out;
  } catch (e) {
    return text;
  }
}

const MERGED_SECTIONS = ['packages', 'symbols', 'devicesets'];

function sectionOf(doc, library, name) {
  let sec = childNamed(library, name);
  if (!sec) { sec = makeEl(doc, library, name); library.appendChild(sec); }
  return sec;
}

// Merges libraries into the first; the first library to bring a name wins. A library that is
// not well-formed XML can't be merged: it is left out and reported through onSkip(index).
function mergeLibraries(texts, onSkip) {
  if (texts.length === 1) return texts[0];
  const parsed = texts.map((t, i) => {
    try {
      const doc = parseXml(t);
      const library = findLibrary(doc);
      if (!library) throw new Error('no library element');
      return { doc, library, text: t };
    } catch (e) {
      if (onSkip) onSkip(i, e);
      return null;
    }
  });
  const usable = parsed.filter(Boolean);
  if (!usable.length) return texts[0];
  const base = usable[0];
  const sections = {};
  const names = {};
  for (const kind of MERGED_SECTIONS) {
    sections[kind] = sectionOf(base.doc, base.library, kind);
    names[kind] = new Set(Array.from(sections[kind].children).map((c) => c.getAttribute('name')));
  }
  let packages3d = childNamed(base.library, 'packages3d');
  for (const other of usable.slice(1)) {
    for (const kind of MERGED_SECTIONS) {
      for (const child of Array.from(childNamed(other.library, kind) ? childNamed(other.library, kind).children : [])) {
        const name = child.getAttribute('name');
        if (names[kind].has(name)) continue;
        names[kind].add(name);
        sections[kind].appendChild(base.doc.importNode(child, true));
      }
    }
    const their3d = childNamed(other.library, 'packages3d');
    if (their3d) {
      if (!packages3d) packages3d = sectionOf(base.doc, base.library, 'packages3d');
      for (const child of Array.from(their3d.children)) packages3d.appendChild(base.doc.importNode(child, true));
    }
  }
  return serializeXml(base.doc, base.text);
}

// ---- Part references, records and sets ---------------------------------------------------
function splitRefs(text) {
  return String(text || '').split(',')
    .map((s) => s.trim().replace(/^\/+|\/+$/g, '').trim())
    .filter(Boolean);
}

// "owner/slug" as a URL path; dot segments and empty segments are no page of the wiki.
function refPath(ref) {
  return ref.split('/').map((seg) => {
    if (seg === '' || seg === '.' || seg === '..') throw new Error(ref + ' is not a wiki page reference');
    return encodeURIComponent(seg);
  }).join('/');
}

const pageUrl = (ref, base) => (base || WIKI) + '/' + refPath(ref);

async function readPartPage(ref, base) {
  const api = (base || WIKI) + '/api/v1/pages/' + refPath(ref);
  const filesUrl = api + '/files';
  let res;
  try {
    res = await fetch(filesUrl, { signal: timeoutSignal(15000) });
  } catch (e) {
    throw new Error(ref + ': ' + errText(e));
  }
  if (!res.ok) throw new Error(ref + ': wiki answered ' + res.status);
  let body = null;
  try { body = await res.json(); } catch (e) { body = null; }
  const files = (isObj(body) && Array.isArray(body.files) ? body.files : []).filter((f) => isObj(f) && typeof f.name === 'string');
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
      page = isObj(j) && isObj(j.page) ? j.page : (isObj(j) ? j : {});
    }
  } catch (e) { page = {}; }

  let mpn = '';
  if (sym) {
    try {
      const r = await fetch(fileRec(sym).url, { signal: timeoutSignal(15000) });
      if (r.ok) {
        const m = /\(property "Value" "([^"]+)"/.exec(await r.text());
        if (m) mpn = m[1];
      }
    } catch (e) { mpn = ''; }
  }

  let lastCommit = 0;
  for (const f of files) {
    const ts = isObj(f.lastCommit) ? Number(f.lastCommit.timestamp) : NaN;
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
function modelEntries(steps) {
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

function partSetName(records) {
  return records.length > 1 ? 'ovra-multi-' + records.length + 'parts' : records[0].name;
}

function buildPartSet(refs, records, skipModels) {
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

// ---- Owner catalog and chips -------------------------------------------------------------
function parseCatalog(reply) {
  const pages = isObj(reply) && Array.isArray(reply.pages) ? reply.pages : [];
  const list = pages.filter((p) => isObj(p) && p.kind === 'component');
  const key = (p) => str(p.last_commit_at);
  list.sort((a, b) => (key(a) < key(b) ? 1 : key(a) > key(b) ? -1 : 0));
  const byRef = new Map();
  for (const p of list) byRef.set(str(p.owner) + '/' + str(p.slug), p);
  return { list, byRef };
}

function drawChips(list, count, random) {
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
function pickRefs(inputText, ref, wasActive, multi) {
  if (wasActive) return splitRefs(inputText).filter((r) => r !== ref);
  const list = multi ? splitRefs(inputText) : [];
  if (!list.includes(ref)) list.push(ref);
  return list;
}

function formatDate(v) {
  if (v === null || v === undefined || v === '') return '';
  let d;
  if (typeof v === 'number') d = new Date(v);
  else if (typeof v === 'string') d = new Date(v.replace(' ', 'T'));
  else return str(v);
  if (isNaN(d.getTime())) return str(v);
  return d.toLocaleString(undefined, { year: 'numeric', month: 'short', day: 'numeric', hour: '2-digit', minute: '2-digit' });
}

const stripYear = (s) => String(s).replace(/,? \d{4}/, '');

// ---- Listener replies --------------------------------------------------------------------
const SUMMARY_KEYS = ['success', 'ok', 'errorCode', 'error', 'stage', 'percent', 'runId', 'installed', 'partsToBind',
  'healthy', 'captured', 'tick', 'running', 'status', 'verdict', 'evidenceCount'];

function isEmpty(v) {
  if (v === null || v === undefined || v === '') return true;
  if (Array.isArray(v)) return v.length === 0;
  return isObj(v) && Object.keys(v).length === 0;
}

function summarize(v) {
  if (!isObj(v)) return str(v);
  const out = [];
  for (const k of SUMMARY_KEYS) {
    if (has(v, k) && !isEmpty(v[k])) out.push(k + '=' + str(JSON.stringify(v[k])).slice(0, 60));
  }
  return out.length ? out.join(' ') : Object.keys(v).slice(0, 6).join(',');
}

function readReply(status, text) {
  let reply;
  try { reply = JSON.parse(text); } catch (e) { reply = {}; }
  if (!isObj(reply)) reply = {};
  const payload = isObj(reply.data) ? reply.data : reply;
  const ok = status === 200 && reply.success !== false && payload.success !== false && !reply.errorCode;
  if (ok) return { ok, reply, payload };
  return {
    ok, reply, payload,
    message: firstPresent(payload.error, reply.error, reply.errorCode, payload.errorCode) || ('HTTP ' + status),
    code: firstPresent(reply.errorCode, payload.errorCode) || (status === 403 ? 'web_denied' : ''),
  };
}

const resultOf = (p) => (isObj(p) && isObj(p.result) && !Array.isArray(p.result) ? p.result : (isObj(p) ? p : {}));

// A failed poll of a run: 'not_filed' (the bridge has not written the run yet), 'transient'
// (worth another try) or 'fatal'.
function pollFailureKind(err) {
  const msg = errText(err);
  const code = err && err.code ? String(err.code) : '';
  if (code === 'run_not_found' || code === 'unknown_run_id' || /no prove run/i.test(msg)) return 'not_filed';
  if (code === 'unreachable' || code === 'main_thread_busy' || (err && err.status >= 500)) return 'transient';
  if (/error sending request|unreachable|HTTP 0|HTTP 5\d\d|timed out|main_thread_busy/i.test(msg)) return 'transient';
  return 'fatal';
}

// The part-number lint of an install receipt or a finished run.
function lintText(meta) {
  if (!isObj(meta)) return null;
  if (meta.ok !== false) return { ok: true, text: 'every component carries a manufacturer part number and a distributor number.' };
  const num = (v) => (isNum(Number(v)) ? Number(v) : 0);
  const missing = isObj(meta.missingCounts) ? meta.missingCounts : {};
  const noDistributor = num(meta.componentsWithoutAnyDistributor);
  const total = isNum(meta.componentsTotal) ? meta.componentsTotal : (isNum(meta.variantsTotal) ? meta.variantsTotal : null);
  let n = Math.max(noDistributor, num(missing.MPN), num(missing.MANUFACTURER), num(missing.MOUSER_PN), num(missing.DIGIKEY_PN), num(missing.LCSC_PN));
  if (!n && total !== null) n = total;
  const items = [];
  if (num(missing.MPN)) items.push('manufacturer part number');
  if (num(missing.MANUFACTURER)) items.push('manufacturer');
  if (noDistributor) items.push('a distributor number (Mouser, DigiKey or LCSC)');
  const head = total !== null ? n + ' of ' + total + ' component' + (total === 1 ? '' : 's') + ' missing ' : 'missing ';
  return { ok: false, text: head + (items.length ? items.join(', ') : 'part numbers') + '. The import is fine; the BOM will be blank for it until the numbers are added upstream.' };
}

// The verb list of a fusion_describe payload.
function catalogEntries(payload) {
  let found = null;
  for (const k of ['verbs', 'commands', 'catalog']) if (has(payload, k) && isObj(payload[k])) { found = payload[k]; break; }
  if (!found && Array.isArray(payload)) found = payload;
  if (!found) return [];
  const entry = (v, key) => {
    const o = isObj(v) ? v : {};
    return {
      name: firstPresent(o.name, o.verb, key, isObj(v) ? '' : v),
      description: firstPresent(o.description, o.desc, o.summary, key !== undefined && !isObj(v) ? v : ''),
    };
  };
  if (Array.isArray(found)) return found.map((v) => entry(v));
  // An object of verbs: its own fusion_ members (and the payload's) are the verbs.
  const out = [];
  const seen = new Set();
  for (const src of [found, payload]) {
    for (const key of Object.keys(src)) {
      if (!key.startsWith('fusion_') || seen.has(key)) continue;
      seen.add(key);
      out.push(entry(src[key], key));
    }
  }
  return out;
}

// Sends a bundle in 1 MiB chunks (at least one, the last marked final); resolves with the
// staged path. send(args) performs one write_file_chunk and resolves with its payload.
async function stageBundle(bytes, path, send, onChunk) {
  const total = Math.max(1, Math.ceil(bytes.length / CHUNK_BYTES));
  let offset = 0;
  for (let n = 1; ; n++) {
    const end = Math.min(bytes.length, offset + CHUNK_BYTES);
    const final = end >= bytes.length;
    if (onChunk) onChunk(n, total);
    const reply = await send({ path, dataB64: toBase64(bytes.subarray(offset, end)), offset, final, createDirs: true });
    if (final) {
      // The last write must leave the whole bundle on the box: a short one would install a
      // truncated library. The reply's next offset is the file's length; without one, a byte
      // count may be the file's or this write's, and either must come out whole.
      const r = isObj(reply) ? reply : {};
      const short = typeof r.nextOffset === 'number' ? r.nextOffset !== bytes.length
        : typeof r.bytes === 'number' ? r.bytes !== bytes.length && r.bytes !== end - offset : false;
      if (short) {
        const said = typeof r.nextOffset === 'number' ? 'nextOffset ' + r.nextOffset : 'bytes ' + r.bytes;
        throw new Error('the bundle was not staged whole: the bridge answered its last chunk with ' + said + ' for a ' +
          bytes.length + '-byte bundle at ' + path + ', so nothing was installed. Press the button to try again.');
      }
      return isObj(reply) && typeof reply.path === 'string' && reply.path ? reply.path : path;
    }
    const next = isObj(reply) && typeof reply.nextOffset === 'number' ? reply.nextOffset : end;
    // A next offset that doesn't move forward would send the same bytes for ever.
    if (!(next > offset && next <= bytes.length)) throw new Error('the bridge answered an unusable next offset (' + next + ') for the chunk at ' + offset);
    offset = next;
  }
}

// ---- DOM helpers -------------------------------------------------------------------------
const $ = (id) => document.getElementById(id);

function h(tag, props) {
  const e = document.createElement(tag);
  if (props) {
    for (const k of Object.keys(props)) {
      const v = props[k];
      if (v === undefined || v === null || v === false) continue;
      if (k === 'class') e.className = v;
      else if (k === 'text') e.textContent = v;
      else if (k === 'onclick') e.addEventListener('click', v);
      else e.setAttribute(k, v === true ? '' : String(v));
    }
  }
  for (let i = 2; i < arguments.length; i++) {
    const kid = arguments[i];
    for (const k of [].concat(kid)) if (k !== null && k !== undefined && k !== false) e.append(k instanceof Node ? k : String(k));
  }
  return e;
}
const b = (text) => h('b', { text });

function setStatus(el, text, kind) {
  el.textContent = text;
  el.className = 'st' + (kind ? ' ' + kind : '');
}

function renderKv(el, rows) {
  el.replaceChildren();
  for (const row of rows) {
    if (!row) continue;
    el.append(h('dt', { text: row[0] }), h('dd', { class: row[2] }, row[1] instanceof Node ? row[1] : (str(row[1]) || '-')));
  }
}

function toast(message, kind) {
  const t = h('div', { class: 'toast' + (kind ? ' ' + kind : ''), role: kind === 'err' ? 'alert' : 'status', text: message });
  $('toasts').append(t);
  setTimeout(() => t.remove(), kind === 'err' ? 7000 : 4000);
  return t;
}

// ---- Verb log ----------------------------------------------------------------------------
let callCount = 0;

function setCallCount(n) {
  callCount = n;
  $('logCount').textContent = n + (n === 1 ? ' call' : ' calls');
}

function addLog(line, hint) {
  const log = $('log');
  if (hint) log.prepend(h('div', { class: 'line hint', text: '   hint: ' + hint.slice(0, 200) }));
  log.prepend(line);
  // Long imports tick the live feed every 1.5 s; the oldest lines go so the page stays light.
  while (log.childElementCount > LOG_KEEP) log.lastElementChild.remove();
  setCallCount(callCount + 1);
}

function logCall(command, preview, ok, ms, summary, hint) {
  addLog(h('div', { class: 'line' },
    h('span', { class: 't', text: new Date().toLocaleTimeString() }),
    h('span', { class: 'acc', text: command }),
    h('span', { text: preview.slice(0, 220) }),
    h('span', { class: ok ? 'ok' : 'err', text: ok ? 'ok' : 'FAIL' }),
    h('span', { class: 't', text: ms + 'ms' }),
    h('span', { text: summary })), hint);
}

// ---- Listener: probe and commands --------------------------------------------------------
let bridge = null;

async function probeOne(port) {
  try {
    const res = await fetch('http://' + BRIDGE_HOST + ':' + port + '/status', { cache: 'no-store', signal: timeoutSignal(1500) });
    if (!res.ok) return null;
    const body = await res.json();
    return isObj(body) && body.service === 'ovra-bridge' ? { host: BRIDGE_HOST, port, status: body } : null;
  } catch (e) {
    return null;
  }
}

// All ports at once; the lowest port that is the bridge wins, whichever answered first.
async function probe() {
  const ports = [];
  for (let p = PORTS.first; p <= PORTS.last; p++) ports.push(p);
  const found = await Promise.all(ports.map(probeOne));
  return found.find(Boolean) || null;
}

async function cmd(command, args, options) {
  if (!bridge) throw new Error('not connected');
  const body = JSON.stringify({ command, args: args || {} });
  const preview = body.length > 300 ? body.slice(0, 300) + '...' : body;
  const started = performance.now();
  let res;
  let text;
  try {
    res = await fetch('http://' + bridge.host + ':' + bridge.port + '/command', {
      method: 'POST', headers: { 'Content-Type': 'application/json' }, body,
      signal: timeoutSignal((options && options.timeoutMs) || 135000),
    });
    text = await res.text();
  } catch (e) {
    addLog(h('div', { class: 'line' },
      h('span', { class: 't', text: new Date().toLocaleTimeString() }),
      h('span', { class: 'acc', text: command }),
      h('span', { class: 'err', text: 'unreachable: ' + errText(e) })));
    const err = new Error(errText(e));
    err.code = 'unreachable';
    throw err;
  }
  const r = readReply(res.status, text);
  const hint = has(r.reply, '_hint') && !isEmpty(r.reply._hint) ? str(r.reply._hint) : '';
  const summaryOf = has(r.payload, 'result') && r.payload.result !== null ? r.payload.result : r.payload;
  logCall(command, preview, r.ok, Math.round(performance.now() - started), summarize(summaryOf), hint);
  if (r.ok) return r.payload;
  const err = new Error(r.message);
  if (r.code) err.code = r.code;
  err.payload = r.payload;
  err.status = res.status;
  throw err;
}

// The message of a failed command, with how to allow the page when the user was not asked in time.
function failText(e) {
  const m = errText(e);
  return e && e.code === 'web_denied' ? m + ' (allow this page in Ovra Bridge: click Allow (1 hr) in its toast, or grant it in vb Settings > Web Control)' : m;
}

const granted = () => !!(bridge && isObj(bridge.status.webControl) && bridge.status.webControl.grantedForYou === true);

function machineName(status) {
  const m = status.machine;
  if (isObj(m)) return firstPresent(m.clientName, m.hostname) || 'this machine';
  return typeof m === 'string' && m ? m : 'this machine';
}

function showBridge() {
  const st = bridge.status;
  const wc = isObj(st.webControl) ? st.webControl : {};
  const name = machineName(st);
  const version = firstPresent(st.version) || '?';
  $('led').className = 'led ' + (wc.enabled ? 'green' : 'amber');
  $('conn').textContent = name + ' :' + bridge.port;
  $('meta').textContent = 'vb ' + version + ' · web control ' + (wc.enabled ? 'on' : 'OFF') +
    (wc.grantedForYou ? ' · this page is granted' : (wc.promptExpected ? ' · vb will ask you per command' : ''));
  $('bpAb').textContent = version + ' on ' + name;
  setStatus($('connStatus'), wc.enabled ? 'connected, web control enabled' : 'connected, web control is OFF in vb Settings', wc.enabled ? 'ok' : 'warn');
  $('connNote').textContent = '';
  renderKv($('connKv'), [
    ['machine', name],
    ['vb version', version],
    ['endpoint', 'http://' + bridge.host + ':' + bridge.port],
    ['web control', wc.enabled ? 'enabled' : 'disabled'],
    ['this page', wc.grantedForYou ? 'granted (no prompts)' : (wc.promptExpected ? 'vb asks you once per command (Allow once / Allow 1 hr / Deny)' : 'unknown')],
    ['handshake required', wc.requireHandshake ? 'yes' : 'no'],
  ]);
  $('btnConnect').textContent = 'Reconnect';
  return name;
}

async function connect() {
  setStatus($('connStatus'), 'probing ' + BRIDGE_HOST + ':' + PORT_TEXT + '...');
  $('connNote').textContent = 'allow local network access if your browser asks';
  $('led').className = 'led';
  const found = await probe();
  if (!found) {
    bridge = null;
    setStatus($('connStatus'), 'Ovra Bridge not detected', 'err');
    $('connNote').textContent = '';
    $('led').className = 'led red';
    $('conn').textContent = 'not connected';
    $('meta').textContent = 'is Ovra Bridge running?';
    renderKv($('connKv'), []);
    toast('Ovra Bridge not found on ' + PORT_TEXT + '. Is vb running on this machine?', 'err');
    return null;
  }
  bridge = found;
  const name = showBridge();
  toast('Connected to Ovra Bridge on ' + name, 'ok');
  return { port: found.port, status: found.status };
}

// ---- Fusion state ------------------------------------------------------------------------
async function readFusion() {
  const status = $('fusionStatus');
  setStatus(status, 'reading...');
  try {
    const r = await cmd('fusion_readiness', {});
    const yn = (v) => (v ? 'yes' : 'no');
    const rows = [['installed', yn(r.installed)], ['running', yn(r.running)], ['ready', yn(r.ready)], ['bridge', firstPresent(r.bridgeVersion) || '?']];
    if (r.needsSignin) rows.push(['needs sign-in', 'yes']);
    renderKv($('fusionKv'), rows);
    if (r.ready) setStatus(status, 'ready', 'ok');
    else setStatus(status, r.running ? 'running, add-in not ready' : (r.installed ? 'installed, not running' : 'not installed'), 'warn');
    const app = await cmd('fusion_get_app_state', {});
    const docs = Array.isArray(app.documents) ? app.documents.filter(isObj) : [];
    $('docList').replaceChildren(...(docs.length ? docs.map((d) => h('li', null,
      h('span', null, str(d.name), (d.isModified || d.modified) ? h('span', { class: 'warn', text: ' unsaved' }) : null),
      d.isActive ? h('span', { class: 'acc', text: 'active' }) : null)) : [h('li', { class: 'note', text: 'no documents open' })]));
  } catch (e) {
    setStatus(status, errText(e), 'err');
    toast(failText(e), 'err');
  }
}

// ---- Part card ---------------------------------------------------------------------------
let part = null;
let skipModel = false;
let multiPick = false;
let resolveSeq = 0;
let owners = null;
let ownersLoad = null;

function loadCatalog() {
  if (!ownersLoad) {
    ownersLoad = (async () => {
      const res = await fetch(WIKI + '/api/v1/pages?owner=' + OWNER + '&limit=500', { signal: timeoutSignal(15000) });
      if (!res.ok) throw new Error('wiki answered ' + res.status);
      owners = parseCatalog(await res.json());
      return owners;
    })();
    // A failed list may be tried again by the next Shuffle.
    ownersLoad.catch(() => { ownersLoad = null; });
  }
  return ownersLoad;
}

function describeSet(set, record) {
  const rows = [];
  if (set.multi) {
    rows.push(['library', set.name + ' (merged from ' + set.parts.length + ' pages)']);
    set.parts.forEach((p, i) => {
      const c = owners && owners.byRef.get(p.ref);
      rows.push(['part ' + (i + 1), p.ref + (c ? ' · published ' + formatDate(c.last_commit_at || c.updated_at) : '') + ' · ' +
        p.lbr.name + (p.steps.length ? ' + ' + p.steps[0].name : ' (no model)')]);
    });
  } else {
    const p = set.parts[0];
    const link = h('a', { href: pageUrl(p.ref), target: '_blank', rel: 'noopener noreferrer', text: pageUrl(p.ref) });
    rows.push(['page', link]);
    const c = record || (owners && owners.byRef.get(p.ref));
    if (c) {
      const brief = str(c.brief);
      rows.push(['title', str(c.title) + (brief ? ' - ' + brief.slice(0, 90) : '')]);
      rows.push(['version', str(c.version)]);
      rows.push(['published', formatDate(c.last_commit_at || c.updated_at) + (c.created_at ? ' (page created ' + formatDate(c.created_at) + ')' : '')]);
    } else if (p.lastCommit) {
      rows.push(['files published', formatDate(p.lastCommit * 1000)]);
    }
    rows.push(['library', p.lbr.name + ' (' + p.lbr.size + ' B)']);
  }
  if (skipModel) rows.push(['models', 'SKIPPED by the switch above: the library will install unbound']);
  else if (!set.multi) rows.push(['models', set.steps.length ? set.steps.map((s) => s.name + ' (' + s.size + ' B)').join(', ') : 'none']);
  renderKv($('partKv'), rows);
}

function forgetPart() {
  part = null;
  $('btnImport').disabled = true;
}

async function resolvePart(text, record) {
  const input = $('partRef');
  if (text !== undefined) input.value = String(text);
  const refs = splitRefs(input.value);
  const seq = ++resolveSeq;
  if (!refs.length) {
    // An emptied input must not leave the previous part ready to import.
    forgetPart();
    renderKv($('partKv'), []);
    setStatus($('partStatus'), 'enter a wiki page reference');
    $('importNote').textContent = '';
    return null;
  }
  setStatus($('partStatus'), 'resolving ' + refs.length + (refs.length === 1 ? ' page' : ' pages') + '...');
  forgetPart();
  try {
    const records = await Promise.all(refs.map((r) => readPartPage(r)));
    if (seq !== resolveSeq) return null;
    const set = buildPartSet(refs, records, skipModel);
    part = set;
    describeSet(set, record);
    setStatus($('partStatus'), set.multi ? set.parts.length + ' parts, ready' : 'ready', 'ok');
    $('btnImport').disabled = false;
    $('importNote').textContent = !set.steps.length ? 'no STEP: nothing to bind, the library installs unbound'
      : (set.multi ? 'one call for all ' + set.parts.length + ' parts, then the page polls' : 'one call, then the page polls');
    toast('Resolved ' + (set.multi ? set.parts.length + ' parts' : set.name) +
      (set.steps.length ? ' + ' + set.steps.length + ' model(s)' : ' (no models)'), 'ok');
    return set;
  } catch (e) {
    if (seq !== resolveSeq) return null;
    renderKv($('partKv'), []);
    setStatus($('partStatus'), errText(e), 'err');
    toast('Could not resolve: ' + errText(e), 'err');
    return null;
  }
}

function markChips() {
  const refs = new Set(multiPick ? splitRefs($('partRef').value) : []);
  for (const c of $('chips').querySelectorAll('button[data-action="pick"]')) {
    const on = refs.has(c.dataset.ref);
    c.classList.toggle('active', on);
    c.setAttribute('aria-pressed', on ? 'true' : 'false');
  }
}

function pickChip(ref) {
  const chip = Array.from($('chips').querySelectorAll('button[data-action="pick"]')).find((c) => c.dataset.ref === ref);
  const wasActive = !!(chip && chip.classList.contains('active'));
  const refs = pickRefs($('partRef').value, ref, wasActive, multiPick);
  multiPick = true;
  $('partRef').value = refs.join(', ');
  markChips();
  return resolvePart(undefined, refs.length === 1 && owners ? owners.byRef.get(refs[0]) : undefined);
}

function chipsFailed(e) {
  $('chips').replaceChildren();
  $('chipsNote').textContent = "could not list Sefa's pages: " + errText(e);
}

async function shuffle() {
  const chips = $('chips');
  const note = $('chipsNote');
  chips.replaceChildren("loading Sefa's parts...");
  note.textContent = '';
  try {
    const cat = await loadCatalog();
    chips.replaceChildren(...drawChips(cat.list, 6).map((p) => {
      const ref = str(p.owner) + '/' + str(p.slug);
      return h('button', { class: 'pchip', 'data-action': 'pick', 'data-ref': ref, title: str(p.title) + ' - ' + str(p.brief),
        onclick: () => pickChip(ref) }, str(p.slug), h('small', { text: stripYear(formatDate(p.last_commit_at)) }));
    }));
    markChips();
    note.textContent = cat.list.length + ' parts by Sefa, newest ' + (cat.list.length ? formatDate(cat.list[0].last_commit_at) : '-');
  } catch (e) {
    chipsFailed(e);
  }
}

// ---- Plan ----------------------------------------------------------------------------------
async function plan() {
  const status = $('impStatus');
  const parts = part ? part.steps.map((s) => ({ package: part.name, modelPath: s.entry })) : [];
  setStatus(status, 'planning...');
  try {
    const r = await cmd('fusion_plan_library_import', { parts });
    const fusion = isObj(r.fusion) ? r.fusion : {};
    setStatus(status, str(fusion.status), fusion.status === 'ready' ? 'ok' : 'warn');
    const total = Math.round(Number(r.estimatedSec) || 0);
    const open = Math.round(Number(r.estimatedSecIfAlreadyOpen));
    renderKv($('planKv'), [
      ['status', str(fusion.status)],
      ['message', str(fusion.message)],
      ['total', total + 's' + (isNum(open) && open !== total ? ' (' + open + 's if already open)' : '')],
      ['confidence', str(r.confidence)],
    ]);
    const stages = Array.isArray(r.plan) ? r.plan.filter(isObj) : [];
    $('planStages').replaceChildren(...stages.map((s) => h('li', null,
      h('span', { text: firstPresent(s.label, s.stage) + (s.needsUserConsent ? ' (asks you first)' : '') }),
      h('span', { class: s.confidence === 'measured' ? 'ok' : '', text: Math.round(Number(s.estimatedSec) || 0) + 's · ' + str(s.confidence) }))));
    if (fusion.status === 'addin_restart_required') showRestartAsk({ userMessage: fusion.message, documentsKnown: false });
    toast('Plan: ' + total + 's, ' + stages.length + ' stages', 'ok');
  } catch (e) {
    setStatus(status, errText(e), 'err');
    toast(failText(e), 'err');
  }
}

// ---- Import --------------------------------------------------------------------------------
let staged = null;
let runId = null;
let pollTimer = null;
let pollCount = 0;
let askShown = false;

function progress(pct, kind) {
  const fill = $('progFill');
  fill.style.width = Math.max(0, Math.min(100, pct)) + '%';
  fill.className = kind || '';
}
const stageLine = (...kids) => $('stageLine').replaceChildren(...kids);

async function fetchOk(url, name) {
  const res = await fetch(url);
  if (!res.ok) throw new Error(name + ': wiki answered ' + res.status);
  return res;
}

async function importBundle() {
  const btn = $('btnImport');
  const status = $('impStatus');
  const set = part;
  if (!set) { toast('Resolve a part first', 'err'); return; }
  if (bridge) probe().then((f) => { if (f) { bridge = f; showBridge(); } });
  else {
    const f = await probe();
    if (f) { bridge = f; showBridge(); }
  }
  btn.disabled = true;
  setStatus(status, 'working');
  $('gallery').replaceChildren();
  renderKv($('receiptKv'), []);
  $('lint').hidden = true;
  progress(0);
  try {
    const libs = set.parts.map((p) => p.lbr);
    const models = set.steps;
    stageLine('fetching ' + libs.length + (libs.length === 1 ? ' library' : ' libraries') +
      (models.length ? ' and ' + models.length + ' model(s)' : '') + ' from the wiki...');
    const fetched = await Promise.all([
      Promise.all(libs.map((l) => fetchOk(l.url, l.name).then((r) => r.text()))),
      Promise.all(models.map((m) => fetchOk(m.url, m.name).then((r) => r.arrayBuffer()).then((a) => new Uint8Array(a)))),
    ]);
    stageLine((set.multi ? 'merging ' + libs.length + ' libraries into one and ' : '') + 'zipping in the browser...');
    const fills = [];
    const filled = fetched[0].map((t, i) => fillLibrary(t, set.parts[i], fills));
    const left = [];
    const merged = mergeLibraries(filled, (i) => left.push(set.parts[i].ref));
    if (left.length) toast('Left out of the merged library (not valid XML): ' + left.join(', '), 'err');
    set.metaFills = fills;
    const name = safeName(set.name);
    const zip = makeZip([{ name: name + '.lbr', data: utf8(merged) }].concat(models.map((m, i) => ({ name: m.entry, data: fetched[1][i] }))));
    const path = '~/ovra-wiki-libs/' + name + '.zip';
    staged = await stageBundle(zip, path, (args) => cmd('write_file_chunk', args), (n, total) => {
      stageLine('staging the bundle on this machine (approve in Ovra Bridge) (chunk ' + n + '/' + total + ')' +
        (granted() ? '' : ' · Ovra Bridge is asking you on this machine: click Allow (1 hr) in its toast'));
    });
    stageLine('installing the bundle (one call)...');
    const receipt = await cmd('fusion_install_library_bundle', { zipPath: staged, libraryName: name });
    renderReceipt(receipt, set);
    if (receipt.errorCode === 'nothing_to_bind' || receipt.started === false) {
      progress(100, 'ok');
      stageLine(b('installed, unbound'), ' · ' + (firstPresent(receipt._hint) || 'nothing to bind'));
      setStatus(status, 'installed, unbound', 'warn');
      toast('Library placed at ' + str(receipt.libraryPath) + ' with no 3D bound', 'ok');
    } else if (!firstPresent(receipt.runId)) {
      progress(100, 'ok');
      stageLine(b('installed'), ' · the bridge named no run to watch');
      setStatus(status, 'installed', 'warn');
    } else {
      toast(receipt.attached ? 'An import is already running; attached to ' + str(receipt.runId) : 'Installed and started run ' + str(receipt.runId), 'ok');
      watch(str(receipt.runId));
    }
  } catch (e) {
    progress(100, 'err');
    setStatus(status, 'failed', 'err');
    if (e.code === 'web_denied') {
      stageLine(b('not allowed'), ' Ovra Bridge asked you to allow this page and did not get a click in time. Press the button again and click Allow (1 hr) in the Ovra Bridge toast, or grant this page in vb Settings > Web Control.');
      toast('Ovra Bridge did not get your Allow click. ' + errText(e), 'err');
    } else {
      stageLine(b(e.code || 'failed'), ' ' + errText(e));
      toast(errText(e), 'err');
    }
    if (isObj(e.payload) && e.payload.errorCode === 'addin_restart_required') showRestartAsk(e.payload);
  } finally {
    btn.disabled = !part;
  }
}

function renderReceipt(r, set) {
  const parts = Array.isArray(r.parts) ? r.parts : [];
  const packages = parts.map((p) => (isObj(p) ? str(p.package) : str(p)));
  const unbound = Array.isArray(r.unbound) ? r.unbound : [];
  const fills = set.metaFills || [];
  renderKv($('receiptKv'), [
    ['installed', r.installed ? 'yes, ' + str(r.libraryPath) : 'no'],
    ['library', str(r.libraryName)],
    ['parts', str(r.partsToBind) + ' of ' + str(r.partsTotal) + ' paired with a STEP' + (packages.length > 1 ? ': ' + packages.join(', ') : '')],
    ['named skips', unbound.length ? unbound.map((u) => (isObj(u) ? str(u.package) + ' (' + str(u.reason) + ')' : str(u))).join('; ') : 'none'],
    ['filled from wiki pages', fills.length ? fills.map((f) => f.deviceset + ' ' + f.field).join(', ') : 'nothing (source libraries were complete)'],
    ['fusion', isObj(r.fusion) ? str(r.fusion.message) : ''],
    ['runId', str(r.runId)],
    ['estimated', isNum(r.estimatedSec) ? Math.round(r.estimatedSec) + 's' : ''],
  ]);
  renderLint(r.partMetadata);
}

function renderLint(meta) {
  const box = $('lint');
  const l = lintText(meta);
  if (!l) { box.hidden = true; return; }
  box.className = 'lint ' + (l.ok ? 'ok' : 'warn');
  box.replaceChildren(h('h3', { text: 'Part numbers' }), h('div', { text: l.text }));
  box.hidden = false;
}

// ---- Watching a run ------------------------------------------------------------------------
function cancelButton(state) {
  const btn = $('btnCancel');
  btn.hidden = state === 'hidden';
  btn.disabled = state === 'stopping';
  btn.textContent = state === 'stopping' ? 'stopping at the next part...' : 'Cancel import';
}

function watch(id) {
  runId = id;
  clearTimeout(pollTimer);
  pollTimer = null;
  pollCount = 0;
  askShown = false;
  liveStart();
  cancelButton('ready');
  return poll();
}

async function poll(id) {
  if (id !== undefined && id !== runId) return watch(String(id));
  clearTimeout(pollTimer);
  pollTimer = null;
  const run = runId;
  if (!run) return null;
  pollCount += 1;
  let res;
  try {
    res = resultOf(await cmd('fusion_prove_result', { runId: run }));
  } catch (e) {
    if (run === runId) pollFailed(e);
    return null;
  }
  if (run !== runId) return null;
  const status = $('impStatus');
  const stage = str(res.stage);
  if (stage === 'cancelled') {
    cancelButton('hidden');
    liveStop('cancelled');
    progress(100, 'err');
    stageLine(b('cancelled'), ' · ' + (firstPresent(res.error) || 'stopped while ' + str(res.cancelledAt)));
    setStatus(status, 'cancelled', 'warn');
    renderFrames(res.evidence);
    toast('Import cancelled: ' + str(res.error), 'ok');
    return res;
  }
  if (stage === 'done' || stage === 'failed') cancelButton('hidden');
  else if (res.cancelRequested) cancelButton('stopping');
  if (stage === 'failed') {
    liveStop('failed');
    progress(100, 'err');
    renderFrames(res.evidence);
    if (res.errorCode === 'bridge_restarted_mid_run') {
      setStatus(status, 'bridge restarted mid-run', 'err');
      stageLine(b('the bridge restarted under this run'), ' ' + str(res.error) + ' ',
        h('button', { 'data-action': 'start_again', text: 'Start again', onclick: () => importBundle() }));
      toast('The bridge restarted mid-run (an update or a crash). Press Start again.', 'err');
      return res;
    }
    setStatus(status, 'failed', 'err');
    stageLine(b('failed'), ' ' + (firstPresent(res.error, isObj(res.bind) ? res.bind.error : '', res.errorCode)));
    toast('Import failed: ' + (firstPresent(res.error) || 'see the log'), 'err');
    return res;
  }
  if (stage === 'done') {
    liveStop('done');
    progress(100, 'ok');
    const prove = isObj(res.prove) ? res.prove : {};
    const proven = isObj(res.prove) ? prove.proven === true : res.verdict === 'proven';
    const partsProven = firstPresent(prove.partsProven) || '0';
    const partsTotal = firstPresent(prove.partsTotal, res.partsTotal) || '0';
    stageLine(b('done'), ' verdict: ' + (firstPresent(res.verdict) || (prove.proven ? 'proven' : 'not proven')) + ' · ' +
      partsProven + '/' + partsTotal + ' parts proven · ' + (firstPresent(res.evidenceCount) || '0') + ' frames');
    setStatus(status, proven ? 'proven' : 'finished, not proven', proven ? 'ok' : 'warn');
    if (isObj(res.partMetadata)) renderLint(res.partMetadata);
    toast('Library created in Fusion: ' + partsProven + '/' + partsTotal + ' parts proven', 'ok');
    try {
      const inline = resultOf(await cmd('fusion_prove_result', { runId: run, inlineFrames: true }, { timeoutMs: 120000 }));
      if (run === runId) renderFrames(inline.evidence);
    } catch (e) {
      if (run === runId) renderFrames(res.evidence);
    }
    return res;
  }
  if (isNum(res.percent)) progress(res.percent);
  const line = [b(stage || 'working')];
  if (!isEmpty(res.stageLabel)) line.push(' · ' + str(res.stageLabel));
  if (isNum(res.percent)) line.push(' · ' + Math.round(res.percent) + '%');
  if (isNum(res.etaSec)) line.push(' · ~' + Math.round(res.etaSec) + 's left');
  stageLine(...line);
  if (Array.isArray(res.evidence) && res.evidence.length) renderFrames(res.evidence);
  if (res.errorCode === 'addin_restart_required' && !askShown) {
    askShown = true;
    showRestartAsk(res);
    liveStop('waiting for your answer');
  }
  pollTimer = setTimeout(() => poll(), pollCount <= 2 ? 5000 : 10000);
  return res;
}

function pollFailed(e) {
  const kind = pollFailureKind(e);
  const msg = errText(e);
  if (kind !== 'fatal' && pollCount < 12) {
    stageLine(b(kind === 'not_filed' ? 'starting (the run is not on file yet)' : 'bridge not answering, retrying'),
      ' · ' + msg.slice(0, 90) + ' (try ' + pollCount + ' of 12)');
    pollTimer = setTimeout(() => poll(), 8000);
    return;
  }
  liveStop('poll failed');
  progress(100, 'err');
  stageLine(b('poll failed'), ' ' + msg);
  setStatus($('impStatus'), 'poll failed', 'err');
}

async function cancelRun() {
  if (!runId) { toast('No run to cancel', 'err'); return; }
  cancelButton('stopping');
  try {
    const r = await cmd('fusion_cancel_run', { runId });
    if (r.alreadyFinished) {
      toast('That run had already ended (' + str(r.stage) + ')', 'info');
      cancelButton('hidden');
    } else {
      toast('Stopping the import at the next part boundary (a STEP import in progress finishes first)', 'info');
    }
  } catch (e) {
    cancelButton('ready');
    toast(failText(e), 'err');
  }
}

async function attachRun() {
  try {
    const res = resultOf(await cmd('fusion_prove_result', {}));
    const id = firstPresent(res.runId);
    if (!id) { toast('No run to attach to', 'err'); return; }
    toast('Attached to run ' + id, 'ok');
    await watch(id);
  } catch (e) {
    toast(failText(e), 'err');
  }
}

// ---- Restart ask ---------------------------------------------------------------------------
function showRestartAsk(info) {
  const box = $('askBox');
  const nameOf = (d) => (isObj(d) ? str(d.name) : str(d));
  const docs = (Array.isArray(info.openDocuments) ? info.openDocuments : (Array.isArray(info.documentNames) ? info.documentNames : [])).map(nameOf);
  const unsaved = new Set((Array.isArray(info.unsavedDocuments) ? info.unsavedDocuments : []).map(nameOf));
  const remedy = typeof info.remedyVerb === 'string' && /^[A-Za-z0-9_]+$/.test(info.remedyVerb) ? info.remedyVerb : 'fusion_restart_for_addin';
  const ask = h('div', { class: 'ask', 'data-ask': 'addin_restart_required' },
    h('h3', { text: 'Fusion needs a restart to load the Ovra add-in' }),
    h('p', { text: firstPresent(info.userMessage) || 'The add-in is not answering. Restarting Fusion loads it. Your documents will be saved first.' }),
    docs.length ? h('ul', { class: 'docs' }, docs.map((d) => h('li', { text: d + (unsaved.has(d) ? ' (unsaved)' : '') })))
      : h('p', { class: 'note', text: info.documentsKnown === false ? 'The bridge could not list open documents.' : 'No open documents.' }));
  const save = h('button', { class: 'primary', 'data-action': 'restart_save', text: 'Save and restart Fusion' });
  const hold = h('button', { 'data-action': 'restart_hold', text: "I'll handle it" });
  save.addEventListener('click', async () => {
    save.disabled = true;
    try {
      await cmd(remedy, { save: true }, { timeoutMs: 135000 });
      toast('Fusion is restarting with your documents saved', 'ok');
      box.replaceChildren();
    } catch (e) {
      save.disabled = false;
      toast(failText(e), 'err');
    }
  });
  hold.addEventListener('click', async () => {
    try { await cmd(remedy, { decline: true, notificationId: firstPresent(info.notificationId) }); } catch (e) { /* the answer is the user's either way */ }
    box.replaceChildren(h('div', { class: 'ask', text: 'You own the restart. Nothing will restart Fusion until you do; the running import stops.' }));
    toast('Okay, the restart is yours', 'ok');
  });
  ask.append(h('div', { class: 'row' }, save, hold));
  box.replaceChildren(ask);
}

// ---- Frames --------------------------------------------------------------------------------
const frameCache = new Map();
const DATA_IMAGE = /^data:image\/[a-z0-9.+-]+(;[a-z0-9=.+-]+)*;base64,[A-Za-z0-9+/=\s]*$/i;

// Only inline images are shown; a frame never makes the page load anything from elsewhere.
const inlineSrc = (f) => [f.thumbnailDataUrl, f.dataUrl].find((v) => typeof v === 'string' && DATA_IMAGE.test(v)) || '';
const boxPathOf = (f) => [f.screenshot, f.path].find((v) => typeof v === 'string' && v) || '';

async function readBoxImage(path) {
  const r = await cmd('read_file', { path, encoding: 'base64' }, { timeoutMs: 60000 });
  const content = typeof r.content === 'string' ? r.content.replace(/\s+/g, '') : '';
  if (!content || !/^[A-Za-z0-9+/]*=*$/.test(content)) throw new Error('no image data');
  return 'data:image/' + (/\.png$/i.test(path) ? 'png' : 'webp') + ';base64,' + content;
}

function frameSrc(f, cached) {
  const inline = inlineSrc(f);
  if (inline) return Promise.resolve(inline);
  const path = boxPathOf(f);
  if (!path) return Promise.reject(new Error('no image'));
  if (!cached) return readBoxImage(path);
  if (!frameCache.has(path)) {
    const p = readBoxImage(path);
    frameCache.set(path, p);
    p.catch(() => frameCache.delete(path));
  }
  return frameCache.get(path);
}

function renderFrames(evidence) {
  const gallery = $('gallery');
  gallery.replaceChildren();
  for (const f of Array.isArray(evidence) ? evidence : []) {
    if (!isObj(f)) continue;
    const kind = firstPresent(f.kind);
    const ph = h('div', { class: 'ph', text: 'loading frame...' });
    const size = isNum(f.width) && isNum(f.height) ? f.width + 'x' + f.height : '';
    const card = h('figure', { class: 'frame' }, ph, h('figcaption', null,
      h('span', { class: 'tag ' + (kind === 'proof' ? 'proof' : 'other'), text: kind || 'frame' }),
      h('span', { text: firstPresent(f.step, f.view) }),
      size ? h('span', { text: size }) : null,
      h('span', { class: 'part', text: str(f.part) })));
    gallery.append(card);
    if (f.ok === false) {
      ph.textContent = f.error ? 'REFUSED: ' + str(f.error) : 'not evidence';
      continue;
    }
    frameSrc(f, true).then((src) => {
      const img = h('img', { alt: (kind || 'frame') + ' ' + firstPresent(f.step, f.view) });
      img.src = src;
      ph.replaceWith(img);
    }, () => {
      ph.textContent = 'frame could not be fetched from the box: ' + boxPathOf(f).split(/[\\/]/).pop();
    });
  }
}

// ---- Live view -----------------------------------------------------------------------------
const live = { on: false, timer: null, since: 0, gen: 0 };

function loadImage(src) {
  return new Promise((resolve, reject) => {
    const img = new Image();
    img.onload = () => resolve(img);
    img.onerror = () => reject(new Error('image did not decode'));
    img.src = src;
  });
}

const numOr = (...vals) => { for (const v of vals) if (isNum(Number(v)) && v !== null && v !== '' && v !== undefined) return Number(v); return undefined; };

async function drawLive(main, popups) {
  const mainImg = await loadImage(await frameSrc(main, false));
  const layers = [];
  for (const p of popups) {
    const r = isObj(p.rect) ? p.rect : p;
    const w = numOr(r.w, r.width);
    const hgt = numOr(r.h, r.height);
    if ((w !== undefined && w < 3) || (hgt !== undefined && hgt < 3)) continue;
    try {
      const img = await loadImage(await frameSrc(p, false));
      layers.push({ r, img, w: w !== undefined ? w : img.naturalWidth, h: hgt !== undefined ? hgt : img.naturalHeight });
    } catch (e) { /* a dialog that can't be fetched is left out of this frame */ }
  }
  const canvas = $('liveCanvas');
  canvas.width = mainImg.naturalWidth;
  canvas.height = mainImg.naturalHeight;
  const ctx = canvas.getContext('2d');
  ctx.drawImage(mainImg, 0, 0);
  const rect = isObj(main.rect) ? main.rect : {};
  const winW = numOr(rect.width) || mainImg.naturalWidth;
  const winH = numOr(rect.height) || mainImg.naturalHeight;
  const left = numOr(rect.left, rect.x) || 0;
  const top = numOr(rect.top, rect.y) || 0;
  const sx = canvas.width / winW;
  const sy = canvas.height / winH;
  for (const l of layers) {
    if (l.w < 3 || l.h < 3) continue;
    const x = ((numOr(l.r.x, l.r.left) || 0) - left) * sx;
    const y = ((numOr(l.r.y, l.r.top) || 0) - top) * sy;
    ctx.drawImage(l.img, x, y, l.w * sx, l.h * sy);
    ctx.lineWidth = 2;
    ctx.strokeStyle = 'rgba(0,184,177,.6)';
    ctx.strokeRect(x, y, l.w * sx, l.h * sy);
  }
  return true;
}

async function liveStart() {
  if (live.on) return;
  live.on = true;
  live.since = 0;
  const gen = ++live.gen;
  $('liveBox').hidden = false;
  $('liveCanvas').hidden = true;
  $('liveLabel').textContent = 'live · Fusion on this machine';
  $('liveLed').className = 'led';
  $('liveTick').textContent = '';
  $('liveNote').textContent = 'starting the 1 fps capture on this machine...';
  try {
    await cmd('fusion_live_feed', { action: 'start', intervalSec: 1, maxSec: 1500 });
  } catch (e) {
    if (gen === live.gen) $('liveNote').textContent = 'feed could not start: ' + errText(e);
    return;
  }
  if (gen === live.gen && live.on) liveTick(gen);
}

async function liveTick(gen) {
  live.timer = null;
  if (!live.on || gen !== live.gen) return;
  const note = $('liveNote');
  try {
    const p = await cmd('fusion_live_feed', { action: 'frames', since: live.since }, { timeoutMs: 20000 });
    if (!live.on || gen !== live.gen) return;
    const frames = Array.isArray(p.frames) ? p.frames.filter(isObj) : [];
    const mains = frames.filter((f) => f.kind === 'main');
    if (!mains.length) {
      if (p.healthy === false) {
        $('liveLed').className = 'led';
        note.textContent = p.noHwnd && !p.captured ? 'waiting for the Fusion window (Fusion is launching)' : (firstPresent(p._honesty) || 'feed is not capturing');
      }
    } else {
      const main = mains[mains.length - 1];
      const popups = frames.filter((f) => f.kind === 'popup' && f.tick === main.tick);
      if (isNum(main.tick)) live.since = Math.max(live.since, main.tick);
      const drawn = await drawLive(main, popups);
      if (drawn && live.on && gen === live.gen) {
        $('liveCanvas').hidden = false;
        $('liveLed').className = 'led rec';
        const dialogs = popups.filter((f) => !str(f.title).includes('MessageTray')).length;
        $('liveTick').textContent = 'frame ' + str(main.tick) + ' · ' + (dialogs ? dialogs + ' panel(s)/dialog(s) over it' : 'no dialogs');
        note.textContent = str(main.title);
      }
    }
  } catch (e) {
    if (live.on && gen === live.gen) note.textContent = 'feed: ' + errText(e);
  }
  if (live.on && gen === live.gen) live.timer = setTimeout(() => liveTick(gen), 1500);
}

function liveStop(why) {
  if (!live.on) return;
  live.on = false;
  live.gen += 1;
  clearTimeout(live.timer);
  live.timer = null;
  $('liveLed').className = 'led';
  $('liveLabel').textContent = 'live view ended · ' + why;
  cmd('fusion_live_feed', { action: 'stop' }).catch(() => {});
}

// ---- Feed, banner, catalog -----------------------------------------------------------------
async function feed(action) {
  const status = $('feedStatus');
  setStatus(status, action + '...');
  try {
    const p = await cmd('fusion_live_feed', action === 'status' ? { action } : { action, intervalSec: 1, maxSec: 300 });
    const rows = [
      ['running', p.running ? 'yes' : 'no'],
      ['healthy', has(p, 'healthy') ? (p.healthy ? 'yes' : 'NO') : '(bridge < 1.9.245)'],
      ['tick', str(p.tick)],
      ['captured', str(p.captured)],
      ['buffered', str(p.buffered)],
      ['last error', firstPresent(p.lastError) || 'none'],
    ];
    if (!isEmpty(p._honesty)) rows.push(['honesty', str(p._honesty)]);
    renderKv($('feedKv'), rows);
    if (p.healthy) setStatus(status, 'live', 'ok');
    else if (p.running) setStatus(status, 'running but not live', 'warn');
    else setStatus(status, 'stopped');
    if (!isEmpty(p._honesty)) toast(str(p._honesty), 'err');
    return p;
  } catch (e) {
    setStatus(status, errText(e), 'err');
    toast(failText(e), 'err');
    return null;
  }
}

async function banner(show) {
  const status = $('bannerStatus');
  try {
    const p = await cmd('fusion_activity_banner', show
      ? { action: 'show', title: 'Quick Actions demo', detail: 'driven from the browser through Ovra Bridge', percent: 42, tone: 'working' }
      : { action: 'hide' });
    renderKv($('bannerKv'), [['result', summarize(has(p, 'result') && p.result !== null ? p.result : p)]]);
    setStatus(status, show ? 'shown in Fusion' : 'hidden', 'ok');
  } catch (e) {
    setStatus(status, errText(e), 'err');
    toast(failText(e), 'err');
  }
}

let verbs = [];

function renderCatalog() {
  const q = $('catFilter').value.trim().toLowerCase();
  const hits = verbs.filter((v) => !q || v.name.toLowerCase().includes(q) || v.description.toLowerCase().includes(q)).slice(0, 200);
  $('catList').replaceChildren(...(hits.length ? hits.map((v) => h('li', null, h('span', { class: 'vn', text: v.name }), h('span', { text: v.description.slice(0, 160) })))
    : [h('li', { class: 'note', text: 'nothing matches' })]));
}

async function describe() {
  const status = $('catStatus');
  setStatus(status, 'loading...');
  try {
    verbs = catalogEntries(await cmd('fusion_describe', {}, { timeoutMs: 60000 }));
    setStatus(status, verbs.length + ' verbs', 'ok');
    renderCatalog();
  } catch (e) {
    setStatus(status, errText(e), 'err');
    toast(failText(e), 'err');
  }
}

// ---- Wiring --------------------------------------------------------------------------------
$('bpWiki').href = WIKI + '/ovra/ovra-bridge';
const on = (id, fn) => $(id).addEventListener('click', fn);
on('btnConnect', () => connect());
on('btnResolve', () => { multiPick = false; markChips(); resolvePart(); });
$('partRef').addEventListener('keydown', (e) => { if (e.key === 'Enter') { e.preventDefault(); resolvePart(); } });
$('tglNoModel').addEventListener('change', (e) => { skipModel = e.target.checked; resolvePart(); });
on('btnShuffle', () => shuffle());
on('btnFusion', () => readFusion());
on('btnPlan', () => plan());
on('btnImport', () => importBundle());
on('btnAttach', () => attachRun());
on('btnCancel', () => cancelRun());
on('btnFeed', () => feed('status'));
on('btnFeedStart', async () => { if (await feed('start')) liveStart(); });
on('btnFeedStop', () => { liveStop('stopped by you'); feed('stop'); });
on('btnBannerShow', () => banner(true));
on('btnBannerHide', () => banner(false));
on('btnDescribe', () => describe());
$('catFilter').addEventListener('input', renderCatalog);
on('btnClear', () => { $('log').replaceChildren(); setCallCount(0); });

window.QuickActions = {
  connect,
  resolvePart,
  importBundle,
  poll,
  cmd,
  state: () => ({ bridge: bridge ? { port: bridge.port, status: bridge.status } : null, part, staged, runId, callCount }),
};
// The page's plain logic, callable on its own (by tests, or an agent checking a bundle).
window.QuickActionsLib = {
  crc32, makeZip, GENERIC_NAME, GENERIC_DESCRIPTION, fillLibrary, mergeLibraries, safeName, splitRefs, refPath,
  readPartPage, buildPartSet, partSetName, modelEntries, parseCatalog, drawChips, pickRefs, formatDate, stripYear,
  summarize, readReply, pollFailureKind, lintText, catalogEntries, stageBundle, toBase64,
  addresses: { bridgeHost: BRIDGE_HOST, bridgePorts: PORTS, wiki: WIKI },
};

// Reached from another site: say so. Nothing here talks to a box before the user presses Connect.
if (document.querySelector('meta[name="loomdeck-entrance"]')?.content === 'foreign') {
  $('entranceLine').hidden = false;
  document.addEventListener('click', () => { $('entranceLine').hidden = true; }, { once: true });
}

(async function start() {
  $('chips').replaceChildren("loading Sefa's parts...");
  let failure = null;
  try { await loadCatalog(); } catch (e) { failure = e; }
  resolvePart();
  if (failure) chipsFailed(failure);
  else shuffle();
})();
