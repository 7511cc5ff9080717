// The page's coding thread: decodes QRX files slice by slice and encodes
// PCM, so that long files never freeze the page.
import { createQrxc } from './qrxc.mjs';
import { resampleToInt16 } from './resample.mjs';

const ready = createQrxc();

async function handle(msg) {
  const q = await ready;
  const { id } = msg;
  switch (msg.op) {
  case 'decode': {
    const bytes = new Uint8Array(msg.bytes);
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

onmessage = (e) => {
  handle(e.data).catch((err) => postMessage({ id: e.data.id, op: 'error', message: err.message }));
};
