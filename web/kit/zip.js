// CRC-32 and the stored (uncompressed) zip archive the quick-actions page bundles a part set in.

export const utf8 = (s) => new TextEncoder().encode(s);

export function toBase64(bytes) {
  let s = '';
  for (let i = 0; i < bytes.length; i += 0x8000) s += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
  return btoa(s);
}

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

// The three records of a stored zip archive, as [field width in bytes, value] in file order,
// little-endian; version 2.0, method 0 (stored), the fixed time 0x21 (1980-01-01 00:00).
const localHeader = (f) => [[4, 0x04034b50], [2, 20], [2, f.flags], [2, 0], [2, 0], [2, 0x21], [4, f.crc],
  [4, f.data.length], [4, f.data.length], [2, f.name.length], [2, 0]];
const centralHeader = (f) => [[4, 0x02014b50], [2, 20], [2, 20], [2, f.flags], [2, 0], [2, 0], [2, 0x21], [4, f.crc],
  [4, f.data.length], [4, f.data.length], [2, f.name.length], [2, 0], [2, 0], [2, 0], [2, 0], [4, 0], [4, f.offset]];
const endRecord = (count, dirSize, dirOffset) => [[4, 0x06054b50], [2, 0], [2, 0], [2, count], [2, count],
  [4, dirSize], [4, dirOffset], [2, 0]];

// Writes the fields at p; returns the position after them.
function writeFields(dv, p, fields) {
  for (const [width, value] of fields) {
    if (width === 4) dv.setUint32(p, value, true);
    else dv.setUint16(p, value, true);
    p += width;
  }
  return p;
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
    p = writeFields(dv, p, localHeader(f));
    out.set(f.name, p);
    out.set(f.data, p + f.name.length);
    p += f.name.length + f.data.length;
  }
  const dirOffset = p;
  for (const f of files) {
    p = writeFields(dv, p, centralHeader(f));
    out.set(f.name, p);
    p += f.name.length;
  }
  writeFields(dv, p, endRecord(files.length, p - dirOffset, dirOffset));
  return out;
}
