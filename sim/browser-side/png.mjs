// Tiny PNG writer for the stand-in's window captures: an RGBA canvas of filled rectangles.
import zlib from 'node:zlib';
import { crc32 } from './crc32.mjs';

function chunk(type, data) {
  const out = Buffer.alloc(12 + data.length);
  out.writeUInt32BE(data.length, 0);
  out.write(type, 4, 'ascii');
  data.copy(out, 8);
  out.writeUInt32BE(crc32(out.subarray(4, 8 + data.length)), 8 + data.length);
  return out;
}

// rects: [{x, y, w, h, rgb: [r, g, b]}], painted in order over the background colour.
export function png(width, height, background, rects = []) {
  const stride = width * 4 + 1;
  const raw = Buffer.alloc(stride * height);
  const paint = (x0, y0, w, h, [r, g, b]) => {
    for (let y = Math.max(0, y0); y < Math.min(height, y0 + h); y++) {
      for (let x = Math.max(0, x0); x < Math.min(width, x0 + w); x++) {
        const p = y * stride + 1 + x * 4;
        raw[p] = r; raw[p + 1] = g; raw[p + 2] = b; raw[p + 3] = 255;
      }
    }
  };
  paint(0, 0, width, height, background);
  for (const r of rects) paint(r.x, r.y, r.w, r.h, r.rgb);
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(width, 0);
  ihdr.writeUInt32BE(height, 4);
  ihdr[8] = 8; // bit depth
  ihdr[9] = 6; // RGBA
  return Buffer.concat([
    Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk('IHDR', ihdr),
    chunk('IDAT', zlib.deflateSync(raw)),
    chunk('IEND', Buffer.alloc(0)),
  ]);
}

export const dataUrl = (buf) => `data:image/png;base64,${buf.toString('base64')}`;
