// The WebAssembly build against the reference data and the native tool.
// QRXC_WEB names the built module's folder (default build/web); QRX_NATIVE,
// when set, is a native qrx whose output the module must reproduce.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const webDir = process.env.QRXC_WEB || path.join(root, 'build/web');
const { createQrxc, QrxcError, effectFlags } = await import(pathToFileURL(path.join(webDir, 'qrxc.mjs')));
const q = await createQrxc();
const conformance = path.join(root, 'tests/data/conformance');
const samples = fs.readdirSync(path.join(root, 'samples')).filter((f) => f.endsWith('.QRX')).sort();
const native = process.env.QRX_NATIVE;

const read = (...p) => new Uint8Array(fs.readFileSync(path.join(...p)));
const pcmOf = (bytes) => new Int16Array(bytes.buffer, bytes.byteOffset, bytes.byteLength >> 1).slice();
const bytesOf = (pcm) => new Uint8Array(pcm.buffer, pcm.byteOffset, pcm.byteLength);
const vectors = (dir) => fs.readdirSync(path.join(conformance, dir)).filter((f) => f.endsWith('.QRX'))
  .map((f) => f.slice(0, -4)).sort();

// The SIMD module (where the engine has SIMD) and the plain fallback alike.
const builds = [[q.simd ? 'SIMD module' : 'plain module', q]];
if (q.simd) builds.push(['plain module', await createQrxc({ simd: false })]);
for (const [label, b] of builds) {
  test(`reference streams decode sample for sample, their bad frames counted (${label})`, () => {
    for (const name of vectors('decode')) {
      const want = read(conformance, 'decode', name + '.pcm');
      const stream = read(conformance, 'decode', name + '.QRX');
      const { pcm, sampleRate } = b.decode(stream);
      assert.equal(sampleRate, 8000, name);
      assert.deepEqual(bytesOf(pcm), want, name);
      const verdicts = path.join(conformance, 'decode', name + '.frames.txt');
      if (fs.existsSync(verdicts)) {
        const bad = fs.readFileSync(verdicts, 'utf8').split('\n').filter((l) => /^\d+ BAD/.test(l)).length;
        assert.equal(b.info(stream).concealedFrames, bad, name);
      }
    }
  });

  test(`reference inputs encode byte for byte (${label})`, () => {
    for (const name of vectors('encode')) {
      const want = read(conformance, 'encode', name + '.QRX');
      const type = want[6] | (want[7] << 8);
      const got = b.encode(pcmOf(read(conformance, 'encode', name + '.pcm')), { type });
      assert.deepEqual(got, want, name);
    }
  });
}

test('ADPCM round trips keep length and follow the input', () => {
  const n = 8000 + 17;  // a partial last frame, padded with silence
  const pcm = new Int16Array(n);
  for (let i = 0; i < n; i++) pcm[i] = Math.round(8000 * Math.sin(i * 0.07) + 3000 * Math.sin(i * 0.31));
  for (const [type, minSnr] of [[4, 10], [5, 16], [6, 22]]) {
    for (const shortHeader of [false, true]) {
      const stream = q.encode(pcm, { type, shortHeader });
      const info = q.info(stream);
      assert.equal(info.type, type);
      assert.equal(info.headerLength, shortHeader ? 4 : 16);
      assert.equal(info.trailingBytes, 0);
      const { pcm: back } = q.decode(stream);
      assert.equal(back.length, Math.ceil(n / 240) * 240);
      let signal = 0, noise = 0;
      for (let i = 0; i < n; i++) { signal += pcm[i] ** 2; noise += (pcm[i] - back[i]) ** 2; }
      const snr = 10 * Math.log10(signal / noise);
      assert.ok(snr > minSnr, `type ${type}: ${snr.toFixed(1)} dB`);
    }
  }
});

test('info tells frames, duration and what follows the last frame', () => {
  const stream = read(root, 'samples', samples[0]);
  const longer = new Uint8Array(stream.length + 7);
  longer.set(stream);
  const a = q.info(stream), b = q.info(longer);
  assert.equal(b.frames, a.frames);
  assert.equal(b.trailingBytes, a.trailingBytes + 7);
  assert.equal(a.duration, a.frames * a.pcmFrame / a.sampleRate);
  assert.equal(a.concealedFrames, 0);
  assert.equal(q.decode(longer).pcm.length, a.frames * a.pcmFrame);
});

test('bad input throws the library text and leaves the instance usable', () => {
  const good = read(root, 'samples', samples[0]);
  const cases = [
    ['empty', new Uint8Array(0)],
    ['not a QRX file', new TextEncoder().encode('RIFF....WAVEfmt not this')],
    ['long header cut short', good.slice(0, 4).map((v, i) => (i === 3 ? 0x40 : v))],
    ['unknown type', Uint8Array.of(0x51, 0x52, 0x58, 0x40, 0x40, 0x1f, 9, 0, 240, 0, 20, 0, 16, 0, 0, 0)],
  ];
  for (const [what, bytes] of cases) {
    for (const call of [q.info, q.decode, q.toWav]) {
      assert.throws(() => call(bytes), (e) => e instanceof QrxcError && e.code < 0 && e.message.length > 0, what);
    }
  }
  assert.throws(() => q.encode(new Int16Array(10), { type: 3 }), QrxcError);
  assert.throws(() => q.encode(new Int16Array(10), { type: 1, sampleRate: 44100 }), QrxcError);
  assert.throws(() => new q.Speed(240, 0xC0), QrxcError);
  assert.throws(() => new q.Speed(100, 4), QrxcError);
  assert.equal(q.decode(good).pcm.length, q.info(good).frames * 240);
});

test('arguments are checked, not coerced, and the error names them', () => {
  const pcm = new Int16Array(480);
  const speed = new q.Speed(240, 4);
  const cases = [
    ['encode', 'type', () => q.encode(pcm, { type: 2 ** 32 + 2 })],
    ['encode', 'type', () => q.encode(pcm, { type: '1' })],
    ['encode', 'sampleRate', () => q.encode(pcm, { type: 1, sampleRate: '8000' })],
    ['encode', 'sampleRate', () => q.encode(pcm, { type: 1, sampleRate: 8000.7 })],
    ['encode', 'sampleRate', () => q.encode(pcm, { type: 1, sampleRate: 2 ** 32 + 8000 })],
    ['encode', 'pcm', () => q.encode(new Float32Array(480), { type: 1 })],
    ['new Speed', 'frameLength', () => new q.Speed(-1, 4)],
    ['new Speed', 'flags', () => new q.Speed(240, 4.5)],
    ['Speed.process', 'pcm', () => speed.process(new Float32Array(480))],
    ['Speed.process', 'pcm', () => speed.process(new Int32Array(480))],
  ];
  for (const [where, name, call] of cases) {
    assert.throws(call, (e) => e instanceof QrxcError && e.message.startsWith(`${where}: ${name} must be`),
                  `${where} ${name}`);
  }
  assert.equal(speed.process(pcm).length, 480);
  speed.dispose();
});

test('a call from inside a decode callback is refused and the outer decode is unharmed', () => {
  const good = read(root, 'samples', samples[0]);
  const want = q.decode(good).pcm;
  const type0 = q.encode(new Int16Array(3200), { type: 0 });
  const inner = [() => q.decode(type0), () => q.info(type0), () => q.toWav(type0),
                 () => q.encode(new Int16Array(240), { type: 1 }), () => q.decodeInSlices(type0, { onSlice() {} })];
  const refused = (e) => e instanceof QrxcError && /this instance is inside decode/.test(e.message);
  const got = new Int16Array(want.length);
  q.decodeInSlices(good, {
    onSlice: (slice, offset) => {
      got.set(slice, offset);
      for (const call of inner) assert.throws(call, refused);
    },
  });
  assert.deepEqual(got, want);
  assert.deepEqual(q.decode(good, { onProgress: () => assert.throws(inner[0], refused) }).pcm, want);
  assert.equal(q.decode(type0).pcm.length, 3200, 'usable again once the outer call returns');
});

test('the speed control keeps partial frames across calls', () => {
  const pcm = q.decode(read(root, 'samples', samples[0])).pcm;
  const whole = new q.Speed(240, 8);
  const want = [...whole.process(pcm), ...whole.flush()];
  const pieces = new q.Speed(240, 8);
  const got = [];
  for (let i = 0; i < pcm.length; i += 1001) got.push(...pieces.process(pcm.subarray(i, i + 1001)));
  got.push(...pieces.flush());
  assert.deepEqual(got, want);
  whole.dispose();
  pieces.dispose();
});

test('WAV files and speed output equal the native tool\'s', { skip: !native && 'QRX_NATIVE not set' }, () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'qrxc-web-'));
  try {
    for (const f of samples) {
      const input = path.join(root, 'samples', f);
      const bytes = read(input);
      const wav = path.join(dir, f + '.wav');
      execFileSync(native, ['decode', '-q', '-y', input, '-o', wav]);
      assert.deepEqual(q.toWav(bytes), read(wav), f);
      const { pcm, sampleRate } = q.decode(bytes);
      for (const [args, flags] of [[['--level', '8'], 8], [['--level', '0'], 0],
                                   [['--pitch', '6', '--echo', 'long'], effectFlags({ pitch: 6, echo: 'long' })]]) {
        execFileSync(native, ['speed', '-q', '-y', input, ...args, '-o', wav]);
        const s = new q.Speed(240, flags);
        const out = new Int16Array([...s.process(pcm), ...s.flush()]);
        s.dispose();
        assert.deepEqual(q.wavFromPcm(out, sampleRate), read(wav), `${f} ${args.join(' ')}`);
      }
    }
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

// Random frames make every kind of parameter and corrupt ones to conceal;
// noise bursts, full-scale squares and silence drive the searches into
// saturation. Both modules must code them as the native tool does.
test('random frames and signals code as the native tool does', { skip: !native && 'QRX_NATIVE not set' }, () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'qrxc-web-'));
  let seed = 12345;
  const next = () => { seed ^= seed << 13; seed ^= seed >>> 17; seed ^= seed << 5; return seed >>> 0; };
  try {
    for (const type of [0, 1, 2]) {
      const head = q.encode(new Int16Array(240), { type });
      const { headerLength, frameBytes } = q.info(head);
      const stream = new Uint8Array(headerLength + 100000 * frameBytes);
      stream.set(head.subarray(0, headerLength));
      for (let i = headerLength; i < stream.length; i++) stream[i] = next() & 255;
      const pcm = new Int16Array(10000 * 240);
      for (let f = 0; f < 10000; f++) {
        const kind = next() % 4, level = 2 ** (next() % 16), period = 20 + (next() % 120);
        for (let n = f * 240; n < f * 240 + 240; n++) {
          const noise = (next() % (2 * level + 1)) - level;
          const square = Math.floor(n / period) % 2 ? 32767 : -32768;
          pcm[n] = [noise, square, (noise >> 1) + (square >> 1), 0][kind];
        }
      }
      const files = Object.fromEntries(['in.QRX', 'in.wav', 'out.wav', 'out.QRX'].map((f) => [f, path.join(dir, f)]));
      fs.writeFileSync(files['in.QRX'], stream);
      fs.writeFileSync(files['in.wav'], q.wavFromPcm(pcm, 8000));
      execFileSync(native, ['decode', '-q', '-y', files['in.QRX'], '-o', files['out.wav']]);
      execFileSync(native, ['encode', '-q', '-y', '-t', String(type), files['in.wav'], '-o', files['out.QRX']]);
      for (const [label, b] of builds) {
        assert.deepEqual(b.toWav(stream), read(files['out.wav']), `decode, type ${type}, ${label}`);
        assert.deepEqual(b.encode(pcm, { type }), read(files['out.QRX']), `encode, type ${type}, ${label}`);
      }
    }
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

// Standard streams: exported samples of each rate, rate switches with
// silence compression (more frames than one decode slice), and a stream
// whose last frame is cut short.
test('standard streams decode as qrx decode does, frames counted alike', { skip: !native && 'QRX_NATIVE not set' }, () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'qrxc-web-'));
  try {
    const streams = [];
    for (const f of ['hello-g723-53.QRX', 'hello-g723-63.QRX']) {
      streams.push(path.join(dir, f.replace(/QRX$/, 'g723')));
      execFileSync(native, ['export', '-q', path.join(root, 'samples', f), '-o', streams.at(-1)]);
    }
    streams.push(path.join(root, 'tests/data/annexa/genmix.rco'), path.join(dir, 'cut.TCO'));
    fs.writeFileSync(streams.at(-1), read(streams[1]).subarray(0, 24 * 100 + 7));
    for (const input of streams) {
      const wav = path.join(dir, 'out.wav');
      const run = spawnSync(native, ['decode', '-y', input, '-o', wav], { encoding: 'utf8' });
      assert.equal(run.status, 0, run.stderr);
      const bytes = read(input);
      assert.deepEqual(q.wavFromPcm(q.decodeG723(bytes), 8000), read(wav), input);
      const d = q.decodeG723InSlices(bytes, {});
      const said = (re) => Number(re.exec(run.stderr)?.[1] ?? 0);
      assert.deepEqual([d.comfortNoiseFrames, d.concealedFrames, d.kinds.cut],
                       [said(/(\d+) of \d+ frames are comfort noise/), said(/concealed (\d+) of/), said(/\((\d+) cut short/)],
                       `${input}: ${run.stderr}`);
    }
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

test('silence compression both ways bit for bit', () => {
  const dir = path.join(root, 'tests/data/annexa');
  for (const [rate, tin, rco, rou] of [['6.3', 'DTX63.TIN', 'DTX63.RCO', 'DTX63.ROU'],
    ['5.3', 'DTX53MIX.TIN', 'DTX53.RCO', 'DTX53.ROU']]) {
    const coded = q.encodeG723(pcmOf(read(dir, tin)), { rate, vad: true });
    assert.deepEqual(coded, read(dir, rco), rco);
    assert.deepEqual(bytesOf(q.decodeG723(coded)), read(dir, rou), rou);
  }
});
