// Reads a stored (uncompressed) zip archive strictly: every record is checked against the
// central directory and every entry against its CRC-32, so a malformed bundle is an error.
import { crc32 } from './crc32.mjs';

export function readZip(buf) {
  const b = Buffer.from(buf.buffer ? buf.buffer.slice(buf.byteOffset, buf.byteOffset + buf.byteLength) : buf);
  if (b.length < 22) throw new Error('too short for a zip archive');
  const end = b.length - 22;
  if (b.readUInt32LE(end) !== 0x06054b50) throw new Error('no end-of-central-directory record at the end');
  if (b.readUInt16LE(end + 20) !== 0) throw new Error('unexpected archive comment');
  const count = b.readUInt16LE(end + 10);
  if (b.readUInt16LE(end + 8) !== count) throw new Error('entry counts disagree');
  const dirSize = b.readUInt32LE(end + 12);
  const dirOffset = b.readUInt32LE(end + 16);
  if (dirOffset + dirSize !== end) throw new Error('central directory does not end at the end record');
  const entries = [];
  let p = dirOffset;
  for (let i = 0; i < count; i++) {
    if (b.readUInt32LE(p) !== 0x02014b50) throw new Error(`central header ${i} has a bad signature`);
    const method = b.readUInt16LE(p + 10);
    const crc = b.readUInt32LE(p + 16);
    const csize = b.readUInt32LE(p + 20);
    const size = b.readUInt32LE(p + 24);
    const nameLen = b.readUInt16LE(p + 28);
    const extraLen = b.readUInt16LE(p + 30);
    const commentLen = b.readUInt16LE(p + 32);
    const local = b.readUInt32LE(p + 42);
    const flags = b.readUInt16LE(p + 8);
    const name = b.subarray(p + 46, p + 46 + nameLen).toString('utf8');
    if (method !== 0 || csize !== size) throw new Error(`${name}: not stored uncompressed`);
    if (b.readUInt32LE(local) !== 0x04034b50) throw new Error(`${name}: local header has a bad signature`);
    if (b.readUInt32LE(local + 14) !== crc || b.readUInt32LE(local + 22) !== size) throw new Error(`${name}: local header disagrees with the directory`);
    const localName = b.readUInt16LE(local + 26);
    const localExtra = b.readUInt16LE(local + 28);
    const start = local + 30 + localName + localExtra;
    const data = b.subarray(start, start + size);
    if (data.length !== size) throw new Error(`${name}: data runs past the archive`);
    if (crc32(data) !== crc) throw new Error(`${name}: CRC-32 mismatch`);
    entries.push({ name, flags, size, crc, offset: local, data });
    p += 46 + nameLen + extraLen + commentLen;
  }
  if (p !== end) throw new Error('central directory size is wrong');
  return entries;
}
