// End-to-end checks of the other stand-ins (ovra-wiki, ovra-tts, ovra-cli) found on PATH, and of
// the part, surface and tour tools of the ovra-bridge stand-in driven the way the product drives them.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import zlib from 'node:zlib';
import { SIM_BIN, makeSandbox, sim, waitFor, simLog } from '../helpers/harness.mjs';

const run = (sb, cmd, args) => spawnSync(cmd, args, { env: sb.env, encoding: 'utf8' });
const bridge = (sb, box, tool, args = {}) => {
  const r = run(sb, 'ovra-bridge', ['--target', box, '--ai-thread', 'e2e', tool, JSON.stringify(args)]);
  return JSON.parse(r.stdout);
};
const unwrap = (r) => (r && r.data && typeof r.data === 'object' && Object.keys(r.data).length ? r.data : r);
const activity = simLog;

// Inflates the IDAT data of a PNG and checks that it holds one filter byte plus a row of pixels per line.
function checkPng(b64) {
  const png = Buffer.from(b64, 'base64');
  assert.deepEqual([...png.subarray(0, 8)], [0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]);
  const width = png.readUInt32BE(16);
  const height = png.readUInt32BE(20);
  let pos = 8;
  const idat = [];
  while (pos < png.length) {
    const len = png.readUInt32BE(pos);
    if (png.toString('latin1', pos + 4, pos + 8) === 'IDAT') idat.push(png.subarray(pos + 8, pos + 8 + len));
    pos += 12 + len;
  }
  assert.equal(zlib.inflateSync(Buffer.concat(idat)).length, height * (width + 1));
}

test('ovra-wiki clones the default surfaces part with its library and 3D model', (t) => {
  const sb = makeSandbox();
  t.after(sb.cleanup);
  const dir = path.join(sb.tmp, 'loomdeck-surfaces-1');
  const r = run(sb, 'ovra-wiki', ['clone', 'tolm/in-s63btg', '--dir', dir]);
  assert.equal(r.status, 0, r.stderr);
  assert.deepEqual(fs.readdirSync(dir).sort(), ['IN-S63BTG.lbr', 'IN-S63BTG.step', 'README.md']);
  assert.match(fs.readFileSync(path.join(dir, 'IN-S63BTG.lbr'), 'utf8'), /<deviceset name="IN-S63BTG"/);

  const missing = run(sb, 'ovra-wiki', ['clone', 'tolm/no-such-part', '--dir', path.join(sb.tmp, 'none')]);
  assert.equal(missing.status, 1);
  assert.equal(missing.stderr, 'ovra-wiki: no published files for tolm/no-such-part (page not found)\n');
  assert.equal(fs.existsSync(path.join(sb.tmp, 'none')), false);
  assert.deepEqual(activity(sb).map((e) => e.argv[1]), ['tolm/in-s63btg', 'tolm/no-such-part']);
});

// The 144-byte frames of an MP3 as the stand-in writes it (24 kHz mono at 48 kbit/s, no padding).
function frames(mp3) {
  assert.equal(mp3.length % 144, 0);
  const out = [];
  for (let i = 0; i < mp3.length; i += 144) out.push(mp3.subarray(i, i + 144));
  for (const f of out) assert.deepEqual([f[0], f[1] & 0xfe, f[2], f[3] & 0xc0], [0xff, 0xf2, 0x64, 0xc0]);
  return out;
}
const SILENT_FRAME = Buffer.concat([Buffer.from([0xff, 0xf3, 0x64, 0xc4]), Buffer.alloc(140)]);

test('ovra-tts speaks with espeak-ng and lame, and writes silence with a note where they are missing', (t) => {
  const sb = makeSandbox();
  t.after(sb.cleanup);
  const caption = 'The footprint is the copper the part is soldered to.';
  const spoken = path.join(sb.tmp, 'caption.mp3');
  const r = run(sb, 'ovra-tts', ['say', '--out', spoken, caption]);
  assert.deepEqual([r.status, r.stderr], [0, '']);
  const sound = frames(fs.readFileSync(spoken)).filter((f) => !f.equals(SILENT_FRAME));
  assert.ok(sound.length > 40, `${sound.length} frames carry sound`);

  const noTools = path.join(sb.base, 'no-tools');
  fs.mkdirSync(noTools);
  const silent = path.join(sb.tmp, 'silent.mp3');
  const mute = spawnSync(path.join(SIM_BIN, 'ovra-tts'), ['say', '--out', silent, caption], { env: { ...sb.env, PATH: noTools }, encoding: 'utf8' });
  assert.deepEqual([mute.status, mute.stderr], [0, 'ovra-tts: could not speak (espeak-ng is not installed), so the file is silent; ' +
    'install espeak-ng and lame (scripts/setup.sh does) to hear the text\n']);
  assert.ok(frames(fs.readFileSync(silent)).every((f) => f.equals(SILENT_FRAME)));
  assert.equal(fs.readdirSync(sb.tmp).filter((f) => f.startsWith('ovra-tts-')).length, 0, 'no scratch folder left behind');
});

test('ovra-cli records its arguments, and a faulted ovra-tts writes nothing', (t) => {
  const sb = makeSandbox();
  t.after(sb.cleanup);

  const cli = run(sb, 'ovra-cli', ['webview', 'add-tab', '--url', 'http://127.0.0.1:8930/']);
  assert.equal(cli.status, 0);
  const last = activity(sb).at(-1);
  assert.equal(last.program, 'ovra-cli');
  assert.deepEqual(last.argv, ['webview', 'add-tab', '--url', 'http://127.0.0.1:8930/']);

  sim(sb, 'fault', '*', 'ovra-tts', 'empty', '--count', '1');
  const silent = path.join(sb.tmp, 'nothing.mp3');
  assert.equal(run(sb, 'ovra-tts', ['say', '--out', silent, 'hello']).status, 0);
  assert.equal(fs.existsSync(silent), false);
});

test('staging a part and capturing a design surface', (t) => {
  const sb = makeSandbox();
  t.after(sb.cleanup);
  sim(sb, 'reset', 'signed-in');
  sim(sb, 'set', 'Studio', 'projectSeconds=0.2', 'surfaceSeconds=0.2', 'bindSeconds=0.2');
  const clone = path.join(sb.tmp, 'clone');
  run(sb, 'ovra-wiki', ['clone', 'tolm/in-s63btg', '--dir', clone]);
  const dest = 'C:/Users/pell/AppData/Local/Temp/loomdeck-surfaces';
  const sent = unwrap(bridge(sb, 'Studio', 'send_files', { dest, filePaths: [path.join(clone, 'IN-S63BTG.lbr'), path.join(clone, 'IN-S63BTG.step')] }));
  assert.equal(sent.success, true);
  assert.equal(sent.sent[0].bytes, fs.statSync(path.join(clone, 'IN-S63BTG.lbr')).size);
  const libraryPath = `${dest}/IN-S63BTG.lbr`;
  assert.equal(bridge(sb, 'Studio', 'fusion_bind_library_3d', { libraryPath, stepPath: `${dest}/IN-S63BTG.step` }).success, true);
  assert.equal(bridge(sb, 'Studio', 'fusion_make_test_project', { libraryPath }).success, true);
  assert.equal(bridge(sb, 'Studio', 'fusion_show_3d_board', {}).status, 'ok');
  const shot = bridge(sb, 'Studio', 'fusion_state', { imageAs: 'base64' });
  assert.ok(shot.screenshotBase64.length > 2000);
  checkPng(shot.screenshotBase64);
  assert.equal(shot.activeDocument, 'ovra-test-IN-S63BTG board');

  const opened = bridge(sb, 'Studio', 'fusion_open_lbr', { filePath: libraryPath });
  assert.equal(opened.ok, true);
  assert.equal(opened.data.opened, libraryPath);
});

test('a guided tour advances over time and can be steered', async (t) => {
  const sb = makeSandbox();
  t.after(sb.cleanup);
  sim(sb, 'reset', 'signed-in');
  sim(sb, 'set', 'Studio', 'tourStepSeconds=0.2');
  const started = bridge(sb, 'Studio', 'fusion_demo', { mode: 'tour', preset: 'electronics', remote: true });
  assert.equal(started.success, true);
  assert.equal(started.steps.length, 16);
  const demoId = started.demoId;
  assert.equal(bridge(sb, 'Studio', 'fusion_demo_control', { demoId, action: 'next' }).success, true);
  const done = await waitFor(() => {
    const p = bridge(sb, 'Studio', 'fusion_demo_progress', { demoId, imagesAs: 'paths', sinceShot: 9999 });
    return p.done ? p : null;
  }, { what: 'the tour to finish' });
  assert.equal(done.failed, false);
  assert.equal(done.percent, 100);
  assert.equal(done.shotCount, 15);
  const shots = bridge(sb, 'Studio', 'fusion_demo_progress', { demoId, imagesAs: 'base64', sinceShot: 14 }).shots;
  assert.equal(shots.length, 1);
  assert.equal(shots[0].step, 'exports');
  checkPng(shots[0].image);
});

test('a closed demo box reaches all green through the tools the dashboard uses', async (t) => {
  const sb = makeSandbox();
  t.after(sb.cleanup);
  sim(sb, 'reset', 'demo');
  sim(sb, 'set', 'Studio', 'launchSeconds=1', 'mcpEnableSeconds=0.2', 'apsSigninSeconds=0.2');
  bridge(sb, 'Studio', 'fusion_start');
  await waitFor(() => unwrap(bridge(sb, 'Studio', 'fusion_readiness')).ready, { what: 'Studio ready' });
  assert.equal(bridge(sb, 'Studio', 'fusion_mcp_enable').success, true);
  assert.equal(bridge(sb, 'Studio', 'fusion_aps_signin').success, true);
  const r = unwrap(bridge(sb, 'Studio', 'fusion_readiness'));
  assert.equal(r.running && r.ready && !r.needsSignin, true);
  assert.equal(bridge(sb, 'Studio', 'fusion_mcp_status').enabled, true);
  assert.equal(unwrap(bridge(sb, 'Studio', 'fusion_aps_status')).signedIn, true);
  assert.equal(r.fusionUpdateOffered, false);
});
