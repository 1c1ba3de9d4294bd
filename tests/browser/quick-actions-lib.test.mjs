// The quick-actions page's plain logic (window.QuickActionsLib), called in the page as loomdeck
// serves it: CRC-32 and the stored zip bundle, the generic patterns, filling and merging part
// libraries, part sets, references and chips, reply reading and chunked staging.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';
import { makeSandbox, startServer } from '../helpers/harness.mjs';
import { startStandIn } from '../../sim/browser-side/start.mjs';
import { readZip } from '../../sim/browser-side/zip-reader.mjs';

const CHROMIUM_ARGS = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
  '--disable-component-update', '--disable-sync'];

let sandbox;
let server;
let wiki;
let context;
let profile;
let pageUrl;

before(async () => {
  sandbox = makeSandbox({ withSim: false });
  server = await startServer(sandbox);
  wiki = await startStandIn('wiki.mjs', ['--port', '0']);
  profile = fs.mkdtempSync(path.join(os.tmpdir(), 'qa-lib-profile-'));
  context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium', headless: true, args: CHROMIUM_ARGS, locale: 'en-US', timezoneId: 'UTC',
  });
  // No bridge listens on this range: the page never needs one for its plain logic.
  pageUrl = `${server.url}/quick-actions?wiki=${encodeURIComponent(wiki.url)}&bridgePorts=1-2`;
});

after(async () => {
  await context?.close();
  await wiki?.stop();
  await server?.stop();
  sandbox?.cleanup();
  if (profile) fs.rmSync(profile, { recursive: true, force: true });
});

async function openPage() {
  const page = await context.newPage();
  await page.goto(pageUrl);
  await page.waitForFunction(() => window.QuickActionsLib);
  return page;
}

const LIB = (body) => `<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE eagle SYSTEM "eagle.dtd">
<eagle version="9.6.2"><drawing><settings><setting alwaysvectorfont="no"/></settings><layers><layer number="1" name="Top"/></layers>
<library>${body}</library></drawing></eagle>
`;

// Reads a library back into plain data, in the page (the browser has the XML parser).
function inspect(page, text) {
  return page.evaluate((xml) => {
    const doc = new DOMParser().parseFromString(xml, 'application/xml');
    const kids = (el, name) => (el ? Array.from(el.children).filter((c) => c.localName === name) : []);
    const lib = doc.querySelector('library');
    const names = (sec, item) => kids(kids(lib, sec)[0], item).map((e) => e.getAttribute('name'));
    return {
      parseError: doc.getElementsByTagName('parsererror').length > 0,
      packages: kids(kids(lib, 'packages')[0], 'package').map((p) => [p.getAttribute('name'), kids(p, 'description')[0]?.textContent ?? null]),
      packages3d: kids(kids(lib, 'packages3d')[0], 'package3d').map((p) => p.getAttribute('urn')),
      symbols: names('symbols', 'symbol'),
      devicesets: kids(kids(lib, 'devicesets')[0], 'deviceset').map((ds) => ({
        name: ds.getAttribute('name'),
        firstChild: ds.firstElementChild?.localName,
        description: kids(ds, 'description')[0]?.textContent ?? null,
        devices: kids(kids(ds, 'devices')[0], 'device').map((d) => ({
          name: d.getAttribute('name'),
          techs: kids(kids(d, 'technologies')[0], 'technology').map((t) => ({
            name: t.getAttribute('name'),
            attrs: kids(t, 'attribute').map((a) => [a.getAttribute('name'), a.getAttribute('value'), a.getAttribute('constant')]),
          })),
        })),
      })),
    };
  }, text);
}

describe('CRC-32 and the zip bundle', () => {
  let page;
  before(async () => { page = await openPage(); });
  after(() => page.close());

  test('CRC-32 of known texts', async () => {
    const crcs = await page.evaluate(() => ['123456789', '', 'The quick brown fox jumps over the lazy dog', 'Grüße']
      .map((s) => window.QuickActionsLib.crc32(s)));
    assert.deepEqual(crcs, [0xcbf43926, 0, 0x414fa339, 0xfbd37071]);
  });

  test('one 5-byte entry named a is 105 bytes with the directory at offset 36', async () => {
    const bytes = Buffer.from(await page.evaluate(() => Array.from(window.QuickActionsLib.makeZip([{ name: 'a', data: 'hello' }]))));
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

  test('a bundle of a library and binary models unpacks byte for byte', async () => {
    const model = Buffer.alloc(70000);
    for (let i = 0; i < model.length; i++) model[i] = (i * 7919) & 0xff;
    const bytes = Buffer.from(await page.evaluate((m) => Array.from(window.QuickActionsLib.makeZip([
      { name: 'ovra-multi-2parts.lbr', data: new TextEncoder().encode('<eagle>µ</eagle>') },
      { name: 'SOIC8.step', data: new Uint8Array(m) },
      { name: 'Stecker 2×5.step', data: new Uint8Array([1, 2, 3]) },
    ])), Array.from(model)));
    const entries = readZip(bytes);
    assert.deepEqual(entries.map((e) => [e.name, e.size, e.flags]), [
      ['ovra-multi-2parts.lbr', 17, 0], ['SOIC8.step', 70000, 0], ['Stecker 2×5.step', 3, 0x0800]]);
    assert.deepEqual(entries[1].data, model);
    const file = path.join(sandbox.tmp, 'bundle.zip');
    fs.writeFileSync(file, bytes);
    const unzip = spawnSync('unzip', ['-t', file], { encoding: 'utf8' });
    assert.equal(unzip.status, 0, unzip.stdout + unzip.stderr);
    assert.match(unzip.stdout, /No errors detected/);
  });

  test('bundles are staged in 1 MiB chunks, the last one final', async () => {
    const runs = await page.evaluate(async () => {
      const { stageBundle } = window.QuickActionsLib;
      const stage = async (size, replies = () => ({})) => {
        const calls = [];
        const staged = await stageBundle(new Uint8Array(size), '~/ovra-wiki-libs/x.zip', async (args) => {
          calls.push({ offset: args.offset, final: args.final, createDirs: args.createDirs, len: atob(args.dataB64).length, path: args.path });
          return replies(args, calls.length);
        });
        return { staged, calls };
      };
      return {
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
    });
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

describe('generic patterns and library fill-ups', () => {
  let page;
  before(async () => { page = await openPage(); });
  after(() => page.close());

  const fill = (text, record) => page.evaluate(([t, r]) => {
    const fills = [];
    const out = window.QuickActionsLib.fillLibrary(t, r, fills);
    return { out, same: out === t, fills };
  }, [text, record]);

  test('both generic patterns match whole texts in any case', async () => {
    const r = await page.evaluate(() => {
      const { GENERIC_NAME, GENERIC_DESCRIPTION } = window.QuickActionsLib;
      const names = ['R', 'r', 'LED', 'fb', 'Conn_02x05_Odd_Even', 'Crystal', 'Crystal_GND24', 'Resistor', 'LM358', 'RC', 'Conn_2', 'Crystal-GND24', 'R ', 'XTAL'];
      const descs = ['Resistor', 'LIGHT EMITTING DIODE', 'Generic connector, double row', 'MOSFET N-channel', 'four pin crystal, GND on 2 and 4',
        'Precision resistor array', 'Resistor network', 'ferrite bead', 'diode array'];
      return { names: names.filter((n) => GENERIC_NAME.test(n)), descs: descs.filter((d) => GENERIC_DESCRIPTION.test(d)) };
    });
    assert.deepEqual(r.names, ['R', 'r', 'LED', 'fb', 'Conn_02x05_Odd_Even', 'Crystal', 'Crystal_GND24', 'Resistor']);
    assert.deepEqual(r.descs, ['Resistor', 'LIGHT EMITTING DIODE', 'Generic connector, double row', 'MOSFET N-channel', 'four pin crystal, GND on 2 and 4', 'ferrite bead']);
  });

  test('a generic R from owner/rc0603 with a title and no symbol becomes RC0603 with an MPN in every technology', async () => {
    const text = LIB(`<devicesets><deviceset name="R" prefix="R"><description>Resistor</description><devices>
      <device name="0603" package="R0603"><technologies><technology name=""/><technology name="-1%"><attribute name="TOLERANCE" value="1%"/></technology></technologies></device>
      <device name="0805" package="R0805"/></devices></deviceset></devicesets>`);
    const r = await fill(text, { ref: 'owner/rc0603', title: 'RC0603 resistor', brief: '', mpn: '' });
    assert.deepEqual(r.fills, [
      { deviceset: 'R', field: 'name -> RC0603', from: 'owner/rc0603' },
      { deviceset: 'RC0603', field: 'MPN', from: 'owner/rc0603' },
    ]);
    const lib = await inspect(page, r.out);
    assert.deepEqual(lib.devicesets, [{
      name: 'RC0603', firstChild: 'description', description: 'Resistor', devices: [
        { name: '0603', techs: [{ name: '', attrs: [['MPN', 'RC0603', 'no']] }, { name: '-1%', attrs: [['TOLERANCE', '1%', null], ['MPN', 'RC0603', 'no']] }] },
        { name: '0805', techs: [{ name: '', attrs: [['MPN', 'RC0603', 'no']] }] },
      ],
    }]);
    assert.match(r.out, /^<\?xml version="1.0" encoding="utf-8"\?>\s*<!DOCTYPE eagle SYSTEM "eagle.dtd">\s*<eagle version="9.6.2">/);
  });

  test('a real name stays; an mpn in lower case counts, a blank MPN gets a second one', async () => {
    const text = LIB(`<devicesets><deviceset name="LM358"><description>Dual operational amplifier</description><devices><device name="D">
      <technologies><technology name=""><attribute name="mpn" value="LM358DR"/></technology><technology name="A"><attribute name="MPN" value="  "/></technology></technologies>
      </device></devices></deviceset></devicesets>`);
    const r = await fill(text, { ref: 'sefa/lm358-dual', title: 'LM358', brief: 'Dual op-amp', mpn: ' LM358 ' });
    assert.deepEqual(r.fills, [{ deviceset: 'LM358', field: 'MPN', from: 'sefa/lm358-dual' }]);
    const ds = (await inspect(page, r.out)).devicesets[0];
    assert.equal(ds.name, 'LM358');
    assert.equal(ds.description, 'Dual operational amplifier');
    assert.deepEqual(ds.devices[0].techs, [
      { name: '', attrs: [['mpn', 'LM358DR', null]] },
      { name: 'A', attrs: [['MPN', '  ', null], ['MPN', 'LM358', 'no']] },
    ]);
  });

  test('descriptions: generic ones take the brief, specific ones stay, missing ones are created first', async () => {
    const text = LIB(`<devicesets>
      <deviceset name="R"><description>Resistor</description><devices/></deviceset>
      <deviceset name="RN4"><description>Precision resistor array</description><devices/></deviceset>
      <deviceset name="U1"><gates/><devices/></deviceset>
      <deviceset name="U2"><description>   </description><devices/></deviceset></devicesets>`);
    const r = await fill(text, { ref: 'sefa/precision-array', title: 'Array', brief: 'Four matched <10 k> resistors & more', mpn: 'R' });
    const lib = await inspect(page, r.out);
    assert.deepEqual(lib.devicesets.map((d) => [d.name, d.description, d.firstChild]), [
      ['PRECISION-ARRAY', 'Four matched <10 k> resistors & more', 'description'],
      ['RN4', 'Precision resistor array', 'description'],
      ['U1', 'Four matched <10 k> resistors & more', 'description'],
      ['U2', 'Four matched <10 k> resistors & more', 'description'],
    ]);
    assert.deepEqual(r.fills.map((f) => `${f.deviceset} ${f.field}`), [
      'R name -> PRECISION-ARRAY', 'PRECISION-ARRAY description', 'U1 description', 'U2 description']);
    assert.match(r.out, /Four matched &lt;10 k&gt; resistors &amp; more/);
  });

  test('part numbers are cleaned into names; two generic devicesets never share one', async () => {
    const text = LIB(`<devicesets><deviceset name="J"><devices/></deviceset><deviceset name="C"><devices/></deviceset></devicesets>`);
    const r = await fill(text, { ref: 'sefa/odd-names', title: 'Header', brief: '', mpn: 'FTSH 105/01 (rev c)' });
    assert.deepEqual((await inspect(page, r.out)).devicesets.map((d) => d.name), ['FTSH_105_01_rev_c_', 'C']);
    assert.deepEqual(r.fills, [{ deviceset: 'J', field: 'name -> FTSH_105_01_rev_c_', from: 'sefa/odd-names' }]);
  });

  test('libraries come back as fetched when nothing applies or they cannot be read', async () => {
    const complete = LIB(`<devicesets><deviceset name="OPA2333"><description>Zero-drift op-amp</description><devices><device name="">
      <technologies><technology name=""><attribute name="MPN" value="OPA2333AIDR"/></technology></technologies></device></devices></deviceset></devicesets>`);
    const generic = LIB('<devicesets><deviceset name="R"><devices/></deviceset></devicesets>');
    const cases = [
      await fill(complete, { ref: 'sefa/opa2333-soic', title: 'OPA2333', brief: 'op-amp', mpn: 'OPA2333AIDR' }),
      await fill(generic, { ref: 'sefa/x', title: '', brief: '', mpn: 'X1' }),
      await fill(generic, null),
      await fill('<eagle><library><devicesets><deviceset name="R">', { ref: 'sefa/x', title: 'x', brief: 'y', mpn: '' }),
    ];
    assert.deepEqual(cases.map((c) => [c.same, c.fills.length]), [[true, 0], [true, 0], [true, 0], [true, 0]]);
  });
});

describe('merging libraries', () => {
  let page;
  before(async () => { page = await openPage(); });
  after(() => page.close());

  const merge = (texts) => page.evaluate((t) => {
    const skipped = [];
    const out = window.QuickActionsLib.mergeLibraries(t, (i) => skipped.push(i));
    return { out, skipped };
  }, texts);

  const first = LIB(`<packages><package name="SOIC8"><description>first SOIC8</description></package><package name="DIP8"/></packages>
    <packages3d><package3d name="SOIC8" urn="urn:first"/></packages3d>
    <symbols><symbol name="OPAMP"/></symbols>
    <devicesets><deviceset name="LM358"/></devicesets>`);
  const second = LIB(`<packages><package name="SOIC8"><description>second SOIC8</description></package><package name="SOT23"/></packages>
    <packages3d><package3d name="SOIC8" urn="urn:second"/></packages3d>
    <symbols><symbol name="OPAMP"/><symbol name="OPAMP_PWR"/></symbols>
    <devicesets><deviceset name="OPA2333"/><deviceset name="LM358"/></devicesets>`);

  test('the first library to bring a name wins; packages3d of all are kept', async () => {
    const r = await merge([first, second]);
    const lib = await inspect(page, r.out);
    assert.deepEqual(lib.packages, [['SOIC8', 'first SOIC8'], ['DIP8', null], ['SOT23', null]]);
    assert.deepEqual(lib.packages3d, ['urn:first', 'urn:second']);
    assert.deepEqual(lib.symbols, ['OPAMP', 'OPAMP_PWR']);
    assert.deepEqual(lib.devicesets.map((d) => d.name), ['LM358', 'OPA2333']);
    assert.deepEqual(r.skipped, []);
    assert.match(r.out, /^<\?xml version="1.0" encoding="utf-8"\?>\s*<!DOCTYPE eagle SYSTEM "eagle.dtd">\s*<eagle version="9.6.2"><drawing><settings>/);
  });

  test('missing sections of the base are created; one library comes back unchanged', async () => {
    const bare = LIB('<description>base</description>');
    const r = await merge([bare, second]);
    const lib = await inspect(page, r.out);
    assert.deepEqual(lib.packages, [['SOIC8', 'second SOIC8'], ['SOT23', null]]);
    assert.deepEqual(lib.packages3d, ['urn:second']);
    assert.deepEqual(lib.devicesets.map((d) => d.name), ['OPA2333', 'LM358']);
    const single = await merge(['<not even xml']);
    assert.deepEqual(single, { out: '<not even xml', skipped: [] });
  });

  test('a library that is not XML is left out and reported', async () => {
    const r = await merge(['<eagle><library>', first, second]);
    assert.deepEqual(r.skipped, [0]);
    assert.deepEqual((await inspect(page, r.out)).packages.map((p) => p[1]), ['first SOIC8', null, null]);
  });
});

describe('part records, sets, references and the owner catalog', () => {
  let page;
  before(async () => { page = await openPage(); });
  after(() => page.close());

  test('reading part pages from the wiki', async () => {
    const records = await page.evaluate(async (base) => {
      const { readPartPage } = window.QuickActionsLib;
      const read = (ref) => readPartPage(ref, base).then((r) => r, (e) => `ERR ${e.message}`);
      return Promise.all(['sefa/dac80504', 'sefa/rc0603', 'sefa/precision-array', 'sefa/no-library', 'sefa/nothing-here', 'sefa/../etc'].map(read));
    }, wiki.url);
    const api = `${wiki.url}/api/v1/pages`;
    const dacLbr = fs.statSync(new URL('../../sim/browser-side/fixtures/sefa/dac80504/files/DAC80504.lbr', import.meta.url)).size;
    const dacStep = fs.statSync(new URL('../../sim/browser-side/fixtures/sefa/dac80504/files/DAC80504ZRTER.step', import.meta.url)).size;
    assert.deepEqual(records[0], {
      ref: 'sefa/dac80504', name: 'dac80504', title: 'DAC80504', brief: 'Quad 16-bit voltage-output DAC with a 2.5 V reference and SPI',
      mpn: 'DAC80504ZRTER',
      lbr: { name: 'DAC80504.lbr', url: `${api}/sefa/dac80504/files/DAC80504.lbr`, size: dacLbr },
      steps: [{ name: 'DAC80504ZRTER.step', url: `${api}/sefa/dac80504/files/DAC80504ZRTER.step`, size: dacStep }],
      lastCommit: 1749202877,
    });
    assert.equal(records[1].mpn, '');
    assert.equal(records[1].title, 'RC0603 thick-film resistor');
    assert.equal(records[2].mpn, 'R');
    assert.deepEqual(records[2].steps, []);
    assert.deepEqual(records.slice(3), ['ERR sefa/no-library publishes no .lbr', 'ERR sefa/nothing-here: wiki answered 404', 'ERR sefa/../etc is not a wiki page reference']);
  });

  test('a page record or symbol file that cannot be read only loses its metadata', async () => {
    await wiki.control('/sim/fail', { page: { 'sefa/dac80504': 500 }, file: { 'sefa/dac80504/DAC80504.kicad_sym': 503 } });
    try {
      const r = await page.evaluate((base) => window.QuickActionsLib.readPartPage('sefa/dac80504', base), wiki.url);
      assert.deepEqual([r.title, r.brief, r.mpn, r.lbr.name], ['', '', '', 'DAC80504.lbr']);
    } finally {
      await wiki.control('/sim/reset', {});
    }
  });

  test('part sets: names, libraries and models', async () => {
    const r = await page.evaluate(() => {
      const { buildPartSet } = window.QuickActionsLib;
      const rec = (ref, steps) => ({ ref, name: ref.split('/').pop(), lbr: { name: ref.split('/').pop() + '.lbr' }, steps: steps.map((n) => ({ name: n, url: 'u/' + n, size: 1 })) });
      const three = [rec('a/one', ['x.step', 'SOIC8.step']), rec('b/two', []), rec('c/three', ['soic8.STEP', '../evil.stp'])];
      const set = buildPartSet(['a/one', 'b/two', 'c/three'], three, false);
      return {
        multi: [set.name, set.multi, set.lbr.name, set.steps.map((s) => [s.name, s.entry])],
        skipped: buildPartSet(['a/one', 'b/two', 'c/three'], three, true).steps,
        single: (({ name, multi, refs }) => ({ name, multi, refs }))(buildPartSet(['a/one'], [three[0]], false)),
      };
    });
    assert.deepEqual(r.multi, ['ovra-multi-3parts', true, 'one.lbr', [['x.step', 'x.step'], ['SOIC8.step', 'SOIC8.step'], ['soic8.STEP', 'soic8-2.STEP'], ['../evil.stp', 'evil.stp']]]);
    assert.deepEqual(r.skipped, []);
    assert.deepEqual(r.single, { name: 'one', multi: false, refs: ['a/one'] });
  });

  test('input forms: commas, slashes, multi-pick', async () => {
    const r = await page.evaluate(() => {
      const { splitRefs, pickRefs, safeName } = window.QuickActionsLib;
      return {
        split: splitRefs(' /sefa/a/ , ,tolm/b//,  / ,sefa/c'),
        empty: splitRefs(' , ,'),
        fresh: pickRefs('sefa/dac80504', 'sefa/x', false, false),
        add: pickRefs('sefa/x', 'sefa/y', false, true),
        remove: pickRefs('sefa/x, sefa/y', 'sefa/x', true, true),
        name: safeName('ovra multi/3 parts?'),
      };
    });
    assert.deepEqual(r, {
      split: ['sefa/a', 'tolm/b', 'sefa/c'], empty: [], fresh: ['sefa/x'], add: ['sefa/x', 'sefa/y'], remove: ['sefa/y'], name: 'ovra_multi_3_parts_',
    });
  });

  test('owner catalog, chips and dates', async () => {
    const r = await page.evaluate(() => {
      const { parseCatalog, drawChips, formatDate, stripYear } = window.QuickActionsLib;
      const pages = [];
      for (let i = 0; i < 200; i++) pages.push({ owner: 'sefa', slug: 'p' + i, kind: 'component', last_commit_at: '2025-01-01 00:00:' + String(i % 60).padStart(2, '0') + '.' + String(i).padStart(3, '0') });
      pages.push({ owner: 'sefa', slug: 'guide', kind: 'guide', last_commit_at: '2099-01-01' });
      const cat = parseCatalog({ pages });
      const rank = new Map(cat.list.map((p, i) => [p.slug, i]));
      let seed = 7;
      const rng = () => { seed = (seed * 16807) % 2147483647; return (seed - 1) / 2147483646; };
      const draws = [];
      for (let k = 0; k < 50; k++) draws.push(drawChips(cat.list, 6, rng).map((p) => rank.get(p.slug)));
      return {
        count: cat.list.length, hasGuide: cat.byRef.has('sefa/guide'), newest: cat.list[0].slug, sorted: cat.list.every((p, i, a) => i === 0 || a[i - 1].last_commit_at >= p.last_commit_at),
        maxRank: Math.max(...draws.flat()), distinct: draws.every((d) => d.length === 6 && new Set(d).size === 6), few: drawChips(cat.list.slice(0, 4), 6).length,
        dates: [formatDate(Date.UTC(2025, 5, 6, 9, 41)), formatDate('2025-06-06 09:41:17'), formatDate('soon'), formatDate(''), stripYear(formatDate('2025-06-06 09:41:17'))],
        lookup: cat.byRef.get('sefa/p5').slug,
      };
    });
    assert.deepEqual(r, {
      count: 200, hasGuide: false, newest: 'p179', sorted: true, maxRank: r.maxRank, distinct: true, few: 4,
      dates: ['Jun 6, 2025, 09:41 AM', 'Jun 6, 2025, 09:41 AM', 'soon', '', 'Jun 6, 09:41 AM'], lookup: 'p5',
    });
    assert.ok(r.maxRank < 120, `a chip came from beyond the 120 newest pages (rank ${r.maxRank})`);
  });
});

describe('listener replies', () => {
  let page;
  before(async () => { page = await openPage(); });
  after(() => page.close());

  test('reading replies: payload, success and error precedence', async () => {
    const r = await page.evaluate(() => {
      const { readReply } = window.QuickActionsLib;
      const pick = (x) => ({ ok: x.ok, payload: x.payload, message: x.message, code: x.code });
      return [
        readReply(200, '{"success":true,"data":{"a":1}}'),
        readReply(200, '{"a":1,"data":"text"}'),
        readReply(200, '{"success":true,"data":{"success":false,"error":"inner","errorCode":"E1"},"error":"outer"}'),
        readReply(200, '{"errorCode":"run_not_found","data":{}}'),
        readReply(403, '{"error":"not allowed"}'),
        readReply(502, 'Bad Gateway'),
        readReply(200, '[1,2]'),
        readReply(200, 'null'),
      ].map(pick);
    });
    assert.deepEqual(r, [
      { ok: true, payload: { a: 1 }, message: undefined, code: undefined },
      { ok: true, payload: { a: 1, data: 'text' }, message: undefined, code: undefined },
      { ok: false, payload: { success: false, error: 'inner', errorCode: 'E1' }, message: 'inner', code: 'E1' },
      { ok: false, payload: {}, message: 'run_not_found', code: 'run_not_found' },
      { ok: false, payload: { error: 'not allowed' }, message: 'not allowed', code: 'web_denied' },
      { ok: false, payload: {}, message: 'HTTP 502', code: '' },
      { ok: true, payload: [1, 2], message: undefined, code: undefined },
      { ok: true, payload: {}, message: undefined, code: undefined },
    ]);
  });

  test('log summaries, poll failures, lint texts and verb catalogs', async () => {
    const r = await page.evaluate(() => {
      const L = window.QuickActionsLib;
      const err = (message, extra) => Object.assign(new Error(message), extra);
      return {
        summaries: [
          L.summarize({ tick: 4, stage: 'binding', error: '', success: true, runId: null, evidenceCount: 8, status: { long: 'x'.repeat(80) } }),
          L.summarize({ alpha: 1, beta: 2, gamma: 3, delta: 4, epsilon: 5, zeta: 6, eta: 7 }),
          L.summarize('plain text'),
          L.summarize(42),
        ],
        polls: [
          err('no prove run run-9 on file'), err('x', { code: 'unknown_run_id' }), err('signal timed out'), err('HTTP 503'),
          err('bridge busy', { status: 502 }), err('Failed to fetch', { code: 'unreachable' }), err('main_thread_busy: try later'),
          err('the zip is corrupt'), err('HTTP 404'),
        ].map(L.pollFailureKind),
        lints: [
          L.lintText({ ok: true }),
          L.lintText({ ok: false, componentsTotal: 4, missingCounts: { MPN: 1, MANUFACTURER: 0, MOUSER_PN: 3 }, componentsWithoutAnyDistributor: 2 }),
          L.lintText({ ok: false, variantsTotal: 1, missingCounts: {} }),
          L.lintText({ ok: false, missingCounts: { MANUFACTURER: 2 } }),
          L.lintText(undefined),
        ],
        catalogs: [
          L.catalogEntries({ verbs: [{ name: 'fusion_a', description: 'A' }, { verb: 'fusion_b', desc: 'B' }, 'fusion_c'] }),
          L.catalogEntries({ commands: [{ name: 'x', summary: 'S' }] }),
          L.catalogEntries([{ name: 'listed' }]),
          L.catalogEntries({ catalog: { fusion_start: 'Start Fusion', fusion_stop: { description: 'Stop it' }, other: 'no' } }),
          L.catalogEntries({ something: 1 }),
        ],
      };
    });
    assert.deepEqual(r.summaries, [
      `success=true stage="binding" tick=4 status={"long":"${'x'.repeat(51)} evidenceCount=8`,
      'alpha,beta,gamma,delta,epsilon,zeta',
      'plain text',
      '42',
    ]);
    assert.deepEqual(r.polls, ['not_filed', 'not_filed', 'transient', 'transient', 'transient', 'transient', 'transient', 'fatal', 'fatal']);
    const tail = '. The import is fine; the BOM will be blank for it until the numbers are added upstream.';
    assert.deepEqual(r.lints, [
      { ok: true, text: 'every component carries a manufacturer part number and a distributor number.' },
      { ok: false, text: `3 of 4 components missing manufacturer part number, a distributor number (Mouser, DigiKey or LCSC)${tail}` },
      { ok: false, text: `1 of 1 component missing part numbers${tail}` },
      { ok: false, text: `missing manufacturer${tail}` },
      null,
    ]);
    assert.deepEqual(r.catalogs, [
      [{ name: 'fusion_a', description: 'A' }, { name: 'fusion_b', description: 'B' }, { name: 'fusion_c', description: '' }],
      [{ name: 'x', description: 'S' }],
      [{ name: 'listed', description: '' }],
      [{ name: 'fusion_start', description: 'Start Fusion' }, { name: 'fusion_stop', description: 'Stop it' }],
      [],
    ]);
  });
});
