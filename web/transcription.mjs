// The player's transcription aids, apart from the page so that they can be
// used with any Player and tested without one: user-set keys, auto-rewind on
// pause, the position kept per file, [hh:mm:ss] stamps and foot pedals.
export const DEFAULT_SETTINGS = Object.freeze({
  rewind: 2,            // seconds play resumes before where it paused (0: off)
  step: 5,              // seconds a skip moves
  keys: Object.freeze({ playPause: ' ', back: 'ArrowLeft', forward: 'ArrowRight', faster: '+', slower: '-' }),
});
const SETTINGS_KEY = 'qrxc.transcription.settings';
const POSITIONS_KEY = 'qrxc.transcription.positions';
const POSITIONS_KEPT = 200;
const HASHED_BYTES = 4096;

export function loadSettings(storage) {
  let saved = {};
  try { saved = JSON.parse(storage?.getItem(SETTINGS_KEY) ?? '{}') ?? {}; } catch { saved = {}; }
  const number = (v, d) => (Number.isFinite(v) && v >= 0 && v <= 60 ? v : d);
  return {
    rewind: number(saved.rewind, DEFAULT_SETTINGS.rewind),
    step: number(saved.step, DEFAULT_SETTINGS.step) || DEFAULT_SETTINGS.step,
    keys: { ...DEFAULT_SETTINGS.keys, ...(typeof saved.keys === 'object' ? saved.keys : {}) },
  };
}

export function saveSettings(storage, settings) {
  try { storage?.setItem(SETTINGS_KEY, JSON.stringify(settings)); } catch { /* private mode: kept for this visit */ }
}

// The action a key press stands for under the bindings, or null.
export function actionFor(keys, key) {
  for (const [action, bound] of Object.entries(keys)) if (bound === key) return action;
  return null;
}

// Where play resumes after a pause at position.
export const resumeAt = (position, rewind) => Math.max(0, position - Math.max(0, rewind));

// "[hh:mm:ss]" of a position in seconds.
export function stamp(seconds) {
  const s = Math.max(0, Math.floor(seconds));
  const two = (n) => String(n).padStart(2, '0');
  return `[${two(Math.floor(s / 3600))}:${two(Math.floor(s / 60) % 60)}:${two(s % 60)}]`;
}

// A file's identity across reloads: its name, size and a hash (FNV-1a) of
// its first bytes, so a renamed copy is another file but a reload is not.
export function fileKey(name, bytes) {
  let h = 0x811c9dc5;
  const n = Math.min(bytes.length, HASHED_BYTES);
  for (let i = 0; i < n; i++) h = Math.imul(h ^ bytes[i], 0x01000193) >>> 0;
  return `${name}|${bytes.length}|${h.toString(16).padStart(8, '0')}`;
}

export class PositionMemory {
  #storage;
  constructor(storage) { this.#storage = storage; }
  #read() {
    try { return JSON.parse(this.#storage?.getItem(POSITIONS_KEY) ?? '[]') ?? []; } catch { return []; }
  }
  get(key) {
    const hit = this.#read().find((e) => e[0] === key);
    return hit ? hit[1] : 0;
  }
  // Newest first, the oldest dropped beyond POSITIONS_KEPT files.
  set(key, seconds) {
    const list = this.#read().filter((e) => e[0] !== key);
    list.unshift([key, Math.max(0, seconds)]);
    try { this.#storage?.setItem(POSITIONS_KEY, JSON.stringify(list.slice(0, POSITIONS_KEPT))); } catch { /* full */ }
  }
}

// ---- foot pedals ----
// A pedal is a report id, a byte and a bit mask. Learning watches the reports
// while the user holds one pedal down: the bits that go from 0 to 1 are it.
export function learnPedal(released, pressed) {
  if (released.reportId !== pressed.reportId) return null;
  const n = Math.min(released.data.length, pressed.data.length);
  for (let byte = 0; byte < n; byte++) {
    const rose = pressed.data[byte] & ~released.data[byte];
    if (rose) return { reportId: pressed.reportId, byte, mask: rose & -rose };
  }
  return null;
}

export const pedalDown = (pedal, report) =>
  pedal != null && report.reportId === pedal.reportId && (report.data[pedal.byte] & pedal.mask) !== 0;

// Turns pedal reports into player actions: the middle pedal plays while held,
// the side ones skip back and forward (once a press).
export class PedalDecoder {
  constructor(pedals) { this.pedals = pedals; this.down = { back: false, play: false, forward: false }; }
  // The actions a report brings: 'play', 'pause', 'back', 'forward'.
  feed(report) {
    const actions = [];
    for (const which of ['back', 'play', 'forward']) {
      const now = pedalDown(this.pedals[which], report);
      if (now === this.down[which]) continue;
      this.down[which] = now;
      if (which === 'play') actions.push(now ? 'play' : 'pause');
      else if (now) actions.push(which);
    }
    return actions;
  }
}

// The text the page shows where a browser cannot reach pedals.
export const NO_WEBHID = 'Foot pedals need WebHID, which this browser does not offer (Chrome or Edge on a desktop do, over https or localhost).';

export const hidAvailable = (nav) => Boolean(nav && nav.hid && typeof nav.hid.requestDevice === 'function');

// A report event's fields as learnPedal and PedalDecoder take them.
export const reportOf = (event) => ({
  reportId: event.reportId,
  data: new Uint8Array(event.data.buffer, event.data.byteOffset, event.data.byteLength),
});
