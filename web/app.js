// The page: the list of recordings, the player, saving and encoding. The
// coding itself runs in worker.js; the page keeps the decoded PCM.
import { createQrxc, wavFromPcm, effectFlags, isG723Name, NORMAL_LEVEL, SPEED_LEVELS, QRMD_EFFECT_MODE } from './qrxc.mjs';
import { Player } from './player.mjs';
import { zipStored } from './zip.mjs';
import { readWav } from './wav.mjs';
import * as transcription from './transcription.mjs';

const $ = (id) => document.getElementById(id);
const PEAK_COLUMNS = 2048;
const settings = transcription.loadSettings(globalThis.localStorage);
const positions = new transcription.PositionMemory(globalThis.localStorage);
let learningKey = null;   // the binding waiting for its key
const ACTION_NAMES = { playPause: 'Play/pause', back: 'Skip back', forward: 'Skip forward', faster: 'Faster', slower: 'Slower' };

// ---- the coding thread ----
const worker = new Worker(new URL('./worker.js', import.meta.url), { type: 'module' });
const pending = new Map();   // request id -> message handler
let nextId = 1;
let workerFailed = false;
function request(msg, onMessage, transfer = []) {
  const id = nextId++;
  if (workerFailed) {
    onMessage({ id, op: 'error', message: 'this browser cannot run the page\'s coding thread' });
    return id;
  }
  pending.set(id, onMessage);
  worker.postMessage({ ...msg, id }, transfer);
  return id;
}
worker.onmessage = (e) => {
  const handler = pending.get(e.data.id);
  if (!handler) return;
  if (['done', 'error', 'encoded', 'types'].includes(e.data.op)) pending.delete(e.data.id);
  handler(e.data);
};
worker.onerror = (e) => {
  e.preventDefault();
  workerFailed = true;
  for (const [id, handler] of pending) handler({ id, op: 'error', message: 'the coding thread stopped' });
  pending.clear();
};

// ---- formatting ----
function clock(seconds) {
  const s = Math.floor(seconds);
  const h = Math.floor(s / 3600), m = Math.floor((s % 3600) / 60), r = s % 60;
  const mm = h > 0 ? String(m).padStart(2, '0') : String(m);
  return `${h > 0 ? h + ':' : ''}${mm}:${String(r).padStart(2, '0')}`;
}
const speedText = (level) => `×${(8 / (level + 4)).toFixed(2)}`;
// The converter's rules: one trailing .QRX (any case) goes and .wav is
// added; a standard stream's extension becomes .wav.
const wavName = (name) => (isG723Name(name) ? name.replace(/\.[^.]*$/, '') : name.replace(/\.qrx$/i, '')) + '.wav';
const plural = (n, what) => `${n} ${what}${n === 1 ? '' : 's'}`;
// A standard stream's counts come once it is decoded.
function metaText(i) {
  if (i.format !== 'g723') return `type ${i.type} (${i.coder}) · ${clock(i.duration)} · ${plural(i.concealedFrames, 'concealed frame')}`;
  const rates = i.rates ? ` ${i.rates.join(' and ')} kbit/s` : '';
  const counts = i.concealedFrames === undefined ? ''
    : ` · ${plural(i.concealedFrames, 'concealed frame')} · ${plural(i.comfortNoiseFrames, 'comfort noise frame')}`;
  return `standard G.723.1${rates} · ${clock(i.duration)}${counts}`;
}

function download(blob, name) {
  const a = document.createElement('a');
  a.href = URL.createObjectURL(blob);
  a.download = name;
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(a.href), 60000);
}

// ---- recordings and the player ----
const files = [];
let selected = null;
let q = null;   // the page's own instance, for the speed control
const player = new Player((frameLength, flags) => new q.Speed(frameLength, flags), {
  onEnd: () => updateTransport(),
  onSound: () => document.dispatchEvent(new CustomEvent('qrx-sound')),
});

function peaksOf(entry, from, to) {
  const n = entry.pcm.length;
  if (n === 0) return;
  const cols = entry.peaks.length / 2;
  const c0 = Math.floor(from * cols / n), c1 = Math.ceil(to * cols / n);
  for (let c = c0; c < c1 && c < cols; c++) {
    const a = Math.floor(c * n / cols), b = Math.min(Math.floor((c + 1) * n / cols), to);
    let lo = entry.peaks[2 * c], hi = entry.peaks[2 * c + 1];
    for (let i = Math.max(a, from); i < b; i++) {
      const v = entry.pcm[i];
      if (v < lo) lo = v;
      if (v > hi) hi = v;
    }
    entry.peaks[2 * c] = lo;
    entry.peaks[2 * c + 1] = hi;
  }
}

function renderEntry(entry) {
  const li = entry.li;
  // A button that had the focus keeps it through the redraw.
  const focused = li.contains(document.activeElement) ? document.activeElement.className : '';
  li.replaceChildren();
  li.classList.toggle('selected', entry === selected);
  const name = document.createElement('span');
  name.className = 'name';
  name.textContent = entry.name;
  li.append(name);
  if (entry.info) {
    const meta = document.createElement('span');
    meta.className = 'meta';
    meta.textContent = metaText(entry.info);
    li.append(meta);
  }
  if (entry.error) {
    const err = document.createElement('span');
    err.className = 'error';
    err.setAttribute('role', 'alert');
    err.textContent = `Cannot open this file: ${entry.error}`;
    li.append(err);
    return;
  }
  const actions = document.createElement('span');
  actions.className = 'actions';
  const play = document.createElement('button');
  play.type = 'button';
  play.className = 'listen';
  const playing = entry === selected && player.playing;
  play.textContent = playing ? 'Pause' : 'Listen';
  play.setAttribute('aria-label', `${playing ? 'Pause' : 'Listen to'} ${entry.name}`);
  play.disabled = !entry.info || !q;
  play.addEventListener('click', () => {
    if (entry !== selected) select(entry);
    togglePlay();
  });
  const save = document.createElement('button');
  save.type = 'button';
  save.className = 'save';
  save.textContent = 'Save WAV';
  save.setAttribute('aria-label', `Save ${entry.name} as WAV`);
  save.disabled = !entry.done;
  save.addEventListener('click', () => download(new Blob([wavFromPcm(entry.pcm, entry.info.sampleRate)],
                                                         { type: 'audio/wav' }), wavName(entry.name)));
  actions.append(play, save);
  li.append(actions);
  if (focused) li.querySelector(`button.${focused}`)?.focus();
  if (!entry.done) {
    const bar = document.createElement('progress');
    bar.max = 1;
    bar.value = entry.progress;
    bar.setAttribute('aria-label', `Decoding ${entry.name}`);
    entry.bar = bar;
    li.append(bar);
  }
}

function updateSaveAll() {
  $('save-all').disabled = !files.some((f) => f.done);
}

async function open(file) {
  const li = document.createElement('li');
  const entry = { name: file.name, li, info: null, pcm: null, peaks: null, decoded: 0, progress: 0,
                  done: false, error: null, bar: null };
  files.push(entry);
  $('files').append(li);
  renderEntry(entry);
  let bytes;
  try {
    bytes = await file.arrayBuffer();
    entry.key = transcription.fileKey(file.name, new Uint8Array(bytes));
  } catch {
    entry.error = 'it cannot be read';
    renderEntry(entry);
    return;
  }
  request({ op: 'decode', bytes, name: file.name }, (msg) => {
    switch (msg.op) {
    case 'info':
      try {
        entry.pcm = new Int16Array(msg.info.frames * msg.info.pcmFrame);
      } catch {
        entry.error = 'it is too long to hold in this browser\'s memory';
        renderEntry(entry);
        return;
      }
      entry.info = msg.info;
      entry.peaks = new Int16Array(2 * PEAK_COLUMNS);
      renderEntry(entry);
      if (!selected) select(entry);
      break;
    case 'slice':
      if (entry.error) return;
      entry.pcm.set(msg.pcm, msg.offset);
      entry.decoded = msg.offset + msg.pcm.length;
      peaksOf(entry, msg.offset, entry.decoded);
      entry.progress = msg.fraction;
      if (entry.bar) entry.bar.value = msg.fraction;
      if (entry === selected) drawWave();
      break;
    case 'done':
      if (entry.error) return;
      entry.done = true;
      entry.decoded = entry.pcm.length;
      if (msg.info) entry.info = msg.info;
      renderEntry(entry);
      updateSaveAll();
      break;
    case 'error':
      entry.error = msg.message;
      entry.info = null;
      renderEntry(entry);
      if (entry === selected) select(null);
      break;
    }
  }, [bytes]);
}

function openAll(list) {
  for (const f of list) open(f);
}

// ---- player ----

function select(entry) {
  const previous = selected;
  rememberPosition();
  selected = entry;
  if (previous) renderEntry(previous);
  if (entry) {
    renderEntry(entry);
    player.load({
      pcm: entry.pcm,
      sampleRate: entry.info.sampleRate,
      frameLength: entry.info.pcmFrame,
      available: () => entry.decoded,
    });
    player.seek(positions.get(entry.key));
    $('now').textContent = `${entry.name} · ${clock(entry.info.duration)}`;
  } else {
    player.load(null);
    $('now').textContent = 'No recording selected.';
  }
  const pos = $('position');
  pos.max = entry ? String(entry.info.duration) : '0';
  pos.value = '0';
  pos.disabled = !entry;
  $('play').disabled = !entry || !q;
  updateTransport();
  drawWave();
}

function updateTransport() {
  const playing = player.playing;
  $('play').textContent = playing ? 'Pause' : 'Play';
  $('play').setAttribute('aria-label', playing ? 'Pause' : 'Play');
  const listen = selected?.li.querySelector('button.listen');
  if (listen) {
    listen.textContent = playing ? 'Pause' : 'Listen';
    listen.setAttribute('aria-label', `${playing ? 'Pause' : 'Listen to'} ${selected.name}`);
  }
  const t = player.position, d = player.duration;
  if (!dragging) $('position').value = String(t);
  $('position').setAttribute('aria-valuetext', `${clock(t)} of ${clock(d)}`);
  $('time').textContent = `${clock(t)} / ${clock(d)}`;
}

function drawWave() {
  const canvas = $('wave');
  const dpr = window.devicePixelRatio || 1;
  const w = Math.max(1, Math.round(canvas.clientWidth * dpr)), h = Math.max(1, Math.round(canvas.clientHeight * dpr));
  if (canvas.width !== w || canvas.height !== h) {
    canvas.width = w;
    canvas.height = h;
  }
  const g = canvas.getContext('2d');
  g.clearRect(0, 0, w, h);
  if (!selected || !selected.peaks) return;
  const style = getComputedStyle(document.documentElement);
  const peaks = selected.peaks;
  const cols = peaks.length / 2;
  const played = player.duration > 0 ? player.position / player.duration * w : 0;
  const mid = h / 2, scale = h / 65536;
  for (let x = 0; x < w; x++) {
    const c0 = Math.floor(x * cols / w), c1 = Math.max(c0 + 1, Math.floor((x + 1) * cols / w));
    let lo = 0, hi = 0;
    for (let c = c0; c < c1; c++) {
      lo = Math.min(lo, peaks[2 * c]);
      hi = Math.max(hi, peaks[2 * c + 1]);
    }
    g.fillStyle = x < played ? style.getPropertyValue('--wave-played') : style.getPropertyValue('--wave');
    g.fillRect(x, mid - hi * scale, 1, Math.max(1, (hi - lo) * scale));
  }
}

let dragging = false;
function tick() {
  if (player.playing) {
    updateTransport();
    drawWave();
  }
  requestAnimationFrame(tick);
}

// Speed levels: the slider runs slow (left) to fast (right).
const level = () => SPEED_LEVELS - 1 - Number($('speed').value);
function currentFlags() {
  const pitch = Number($('pitch').value), extra = $('extra').value;
  if (pitch === 0 && extra === '') return level();
  return effectFlags({ pitch, vibrato: extra === 'vibrato', echo: extra === 'vibrato' ? '' : extra });
}
function updateSpeed() {
  const effects = currentFlags() >= QRMD_EFFECT_MODE;
  const text = effects ? `${speedText(NORMAL_LEVEL)} (effects on)` : speedText(level());
  $('speed-value').textContent = text;
  $('speed').setAttribute('aria-valuetext', text);
  $('speed').disabled = effects;
  player.flags = currentFlags();
}
function stepSpeed(faster) {
  const s = $('speed');
  if (s.disabled) return;
  s.value = String(Math.min(SPEED_LEVELS - 1, Math.max(0, Number(s.value) + (faster ? 1 : -1))));
  updateSpeed();
}

function rememberPosition() {
  if (selected?.key) positions.set(selected.key, player.position);
}

// A pause steps back by the auto-rewind, so that play resumes a little
// before where the listener stopped.
async function togglePlay() {
  if (!selected) return;
  if (player.playing) {
    player.pause();
    player.seek(transcription.resumeAt(player.position, settings.rewind));
    rememberPosition();
  } else {
    await player.play();
  }
  updateTransport();
  drawWave();
}

function skip(seconds) {
  if (!selected) return;
  player.seek(player.position + seconds);
  updateTransport();
  drawWave();
}

// ---- encoding ----
async function decodeAudio(bytes, rate) {
  const attempt = (r) => new OfflineAudioContext(1, 1, r).decodeAudioData(bytes.slice(0));
  try {
    return await attempt(rate || 48000);
  } catch (e) {
    if (!rate || (e instanceof DOMException && e.name === 'EncodingError'))
      throw new Error('the browser cannot read this audio file');
    return attempt(48000);   // a rate the browser's audio contexts do not take
  }
}

async function encodeFile(file) {
  const status = $('encode-status');
  status.classList.remove('error');
  status.textContent = `Reading ${file.name}…`;
  try {
    const bytes = await file.arrayBuffer();
    const wav = readWav(bytes);
    let channels = wav?.channels, rate = wav?.sampleRate;
    if (!channels) {
      // Decoding at the file's own rate keeps the browser from resampling;
      // the page's resampler does it, the same way everywhere.
      const audio = await decodeAudio(bytes, rate);
      channels = [];
      for (let c = 0; c < audio.numberOfChannels; c++) channels.push(audio.getChannelData(c).slice());
      rate = audio.sampleRate;
    }
    const count = channels.length;
    const type = Number($('encode-type').value);
    status.textContent = `Encoding ${file.name}…`;
    request({ op: 'encode', channels, sampleRate: rate, type, shortHeader: $('encode-short').checked },
      (msg) => {
        if (msg.op === 'error') {
          status.classList.add('error');
          status.textContent = `${file.name}: ${msg.message}`;
          return;
        }
        const name = file.name.replace(/\.[^.]*$/, '') + '.QRX';
        download(new Blob([msg.bytes], { type: 'application/octet-stream' }), name);
        status.textContent = `Saved ${name}: ${clock(msg.samples / 8000)} from ${rate} Hz ` +
          `${count === 1 ? 'mono' : `${count} channels`}, ` +
          `type ${type}, ${msg.bytes.length} bytes.`;
      }, channels.map((c) => c.buffer));
  } catch (e) {
    status.classList.add('error');
    status.textContent = `${file.name}: ${e.message}`;
  }
}

// ---- wiring ----
function dropTarget(el, onFiles) {
  el.addEventListener('dragover', (e) => {
    e.preventDefault();
    el.classList.add('over');
  });
  el.addEventListener('dragleave', () => el.classList.remove('over'));
  el.addEventListener('drop', (e) => {
    e.preventDefault();
    e.stopPropagation();
    el.classList.remove('over');
    onFiles([...e.dataTransfer.files]);
  });
}

function wire() {
  dropTarget($('drop'), openAll);
  dropTarget($('encode-drop'), (list) => list[0] && encodeFile(list[0]));
  // A drop anywhere else opens recordings too, instead of the browser leaving the page.
  document.addEventListener('dragover', (e) => e.preventDefault());
  document.addEventListener('drop', (e) => {
    e.preventDefault();
    openAll([...e.dataTransfer.files]);
  });
  $('open').addEventListener('change', (e) => {
    openAll([...e.target.files]);
    e.target.value = '';
  });
  $('encode-open').addEventListener('change', (e) => {
    if (e.target.files[0]) encodeFile(e.target.files[0]);
    e.target.value = '';
  });
  $('play').addEventListener('click', togglePlay);
  const pos = $('position');
  pos.addEventListener('pointerdown', () => { dragging = true; });
  pos.addEventListener('pointerup', () => { dragging = false; });
  pos.addEventListener('input', () => {
    player.seek(Number(pos.value));
    updateTransport();
    drawWave();
  });
  $('wave').addEventListener('click', (e) => {
    const r = e.currentTarget.getBoundingClientRect();
    player.seek((e.clientX - r.left) / r.width * player.duration);
    updateTransport();
    drawWave();
  });
  $('speed').addEventListener('input', updateSpeed);
  $('pitch').addEventListener('change', updateSpeed);
  $('extra').addEventListener('change', updateSpeed);
  $('save-all').addEventListener('click', () => {
    const ready = files.filter((f) => f.done);
    if (ready.length === 1) {
      download(new Blob([wavFromPcm(ready[0].pcm, ready[0].info.sampleRate)], { type: 'audio/wav' }),
               wavName(ready[0].name));
      return;
    }
    const used = new Set();
    const entries = ready.map((f) => {
      let name = wavName(f.name);
      for (let k = 2; used.has(name); k++) name = wavName(f.name).replace(/\.wav$/, ` (${k}).wav`);
      used.add(name);
      return { name, bytes: wavFromPcm(f.pcm, f.info.sampleRate) };
    });
    download(zipStored(entries), 'recordings.zip');
  });
  document.addEventListener('keydown', (e) => {
    if (e.ctrlKey || e.metaKey || e.altKey) return;
    const t = e.target;
    const tag = t.tagName;
    const native = tag === 'SELECT' || tag === 'TEXTAREA' || tag === 'BUTTON' ||
      (tag === 'INPUT' && t.type !== 'range');
    if (learningKey) return;
    const key = e.key === '=' ? '+' : e.key === '_' ? '-' : e.key;
    const action = transcription.actionFor(settings.keys, key);
    if (action === 'playPause' && !native) {
      e.preventDefault();
      togglePlay();
    } else if ((action === 'back' || action === 'forward') && !native && tag !== 'INPUT' && selected) {
      e.preventDefault();
      skip(action === 'forward' ? settings.step : -settings.step);
    } else if ((action === 'faster' || action === 'slower') && tag !== 'SELECT' && tag !== 'TEXTAREA') {
      e.preventDefault();
      stepSpeed(action === 'faster');
    }
  });
  wireTranscription();
  new ResizeObserver(() => drawWave()).observe($('wave'));
  updateSpeed();
  requestAnimationFrame(tick);
}

// ---- transcription: settings, stamps, pedals ----
const keyName = (k) => (k === ' ' ? 'Space' : k);

function renderKeys() {
  const list = $('keys');
  list.replaceChildren();
  for (const [action, label] of Object.entries(ACTION_NAMES)) {
    const b = document.createElement('button');
    b.type = 'button';
    b.dataset.action = action;
    b.textContent = `${label}: ${learningKey === action ? 'press a key…' : keyName(settings.keys[action])}`;
    b.addEventListener('click', () => { learningKey = action; renderKeys(); });
    const li = document.createElement('li');
    li.append(b);
    list.append(li);
  }
}

function wireTranscription() {
  $('rewind').value = String(settings.rewind);
  $('step').value = String(settings.step);
  const changed = () => {
    settings.rewind = Math.max(0, Number($('rewind').value) || 0);
    settings.step = Math.max(0.5, Number($('step').value) || 5);
    transcription.saveSettings(globalThis.localStorage, settings);
  };
  $('rewind').addEventListener('change', changed);
  $('step').addEventListener('change', changed);
  // A key pressed while a binding listens becomes that binding.
  document.addEventListener('keydown', (e) => {
    if (!learningKey || e.key === 'Tab') return;
    e.preventDefault();
    e.stopImmediatePropagation();
    if (e.key !== 'Escape') settings.keys[learningKey] = e.key;
    learningKey = null;
    transcription.saveSettings(globalThis.localStorage, settings);
    renderKeys();
  }, { capture: true });
  renderKeys();
  $('stamp').addEventListener('click', async () => {
    const text = transcription.stamp(player.position);
    $('stamp-text').textContent = text;
    try { await navigator.clipboard.writeText(text); } catch { /* shown beside the button all the same */ }
  });
  addEventListener('pagehide', rememberPosition);
  setInterval(() => { if (player.playing) rememberPosition(); }, 2000);
  wirePedals();
}

async function wirePedals() {
  const status = $('pedal-status');
  if (!transcription.hidAvailable(navigator)) {
    status.textContent = transcription.NO_WEBHID;
    $('pedal-connect').disabled = true;
    return;
  }
  const saved = JSON.parse(globalThis.localStorage?.getItem('qrxc.transcription.pedals') ?? 'null');
  let decoder = new transcription.PedalDecoder(saved ?? {});
  let learn = null;       // { order, idle } while learning
  let last = null;
  const onReport = (e) => {
    const report = transcription.reportOf(e);
    if (learn) {
      if (!learn.idle) learn.idle = report;
      const pedal = transcription.learnPedal(learn.idle, report);
      if (pedal) {
        learn.found[learn.order.shift()] = pedal;
        learn.idle = null;
        if (learn.order.length === 0) {
          decoder = new transcription.PedalDecoder(learn.found);
          globalThis.localStorage?.setItem('qrxc.transcription.pedals', JSON.stringify(learn.found));
          learn = null;
          status.textContent = 'Pedals learned: middle plays while held, left skips back, right forward.';
        } else {
          status.textContent = `Release, then press the ${learn.order[0]} pedal.`;
        }
      }
      last = report;
      return;
    }
    for (const action of decoder.feed(report)) {
      if (action === 'play' && !player.playing) togglePlay();
      else if (action === 'pause' && player.playing) togglePlay();
      else if (action === 'back') skip(-settings.step);
      else if (action === 'forward') skip(settings.step);
    }
    last = report;
  };
  const attach = async (device) => {
    if (!device.opened) await device.open();
    device.addEventListener('inputreport', onReport);
    status.textContent = `Pedal ${device.productName || 'device'} connected.`;
    $('pedal-learn').disabled = false;
  };
  for (const d of await navigator.hid.getDevices()) await attach(d);
  $('pedal-connect').addEventListener('click', async () => {
    const [device] = await navigator.hid.requestDevice({ filters: [] });
    if (device) await attach(device);
  });
  $('pedal-learn').addEventListener('click', () => {
    learn = { order: ['back', 'play', 'forward'], idle: last, found: {} };
    status.textContent = 'Press the left pedal.';
  });
}

wire();
request({ op: 'types' }, (msg) => {
  const sel = $('encode-type');
  for (const t of msg.types || []) {
    const o = document.createElement('option');
    o.value = String(t.type);
    o.textContent = `${t.type}: ${t.coder}`;
    sel.append(o);
  }
  sel.value = '1';
});
createQrxc().then((instance) => {
  q = instance;
  $('version').textContent = ` (version ${q.version})`;
  $('play').disabled = !selected;
  for (const f of files) renderEntry(f);
});

// For tests and the curious: the page's state.
window.qrxPage = { files, player };

