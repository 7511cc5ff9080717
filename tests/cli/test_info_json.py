#!/usr/bin/env python3
"""qrx info --json and --json-lines: every output is one valid UTF-8 JSON
document that the schema accepts, with every input in it.

Usage: test_info_json.py QRX SCHEMA SAMPLES_DIR"""
import base64
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import jsonschema

QRX, SCHEMA, SAMPLES = sys.argv[1:4]
VALIDATOR = jsonschema.Draft202012Validator(json.load(open(SCHEMA, encoding="utf-8")))


def info(*args, cwd):
    """Runs qrx info; returns (exit status, parsed entries) after checking
    that standard output is strict UTF-8 JSON that the schema accepts."""
    run = subprocess.run([QRX, "info", *args], cwd=cwd, capture_output=True)
    text = run.stdout.decode("utf-8")  # strict: raises on any stray byte
    if "--json-lines" in args:
        docs = [json.loads(line) for line in text.splitlines()]
    else:
        docs = [json.loads(text)]
    for doc in docs:
        VALIDATOR.validate(doc)
    entries = docs if "--json-lines" in args else docs[0]
    return run.returncode, entries


class InfoJson(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.dir)
        sample = os.path.join(SAMPLES, sorted(f for f in os.listdir(SAMPLES) if f.upper().endswith(".QRX"))[0])
        self.good = b"good.QRX"
        shutil.copy(sample, os.path.join(self.dir, "good.QRX"))
        self.bad_name = b"bad\xff name\n.QRX"  # not UTF-8, with a newline
        shutil.copy(sample, os.path.join(os.fsencode(self.dir), self.bad_name))
        with open(os.path.join(self.dir, "junk.QRX"), "wb") as f:
            f.write(b"NOPE, not a stream")
        with open(os.path.join(self.dir, "tiny.QRX"), "wb") as f:
            f.write(b"QR")
        os.mkdir(os.path.join(self.dir, "empty"))
        subprocess.run([QRX, "export", "-q", "good.QRX", "-o", "good.g723"], cwd=self.dir, check=True)
        subprocess.run([QRX, "export", "-q", "--pcap", "call.pcap", "good.QRX"], cwd=self.dir, check=True)
        with open(os.path.join(self.dir, "good.g723"), "rb") as f, open(os.path.join(self.dir, "cut.g723"), "wb") as g:
            g.write(f.read()[:-5])

    def names(self, entries):
        return [base64.b64decode(e["file_bytes"]) if "file_bytes" in e else os.fsencode(e["file"]) for e in entries]

    def test_every_input_is_an_entry_in_order(self):
        inputs = [self.good, self.bad_name, b"junk.QRX", b"missing.QRX", b"tiny.QRX", b"empty"]
        for form in ("--json", "--json-lines"):
            status, entries = info(form, *inputs, cwd=self.dir)
            self.assertEqual(status, 1, form)
            self.assertEqual(self.names(entries), inputs, form)
            codes = [e.get("error", {}).get("code") for e in entries]
            self.assertEqual(codes, [None, None, "bad_header", "cannot_open", "too_short", "cannot_open"], form)
            self.assertIn("\ufffd", entries[1]["file"])
            self.assertEqual(entries[0]["frames"], entries[1]["frames"])

    def test_standard_streams_and_captures_count_frames_as_decode_does(self):
        status, entries = info("--json", "good.QRX", "good.g723", "cut.g723", "call.pcap", cwd=self.dir)
        self.assertEqual(status, 0)
        qrx, whole, cut, call = entries
        self.assertEqual([s["packets"] for s in call["streams"]], [qrx["frames"]])
        self.assertEqual((whole["format"], whole["frames"], whole["lost_frames"]), ("g723", qrx["frames"], 0))
        self.assertEqual((cut["frames"], cut["cut_bytes"], cut["lost_frames"]), (qrx["frames"], qrx["frame_bytes"] - 5, 1))
        self.assertEqual(sum(whole["frames_by_kind"].values()), qrx["frames"])

    def test_no_input_is_an_empty_array(self):
        for args, want in ((["--json", "-r", "empty"], []), (["--json-lines", "-r", "empty"], [])):
            status, entries = info(*args, cwd=self.dir)
            self.assertEqual((status, entries), (0, want), args)

    def test_one_input_is_still_an_array(self):
        for name, status in ((self.good, 0), (b"missing.QRX", 2)):
            got, entries = info("--json", name, cwd=self.dir)
            self.assertEqual((got, len(entries)), (status, 1), name)
        # Standard input too.
        with open(os.path.join(self.dir, "good.QRX"), "rb") as f:
            run = subprocess.run([QRX, "info", "--json", "-"], stdin=f, capture_output=True)
        entries = json.loads(run.stdout.decode("utf-8"))
        VALIDATOR.validate(entries)
        self.assertEqual(entries[0]["file"], "standard input")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
