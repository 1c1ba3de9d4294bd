// The newbie panel's embedded fonts come from the fonts' npm packages: the script loomdeck serves
// holds exactly those packages' woff2 files, their licence texts ship in LICENSES/, and the
// regeneration script finds nothing to change.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { ROOT, makeSandbox, startServer } from '../helpers/harness.mjs';

const FONTS = [
  ['@fontsource-variable/familjen-grotesk', 'familjen-grotesk-latin-wght-normal.woff2', 'LICENSES/OFL-FamiljenGrotesk.txt'],
  ['@fontsource-variable/figtree', 'figtree-latin-wght-normal.woff2', 'LICENSES/OFL-Figtree.txt'],
];
const pkgFile = (pkg, ...rest) => fs.readFileSync(path.join(ROOT, 'node_modules', pkg, ...rest));

let sb;
let srv;
before(async () => {
  sb = makeSandbox({ withSim: false });
  srv = await startServer(sb);
});
after(async () => {
  await srv.stop();
  sb.cleanup();
});

test('the served panel embeds exactly the packages\' woff2 files and points at their licences', async () => {
  const script = await (await fetch(`${srv.url}/newbie-panel.js`)).text();
  // Every woff2 file in the script: base64 of the "wOF2" signature starts with "d09GMg".
  const embedded = [...script.matchAll(/'(d09GMg[A-Za-z0-9+/=]*)'/g)].map((m) => Buffer.from(m[1], 'base64'));
  assert.equal(embedded.length, FONTS.length);
  FONTS.forEach(([pkg, file], i) => assert.ok(embedded[i].equals(pkgFile(pkg, 'files', file)), `${pkg} ${file}`));
  for (const [pkg, , licence] of FONTS) {
    assert.ok(fs.readFileSync(path.join(ROOT, licence)).equals(pkgFile(pkg, 'LICENSE')), licence);
    assert.match(pkgFile(pkg, 'package.json').toString(), /"license": "OFL-1\.1"/);
  }
  // The style sheet's comment, one string of the sheet once its concatenated pieces are joined.
  const comment = /'\/\* Familjen Grotesk:[^']*\*\/'/.exec(script.replace(/'\s*\+\s*'/g, ''));
  assert.ok(comment, 'the style sheet carries the fonts\' comment');
  for (const [, , licence] of FONTS) assert.ok(comment[0].includes(licence), licence);
});

test('regenerating the embedded fonts from the packages changes nothing', () => {
  const r = spawnSync(process.execPath, [path.join(ROOT, 'scripts', 'embed-fonts.mjs'), '--check'], { encoding: 'utf8' });
  assert.equal(r.status, 0, r.stdout + r.stderr);
  assert.equal(r.stdout, 'embed-fonts: everything matches the font packages\n');
});
