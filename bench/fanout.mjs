// Opens many raw event streams, then times each toast from the POST to its arrival on the last
// stream. The POSTs go from a worker thread of their own, so the reply times are not held up by
// this thread reading the streams. Arguments: server URL, server pid, streams, toasts.
import fs from 'node:fs';
import net from 'node:net';
import { Worker, isMainThread, parentPort, workerData } from 'node:worker_threads';

// Milliseconds on a clock both threads share.
const clock = () => performance.timeOrigin + performance.now();

if (!isMainThread) {
  // The sender: one toast per request from the main thread; answers with its send time and reply time.
  parentPort.on('message', async (marker) => {
    const t0 = clock();
    const res = await fetch(`${workerData.url}/ui/toast`, { method: 'POST', body: JSON.stringify({ message: marker, kind: 'info' }) });
    await res.text();
    parentPort.postMessage({ t0, reply: clock() - t0 });
  });
} else {
  const [url, pid, streamCount, toastCount] = [process.argv[2], process.argv[3], Number(process.argv[4]), Number(process.argv[5])];
  const { hostname, port } = new URL(url);
  const rssKb = () => Number(/^VmRSS:\s+(\d+) kB$/m.exec(fs.readFileSync(`/proc/${pid}/status`, 'utf8'))[1]);

  let marker = null;  // the toast under way, as bytes
  let left = 0;
  let arrived = null;
  function openStream() {
    return new Promise((resolve, reject) => {
      let open = false;
      let tail = Buffer.alloc(0);  // the end of the last chunk, for a marker split across two
      const sock = net.connect(Number(port), hostname, () => sock.write('GET /events HTTP/1.1\r\n\r\n'));
      sock.on('data', (d) => {
        if (!open && d.includes('event: hello\n')) { open = true; resolve(sock); }
        if (!marker) return;
        const seen = Buffer.concat([tail, d]);
        tail = seen.subarray(Math.max(0, seen.length - 64));
        if (seen.includes(marker) && --left === 0) arrived(clock());
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

  const sender = new Worker(new URL(import.meta.url), { workerData: { url } });
  const lastArrival = [];
  const replies = [];
  for (let i = 0; i < toastCount; i++) {
    // Unique per toast and never a prefix of another ("bench-1" vs "bench-10").
    const text = `bench-${i}-end`;
    marker = Buffer.from(`"message":"${text}"`);
    left = streamCount;
    const done = new Promise((resolve) => { arrived = resolve; });
    const sent = new Promise((resolve) => sender.once('message', resolve));
    sender.postMessage(text);
    const [{ t0, reply }, at] = await Promise.all([sent, done]);
    replies.push(reply);
    lastArrival.push(at - t0);
    marker = null;
  }
  await sender.terminate();
  for (const s of socks) s.destroy();

  console.log(`fan-out: ${health.sseClients} open event streams, ${toastCount} toasts one after another`);
  console.log(`  POST /ui/toast to the last stream receiving it: p50 ${quantile(lastArrival, 0.5).toFixed(1)} ms, p99 ${quantile(lastArrival, 0.99).toFixed(1)} ms`);
  console.log(`  POST /ui/toast reply (counts the viewers):        p50 ${quantile(replies, 0.5).toFixed(1)} ms, p99 ${quantile(replies, 0.99).toFixed(1)} ms`);
  console.log(`  server memory: ${(before / 1024).toFixed(1)} MiB before, ${(opened / 1024).toFixed(1)} MiB with the streams open = ${((opened - before) / streamCount).toFixed(1)} KiB per stream`);
}
