#include "g723/common/frame.h"

#include <cstring>

#include "g723/common/excitation.h"
#include "g723/common/frame_layout.h"

namespace qrxc::g723 {

namespace {

using namespace layout;

static_assert(layout_bits(OURS_63) == 8 * FRAME_BYTES_63 && layout_bits(OURS_53) == 8 * FRAME_BYTES_53);

constexpr unsigned LAG_CODE_MAX = 123;  // lag codes 124..255 are forbidden: the frame is concealed
constexpr unsigned GAIN_VECTORS = 170;  // adaptive-codebook gain table, or its first 85 for short lags at 6.3

constexpr Field GAIN[SUBFRAMES] = {G0, G1, G2, G3};
constexpr Field GRID[SUBFRAMES] = {GRID0, GRID1, GRID2, GRID3};
constexpr Field POS[SUBFRAMES] = {POS0, POS1, POS2, POS3};
constexpr Field SIGNS[SUBFRAMES] = {PSIG0, PSIG1, PSIG2, PSIG3};

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

// Each value cut to the width of its slot, so that the table's writer (which
// saturates) packs exactly the low bits.
template <std::size_t N>
void fit_to(const Slot (&slots)[N], Values &v) {
    for (const Slot &s : slots) v[s.field] &= (1u << s.width) - 1;
}

}  // namespace

void frame_pack(const Frame_params &p, int rate_select, unsigned char out[24]) {
    std::memset(out, 0, 24);
    Values v{};
    v[LSP] = static_cast<unsigned>(p.lsp_index);
    v[LAG0] = static_cast<unsigned>(p.ol_lag[0] - ACB_LAG_MIN);
    v[LAG1] = static_cast<unsigned>(p.ol_lag[1] - ACB_LAG_MIN);
    v[ACL1] = static_cast<unsigned>(p.sub[1].lag_offset);
    v[ACL3] = static_cast<unsigned>(p.sub[3].lag_offset);
    for (int i = 0; i < SUBFRAMES; ++i) {
        v[GAIN[i]] = gain_code(p.sub[i], rate_select);
        v[GRID[i]] = static_cast<unsigned>(p.sub[i].grid);
        v[SIGNS[i]] = static_cast<unsigned>(p.sub[i].pulse_signs);
        v[POS[i]] = static_cast<unsigned>(p.sub[i].pulse_pos);
    }
    if (rate_select == RATE_63) {
        unsigned hi[SUBFRAMES];
        for (int i = 0; i < SUBFRAMES; ++i) hi[i] = static_cast<unsigned>(p.sub[i].pulse_pos) >> pos_low_bits(i);
        v[MSBPOS] = hi[0] * 810 + hi[1] * 90 + hi[2] * 9 + hi[3];
        fit_to(OURS_63, v);
        write_fields<OURS_63>(v, out);
    } else {
        fit_to(OURS_53, v);
        write_fields<OURS_53>(v, out);
    }
}

Frame_params frame_unpack(const unsigned char *b, int rate_select, Word16 erased) {
    Frame_params p{};
    if (erased != 0) {
        p.bad_frame = erased;
        return p;
    }
    Values v;  // read_fields fills every field the layout has
    if (rate_select == RATE_63)
        read_fields<OURS_63>(b, v);
    else
        read_fields<OURS_53>(b, v);
    p.lsp_index = static_cast<Word32>(v[LSP]);
    if (v[LAG0] > LAG_CODE_MAX || v[LAG1] > LAG_CODE_MAX) {
        if (v[LAG0] <= LAG_CODE_MAX) p.ol_lag[0] = static_cast<Word16>(v[LAG0] + ACB_LAG_MIN);
        p.bad_frame = 1;
        return p;
    }
    p.ol_lag[0] = static_cast<Word16>(v[LAG0] + ACB_LAG_MIN);
    p.ol_lag[1] = static_cast<Word16>(v[LAG1] + ACB_LAG_MIN);
    p.sub[0].lag_offset = 1;
    p.sub[1].lag_offset = static_cast<Word16>(v[ACL1]);
    p.sub[2].lag_offset = 1;
    p.sub[3].lag_offset = static_cast<Word16>(v[ACL3]);

    for (int i = 0; i < SUBFRAMES; ++i) {
        unsigned code = v[GAIN[i]];
        unsigned bound = GAIN_VECTORS;
        Subframe_params &s = p.sub[i];
        s.train = 0;
        // Short lags at 6.3 kbit/s use the 85-vector table and free bit 11
        // for the pulse-train flag.
        if (rate_select == RATE_63 && p.ol_lag[i / 2] < SHORT_LAG) {
            s.train = static_cast<Word16>(code >> 11);
            code &= 0x7ff;
            bound = GAIN_VECTORS / 2;
        }
        if (code / GAIN_LEVELS >= bound) {
            p.bad_frame = 1;
            return p;
        }
        s.acb_gain = static_cast<Word16>(code / GAIN_LEVELS);
        s.fcb_gain = static_cast<Word16>(code % GAIN_LEVELS);
    }
    for (int i = 0; i < SUBFRAMES; ++i) {
        p.sub[i].grid = static_cast<Word16>(v[GRID[i]]);
        p.sub[i].pulse_signs = static_cast<Word16>(v[SIGNS[i]]);
    }
    if (rate_select == RATE_63) {
        // T has no range test: above 8099 the first high part is 10, which
        // the fixed-codebook decoder treats like any position out of range.
        const unsigned t = v[MSBPOS];
        const unsigned h[SUBFRAMES] = {t / 810, (t / 90) % 9, (t % 90) / 9, (t % 90) % 9};
        for (int i = 0; i < SUBFRAMES; ++i)
            p.sub[i].pulse_pos = static_cast<Word32>((h[i] << pos_low_bits(i)) + v[POS[i]]);
    } else {
        for (int i = 0; i < SUBFRAMES; ++i) p.sub[i].pulse_pos = static_cast<Word32>(v[POS[i]]);
    }
    return p;
}

}  // namespace qrxc::g723
