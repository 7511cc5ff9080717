// The page's own pieces: the resampler, the WAV reader and the zip writer.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const webDir = process.env.QRXC_WEB || path.join(root, 'build/web');
const load = (name) => import(pathToFileURL(path.join(webDir, name)));
const { resampleToInt16 } = await load('resample.mjs');
const { readWav } = await load('wav.mjs');
const { zipStored, crc32 } = await load('zip.mjs');
const { wavFromPcm } = await load('qrxc.mjs');

const tone = (rate, seconds, parts) => Float32Array.from({ length: rate * seconds },
  (_, i) => parts.reduce((s, [hz, a]) => s + a * Math.sin(2 * Math.PI * hz * i / rate), 0));
// Amplitude of one frequency in the middle second of 8000 Hz samples.
function amplitude(pcm, hz) {
  let c = 0, s = 0;
  for (let j = 8000; j < 16000; j++) {
    c += pcm[j] * Math.cos(2 * Math.PI * hz * j / 8000);
    s += pcm[j] * Math.sin(2 * Math.PI * hz * j / 8000);
  }
  return 2 * Math.hypot(c, s) / 8000 / 32768;
}

test('resampling keeps the speech band, removes what 8000 Hz cannot hold, and keeps time', () => {
  for (const rate of [11025, 16000, 22050, 44100, 48000, 96000]) {
    const out = resampleToInt16([tone(rate, 3, [[1000, 0.5], [5000, 0.3]])], rate);
    assert.equal(out.length, 24000, `${rate}`);
    assert.ok(Math.abs(amplitude(out, 1000) - 0.5) < 0.002, `${rate}: 1 kHz`);
    if (rate > 10000) assert.ok(amplitude(out, 3000) < 0.002, `${rate}: 5 kHz folded back to 3 kHz`);
  }
  const stereo = [tone(44100, 3, [[440, 0.4]]), tone(44100, 3, [[440, 0.2]])];
  assert.ok(Math.abs(amplitude(resampleToInt16(stereo, 44100), 440) - 0.3) < 0.002, 'channels mixed by their mean');
});

test('16-bit WAV samples at 8000 Hz come through exactly, ties round to even', () => {
  const pcm = Int16Array.from({ length: 5000 }, (_, i) => (i * 7919) % 65536 - 32768);
  const wav = readWav(wavFromPcm(pcm, 8000).slice().buffer);
  assert.equal(wav.sampleRate, 8000);
  assert.deepEqual(resampleToInt16(wav.channels, 8000), pcm);
  assert.deepEqual(resampleToInt16([Float32Array.of(0.5 / 32768, 1.5 / 32768, 2, -2)], 8000),
                   Int16Array.of(0, 2, 32767, -32768));
  assert.equal(readWav(new TextEncoder().encode('not a wav file').buffer), null);
});

test('zip archives hold each file stored, with its CRC-32', async () => {
  assert.equal(crc32(new TextEncoder().encode('123456789')), 0xCBF43926);
  {
    const files = [{ name: 'a.wav', bytes: Uint8Array.of(1, 2, 3) }, { name: 'ü b.wav', bytes: new Uint8Array(1000).fill(7) }];
    const zip = new Uint8Array(await zipStored(files).arrayBuffer());
    const v = new DataView(zip.buffer);
    const end = zip.length - 22;
    assert.equal(v.getUint32(end, true), 0x06054B50);
    assert.equal(v.getUint16(end + 10, true), 2);
    let at = v.getUint32(end + 16, true);
    for (const f of files) {
      assert.equal(v.getUint32(at, true), 0x02014B50);
      const nameLength = v.getUint16(at + 28, true);
      const local = v.getUint32(at + 42, true);
      assert.equal(new TextDecoder().decode(zip.subarray(at + 46, at + 46 + nameLength)), f.name);
      const data = local + 30 + v.getUint16(local + 26, true);
      assert.deepEqual(zip.subarray(data, data + f.bytes.length), f.bytes);
      assert.equal(v.getUint32(at + 16, true), crc32(f.bytes));
      at += 46 + nameLength;
    }
  }
});
