// The page's coding thread: decodes QRX files and standard G.723.1 streams
// slice by slice and encodes PCM, so that long files never freeze the page.
import { createQrxc, isG723Name } from './qrxc.mjs';
import { resampleToInt16 } from './resample.mjs';

const ready = createQrxc();

async function handle(msg) {
  const q = await ready;
  const { id } = msg;
  switch (msg.op) {
  case 'decode': {
    const bytes = new Uint8Array(msg.bytes);
    if (isG723Name(msg.name ?? '')) {
      decodeG723(q, id, bytes);
      break;
    }
    const info = q.info(bytes);
    postMessage({ id, op: 'info', info });
    q.decodeInSlices(bytes, {
      onSlice: (pcm, offset, fraction) => postMessage({ id, op: 'slice', pcm, offset, fraction }, [pcm.buffer]),
    });
    postMessage({ id, op: 'done' });
    break;
  }
  case 'encode': {
    const pcm = resampleToInt16(msg.channels, msg.sampleRate, 8000);
    const bytes = q.encode(pcm, { type: msg.type, sampleRate: 8000, shortHeader: msg.shortHeader });
    postMessage({ id, op: 'encoded', bytes, samples: pcm.length }, [bytes.buffer]);
    break;
  }
  case 'types': {
    const types = [];
    for (let t = 0; t < 256; t++) {
      const d = q.typeInfo(t);
      if (d) types.push({ type: t, ...d });
    }
    postMessage({ id, op: 'types', types });
    break;
  }
  default:
    throw new Error(`unknown request ${msg.op}`);
  }
}

// A standard stream tells what its frames were only once they are decoded:
// info comes first with the length, and again with the counts at the end.
function decodeG723(q, id, bytes) {
  const info = (frames) => ({ format: 'g723', coder: 'G.723.1', sampleRate: 8000, pcmFrame: 240, frames,
                               duration: frames * 240 / 8000 });
  const d = q.decodeG723InSlices(bytes, {
    onStart: (samples) => {
      if (samples === 0) throw new Error('it holds no G.723.1 frames');
      postMessage({ id, op: 'info', info: info(samples / 240) });
    },
    onSlice: (pcm, offset, fraction) => postMessage({ id, op: 'slice', pcm, offset, fraction }, [pcm.buffer]),
  });
  const { speech63, speech53 } = d.kinds;
  postMessage({ id, op: 'done', info: { ...info(d.frames), concealedFrames: d.concealedFrames,
    comfortNoiseFrames: d.comfortNoiseFrames,
    rates: [speech63 > 0 && '6.3', speech53 > 0 && '5.3'].filter(Boolean) } });
}

onmessage = (e) => {
  handle(e.data).catch((err) => postMessage({ id: e.data.id, op: 'error', message: err.message }));
};
