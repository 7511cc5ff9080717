// _qrxc: the extension behind the qrxc Python package. It speaks only the
// library's public C API; the package's __init__.py gives it its Python face
// (argument checks, dataclasses, docstrings).
//
// Every coding call releases the GIL, so threads coding on their own
// objects run in parallel. A Decoder or Encoder is one stream: using the
// same object from two threads at once is refused rather than interleaved.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "qrxc.h"

namespace py = pybind11;

namespace {

using Pcm_array = py::array_t<std::int16_t, py::array::c_style | py::array::forcecast>;

// A library result code as a C++ exception; the translator below turns it
// into qrxc.Error with the code attached.
struct Codec_failure {
    int code;
    std::string text;
};

// The library's text for code, after what the call was doing if given.
[[noreturn]] void fail(int code, const std::string &what) {
    throw Codec_failure{code, what.empty() ? std::string(Qrxc_strerror(code)) : what + ": " + Qrxc_strerror(code)};
}
// A failure the binding itself finds, filed under the library's code for it.
[[noreturn]] void fail_with(int code, const std::string &text) { throw Codec_failure{code, text}; }

struct Context_deleter {
    void operator()(Qrxc_context *ctx) const { Qrxc_destroy(ctx); }
};
using Context = std::unique_ptr<Qrxc_context, Context_deleter>;

Context new_context() {
    Context ctx(Qrxc_create());
    if (!ctx) throw std::bad_alloc();
    return ctx;
}

// Read-only bytes of any buffer object (bytes, bytearray, memoryview, numpy).
struct Bytes_view {
    py::buffer_info info;
    const unsigned char *data;
    std::size_t size;

    explicit Bytes_view(const py::buffer &b)
        : info(b.request()),
          data(static_cast<const unsigned char *>(info.ptr)),
          size(static_cast<std::size_t>(info.size * info.itemsize)) {
        if (!PyBuffer_IsContiguous(info.view(), 'C')) throw py::value_error("the buffer must be contiguous");
    }
};

py::array_t<std::int16_t> pcm_array(std::size_t n) { return py::array_t<std::int16_t>(static_cast<py::ssize_t>(n)); }

// A bytes object of n bytes whose contents are written later, without the GIL:
// nobody else holds a reference to it yet.
py::bytes uninitialised_bytes(std::size_t n) {
    PyObject *b = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(n));
    if (b == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::bytes>(b);
}
unsigned char *bytes_data(py::bytes &b) { return reinterpret_cast<unsigned char *>(PyBytes_AS_STRING(b.ptr())); }

py::dict type_dict(int type) {
    Qrxc_type_desc d{};
    const int rc = Qrxc_type_info(type, &d);
    if (rc < 0) fail(rc, "type " + std::to_string(type));
    py::dict out;
    out["type"] = type;
    out["pcm_frame"] = d.pcm_frame;
    out["frame_bytes"] = d.frame_bytes;
    out["bit_rate"] = d.bit_rate;
    out["coder"] = d.coder;
    return out;
}

// The header record as the package's Header fields; header_size is where
// the first frame starts, whatever a long header's own size field says.
py::dict header_dict(const G_header &h, int header_length) {
    py::dict out = type_dict(h.type);
    out["sample_rate"] = h.sample_rate;
    out["header_size"] = header_length;
    return out;
}

// One stream object used by one thread at a time.
class Busy_guard {
public:
    explicit Busy_guard(std::mutex &m) : lock_(m, std::try_to_lock) {
        if (!lock_.owns_lock()) throw std::runtime_error("this stream object is in use by another thread");
    }

private:
    std::unique_lock<std::mutex> lock_;
};

class Decoder {
public:
    explicit Decoder(const py::buffer &head) : ctx_(new_context()) {
        const Bytes_view in(head);
        if (in.size < QRXC_HEADER_SHORT)
            fail_with(QRXC_ERR_BUFFER,
                      "a stream starts with at least " + std::to_string(QRXC_HEADER_SHORT) + " header bytes");
        const int need = Qrxc_header_length(in.data);
        if (need < 0) fail(need, "");
        if (in.size < static_cast<std::size_t>(need))
            fail_with(QRXC_ERR_BUFFER, "this stream has a " + std::to_string(need) + "-byte header; " +
                                           std::to_string(in.size) + " bytes given");
        unsigned char hdr[QRXC_HEADER_MAX] = {};
        std::memcpy(hdr, in.data, static_cast<std::size_t>(need));
        header_length_ = Qrxc_initial_ctx(ctx_.get(), QRXC_DECODE, 0, 0, &header_, hdr);
        if (header_length_ < 0) fail(header_length_, "");
        pending_.assign(in.data + header_length_, in.data + in.size);
    }

    py::dict header() const { return header_dict(header_, header_length_); }
    std::size_t pending() const { return pending_.size(); }

    // Decodes every whole frame of what came before and data; keeps the rest.
    py::array_t<std::int16_t> decode(const py::buffer &chunk) {
        const Busy_guard busy(mutex_);
        const Bytes_view in(chunk);
        const std::size_t fb = header_.frame_bytes, pf = header_.pcm_frame;
        const std::size_t frames = (pending_.size() + in.size) / fb;
        auto out = pcm_array(frames * pf);
        short *pcm = out.mutable_data();
        int rc = 0;
        {
            const py::gil_scoped_release nogil;
            const unsigned char *src = in.data;
            std::size_t left = in.size;
            std::size_t done = 0;
            // Frames that begin in the bytes kept from before.
            for (; !pending_.empty() && done < frames; ++done) {
                if (pending_.size() < fb) {
                    const std::size_t take = fb - pending_.size();
                    pending_.insert(pending_.end(), src, src + take);
                    src += take;
                    left -= take;
                }
                rc = std::min(rc, Qrxc_decode_frame(ctx_.get(), pending_.data(), pcm + done * pf));
                pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(fb));
            }
            for (; done < frames; ++done, src += fb, left -= fb)
                rc = std::min(rc, Qrxc_decode_frame(ctx_.get(), src, pcm + done * pf));
            pending_.insert(pending_.end(), src, src + left);
        }
        if (rc < 0) fail(rc, "decoding");
        return out;
    }

private:
    Context ctx_;
    G_header header_{};
    int header_length_ = 0;
    std::vector<unsigned char> pending_;
    std::mutex mutex_;
};

class Encoder {
public:
    Encoder(int type, int sample_rate, bool long_header) : ctx_(new_context()) {
        Qrxc_version_ctx(ctx_.get(), long_header ? 1 : 0);
        unsigned char hdr[QRXC_HEADER_MAX];
        const int n = Qrxc_initial_ctx(ctx_.get(), QRXC_ENCODE, sample_rate, type, &header_, hdr);
        if (n < 0) fail(n, "type " + std::to_string(type) + " at " + std::to_string(sample_rate) + " Hz");
        header_bytes_.assign(reinterpret_cast<const char *>(hdr), static_cast<std::size_t>(n));
        pending_.reserve(header_.pcm_frame);
    }

    py::bytes header_bytes() const { return py::bytes(header_bytes_); }
    py::dict header() const { return header_dict(header_, static_cast<int>(header_bytes_.size())); }
    std::size_t pending() const { return pending_.size(); }

    // Codes every whole frame of what came before and pcm; keeps the rest.
    py::bytes encode(const Pcm_array &samples) {
        const Busy_guard busy(mutex_);
        const std::size_t fb = header_.frame_bytes, pf = header_.pcm_frame;
        const short *src = samples.data();
        std::size_t left = static_cast<std::size_t>(samples.size());
        const std::size_t frames = (pending_.size() + left) / pf;
        py::bytes out = uninitialised_bytes(frames * fb);
        unsigned char *dst = bytes_data(out);
        int rc = 0;
        {
            const py::gil_scoped_release nogil;
            std::size_t done = 0;
            if (!pending_.empty() && frames > 0) {
                const std::size_t take = pf - pending_.size();
                pending_.insert(pending_.end(), src, src + take);
                src += take;
                left -= take;
                rc = std::min(rc, Qrxc_encode_frame(ctx_.get(), pending_.data(), dst));
                pending_.clear();
                done = 1;
            }
            for (; done < frames; ++done, src += pf, left -= pf)
                rc = std::min(rc, Qrxc_encode_frame(ctx_.get(), src, dst + done * fb));
            pending_.insert(pending_.end(), src, src + left);
        }
        if (rc < 0) fail(rc, "encoding");
        return out;
    }

    // Completes a partial frame with silence, as the qrx tool does at the end.
    py::bytes flush() {
        const Busy_guard busy(mutex_);
        if (pending_.empty()) return py::bytes();
        pending_.resize(header_.pcm_frame, 0);
        py::bytes out = uninitialised_bytes(header_.frame_bytes);
        const int rc = Qrxc_encode_frame(ctx_.get(), pending_.data(), bytes_data(out));
        pending_.clear();
        if (rc < 0) fail(rc, "encoding");
        return out;
    }

private:
    Context ctx_;
    G_header header_{};
    std::string header_bytes_;
    std::vector<short> pending_;
    std::mutex mutex_;
};

// The whole stream in one call: (samples, header fields, frames, trailing bytes).
py::tuple decode_stream(const py::buffer &stream) {
    const Bytes_view in(stream);
    const long long samples = Qrxc_decoded_samples(in.data, in.size);
    if (samples < 0) fail(static_cast<int>(samples), "");
    auto out = pcm_array(static_cast<std::size_t>(samples));
    G_header h{};
    long long got = 0;
    {
        const py::gil_scoped_release nogil;
        Context ctx = new_context();
        got =
            Qrxc_decode_buffer(ctx.get(), in.data, in.size, out.mutable_data(), static_cast<std::size_t>(samples), &h);
    }
    if (got < 0) fail(static_cast<int>(got), "");
    const int header_length = Qrxc_header_length(in.data);
    const std::size_t frames = h.pcm_frame == 0 ? 0 : static_cast<std::size_t>(got) / h.pcm_frame;
    const std::size_t trailing = in.size - static_cast<std::size_t>(header_length) - frames * h.frame_bytes;
    return py::make_tuple(out, header_dict(h, header_length), frames, trailing);
}

// The header and length of a stream without decoding it: (header fields,
// frames, trailing bytes, frames the decoder will conceal).
py::tuple scan_stream(const py::buffer &stream) {
    const Bytes_view in(stream);
    G_header h{};
    const int header_length = Qrxc_parse_header(in.data, in.size, &h);
    if (header_length < 0) fail(header_length, "");
    const std::size_t body = in.size - static_cast<std::size_t>(header_length);
    const std::size_t frames = body / h.frame_bytes;
    std::size_t concealed = 0;
    {
        const py::gil_scoped_release nogil;
        const unsigned char *frame = in.data + header_length;
        for (std::size_t i = 0; i < frames; ++i, frame += h.frame_bytes)
            concealed += Qrxc_frame_concealed(h.type, frame) == 1 ? 1 : 0;
    }
    return py::make_tuple(header_dict(h, header_length), frames, body - frames * h.frame_bytes, concealed);
}

py::bytes encode_stream(const Pcm_array &samples, int type, int sample_rate, bool long_header) {
    const auto n = static_cast<std::size_t>(samples.size());
    const long long size = Qrxc_encoded_bytes(type, n, long_header ? 1 : 0);
    if (size < 0) fail(static_cast<int>(size), "type " + std::to_string(type));
    py::bytes out = uninitialised_bytes(static_cast<std::size_t>(size));
    unsigned char *dst = bytes_data(out);
    long long got = 0;
    {
        const py::gil_scoped_release nogil;
        Context ctx = new_context();
        got = Qrxc_encode_buffer(ctx.get(), sample_rate, type, long_header ? 1 : 0, samples.data(), n, dst,
                                 static_cast<std::size_t>(size));
    }
    if (got < 0)
        fail(static_cast<int>(got), "type " + std::to_string(type) + " at " + std::to_string(sample_rate) + " Hz");
    if (got != size) throw std::runtime_error("the library wrote another size than it announced");
    return out;
}

// A context opened for the standard G.723.1 layout in either direction.
Context standard_context(int direction) {
    Context ctx = new_context();
    int r = 0;
    if (direction == QRXC_DECODE) {
        r = Qrxc_open_decoding_ctx(ctx.get(), QRXC_TYPE_G723_63, QRXC_G723_SAMPLE_RATE, nullptr);
    } else {
        unsigned char hdr[QRXC_HEADER_MAX];
        G_header h{};
        r = Qrxc_initial_ctx(ctx.get(), QRXC_ENCODE, QRXC_G723_SAMPLE_RATE, QRXC_TYPE_G723_63, &h, hdr);
    }
    if (r < 0) fail(r, "a standard G.723.1 stream");
    return ctx;
}

// Standard G.723.1 frames back to back; silence as SID and untransmitted
// frames with vad. The last partial frame is completed with silence.
py::bytes encode_g723(const Pcm_array &samples, int rate_kind, bool vad) {
    const auto n = static_cast<std::size_t>(samples.size());
    std::vector<unsigned char> out;
    int err = 0;
    {
        const py::gil_scoped_release nogil;
        Context ctx = standard_context(QRXC_ENCODE);
        out.reserve((n + 239) / 240 * QRXC_G723_STANDARD_MAX_BYTES);
        for (std::size_t at = 0; at < n && err == 0; at += 240) {
            short frame[240] = {};
            std::copy_n(samples.data() + at, std::min<std::size_t>(240, n - at), frame);
            unsigned char bits[QRXC_G723_STANDARD_MAX_BYTES];
            const int got = Qrxc_encode_standard_ctx(ctx.get(), frame, rate_kind, vad ? QRXC_G723_VAD : 0, bits);
            if (got < 0)
                err = got;
            else
                out.insert(out.end(), bits, bits + got);
        }
    }
    if (err < 0) fail(err, "G.723.1 encoding");
    return py::bytes(reinterpret_cast<const char *>(out.data()), out.size());
}

// 240 samples for every standard frame: speech, comfort noise for SID and
// untransmitted frames, concealment for lost ones (a frame cut short at
// the end among them).
py::array_t<std::int16_t> decode_g723(const py::buffer &stream) {
    const Bytes_view in(stream);
    std::vector<short> pcm;
    {
        const py::gil_scoped_release nogil;
        Context ctx = standard_context(QRXC_DECODE);
        for (std::size_t at = 0; at < in.size;) {
            short frame[240];
            int used = Qrxc_decode_standard_ctx(ctx.get(), in.data + at, in.size - at, frame, nullptr);
            if (used < 0) {
                unsigned char lost[24] = {}, standard[24];
                lost[3] = 124;  // a forbidden lag code
                Qrxc_g723_to_standard(lost, 2, standard);
                Qrxc_decode_standard_ctx(ctx.get(), standard, sizeof standard, frame, nullptr);
                used = static_cast<int>(in.size - at);
            }
            pcm.insert(pcm.end(), frame, frame + 240);
            at += static_cast<std::size_t>(used);
        }
    }
    auto out = pcm_array(pcm.size());
    std::copy(pcm.begin(), pcm.end(), out.mutable_data());
    return out;
}

// The speed control over whole PCM. The last partial frame is completed
// with silence, and two silent frames bring out what the control holds back,
// as qrx speed does.
py::array_t<std::int16_t> speed(const Pcm_array &samples, int flags, int frame) {
    Context ctx = new_context();
    const int rc = Qrmd_open_ctx(ctx.get(), frame, flags);
    if (rc == QRXC_ERR_BUFFER)
        throw py::value_error("no stream type has frames of " + std::to_string(frame) + " samples");
    if (rc < 0) fail(rc, "speed flags " + std::to_string(flags));
    // The control's diagnostics are collected without the GIL and become warnings after.
    std::vector<std::string> notes;
    Qrxc_set_diagnostics(
        ctx.get(),
        [](void *user, const char *text) {
            try {  // nothing may unwind through the library
                static_cast<std::vector<std::string> *>(user)->emplace_back(text);
            } catch (...) {}
        },
        &notes);
    std::vector<short> out;
    int status = QRXC_OK;
    {
        const py::gil_scoped_release nogil;
        const auto pf = static_cast<std::size_t>(frame);
        const short *src = samples.data();
        const auto n = static_cast<std::size_t>(samples.size());
        out.reserve(n + n / 2 + 4 * pf);
        short in[QRXC_MAX_PCM_FRAME];
        short res[2 * QRXC_MAX_PCM_FRAME];
        const std::size_t frames = (n + pf - 1) / pf + 2;
        for (std::size_t f = 0; f < frames && status >= 0; ++f) {
            const std::size_t pos = f * pf;
            const std::size_t take = pos < n ? std::min(pf, n - pos) : 0;
            std::copy(src + pos, src + pos + take, in);
            std::fill(in + take, in + pf, short{0});
            status = Qrmd_process_ctx(ctx.get(), flags, in, res);
            if (status > 0) out.insert(out.end(), res, res + status);
        }
    }
    for (const std::string &note : notes)
        if (PyErr_WarnEx(PyExc_RuntimeWarning, ("speed control: " + note).c_str(), 1) < 0)
            throw py::error_already_set();
    if (status < 0) fail(status, "the speed control refused a frame");
    auto arr = pcm_array(out.size());
    std::copy(out.begin(), out.end(), arr.mutable_data());
    return arr;
}

}  // namespace

PYBIND11_MODULE(_qrxc, m) {
    m.doc() = "Bindings of the qrxc C library; use the qrxc package.";
    m.attr("__version__") = QRXC_PY_VERSION;

    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const Codec_failure &e) {
            const py::object cls = py::module_::import("qrxc").attr("Error");
            const py::object exc = cls(e.text, e.code);
            PyErr_SetObject(cls.ptr(), exc.ptr());
        }
    });

    m.attr("HEADER_SHORT") = QRXC_HEADER_SHORT;
    m.attr("HEADER_LONG") = QRXC_HEADER_LONG;
    m.attr("SPEED_LEVELS") = QRMD_SPEED_LEVELS;
    m.attr("NORMAL_LEVEL") = QRMD_NORMAL_LEVEL;
    m.attr("EFFECT_MODE") = QRMD_EFFECT_MODE;
    m.attr("EFFECT_MASK") = QRMD_EFFECT_MASK;
    m.def("library_version", [] { return std::string(Qrxc_version_string()); });
    m.def("strerror", [](int code) { return std::string(Qrxc_strerror(code)); });
    m.def("type_info", &type_dict, py::arg("type"));
    m.def("decode_stream", &decode_stream, py::arg("stream"));
    m.def("scan_stream", &scan_stream, py::arg("stream"));
    m.def("encode_stream", &encode_stream, py::arg("pcm"), py::arg("type"), py::arg("sample_rate"),
          py::arg("long_header"));
    m.def("encode_g723", &encode_g723, py::arg("pcm"), py::arg("rate_kind"), py::arg("vad"));
    m.def("decode_g723", &decode_g723, py::arg("stream"));
    m.def("speed", &speed, py::arg("pcm"), py::arg("flags"), py::arg("frame"));

    py::class_<Decoder>(m, "Decoder")
        .def(py::init<const py::buffer &>(), py::arg("header"))
        .def("decode", &Decoder::decode, py::arg("data"))
        .def_property_readonly("header", &Decoder::header)
        .def_property_readonly("pending", &Decoder::pending);

    py::class_<Encoder>(m, "Encoder")
        .def(py::init<int, int, bool>(), py::arg("type"), py::arg("sample_rate"), py::arg("long_header"))
        .def("encode", &Encoder::encode, py::arg("pcm"))
        .def("flush", &Encoder::flush)
        .def_property_readonly("header_bytes", &Encoder::header_bytes)
        .def_property_readonly("header", &Encoder::header)
        .def_property_readonly("pending", &Encoder::pending);
}
