// Design surfaces and the wiki part import against the box simulator: a ready Studio box, the
// stand-in ovra-wiki with its fixture pages, and a real loomdeck server.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { EventSource } from 'eventsource';
import { makeSandbox, startServer, sim, getJson, postJson, rawRequest, simLog } from '../helpers/harness.mjs';

const SURFACES_DEST = 'C:/Users/pell/AppData/Local/Temp/loomdeck-surfaces';
const IMPORT_DEST = 'C:/Users/pell/AppData/Local/Temp/loomdeck';
const NO_LBR_HINT = 'Pick an ovra basic part page (it publishes <PART>.lbr + <PART>.step).';

const activity = simLog;
// A status build's reads: the staging reads readiness itself, and the live channel's box is refreshed by the server.
const STATUS_PROBES = ['fusion_readiness', 'fusion_aps_status', 'fusion_mcp_status', 'fusion_set_auto_update', 'fusion_set_seat_takeover',
  'fusion_set_driving_badge', 'fusion_set_activity_indicator'];
const clonesIn = (calls) => calls.filter((c) => c.program === 'ovra-wiki').map((c) => c.argv);
const consoleLines = async (srv) => (await getJson(`${srv.url}/console`)).json.lines;
const isPng = (b64) => Buffer.from(b64, 'base64').subarray(0, 8).equals(Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]));

let sb;
let srv;
let es;
const toasts = [];
before(async () => {
  sb = makeSandbox();
  sim(sb, 'reset', 'signed-in');
  sim(sb, 'set', 'Studio', 'projectSeconds=0.2', 'surfaceSeconds=0.2', 'bindSeconds=0.2', 'openLbrSeconds=0.2');
  srv = await startServer(sb, ['--ai-thread', 'e2e-surfaces']);
  // Named, so the server's own refresh of the shown box (every 15 s) stays on Studio.
  es = new EventSource(`${srv.url}/events?target=Studio`);
  es.addEventListener('toast', (e) => toasts.push(JSON.parse(e.data)));
  await new Promise((resolve) => es.addEventListener('hello', resolve));
});
after(async () => {
  es.close();
  await srv.stop();
  sb.cleanup();
});

// Each operation clones into a private folder of its own under TMPDIR, gone once it has answered.
function cloneFolderOf(calls, prefix) {
  const dir = clonesIn(calls)[0][3];
  assert.match(dir, new RegExp(`^${sb.tmp}/${prefix}[A-Za-z0-9]{6}$`));
  assert.equal(fs.existsSync(dir), false);
  return dir;
}

test('a surface request stages the default part, narrates it and answers with a capture', async () => {
  sim(sb, 'clear-log');
  const r = await postJson(`${srv.url}/api/surface`, { surface: 'symbol', target: 'Studio' });
  assert.equal(r.status, 200);
  assert.match(r.headers.get('content-type'), /^application\/json/);
  assert.deepEqual(Object.keys(r.json), ['_hint', 'deviceset', 'error', 'image', 'label', 'ok', 'surface']);
  assert.equal(r.json._hint, 'Symbol surface via fusion_show_symbol on the staged part - opened in the BACKGROUND and rendered with fusion_state.');
  assert.equal(r.json.deviceset, 'IN-S63BTG');
  assert.equal(r.json.error, null);
  assert.equal(r.json.ok, true);
  assert.ok(r.json.image.length > 2000);
  assert.ok(isPng(r.json.image));

  const calls = activity(sb);
  const dir = cloneFolderOf(calls, 'loomdeck-surfaces-');
  assert.deepEqual(clonesIn(calls), [['clone', 'tolm/in-s63btg', '--dir', dir]]);
  const bridgeCalls = calls.filter((c) => c.tool !== 'ovra-wiki' && c.tool !== 'targets');
  assert.ok(bridgeCalls.every((c) => c.aiThread === 'e2e-surfaces' && c.target === 'Studio'));
  const send = bridgeCalls.find((c) => c.tool === 'send_files');
  assert.equal(send.args, `{"dest":"${SURFACES_DEST}","filePaths":["${dir}/IN-S63BTG.lbr","${dir}/IN-S63BTG.step"]}`);
  assert.deepEqual(bridgeCalls.map((c) => c.tool).filter((t) => t !== 'fusion_state' && !STATUS_PROBES.includes(t)),
    ['send_files', 'fusion_bind_library_3d', 'fusion_make_test_project', 'fusion_show_symbol']);

  assert.deepEqual(toasts.map((t) => [t.message, t.kind]), [
    ['Staging tolm/in-s63btg from the wiki (clone -> send -> bind 3D -> generate project)', ''],
    ["Binding the part's real 3D model into the library", ''],
    ['Generating a solo test project around the part', ''],
    ['IN-S63BTG staged - every surface button is live', 'ok'],
  ]);
  const lines = await consoleLines(srv);
  assert.ok(lines.includes('surface symbol (tolm/in-s63btg)'));
  assert.ok(lines.includes('surfaces: IN-S63BTG staged - every surface button is live'));
});

test('a second request for the same box and part uses the staged part', async () => {
  sim(sb, 'clear-log');
  const before = toasts.length;
  const r = await postJson(`${srv.url}/api/surface`, { surface: 'board3d', target: 'Studio', part: 'tolm/in-s63btg' });
  assert.equal(r.json.ok, true);
  assert.equal(r.json.label, '3D board');
  assert.ok(isPng(r.json.image));
  const tools = activity(sb).map((c) => c.tool);
  assert.ok(!tools.includes('ovra-wiki'));
  assert.ok(!tools.includes('send_files'));
  assert.ok(!tools.includes('fusion_make_test_project'));
  assert.ok(tools.includes('fusion_show_3d_board'));
  assert.equal(toasts.length, before);
});

test('a request without a part stages the demoPart setting, upper-case extensions included', async () => {
  await postJson(`${srv.url}/settings`, { demoPart: 'tolm/shout-case' });
  sim(sb, 'clear-log');
  const r = await postJson(`${srv.url}/api/surface`, { surface: 'package3d', target: 'Studio' });
  assert.equal(r.json.ok, true);
  assert.equal(r.json.deviceset, 'SHOUT-CASE');
  const bind = activity(sb).find((c) => c.tool === 'fusion_bind_library_3d');
  assert.equal(bind.args, `{"libraryPath":"${SURFACES_DEST}/SHOUT-CASE.LBR","stepPath":"${SURFACES_DEST}/SHOUT-CASE.STP"}`);
  assert.ok((await consoleLines(srv)).includes('surface package3d (tolm/shout-case)'));
});

test('unknown surfaces, pages without a library and unreadable bodies answer with one JSON error', async () => {
  const wrong = await postJson(`${srv.url}/api/surface`, { surface: 'Symbol', target: 'Studio' });
  assert.equal(wrong.text, '{"error":"unknown surface Symbol"}');
  const missing = await postJson(`${srv.url}/api/surface`, { surface: 'symbol', target: 'Studio', part: 'tolm/no-such-part' });
  assert.equal(missing.text, '{"error":"tolm/no-such-part publishes no .lbr"}');
  const option = await postJson(`${srv.url}/api/surface`, { surface: 'symbol', target: 'Studio', part: '--dir=/etc' });
  assert.equal(option.text, '{"error":"--dir=/etc publishes no .lbr"}');
  assert.ok(!activity(sb).some((c) => c.program === 'ovra-wiki' && c.argv.includes('--dir=/etc')));

  const body = Buffer.concat([Buffer.from('{"surface":"symbol","part":"'), Buffer.from([0xff, 0xfe]), Buffer.from('"}')]);
  const head = `POST /api/surface?target=Studio HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nContent-Length: ${body.length}\r\n\r\n`;
  const raw = (await rawRequest(srv.port, Buffer.concat([Buffer.from(head), body]))).toString('utf8');
  assert.match(raw, /^HTTP\/1\.1 200 OK\r\n/);
  assert.ok(raw.endsWith('{"error":"unknown surface "}'));
});

test('import_basic_part brings the default page into the library manager', async () => {
  sim(sb, 'clear-log');
  const r = await postJson(`${srv.url}/api/action`, { action: 'import_basic_part', target: 'Studio' });
  assert.equal(r.status, 200);
  assert.deepEqual(Object.keys(r.json), ['_hint', 'opened', 'page', 'sent']);
  assert.equal(r.json.page, 'tolm/in-s42ata');
  assert.equal(r.json.opened.success, true);
  assert.equal(r.json.opened.opened, `${IMPORT_DEST}/IN-S42ATA.lbr`);
  assert.equal(r.json.sent.success, true);
  assert.equal(r.json.sent.sent.length, 1);
  const calls = activity(sb);
  const dir = cloneFolderOf(calls, 'loomdeck-part-');
  assert.deepEqual(clonesIn(calls), [['clone', 'tolm/in-s42ata', '--dir', dir]]);
  assert.equal(calls.find((c) => c.tool === 'send_files').args, `{"dest":"${IMPORT_DEST}","filePaths":["${dir}/IN-S42ATA.lbr"]}`);
  assert.equal(calls.find((c) => c.tool === 'fusion_open_lbr').args, `{"filePath":"${IMPORT_DEST}/IN-S42ATA.lbr"}`);
  assert.ok((await consoleLines(srv)).includes('action import_basic_part target=Studio'));
});

test('import_basic_part answers pages without a lower-case .lbr with its hint', async () => {
  for (const page of ['tolm/shout-case', 'tolm/no-such-part']) {
    const r = await postJson(`${srv.url}/api/action`, { action: 'import_basic_part', target: 'Studio', args: { page } });
    assert.equal(r.text, `{"_hint":"${NO_LBR_HINT}","error":"${page} has no .lbr file"}`);
  }
});

test('a verb that outran the relay window is verified once Fusion is free, and a blank capture is retried', async () => {
  sim(sb, 'set', 'Studio', 'surfaceSeconds=3', 'relayWindowSeconds=1', 'captureBlank=1');
  const before = toasts.length;
  const r = await postJson(`${srv.url}/api/surface`, { surface: 'footprint', target: 'Studio', part: 'tolm/in-s63btg' });
  sim(sb, 'set', 'Studio', 'surfaceSeconds=0.2', 'relayWindowSeconds=60');
  assert.equal(r.json.ok, true);
  assert.equal(r.json.error, null);
  assert.equal(r.json.note, 'the verb outran the relay window; the bridge finished it and the view was verified by capture');
  assert.ok(isPng(r.json.image));
  assert.deepEqual(toasts.slice(before).map((t) => t.message), ["Footprint is waiting its turn on Fusion's main thread"]);
  const lines = await consoleLines(srv);
  assert.ok(lines.includes('surface footprint capture 1 came back empty, retrying'));
  assert.ok(!lines.some((l) => l.startsWith('surface footprint failed')));
});
