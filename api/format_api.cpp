// Library information and format queries: answered from the mode table and
// the frame layout, with no context and no state.
#include "codec/stream.h"
#include "g723/common/frame.h"

#define QRXC_STR2(x) #x
#define QRXC_STR(x) QRXC_STR2(x)

extern "C" {

QRXC_API const char *Qrxc_version_string(void) {
    return QRXC_STR(QRXC_VERSION_MAJOR) "." QRXC_STR(QRXC_VERSION_MINOR) "." QRXC_STR(QRXC_VERSION_PATCH);
}

QRXC_API const char *Qrxc_strerror(int code) {
    switch (code) {
    case QRXC_OK: return "success";
    case QRXC_ERR_ARG: return "bad argument, or no open stream";
    case QRXC_ERR_RATE: return "sample rate not 8000, 12000 or 16000 Hz";
    case QRXC_ERR_TYPE: return "no such stream type (0, 1, 2, 4, 5 or 6)";
    case QRXC_ERR_HEADER: return "not a valid QRX stream header";
    case QRXC_ERR_DIRECTION: return "the open stream codes the other way";
    case QRXC_ERR_BUFFER: return "buffer too small, or size out of range";
    case QRXC_ERR_NOT_OPEN: return "nothing open on the context for this call";
    default: return "unknown error";
    }
}

QRXC_API int Qrxc_header_length(const unsigned char *first4) {
    return first4 == nullptr ? QRXC_ERR_ARG : qrxc::header_length(first4);
}

QRXC_API int Qrxc_parse_header(const unsigned char *bytes, size_t len, G_header *out) {
    if (bytes == nullptr || out == nullptr) return QRXC_ERR_ARG;
    return qrxc::header_parse_bytes(bytes, len, *out);
}

QRXC_API int Qrxc_write_header(int sample_rate, int type, int form, unsigned char *hdr, G_header *out) {
    if (hdr == nullptr) return QRXC_ERR_ARG;
    return qrxc::header_write(sample_rate, type, form, hdr, out);
}

QRXC_API int Qrxc_type_info(int type, Qrxc_type_desc *out) {
    if (out == nullptr) return QRXC_ERR_ARG;
    const qrxc::Stream_mode *mode = type < 0 ? nullptr : qrxc::stream_mode(static_cast<unsigned>(type));
    if (mode == nullptr) return QRXC_ERR_TYPE;
    out->pcm_frame = mode->pcm_frame;
    out->frame_bytes = mode->frame_bytes;
    out->bit_rate = mode->frame_bytes * 8 * 8000 / mode->pcm_frame;
    out->coder = mode->coder;
    return QRXC_OK;
}

QRXC_API int Qrxc_frame_concealed(int type, const unsigned char *frame) {
    if (frame == nullptr) return QRXC_ERR_ARG;
    const qrxc::Stream_mode *mode = type < 0 ? nullptr : qrxc::stream_mode(static_cast<unsigned>(type));
    if (mode == nullptr) return QRXC_ERR_TYPE;
    // ADPCM has no forbidden codes; a G.723.1 frame is concealed exactly
    // when its unpacking marks it bad.
    if (mode->adpcm_bits != 0) return 0;
    return qrxc::g723::frame_unpack(frame, mode->rate_select, 0).bad_frame != 0 ? 1 : 0;
}

}  // extern "C"
