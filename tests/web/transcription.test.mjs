// The transcription aids' logic: keys, auto-rewind, stamps, position memory
// and foot pedals driven by synthetic HID reports.
import test from 'node:test';
import assert from 'node:assert/strict';
import * as t from '../../web/transcription.mjs';

class MemoryStorage {
  #m = new Map();
  getItem(k) { return this.#m.has(k) ? this.#m.get(k) : null; }
  setItem(k, v) { this.#m.set(k, String(v)); }
}

test('settings: defaults, user keys kept, bad saved values ignored', () => {
  const s = new MemoryStorage();
  assert.deepEqual(t.loadSettings(s), { ...t.DEFAULT_SETTINGS, keys: { ...t.DEFAULT_SETTINGS.keys } });
  t.saveSettings(s, { rewind: 0, step: 3, keys: { ...t.DEFAULT_SETTINGS.keys, playPause: 'F9' } });
  const back = t.loadSettings(s);
  assert.equal(back.rewind, 0);
  assert.equal(t.actionFor(back.keys, 'F9'), 'playPause');
  assert.equal(t.actionFor(back.keys, ' '), null);
  s.setItem('qrxc.transcription.settings', '{"rewind": -4, "step": "x"}');
  assert.equal(t.loadSettings(s).rewind, 2);
  s.setItem('qrxc.transcription.settings', 'not json');
  assert.equal(t.loadSettings(s).step, 5);
});

test('auto-rewind and stamps', () => {
  for (const [pos, rewind, want] of [[10, 2, 8], [1, 2, 0], [10, 0, 10], [10, -1, 10]])
    assert.equal(t.resumeAt(pos, rewind), want);
  for (const [s, want] of [[0, '[00:00:00]'], [61.9, '[00:01:01]'], [3 * 3600 + 7, '[03:00:07]']])
    assert.equal(t.stamp(s), want);
});

test('positions are kept per file: name, size and first bytes', () => {
  const s = new MemoryStorage();
  const a = new Uint8Array(10000).map((_, i) => i * 7);
  const b = a.slice(); b[5] ^= 1;
  const memory = new t.PositionMemory(s);
  memory.set(t.fileKey('x.QRX', a), 42.5);
  assert.equal(new t.PositionMemory(s).get(t.fileKey('x.QRX', a)), 42.5);
  assert.equal(memory.get(t.fileKey('x.QRX', b)), 0);
  assert.equal(memory.get(t.fileKey('y.QRX', a)), 0);
  for (let i = 0; i < 250; i++) memory.set(`k${i}`, i);
  assert.equal(memory.get(t.fileKey('x.QRX', a)), 0, 'the oldest are dropped');
  assert.equal(memory.get('k249'), 249);
});

test('pedals: learned from reports, then hold-to-play and skips', () => {
  const r = (...bytes) => ({ reportId: 0, data: Uint8Array.from(bytes) });
  const idle = r(0, 0);
  const pedals = {
    back: t.learnPedal(idle, r(0, 1)),
    play: t.learnPedal(idle, r(0, 2)),
    forward: t.learnPedal(idle, r(4, 0)),
  };
  assert.deepEqual(pedals.forward, { reportId: 0, byte: 0, mask: 4 });
  assert.equal(t.learnPedal(idle, idle), null);
  const d = new t.PedalDecoder(pedals);
  const seq = [r(0, 2), r(0, 2), r(0, 3), r(0, 2), r(0, 0), r(4, 0), r(0, 0)];
  assert.deepEqual(seq.map((x) => d.feed(x)), [['play'], [], ['back'], [], ['pause'], ['forward'], []]);
  assert.equal(t.hidAvailable({}), false);
  assert.equal(t.hidAvailable({ hid: { requestDevice() {} } }), true);
  const ev = { reportId: 3, data: new DataView(Uint8Array.from([9, 8]).buffer) };
  assert.deepEqual(t.reportOf(ev), { reportId: 3, data: Uint8Array.from([9, 8]) });
});
