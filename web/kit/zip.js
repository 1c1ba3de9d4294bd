// CRC-32 and the stored (uncompressed) zip archive the quick-actions page bundles a part set in.

// ---- Plain helpers -----------------------------------------------------------------------
export const utf8 = (s) => new TextEncoder().encode(s);

export function toBase64(bytes) {
  let s = '';
  for (let i = 0; i < bytes.length; i += 0x8000) s += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
  return btoa(s);
}

// ---- CRC-32 and the stored zip bundle ----------------------------------------------------
export const CRC_TABLE = (function () {
  const t = new Uint32Array(256);
  for (let n = 0; n < 256; n++) {
    let c = n;
    for (let k = 0; k < 8; k++) c = (c & 1) ? (0xEDB88320 ^ (c >>> 1)) : (c >>> 1);
    t[n] = c >>> 0;
  }
  return t;
})();

export function crc32(data) {
  const bytes = typeof data === 'string' ? utf8(data) : data;
  let c = 0xFFFFFFFF;
  for (let i = 0; i < bytes.length; i++) c = CRC_TABLE[(c ^ bytes[i]) & 0xFF] ^ (c >>> 8);
  return (c ^ 0xFFFFFFFF) >>> 0;
}

// entries: [{name, data: Uint8Array or string}] -> the archive bytes, no compression.
export function makeZip(entries) {
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
