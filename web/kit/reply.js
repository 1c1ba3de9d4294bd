// Reading replies: an action's payload, failure and hint (the dashboard), and the listener's
// success and error, log summaries, lint texts and verbs (the quick-actions page).

import { errText, firstPresent, has, isNum, isObj, isObjectLike, present, str } from './values.js';

export function isEmpty(v) {
  if (v === null || v === undefined || v === '') return true;
  if (Array.isArray(v)) return v.length === 0;
  return isObjectLike(v) && Object.keys(v).length === 0;
}

// The members a log line shows of a reply, in this order.
export const SUMMARY_KEYS = ['success', 'ok', 'errorCode', 'error', 'stage', 'percent', 'runId', 'installed', 'partsToBind',
  'healthy', 'captured', 'tick', 'running', 'status', 'verdict', 'evidenceCount'];

export function summarize(v) {
  if (!isObjectLike(v)) return str(v);
  const out = [];
  for (const k of SUMMARY_KEYS) {
    if (has(v, k) && !isEmpty(v[k])) out.push(k + '=' + str(JSON.stringify(v[k])).slice(0, 60));
  }
  return out.length ? out.join(' ') : Object.keys(v).slice(0, 6).join(',');
}

export function readReply(status, text) {
  let reply;
  try { reply = JSON.parse(text); } catch { reply = {}; }
  if (!isObjectLike(reply)) reply = {};
  const payload = isObjectLike(reply.data) ? reply.data : reply;
  const ok = status === 200 && reply.success !== false && payload.success !== false && !reply.errorCode;
  if (ok) return { ok, reply, payload };
  return {
    ok, reply, payload,
    message: firstPresent(payload.error, reply.error, reply.errorCode, payload.errorCode) || ('HTTP ' + status),
    code: firstPresent(reply.errorCode, payload.errorCode) || (status === 403 ? 'web_denied' : ''),
  };
}

export const resultOf = (p) => (isObjectLike(p) && isObjectLike(p.result) && !Array.isArray(p.result) ? p.result : (isObjectLike(p) ? p : {}));

// A failed poll of a run: 'not_filed' (the bridge has not written the run yet), 'transient'
// (worth another try) or 'fatal'.
export function pollFailureKind(err) {
  const msg = errText(err);
  const code = err && err.code ? String(err.code) : '';
  if (code === 'run_not_found' || code === 'unknown_run_id' || /no prove run/i.test(msg)) return 'not_filed';
  if (code === 'unreachable' || code === 'main_thread_busy' || (err && err.status >= 500)) return 'transient';
  if (/error sending request|unreachable|HTTP 0|HTTP 5\d\d|timed out|main_thread_busy/i.test(msg)) return 'transient';
  return 'fatal';
}

// The part-number lint of an install receipt or a finished run.
export function lintText(meta) {
  if (!isObjectLike(meta)) return null;
  if (meta.ok !== false) return { ok: true, text: 'every component carries a manufacturer part number and a distributor number.' };
  const num = (v) => (isNum(Number(v)) ? Number(v) : 0);
  const missing = isObjectLike(meta.missingCounts) ? meta.missingCounts : {};
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
export function catalogEntries(payload) {
  let found = null;
  for (const k of ['verbs', 'commands', 'catalog']) if (has(payload, k) && isObjectLike(payload[k])) { found = payload[k]; break; }
  if (!found && Array.isArray(payload)) found = payload;
  if (!found) return [];
  const entry = (v, key) => {
    const o = isObjectLike(v) ? v : {};
    return {
      name: firstPresent(o.name, o.verb, key, isObjectLike(v) ? '' : v),
      description: firstPresent(o.description, o.desc, o.summary, key !== undefined && !isObjectLike(v) ? v : ''),
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

export const payload = (r) => (isObj(r) && isObj(r.data) ? r.data : r);

// The failure text of an action reply, or '' when it succeeded.
export function replyError(r) {
  const d = payload(r);
  for (const v of [d, r]) {
    if (!isObj(v)) continue;
    if (v.error) return str(v.error);
    if (v.success === false || v.ok === false) return 'refused';
  }
  return '';
}

export function replyHint(r) {
  const d = payload(r);
  for (const v of [d, r]) if (isObj(v) && present(v._hint) && v._hint !== '') return v._hint;
  return '';
}
