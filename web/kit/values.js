// Plain values read from untrusted replies: one meaning each, shared by every page.

// Untrusted values become display text: strings as they are, anything else as JSON.
export function str(v) {
  if (v === undefined || v === null) return '';
  if (typeof v === 'string') return v;
  try {
    const j = JSON.stringify(v);
    return j === undefined ? String(v) : j;
  } catch {
    return String(v);
  }
}

// A plain object: arrays are not.
export const isObj = (v) => v !== null && typeof v === 'object' && !Array.isArray(v);
// An object or an array, for readers that take either.
export const isObjectLike = (v) => v !== null && typeof v === 'object';

export const has = (o, k) => isObjectLike(o) && Object.prototype.hasOwnProperty.call(o, k);

export const isNum = (v) => typeof v === 'number' && Number.isFinite(v);

export const errText = (e) => (e && e.message) ? String(e.message) : str(e);

export function firstPresent() {
  for (const v of arguments) if (v !== null && v !== undefined && v !== '') return str(v);
  return '';
}

export function timeoutSignal(ms) {
  return (typeof AbortSignal !== 'undefined' && AbortSignal.timeout) ? AbortSignal.timeout(ms) : undefined;
}

export const safeName = (s) => String(s).replace(/[^A-Za-z0-9._-]+/g, '_');

// The last non-empty segment of a part reference ("owner/slug" -> "slug").
export const lastSegment = (ref) => String(ref).split('/').filter(Boolean).pop() || String(ref);

export const nonEmpty = (v) => (typeof v === 'string' && v !== '' ? v : '');

export const present = (v) => v !== undefined && v !== null;
