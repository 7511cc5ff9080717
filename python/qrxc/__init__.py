"""qrxc: QRX speech streams (G.723.1 and ADPCM) from Python.

PCM is always 16-bit signed mono, as a one-dimensional ``numpy.int16`` array;
coded streams are ``bytes``. Every coding call releases the GIL, so threads
that code their own data run in parallel.

Files, in soundfile's shape (paths, ``os.PathLike``, bytes or binary file
objects)::

    pcm, rate = qrxc.read("message.QRX")             # int16 samples, the header's rate
    details = qrxc.info("message.QRX")               # type, coder, frames, duration, ...
    qrxc.write("copy.QRX", pcm, rate, type=2)        # what `qrx encode -t 2` writes

One-shot calls on data in memory::

    data = qrxc.encode(pcm, type=2, rate=8000)
    fast = qrxc.speed(pcm, level=2)
    phone = qrxc.g723_channel(pcm, rate="5.3")

Streaming, for data that arrives in pieces::

    enc = qrxc.Encoder(2)
    out = enc.header + enc.encode(chunk1) + enc.encode(chunk2) + enc.flush()
    dec = qrxc.Decoder(out[:16])
    pcm = dec.decode(out[16:])

Failures the library reports raise :class:`Error` (a ``ValueError``) with the
library's own text and result code.
"""
from __future__ import annotations

import builtins
import dataclasses
import dis
import io
import os
import secrets
import sys
import warnings
from typing import BinaryIO, Optional, Tuple, Union

import numpy as np
import numpy.typing as npt

from . import _qrxc

__version__: str = _qrxc.__version__

__all__ = [
    "Decoder",
    "decode_g723",
    "Encoder",
    "Error",
    "G723_DELAY",
    "Header",
    "StreamInfo",
    "TypeInfo",
    "__version__",
    "encode",
    "encode_g723",
    "g723_channel",
    "info",
    "library_version",
    "read",
    "speed",
    "type_info",
    "write",
]

Pcm = npt.NDArray[np.int16]
BytesLike = Union[bytes, bytearray, memoryview]
#: What read(), info() and write() take: a file name, bytes, or a binary file object.
File = Union[str, os.PathLike, BytesLike, BinaryIO]

#: Samples by which a G.723.1 encode-then-decode lags its input at 8000 Hz
#: (the encoder's 7.5 ms lookahead).
G723_DELAY = 60


class Error(ValueError):
    """A failure the qrxc library reports.

    ``str(error)`` carries the library's text for the result code, and
    ``code`` the negative code itself.
    """

    def __init__(self, message: str, code: Optional[int] = None) -> None:
        super().__init__(message)
        self.code = code


@dataclasses.dataclass(frozen=True)
class TypeInfo:
    """What a stream type is: its coder and frame sizes."""

    type: int
    pcm_frame: int    #: PCM samples per frame
    frame_bytes: int  #: coded bytes per frame
    bit_rate: int     #: nominal bits per second at 8000 Hz
    coder: str        #: e.g. "G.723.1 6.3 kbit/s"


@dataclasses.dataclass(frozen=True)
class Header(TypeInfo):
    """A stream's header."""

    sample_rate: int  #: Hz; a label for the PCM, no coding step depends on it
    header_size: int  #: bytes before the first frame: 4 (short form) or 16


@dataclasses.dataclass(frozen=True)
class StreamInfo(Header):
    """A whole stream's header and length."""

    frames: int          #: whole frames decoded
    trailing_bytes: int  #: bytes after the last whole frame, ignored
    concealed_frames: int = 0  #: frames decoded by concealment (forbidden lag or gain codes)

    @property
    def samplerate(self) -> int:
        """The header's sample rate, under soundfile's name."""
        return self.sample_rate

    @property
    def samples(self) -> int:
        """Samples the stream decodes to."""
        return self.frames * self.pcm_frame

    @property
    def duration(self) -> float:
        """Seconds the stream plays at its sample rate."""
        return self.samples / self.sample_rate


def library_version() -> str:
    """The version of the qrxc library in use, e.g. "1.2.0"."""
    return _qrxc.library_version()


def type_info(type: int) -> TypeInfo:  # noqa: A002 - the format's own word
    """The coder and frame sizes of a stream type; :class:`Error` for an unknown type."""
    return TypeInfo(**_qrxc.type_info(_integer(type, "type")))


def _pcm(pcm: npt.ArrayLike) -> Pcm:
    """pcm as a contiguous int16 vector, refusing what would not convert exactly."""
    a = np.asarray(pcm)
    if a.ndim != 1:
        raise ValueError(f"pcm must be one-dimensional (mono), not {a.ndim}-dimensional")
    if a.dtype == np.int16:
        return np.ascontiguousarray(a)
    if a.size == 0:
        return np.zeros(0, dtype=np.int16)
    if a.dtype.kind not in "iu":
        raise TypeError(f"pcm must hold 16-bit integer samples, not {a.dtype}; scale float audio to int16 first")
    if a.min() < -32768 or a.max() > 32767:
        raise ValueError("pcm samples must lie in -32768..32767")
    return a.astype(np.int16)


def _integer(value: object, what: str) -> int:
    """value as an int (bool and float refused); a TypeError naming the argument otherwise."""
    if isinstance(value, bool) or not hasattr(value, "__index__"):
        raise TypeError(f"{what} must be an integer, not {builtins.type(value).__name__}")
    return value.__index__()  # type: ignore[attr-defined]


def _data_of(file: File, what: str = "file") -> BytesLike:
    """The bytes a path, a bytes-like object or a binary file object holds."""
    if isinstance(file, (str, os.PathLike)):
        with open(file, "rb") as f:
            return f.read()
    if isinstance(file, (bytes, bytearray, memoryview)):
        return file
    reader = getattr(file, "read", None)
    if callable(reader):
        data = reader()
        if isinstance(data, str):
            raise TypeError(f"{what} is open in text mode; open it with 'rb'")
        if not isinstance(data, (bytes, bytearray, memoryview)):
            raise TypeError(f"{what}.read() gave {type(data).__name__}, not bytes")
        return data
    raise TypeError(f"{what} must be a path, bytes or a binary file object, not {type(file).__name__}")


def _buffer(data: object, what: str) -> BytesLike:
    """data if it is bytes-like; a TypeError naming the argument otherwise."""
    if isinstance(data, (bytes, bytearray, memoryview)):
        return data
    try:
        memoryview(data)  # type: ignore[arg-type]
    except TypeError:
        raise TypeError(f"{what} must be bytes-like (bytes, bytearray, memoryview), not {type(data).__name__}") from None
    return data  # type: ignore[return-value]


def _unpacks_into_three(frame: Optional[object]) -> bool:
    """Whether the caller's statement unpacks the result into three names:
    ``pcm, rate, info = qrxc.read(x)``, the form read() returned before 1.2."""
    if frame is None:
        return False
    code, at = frame.f_code, frame.f_lasti  # type: ignore[attr-defined]
    after = [i for i in dis.get_instructions(code) if i.offset > at]
    return bool(after) and after[0].opname == "UNPACK_SEQUENCE" and after[0].arg == 3


_DTYPES = {"int16": None, "float32": np.float32, "float64": np.float64}


def read(file: File, dtype: str = "int16") -> Tuple[npt.NDArray, int]:
    """Decodes a whole QRX stream: ``(data, samplerate)``, as soundfile reads.

    ``file`` is a path, an ``os.PathLike``, the stream's bytes, or a binary
    file object (read from where it stands to its end). ``data`` is one
    dimension (mono): ``int16`` samples, or with ``dtype="float32"`` or
    ``"float64"`` the samples scaled to -1.0..1.0. ``samplerate`` is the
    header's. :func:`info` gives the stream's details. Raises :class:`Error`
    for a stream that is not QRX, ``OSError`` for a file that cannot be read.

    Until 1.2, read() returned ``(pcm, rate, info)``; a statement that still
    unpacks three values gets them, with a ``DeprecationWarning``.
    """
    if dtype not in _DTYPES:
        raise ValueError(f"dtype must be one of {', '.join(_DTYPES)}, not {dtype!r}")
    pcm, header, frames, trailing = _qrxc.decode_stream(_data_of(file))
    rate = header["sample_rate"]
    scale = _DTYPES[dtype]
    data = pcm if scale is None else pcm.astype(scale) / scale(32768)
    if _unpacks_into_three(sys._getframe(1)):
        warnings.warn(
            "qrxc.read() returns (data, samplerate) now; use qrxc.info() for the stream's details",
            DeprecationWarning,
            stacklevel=2,
        )
        return data, rate, StreamInfo(**header, frames=frames, trailing_bytes=trailing)  # type: ignore[return-value]
    return data, rate


def info(file: File) -> StreamInfo:
    """A stream's header and length, without decoding it: type, coder, sample
    rate, frames, :attr:`~StreamInfo.duration`, trailing bytes and the frames
    the decoder will conceal. ``file`` is taken as by :func:`read`."""
    header, frames, trailing, concealed = _qrxc.scan_stream(_data_of(file))
    return StreamInfo(**header, frames=frames, trailing_bytes=trailing, concealed_frames=concealed)


def _samples_of(data: npt.ArrayLike) -> Pcm:
    """Samples for write(): int16 as they are, float audio (-1.0..1.0) scaled and clipped."""
    a = np.asarray(data)
    if a.dtype.kind == "f":
        if a.ndim != 1:
            raise ValueError(f"data must be one-dimensional (mono), not {a.ndim}-dimensional")
        return np.clip(np.rint(a * 32768.0), -32768, 32767).astype(np.int16)
    return _pcm(a)


def write(
    file: Union[str, os.PathLike, BinaryIO],
    data: npt.ArrayLike,
    samplerate: int,
    *,
    type: int,  # noqa: A002 - the format's own word
    short_header: bool = False,
) -> None:
    """Encodes ``data`` into a QRX stream written to ``file``, as soundfile writes.

    ``data`` is mono: ``int16`` samples, or float samples in -1.0..1.0
    (clipped beyond). ``samplerate`` is what the header records (8000, 12000
    or 16000; the samples are not resampled), ``type`` the stream type (0,
    1, 2: G.723.1; 4, 5, 6: ADPCM). ``file`` is a path or a binary file
    object. A path is written whole or not at all: the stream is coded
    first and put in place under its name only once it is complete.
    """
    stream = encode(_samples_of(data), type, samplerate, short_header)
    if not isinstance(file, (str, os.PathLike)):
        writer = getattr(file, "write", None)
        if not callable(writer):
            raise TypeError(f"file must be a path or a binary file object, not {builtins.type(file).__name__}")
        if isinstance(file, io.TextIOBase):
            raise TypeError("file is open in text mode; open it with 'wb'")
        writer(stream)
        return
    path = os.fspath(file)
    folder, name = os.path.split(os.path.abspath(path))
    part = os.path.join(folder, f".{name}.{secrets.token_hex(4)}.part")
    # Created as any new file is (the umask applies), then renamed over the name.
    fd = os.open(part, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666)
    try:
        with os.fdopen(fd, "wb") as out:
            out.write(stream)
        os.replace(part, path)
    except BaseException:
        try:
            os.unlink(part)
        except OSError:
            pass
        raise


def encode(pcm: npt.ArrayLike, type: int, rate: int = 8000, short_header: bool = False) -> bytes:  # noqa: A002
    """Encodes PCM into a QRX stream, byte for byte what ``qrx encode`` writes.

    ``type`` is the stream type (0, 1, 2: G.723.1; 4, 5, 6: ADPCM),
    ``rate`` the sample rate the header records (8000, 12000 or 16000), and
    ``short_header`` selects the 4-byte header form. A final partial frame
    is completed with silence.
    """
    return _qrxc.encode_stream(_pcm(pcm), _integer(type, "type"), _integer(rate, "rate"), not short_header)


class Decoder:
    """Decodes one stream piece by piece.

    ``Decoder(header)`` opens the stream from its first bytes: at least the
    whole header (4 or 16 bytes); bytes after it are kept for the first
    :meth:`decode`. :meth:`decode` then takes data of any length and returns
    the PCM of every frame completed so far; a partial frame waits for the
    next call.
    """

    def __init__(self, header: BytesLike) -> None:
        self._dec = _qrxc.Decoder(_buffer(header, "header"))
        self.header: Header = Header(**self._dec.header)

    def decode(self, data: BytesLike) -> Pcm:
        """PCM of every whole frame of the data given so far (empty if none yet)."""
        return self._dec.decode(_buffer(data, "data"))

    @property
    def pending(self) -> int:
        """Bytes of a partial frame waiting for the rest."""
        return self._dec.pending


class Encoder:
    """Encodes one stream piece by piece.

    Write :attr:`header` first, then what :meth:`encode` returns for each
    piece of PCM, then :meth:`flush`; together they are what :func:`encode`
    returns for all the PCM at once.
    """

    def __init__(self, type: int, rate: int = 8000, short_header: bool = False) -> None:  # noqa: A002
        self._enc = _qrxc.Encoder(_integer(type, "type"), _integer(rate, "rate"), not short_header)
        #: the stream's header bytes
        self.header: bytes = self._enc.header_bytes
        #: the header's fields
        self.info: Header = Header(**self._enc.header)

    def encode(self, pcm: npt.ArrayLike) -> bytes:
        """The frames completed by pcm; samples short of a frame wait for the next call."""
        return self._enc.encode(_pcm(pcm))

    def flush(self) -> bytes:
        """The waiting samples completed with silence as one last frame (empty if none wait)."""
        return self._enc.flush()

    @property
    def pending(self) -> int:
        """Samples waiting for a frame to fill."""
        return self._enc.pending


_EFFECT_MODE = _qrxc.EFFECT_MODE
_EFFECT_MASK = _qrxc.EFFECT_MASK
_SPEED_LEVELS = _qrxc.SPEED_LEVELS


def speed(pcm: npt.ArrayLike, level: Optional[int] = None, effect: Optional[int] = None, frame: int = 240) -> Pcm:
    """Plays PCM through the speed control or the voice effects.

    Give exactly one of ``level`` (0 twice as fast, 4 normal, 12 half speed)
    or ``effect`` (a code 0..31: pitch setting in bits 2-4, 1..3 lower and
    4..7 higher; then 1 vibrato, 2 short echo, 3 long echo in bits 0-1).
    ``frame`` is the frame length the control works in: 240, or 320 for
    type 0 streams. A final partial frame is completed with silence, and two
    silent frames are played after the end to bring out what the control
    holds back, as ``qrx speed`` does; the output is therefore a little
    longer than the speed alone would make it. Diagnostics of the control
    come as ``RuntimeWarning``.
    """
    if (level is None) == (effect is None):
        raise ValueError("give exactly one of level or effect")
    frame = _integer(frame, "frame")
    if level is not None:
        level = _integer(level, "level")
        if not 0 <= level < _SPEED_LEVELS:
            raise ValueError(f"level must be 0..{_SPEED_LEVELS - 1}, not {level}")
        flags = level
    else:
        assert effect is not None
        effect = _integer(effect, "effect")
        if not 0 <= effect <= _EFFECT_MASK:
            raise ValueError(f"effect must be a code 0..{_EFFECT_MASK}, not {effect}")
        flags = _EFFECT_MODE | effect
    return _qrxc.speed(_pcm(pcm), flags, frame)


_CHANNEL_TYPES = {"5.3": 1, "6.3": 2}


def g723_channel(pcm: npt.ArrayLike, rate: Union[str, float] = "6.3", align: bool = False) -> Pcm:
    """PCM after a G.723.1 telephony channel: encoded and decoded again at 8000 Hz.

    ``rate`` is "5.3" or "6.3" (kbit/s). By default the result is exactly
    what the channel delivers: :data:`G723_DELAY` (60) samples late, and
    rounded up to whole 240-sample frames. With ``align=True`` the delay is
    removed and the result has ``len(pcm)`` samples lined up with the input
    (the input is coded with 60 samples of silence after it, so its end
    comes through), for datasets that pair clean and coded speech.
    """
    key = rate if isinstance(rate, str) else f"{rate:.1f}"
    if key not in _CHANNEL_TYPES:
        raise ValueError(f'rate must be "5.3" or "6.3", not {rate!r}')
    samples = _pcm(pcm)
    if align:
        samples = np.concatenate([samples, np.zeros(G723_DELAY, dtype=np.int16)])
    coded, _ = read(encode(samples, _CHANNEL_TYPES[key]))
    if align:
        return coded[G723_DELAY : G723_DELAY + len(samples) - G723_DELAY]
    return coded


_STANDARD_KINDS = {"6.3": 0, "5.3": 1}


def encode_g723(pcm: npt.ArrayLike, rate: Union[str, float] = "6.3", vad: bool = False) -> bytes:
    """Encodes 8000 Hz PCM into a standard G.723.1 stream (frames back to back, no header).

    ``rate`` is "5.3" or "6.3" (kbit/s). With ``vad=True`` silence is coded
    as 4-byte SID frames where the background noise changes and 1-byte
    untransmitted frames where it does not, as silence-compressing
    telephones send it. A final partial frame is completed with silence.
    """
    key = rate if isinstance(rate, str) else f"{rate:.1f}"
    if key not in _STANDARD_KINDS:
        raise ValueError(f'rate must be "5.3" or "6.3", not {rate!r}')
    return _qrxc.encode_g723(_pcm(pcm), _STANDARD_KINDS[key], bool(vad))


def decode_g723(data: BytesLike) -> Pcm:
    """Decodes a standard G.723.1 stream to 8000 Hz PCM, 240 samples a frame.

    Frames may switch rates; SID and untransmitted frames become comfort
    noise, so streams coded with ``vad=True`` decode in full.
    """
    return _qrxc.decode_g723(_buffer(data, "data"))
