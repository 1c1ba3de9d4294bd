// Part libraries as the wiki serves them (Eagle .lbr XML), fixed up for Fusion: generic names and
// descriptions replaced from the part's page, and several libraries merged into one.

import { lastSegment, safeName } from '../kit/values.js';

export const GENERIC_NAME = /^(L|R|C|D|LED|Q|Y|X|F|FB|J|Conn_\d+x\d+.*|Crystal(_\w+)?|Resistor|Capacitor|Inductor)$/i;

export const GENERIC_DESCRIPTION = /^(inductor|resistor|capacitor|unpolarized capacitor|polarized capacitor|light emitting diode|led|diode|generic connector.*|four pin crystal.*|crystal|two pin crystal.*|fuse|ferrite bead|transistor.*|mosfet.*)$/i;

export const XML_DECLARATION = '<?xml version="1.0" encoding="utf-8"?>\n';

export function parseXml(text) {
  const doc = new DOMParser().parseFromString(text, 'application/xml');
  if (doc.getElementsByTagName('parsererror').length) throw new Error('not well-formed XML');
  return doc;
}

export function serializeXml(doc, original) {
  const text = new XMLSerializer().serializeToString(doc);
  // The serializer drops the declaration; keep the file announcing itself as UTF-8 XML.
  return /^\s*<\?xml/.test(original) && !/^\s*<\?xml/.test(text) ? XML_DECLARATION + text : text;
}

export const childrenNamed = (el, name) => el ? Array.from(el.children).filter((c) => c.localName === name) : [];

export const childNamed = (el, name) => childrenNamed(el, name)[0] || null;

export const makeEl = (doc, near, name) => doc.createElementNS(near.namespaceURI, name);

export function findLibrary(doc) {
  const drawing = childNamed(doc.documentElement, 'drawing');
  return childNamed(drawing, 'library') || doc.getElementsByTagName('library')[0] || null;
}

// Gives every technology of the deviceset's devices an MPN unless it has one (a device without
// technologies gets one first); says whether it added an MPN and whether it changed anything.
function fillMpns(doc, ds, mpn) {
  let changed = false;
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
  return { addedMpn, changed };
}

// Repairs a fetched library's metadata from its wiki page record; `fills` receives what changed.
export function fillLibrary(text, record, fills) {
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
      const mpns = fillMpns(doc, ds, mpn);
      if (mpns.changed) changed = true;
      if (mpns.addedMpn) found.push({ deviceset: name, field: 'MPN', from: record.ref });
    }
    if (!changed) return text;
    const out = serializeXml(doc, text);
    if (Array.isArray(fills)) fills.push.apply(fills, found);
    return out;
  } catch {
    return text;
  }
}

export function sectionOf(doc, library, name) {
  let sec = childNamed(library, name);
  if (!sec) { sec = makeEl(doc, library, name); library.appendChild(sec); }
  return sec;
}

// Merges libraries into the first; the first library to bring a name wins. A library that is
// not well-formed XML can't be merged: it is left out and reported through onSkip(index).
export function mergeLibraries(texts, onSkip) {
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

export const MERGED_SECTIONS = ['packages', 'symbols', 'devicesets'];
