// The encoder's reset and frame driver. Every step depends on state left by
// the ones before it, so the order here is fixed.
#include "g723/encoder/encoder.h"

#include "g723/common/basic_ops.h"
#include "g723/common/excitation.h"
#include "g723/common/lsp.h"
#include "g723/common/tables.h"
#include "g723/encoder/acb_search.h"
#include "g723/encoder/enc_cng.h"
#include "g723/encoder/fcb_search.h"
#include "g723/encoder/hp_filter.h"
#include "g723/encoder/lpc_analysis.h"
#include "g723/encoder/lpc_to_lsp.h"
#include "g723/encoder/lsp_quantize.h"
#include "g723/encoder/noise_shaping.h"
#include "g723/encoder/open_loop_pitch.h"
#include "g723/encoder/taming.h"
#include "g723/encoder/vad.h"
#include "g723/encoder/weighted_synthesis.h"
#include "g723/encoder/weighting_filter.h"

namespace qrxc::g723 {

namespace {
constexpr Word32 TAMING_START = 4;

// A frame of silence: comfort noise in place of the excitation search, with
// the filter memories moved on exactly as for speech.
int enc_silent_frame(Enc_state &st, Enc_dtx_state &dtx, int rate_select, Word16 frame[FRAME_LEN],
                     const Word16 per_lpc[SUBFRAMES * 2 * LPC_ORDER], unsigned char out[FRAME_BYTES_63]) {
    for (int i = 0; i < ACB_LAG_MAX; i++) st.prev_wgt[i] = frame[FRAME_LEN - ACB_LAG_MAX + i];
    Word16 qnt_lpc[SUBFRAMES * LPC_ORDER];
    Cng_acb acb{};
    const int bytes = cng_encode(st, dtx, frame, qnt_lpc, acb, out);
    for (int i = 0; i < SUBFRAMES; i++) {
        taming_update(st, rate_select, acb.ol_lag[i / 2], acb.lag_offset[i], acb.acb_gain[i]);
        update_ringing(st, &frame[SUBFRAME_LEN * i], &qnt_lpc[LPC_ORDER * i], &per_lpc[2 * LPC_ORDER * i]);
    }
    return bytes == 4 ? 2 : 3;
}
}  // namespace

void enc_reset(Enc_state &st) {
    st = Enc_state{};
    for (int k = 0; k < LPC_ORDER; k++) st.prev_lsp[k] = LspDcTable[k];
    for (Word32 &e : st.taming_err) e = TAMING_START;
}

void enc_dtx_reset(Enc_dtx_state &dtx) {
    vad_reset(dtx.vad);
    enc_cng_reset(dtx.cng);
}

void lookahead_shift(Word16 hist[LPC_HIST], Word16 frame[FRAME_LEN]) {
    Word16 t[LPC_HIST + FRAME_LEN];
    for (int i = 0; i < LPC_HIST; i++) t[i] = hist[i];
    for (int i = 0; i < FRAME_LEN; i++) t[LPC_HIST + i] = frame[i];
    for (int i = 0; i < LPC_HIST; i++) hist[i] = t[FRAME_LEN + i];
    for (int i = 0; i < FRAME_LEN; i++) frame[i] = t[SUBFRAME_LEN + i];
}

int enc_frame(Enc_state &st, int rate_select, Word16 &acelp_budget, Word16 frame[FRAME_LEN],
              unsigned char out[FRAME_BYTES_63], Enc_dtx_state *dtx) {
    Frame_params rec{};
    rec.bad_frame = 0;

    hp_filter(st, frame);

    Word16 unq_lpc[SUBFRAMES * LPC_ORDER];
    bool active = true;
    if (dtx == nullptr) {
        lpc_analysis(st, unq_lpc, frame);
    } else {
        Word16 acf[SUBFRAMES * ACF_LEN], acf_shift[SUBFRAMES];
        lpc_analysis(st, unq_lpc, frame, acf, acf_shift);
        cng_store_acf(dtx->cng, acf, acf_shift);
    }

    Word16 lsp[LPC_ORDER];
    lpc_to_lsp(lsp, &unq_lpc[LPC_ORDER * (SUBFRAMES - 1)], st.prev_lsp);
    if (dtx != nullptr) active = vad_frame(dtx->vad, st, frame);
    rec.lsp_index = lsp_quantize(lsp, st.prev_lsp);

    // From here on the frame is the filtered signal delayed by one subframe.
    lookahead_shift(st.prev_dat, frame);

    Word16 per_lpc[SUBFRAMES * 2 * LPC_ORDER];
    weight_coeffs(per_lpc, unq_lpc);
    weight_filter(st, frame, per_lpc);

    Word16 buf[PITCH_BUF_LEN];
    for (int i = 0; i < ACB_LAG_MAX; i++) buf[i] = st.prev_wgt[i];
    for (int i = 0; i < FRAME_LEN; i++) buf[ACB_LAG_MAX + i] = frame[i];
    vector_normalize(buf, PITCH_BUF_LEN);

    rec.ol_lag[0] = open_loop_pitch(buf, ACB_LAG_MAX);
    rec.ol_lag[1] = open_loop_pitch(buf, ACB_LAG_MAX + 2 * SUBFRAME_LEN);
    if (dtx != nullptr) {
        vad_store_lags(dtx->vad, rec.ol_lag);
        if (!active) return enc_silent_frame(st, *dtx, rate_select, frame, per_lpc, out);
        enc_cng_after_speech(dtx->cng);
    }

    Hns_params hns[SUBFRAMES];
    for (int i = 0; i < SUBFRAMES; i++) hns[i] = hns_search(buf, ACB_LAG_MAX + SUBFRAME_LEN * i, rec.ol_lag[i / 2]);

    // The shaping filter runs on the unnormalised weighted speech.
    for (int i = 0; i < ACB_LAG_MAX; i++) buf[i] = st.prev_wgt[i];
    for (int i = 0; i < FRAME_LEN; i++) buf[ACB_LAG_MAX + i] = frame[i];
    for (int i = 0; i < ACB_LAG_MAX; i++) st.prev_wgt[i] = buf[FRAME_LEN + i];
    hns_filter(frame, buf, hns);

    // The quantised vector exactly as the decoder rebuilds it.
    lsp_dequantize(lsp, st.prev_lsp, rec.lsp_index, 0);
    Word16 qnt_lpc[SUBFRAMES * LPC_ORDER];
    lsp_interpolate(qnt_lpc, lsp, st.prev_lsp);
    for (int k = 0; k < LPC_ORDER; k++) st.prev_lsp[k] = lsp[k];

    Word16 imp[SUBFRAME_LEN];
    for (int i = 0; i < SUBFRAMES; i++) {
        Word16 *t = &frame[SUBFRAME_LEN * i];
        const Word16 *q = &qnt_lpc[LPC_ORDER * i];
        const Word16 *p = &per_lpc[2 * LPC_ORDER * i];
        const auto s = static_cast<Word16>(i);

        impulse_response(imp, q, p, hns[i]);
        subtract_ringing(st, t, q, p, hns[i]);
        acb_search(st, rate_select, t, imp, rec, s);
        fcb_search(rate_select, acelp_budget, t, imp, rec, s);

        const Subframe_params &sub_p = rec.sub[i];
        acb_excitation(imp, st.prev_exc, rec.ol_lag[i / 2], sub_p.lag_offset, sub_p.acb_gain, rate_select);
        for (int j = 0; j < ACB_LAG_MAX - SUBFRAME_LEN; j++) st.prev_exc[j] = st.prev_exc[j + SUBFRAME_LEN];
        // Doubling the fixed part saturates on its own before the adaptive
        // part is added.
        for (int j = 0; j < SUBFRAME_LEN; j++) {
            t[j] = add(shl(t[j], 1), imp[j]);
            st.prev_exc[ACB_LAG_MAX - SUBFRAME_LEN + j] = t[j];
        }
        taming_update(st, rate_select, rec.ol_lag[i / 2], sub_p.lag_offset, sub_p.acb_gain);
        update_ringing(st, t, q, p);
    }

    frame_pack(rec, rate_select, out);
    return rate_select;
}

}  // namespace qrxc::g723
