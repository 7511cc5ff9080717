#!/usr/bin/env python3
"""Decodes a list of QRX files to WAV on a Dask cluster with the qrxc module.

    python3 examples/dask_decode.py files.txt out/ [--workers 4] [--scheduler tcp://host:8786]

files.txt names one QRX file per line; each becomes out/NAME.wav, the file
`qrx decode` writes, with the recording's modification time. Outputs that
exist are skipped, so a run that was stopped resumes where it was; each
output appears under its name only once it is complete. Without --scheduler
a LocalCluster on this machine does the work.
"""
import argparse
import os
import struct
import sys
import tempfile
from pathlib import Path


def converter_wav(pcm, rate):
    """The converter's WAV: RIFF, an 18-byte fmt chunk, one data chunk."""
    data = pcm.astype("<i2").tobytes()
    rate &= 0xFFFF
    fmt = struct.pack("<HHIIHHH", 1, 1, rate, rate * 2, 2, 16, 0)
    return b"RIFF" + struct.pack("<I", 38 + len(data)) + b"WAVEfmt " + struct.pack("<I", 18) + fmt + \
        b"data" + struct.pack("<I", len(data)) + data


def decode_one(source, out_dir):
    """Runs on a worker: 'skipped', 'converted' or 'failed: why'."""
    import qrxc

    target = Path(out_dir) / (Path(source).stem + ".wav")
    if target.exists():
        return "skipped"
    try:
        pcm, rate = qrxc.read(source)
        fd, temp = tempfile.mkstemp(prefix="." + target.name + ".", suffix=".part", dir=target.parent)
        try:
            with os.fdopen(fd, "wb") as f:
                f.write(converter_wav(pcm, rate))
            st = os.stat(source)
            os.utime(temp, ns=(st.st_atime_ns, st.st_mtime_ns))
            os.replace(temp, target)
        except BaseException:
            os.unlink(temp)
            raise
    except (OSError, ValueError) as e:
        return f"failed: {e}"
    return "converted"


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("list", help="file with one QRX path per line")
    ap.add_argument("out_dir")
    ap.add_argument("--workers", type=int, default=os.cpu_count() or 1)
    ap.add_argument("--scheduler", help="address of a running Dask scheduler")
    args = ap.parse_args()

    from dask.distributed import Client, LocalCluster

    sources = [line.strip() for line in Path(args.list).read_text().splitlines() if line.strip()]
    Path(args.out_dir).mkdir(parents=True, exist_ok=True)
    if args.scheduler:
        client = Client(args.scheduler)
    else:
        # Processes, one thread each: the module releases the GIL, but a
        # process per core keeps one slow file from holding up the others.
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
        client = Client(cluster)
    with client:
        results = client.gather(client.map(decode_one, sources, out_dir=args.out_dir, pure=False))
    failed = [(s, r) for s, r in zip(sources, results) if r.startswith("failed")]
    print(f"{results.count('converted')} converted, {results.count('skipped')} skipped, {len(failed)} failed",
          file=sys.stderr)
    for source, why in failed:
        print(f"{source}: {why[len('failed: '):]}", file=sys.stderr)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
