// Opens many raw event streams, then times each toast from the POST to its arrival on the last
// stream. Arguments: server URL, server pid, streams, toasts.
import fs from 'node:fs';
import net from 'node:net';

const [url, pid, streamCount, toastCount] = [process.argv[2], process.argv[3], Number(process.argv[4]), Number(process.argv[5])];
const { hostname, port } = new URL(url);
const rssKb = () => Number(/^VmRSS:\s+(\d+) kB$/m.exec(fs.readFileSync(`/proc/${pid}/status`, 'utf8'))[1]);

const waiting = new Map();  // marker -> { left, resolve }
function openStream() {
  return new Promise((resolve, reject) => {
    let buf = '';
    let open = false;
    const sock = net.connect(Number(port), hostname, () => sock.write('GET /events HTTP/1.1\r\n\r\n'));
    sock.setEncoding('utf8');
    sock.on('data', (d) => {
      buf += d;
      if (!open && buf.includes('event: hello\n')) { open = true; resolve(sock); }
      let cut;
      while ((cut = buf.indexOf('\n\n')) >= 0) {
        const frame = buf.slice(0, cut);
        buf = buf.slice(cut + 2);
        const m = /"message":"(bench-\d+)"/.exec(frame);
        const w = m && waiting.get(m[1]);
        if (w && --w.left === 0) w.resolve(performance.now());
      }
    });
    sock.on('error', reject);
  });
}

const quantile = (xs, q) => {
  const s = [...xs].sort((a, b) => a - b);
  return s[Math.min(s.length - 1, Math.floor(q * s.length))];
};

const before = rssKb();
const socks = [];
for (let i = 0; i < streamCount; i += 100) {
  socks.push(...await Promise.all(Array.from({ length: Math.min(100, streamCount - i) }, openStream)));
}
await new Promise((r) => setTimeout(r, 500));
const opened = rssKb();
const health = await (await fetch(`${url}/health`)).json();

const lastArrival = [];
const replies = [];
for (let i = 0; i < toastCount; i++) {
  const marker = `bench-${i}`;
  const done = new Promise((resolve) => waiting.set(marker, { left: streamCount, resolve }));
  const t0 = performance.now();
  const res = await fetch(`${url}/ui/toast`, { method: 'POST', body: JSON.stringify({ message: marker, kind: 'info' }) });
  await res.text();
  replies.push(performance.now() - t0);
  lastArrival.push((await done) - t0);
  waiting.delete(marker);
}
for (const s of socks) s.destroy();

console.log(`fan-out: ${health.sseClients} open event streams, ${toastCount} toasts one after another`);
console.log(`  POST /ui/toast to the last stream receiving it: p50 ${quantile(lastArrival, 0.5).toFixed(1)} ms, p99 ${quantile(lastArrival, 0.99).toFixed(1)} ms`);
console.log(`  POST /ui/toast reply (counts the viewers):        p50 ${quantile(replies, 0.5).toFixed(1)} ms, p99 ${quantile(replies, 0.99).toFixed(1)} ms`);
console.log(`  server memory: ${(before / 1024).toFixed(1)} MiB before, ${(opened / 1024).toFixed(1)} MiB with the streams open = ${((opened - before) / streamCount).toFixed(1)} KiB per stream`);
