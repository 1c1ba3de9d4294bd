// Browser plumbing every page shares: element lookup and building, local storage.

export const $ = (id) => document.getElementById(id);

export function el(tag, cls, content) {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (content !== undefined) e.textContent = content;
  return e;
}

export function storeGet(key) {
  try { return localStorage.getItem(key); } catch { return null; }
}

export function storeSet(key, value) {
  try { localStorage.setItem(key, value); } catch { /* private windows refuse storage; the page works without it */ }
}

export function h(tag, props) {
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
