// Sample-rate conversion to the 8000 Hz that QRX streams are encoded at.
//
// Exact means: the ratio is reduced to whole numbers L/M (out/in), so every
// output sample sits exactly at input position n*M/L, and each of the L
// positions between two input samples has its own precomputed filter (a
// polyphase windowed sinc: 16 zero crossings each side at the lower rate's
// band edge, cutoff at 0.9 of that Nyquist frequency, Blackman window, every
// phase normalised to unit gain). Nothing is interpolated from a table and
// nothing drifts over long files. The filters use only IEEE-754 basic
// arithmetic (their own sine, not Math.sin), so the output is the same,
// bit for bit, in every browser and in node. Input at the target rate passes
// through unchanged.
const ZERO_CROSSINGS = 16;
const CUTOFF = 0.9;

const gcd = (a, b) => { while (b) [a, b] = [b, a % b]; return a; };

// sin(pi x) from a Taylor series on x reduced to [-1/2, 1/2].
function sinPi(x) {
  const n = Math.round(x);
  const r = Math.PI * (x - n);
  const r2 = r * r;
  let term = r, sum = r;
  for (let k = 1; k <= 12; k++) {
    term *= -r2 / ((2 * k) * (2 * k + 1));
    sum += term;
  }
  return n % 2 === 0 ? sum : -sum;
}
const cosPi = (x) => sinPi(x + 0.5);

function kernels(up, down) {
  const fc = CUTOFF * Math.min(1, up / down);  // in units of the input's Nyquist frequency
  const half = Math.ceil(ZERO_CROSSINGS / fc);  // taps each side, in input samples
  const taps = 2 * half;
  const table = new Float64Array(up * taps);
  for (let p = 0; p < up; p++) {
    let sum = 0;
    for (let k = 0; k < taps; k++) {
      const x = (k - half + 1) - p / up;  // distance from the output position
      const w = x / half;
      const window = Math.abs(w) >= 1 ? 0 : 0.42 + 0.5 * cosPi(w) + 0.08 * cosPi(2 * w);
      const s = x === 0 ? 1 : sinPi(fc * x) / (Math.PI * fc * x);
      table[p * taps + k] = s * window;
      sum += s * window;
    }
    for (let k = 0; k < taps; k++) table[p * taps + k] /= sum;
  }
  return { table, taps, half };
}

// Rounds to the nearest 16-bit value, ties to even, clipping beyond full scale
// (as qrx encode turns float samples into 16-bit ones).
function toInt16(v) {
  let r = Math.round(v);
  if (r - v === 0.5 && r % 2 !== 0) r -= 1;
  return r > 32767 ? 32767 : r < -32768 ? -32768 : r;
}

// channels: Float32Arrays at full scale 1.0; they are mixed to mono by their
// mean. Returns Int16Array samples at outRate.
export function resampleToInt16(channels, inRate, outRate = 8000) {
  if (!Number.isInteger(inRate) || !Number.isInteger(outRate) || inRate <= 0 || outRate <= 0)
    throw new RangeError('sample rates must be positive whole numbers');
  const n = channels.length ? channels[0].length : 0;
  const mono = new Float64Array(n);
  for (const ch of channels) for (let i = 0; i < n; i++) mono[i] += ch[i];
  if (channels.length > 1) for (let i = 0; i < n; i++) mono[i] /= channels.length;
  if (inRate === outRate) return Int16Array.from(mono, (v) => toInt16(v * 32768));

  const g = gcd(inRate, outRate);
  const up = outRate / g, down = inRate / g;
  const { table, taps, half } = kernels(up, down);
  const count = Math.ceil(n * up / down);
  const out = new Int16Array(count);
  for (let j = 0; j < count; j++) {
    const pos = j * down;
    const base = Math.floor(pos / up);
    const phase = pos - base * up;
    const first = base - half + 1;
    const k0 = Math.max(0, -first), k1 = Math.min(taps, n - first);
    const row = phase * taps;
    let acc = 0;
    for (let k = k0; k < k1; k++) acc += table[row + k] * mono[first + k];
    out[j] = toInt16(acc * 32768);
  }
  return out;
}
