// Images a reply carries as base64: checked before they become an image, opened in a tab on a click.

import { el } from '../kit/dom.js';

// Only base64 with the magic bytes of a known image type becomes an image source.
export function imageSrc(b64) {
  if (typeof b64 !== 'string') return null;
  const clean = b64.replace(/\s+/g, '');
  if (clean.length < 16 || !/^[A-Za-z0-9+/]+={0,2}$/.test(clean)) return null;
  let head;
  try { head = atob(clean.slice(0, 16)); } catch { return null; }
  let type = null;
  if (head.startsWith('RIFF') && head.slice(8, 12) === 'WEBP') type = 'image/webp';
  else if (head.charCodeAt(0) === 0xFF && head.charCodeAt(1) === 0xD8) type = 'image/jpeg';
  else if (head.startsWith('\x89PNG')) type = 'image/png';
  return type ? 'data:' + type + ';base64,' + clean : null;
}

// Browsers refuse to open data URLs in a tab, so the image travels as a blob.
export function openImage(src) {
  const comma = src.indexOf(',');
  const type = src.slice(5, src.indexOf(';'));
  const bin = atob(src.slice(comma + 1));
  const bytes = new Uint8Array(bin.length);
  for (let i = 0; i < bin.length; i++) bytes[i] = bin.charCodeAt(i);
  const url = URL.createObjectURL(new Blob([bytes], { type }));
  window.open(url, '_blank', 'noopener');
  setTimeout(() => URL.revokeObjectURL(url), 60000);
}

export function imageElement(src, alt) {
  const img = el('img');
  img.alt = alt;
  img.src = src;
  img.addEventListener('click', () => openImage(src));
  return img;
}
