// qrxc in JavaScript: the library compiled to WebAssembly, for browsers,
// workers and node.
//
//   import { createQrxc } from './qrxc.mjs';
//   const q = await createQrxc();
//   q.info(bytes)      -> header fields, frames, duration, concealed frames
//   q.decode(bytes)    -> { pcm: Int16Array, sampleRate }
//   q.decodeInSlices(bytes, { onStart, onSlice }) -> the same, a slice at a time
//   q.toWav(bytes)     -> Uint8Array, the WAV file `qrx decode` writes
//   q.encode(pcm, { type, sampleRate = 8000, shortHeader = false })
//                      -> Uint8Array, the stream `qrx encode` writes
//   q.encodeG723(pcm, { rate, vad }), q.decodeG723(bytes) -> standard G.723.1
//                      streams (frames back to back, 8000 Hz)
//   q.decodeG723InSlices(bytes, { onStart, onSlice }) -> the same, a slice at a
//                      time, and how many frames were speech, comfort noise, lost
//   isG723Name(name)   -> whether qrx decode takes a file of that name as one
//   const s = new q.Speed(frameLength, flags)
//   s.process(pcm)     -> Int16Array; s.flush() at the end; s.flags may change
//   q.version          -> the library's version, e.g. "1.2.0"
//   q.dispose()        -> frees the instance's library context
//
// Each instance, and each Speed, owns its own library context. Bad input
// throws a QrxcError (an Error) whose message is the library's text.

// The smallest module with a SIMD instruction (i8x16.splat): engines
// without WebAssembly SIMD refuse it, and get the plain build instead.
const SIMD_PROBE = new Uint8Array([0, 97, 115, 109, 1, 0, 0, 0, 1, 5, 1, 96, 0, 1, 123, 3, 2, 1, 0, 10, 8, 1, 6, 0, 65, 0,
  253, 15, 11]);
export const simdSupported = typeof WebAssembly === 'object' && WebAssembly.validate(SIMD_PROBE);

// The library's facts that are needed before an instance exists (flags
// for the speed control, codes for errors thrown here). createQrxc checks
// them against the library it loads, in the order qw_facts gives them.
export const SPEED_LEVELS = 13;
export const NORMAL_LEVEL = 4;
export const QRMD_EFFECT_MODE = 0x80;
const EFFECT_MASK = 0x1F;
const ERR_ARG = -1, ERR_HEADER = -4, ERR_BUFFER = -6;
const FACTS = [SPEED_LEVELS, NORMAL_LEVEL, QRMD_EFFECT_MODE, EFFECT_MASK, ERR_ARG, ERR_HEADER, ERR_BUFFER];

export class QrxcError extends Error {
  constructor(message, code) {
    super(message);
    this.name = 'QrxcError';
    this.code = code;
  }
}

const WAV_HEADER_BYTES = 46;
// Header bytes after the RIFF size field: "WAVE", the fmt chunk, the data chunk head.
const RIFF_OVERHEAD = WAV_HEADER_BYTES - 8;
const WAV_MAX_DATA_BYTES = 0xFFFFFFFF - RIFF_OVERHEAD;
// Frames decoded per call, so that progress can be told and the module's
// memory holds only a slice of the PCM.
const DECODE_CHUNK_FRAMES = 2048;

// The WAV file the converter writes: 16-bit mono PCM with an 18-byte fmt
// chunk (extra size 0), 46 header bytes in all.
export function wavFromPcm(pcm, sampleRate) {
  const dataBytes = pcm.length * 2;
  if (dataBytes > WAV_MAX_DATA_BYTES) throw new QrxcError('more PCM than a WAV file can hold (4 GiB)', ERR_BUFFER);
  const rate = sampleRate & 0xFFFF;
  const out = new Uint8Array(WAV_HEADER_BYTES + dataBytes);
  const v = new DataView(out.buffer);
  const ascii = (at, s) => { for (let i = 0; i < s.length; i++) out[at + i] = s.charCodeAt(i); };
  ascii(0, 'RIFF');
  v.setUint32(4, RIFF_OVERHEAD + dataBytes, true);
  ascii(8, 'WAVEfmt ');
  v.setUint32(16, 18, true);
  v.setUint16(20, 1, true);         // PCM
  v.setUint16(22, 1, true);         // mono
  v.setUint32(24, rate, true);
  v.setUint32(28, rate * 2, true);  // bytes per second
  v.setUint16(32, 2, true);         // block align
  v.setUint16(34, 16, true);        // bits per sample
  v.setUint16(36, 0, true);         // extra size
  ascii(38, 'data');
  v.setUint32(42, dataBytes, true);
  const samples = new Int16Array(out.buffer, WAV_HEADER_BYTES);
  if (new Uint8Array(Uint16Array.of(1).buffer)[0] === 1) samples.set(pcm);
  else for (let i = 0; i < pcm.length; i++) v.setInt16(WAV_HEADER_BYTES + 2 * i, pcm[i], true);
  return out;
}

// Arguments are checked rather than coerced: JavaScript would turn 2**32 + 2
// into 2 and "8000" into 8000 on the way to the module.
const describe = (v) => (v === null ? 'null' : ArrayBuffer.isView(v) ? v.constructor.name
  : typeof v === 'string' ? JSON.stringify(v) : typeof v === 'object' ? 'an object' : String(v));
function argument(ok, where, name, want, value) {
  if (!ok) throw new QrxcError(`${where}: ${name} must be ${want}, not ${describe(value)}`, ERR_ARG);
  return value;
}
const isIntIn = (v, lo, hi) => Number.isInteger(v) && v >= lo && v <= hi;

function asBytes(bytes) {
  if (bytes instanceof Uint8Array) return bytes;
  if (bytes instanceof ArrayBuffer) return new Uint8Array(bytes);
  if (ArrayBuffer.isView(bytes)) return new Uint8Array(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  throw new TypeError('expected a Uint8Array or an ArrayBuffer');
}

// moduleOptions.simd = false loads the plain build where SIMD would run.
export async function createQrxc(moduleOptions = {}) {
  const { simd = simdSupported, ...options } = moduleOptions;
  const { default: createQrxcModule } = await (simd ? import('./qrxc_wasm_simd.mjs') : import('./qrxc_wasm.mjs'));
  const m = await createQrxcModule(options);
  const simdBuild = Boolean(simd);
  const text = (code) => m.UTF8ToString(m._qw_strerror(code));
  const check = (rc) => {
    if (rc < 0) throw new QrxcError(text(rc), rc);
    return rc;
  };

  // Runs body with blocks of the module's memory, freed on every way out.
  const withMemory = (sizes, body) => {
    const ptrs = [];
    try {
      for (const n of sizes) {
        const p = m._malloc(Math.max(n, 1));
        if (p === 0) throw new QrxcError('out of memory', ERR_BUFFER);
        ptrs.push(p);
      }
      return body(...ptrs);
    } finally {
      for (const p of ptrs) m._free(p);
    }
  };

  const newContext = () => {
    const ctx = m._qw_create();
    if (ctx === 0) throw new QrxcError('out of memory', ERR_BUFFER);
    return ctx;
  };
  const facts = withMemory([4 * FACTS.length], (out) => {
    const n = m._qw_facts(out);
    return Array.from(new Int32Array(m.HEAPU8.buffer, out, n));
  });
  if (facts.length !== FACTS.length || facts.some((v, i) => v !== FACTS[i]))
    throw new Error(`qrxc.mjs does not match the library it loaded (${facts} against ${FACTS})`);
  let ctx = newContext();
  const live = () => {
    if (ctx === 0) throw new QrxcError('this instance has been disposed', ERR_ARG);
    return ctx;
  };
  // The instance's context serves one call at a time. A decode callback
  // that called back into the same instance would reopen the stream under
  // the outer call, so such a call is refused.
  let busy = '';
  const exclusive = (name, body) => (...args) => {
    if (busy) {
      throw new QrxcError(`${name}: this instance is inside ${busy}; call it after that returns, ` +
                          'or use another instance', ERR_ARG);
    }
    busy = name;
    try {
      return body(...args);
    } finally {
      busy = '';
    }
  };

  const typeInfo = (type) => withMemory([12], (out) => {
    const name = m._qw_type_info(type, out);
    if (name === 0) return null;
    const f = new Int32Array(m.HEAPU8.buffer, out, 3);
    return { pcmFrame: f[0], frameBytes: f[1], bitRate: f[2], coder: m.UTF8ToString(name) };
  });

  // Opens the stream in the module's memory at p for decoding; its header fields.
  const openStream = (p, length) => withMemory([24], (fields) => {
    const need = check(m._qw_header_length(p, length));
    if (length < need) throw new QrxcError(`too short for a QRX header (${length} of ${need} bytes)`, ERR_HEADER);
    check(m._qw_decode_open(live(), p, length, fields));
    const f = Array.from(new Int32Array(m.HEAPU8.buffer, fields, 6));
    const [headerLength, sampleRate, type, pcmFrame, frameBytes, version] = f;
    const frames = Math.floor((length - headerLength) / frameBytes);
    return { headerLength, sampleRate, type, pcmFrame, frameBytes, version, frames,
             trailingBytes: length - headerLength - frames * frameBytes };
  });

  const withStream = (bytes, body) => {
    const b = asBytes(bytes);
    return withMemory([b.length], (p) => {
      m.HEAPU8.set(b, p);
      return body(p, openStream(p, b.length));
    });
  };

  const info = (bytes) => withStream(bytes, (p, h) => {
    const t = typeInfo(h.type);
    const concealed = check(m._qw_concealed(h.type, p + h.headerLength, h.frames, h.frameBytes));
    return {
      headerForm: h.headerLength === 16 ? 'long' : 'short',
      headerLength: h.headerLength,
      version: h.version,
      sampleRate: h.sampleRate,
      type: h.type,
      coder: t ? t.coder : 'unknown',
      bitRate: t ? t.bitRate : 0,
      pcmFrame: h.pcmFrame,
      frameBytes: h.frameBytes,
      frames: h.frames,
      trailingBytes: h.trailingBytes,
      duration: h.frames * h.pcmFrame / h.sampleRate,
      concealedFrames: concealed,
    };
  });

  // Decodes slice by slice: onStart(samples, sampleRate) is told the size
  // first, then onSlice(pcm, offset, fraction) receives each slice of samples
  // (its own copy) as it is done. Returns the sample rate and the size.
  const decodeInSlices = (bytes, { onStart, onSlice }) => withStream(bytes, (p, h) => {
    if (onStart) onStart(h.frames * h.pcmFrame, h.sampleRate);
    const chunk = Math.min(DECODE_CHUNK_FRAMES, Math.max(h.frames, 1));
    withMemory([chunk * h.pcmFrame * 2], (out) => {
      for (let done = 0; done < h.frames;) {
        const n = Math.min(chunk, h.frames - done);
        const got = check(m._qw_decode_frames(live(), p + h.headerLength + done * h.frameBytes, n,
                                              h.frameBytes, h.pcmFrame, out));
        const slice = new Int16Array(m.HEAPU8.buffer, out, got).slice();
        onSlice?.(slice, done * h.pcmFrame, (done + n) / h.frames);
        done += n;
      }
    });
    return { sampleRate: h.sampleRate, samples: h.frames * h.pcmFrame };
  });

  // onProgress(fraction), if given, is called after each slice.
  const decode = (bytes, { onProgress } = {}) => {
    let pcm;
    const { sampleRate } = decodeInSlices(bytes, {
      onStart: (samples) => { pcm = new Int16Array(samples); },
      onSlice: (slice, offset, fraction) => {
        pcm.set(slice, offset);
        if (onProgress) onProgress(fraction);
      },
    });
    return { pcm, sampleRate };
  };

  const toWav = (bytes, options) => {
    const { pcm, sampleRate } = decode(bytes, options);
    return wavFromPcm(pcm, sampleRate);
  };

  const encode = (pcm, { type, sampleRate = 8000, shortHeader = false } = {}) => {
    argument(pcm instanceof Int16Array, 'encode', 'pcm', 'an Int16Array', pcm);
    argument(isIntIn(type, 0, 0xFFFF), 'encode', 'type', 'a stream type (0, 1, 2, 4, 5 or 6)', type);
    argument(isIntIn(sampleRate, 1, 0x7FFFFFFF), 'encode', 'sampleRate', 'a whole number of Hz (8000, 12000 or 16000)',
             sampleRate);
    const longHeader = shortHeader ? 0 : 1;
    const size = check(m._qw_encoded_bytes(type, pcm.length, longHeader));
    return withMemory([pcm.length * 2, size], (src, out) => {
      new Int16Array(m.HEAPU8.buffer, src, pcm.length).set(pcm);
      const n = check(m._qw_encode(live(), sampleRate, type, longHeader, src, pcm.length, out, size));
      return m.HEAPU8.slice(out, out + n);
    });
  };

  // Standard G.723.1 streams (frames back to back, no header), 8000 Hz.
  // With vad, silence becomes SID and untransmitted frames, which decodeG723
  // turns back into comfort noise.
  const g723Rates = { '6.3': 0, '5.3': 1 };
  const encodeG723 = (pcm, { rate = '6.3', vad = false } = {}) => {
    if (!(pcm instanceof Int16Array)) throw new TypeError('expected an Int16Array');
    if (!(String(rate) in g723Rates)) throw new TypeError('rate must be "5.3" or "6.3"');
    const size = Math.ceil(pcm.length / 240) * 24;
    return withMemory([pcm.length * 2, size], (src, out) => {
      new Int16Array(m.HEAPU8.buffer, src, pcm.length).set(pcm);
      const n = check(m._qw_encode_standard(live(), src, pcm.length, g723Rates[String(rate)], vad ? 1 : 0, out, size));
      return m.HEAPU8.slice(out, out + n);
    });
  };
  // Decodes a standard stream slice by slice, as decodeInSlices does a QRX
  // stream. Returns the sample rate, the size and what its frames were.
  const decodeG723InSlices = (bytes, { onStart, onSlice }) => {
    const b = asBytes(bytes);
    return withMemory([b.length, 4 * 8], (p, countsAt) => {
      m.HEAPU8.set(b, p);
      const frames = check(m._qw_standard_frames(p, b.length));
      if (onStart) onStart(frames * 240, 8000);
      check(m._qw_decode_standard_open(live()));
      const chunk = Math.min(DECODE_CHUNK_FRAMES, Math.max(frames, 1));
      new Int32Array(m.HEAPU8.buffer, countsAt, 8).fill(0);
      withMemory([chunk * 240 * 2], (out) => {
        for (let done = 0, at = 0; done < frames;) {
          const n = Math.min(chunk, frames - done);
          at += check(m._qw_decode_standard_frames(live(), p + at, b.length - at, n, out, countsAt));
          onSlice?.(new Int16Array(m.HEAPU8.buffer, out, n * 240).slice(), done * 240, (done + n) / frames);
          done += n;
        }
      });
      const c = new Int32Array(m.HEAPU8.buffer, countsAt, 8);
      return { sampleRate: 8000, samples: frames * 240, frames,
               kinds: { speech63: c[0], speech53: c[1], sid: c[2], untransmitted: c[3], cut: c[7] },
               speechFrames: c[4], comfortNoiseFrames: c[5], concealedFrames: c[6] };
    });
  };
  const decodeG723 = (bytes) => {
    let pcm;
    decodeG723InSlices(bytes, {
      onStart: (samples) => { pcm = new Int16Array(samples); },
      onSlice: (slice, offset) => pcm.set(slice, offset),
    });
    return pcm;
  };

  // The speed control and the voice effects on PCM in frames of
  // frameLength samples (240, or 320 as type 0 decodes). process() keeps a
  // partial frame for the next call; flush() completes it with silence and
  // adds two silent frames, which bring out what the control holds back.
  class Speed {
    #ctx;
    #src;
    #dst;
    #held;
    #heldCount = 0;
    #frame;
    constructor(frameLength, flags) {
      argument(isIntIn(frameLength, 1, 4096), 'new Speed', 'frameLength', 'a frame length in samples (240 or 320)',
               frameLength);
      argument(isIntIn(flags, 0, 0xFF), 'new Speed', 'flags', 'speed or effect flags (0 to 255)', flags);
      this.#frame = frameLength;
      this.#ctx = newContext();
      this.#src = m._malloc(frameLength * 2);
      this.#dst = m._malloc(frameLength * 4);
      if (this.#src === 0 || this.#dst === 0) {
        this.dispose();
        throw new QrxcError('out of memory', ERR_BUFFER);
      }
      const rc = m._qw_speed_open(this.#ctx, frameLength, flags);
      if (rc < 0) {
        this.dispose();
        throw new QrxcError(rc === ERR_BUFFER ? `no stream has frames of ${frameLength} samples` : text(rc), rc);
      }
      this.flags = flags;
      this.#held = new Int16Array(frameLength);
    }
    get frameLength() { return this.#frame; }
    #run(frame, out, at) {
      if (this.#ctx === 0) throw new QrxcError('this speed control has been disposed', ERR_ARG);
      argument(isIntIn(this.flags, 0, 0xFF), 'Speed.process', 'flags', 'speed or effect flags (0 to 255)', this.flags);
      new Int16Array(m.HEAPU8.buffer, this.#src, this.#frame).set(frame);
      const n = m._qw_speed_frame(this.#ctx, this.flags, this.#src, this.#dst);
      if (n < 0) throw new QrxcError('the speed control refused the flags', n);
      out.set(new Int16Array(m.HEAPU8.buffer, this.#dst, n), at);
      return at + n;
    }
    process(pcm) {
      argument(pcm instanceof Int16Array, 'Speed.process', 'pcm', 'an Int16Array', pcm);
      const f = this.#frame;
      const total = this.#heldCount + pcm.length;
      const out = new Int16Array(Math.floor(total / f) * 2 * f);
      let at = 0;
      let i = 0;
      if (this.#heldCount > 0) {
        i = Math.min(f - this.#heldCount, pcm.length);
        this.#held.set(pcm.subarray(0, i), this.#heldCount);
        this.#heldCount += i;
        if (this.#heldCount < f) return out.subarray(0, 0);
        at = this.#run(this.#held, out, at);
        this.#heldCount = 0;
      }
      for (; i + f <= pcm.length; i += f) at = this.#run(pcm.subarray(i, i + f), out, at);
      this.#held.set(pcm.subarray(i));
      this.#heldCount = pcm.length - i;
      return out.slice(0, at);
    }
    flush() {
      const f = this.#frame;
      const frames = (this.#heldCount > 0 ? 1 : 0) + 2;
      const out = new Int16Array(frames * 2 * f);
      let at = 0;
      if (this.#heldCount > 0) {
        this.#held.fill(0, this.#heldCount);
        at = this.#run(this.#held, out, at);
        this.#heldCount = 0;
      }
      const silence = new Int16Array(f);
      for (let k = 0; k < 2; k++) at = this.#run(silence, out, at);
      return out.slice(0, at);
    }
    dispose() {
      if (this.#src) m._free(this.#src);
      if (this.#dst) m._free(this.#dst);
      if (this.#ctx) m._qw_destroy(this.#ctx);
      this.#src = this.#dst = this.#ctx = 0;
    }
  }

  const dispose = () => {
    if (ctx !== 0) m._qw_destroy(ctx);
    ctx = 0;
  };

  return {
    version: m.UTF8ToString(m._qw_version()),
    simd: simdBuild,
    info: exclusive('info', info),
    decode: exclusive('decode', decode),
    decodeInSlices: exclusive('decodeInSlices', decodeInSlices),
    toWav: exclusive('toWav', toWav),
    encode: exclusive('encode', encode),
    encodeG723: exclusive('encodeG723', encodeG723),
    decodeG723: exclusive('decodeG723', decodeG723),
    decodeG723InSlices: exclusive('decodeG723InSlices', decodeG723InSlices),
    typeInfo,
    Speed,
    dispose: exclusive('dispose', dispose),
    strerror: text,
    wavFromPcm,
  };
}

// Flags for a speed level 0..12 (0 twice as fast, 4 normal, 12 half speed).
export const speedFlags = (level) => level;
// Flags for the voice effects: pitch 0..7 (0 unchanged), then vibrato or an echo.
export function effectFlags({ pitch = 0, vibrato = false, echo = '' } = {}) {
  let code = pitch << 2;
  if (vibrato) code |= 1;
  else if (echo === 'short') code |= 2;
  else if (echo === 'long') code |= 3;
  return QRMD_EFFECT_MODE | code;
}
// The names qrx decode takes for standard G.723.1 streams: .g723, .tco,
// .rco or .bit, in any case.
export const isG723Name = (name) => /\.(g723|tco|rco|bit)$/i.test(name);
// Output length over input length at a speed level: (level + 4) / 8.
export const lengthRatio = (level) => (level + 4) / 8;

export default createQrxc;
