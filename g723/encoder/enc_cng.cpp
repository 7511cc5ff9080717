#include "g723/encoder/enc_cng.h"

#include <cstring>

#include "g723/common/basic_ops.h"
#include "g723/common/lsp.h"
#include "g723/encoder/lpc_analysis.h"
#include "g723/encoder/lpc_to_lsp.h"
#include "g723/encoder/lsp_quantize.h"

namespace qrxc::g723 {

namespace {

constexpr Word16 EMPTY_SHIFT = 40;      // the scale shift of a frame of zeros
constexpr Word16 SUM_HEADROOM = 14;     // two bits spare when four sums are added
constexpr Word16 GAIN_INDEX_SLACK = 3;  // index steps the level may drift before a new SID
constexpr Word16 DISTANCE_FRAC = 7000;  // Itakura distance threshold above 1, Q15
constexpr int ENERGY_FRAMES = 3;
constexpr Word16 GAIN_KEEP = Q15(0.875);
constexpr Word16 GAIN_STEP = Q15(0.125);

// Sums autocorrelations of different scales at the smallest scale and
// normalises the result to 16 bits; returns the sum's shift.
Word16 sum_acfs(Word16 out[ACF_LEN], const Word16 *acf, const Word16 *shift, int count) {
    Word16 sh = shift[0];
    for (int i = 1; i < count; ++i)
        if (shift[i] < sh) sh = shift[i];
    sh = add(sh, SUM_HEADROOM);
    Word32 sum[ACF_LEN] = {};
    for (int k = 0; k < count; ++k) {
        const Word16 t = sub(sh, shift[k]);
        for (int i = 0; i < ACF_LEN; ++i) sum[i] = L_add(sum[i], L_shl(L_deposit_l(acf[ACF_LEN * k + i]), t));
    }
    Word16 down = sub(16, norm_l(sum[0]));
    if (down < 0) down = 0;
    for (int i = 0; i < ACF_LEN; ++i) out[i] = extract_l(L_shr(sum[i], down));
    return sub(sh, down);
}

// The filter of the three frames before this one.
void past_average_filter(const Enc_cng_state &c, Word16 lpc[LPC_ORDER]) {
    Word16 r[ACF_LEN];
    sum_acfs(r, c.acf + ACF_LEN, c.acf_shift + 1, ACF_FRAMES - 1);
    Word16 k2 = 0;
    levinson_durbin(lpc, r + 1, r[0], k2);
}

// Autocorrelation of the filter's coefficients (with a = 1 in front), for
// the distance test.
void filter_acf(const Word16 lpc[LPC_ORDER], Word16 rc[ACF_LEN], Word16 &rc_shift) {
    Word32 acc = 0;
    for (int j = 0; j < LPC_ORDER; ++j) acc = L_mac(acc, lpc[j], lpc[j]);
    acc = L_add(L_shr(acc, 1), 0x04000000);
    // One bit for the doubled cross terms, one for the distance's sum.
    const Word16 sh = static_cast<Word16>(norm_l(acc) - 2);
    rc[0] = round(L_shl(acc, sh));
    for (int i = 1; i <= LPC_ORDER; ++i) {
        acc = L_mult(Q(13, -1.0), lpc[i - 1]);
        for (int j = 0; j < LPC_ORDER - i; ++j) acc = L_mac(acc, lpc[j], lpc[j + i]);
        rc[i] = round(L_shl(acc, sh));
    }
    rc_shift = sh;
}

// Whether the filter behind rc still models a signal with this
// autocorrelation and prediction error: the Itakura distance.
bool filter_fits(const Word16 rc[ACF_LEN], Word16 rc_shift, const Word16 acf[ACF_LEN], Word16 error) {
    Word32 dist = 0;
    for (int i = 0; i < ACF_LEN; ++i) dist = L_mac(dist, rc[i], shr(acf[i], 2));
    Word32 limit = L_add(Word32{mult_r(error, DISTANCE_FRAC)}, Word32{error});
    limit = L_shl(limit, add(rc_shift, 9));
    return dist <= limit;
}

}  // namespace

void enc_cng_reset(Enc_cng_state &c) {
    c = Enc_cng_state{};
    for (Word16 &s : c.acf_shift) s = EMPTY_SHIFT;
    c.past_active = 1;
    c.rand_seed = CNG_SEED;
}

void cng_store_acf(Enc_cng_state &c, const Word16 acf[SUBFRAMES * ACF_LEN], const Word16 shift[SUBFRAMES]) {
    std::memmove(c.acf + ACF_LEN, c.acf, sizeof(Word16) * ACF_LEN * (ACF_FRAMES - 1));
    std::memmove(c.acf_shift + 1, c.acf_shift, sizeof(Word16) * (ACF_FRAMES - 1));
    c.acf_shift[0] = sum_acfs(c.acf, acf, shift, SUBFRAMES);
}

int cng_encode(Enc_state &st, Enc_dtx_state &dtx, Word16 exc[FRAME_LEN], Word16 qnt_lpc[SUBFRAMES * LPC_ORDER],
               Cng_acb &acb, unsigned char out[4]) {
    Enc_cng_state &c = dtx.cng;
    c.energy[2] = c.energy[1];
    c.energy[1] = c.energy[0];
    Word16 cur_lpc[LPC_ORDER];
    Word16 k2 = 0;
    c.energy[0] = levinson_durbin(cur_lpc, c.acf + 1, c.acf[0], k2);

    // The first silent frame always sends a SID; later ones only when the
    // spectrum or the level moved away from what the last SID said.
    bool send = true;
    Word16 gain_index = 0;
    if (c.past_active != 0) {
        c.energy_count = 1;
        gain_index = sid_gain_quantize(c.energy, c.acf_shift, c.energy_count);
    } else {
        if (++c.energy_count > ENERGY_FRAMES) c.energy_count = ENERGY_FRAMES;
        gain_index = sid_gain_quantize(c.energy, c.acf_shift, c.energy_count);
        send = !filter_fits(c.rc, c.rc_shift, c.acf, c.energy[0]) ||
               abs_s(sub(gain_index, c.ref_gain_index)) > GAIN_INDEX_SLACK;
    }

    if (send) {
        // The average filter of the past frames while it still fits this
        // one, else this frame's own.
        past_average_filter(c, c.sid_lpc_q13);
        if (dtx.vad.adapt_hold == 0) std::memcpy(dtx.vad.noise_lpc_q13, c.sid_lpc_q13, sizeof c.sid_lpc_q13);
        filter_acf(c.sid_lpc_q13, c.rc, c.rc_shift);
        if (!filter_fits(c.rc, c.rc_shift, c.acf, c.energy[0])) {
            std::memcpy(c.sid_lpc_q13, cur_lpc, sizeof cur_lpc);
            filter_acf(cur_lpc, c.rc, c.rc_shift);
        }
        lpc_to_lsp(c.sid_lsp, c.sid_lpc_q13, st.prev_lsp);
        Sid_params sid{};
        sid.lsp_index = lsp_quantize(c.sid_lsp, st.prev_lsp);
        lsp_dequantize(c.sid_lsp, st.prev_lsp, sid.lsp_index, 0);
        sid.gain_index = gain_index;
        c.ref_gain_index = gain_index;
        c.sid_gain_q5 = sid_gain_decode(gain_index);
        sid_pack(sid, out);
    } else {
        out[0] = 3;  // untransmitted
    }

    if (c.past_active != 0)
        c.cur_gain_q5 = c.sid_gain_q5;
    else
        c.cur_gain_q5 = extract_h(L_add(L_mult(c.cur_gain_q5, GAIN_KEEP), L_mult(c.sid_gain_q5, GAIN_STEP)));
    acb = cng_excitation(c.cur_gain_q5, st.prev_exc, exc, c.rand_seed);

    lsp_interpolate(qnt_lpc, c.sid_lsp, st.prev_lsp);
    std::memcpy(st.prev_lsp, c.sid_lsp, sizeof c.sid_lsp);
    c.past_active = 0;
    return send ? 4 : 1;
}

}  // namespace qrxc::g723
