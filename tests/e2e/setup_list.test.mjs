// scripts/setup.sh must install every program the tests and the programs under test run, or the
// test command fails on a fresh machine. The programs are found where they are started: spawn and
// exec calls in the JavaScript, argument vectors in the C++ of loomdeck and the stand-ins.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { ROOT } from '../helpers/harness.mjs';

// Program -> the Debian package that brings it, for every outside program that a test, a program
// under test, a stand-in or the build, test and demo scripts run.
const PACKAGE_OF = {
  curl: 'curl', mkfifo: 'coreutils', setsid: 'util-linux', setarch: 'util-linux', unshare: 'util-linux', nsenter: 'util-linux', unzip: 'unzip', 'espeak-ng': 'espeak-ng', lame: 'lame',
  chromium: 'chromium', cmake: 'cmake', ninja: 'ninja-build', 'c++': 'build-essential', 'clang++': 'clang',
  'clang-format': 'clang-format', 'run-clang-tidy': 'clang-tidy',
  node: 'nodejs', npm: 'npm',
};
// Built by this repository (or the running Node.js itself).
const BUILT_HERE = new Set(['loomdeck', 'ovra-bridge', 'ovra-wiki', 'ovra-tts', 'ovra-cli']);

function files(dir, pattern) {
  const out = [];
  for (const entry of fs.readdirSync(path.join(ROOT, dir), { withFileTypes: true })) {
    const rel = path.join(dir, entry.name);
    if (entry.isDirectory()) out.push(...files(rel, pattern));
    else if (pattern.test(entry.name)) out.push(rel);
  }
  return out;
}

// [program, file] for every program started with a literal name.
function startedPrograms() {
  const found = [];
  const scan = (rel, re, name) => {
    for (const m of fs.readFileSync(path.join(ROOT, rel), 'utf8').matchAll(re)) found.push([name(m), rel]);
  };
  for (const rel of ['tests', 'sim/browser-side', 'scripts', 'bench'].flatMap((d) => files(d, /\.m?js$/))) {
    scan(rel, /\b(?:spawn|spawnSync|execFile|execFileSync|exec|execSync)\(\s*(['"`])([^'"`$]+)\1/g, (m) => path.basename(m[2].trim().split(/\s+/)[0]));
    scan(rel, /\bexecutablePath:\s*(['"])([^'"]+)\1/g, (m) => path.basename(m[2]));
  }
  for (const rel of ['src', 'sim/src'].flatMap((d) => files(d, /\.(cc|h)$/))) {
    // An array of names (`kNames[] = {"a", ...}`) is no command line.
    scan(rel, /(?:return|(?<!\[\][ \t]*)=|run\()[ \t]*\{[ \t]*"([a-z][a-z0-9+._-]*)"\s*,/g, (m) => m[1]);
  }
  return found;
}

function setupPackages() {
  const m = /^packages=\(([^)]*)\)/m.exec(fs.readFileSync(path.join(ROOT, 'scripts', 'setup.sh'), 'utf8'));
  assert.ok(m, 'scripts/setup.sh has its packages=(...) list');
  return new Set(m[1].split(/\s+/).filter(Boolean));
}

test('every program a test or a program under test starts is installed by scripts/setup.sh', () => {
  const started = startedPrograms();
  const names = new Set(started.map(([p]) => p));
  // The scan itself must keep seeing the programs known to be started.
  for (const p of ['unzip', 'curl', 'setsid', 'espeak-ng', 'lame', 'chromium', 'ovra-bridge']) assert.ok(names.has(p), `scan found ${p}`);

  const unknown = started.filter(([p]) => !BUILT_HERE.has(p) && !(p in PACKAGE_OF));
  assert.deepEqual(unknown, [], 'programs started with no known Debian package: name each one\'s package in PACKAGE_OF ' +
    'above and add the package to scripts/setup.sh');
  const listed = setupPackages();
  const missing = [...new Set(Object.values(PACKAGE_OF))].filter((pkg) => !listed.has(pkg));
  assert.deepEqual(missing, [], 'packages that scripts/setup.sh does not install');
});
