#!/usr/bin/env python3
"""Generates g723/common/tables.{h,cpp} from the plain-text G.723.1 tables.

Usage: gen_g723_tables.py [--check] [TABLE_DIR [OUT_DIR]]

TABLE_DIR defaults to g723/common/table_data, OUT_DIR to g723/common. With
--check nothing is written: the script fails when the files it would write
differ from those in OUT_DIR.

Each TABLE_DIR/<Name>.txt starts with "# <Name> <rows>x<cols> Q<n>" and
holds the values as decimal integers. The script checks every table's size,
the values the codec documentation quotes and the formulas some tables
follow, and stops on the first mismatch. The generated files are committed;
the build does not run this script, a test runs it with --check.
"""
import math
import os
import sys

# name -> (C type, keep as 2-D array)
TABLES = {
    "LspDcTable": ("Word16", False),
    "BandInfoTable": ("Word16", True),
    "Band0Tb8": ("Word16", True),
    "Band1Tb8": ("Word16", True),
    "Band2Tb8": ("Word16", True),
    "CosineTable": ("Word16", False),
    "AcbkGainTable085": ("Word16", True),
    "AcbkGainTable170": ("Word16", True),
    "FcbkGainTable": ("Word16", False),
    "Nb_puls": ("Word16", False),
    "MaxPosTable": ("Word32", False),
    "CombinatorialTable": ("Word32", True),
    "Epsi170": ("Word16", False),
    "Gain170": ("Word16", False),
    "LpfConstTable": ("Word16", False),
    "PostFiltZeroTable": ("Word16", False),
    "PostFiltPoleTable": ("Word16", False),
    "HammingWindowTable": ("Word16", False),
    "BinomialWindowTable": ("Word16", False),
    "BandExpTable": ("Word16", False),
    "PerFiltZeroTable": ("Word16", False),
    "PerFiltPoleTable": ("Word16", False),
    "taming_gain170": ("Word16", False),
    "taming_gain85": ("Word16", False),
}

SHAPES = {
    "LspDcTable": (1, 10), "BandInfoTable": (3, 2), "Band0Tb8": (256, 3), "Band1Tb8": (256, 3),
    "Band2Tb8": (256, 4), "CosineTable": (1, 512), "AcbkGainTable085": (85, 20),
    "AcbkGainTable170": (170, 20), "FcbkGainTable": (1, 24), "Nb_puls": (1, 4), "MaxPosTable": (1, 4),
    "CombinatorialTable": (6, 30), "Epsi170": (1, 170), "Gain170": (1, 170), "LpfConstTable": (1, 2),
    "PostFiltZeroTable": (1, 10), "PostFiltPoleTable": (1, 10), "HammingWindowTable": (1, 180),
    "BinomialWindowTable": (1, 10), "BandExpTable": (1, 10), "PerFiltZeroTable": (1, 10),
    "PerFiltPoleTable": (1, 10), "taming_gain170": (1, 170), "taming_gain85": (1, 85),
}

# Values quoted by the codec documentation: (table, first flat index, values).
QUOTED = [
    ("LspDcTable", 0, [0x0c3b, 0x1271, 0x1e0a, 0x2a36, 0x3630, 0x406f, 0x4d28, 0x56f4, 0x638c, 0x6c46]),
    ("BandInfoTable", 0, [0, 3, 3, 3, 6, 4]),
    ("Band0Tb8", 0, [0, 0, 0, -270, -1372, -1032]),
    ("Band1Tb8", 0, [0, 0, 0, -2114, -1302, 76]),
    ("Band2Tb8", 0, [0, 0, 0, 0, 601, 512, -542, 334]),
    ("CosineTable", 0, [16384, 16383, 16379, 16373, 16364]),
    ("CosineTable", 511, [16383]),
    ("AcbkGainTable085", 0, [0] * 20 + [800, 1496, 167, -256, -338]),
    ("AcbkGainTable170", 0, [0] * 20 + [776, 212, 715, 670, 809]),
    ("FcbkGainTable", 0, [1, 2, 3, 4, 6, 9, 13, 18, 26, 38, 55, 80, 115, 166, 240, 348, 502, 726, 1050,
                          1517, 2193, 3170, 4582, 6623]),
    ("Nb_puls", 0, [6, 5, 6, 5]),
    ("MaxPosTable", 0, [593775, 142506, 593775, 142506]),
    ("CombinatorialTable", 0, [118755, 98280, 80730]),
    ("CombinatorialTable", 150, [1] * 30),
    ("Epsi170", 0, [60, 0, 60, 0, 1, 0, 0, 1, -1, 1]),
    ("Gain170", 0, [0, 2489, 0, 5217, 6171, 3953]),
    ("LpfConstTable", 0, [6144, 8192]),
    ("PostFiltZeroTable", 0, [0x5333, 0x3614, 0x2327, 0x16d9, 0x0eda, 0x09a7, 0x0646, 0x0414, 0x02a7, 0x01b9]),
    ("PostFiltPoleTable", 0, [0x6000, 0x4800, 0x3600, 0x2880, 0x1e60, 0x16c8, 0x1116, 0x0cd1, 0x099c, 0x0735]),
    ("HammingWindowTable", 0, [2621, 2631, 2659, 2705, 2770]),
    ("HammingWindowTable", 89, [32766, 32766]),
    ("BinomialWindowTable", 0, [32749, 32695, 32604, 32477, 32315, 32118, 31887, 31622, 31324, 30995]),
    ("BandExpTable", 0, [32571, 32376, 32182, 31989, 31797, 31606, 31416, 31228, 31040, 30854]),
    ("PerFiltZeroTable", 0, [29491, 26542, 23888, 21499, 19349, 17414, 15673, 14106, 12695, 11425]),
    ("PerFiltPoleTable", 0, [16384, 8192, 4096, 2048, 1024, 512, 256, 128, 64, 32]),
    ("taming_gain170", 0, [1024, 1591, 1678, 1891, 2120]),
    ("taming_gain170", 169, [18409]),
    ("taming_gain85", 0, [1024, 1308, 1906, 2291, 2511]),
    ("taming_gain85", 84, [15255]),
]


def rnd(x):
    return int(math.floor(x + 0.5))


def formulas(t):
    checks = {
        "CosineTable": [rnd(16384 * math.cos(2 * math.pi * k / 512)) for k in range(512)],
        "CombinatorialTable": [math.comb(29 - i, 5 - r) if 29 - i >= 5 - r else 0
                               for r in range(6) for i in range(30)],
        "MaxPosTable": [math.comb(30, n) for n in t["Nb_puls"]],
        "HammingWindowTable": [rnd(32768 * (0.54 - 0.46 * math.cos(2 * math.pi * n / 179))) for n in range(180)],
        "PostFiltZeroTable": [rnd(32768 * 0.65 ** k) for k in range(1, 11)],
        "PostFiltPoleTable": [rnd(32768 * 0.75 ** k) for k in range(1, 11)],
        "BandExpTable": [rnd(32768 * 0.994 ** k) for k in range(1, 11)],
        "PerFiltZeroTable": [rnd(32768 * 0.9 ** k) for k in range(1, 11)],
    }
    for name, want in checks.items():
        if t[name] != want:
            sys.exit(f"{name}: does not follow its formula")
    for name in ("taming_gain170", "taming_gain85"):
        v = t[name]
        if any(a > b for a, b in zip(v, v[1:])):
            sys.exit(f"{name}: not non-decreasing")
    for e, g in zip(t["Epsi170"], t["Gain170"]):
        if e == 60 and g != 0:
            sys.exit("Epsi170/Gain170: a placeholder lag with a non-zero gain")


def read_table(path, name):
    with open(path) as f:
        lines = [ln.strip() for ln in f if ln.strip()]
    head = lines[0].split()
    if head[0] != "#" or head[1] != name:
        sys.exit(f"{path}: bad header line")
    rows, cols = (int(x) for x in head[2].split("x"))
    if (rows, cols) != SHAPES[name]:
        sys.exit(f"{name}: shape {rows}x{cols}, expected {SHAPES[name]}")
    values = [int(x) for ln in lines[1:] for x in ln.split()]
    if len(values) != rows * cols:
        sys.exit(f"{name}: {len(values)} values, expected {rows * cols}")
    ctype = TABLES[name][0]
    lo, hi = (-32768, 32767) if ctype == "Word16" else (-2**31, 2**31 - 1)
    if any(v < lo or v > hi for v in values):
        sys.exit(f"{name}: value out of {ctype} range")
    return values


def c_array(name, values):
    ctype, two_d = TABLES[name]
    rows, cols = SHAPES[name]
    dims = f"[{rows}][{cols}]" if two_d else f"[{rows * cols}]"
    per_line = cols if two_d else (16 if len(values) > 100 else 10)
    out = [f"const {ctype} {name}{dims} = {{"]
    for i in range(0, len(values), per_line):
        chunk = ", ".join(str(v) for v in values[i:i + per_line])
        out.append(f"    {{{chunk}}}," if two_d else f"    {chunk},")
    out.append("};")
    return "\n".join(out), f"extern const {ctype} {name}{dims};"


def main():
    args = sys.argv[1:]
    check = "--check" in args
    args = [a for a in args if a != "--check"]
    if any(a.startswith("-") for a in args) or len(args) > 2:
        sys.exit(__doc__)
    common = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "g723", "common")
    src = args[0] if args else os.path.join(common, "table_data")
    dst = args[1] if len(args) > 1 else common
    tables = {name: read_table(os.path.join(src, name + ".txt"), name) for name in TABLES}
    for name, start, want in QUOTED:
        if tables[name][start:start + len(want)] != want:
            sys.exit(f"{name}: values at {start} differ from the documented ones")
    formulas(tables)

    defs, decls = [], []
    for name in TABLES:
        d, e = c_array(name, tables[name])
        defs.append(d)
        decls.append(e)
    banner = "// Generated by scripts/gen_g723_tables.py from the G.723.1 table data; do not edit.\n// clang-format off\n"
    files = {
        "tables.h": banner + "#pragma once\n\n#include \"g723/common/types.h\"\n\nnamespace qrxc::g723 {\n\n" +
        "\n".join(decls) + "\n\n}  // namespace qrxc::g723\n",
        "tables.cpp": banner + "#include \"g723/common/tables.h\"\n\nnamespace qrxc::g723 {\n\n" +
        "\n\n".join(defs) + "\n\n}  // namespace qrxc::g723\n",
    }
    stale = []
    for name, text in files.items():
        path = os.path.join(dst, name)
        if check:
            with open(path) as f:
                if f.read() != text:
                    stale.append(path)
        else:
            with open(path, "w") as f:
                f.write(text)
    if stale:
        sys.exit("not what the table data generates: " + ", ".join(stale) + " (run scripts/gen_g723_tables.py)")


if __name__ == "__main__":
    main()
