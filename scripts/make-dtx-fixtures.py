#!/usr/bin/env python3
"""Makes the silence-compression fixtures in tests/data/annexa from an
independent G.723.1 codec with VAD/DTX (its command line as the reference
codec takes it: -c -n -v -rRATE IN OUT to encode, -d -n [-fFLAGS] IN OUT to
decode).

Usage: make-dtx-fixtures.py CODEC [OUT_DIR]

The input is composed here exactly as tests/conformance/test_dtx.cpp composes
it (speech with pauses, noise, tones, silence; integer arithmetic only), so
only the coded streams and per-frame hashes of the decoded output are stored.
For each case: NAME.rco (coded with VAD), NAME.fnv (FNV-1a 32 of each
decoded 480-byte frame, little-endian), NAME_lost.fnv (the same stream
decoded with every LOST_EVERY-th frame erased), and for the mixed case its
rate file NAME.rate.
"""
import os
import struct
import subprocess
import sys
import tempfile

FRAME = 240
LOST_EVERY = 23
HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "tests", "data")


def s16(v):
    return max(-32768, min(32767, v))


def pcm_file(name):
    b = open(os.path.join(DATA, name), "rb").read()
    return list(struct.unpack("<%dh" % (len(b) // 2), b))


def noise(frames, amp, seed):
    out = []
    for _ in range(frames * FRAME):
        seed = (seed * 1103515245 + 12345) & 0xFFFFFFFF
        v = ((seed >> 16) & 0x7FFF) - 16384
        out.append((v * amp) >> 14)
    return out


def tone(frames, c_q14, start):
    # x[n] = 2 c x[n-1] - x[n-2]: a sine from integer steps.
    out, a, b = [], 0, start
    for _ in range(frames * FRAME):
        out.append(b)
        a, b = b, s16(((2 * c_q14 * b) >> 14) - a)
    return out


def scaled(x, shift):
    return [v >> shift for v in x]


def compose(variant):
    speech = pcm_file("speech_8k.raw")
    speech = speech[: len(speech) // FRAME * FRAME]
    parts = [
        speech,
        [0] * (40 * FRAME),
        pcm_file("speech/voice1.pcm"),
        noise(150, 200, 1),
        pcm_file("speech/voice2.pcm"),
        tone(100, 15137, 1531),
        noise(100, 1500, 2),
        pcm_file("annexa/DTX63.TIN"),
        [0] * (30 * FRAME),
        [s16(a + b) for a, b in zip(tone(100, 6270, 3696), noise(100, 300, 3))],
        scaled(speech, 2),
    ]
    if variant == 1:
        parts.reverse()
    return [v for p in parts for v in p]


def rates(frames):
    # Runs of 50 frames at each rate, with single-frame switches between.
    return bytes(((f // 50) + (1 if f % 97 == 0 else 0)) % 2 for f in range(frames))


def fnv_frames(pcm_bytes):
    out = bytearray()
    for at in range(0, len(pcm_bytes), 2 * FRAME):
        h = 0x811C9DC5
        for c in pcm_bytes[at : at + 2 * FRAME]:
            h = ((h ^ c) * 0x01000193) & 0xFFFFFFFF
        out += struct.pack("<I", h)
    return bytes(out)


def main():
    codec = sys.argv[1]
    out_dir = sys.argv[2] if len(sys.argv) > 2 else os.path.join(DATA, "annexa")
    cases = [("gen63", 0, "-r63"), ("gen53", 1, "-r53"), ("genmix", 0, None)]
    with tempfile.TemporaryDirectory() as tmp:
        for name, variant, rate in cases:
            pcm = compose(variant)
            frames = len(pcm) // FRAME
            raw = os.path.join(tmp, name + ".raw")
            open(raw, "wb").write(struct.pack("<%dh" % len(pcm), *pcm))
            rco = os.path.join(out_dir, name + ".rco")
            if rate is None:
                rate_path = os.path.join(out_dir, name + ".rate")
                open(rate_path, "wb").write(rates(frames))
                rate = "-r" + rate_path
            subprocess.run([codec, "-c", "-n", "-v", rate, raw, rco], check=True, stdout=subprocess.DEVNULL)
            dec = os.path.join(tmp, name + ".dec")
            subprocess.run([codec, "-d", "-n", rco, dec], check=True, stdout=subprocess.DEVNULL)
            open(os.path.join(out_dir, name + ".fnv"), "wb").write(fnv_frames(open(dec, "rb").read()))
            flags = os.path.join(tmp, name + ".flags")
            open(flags, "wb").write(b"".join(struct.pack("<h", 1 if f % LOST_EVERY == LOST_EVERY - 1 else 0)
                                             for f in range(frames)))
            subprocess.run([codec, "-d", "-n", "-f" + flags, rco, dec], check=True, stdout=subprocess.DEVNULL)
            open(os.path.join(out_dir, name + "_lost.fnv"), "wb").write(fnv_frames(open(dec, "rb").read()))
            print(name, frames, "frames,", os.path.getsize(rco), "bytes coded;",
                  "input fnv %08x" % struct.unpack("<I", fnv_frames(struct.pack("<%dh" % len(pcm), *pcm))[-4:])[0])


if __name__ == "__main__":
    main()
