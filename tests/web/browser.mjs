// Test helpers: a static file server on 127.0.0.1 and headless Chromium
// driven over its DevTools protocol through a pipe (no WebSocket needed).
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';

const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.mjs': 'text/javascript', '.css': 'text/css',
                '.png': 'image/png', '.svg': 'image/svg+xml', '.wasm': 'application/wasm' };

export async function serve(dir) {
  const server = http.createServer((req, res) => {
    const url = new URL(req.url, 'http://localhost');
    const file = path.join(dir, path.normalize(decodeURIComponent(url.pathname)).replace(/^(\.\.[/\\])+/, ''));
    fs.readFile(file.endsWith('/') ? file + 'index.html' : file, (err, data) => {
      if (err) {
        res.writeHead(404).end();
        return;
      }
      res.writeHead(200, { 'content-type': TYPES[path.extname(file)] || 'application/octet-stream' }).end(data);
    });
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return { url: `http://127.0.0.1:${server.address().port}/`, close: () => server.close() };
}

export async function launch(binary = process.env.CHROMIUM || '/usr/bin/chromium') {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'qrxc-chromium-'));
  const proc = spawn(binary, [
    '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync',
    '--autoplay-policy=no-user-gesture-required', '--remote-debugging-pipe',
    `--user-data-dir=${profile}`, 'about:blank',
  ], { stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'], detached: true });  // its own process group
  let stderr = '';
  proc.stderr.on('data', (d) => { stderr = (stderr + d).slice(-4000); });
  const out = proc.stdio[3], inp = proc.stdio[4];
  let nextId = 1, buffered = '';
  const waiting = new Map(), listeners = [];
  inp.on('data', (chunk) => {
    buffered += chunk.toString('utf8');
    let end;
    while ((end = buffered.indexOf('\0')) >= 0) {
      const msg = JSON.parse(buffered.slice(0, end));
      buffered = buffered.slice(end + 1);
      if (msg.id && waiting.has(msg.id)) {
        const { resolve, reject, method } = waiting.get(msg.id);
        waiting.delete(msg.id);
        if (msg.error) reject(new Error(`${method}: ${msg.error.message}`));
        else resolve(msg.result);
      } else if (msg.method) {
        for (const l of listeners) l(msg);
      }
    }
  });
  const exited = new Promise((resolve) => proc.on('exit', resolve));
  exited.then(() => {
    for (const { reject } of waiting.values()) reject(new Error(`chromium exited: ${stderr}`));
  });
  const send = (method, params = {}, sessionId) => new Promise((resolve, reject) => {
    const id = nextId++;
    waiting.set(id, { resolve, reject, method });
    out.write(JSON.stringify({ id, method, params, ...(sessionId ? { sessionId } : {}) }) + '\0');
  });

  // A page with its own session: page.send(method, params), page.on(event, fn).
  async function newPage() {
    const { targetId } = await send('Target.createTarget', { url: 'about:blank' });
    const { sessionId } = await send('Target.attachToTarget', { targetId, flatten: true });
    const page = {
      send: (method, params) => send(method, params, sessionId),
      on: (event, fn) => listeners.push((m) => { if (m.sessionId === sessionId && m.method === event) fn(m.params); }),
      // Evaluates an expression in the page (awaiting promises) as if the user acted.
      eval: async (expression) => {
        const r = await send('Runtime.evaluate', { expression, awaitPromise: true, returnByValue: true, userGesture: true },
                             sessionId);
        if (r.exceptionDetails) throw new Error(`${expression}: ${r.exceptionDetails.exception?.description ?? r.exceptionDetails.text}`);
        return r.result.value;
      },
      // Polls an expression until it is truthy.
      waitFor: async (expression, timeoutMs = 20000) => {
        const until = Date.now() + timeoutMs;
        for (;;) {
          const v = await page.eval(expression);
          if (v) return v;
          if (Date.now() > until) throw new Error(`timed out waiting for ${expression}`);
          await new Promise((r) => setTimeout(r, 50));
        }
      },
    };
    return page;
  }

  // Asks the browser to close, then ends its process group (the browser and
  // the helpers it started) if it has not gone within a few seconds.
  async function close() {
    const wait = (ms) => new Promise((r) => setTimeout(r, ms));
    if (proc.exitCode === null && proc.signalCode === null) {
      send('Browser.close').catch(() => {});
      if (await Promise.race([exited.then(() => true), wait(3000).then(() => false)]) === false) {
        try { process.kill(-proc.pid, 'SIGKILL'); } catch { /* gone */ }
        await exited;
      }
    }
    try { process.kill(-proc.pid, 'SIGKILL'); } catch { /* the group is gone */ }
    out.destroy();
    inp.destroy();
    proc.stderr.destroy();
    fs.rmSync(profile, { recursive: true, force: true, maxRetries: 10, retryDelay: 100 });
  }
  return { send, newPage, close, pid: proc.pid };
}
