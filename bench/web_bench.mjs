// Speed of the WebAssembly build in node, and what the page does with a
// two-hour recording in headless Chromium.
//   scripts/build-web.sh && node bench/web_bench.mjs [--no-browser] [--no-simd]
// Realtime factors are seconds of audio per CPU second of this process
// (the coding runs on one thread); compare with build/.../qrxc_bench.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const webDir = process.env.QRXC_WEB || path.join(root, 'build/web');
const { createQrxc } = await import(pathToFileURL(path.join(webDir, 'qrxc.mjs')));
const q = await createQrxc(process.argv.includes('--no-simd') ? { simd: false } : {});

const cpuSeconds = () => {
  const u = process.cpuUsage();
  return (u.user + u.system) / 1e6;
};
// Best of a few runs after a warm-up, as audio seconds per CPU second.
function realtime(audioSeconds, run, runs = 3) {
  run();
  let best = Infinity;
  for (let i = 0; i < runs; i++) {
    const t0 = cpuSeconds();
    run();
    best = Math.min(best, cpuSeconds() - t0);
  }
  return audioSeconds / best;
}

// A stream of about `seconds` made of a sample's frames over and over.
function repeatFrames(stream, seconds) {
  const info = q.info(stream);
  const frames = stream.subarray(info.headerLength, info.headerLength + info.frames * info.frameBytes);
  const copies = Math.max(1, Math.ceil(seconds / info.duration));
  const out = new Uint8Array(info.headerLength + copies * frames.length);
  out.set(stream.subarray(0, info.headerLength));
  for (let i = 0; i < copies; i++) out.set(frames, info.headerLength + i * frames.length);
  return out;
}

const speech = q.decode(new Uint8Array(fs.readFileSync(path.join(root, 'samples/hello.QRX')))).pcm;
const SECONDS = 60;
const pcm = new Int16Array(SECONDS * 8000);
for (let i = 0; i < pcm.length; i += speech.length) pcm.set(speech.subarray(0, pcm.length - i), i);

console.log(`WebAssembly (${q.simd ? 'SIMD' : 'plain'} module) in node ${process.version}, ${os.cpus()[0].model}`);
console.log('type  decode ×realtime  encode ×realtime');
for (const type of [0, 1, 2, 4, 5, 6]) {
  const stream = q.encode(pcm, { type });
  const long = repeatFrames(stream, 120);
  const dec = realtime(q.info(long).duration, () => q.decode(long));
  const enc = realtime(SECONDS, () => q.encode(pcm, { type }), type <= 2 ? 2 : 3);
  console.log(`${String(type).padStart(4)}  ${dec.toFixed(0).padStart(16)}  ${enc.toFixed(0).padStart(16)}`);
}
const speed = new q.Speed(240, 8);
console.log(`speed control, level 8: ×${realtime(SECONDS, () => { speed.process(pcm); }).toFixed(0)} realtime`);

if (!process.argv.includes('--no-browser')) await longRecording();

// Two hours of a sample's frames through the page: time until it is listed
// and playable, until the first sound is queued, until decoding is done,
// and the browser's memory then.
async function longRecording() {
  const { launch, serve } = await import(pathToFileURL(path.join(root, 'tests/web/browser.mjs')));
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'qrxc-bench-'));
  const file = path.join(dir, 'two-hours.QRX');
  const stream = repeatFrames(new Uint8Array(fs.readFileSync(path.join(root, 'samples/hello-g723-63.QRX'))), 7200);
  fs.writeFileSync(file, stream);
  const server = await serve(webDir);
  const browser = await launch();
  try {
    const page = await browser.newPage();
    await page.send('Page.navigate', { url: server.url + 'index.html' });
    await page.waitFor('window.qrxPage');
    await page.eval(`window.bench = {}; document.addEventListener('qrx-sound',
      () => { window.bench.sound ??= performance.now(); })`);
    const rssBefore = chromiumRss(browser.pid);
    const doc = await page.send('DOM.getDocument');
    const { nodeId } = await page.send('DOM.querySelector', { nodeId: doc.root.nodeId, selector: '#open' });
    const t0 = await page.eval('window.bench.t0 = performance.now()');
    await page.send('DOM.setFileInputFiles', { nodeId, files: [file] });
    const listed = await page.waitFor(`(() => { const b = document.querySelector('#files button.listen');
      if (!b || b.disabled) return 0; b.click(); return performance.now(); })()`, 60000) - t0;
    const sound = await page.waitFor('window.bench.sound', 60000) - t0;
    const done = await page.waitFor('qrxPage.files[0].done && performance.now()', 600000) - t0;
    const position = await page.eval('qrxPage.player.position');
    const rss = chromiumRss(browser.pid);
    const heap = await page.send('Runtime.getHeapUsage');
    const info = await page.eval('qrxPage.files[0].info');
    const mb = (n) => (n / 1048576).toFixed(0);
    console.log(`\nTwo-hour recording in headless Chromium: ${(info.duration / 3600).toFixed(2)} h, ` +
      `${mb(stream.length)} MB of type ${info.type}, ${mb(info.frames * info.pcmFrame * 2)} MB of PCM`);
    console.log(`  listed and playable after ${listed.toFixed(0)} ms`);
    console.log(`  first sound queued after  ${sound.toFixed(0)} ms (playing while it decodes)`);
    console.log(`  decoded completely after  ${done.toFixed(0)} ms (${(info.duration / (done / 1000)).toFixed(0)}× realtime, ` +
      `playhead then at ${position.toFixed(1)} s)`);
    console.log(`  page heap ${mb(heap.usedSize)} MB + ${mb(heap.backingStorageSize ?? 0)} MB array buffers; ` +
      `resident memory of all browser processes ${mb(rssBefore)} MB before, ${mb(rss)} MB after`);
  } finally {
    await browser.close();
    server.close();
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

// Resident memory of a process and all its descendants, in bytes.
function chromiumRss(pid) {
  const children = new Map();
  for (const p of fs.readdirSync('/proc').filter((d) => /^\d+$/.test(d))) {
    try {
      const stat = fs.readFileSync(`/proc/${p}/stat`, 'utf8');
      const ppid = Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]);
      if (!children.has(ppid)) children.set(ppid, []);
      children.get(ppid).push(Number(p));
    } catch { /* gone */ }
  }
  let total = 0;
  const walk = (p) => {
    try {
      const m = /VmRSS:\s+(\d+) kB/.exec(fs.readFileSync(`/proc/${p}/status`, 'utf8'));
      if (m) total += Number(m[1]) * 1024;
    } catch { /* gone */ }
    for (const c of children.get(p) || []) walk(c);
  };
  walk(pid);
  return total;
}
