// Reads the samples of PCM WAV files exactly. Browsers' decodeAudioData
// scales 16-bit samples differently (some by 1/32767), which would change
// values by one now and then; 16-bit integer and 32-bit float PCM are read
// here instead, at full scale 1.0 = 32768, as qrx encode reads them.
const PCM = 1, FLOAT = 3, EXTENSIBLE = 0xFFFE;

// { sampleRate, channels: Float32Array[] }, or { sampleRate } alone for a
// WAV file this reader leaves to the browser, or null when not a WAV file.
export function readWav(buffer) {
  const v = new DataView(buffer);
  const tag = (at) => String.fromCharCode(v.getUint8(at), v.getUint8(at + 1), v.getUint8(at + 2), v.getUint8(at + 3));
  if (buffer.byteLength < 12 || tag(0) !== 'RIFF' || tag(8) !== 'WAVE') return null;
  let fmt = null;
  for (let at = 12; at + 8 <= buffer.byteLength;) {
    const id = tag(at), size = v.getUint32(at + 4, true), body = at + 8;
    if (id === 'fmt ' && body + 16 <= buffer.byteLength) {
      let format = v.getUint16(body, true);
      if (format === EXTENSIBLE && size >= 40 && body + 26 <= buffer.byteLength) format = v.getUint16(body + 24, true);
      fmt = { format, channels: v.getUint16(body + 2, true), sampleRate: v.getUint32(body + 4, true),
              bits: v.getUint16(body + 14, true) };
    } else if (id === 'data' && fmt) {
      const exact = fmt.channels > 0 && ((fmt.format === PCM && fmt.bits === 16) || (fmt.format === FLOAT && fmt.bits === 32));
      if (!exact) return { sampleRate: fmt.sampleRate };
      const width = fmt.bits / 8;
      const frames = Math.floor(Math.min(size, buffer.byteLength - body) / (width * fmt.channels));
      const channels = Array.from({ length: fmt.channels }, () => new Float32Array(frames));
      for (let i = 0, p = body; i < frames; i++) {
        for (let c = 0; c < fmt.channels; c++, p += width)
          channels[c][i] = fmt.format === PCM ? v.getInt16(p, true) / 32768 : v.getFloat32(p, true);
      }
      return { sampleRate: fmt.sampleRate, channels };
    }
    at = body + size + (size & 1);
  }
  return fmt ? { sampleRate: fmt.sampleRate } : null;
}
