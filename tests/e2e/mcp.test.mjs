// `loomdeck mcp` driven by the official MCP client SDK over standard input and output.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';
import { EventSource } from 'eventsource';
import { LOOMDECK, checkStderr, makeSandbox, sim, startServer, waitFor } from '../helpers/harness.mjs';

test('an MCP client lists the tools and calls status, an unknown action and a toast', async () => {
  const sb = makeSandbox();
  sim(sb, 'reset', 'demo');
  const srv = await startServer(sb);
  const transport = new StdioClientTransport({ command: LOOMDECK, args: ['mcp', '--port', String(srv.port)], env: sb.env, stderr: 'pipe' });
  let stderr = '';
  transport.stderr.on('data', (d) => { stderr += d; });
  const client = new Client({ name: 'loomdeck-e2e', version: '1.0.0' });
  const toasts = [];
  let es;
  try {
    await client.connect(transport);
    assert.deepEqual(client.getServerVersion(), { name: 'loomdeck', version: '1.10.20' });

    const { tools } = await client.listTools();
    assert.deepEqual(tools.map((t) => t.name).sort(),
      ['action', 'auto_green', 'click', 'console', 'logbook', 'status', 'surface', 'targets', 'toast']);
    for (const t of tools) assert.equal(t.inputSchema.type, 'object', t.name);

    const status = await client.callTool({ name: 'status', arguments: { target: 'Studio' } });
    assert.equal(status.isError, false);
    const payload = JSON.parse(status.content[0].text);
    assert.equal(payload.target, 'Studio');
    assert.equal(payload.answered, true);
    assert.equal(payload.leds.fusionRunning.state, 'off');

    const unknown = await client.callTool({ name: 'action', arguments: { action: 'frobnicate', target: 'Studio' } });
    assert.equal(unknown.isError, true);
    const refusal = JSON.parse(unknown.content[0].text);
    assert.equal(refusal.error, 'unknown action frobnicate');
    assert.match(refusal._hint, /^Actions: start, stop/);

    es = new EventSource(`${srv.url}/events`);
    es.addEventListener('toast', (e) => toasts.push(JSON.parse(e.data)));
    await new Promise((resolve, reject) => { es.addEventListener('hello', resolve); es.onerror = reject; });
    const toast = await client.callTool({ name: 'toast', arguments: { message: 'from an agent', kind: 'ok' } });
    assert.equal(toast.isError, false);
    assert.equal(JSON.parse(toast.content[0].text).delivered, 1);
    await waitFor(() => toasts.length === 1, { what: 'the toast on the open stream' });
    assert.deepEqual(toasts[0], { kind: 'ok', message: 'from an agent' });
  } finally {
    es?.close();
    await client.close();
    await srv.stop();
    sb.cleanup();
  }
  assert.match(stderr, new RegExp(`^loomdeck mcp: using the server on port ${srv.port}\n$`));
  checkStderr(stderr, 'loomdeck mcp');
});
