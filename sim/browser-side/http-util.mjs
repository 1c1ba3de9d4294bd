// Shared plumbing of the browser-side stand-ins: the port argument, CORS and JSON replies.

// The port comes from `--port N`, a bare number argument, or the named environment variable.
export function portFrom(argv, envName, fallback) {
  const i = argv.indexOf('--port');
  const raw = i >= 0 ? argv[i + 1] : argv.find((a) => /^\d+$/.test(a)) ?? process.env[envName];
  const port = Number(raw ?? fallback);
  if (!Number.isInteger(port) || port < 0 || port > 65535) {
    console.error(`invalid port: ${raw}`);
    process.exit(2);
  }
  return port;
}

export function flag(argv, name) {
  const i = argv.indexOf(name);
  return i >= 0 ? argv[i + 1] : undefined;
}

// Pages are served from another origin (loomdeck's server, or a file), so every reply allows any origin.
export function cors(res) {
  res.setHeader('Access-Control-Allow-Origin', '*');
  res.setHeader('Access-Control-Allow-Methods', 'GET, POST, OPTIONS');
  res.setHeader('Access-Control-Allow-Headers', 'Content-Type');
  res.setHeader('Access-Control-Max-Age', '600');
}

export function sendJson(res, status, value) {
  const body = Buffer.from(JSON.stringify(value));
  res.writeHead(status, { 'Content-Type': 'application/json', 'Content-Length': body.length, 'Cache-Control': 'no-store' });
  res.end(body);
}

export function readBody(req, limit = 64 * 1024 * 1024) {
  return new Promise((resolve, reject) => {
    const chunks = [];
    let size = 0;
    req.on('data', (d) => {
      size += d.length;
      if (size > limit) { reject(new Error('body too large')); req.destroy(); return; }
      chunks.push(d);
    });
    req.on('end', () => resolve(Buffer.concat(chunks)));
    req.on('error', reject);
  });
}

export function parseJson(buf) {
  try { return JSON.parse(buf.toString('utf8')); } catch { return undefined; }
}

// Starts the server on host:port and prints its URL once it listens.
export function listen(server, host, port, what) {
  server.listen(port, host, () => {
    const { port: bound } = server.address();
    console.log(`${what} listening on http://${host}:${bound}`);
  });
  server.on('error', (e) => { console.error(`${what}: ${e.message}`); process.exit(1); });
}
