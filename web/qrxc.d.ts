// Types of the qrxc module (qrxc.mjs): the library compiled to WebAssembly.

export declare const QRMD_EFFECT_MODE: 0x80;
export declare const SPEED_LEVELS: 13;
export declare const NORMAL_LEVEL: 4;

/** Bad input or a refused call: the message is the library's text. */
export declare class QrxcError extends Error {
  constructor(message: string, code: number);
  readonly name: 'QrxcError';
  /** The library's negative result code. */
  code: number;
}

export type Bytes = Uint8Array | ArrayBuffer | ArrayBufferView;

export interface StreamInfo {
  headerForm: 'long' | 'short';
  headerLength: number;
  version: number;
  sampleRate: number;
  type: number;
  coder: string;
  bitRate: number;
  pcmFrame: number;
  frameBytes: number;
  frames: number;
  trailingBytes: number;
  /** Seconds. */
  duration: number;
  concealedFrames: number;
}

export interface TypeInfo {
  pcmFrame: number;
  frameBytes: number;
  bitRate: number;
  coder: string;
}

export interface Decoded {
  pcm: Int16Array;
  sampleRate: number;
}

export interface EncodeOptions {
  /** Stream type: 0, 1, 2 (G.723.1) or 4, 5, 6 (ADPCM). */
  type: number;
  sampleRate?: number;
  shortHeader?: boolean;
}

/** What the frames of a standard stream were, and what they became. */
export interface G723Decoded {
  sampleRate: 8000;
  samples: number;
  frames: number;
  kinds: { speech63: number; speech53: number; sid: number; untransmitted: number; cut: number };
  speechFrames: number;
  comfortNoiseFrames: number;
  concealedFrames: number;
}

export interface SliceHandlers {
  onStart?: (samples: number, sampleRate: number) => void;
  onSlice?: (pcm: Int16Array, offset: number, fraction: number) => void;
}

/** The speed control (or the voice effects) over frames of decoded PCM. */
export interface Speed {
  /** Speed level 0..12, or effectFlags(...); may change between calls. */
  flags: number;
  process(pcm: Int16Array): Int16Array;
  /** What the control still holds, at the end of the speech. */
  flush(): Int16Array;
  dispose(): void;
}

export interface Qrxc {
  /** The library's version, e.g. "1.2.0". */
  readonly version: string;
  info(bytes: Bytes): StreamInfo;
  decode(bytes: Bytes, options?: { onProgress?: (fraction: number) => void }): Decoded;
  decodeInSlices(bytes: Bytes, handlers: SliceHandlers): { sampleRate: number; samples: number };
  /** The WAV file `qrx decode` writes. */
  toWav(bytes: Bytes, options?: { onProgress?: (fraction: number) => void }): Uint8Array;
  /** The stream `qrx encode` writes. */
  encode(pcm: Int16Array, options: EncodeOptions): Uint8Array;
  /** A standard G.723.1 stream (frames back to back, 8000 Hz), as `qrx encode --output-format g723` writes. */
  encodeG723(pcm: Int16Array, options?: { rate?: '6.3' | '5.3'; vad?: boolean }): Uint8Array;
  /** 8000 Hz PCM, comfort noise in silences, as `qrx decode file.g723` writes. */
  decodeG723(bytes: Bytes): Int16Array;
  decodeG723InSlices(bytes: Bytes, handlers: SliceHandlers): G723Decoded;
  typeInfo(type: number): TypeInfo | null;
  Speed: new (frameLength: number, flags: number) => Speed;
  strerror(code: number): string;
  wavFromPcm(pcm: Int16Array, sampleRate: number): Uint8Array;
  /** Frees the instance's library context. */
  dispose(): void;
}

export declare function createQrxc(moduleOptions?: object): Promise<Qrxc>;
export default createQrxc;

/** The converter's WAV: 16-bit mono PCM, 46-byte header. */
export declare function wavFromPcm(pcm: Int16Array, sampleRate: number): Uint8Array;
export declare function speedFlags(level: number): number;
export declare function effectFlags(effect?: { pitch?: number; vibrato?: boolean; echo?: '' | 'short' | 'long' }): number;
/** Whether `qrx decode` takes a file of this name as a standard G.723.1 stream. */
export declare function isG723Name(name: string): boolean;
/** Output length over input length at a speed level. */
export declare function lengthRatio(level: number): number;
