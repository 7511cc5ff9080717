#include "g723/common/frame.h"

#include <cstring>

#include "g723/common/excitation.h"

namespace qrxc::g723 {

namespace {

using u8 = unsigned char;

constexpr u8 lo8(unsigned v) { return static_cast<u8>(v & 0xff); }

// Gain code of a subframe: acb index * GAIN_LEVELS + fcb index, the train flag in bit
// 11 at 6.3 kbit/s.
unsigned gain_code(const Subframe_params &s, int rate_select) {
    unsigned g = static_cast<unsigned>(s.acb_gain) * GAIN_LEVELS + static_cast<unsigned>(s.fcb_gain);
    if (rate_select == RATE_63) g += static_cast<unsigned>(s.train) << 11;
    return g & 0xfff;
}

// Position code of a 6.3 kbit/s subframe: low bits in the frame body, the
// high part folded into the combined code T.
constexpr int pos_low_bits(int s) { return (s & 1) ? 14 : 16; }

}  // namespace

void frame_pack(const Frame_params &p, int rate_select, unsigned char out[24]) {
    std::memset(out, 0, 24);
    const auto idx = static_cast<unsigned>(p.lsp_index);
    out[0] = lo8(idx);
    out[1] = lo8(idx >> 8);
    out[2] = lo8(idx >> 16);
    out[3] = lo8(static_cast<unsigned>(p.ol_lag[0] - ACB_LAG_MIN));
    out[4] = lo8(static_cast<unsigned>(p.ol_lag[1] - ACB_LAG_MIN));

    unsigned g[SUBFRAMES];
    for (int i = 0; i < SUBFRAMES; ++i) g[i] = gain_code(p.sub[i], rate_select);
    out[5] = lo8((static_cast<unsigned>(p.sub[1].lag_offset) & 3) |
                 ((static_cast<unsigned>(p.sub[3].lag_offset) & 3) << 2) | ((g[0] & 0xf) << 4));
    out[6] = lo8(g[0] >> 4);
    out[7] = lo8(g[1]);
    out[8] = lo8((g[1] >> 8) | ((g[2] & 0xf) << 4));
    out[9] = lo8(g[2] >> 4);
    out[10] = lo8(g[3]);
    unsigned grids = 0;
    for (int i = 0; i < SUBFRAMES; ++i) grids |= (static_cast<unsigned>(p.sub[i].grid) & 1) << (4 + i);
    out[11] = lo8((g[3] >> 8) | grids);

    if (rate_select == RATE_63) {
        unsigned pl[SUBFRAMES], hi[SUBFRAMES];
        for (int i = 0; i < SUBFRAMES; ++i) {
            const auto pos = static_cast<unsigned>(p.sub[i].pulse_pos);
            pl[i] = pos & ((1u << pos_low_bits(i)) - 1);
            hi[i] = pos >> pos_low_bits(i);
        }
        const unsigned t = (hi[0] * 810 + hi[1] * 90 + hi[2] * 9 + hi[3]) & 0x1fff;
        unsigned sg[SUBFRAMES];
        for (int i = 0; i < SUBFRAMES; ++i) sg[i] = static_cast<unsigned>(p.sub[i].pulse_signs);
        out[12] = lo8(t << 1);
        out[13] = lo8((t >> 7) | (pl[0] << 6));
        out[14] = lo8(pl[0] >> 2);
        out[15] = lo8((pl[0] >> 10) | (pl[1] << 6));
        out[16] = lo8(pl[1] >> 2);
        out[17] = lo8((pl[1] >> 10) | (pl[2] << 4));
        out[18] = lo8(pl[2] >> 4);
        out[19] = lo8((pl[2] >> 12) | (pl[3] << 4));
        out[20] = lo8(pl[3] >> 4);
        out[21] = lo8((pl[3] >> 12) | ((sg[0] & 0x3f) << 2));
        out[22] = lo8((sg[1] & 0x1f) | (sg[2] << 5));
        out[23] = lo8(((sg[2] >> 3) & 7) | ((sg[3] & 0x1f) << 3));
    } else {
        unsigned q[SUBFRAMES], sg[SUBFRAMES];
        for (int i = 0; i < SUBFRAMES; ++i) {
            q[i] = static_cast<unsigned>(p.sub[i].pulse_pos) & 0xfff;
            sg[i] = static_cast<unsigned>(p.sub[i].pulse_signs) & 0xf;
        }
        out[12] = lo8(sg[0] | (sg[1] << 4));
        out[13] = lo8(sg[2] | (sg[3] << 4));
        out[14] = lo8(q[0]);
        out[15] = lo8((q[0] >> 8) | (q[1] << 4));
        out[16] = lo8(q[1] >> 4);
        out[17] = lo8(q[2]);
        out[18] = lo8((q[2] >> 8) | (q[3] << 4));
        out[19] = lo8(q[3] >> 4);
    }
}

Frame_params frame_unpack(const unsigned char *b, int rate_select, Word16 erased) {
    Frame_params p{};
    if (erased != 0) {
        p.bad_frame = erased;
        return p;
    }
    p.lsp_index = static_cast<Word32>(b[0] | (b[1] << 8) | (b[2] << 16));
    if (b[3] > 123 || b[4] > 123) {
        if (b[3] <= 123) p.ol_lag[0] = static_cast<Word16>(b[3] + ACB_LAG_MIN);
        p.bad_frame = 1;
        return p;
    }
    p.ol_lag[0] = static_cast<Word16>(b[3] + ACB_LAG_MIN);
    p.ol_lag[1] = static_cast<Word16>(b[4] + ACB_LAG_MIN);
    p.sub[0].lag_offset = 1;
    p.sub[1].lag_offset = static_cast<Word16>(b[5] & 3);
    p.sub[2].lag_offset = 1;
    p.sub[3].lag_offset = static_cast<Word16>((b[5] >> 2) & 3);

    const unsigned g[SUBFRAMES] = {
        static_cast<unsigned>((b[5] >> 4) | (b[6] << 4)),
        static_cast<unsigned>(b[7] | ((b[8] & 0xf) << 8)),
        static_cast<unsigned>((b[8] >> 4) | (b[9] << 4)),
        static_cast<unsigned>(b[10] | ((b[11] & 0xf) << 8)),
    };
    for (int i = 0; i < SUBFRAMES; ++i) {
        unsigned code = g[i];
        unsigned bound = 170;
        Subframe_params &s = p.sub[i];
        s.train = 0;
        // Short lags at 6.3 kbit/s use the 85-vector table and free bit 11
        // for the pulse-train flag.
        if (rate_select == RATE_63 && p.ol_lag[i / 2] < SHORT_LAG) {
            s.train = static_cast<Word16>(code >> 11);
            code &= 0x7ff;
            bound = 85;
        }
        if (code / GAIN_LEVELS >= bound) {
            p.bad_frame = 1;
            return p;
        }
        s.acb_gain = static_cast<Word16>(code / GAIN_LEVELS);
        s.fcb_gain = static_cast<Word16>(code % GAIN_LEVELS);
    }
    for (int i = 0; i < SUBFRAMES; ++i) p.sub[i].grid = static_cast<Word16>((b[11] >> (4 + i)) & 1);

    if (rate_select == RATE_63) {
        const unsigned t = static_cast<unsigned>((b[12] >> 1) + (b[13] & 0x3f) * 128);
        const unsigned h[SUBFRAMES] = {t / 810, (t / 90) % 9, (t % 90) / 9, (t % 90) % 9};
        const unsigned pl[SUBFRAMES] = {
            static_cast<unsigned>((b[13] >> 6) | (b[14] << 2) | ((b[15] & 0x3f) << 10)),
            static_cast<unsigned>((b[15] >> 6) | (b[16] << 2) | ((b[17] & 0xf) << 10)),
            static_cast<unsigned>((b[17] >> 4) | (b[18] << 4) | ((b[19] & 0xf) << 12)),
            static_cast<unsigned>((b[19] >> 4) | (b[20] << 4) | ((b[21] & 3) << 12)),
        };
        for (int i = 0; i < SUBFRAMES; ++i) p.sub[i].pulse_pos = static_cast<Word32>((h[i] << pos_low_bits(i)) + pl[i]);
        p.sub[0].pulse_signs = static_cast<Word16>(b[21] >> 2);
        p.sub[1].pulse_signs = static_cast<Word16>(b[22] & 0x1f);
        p.sub[2].pulse_signs = static_cast<Word16>((b[22] >> 5) | ((b[23] & 7) << 3));
        p.sub[3].pulse_signs = static_cast<Word16>(b[23] >> 3);
    } else {
        p.sub[0].pulse_signs = static_cast<Word16>(b[12] & 0xf);
        p.sub[1].pulse_signs = static_cast<Word16>(b[12] >> 4);
        p.sub[2].pulse_signs = static_cast<Word16>(b[13] & 0xf);
        p.sub[3].pulse_signs = static_cast<Word16>(b[13] >> 4);
        p.sub[0].pulse_pos = static_cast<Word32>(b[14] | ((b[15] & 0xf) << 8));
        p.sub[1].pulse_pos = static_cast<Word32>((b[15] >> 4) | (b[16] << 4));
        p.sub[2].pulse_pos = static_cast<Word32>(b[17] | ((b[18] & 0xf) << 8));
        p.sub[3].pulse_pos = static_cast<Word32>((b[18] >> 4) | (b[19] << 4));
    }
    return p;
}

}  // namespace qrxc::g723
