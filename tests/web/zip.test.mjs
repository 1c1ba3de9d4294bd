// The quick-actions page's zip writer and chunked staging, imported from web/ as the page runs
// them: CRC-32, the stored archive byte for byte, and the staging protocol with the listener.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { crc32, makeZip } from '../../web/kit/zip.js';
import { stageBundle } from '../../web/quick-actions/staging.js';
import { readZip } from '../../sim/browser-side/zip-reader.mjs';

describe('CRC-32 and the zip bundle', () => {
  test('CRC-32 of known texts', () => {
    const crcs = ['123456789', '', 'The quick brown fox jumps over the lazy dog', 'Grüße'].map((s) => crc32(s));
    assert.deepEqual(crcs, [0xcbf43926, 0, 0x414fa339, 0xfbd37071]);
  });

  test('one 5-byte entry named a is 105 bytes with the directory at offset 36', () => {
    const bytes = Buffer.from(makeZip([{ name: 'a', data: 'hello' }]));
    assert.equal(bytes.length, 105);
    const crc = 0x3610a686; // CRC-32 of "hello"
    const local = Buffer.alloc(36);
    local.writeUInt32LE(0x04034b50, 0);
    local.writeUInt16LE(20, 4);
    local.writeUInt16LE(0x21, 12);
    local.writeUInt32LE(crc, 14);
    local.writeUInt32LE(5, 18);
    local.writeUInt32LE(5, 22);
    local.writeUInt16LE(1, 26);
    Buffer.from('ahello').copy(local, 30);
    assert.deepEqual(bytes.subarray(0, 36), local);
    const dir = Buffer.alloc(47);
    dir.writeUInt32LE(0x02014b50, 0);
    dir.writeUInt16LE(20, 4);
    dir.writeUInt16LE(20, 6);
    dir.writeUInt16LE(0x21, 14);
    dir.writeUInt32LE(crc, 16);
    dir.writeUInt32LE(5, 20);
    dir.writeUInt32LE(5, 24);
    dir.writeUInt16LE(1, 28);
    dir.writeUInt32LE(0, 42);
    dir.write('a', 46);
    assert.deepEqual(bytes.subarray(36, 83), dir);
    const end = Buffer.alloc(22);
    end.writeUInt32LE(0x06054b50, 0);
    end.writeUInt16LE(1, 8);
    end.writeUInt16LE(1, 10);
    end.writeUInt32LE(47, 12);
    end.writeUInt32LE(36, 16);
    assert.deepEqual(bytes.subarray(83), end);
  });

  test('a bundle of a library and binary models unpacks byte for byte', () => {
    const model = Buffer.alloc(70000);
    for (let i = 0; i < model.length; i++) model[i] = (i * 7919) & 0xff;
    const bytes = Buffer.from(makeZip([
      { name: 'ovra-multi-2parts.lbr', data: new TextEncoder().encode('<eagle>µ</eagle>') },
      { name: 'SOIC8.step', data: new Uint8Array(model) },
      { name: 'Stecker 2×5.step', data: new Uint8Array([1, 2, 3]) },
    ]));
    const entries = readZip(bytes);
    assert.deepEqual(entries.map((e) => [e.name, e.size, e.flags]), [
      ['ovra-multi-2parts.lbr', 17, 0], ['SOIC8.step', 70000, 0], ['Stecker 2×5.step', 3, 0x0800]]);
    assert.deepEqual(entries[1].data, model);
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'zip-test-'));
    try {
      const file = path.join(dir, 'bundle.zip');
      fs.writeFileSync(file, bytes);
      const unzip = spawnSync('unzip', ['-t', file], { encoding: 'utf8' });
      assert.equal(unzip.status, 0, unzip.stdout + unzip.stderr);
      assert.match(unzip.stdout, /No errors detected/);
    } finally {
      fs.rmSync(dir, { recursive: true, force: true });
    }
  });

  test('bundles are staged in 1 MiB chunks, the last one final', async () => {
    const stage = async (size, replies = () => ({})) => {
      const calls = [];
      const staged = await stageBundle(new Uint8Array(size), '~/ovra-wiki-libs/x.zip', async (args) => {
        calls.push({ offset: args.offset, final: args.final, createDirs: args.createDirs, len: atob(args.dataB64).length, path: args.path });
        return replies(args, calls.length);
      });
      return { staged, calls };
    };
    const runs = {
      exact: await stage(1048576),
      empty: await stage(0, () => ({ path: 'C:/Users/u/ovra-wiki-libs/x.zip' })),
      over: await stage(1048577),
      // The listener took only half of the first chunk; the page resumes where it says.
      resumed: await stage(1048577, (a, n) => (n === 1 ? { nextOffset: 524288 } : {})),
      stuck: await stage(2097153, () => ({ nextOffset: 0 })).then(() => 'staged', (e) => e.message),
      // The final write must account for the whole bundle, by next offset or by byte count
      // (of the file or of that write).
      finals: await Promise.all([{ nextOffset: 60 }, { nextOffset: 100 }, { bytes: 99 }, { bytes: 100 }, { nextOffset: 100, bytes: 7 }]
        .map((reply) => stage(100, () => reply).then(() => 'staged', (e) => e.message))),
      lastOfTwo: await Promise.all([{ bytes: 0 }, { bytes: 1 }, { bytes: 1048577 }]
        .map((reply) => stage(1048577, (a) => (a.final ? reply : {})).then(() => 'staged', (e) => e.message))),
    };
    assert.deepEqual(runs.exact, { staged: '~/ovra-wiki-libs/x.zip', calls: [{ offset: 0, final: true, createDirs: true, len: 1048576, path: '~/ovra-wiki-libs/x.zip' }] });
    assert.deepEqual(runs.empty, { staged: 'C:/Users/u/ovra-wiki-libs/x.zip', calls: [{ offset: 0, final: true, createDirs: true, len: 0, path: '~/ovra-wiki-libs/x.zip' }] });
    assert.deepEqual(runs.over.calls.map((c) => [c.offset, c.len, c.final]), [[0, 1048576, false], [1048576, 1, true]]);
    assert.deepEqual(runs.resumed.calls.map((c) => [c.offset, c.len, c.final]), [[0, 1048576, false], [524288, 524289, true]]);
    assert.equal(runs.stuck, 'the bridge answered an unusable next offset (0) for the chunk at 0');
    const short = (said, size) => `the bundle was not staged whole: the bridge answered its last chunk with ${said} for a ${size}-byte ` +
      'bundle at ~/ovra-wiki-libs/x.zip, so nothing was installed. Press the button to try again.';
    assert.deepEqual(runs.finals, [short('nextOffset 60', 100), 'staged', short('bytes 99', 100), 'staged', 'staged']);
    assert.deepEqual(runs.lastOfTwo, [short('bytes 0', 1048577), 'staged', 'staged']);
  });
});
