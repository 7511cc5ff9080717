"""The qrxc module against the reference vectors, the qrx tool and itself."""
import io
import json
import os
import subprocess
import threading
import wave
from pathlib import Path

import numpy as np
import pytest

import qrxc

DATA = Path(os.environ.get("QRXC_TEST_DATA", Path(__file__).resolve().parents[2] / "tests" / "data"))
DECODE = sorted((DATA / "conformance" / "decode").glob("*.QRX"))
ENCODE = sorted((DATA / "conformance" / "encode").glob("*.QRX"))
QRX = os.environ.get("QRX_CLI")
TYPES = [0, 1, 2, 4, 5, 6]


def pcm_of(path):
    return np.fromfile(path, dtype="<i2").astype(np.int16)


@pytest.fixture(scope="module")
def speech():
    # 2.1 s: not a whole number of frames of either length.
    return pcm_of(DATA / "speech_8k.raw")[:16900]


def test_imports_the_module_under_test():
    expected = os.environ.get("QRXC_PY_EXPECT")
    if expected:
        assert Path(qrxc.__file__).resolve().parent == Path(expected).resolve()
    assert qrxc.__version__ == qrxc.library_version()
    assert DECODE and ENCODE, f"no reference vectors under {DATA}"


@pytest.mark.parametrize("path", DECODE, ids=lambda p: p.stem)
def test_decodes_reference_vectors_bit_exactly(path):
    pcm, rate = qrxc.read(path)
    info = qrxc.info(path)
    want = pcm_of(path.with_suffix(".pcm"))
    assert pcm.dtype == np.int16
    np.testing.assert_array_equal(pcm, want)
    assert (rate, info.frames * info.pcm_frame, info.trailing_bytes) == (8000, len(want), 0)
    # The same stream in uneven pieces through a Decoder.
    data = path.read_bytes()
    dec = qrxc.Decoder(data[: info.header_size])
    pieces = [dec.decode(data[i : i + 7]) for i in range(info.header_size, len(data), 7)]
    np.testing.assert_array_equal(np.concatenate(pieces), want)


@pytest.mark.parametrize("path", ENCODE, ids=lambda p: p.stem)
def test_encodes_reference_vectors_byte_for_byte(path):
    want = path.read_bytes()
    assert qrxc.encode(pcm_of(path.with_suffix(".pcm")), qrxc.info(want).type) == want


@pytest.mark.parametrize("short_header", [False, True])
@pytest.mark.parametrize("type_", TYPES)
def test_streaming_equals_one_shot(speech, type_, short_header):
    whole = qrxc.encode(speech, type_, 16000, short_header)
    enc = qrxc.Encoder(type_, 16000, short_header)
    cuts = [0, 1, 100, 341, 5000, 5001, len(speech)]
    streamed = enc.header + b"".join(enc.encode(speech[a:b]) for a, b in zip(cuts, cuts[1:]))
    assert enc.pending == len(speech) % enc.info.pcm_frame
    assert streamed + enc.flush() == whole and enc.pending == 0

    pcm, rate = qrxc.read(whole + b"\x01\x02")
    info = qrxc.info(whole + b"\x01\x02")
    assert (rate, info.type, info.header_size, info.trailing_bytes) == (16000, type_, len(enc.header), 2)
    assert len(pcm) == -(-len(speech) // info.pcm_frame) * info.pcm_frame
    # The header with part of a frame, then pieces that split frames.
    split = info.header_size + 3
    dec = qrxc.Decoder(whole[:split])
    assert dec.header == enc.info and dec.pending == 3
    pieces = [dec.decode(whole[i : i + 61]) for i in range(split, len(whole), 61)]
    np.testing.assert_array_equal(np.concatenate(pieces), pcm)


def library_text(code):
    return qrxc._qrxc.strerror(code)


@pytest.mark.parametrize(
    "call, code",
    [
        (lambda: qrxc.read(b""), None),
        (lambda: qrxc.read(b"QRY\x01" + bytes(40)), -4),
        (lambda: qrxc.read(b"QRX\x35" + bytes(40)), -4),  # rate code 3
        (lambda: qrxc.read(b"QRX\x03" + bytes(40)), -4),  # type 3
        (lambda: qrxc.Decoder(b"QRX\x40"), None),  # a long header cut short
        (lambda: qrxc.info(b"QRX\x03" + bytes(40)), -4),
        (lambda: qrxc.write(io.BytesIO(), [0] * 240, 11025, type=1), -2),
        (lambda: qrxc.encode([0] * 240, 3), -3),
        (lambda: qrxc.encode([0] * 240, 1, rate=11025), -2),
        (lambda: qrxc.Encoder(7), -3),
        (lambda: qrxc.type_info(3), -3),
    ],
)
def test_library_failures_raise_its_error(call, code):
    with pytest.raises(qrxc.Error) as caught:
        call()
    assert isinstance(caught.value, ValueError)
    if code is not None:
        assert caught.value.code == code
        assert library_text(code) in str(caught.value)
    assert str(caught.value)


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda: qrxc.encode(np.zeros(240, dtype=np.float32), 1), TypeError),
        (lambda: qrxc.encode(np.zeros((2, 240), dtype=np.int16), 1), ValueError),
        (lambda: qrxc.encode([40000], 1), ValueError),
        (lambda: qrxc.speed([0] * 240, level=4, effect=1), ValueError),
        (lambda: qrxc.speed([0] * 240), ValueError),
        (lambda: qrxc.speed([0] * 240, level=13), ValueError),
        (lambda: qrxc.speed([0] * 240, level=4, frame=100), ValueError),
        (lambda: qrxc.g723_channel([0] * 240, rate="8"), ValueError),
        (lambda: qrxc.read(Path("/nonexistent/x.QRX")), OSError),
    ],
)
def test_bad_arguments_are_refused(call, error):
    with pytest.raises(error):
        call()


@pytest.mark.parametrize(
    "call, words",
    [
        (lambda: qrxc.read(42), "file must be a path, bytes or a binary file object, not int"),
        (lambda: qrxc.read(io.StringIO("QRX")), "text mode"),
        (lambda: qrxc.Decoder("QRX\x01"), "header must be bytes-like"),
        (lambda: qrxc.Decoder(b"QRX\x01").decode([1, 2]), "data must be bytes-like"),
        (lambda: qrxc.decode_g723(None), "data must be bytes-like"),
        (lambda: qrxc.encode([0] * 240, "2"), "type must be an integer, not str"),
        (lambda: qrxc.Encoder(2, rate=8000.0), "rate must be an integer, not float"),
        (lambda: qrxc.speed([0] * 240, level="4"), "level must be an integer"),
        (lambda: qrxc.write(io.StringIO(), [0] * 240, 8000, type=2), "text mode"),
        (lambda: qrxc.write(3, [0] * 240, 8000, type=2), "file must be a path or a binary file object"),
    ],
)
def test_wrong_types_are_named_without_binding_internals(call, words):
    with pytest.raises(TypeError) as caught:
        call()
    assert words in str(caught.value) and "incompatible function arguments" not in str(caught.value)


def test_every_kind_of_file_reads_alike(tmp_path):
    path = DECODE[0]
    data = path.read_bytes()
    want, rate = qrxc.read(data)
    with open(path, "rb") as opened:
        sources = [str(path), path, bytearray(data), memoryview(data), io.BytesIO(data), opened]
        for source in sources:
            got, got_rate = qrxc.read(source)
            np.testing.assert_array_equal(got, want)
            assert got_rate == rate
    floats, _ = qrxc.read(data, dtype="float32")
    assert floats.dtype == np.float32 and np.array_equal(floats * 32768, want)


@pytest.mark.skipif(not QRX, reason="QRX_CLI names no qrx tool")
def test_info_agrees_with_qrx_info():
    listed = json.loads(subprocess.run([QRX, "info", "--json", *map(str, DECODE)], check=True, capture_output=True).stdout)
    for path, entry in zip(DECODE, listed):
        got = qrxc.info(io.BytesIO(path.read_bytes()))
        assert (got.type, got.samplerate, got.frames, got.header_size, got.trailing_bytes, got.concealed_frames) == (
            entry["type"], entry["sample_rate"], entry["frames"], entry["header_bytes"], entry["trailing_bytes"],
            entry["concealed_frames"]), path
        assert got.duration == pytest.approx(entry["duration"], abs=1e-3)
    assert any(entry["concealed_frames"] > 0 for entry in listed)  # the synthetic vectors carry forbidden codes


def test_write_equals_encode_and_leaves_nothing_on_failure(tmp_path, speech):
    want = qrxc.encode(speech, 1, 16000)
    target = tmp_path / "out.QRX"
    qrxc.write(target, speech, 16000, type=1)
    buffer = io.BytesIO()
    qrxc.write(buffer, speech / 32768.0, 16000, type=1)  # float samples, as soundfile gives them
    assert target.read_bytes() == want == buffer.getvalue()
    target.write_bytes(b"kept")
    with pytest.raises(qrxc.Error):
        qrxc.write(target, speech, 16000, type=3)
    assert target.read_bytes() == b"kept" and sorted(os.listdir(tmp_path)) == ["out.QRX"]


def test_the_old_three_value_read_still_works_with_a_warning():
    with pytest.warns(DeprecationWarning, match="returns \\(data, samplerate\\)"):
        pcm, rate, details = qrxc.read(DECODE[0])
    assert rate == 8000 and details == qrxc.info(DECODE[0]) and len(pcm) == details.samples


def test_four_threads_code_at_once_with_identical_results(speech):
    def work():
        data = qrxc.encode(speech, 2)
        return data, qrxc.read(data)[0], qrxc.speed(speech, level=2)

    want = work()
    results = [None] * 4

    def run(i):
        results[i] = work()

    threads = [threading.Thread(target=run, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for got in results:
        assert got[0] == want[0]
        np.testing.assert_array_equal(got[1], want[1])
        np.testing.assert_array_equal(got[2], want[2])


@pytest.mark.parametrize("rate", ["5.3", "6.3"])
def test_g723_channel(speech, rate):
    raw = qrxc.g723_channel(speech, rate)
    assert len(raw) == -(-len(speech) // 240) * 240
    np.testing.assert_array_equal(raw, qrxc.read(qrxc.encode(speech, 1 if rate == "5.3" else 2))[0])
    aligned = qrxc.g723_channel(speech, float(rate), align=True)
    assert len(aligned) == len(speech)
    # The lag the channel really has is the one align removes.
    x, y = speech.astype(float), qrxc.g723_channel(speech, rate).astype(float)
    lags = range(120)
    assert max(lags, key=lambda d: float(np.dot(x[:16000], y[d : d + 16000]))) == qrxc.G723_DELAY


@pytest.mark.parametrize("level, ratio", [(0, 0.5), (4, 1.0), (12, 2.0)])
def test_speed_levels_change_the_length(speech, level, ratio):
    out = qrxc.speed(speech, level=level)
    assert out.dtype == np.int16
    assert abs(len(out) / len(speech) - ratio) < 0.1


def wav_data(path):
    with wave.open(str(path), "rb") as w:
        return np.frombuffer(w.readframes(w.getnframes()), dtype="<i2")


@pytest.mark.skipif(not QRX, reason="the qrx tool is not built")
@pytest.mark.parametrize("args", [["--level", "2"], ["--level", "11"], ["--effect", "0x1D"], ["--pitch", "6"]])
def test_speed_matches_qrx_speed(tmp_path, args):
    src = DATA.parent.parent / "samples" / "hello-g723-63.QRX"
    out = tmp_path / "out.wav"
    subprocess.run([QRX, "speed", str(src), "-o", str(out), *args], check=True, capture_output=True)
    pcm = qrxc.read(src)[0]
    option, value = args
    kw = {"level": int(value)} if option == "--level" else {"effect": int(value, 0) if option == "--effect" else int(value) << 2}
    np.testing.assert_array_equal(qrxc.speed(pcm, **kw), wav_data(out))


@pytest.mark.skipif(not QRX, reason="the qrx tool is not built")
@pytest.mark.parametrize("type_, short", [(0, False), (2, True), (5, False)])
def test_encode_matches_qrx_encode(tmp_path, speech, type_, short):
    src, out = tmp_path / "in.wav", tmp_path / "out.QRX"
    with wave.open(str(src), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(12000)
        w.writeframes(speech.astype("<i2").tobytes())
    subprocess.run([QRX, "encode", str(src), "-t", str(type_), "-o", str(out), *(["--short-header"] if short else [])],
                   check=True, capture_output=True)
    assert qrxc.encode(speech, type_, 12000, short) == out.read_bytes()


@pytest.mark.parametrize(
    "rate,tin,rco,rou",
    [("6.3", "DTX63.TIN", "DTX63.RCO", "DTX63.ROU"), ("5.3", "DTX53MIX.TIN", "DTX53.RCO", "DTX53.ROU")],
)
def test_silence_compression_both_ways_bit_exactly(rate, tin, rco, rou):
    vectors = DATA / "annexa"
    pcm = pcm_of(vectors / tin)
    coded = qrxc.encode_g723(pcm, rate, vad=True)
    assert coded == (vectors / rco).read_bytes()
    assert np.array_equal(qrxc.decode_g723(coded), pcm_of(vectors / rou))
    # Without vad every frame is speech.
    assert len(qrxc.encode_g723(pcm, rate)) == len(pcm) // 240 * (24 if rate == "6.3" else 20)
