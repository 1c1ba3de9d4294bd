#!/usr/bin/env node
// Regenerates the two web fonts embedded in web/newbie-panel.js, and their licence texts in
// LICENSES/, from the fonts' npm packages (package.json pins their versions; scripts/setup.sh
// installs them). The C++ build compiles the committed bytes and never needs npm; run this after
// changing a font version. With --check it changes nothing and exits 1 when a file is out of date.
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');

// The Latin subset of each variable font, normal style: the panel's texts are English.
const FONTS = [
  { variable: 'FAMILJEN_WOFF2', pkg: '@fontsource-variable/familjen-grotesk', file: 'familjen-grotesk-latin-wght-normal.woff2',
    licence: 'LICENSES/OFL-FamiljenGrotesk.txt' },
  { variable: 'FIGTREE_WOFF2', pkg: '@fontsource-variable/figtree', file: 'figtree-latin-wght-normal.woff2',
    licence: 'LICENSES/OFL-Figtree.txt' },
];
const PANEL = 'web/newbie-panel.js';

const packageFile = (font, name) => path.join(ROOT, 'node_modules', font.pkg, name);

// Every file this script writes, with the content it should have.
function wanted() {
  let panel = fs.readFileSync(path.join(ROOT, PANEL), 'utf8');
  const out = [];
  for (const font of FONTS) {
    const line = new RegExp(`^(  var ${font.variable} = ')[A-Za-z0-9+/=]*(';)$`, 'm');
    if (!line.test(panel)) throw new Error(`${PANEL} has no line "var ${font.variable} = '...';" to fill`);
    const b64 = fs.readFileSync(packageFile(font, `files/${font.file}`)).toString('base64');
    panel = panel.replace(line, (m, head, tail) => head + b64 + tail);
    out.push([font.licence, fs.readFileSync(packageFile(font, 'LICENSE'))]);
  }
  out.push([PANEL, Buffer.from(panel, 'utf8')]);
  return out;
}

function main() {
  const check = process.argv.includes('--check');
  let stale = 0;
  for (const [rel, content] of wanted()) {
    const file = path.join(ROOT, rel);
    const same = fs.existsSync(file) && fs.readFileSync(file).equals(content);
    if (same) continue;
    stale++;
    if (check) {
      console.log(`embed-fonts: ${rel} differs from the font packages in node_modules`);
    } else {
      fs.mkdirSync(path.dirname(file), { recursive: true });
      fs.writeFileSync(file, content);
      console.log(`embed-fonts: wrote ${rel}`);
    }
  }
  if (check && stale) {
    console.log('embed-fonts: run node scripts/embed-fonts.mjs (after npm ci) to bring them in line');
    process.exit(1);
  }
  if (!stale) console.log('embed-fonts: everything matches the font packages');
}

if (process.argv[1] && path.resolve(process.argv[1]) === fileURLToPath(import.meta.url)) main();
