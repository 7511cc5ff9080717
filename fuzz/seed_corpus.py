#!/usr/bin/env python3
"""Writes the seed inputs of every fuzz harness: small slices of the test
streams and speech (a header and a few frames), and one well-formed input
for each stream type, rate and header form.

usage: fuzz/seed_corpus.py OUT_DIR   (creates OUT_DIR/<harness>/)
"""
import math
import os
import struct
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA = os.path.join(ROOT, "tests", "data")
CAP = 256
# (pcm_frame, frame_bytes) of each stream type, only to write seeds: a wrong
# entry would merely give seeds the library rejects (the harnesses judge every
# input by the library itself), so no check depends on this copy.
MODES = {0: (320, 20), 1: (240, 20), 2: (240, 24), 4: (240, 90), 5: (240, 120), 6: (240, 150)}
RATES = {8000: 0, 12000: 1, 16000: 2}


def long_header(rate, typ, version=0x40):
    pcm, fb = MODES[typ]
    return b"QRX" + bytes([version]) + struct.pack("<HHHHI", rate, typ, pcm, fb, 16)


def short_header(rate, typ):
    return b"QRX" + bytes([typ | RATES[rate] << 4])


def read(*parts):
    with open(os.path.join(DATA, *parts), "rb") as f:
        return f.read()


def g723_streams():
    """(type, frame bytes) of every test stream, frames only."""
    out = []
    for sub in ("decode", "encode"):
        d = os.path.join(DATA, "conformance", sub)
        for name in sorted(os.listdir(d)):
            if name.endswith(".QRX"):
                b = read("conformance", sub, name)
                out.append((name, b[6], b[16:]))
    return out


def speech():
    return read("speech_8k.raw")


def pseudo_random(n, seed):
    x = seed
    out = bytearray()
    for _ in range(n):
        x = (x * 1103515245 + 12345) & 0x7FFFFFFF
        out.append(x >> 16 & 0xFF)
    return bytes(out)


def wav(rate, channels, samples, fmt=1, bits=16, extra=b""):
    if fmt == 3:
        data = b"".join(struct.pack("<f", s / 32768.0) for s in samples)
    else:
        data = b"".join(struct.pack("<h", s) for s in samples)
    block = channels * bits // 8
    fmt_chunk = struct.pack("<HHIIHH", fmt, channels, rate, rate * block, block, bits) + extra
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt_chunk)) + fmt_chunk
    body += b"data" + struct.pack("<I", len(data)) + data
    return b"RIFF" + struct.pack("<I", len(body)) + body


def seeds():
    s = {name: {} for name in ("fuzz_stream_decode", "fuzz_g723_frames", "fuzz_adpcm_stream", "fuzz_encoder",
                               "fuzz_speed", "fuzz_header", "fuzz_conversion_job", "fuzz_wav_input",
                               "fuzz_qrx_info")}
    streams = g723_streams()
    # Whole streams: a header and three frames from the start and the middle
    # of each test stream; type 0 streams carry type 1 frames.
    for name, typ, frames in streams:
        fb = MODES[typ][1]
        for at in (0, (len(frames) // fb // 2) * fb):
            chunk = frames[at:at + 3 * fb]
            tag = "%s-%d" % (name.split(".")[0].lower(), at // fb)
            s["fuzz_stream_decode"][tag] = long_header(8000, typ) + chunk
            s["fuzz_conversion_job"][tag] = long_header(8000, typ) + chunk
            s["fuzz_g723_frames"][tag] = bytes([typ]) + frames[at:at + 6 * fb]
            if typ == 1:
                s["fuzz_stream_decode"][tag + "-t0"] = short_header(16000, 0) + chunk
                s["fuzz_g723_frames"][tag + "-t0"] = bytes([0]) + frames[at:at + 6 * fb]
    noise = pseudo_random(2 * 150, 7)
    for typ in (4, 5, 6):
        fb = MODES[typ][1]
        for rate in RATES:
            tag = "t%d-%d" % (typ, rate)
            s["fuzz_adpcm_stream"][tag + "-long"] = long_header(rate, typ) + noise[:2 * fb]
            s["fuzz_adpcm_stream"][tag + "-short"] = short_header(rate, typ) + noise[:fb]
        s["fuzz_stream_decode"]["t%d" % typ] = short_header(8000, typ) + noise[:2 * fb]
        s["fuzz_conversion_job"]["t%d" % typ] = long_header(12000, typ) + noise[:fb]
    s["fuzz_conversion_job"]["header-only"] = long_header(8000, 2)
    s["fuzz_conversion_job"]["short-partial"] = short_header(8000, 1) + b"\0" * 10
    # Headers of every type, rate and form, each with an encoding request.
    for typ in MODES:
        for rate in RATES:
            enc = struct.pack("<ii", rate, typ)
            s["fuzz_header"]["long-%d-%d" % (typ, rate)] = long_header(rate, typ, 0x80) + enc + b"\x01"
            s["fuzz_header"]["short-%d-%d" % (typ, rate)] = short_header(rate, typ) + b"\0" * 12 + enc + b"\x00"
    s["fuzz_header"]["bad-size"] = long_header(8000, 1)[:8] + struct.pack("<HH", 320, 20) + b"\x10\0\0\0"
    s["fuzz_header"]["wide-args"] = long_header(8000, 1) + struct.pack("<ii", 73536, 65541) + b"\x00"
    # PCM: speech and the encoder test vectors, with every type selector.
    pcm_sources = [("speech", speech()[8000:])] + [
        (n.split(".")[0].lower(), read("conformance", "encode", n))
        for n in sorted(os.listdir(os.path.join(DATA, "conformance", "encode"))) if n.endswith(".pcm")]
    for i, (tag, pcm) in enumerate(pcm_sources):
        mid = (len(pcm) // 4) & ~1
        for sel in range(6):
            mode = (i + sel) % 8
            s["fuzz_encoder"]["%s-%d" % (tag, sel)] = bytes([sel + 6 * (i % 3) + 18 * mode]) + pcm[mid:mid + CAP - 2]
    sp = speech()
    for i, flags in enumerate((0x00, 0x01, 0x06, 0x0c, 0x0d, 0x80, 0x81, 0x82, 0x83, 0x84)):
        frames = 4
        head = bytes([(i & 1) | (frames - 1) << 1, flags]) + bytes([flags] * frames)
        s["fuzz_speed"]["flags-%02x" % flags] = head + sp[16000 + 512 * i:16000 + 512 * i + CAP - len(head)]
    s["fuzz_speed"]["refused"] = bytes([1, 0xc0, 0xc0, 0x40]) + sp[20000:20200]
    # WAV files: the forms the encoder accepts and some it refuses.
    tone = [int(8000 * math.sin(2 * math.pi * 440 * n / 8000)) for n in range(100)]
    for rate in (8000, 12000, 16000, 11025):
        s["fuzz_wav_input"]["pcm16-%d" % rate] = wav(rate, 1, tone)
    s["fuzz_wav_input"]["float"] = wav(8000, 1, tone[:50], fmt=3, bits=32)
    s["fuzz_wav_input"]["float-loud"] = wav(8000, 1, tone[:20], fmt=3, bits=32)[:-80] + struct.pack("<4f", 1e15, float("inf"), float("-inf"), float("nan")) + b"\0" * 64
    s["fuzz_wav_input"]["stereo"] = wav(8000, 2, tone[:60])
    s["fuzz_wav_input"]["pcm8"] = wav(8000, 1, [0] * 50, bits=8)[:44] + bytes(range(0, 250, 5))
    # Files as qrx info reads them (byte 0: 0 a file, 1 a pipe): the samples'
    # first bytes (cut mid-frame), whole short test streams, and bad headers.
    for name in sorted(os.listdir(os.path.join(ROOT, "samples"))):
        if name.endswith(".QRX"):
            with open(os.path.join(ROOT, "samples", name), "rb") as f:
                head = f.read(CAP)
            for pipe in (0, 1):
                s["fuzz_qrx_info"]["%s-%d" % (name.split(".")[0].lower(), pipe)] = bytes([pipe]) + head
    for name in ("INEQD53.QRX", "PATHD53.QRX"):
        s["fuzz_qrx_info"][name.split(".")[0].lower()] = b"\0" + read("conformance", "decode", name)
    s["fuzz_qrx_info"]["long-cut"] = b"\1" + long_header(8000, 2)[:10]
    s["fuzz_qrx_info"]["bad-type"] = b"\0" + short_header(8000, 3) + b"\0" * 20
    return s


def main():
    out = sys.argv[1]
    for harness, files in seeds().items():
        d = os.path.join(out, harness)
        os.makedirs(d, exist_ok=True)
        for tag, data in files.items():
            # The selector byte of the WAV harness comes first.
            if harness == "fuzz_wav_input":
                data = bytes([1]) + data
            with open(os.path.join(d, tag), "wb") as f:
                f.write(data[:CAP + 64] if harness == "fuzz_adpcm_stream" else data[:CAP])


if __name__ == "__main__":
    main()
