#!/usr/bin/env node
// The two web fonts of the newbie panel come from the fonts' npm packages (package.json pins their
// versions; scripts/setup.sh installs them): fontConstants() gives scripts/build-web.mjs the bytes
// it embeds into /newbie-panel.js, and running this script writes their licence texts to
// LICENSES/. Run it after changing a font version. With --check it changes nothing and exits 1
// when a licence text is out of date.
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

const packageFile = (font, name) => path.join(ROOT, 'node_modules', font.pkg, name);

// Fills the panel's font module (web/panel/fonts.js): each `export const NAME = '';` gets the
// base64 of its font's woff2 file.
export function fontConstants() {
  const b64 = new Map(FONTS.map((f) => [f.variable, fs.readFileSync(packageFile(f, `files/${f.file}`)).toString('base64')]));
  return (text) => {
    for (const [variable, bytes] of b64) {
      const line = new RegExp(`^(export const ${variable} = ')(';)$`, 'm');
      if (!line.test(text)) throw new Error(`web/panel/fonts.js has no line "export const ${variable} = '';" to fill`);
      text = text.replace(line, (m, head, tail) => head + bytes + tail);
    }
    return text;
  };
}

// Fills a page's style sheet (web/kit/fonts.css): each `url('<package>')` naming a font package
// becomes the data URL of its woff2 file; a package not listed above is refused.
export function fontUrls() {
  const data = new Map(FONTS.map((f) => [f.pkg, fs.readFileSync(packageFile(f, `files/${f.file}`)).toString('base64')]));
  return (rel, text) => text.replace(/url\('(@fontsource[^']*)'\)/g, (m, pkg) => {
    if (!data.has(pkg)) throw new Error(`${rel}: ${pkg} is not one of the embedded font packages`);
    return `url(data:font/woff2;base64,${data.get(pkg)})`;
  });
}

// Every file this script writes, with the content it should have.
function wanted() {
  return FONTS.map((font) => [font.licence, fs.readFileSync(packageFile(font, 'LICENSE'))]);
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
