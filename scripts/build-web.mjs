#!/usr/bin/env node
// Assembles the three documents loomdeck serves from the ES modules under web/:
//   index.html (web/dashboard/page.html), quick-actions.html (web/quick-actions/page.html) and
//   newbie-panel.js (web/panel/main.js)
// into OUT_DIR, each self-contained: a page's style sheets and scripts inline (a font a sheet names
// by its package, as web/kit/fonts.css does, as data), the panel one script that carries its style
// sheet (web/panel/style.css) as a string. A page names what it inlines: <style data-from="a.css b.css"></style>,
// <script data-from="entry.js"></script>. The CMake build runs this and embeds the output.
//   node scripts/build-web.mjs OUT_DIR
// The assembler joins the modules in import order inside one function scope and keeps every
// source byte otherwise, so the served script reads as written; it therefore refuses what the
// joining would change: a top-level name declared by two modules, renamed or default imports.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { fontConstants, fontUrls } from './embed-fonts.mjs';

const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const WEB = path.join(ROOT, 'web');

const IMPORT = /^import\s*\{([^}]*)\}\s*from\s*'([^']+)';[ \t]*\n/gm;
const DECLARATION = /^(?:export\s+)?(?:async\s+)?(?:function\*?|const|let|var|class)\s+([A-Za-z_$][\w$]*)/gm;

function fail(message) {
  console.error(`build-web: ${message}`);
  process.exit(1);
}

// The module's text with its imports and `export` keywords taken out, and the files it imports.
function readModule(file, fill) {
  let text = fs.readFileSync(file, 'utf8');
  if (fill) text = fill(path.relative(WEB, file), text);
  const deps = [];
  text = text.replace(IMPORT, (m, names, from) => {
    if (!from.startsWith('.')) fail(`${file}: imports '${from}'; the pages import only their own modules`);
    if (/\bas\b/.test(names)) fail(`${file}: renames an import; the joined script has one scope`);
    deps.push(path.resolve(path.dirname(file), from));
    return '';
  });
  if (/^import\b/m.test(text)) fail(`${file}: has an import this assembler does not read`);
  if (/^export\s+(default|\{|\*)/m.test(text)) fail(`${file}: exports other than declarations are not read`);
  return { text: text.replace(/^export\s+/gm, ''), deps };
}

// The modules of an entry, each after those it imports.
function ordered(entry, fill) {
  const done = new Map();
  const visit = (file, chain) => {
    if (done.has(file)) return;
    if (chain.includes(file)) fail(`import cycle: ${[...chain, file].map((f) => path.relative(WEB, f)).join(' -> ')}`);
    const mod = readModule(file, fill);
    for (const dep of mod.deps) visit(dep, [...chain, file]);
    done.set(file, mod.text);
  };
  visit(entry, []);
  return done;
}

function checkNames(modules) {
  const owner = new Map();
  for (const [file, text] of modules) {
    for (const [, name] of text.matchAll(DECLARATION)) {
      if (owner.has(name)) fail(`${name} is declared in both ${path.relative(WEB, owner.get(name))} and ${path.relative(WEB, file)}`);
      owner.set(name, file);
    }
  }
}

// One script: the entry's leading block comment, then every module in one strict function scope.
function bundle(entryRel, fill) {
  const modules = ordered(path.join(WEB, entryRel), fill);
  checkNames(modules);
  const parts = [...modules.values()];
  let head = '';
  const last = parts.length - 1;
  const lead = /^\/\*[\s\S]*?\*\/\n/.exec(parts[last]);
  if (lead) {
    head = lead[0];
    parts[last] = parts[last].slice(lead[0].length);
  }
  return `${head}(() => {\n'use strict';\n\n${parts.map((p) => p.trimEnd()).join('\n\n')}\n})();\n`;
}

// A style sheet whose braces do not pair would swallow the rules after it in the joined sheet.
function readSheet(rel) {
  const text = fs.readFileSync(path.join(WEB, rel), 'utf8');
  let depth = 0;
  for (const c of text.replace(/\/\*[\s\S]*?\*\//g, '').replace(/'[^'\n]*'|"[^"\n]*"/g, '')) {
    if (c === '{') depth++;
    else if (c === '}' && --depth < 0) break;
  }
  if (depth !== 0) fail(`${rel}: its braces do not pair`);
  return text;
}

// The design tokens of web/kit/tokens.css: name -> value, as first set (the dark palette; the
// light one follows in a media query).
function tokens() {
  const text = readSheet('kit/tokens.css');
  const values = new Map();
  for (const [, name, value] of text.matchAll(/(--[\w-]+)\s*:\s*([^;]+);/g)) if (!values.has(name)) values.set(name, value.trim());
  return values;
}

// Fills `export const PANEL_CSS = '';` of web/panel/style.js with the panel's style sheet. The
// pages that mount the panel have no tokens of their own, so each var() of a token becomes its value.
function panelStyle() {
  const values = tokens();
  const sheet = readSheet('panel/style.css').replace(/var\((--[\w-]+)\)/g, (m, name) => values.get(name) ?? m);
  // Only the panel's own properties may stay: a token renamed in tokens.css would leave a var() no page defines.
  const unknown = /var\(--(?!vnp-)[\w-]+\)/.exec(sheet);
  if (unknown) fail(`panel/style.css: ${unknown[0]} is no design token of kit/tokens.css`);
  return (text) => {
    const line = /^(export const PANEL_CSS = )'';$/m;
    if (!line.test(text)) fail("web/panel/style.js has no line \"export const PANEL_CSS = '';\" to fill");
    return text.replace(line, (m, head) => head + JSON.stringify(sheet) + ';');
  };
}

function assemble(templateRel, fillSheet) {
  const template = fs.readFileSync(path.join(WEB, templateRel), 'utf8');
  const sheet = (rel) => fillSheet(rel, readSheet(rel));
  return template
    .replace(/<style data-from="([^"]+)"><\/style>/g, (m, list) => `<style>\n${list.split(' ').map(sheet).join('')}</style>`)
    .replace(/<script data-from="([^"]+)"><\/script>/g, (m, entry) => `<script>\n${bundle(entry)}</script>`);
}

function main() {
  const out = process.argv[2];
  if (!out) fail('usage: node scripts/build-web.mjs OUT_DIR');
  // The fonts come from npm packages: a fresh machine installs them here, as scripts/setup.sh would.
  if (!fs.existsSync(path.join(ROOT, 'node_modules', '.package-lock.json'))) {
    const npm = spawnSync('npm', ['ci', '--no-audit', '--no-fund', '--loglevel=error'], { cwd: ROOT, stdio: 'inherit' });
    if (npm.status !== 0) fail('npm ci failed');
  }
  const fonts = fontConstants();
  const style = panelStyle();
  const fillPanel = (rel, text) => (rel === 'panel/fonts.js' ? fonts(text) : rel === 'panel/style.js' ? style(text) : text);
  const urls = fontUrls();
  const fillSheet = (rel, text) => {
    try { return urls(rel, text); } catch (e) { return fail(e.message); }
  };
  const documents = [
    ['index.html', assemble('dashboard/page.html', fillSheet)],
    ['quick-actions.html', assemble('quick-actions/page.html', fillSheet)],
    ['newbie-panel.js', bundle('panel/main.js', fillPanel)],
  ];
  fs.mkdirSync(out, { recursive: true });
  for (const [name, content] of documents) {
    const file = path.join(out, name);
    // An unchanged document keeps its time, so nothing that embeds it rebuilds.
    if (fs.existsSync(file) && fs.readFileSync(file, 'utf8') === content) continue;
    fs.writeFileSync(file, content);
  }
}

main();
