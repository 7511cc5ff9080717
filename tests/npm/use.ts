// Compiled with tsc --noEmit against the installed package's types, and run
// by node as use.mjs (the same code without the annotations).
import createQrxc, { QrxcError, wavFromPcm, speedFlags, effectFlags, lengthRatio, NORMAL_LEVEL, SPEED_LEVELS, QRMD_EFFECT_MODE } from 'qrxc';
import type { Qrxc, StreamInfo } from 'qrxc';

const q: Qrxc = await createQrxc();
const pcm = new Int16Array(2400).map((_, i) => Math.round(8000 * Math.sin(i / 9)));
const stream: Uint8Array = q.encode(pcm, { type: 2 });
const info: StreamInfo = q.info(stream);
const decoded = q.decode(stream, { onProgress: (f: number) => f });
let sliced = 0;
q.decodeInSlices(stream, { onStart: () => {}, onSlice: (s: Int16Array) => { sliced += s.length; } });
const wav: Uint8Array = q.toWav(stream);
const speed = new q.Speed(info.pcmFrame, speedFlags(2));
let played = 0;
for (let at = 0; at + info.pcmFrame <= decoded.pcm.length; at += info.pcmFrame)
  played += speed.process(decoded.pcm.subarray(at, at + info.pcmFrame)).length;
played += speed.flush().length;
speed.flags = effectFlags({ pitch: 2, echo: 'short' });
speed.dispose();
let refused = 0;
try { q.info(new Uint8Array(3)); } catch (e) { if (e instanceof QrxcError && e.code < 0) refused = e.code; }
const facts = {
  version: q.version, frames: info.frames, samples: decoded.pcm.length, sliced, rate: decoded.sampleRate,
  wavBytes: wav.length, sameWav: wavFromPcm(decoded.pcm, 8000).length === wav.length && q.wavFromPcm(decoded.pcm, 8000).length === wav.length,
  coder: q.typeInfo(2)?.coder ?? null, played, ratio: lengthRatio(2), refused, text: q.strerror(refused),
  levels: [SPEED_LEVELS, NORMAL_LEVEL, QRMD_EFFECT_MODE],
};
q.dispose();
console.log(JSON.stringify(facts));
