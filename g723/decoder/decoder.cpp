#include "g723/decoder/decoder.h"

#include <cstdint>
#include <cstring>

#include "g723/common/basic_ops.h"
#include "g723/common/excitation.h"
#include "g723/common/fast_ops.h"
#include "g723/common/frame.h"
#include "g723/common/lsp.h"
#include "g723/common/tables.h"
#include "g723/common/x86/dispatch.h"
#include "g723/decoder/dec_cng.h"
#include "g723/decoder/lpc_synth.h"
#include "g723/decoder/postfilter.h"

namespace qrxc::g723 {

namespace {
constexpr Word16 THREE_QUARTERS = Q15(0.75);
constexpr int ERASE_SPAN = 120;                        // samples compared to find the voicing lag
constexpr int ERASE_START = EXC_BUF_LEN - ERASE_SPAN;  // 265
}  // namespace

void g723_decoder_reset(Dec_state &st) {
    st = Dec_state{};
    std::memcpy(st.prev_lsp, LspDcTable, sizeof st.prev_lsp);
    st.agc_gain_q12 = Q(12, 1.0);
    cng_reset(st.cng);
}

namespace {

template <Kernel_set K>
QRXC_KERNEL_BODY Word16 erasure_info_body(Word16 buf[EXC_BUF_LEN], Word16 lag, Word16 *energy, Word16 *shift) {
    const Word16 sh = vector_normalize(buf, EXC_BUF_LEN);
    const int c = lag < 142 ? lag : 142;
    int b = c;
    Word32 best = 0;
    const Word16 *x = buf + ERASE_START;
    // 2 |x y| <= x^2 + y^2: when the two energies together fit, no partial
    // sum of the correlation can saturate. The buffer is normalised, so the
    // 32-bit sums of squares hold.
    const std::int64_t sx = sum_squares_small(x, ERASE_SPAN);
    std::int64_t sb = sx;
    for (int i = c - 3; i <= c + 3; ++i) {
        const std::int64_t sy = sum_squares_small(x - i, ERASE_SPAN);
        const bool plain = sx + sy <= MAX_32;
        const Word32 r = plain ? L_mac_n_nosat(x, x - i, ERASE_SPAN) : L_mac_n(0, x, x - i, ERASE_SPAN);
        if (r > best) {
            best = r;
            b = i;
            sb = sy;
        }
    }
    if (b == c) sb = sum_squares_small(x - c, ERASE_SPAN);
    const Word16 tr = round(energy_from_exact(sx));
    const Word16 er = round(energy_from_exact(sb));
    const Word16 cr = round(best);
    if (energy != nullptr) *energy = tr;
    if (shift != nullptr) *shift = sh;
    if (cr <= 0) return 0;
    // Voiced when the prediction gain over the last 120 samples exceeds
    // about an eighth.
    Word32 a = (Word32{er} * tr) >> 2;
    a = L_msu(a, cr, cr);
    return a < 0 ? static_cast<Word16>(b) : Word16{0};
}

QRXC_AVX2_TWIN(Word16, erasure_info, erasure_info_body,
               (Word16 buf[EXC_BUF_LEN], Word16 lag, Word16 *energy, Word16 *shift), (buf, lag, energy, shift))

}  // namespace

Word16 erasure_info(Word16 buf[EXC_BUF_LEN], Word16 lag, Word16 *energy, Word16 *shift) {
    QRXC_DISPATCH(erasure_info, erasure_info_body, buf, lag, energy, shift)
}

void erasure_regen(Word16 out[FRAME_LEN], Word16 buf[EXC_BUF_LEN], Word16 lag, Word16 gain, Word16 count,
                   Word16 &seed) {
    if (count >= ERASE_MAX) {
        std::memset(out, 0, sizeof(Word16) * FRAME_LEN);
        std::memset(buf, 0, sizeof(Word16) * EXC_BUF_LEN);
        return;
    }
    if (lag > 0) {
        // Period-lag repetition of the history, fading by a quarter.
        for (int n = 0; n < FRAME_LEN; ++n) buf[ACB_LAG_MAX + n] = buf[ACB_LAG_MAX - lag + n];
        for (int n = 0; n < FRAME_LEN; ++n) {
            buf[ACB_LAG_MAX + n] = mult(buf[ACB_LAG_MAX + n], THREE_QUARTERS);
            out[n] = buf[ACB_LAG_MAX + n];
        }
        return;
    }
    for (int n = 0; n < FRAME_LEN; ++n) out[n] = mult(gain, rand16(seed));
    std::memset(buf, 0, sizeof(Word16) * EXC_BUF_LEN);
}

Word16 g723_decode_frame(Dec_state &st, int rate_select, Word16 pcm_out[FRAME_LEN], const unsigned char *frame,
                         Word16 erased) {
    const Frame_params p = frame_unpack(frame, rate_select, erased);

    if (p.bad_frame != 0) {
        st.erase_count = add(st.erase_count, 1);
        if (st.erase_count > ERASE_MAX) st.erase_count = ERASE_MAX;
    } else {
        st.erase_count = 0;
    }

    Word16 lsp[LPC_ORDER];
    Word16 lpc[SUBFRAMES * LPC_ORDER];
    lsp_dequantize(lsp, st.prev_lsp, p.lsp_index, p.bad_frame);
    lsp_interpolate(lpc, lsp, st.prev_lsp);
    std::memcpy(st.prev_lsp, lsp, sizeof lsp);

    if (st.erase_count == 0)
        st.interp_gain = FcbkGainTable[add(p.sub[2].fcb_gain, p.sub[3].fcb_gain) >> 1];
    else
        st.interp_gain = mult_r(st.interp_gain, THREE_QUARTERS);

    // The frame part starts cleared: a rate the fixed codebook does not know
    // leaves its contribution zero rather than undefined.
    Word16 buf[EXC_BUF_LEN] = {};
    std::memcpy(buf, st.prev_exc, sizeof st.prev_exc);

    if (st.erase_count == 0) {
        for (int s = 0; s < SUBFRAMES; ++s) {
            Word16 *d = buf + ACB_LAG_MAX + SUBFRAME_LEN * s;
            Word16 a[SUBFRAME_LEN];
            const Word16 ol = p.ol_lag[s / 2];
            fcb_decode(d, p.sub[s], ol, static_cast<Word16>(s), rate_select);
            acb_excitation(a, buf + SUBFRAME_LEN * s, ol, p.sub[s].lag_offset, p.sub[s].acb_gain, rate_select);
            for (int n = 0; n < SUBFRAME_LEN; ++n) d[n] = add(shl(d[n], 1), a[n]);
        }
        std::memcpy(pcm_out, buf + ACB_LAG_MAX, sizeof(Word16) * FRAME_LEN);

        // The lag search and the postfilter parameters work on a normalised
        // copy; the filter itself runs on the original excitation.
        st.interp_lag = erasure_info(buf, p.ol_lag[1], &st.cng.sid_gain_q5, &st.cng.cur_gain_q5);
        Pf_params pf[SUBFRAMES];
        for (int s = 0; s < SUBFRAMES; ++s) pf[s] = pitch_pf_params(buf, p.ol_lag[s / 2], s, rate_select);
        std::memcpy(buf, st.prev_exc, sizeof st.prev_exc);
        std::memcpy(buf + ACB_LAG_MAX, pcm_out, sizeof(Word16) * FRAME_LEN);
        for (int s = 0; s < SUBFRAMES; ++s) pitch_pf_filter(pcm_out, buf, pf[s], s);
        std::memcpy(st.cng.sid_lsp, st.prev_lsp, sizeof st.prev_lsp);
    } else {
        erasure_regen(pcm_out, buf, st.interp_lag, st.interp_gain, st.erase_count, st.rand_seed);
    }
    std::memcpy(st.prev_exc, buf + FRAME_LEN, sizeof st.prev_exc);
    cng_after_speech(st.cng);

    for (int s = 0; s < SUBFRAMES; ++s) {
        Word16 *x = pcm_out + SUBFRAME_LEN * s;
        const Word16 *l = lpc + LPC_ORDER * s;
        lpc_synth(st, x, l);
        const Word32 e = formant_pf(st, x, l);
        gain_scale(st, x, e);
    }
    return 1;
}

}  // namespace qrxc::g723
