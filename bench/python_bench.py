#!/usr/bin/env python3
"""Realtime factors of the qrxc Python module next to the native library.

For each stream type, the module's one-shot calls (qrxc.encode, qrxc.read
of bytes) are timed against the same whole-buffer library calls made
directly on preallocated buffers (Qrxc_encode_buffer, Qrxc_decode_buffer
through ctypes: one call per run, so the time is the library's own). The
figures are seconds of audio per CPU second on one core, the best of
several runs.

    /usr/bin/python3 bench/python_bench.py [--build build] [--seconds 120] [--runs 7]
"""
import argparse
import ctypes
import sys
import time
from pathlib import Path

import numpy as np

ROOT = Path(__file__).resolve().parents[1]


def best_cpu_seconds(fns, runs):
    """The least CPU time of each function over runs rounds, taken in turn so that drift hits all alike."""
    best = [float("inf")] * len(fns)
    for _ in range(runs):
        for i, fn in enumerate(fns):
            start = time.process_time()
            fn()
            best[i] = min(best[i], time.process_time() - start)
    return best


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", type=Path, default=ROOT / "build", help="build folder (with python/ and libqrxc.so)")
    ap.add_argument("--seconds", type=float, default=120.0, help="seconds of speech at 8000 Hz per run")
    ap.add_argument("--runs", type=int, default=7, help="runs per figure; the best counts")
    ap.add_argument("--types", type=int, nargs="+", default=[0, 1, 2, 4, 5, 6])
    args = ap.parse_args()

    sys.path.insert(0, str(args.build / "python"))
    import qrxc

    lib = ctypes.CDLL(str(args.build / "libqrxc.so"))
    lib.Qrxc_create.restype = ctypes.c_void_p
    lib.Qrxc_destroy.argtypes = [ctypes.c_void_p]
    lib.Qrxc_encode_buffer.restype = ctypes.c_longlong
    lib.Qrxc_encode_buffer.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_void_p,
                                       ctypes.c_size_t, ctypes.c_void_p, ctypes.c_size_t]
    lib.Qrxc_decode_buffer.restype = ctypes.c_longlong
    lib.Qrxc_decode_buffer.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t, ctypes.c_void_p,
                                       ctypes.c_size_t, ctypes.c_void_p]

    speech = np.fromfile(ROOT / "tests" / "data" / "speech_8k.raw", dtype="<i2").astype(np.int16)
    n = int(args.seconds * 8000)
    pcm = np.resize(speech, n)
    audio_seconds = n / 8000.0

    print(f"qrxc {qrxc.__version__} (library {qrxc.library_version()}), {audio_seconds:.0f} s of speech, "
          f"best of {args.runs}; realtime factors (audio seconds per CPU second)")
    print(f"{'type':<34} {'encode module':>14} {'native':>10} {'ratio':>6}   {'decode module':>14} {'native':>10} {'ratio':>6}")
    worst = 1.0
    for type_ in args.types:
        stream = qrxc.encode(pcm, type_)
        out = np.empty(len(stream), dtype=np.uint8)
        decoded = np.empty(len(qrxc.read(stream)[0]), dtype=np.int16)
        src = np.frombuffer(stream, dtype=np.uint8)
        ctx = lib.Qrxc_create()

        def native_encode():
            got = lib.Qrxc_encode_buffer(ctx, 8000, type_, 1, pcm.ctypes.data, n, out.ctypes.data, len(out))
            assert got == len(stream)

        def native_decode():
            got = lib.Qrxc_decode_buffer(ctx, src.ctypes.data, len(src), decoded.ctypes.data, len(decoded), None)
            assert got == len(decoded)

        times = best_cpu_seconds([lambda: qrxc.encode(pcm, type_), native_encode, lambda: qrxc.read(stream), native_decode],
                                 args.runs)
        figures = [audio_seconds / t for t in times]
        lib.Qrxc_destroy(ctx)
        enc_ratio, dec_ratio = figures[0] / figures[1], figures[2] / figures[3]
        worst = min(worst, enc_ratio, dec_ratio)
        name = f"{type_} {qrxc.type_info(type_).coder}"
        print(f"{name:<34} {figures[0]:>14.0f} {figures[1]:>10.0f} {enc_ratio:>6.2f}   "
              f"{figures[2]:>14.0f} {figures[3]:>10.0f} {dec_ratio:>6.2f}")
    print(f"slowest module figure: {worst:.2f} of native")


if __name__ == "__main__":
    main()
