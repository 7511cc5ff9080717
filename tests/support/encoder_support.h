// Helpers shared by the encoder tests: file loading and whole-stream
// encoding through the internal path and through the public API.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "codec/context.h"
#include "codec/g723_path.h"
#include "common_support.h"
#include "qrxc.h"

namespace qrxc::test::encoder {

using qrxc::test::read_bytes;

inline std::vector<short> read_pcm(const std::string &path) {
    const std::vector<unsigned char> b = read_bytes(path);
    std::vector<short> s(b.size() / 2);
    for (std::size_t i = 0; i < s.size(); i++)
        s[i] = static_cast<short>(static_cast<std::uint16_t>(b[2 * i] | (b[2 * i + 1] << 8)));
    return s;
}

// The frame sizes of a type, as the library gives them.
inline int pcm_frame_of(int type) {
    Qrxc_type_desc d{};
    Qrxc_type_info(type, &d);
    return d.pcm_frame;
}
inline int g723_bytes_of(int type) {
    Qrxc_type_desc d{};
    Qrxc_type_info(type, &d);
    return d.frame_bytes;
}

// The G.723.1 path on a context whose stream fields are set by hand, so the
// encoder is tested without the stream API. Returns the frames only.
inline std::vector<unsigned char> encode_internal(Qrxc_context &ctx, const std::vector<short> &pcm, int type) {
    ctx.stream.direction = 1;
    ctx.stream.header.type = static_cast<std::uint16_t>(type);
    ctx.stream.header.pcm_frame = static_cast<std::uint16_t>(pcm_frame_of(type));
    ctx.stream.header.frame_bytes = static_cast<std::uint16_t>(g723_bytes_of(type));
    ctx.stream.rate_select = type == 2 ? 0 : 1;
    ctx.stream.resample = type == 0 ? 1 : 0;
    qrxc::g723_encode_setup(ctx);
    const std::size_t n = static_cast<std::size_t>(pcm_frame_of(type));
    const std::size_t nb = static_cast<std::size_t>(g723_bytes_of(type));
    std::vector<unsigned char> out;
    std::vector<unsigned char> frame(nb);
    for (std::size_t pos = 0; pos + n <= pcm.size(); pos += n) {
        qrxc::frame_g723_encode(ctx, &pcm[pos], frame.data());
        out.insert(out.end(), frame.begin(), frame.end());
    }
    return out;
}

using Ctx_ptr = qrxc::test::Ctx;

// Header and frames through Qrxc_initial_ctx / Qrxc_frame_ctx; a partial
// last frame is zero-padded. Empty on a refused open.
inline std::vector<unsigned char> encode_api(Qrxc_context *ctx, std::vector<short> pcm, int type, int rate = 8000) {
    G_header h{};
    unsigned char hdr[QRXC_HEADER_MAX];
    const int hl = Qrxc_initial_ctx(ctx, QRXC_ENCODE, rate, type, &h, hdr);
    if (hl < 0) return {};
    std::vector<unsigned char> out(hdr, hdr + hl);
    const std::size_t n = h.pcm_frame;
    pcm.resize((pcm.size() + n - 1) / n * n, 0);
    std::vector<unsigned char> frame(h.frame_bytes);
    for (std::size_t pos = 0; pos < pcm.size(); pos += n) {
        if (Qrxc_frame_ctx(ctx, &pcm[pos], frame.data()) < 0) return {};
        out.insert(out.end(), frame.begin(), frame.end());
    }
    return out;
}

// Decodes a whole stream through the public API; empty on a refused header.
inline std::vector<short> decode_api(Qrxc_context *ctx, const std::vector<unsigned char> &stream) {
    if (stream.size() < 16) return {};
    G_header h{};
    unsigned char hdr[16];
    std::copy(stream.begin(), stream.begin() + 16, hdr);
    const int hl = Qrxc_initial_ctx(ctx, QRXC_DECODE, 0, 0, &h, hdr);
    if (hl < 0) return {};
    std::vector<short> out;
    std::vector<short> pcm(h.pcm_frame);
    std::vector<unsigned char> frame(h.frame_bytes);
    for (std::size_t pos = static_cast<std::size_t>(hl); pos + h.frame_bytes <= stream.size(); pos += h.frame_bytes) {
        std::copy(stream.begin() + static_cast<std::ptrdiff_t>(pos),
                  stream.begin() + static_cast<std::ptrdiff_t>(pos + h.frame_bytes), frame.begin());
        if (Qrxc_frame_ctx(ctx, pcm.data(), frame.data()) < 0) return {};
        out.insert(out.end(), pcm.begin(), pcm.end());
    }
    return out;
}

}  // namespace qrxc::test::encoder
