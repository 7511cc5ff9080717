// The page in headless Chromium: open files (two of them bad), play at
// speed level 8, save a WAV, encode one back, standard G.723.1 streams,
// screenshots, no console errors.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { execFileSync } from 'node:child_process';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { launch, serve } from './browser.mjs';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const webDir = process.env.QRXC_WEB || path.join(root, 'build/web');
const shots = path.join(webDir, 'screenshots');
const { createQrxc } = await import(pathToFileURL(path.join(webDir, 'qrxc.mjs')));
const q = await createQrxc();
const sample = path.join(root, 'samples/hello-g723-63.QRX');
const native = process.env.QRX_NATIVE;

let server, browser, page, work;
const problems = [];

async function setFiles(selector, files) {
  const doc = await page.send('DOM.getDocument');
  const { nodeId } = await page.send('DOM.querySelector', { nodeId: doc.root.nodeId, selector });
  await page.send('DOM.setFileInputFiles', { nodeId, files });
}

async function downloaded(name) {
  const file = path.join(work, 'downloads', name);
  for (let i = 0; i < 200 && !fs.existsSync(file); i++) await new Promise((r) => setTimeout(r, 50));
  assert.ok(fs.existsSync(file), `${name} was not saved`);
  return new Uint8Array(fs.readFileSync(file));
}

async function screenshot(name, width, height, mobile) {
  await page.send('Emulation.setDeviceMetricsOverride', { width, height, deviceScaleFactor: 1, mobile });
  await page.eval('new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r)))');
  const { data } = await page.send('Page.captureScreenshot', { format: 'png', captureBeyondViewport: true });
  fs.mkdirSync(shots, { recursive: true });
  fs.writeFileSync(path.join(shots, name), Buffer.from(data, 'base64'));
  return page.eval('document.documentElement.scrollWidth');
}

before(async () => {
  work = fs.mkdtempSync(path.join(os.tmpdir(), 'qrxc-page-'));
  fs.mkdirSync(path.join(work, 'downloads'));
  fs.writeFileSync(path.join(work, 'cut.QRX'), fs.readFileSync(sample).subarray(0, 10));
  fs.writeFileSync(path.join(work, 'notes.QRX'), 'not a recording\n');
  server = await serve(webDir);
  browser = await launch();
  await browser.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: path.join(work, 'downloads') });
  page = await browser.newPage();
  page.on('Runtime.consoleAPICalled', (e) => {
    if (e.type === 'error' || e.type === 'assert') problems.push(e.args.map((a) => a.value ?? a.description).join(' '));
  });
  page.on('Runtime.exceptionThrown', (e) => problems.push(e.exceptionDetails.exception?.description ?? e.exceptionDetails.text));
  page.on('Log.entryAdded', (e) => { if (e.entry.level === 'error') problems.push(`${e.entry.text} ${e.entry.url ?? ''}`); });
  await Promise.all([page.send('Runtime.enable'), page.send('Page.enable'), page.send('Log.enable')]);
  await page.send('Emulation.setDeviceMetricsOverride', { width: 1280, height: 900, deviceScaleFactor: 1, mobile: false });
  await page.send('Page.navigate', { url: server.url + 'index.html' });
  await page.waitFor('window.qrxPage && document.getElementById("encode-type").options.length > 0');
});

after(async () => {
  await browser?.close();
  server?.close();
  if (work) fs.rmSync(work, { recursive: true, force: true });
});

test('bad files get a message and the good one still opens', async () => {
  await setFiles('#open', [path.join(work, 'cut.QRX'), path.join(work, 'notes.QRX'), sample]);
  await page.waitFor('qrxPage.files.length === 3 && qrxPage.files.every((f) => f.done || f.error)');
  const state = await page.eval('qrxPage.files.map((f) => [f.name, !!f.done, f.li.innerText])');
  assert.equal(state[0][1], false);
  assert.match(state[0][2], /Cannot open this file: too short for a QRX header \(10 of 16 bytes\)/);
  assert.equal(state[1][1], false);
  assert.ok(state[1][2].includes(`Cannot open this file: ${q.strerror(-4)}`), state[1][2]);
  assert.equal(state[2][1], true);
  assert.match(state[2][2], /type 2 .* 0:11 · 0 concealed frames/);
});

test('plays at speed level 8 and the keys work', async () => {
  await page.eval(`(() => { const s = document.getElementById('speed'); s.value = '4';
                            s.dispatchEvent(new Event('input')); })()`);
  assert.equal(await page.eval('qrxPage.player.flags'), 8);
  assert.equal(await page.eval('document.getElementById("speed-value").textContent'), '×0.67');
  await page.eval('document.querySelector("#files li:last-child button.listen").click()');
  await page.waitFor('qrxPage.player.playing && qrxPage.player.position > 0.3', 10000);
  await page.eval('document.activeElement.blur()');
  const key = (key, code, vk) => page.send('Input.dispatchKeyEvent', { type: 'keyDown', key, code, windowsVirtualKeyCode: vk,
    ...(key.length === 1 ? { text: key } : {}) });
  await key('+', 'Equal', 187);
  assert.equal(await page.eval('qrxPage.player.flags'), 7);
  await key(' ', 'Space', 32);
  assert.equal(await page.eval('qrxPage.player.playing'), false);
  const before = await page.eval('qrxPage.player.position');
  await key('ArrowRight', 'ArrowRight', 39);
  assert.ok(Math.abs(await page.eval('qrxPage.player.position') - before - 5) < 0.01);
});

test('transcription: auto-rewind, a rebound key, the position kept, pedals from a mocked HID device', async () => {
  const key = (key, code, vk) => page.send('Input.dispatchKeyEvent', { type: 'keyDown', key, code, windowsVirtualKeyCode: vk,
    ...(key.length === 1 ? { text: key } : {}) });
  await page.eval('document.getElementById("rewind").value = "2"; document.getElementById("rewind").dispatchEvent(new Event("change"))');
  await page.eval('qrxPage.player.seek(3)');
  await key(' ', 'Space', 32);
  await page.waitFor('qrxPage.player.playing && qrxPage.player.position > 3.4', 10000);
  const playedTo = await page.eval('qrxPage.player.position');
  await key(' ', 'Space', 32);
  const resumed = await page.eval('qrxPage.player.position');
  assert.ok(Math.abs(playedTo - resumed - 2) < 0.2, `paused at ${playedTo}, resumes at ${resumed}`);

  await page.eval('document.querySelector("#keys button[data-action=forward]").click()');
  await key('f', 'KeyF', 70);
  assert.match(await page.eval('document.querySelector("#keys button[data-action=forward]").textContent'), /: f$/);
  await page.eval('document.activeElement.blur()');
  await key('f', 'KeyF', 70);
  assert.ok(Math.abs(await page.eval('qrxPage.player.position') - resumed - 5) < 0.01);
  await page.eval('document.getElementById("stamp").click()');
  assert.match(await page.eval('document.getElementById("stamp-text").textContent'), /^\[00:00:\d\d\]$/);
  const kept = await page.eval('qrxPage.player.position');
  await screenshot('transcription.png', 1280, 900, false);

  // Reloaded with a pedal behind a mocked navigator.hid: the binding and the
  // position come back, and the learned pedals drive the player.
  await page.send('Page.addScriptToEvaluateOnNewDocument', { source: `
    const device = new EventTarget();
    device.opened = false; device.productName = 'Test pedal';
    device.open = async () => { device.opened = true; };
    window.pedal = (byte) => device.dispatchEvent(Object.assign(new Event('inputreport'),
      { reportId: 0, data: new DataView(Uint8Array.from([byte, 0]).buffer) }));
    Object.defineProperty(navigator, 'hid', { value: { getDevices: async () => [device], requestDevice: async () => [device] } });` });
  await page.send('Page.reload');
  await page.waitFor('window.qrxPage && document.getElementById("encode-type").options.length > 0');
  assert.match(await page.eval('document.querySelector("#keys button[data-action=forward]").textContent'), /: f$/);
  await setFiles('#open', [sample]);
  await page.waitFor('document.querySelector("#files li:last-child button.listen") !== null', 10000);
  await page.eval('document.querySelector("#files li:last-child button.listen").click()');
  await page.waitFor('qrxPage.player.duration > 0', 10000);
  if (await page.eval('qrxPage.player.playing')) await key(' ', 'Space', 32);
  const back = await page.eval('qrxPage.player.position');
  assert.ok(back > kept - 2.5 && back < kept + 1.5, `kept ${kept}, back at ${back}`);
  assert.match(await page.eval('document.getElementById("pedal-status").textContent'), /Test pedal/);
  await page.eval('document.getElementById("pedal-learn").click()');
  for (const b of [0, 1, 0, 2, 0, 4, 0]) await page.eval(`pedal(${b})`);
  assert.match(await page.eval('document.getElementById("pedal-status").textContent'), /learned/);
  const at = await page.eval('qrxPage.player.position');
  await page.eval('pedal(4); pedal(0)');
  assert.ok(Math.abs(await page.eval('qrxPage.player.position') - at - 5) < 0.01, 'the right pedal skips forward');
  await page.eval('pedal(2)');
  await page.waitFor('qrxPage.player.playing', 5000);
  await page.eval('pedal(0)');
  assert.equal(await page.eval('qrxPage.player.playing'), false, 'the middle pedal plays while held');
});

test('screenshots on a desktop and on a 360 px phone', async () => {
  assert.ok(await screenshot('desktop.png', 1280, 900, false) <= 1280);
  assert.ok(await screenshot('phone.png', 360, 780, true) <= 360, 'the page is wider than the phone');
  await page.send('Emulation.setEmulatedMedia', { features: [{ name: 'prefers-color-scheme', value: 'dark' }] });
  await screenshot('phone-dark.png', 360, 780, true);
  await page.send('Emulation.setEmulatedMedia', { features: [] });
  await page.send('Emulation.setDeviceMetricsOverride', { width: 1280, height: 900, deviceScaleFactor: 1, mobile: false });
});

test('saves the WAV that qrx decode writes, and encodes it back', async () => {
  await page.eval('document.querySelector("#files li:last-child button.save").click()');
  const wav = await downloaded('hello-g723-63.wav');
  const bytes = new Uint8Array(fs.readFileSync(sample));
  assert.deepEqual(wav, q.toWav(bytes));

  const wavPath = path.join(work, 'hello.wav');
  fs.writeFileSync(wavPath, wav);
  await page.eval('document.getElementById("encode-type").value = "1"');
  await setFiles('#encode-open', [wavPath]);
  const qrx = await downloaded('hello.QRX');
  assert.match(await page.eval('document.getElementById("encode-status").textContent'), /^Saved hello\.QRX.* 8000 Hz mono/);
  assert.deepEqual(qrx, q.encode(q.decode(bytes).pcm, { type: 1 }));
});

test('opens standard G.723.1 streams, plays them and saves the WAV qrx decode writes', async () => {
  const bytes = new Uint8Array(fs.readFileSync(sample));
  const streams = {
    'mix.RCO': fs.readFileSync(path.join(root, 'tests/data/annexa/genmix.rco')),  // rate switches, comfort noise
    'cut.g723': q.encodeG723(q.decode(bytes).pcm).subarray(0, 24 * 100 + 7),      // a lost last frame
  };
  const names = Object.keys(streams);
  for (const n of names) fs.writeFileSync(path.join(work, n), streams[n]);
  fs.writeFileSync(path.join(work, 'empty.bit'), '');
  await setFiles('#open', [...names, 'empty.bit'].map((n) => path.join(work, n)));
  const entry = (n) => `qrxPage.files.find((f) => f.name === ${JSON.stringify(n)})`;
  await page.waitFor(names.map((n) => `${entry(n)}?.done`).join(' && ') + ` && ${entry('empty.bit')}?.error`);
  assert.match(await page.eval(`${entry('empty.bit')}.li.innerText`), /Cannot open this file: it holds no G\.723\.1 frames/);
  assert.match(await page.eval(`${entry('mix.RCO')}.li.innerText`),
               /standard G\.723\.1 6\.3 and 5\.3 kbit\/s · 1:08 · 0 concealed frames · 298 comfort noise frames/);
  assert.match(await page.eval(`${entry('cut.g723')}.li.innerText`),
               /standard G\.723\.1 6\.3 kbit\/s · 0:03 · 1 concealed frame · 0 comfort noise frames/);

  await page.eval(`${entry('cut.g723')}.li.querySelector('button.listen').click()`);
  await page.waitFor('qrxPage.player.playing && qrxPage.player.position > 0.2', 10000);
  await page.eval(`${entry('cut.g723')}.li.querySelector('button.listen').click()`);

  for (const n of names) {
    await page.eval(`${entry(n)}.li.querySelector('button.save').click()`);
    const wav = await downloaded(n.replace(/\.[^.]*$/, '.wav'));
    const file = path.join(work, n);
    if (native) execFileSync(native, ['decode', '-q', '-y', file, '-o', file + '.wav']);
    assert.deepEqual(wav, native ? new Uint8Array(fs.readFileSync(file + '.wav'))
      : q.wavFromPcm(q.decodeG723(streams[n]), 8000), n);
  }
});

test('nothing went to the console as an error', () => {
  assert.deepEqual(problems, []);
});
