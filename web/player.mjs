// Plays decoded PCM through the library's speed control: slices of input
// go through a Speed a little ahead of the playhead and are queued as audio
// buffers back to back. A change of speed or effect restarts the control at
// the current position, so it is heard at once.
const LOOKAHEAD = 1.5;      // seconds of output queued ahead of the playhead
const SLICE_FRAMES = 16;    // frames per queued buffer
const PUMP_MS = 100;
const START_DELAY = 0.05;   // seconds between a start and its first sample

export class Player {
  #newSpeed;
  #audio = null;
  #track = null;
  #speed = null;
  #sources = new Set();
  #segments = [];           // { t0, t1, s0, s1 }: output time span and input sample span
  #at = 0;                  // next input sample to go through the speed control
  #next = 0;                // audio time where the next buffer starts
  #flushed = false;
  #timer = 0;
  #playing = false;
  #position = 0;            // input samples, while paused
  #flags = 4;

  // newSpeed(frameLength, flags) returns a fresh speed control.
  constructor(newSpeed, { onEnd = () => {}, onSound = () => {} } = {}) {
    this.#newSpeed = newSpeed;
    this.onEnd = onEnd;
    this.onSound = onSound;
  }

  // track: { pcm, sampleRate, frameLength, available(): samples decoded so far }
  load(track) {
    this.pause();
    this.#track = track;
    this.#position = 0;
  }

  get playing() { return this.#playing; }
  get duration() { return this.#track ? this.#track.pcm.length / this.#track.sampleRate : 0; }
  get flags() { return this.#flags; }
  set flags(f) {
    this.#flags = f;
    if (this.#playing) this.#start(this.#currentSample());
  }
  // Seconds into the recording (input time, whatever the speed).
  get position() {
    return this.#track ? (this.#playing ? this.#currentSample() : this.#position) / this.#track.sampleRate : 0;
  }

  async play() {
    if (!this.#track || this.#playing) return;
    const ctx = this.#context();
    if (ctx.state === 'suspended') await ctx.resume();
    if (this.#position >= this.#track.pcm.length) this.#position = 0;
    this.#playing = true;
    this.#start(this.#position);
  }

  pause() {
    if (!this.#playing) return;
    this.#position = this.#currentSample();
    this.#stop();
  }

  seek(seconds) {
    if (!this.#track) return;
    const s = Math.round(Math.min(Math.max(seconds, 0), this.duration) * this.#track.sampleRate);
    if (this.#playing) this.#start(s);
    else this.#position = s;
  }

  // One context, at the recording's rate where the browser allows (the
  // system then resamples the whole stream, not each buffer).
  #context() {
    const rate = this.#track.sampleRate;
    if (this.#audio && (this.#audio.sampleRate === rate || this.#audio.fallback)) return this.#audio;
    if (this.#audio) this.#audio.close();
    try {
      this.#audio = new AudioContext({ sampleRate: rate, latencyHint: 'playback' });
    } catch {
      this.#audio = new AudioContext({ latencyHint: 'playback' });
      this.#audio.fallback = true;
    }
    return this.#audio;
  }

  #start(sample) {
    this.#silence();
    const f = this.#track.frameLength;
    this.#speed?.dispose();
    this.#speed = this.#newSpeed(f, this.#flags);
    this.#at = Math.floor(sample / f) * f;
    this.#next = this.#audio.currentTime + START_DELAY;
    this.#segments = [{ t0: this.#next, t1: this.#next, s0: this.#at, s1: this.#at }];
    this.#flushed = false;
    clearInterval(this.#timer);
    this.#timer = setInterval(() => this.#pump(), PUMP_MS);
    this.#pump();
  }

  #stop() {
    this.#playing = false;
    clearInterval(this.#timer);
    this.#timer = 0;
    this.#silence();
    this.#speed?.dispose();
    this.#speed = null;
  }

  #silence() {
    for (const s of this.#sources) {
      s.onended = null;
      s.stop();
      s.disconnect();
    }
    this.#sources.clear();
  }

  #pump() {
    const ctx = this.#audio;
    const t = this.#track;
    const total = t.pcm.length;
    const f = t.frameLength;
    while (!this.#flushed && this.#next - ctx.currentTime < LOOKAHEAD) {
      if (this.#at >= total) {
        this.#queue(this.#speed.flush(), this.#at, this.#at);
        this.#flushed = true;
        break;
      }
      const end = Math.min(this.#at + SLICE_FRAMES * f, t.available());
      if (end - this.#at < f && end < total) break;   // waiting for the decoder
      this.#queue(this.#speed.process(t.pcm.subarray(this.#at, end)), this.#at, end);
      this.#at = end;
    }
    const now = ctx.currentTime;
    while (this.#segments.length > 1 && this.#segments[0].t1 < now - 1) this.#segments.shift();
    if (this.#flushed && now >= this.#next) {
      this.#position = total;
      this.#stop();
      this.onEnd();
    }
  }

  #queue(out, s0, s1) {
    const ctx = this.#audio;
    const rate = this.#track.sampleRate;
    const t0 = Math.max(this.#next, ctx.currentTime);
    const t1 = t0 + out.length / rate;
    this.#segments.push({ t0, t1, s0, s1 });
    this.#next = t1;
    if (out.length === 0) return;
    const buffer = ctx.createBuffer(1, out.length, rate);
    const ch = buffer.getChannelData(0);
    for (let i = 0; i < out.length; i++) ch[i] = out[i] / 32768;
    const src = ctx.createBufferSource();
    src.buffer = buffer;
    src.connect(ctx.destination);
    src.onended = () => this.#sources.delete(src);
    src.start(t0);
    this.#sources.add(src);
    this.onSound(t0 - ctx.currentTime);
  }

  #currentSample() {
    const now = this.#audio.currentTime;
    const segs = this.#segments;
    if (segs.length === 0) return this.#position;
    if (now <= segs[0].t0) return segs[0].s0;
    for (const g of segs) {
      if (now < g.t0) return g.s0;   // a gap while the decoder catches up
      if (now < g.t1) return g.s0 + Math.floor((g.s1 - g.s0) * (now - g.t0) / (g.t1 - g.t0));
    }
    return segs[segs.length - 1].s1;
  }
}
