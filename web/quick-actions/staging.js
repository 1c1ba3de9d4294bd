// Sending a bundle to the listener in chunks it can take.

import { isObjectLike } from '../kit/values.js';
import { toBase64 } from '../kit/zip.js';

export const CHUNK_BYTES = 1048576;

// Sends a bundle in 1 MiB chunks (at least one, the last marked final); resolves with the
// staged path. send(args) performs one write_file_chunk and resolves with its payload.
export async function stageBundle(bytes, path, send, onChunk) {
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
      const r = isObjectLike(reply) ? reply : {};
      const short = typeof r.nextOffset === 'number' ? r.nextOffset !== bytes.length
        : typeof r.bytes === 'number' ? r.bytes !== bytes.length && r.bytes !== end - offset : false;
      if (short) {
        const said = typeof r.nextOffset === 'number' ? 'nextOffset ' + r.nextOffset : 'bytes ' + r.bytes;
        throw new Error('the bundle was not staged whole: the bridge answered its last chunk with ' + said + ' for a ' +
          bytes.length + '-byte bundle at ' + path + ', so nothing was installed. Press the button to try again.');
      }
      return isObjectLike(reply) && typeof reply.path === 'string' && reply.path ? reply.path : path;
    }
    const next = isObjectLike(reply) && typeof reply.nextOffset === 'number' ? reply.nextOffset : end;
    // A next offset that doesn't move forward would send the same bytes for ever.
    if (!(next > offset && next <= bytes.length)) throw new Error('the bridge answered an unusable next offset (' + next + ') for the chunk at ' + offset);
    offset = next;
  }
}
