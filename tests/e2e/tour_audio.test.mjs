// Narration clips and speech synthesis against the real server, with a recording ovra-tts
// stand-in first on PATH.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { ROOT, makeSandbox, startServer, rawRequest } from '../helpers/harness.mjs';

const STEPS = ['2d-board', '3d-board', '3d-package', 'aps', 'datahub', 'device', 'exports', 'footprint', 'launch',
  'library', 'make-project', 'mcp', 'open-design', 'schematic', 'stage', 'symbol'];
const REQUIRED = '{"ok":false,"why":"text required (<=1200 chars)"}';
const FAILED = '{"ok":false,"why":"ovra-tts synthesis failed (is ovra-tts installed and the tts service reachable?)"}';

// A whole MP3 that says which text it speaks: an ID3v2 tag holding "spoken:<text>", then one
// silent frame (MPEG 2 layer III, 144 bytes).
function spoken(text) {
  const tag = Buffer.from('spoken:' + text);
  const size = [21, 14, 7, 0].map((shift) => (tag.length >> shift) & 0x7f);
  const frame = Buffer.alloc(144);
  frame.set([0xff, 0xf3, 0x64, 0xc4]);
  return Buffer.concat([Buffer.from([0x49, 0x44, 0x33, 4, 0, 0, ...size]), tag, frame]);
}

// Appends its arguments to calls.jsonl and writes spoken(<text>) to the --out path; the text
// "silent" writes nothing, "hollow" an empty file and "cut" a clip that ends mid-frame. Like a
// strict real tool, it accepts only `say --out <file> <text>` and takes a text that begins with
// "-" for an unknown option.
const FAKE_TTS = `#!/usr/bin/env node
const fs = require('fs');
const path = require('path');
const argv = process.argv.slice(2);
fs.appendFileSync(path.join(__dirname, 'calls.jsonl'), JSON.stringify(argv) + '\\n');
if (argv.length !== 4 || argv[0] !== 'say' || argv[1] !== '--out' || argv[3].startsWith('-')) process.exit(2);
const out = argv[2];
const text = argv[3];
if (text === 'silent') process.exit(1);
${spoken}
const clip = spoken(text);
fs.writeFileSync(out, text === 'hollow' ? '' : text === 'cut' ? clip.subarray(0, clip.length - 40) : clip);
`;

let sb;
let srv;
let bin;
let cacheDir;
before(async () => {
  sb = makeSandbox({ withSim: false });
  bin = path.join(sb.base, 'bin');
  fs.mkdirSync(bin);
  fs.writeFileSync(path.join(bin, 'ovra-tts'), FAKE_TTS, { mode: 0o755 });
  sb.env.PATH = `${bin}:${sb.env.PATH}`;
  cacheDir = path.join(sb.tmp, `loomdeck-tts-${process.getuid()}`);
  srv = await startServer(sb);
});
after(async () => {
  await srv.stop();
  sb.cleanup();
});

const calls = () => {
  const file = path.join(bin, 'calls.jsonl');
  return fs.existsSync(file) ? fs.readFileSync(file, 'utf8').trim().split('\n').map((l) => JSON.parse(l)) : [];
};
const get = async (p) => {
  const res = await fetch(srv.url + p);
  return { status: res.status, type: res.headers.get('content-type'), body: Buffer.from(await res.arrayBuffer()) };
};

test('every step clip is served byte for byte, with or without its suffix', async () => {
  for (const key of STEPS) {
    const want = fs.readFileSync(path.join(ROOT, 'web', 'audio', `${key}.mp3`));
    for (const p of [`/demo/audio/${key}.mp3`, `/demo/audio/${key}`, `/demo/audio/${key}.mp3.mp3`]) {
      const got = await get(p);
      assert.equal(got.status, 200, p);
      assert.equal(got.type, 'audio/mpeg', p);
      assert.ok(got.body.equals(want), p);
    }
  }
  const launch = fs.readFileSync(path.join(ROOT, 'web', 'audio', 'launch.mp3'));
  const raw = await rawRequest(srv.port, 'GET /demo/audio/launch.mp3?x=1 HTTP/1.1\r\n\r\n');
  const head = `HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nContent-Length: ${launch.length}\r\nAccess-Control-Allow-Origin: *\r\nConnection: close\r\n\r\n`;
  assert.equal(raw.subarray(0, head.length).toString(), head);
  assert.ok(raw.subarray(head.length).equals(launch));
});

test('an unknown step answers a JSON refusal with status 200', async () => {
  const cases = [
    ['/demo/audio/Launch.mp3', 'Launch'],
    ['/demo/audio/.mp3', ''],
    ['/demo/audio/', ''],
    ['/demo/audio/%6Caunch.mp3', '%6Caunch'],
  ];
  for (const [p, key] of cases) {
    const got = await get(p);
    assert.equal(got.status, 200, p);
    assert.equal(got.type, 'application/json', p);
    assert.equal(got.body.toString(), JSON.stringify({ ok: false, why: `no pre-built narration for step ${key}` }), p);
  }
  // Sent raw, since fetch would resolve the dots itself.
  const dots = await rawRequest(srv.port, 'GET /demo/audio/../index.html HTTP/1.1\r\n\r\n');
  assert.match(dots.toString(), /\r\n\r\n\{"ok":false,"why":"no pre-built narration for step \.\.\/index\.html"\}$/);
  const bad = await rawRequest(srv.port, Buffer.concat([Buffer.from('GET /demo/audio/x'), Buffer.from([0xff]), Buffer.from('.mp3 HTTP/1.1\r\n\r\n')]));
  assert.match(bad.toString(), /\r\n\r\n\{"ok":false,"why":"no pre-built narration for step x\uFFFD"\}$/);
});

test('speech is synthesised once per distinct text and then served from the cache', async () => {
  const first = await get('/api/tts?text=hello+world');
  assert.equal(first.status, 200);
  assert.equal(first.type, 'audio/mpeg');
  assert.ok(first.body.equals(spoken('hello world')));
  const again = await get('/api/tts?voice=x&text=hello%20world&text=other');
  assert.ok(again.body.equals(spoken('hello world')));
  const made = calls().filter((c) => c.at(-1) === 'hello world');
  assert.equal(made.length, 1);
  const [say, out, outPath, text] = made[0];
  assert.deepEqual([say, out, text], ['say', '--out', 'hello world']);
  assert.equal(path.dirname(outPath), cacheDir);
  assert.equal(fs.statSync(cacheDir).mode & 0o777, 0o700);
  assert.deepEqual(fs.readdirSync(cacheDir).filter((f) => f.startsWith('e1d7')), ['e1d7a701437f78f9.mp3']);
  assert.ok(fs.readFileSync(path.join(cacheDir, 'e1d7a701437f78f9.mp3')).equals(spoken('hello world')));
});

test('texts are decoded exactly and never become options of ovra-tts', async () => {
  const cases = [
    ['100%', '100%'],
    ['%4a%4A+%2B%zz', 'JJ +%zz'],
    ['it%E2%80%99s', 'it\u2019s'],
    ['bad%FF', 'bad\uFFFD'],
    // A text that begins with "-" is spoken after one space, so it never reads as an option.
    ['--out+%2Fetc%2Fpasswd', ' --out /etc/passwd'],
    ['-h', ' -h'],
    ['+-h', ' -h'],
  ];
  for (const [raw, text] of cases) {
    const got = await get(`/api/tts?text=${raw}`);
    assert.ok(got.body.equals(spoken(text)), raw);
    const last = calls().at(-1);
    assert.equal(last.length, 4, raw);
    assert.equal(last[3], text, raw);
  }
});

test('missing, empty and overlong texts are refused without running ovra-tts', async () => {
  const before = calls().length;
  for (const q of ['', '?', '?text=', '?voice=a', `?text=${'a'.repeat(1201)}`, `?text=${'%C3%A9'.repeat(601)}`]) {
    const got = await get(`/api/tts${q}`);
    assert.equal(got.type, 'application/json', q);
    assert.equal(got.body.toString(), REQUIRED, q.slice(0, 20));
  }
  assert.equal(calls().length, before);
  assert.ok((await get(`/api/tts?text=${'a'.repeat(1200)}`)).body.equals(spoken('a'.repeat(1200))));
  assert.ok((await get(`/api/tts?text=${'%C3%A9'.repeat(600)}`)).body.equals(spoken('\u00e9'.repeat(600))));
});

test('a synthesis that leaves no audio or a cut clip fails and is tried again next time', async () => {
  for (const text of ['silent', 'hollow', 'cut']) {
    for (let round = 0; round < 2; round++) {
      const got = await get(`/api/tts?text=${text}`);
      assert.equal(got.type, 'application/json', text);
      assert.equal(got.body.toString(), FAILED, text);
    }
    assert.equal(calls().filter((c) => c.at(-1) === text).length, 2, text);
  }
  assert.deepEqual(fs.readdirSync(cacheDir).filter((f) => !/^[0-9a-f]{16}\.mp3$/.test(f)), []);
});
