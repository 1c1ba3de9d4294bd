// The quick-actions page's logic that needs the browser (window.QuickActionsLib), called in the
// page as loomdeck serves it: filling and merging part libraries (the XML parser), reading part
// pages from the wiki, part sets, the owner catalog, chips and dates (the browser's locale). The
// plain logic is tested in node: tests/web/.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';
import { makeSandbox, startServer } from '../helpers/harness.mjs';
import { startStandIn } from '../../sim/browser-side/start.mjs';

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

describe('generic patterns and library fill-ups', () => {
  let page;
  before(async () => { page = await openPage(); });
  after(() => page.close());

  const fill = (text, record) => page.evaluate(([t, r]) => {
    const fills = [];
    const out = window.QuickActionsLib.fillLibrary(t, r, fills);
    return { out, same: out === t, fills };
  }, [text, record]);

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
