import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import { makeSandbox, runCli } from '../helpers/harness.mjs';

const USAGE = `loomdeck v1.10.20 - the gantry's Launch Page
  serve [--port 8930] [--target <box>] [--print-url]      serve the Dashboard (SSE live channel included)
  status [--target <box>]                                 one-shot LED JSON
  ui toast "msg" [--kind ok|err|info] [--port]            narrate a toast over the running app
  ui click <setup|start|stop|tour|import-part|settings|refresh>   drive the real UI
  ui state | ui console                                   observe the running app
  mcp [--port <port>]                                     the running app's tools for AI agents (MCP over stdio)
  watch [--target <box>] [--events state,progress,toast,click,logbook]   one JSON line per live event
  open [--pup (default) | --webview] [--target <box>]     put the Dashboard on a surface (pup = background window)
  health                                                  liveness
  (global: --ai-thread <name> attributes bridge calls in the Activity Log)
Hint: \`loomdeck serve --print-url\` is the Brindle dock launch step.
`;

test('usage text for no verb, help, unknown verbs and a misplaced option, exit 0', () => {
  const sb = makeSandbox();
  for (const args of [[], ['help'], ['frobnicate'], ['--ai-thread', 't7', 'status']]) {
    const r = runCli(sb, args);
    assert.equal(r.status, 0, args.join(' '));
    assert.equal(r.stdout, USAGE, args.join(' '));
    assert.equal(r.stderr, '');
  }
  sb.cleanup();
});

test('health needs no server and ignores an option without a value', () => {
  const sb = makeSandbox();
  const r = runCli(sb, ['health', '--ai-thread']);
  assert.equal(r.status, 0);
  assert.equal(r.stdout, 'OK: loomdeck v1.10.20\n');
  sb.cleanup();
});

test('serve on a busy port names that port and how to pick another', async () => {
  const sb = makeSandbox();
  const holder = net.createServer();
  await new Promise((resolve) => holder.listen(0, '0.0.0.0', resolve));
  const port = holder.address().port;
  try {
    const r = runCli(sb, ['serve', '--port', String(port)]);
    assert.equal(r.status, 1);
    assert.equal(r.stdout, '');
    assert.equal(r.stderr, `ERROR: cannot bind port ${port}: Address already in use\nHint: Another program (or another loomdeck) holds port ${port} - \`loomdeck ui state --port ${port}\` tells whether it is loomdeck; serve on another port with \`loomdeck serve --port <port>\`, or leave --port out to take the first free one of 8930-8940.\n`);
  } finally {
    holder.close();
    sb.cleanup();
  }
});

test('-h and --help after any verb print that verb\'s help and start nothing', () => {
  const sb = makeSandbox();
  for (const [verb, ...rest] of [['serve', '--help'], ['serve', '--port', '8999', '-h'], ['status', '--help'], ['ui', 'toast', '-h'],
    ['mcp', '--help'], ['watch', '-h'], ['open', '--help'], ['health', '-h']]) {
    const r = runCli(sb, [verb, ...rest]);
    const what = [verb, ...rest].join(' ');
    assert.equal(r.status, 0, what);
    assert.ok(r.stdout.startsWith(`usage: loomdeck ${verb}`), `${what}: ${r.stdout}`);
    assert.doesNotMatch(r.stdout, /^OK: /m, what);
    assert.equal(r.stderr, '', what);
  }
  // Nothing was started, so nothing made the server's files.
  assert.equal(fs.existsSync(path.join(sb.home, '.ovra', 'loomdeck', 'token')), false);
  sb.cleanup();
});
