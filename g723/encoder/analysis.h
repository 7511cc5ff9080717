// The encoder's analysis stages and its frame driver: input filtering, LPC
// analysis, LSP quantisation, perceptual weighting, open-loop pitch, harmonic
// noise shaping and the per-subframe filter bookkeeping.
#pragma once

#include "g723/common/frame.h"
#include "g723/encoder/enc_state.h"

namespace g723 {

// Harmonic noise shaping filter P(z) = 1 - gain z^-lag of one subframe.
struct Hns_params {
    Word16 lag;    // 15..145
    Word16 gain;   // Q15, 0..0x2800
};

// Zero state, LspDcTable in prev_lsp, taming accumulators at 4.
void enc_reset(Enc_state &st);

// Encodes 240 samples (frame is used as scratch) into out; at 5.3 kbit/s only
// out[0..19] belong to the frame. acelp_budget is the 5.3 kbit/s search budget.
void enc_frame(Enc_state &st, int rate_select, Word16 &acelp_budget, Word16 frame[FRAME_LEN], unsigned char out[24]);

// DC removal in place; halves the level.
void hp_filter(Enc_state &st, Word16 frame[FRAME_LEN]);
// Four unquantised Q13 LPC sets, subframe k at lpc[10k..]; updates st.sine_det.
void lpc_analysis(Enc_state &st, Word16 lpc[SUBFRAMES * LPC_ORDER], const Word16 frame[FRAME_LEN]);
// corr holds r[1..10], err r[0]; k2 receives the second reflection coefficient
// (0x7fff when the recursion stops early). Returns the final prediction error.
Word16 levinson_durbin(Word16 a[LPC_ORDER], const Word16 corr[LPC_ORDER], Word16 err, Word16 &k2);

// Falls back to prev when fewer than ten roots are found.
void lpc_to_lsp(Word16 lsp[LPC_ORDER], const Word16 a[LPC_ORDER], const Word16 prev[LPC_ORDER]);
// Largest magnitude in the three LSP band codebooks.
inline constexpr Word16 LSP_CODE_MAX_ABS = 6012;

// lsp is scratch afterwards.
Word32 lsp_quantize(Word16 lsp[LPC_ORDER], const Word16 prev[LPC_ORDER]);
Word32 lsp_split_vq(const Word16 r[LPC_ORDER], const Word16 w[LPC_ORDER]);

// The 60-sample delay: hist keeps the last 120 samples, frame becomes the
// previous frame's last 60 followed by this frame's first 180.
void lookahead_shift(Word16 hist[LPC_HIST], Word16 frame[FRAME_LEN]);

// per_lpc: 20 per subframe, A(z/0.9) numerator then A(z/0.5) denominator.
void weight_coeffs(Word16 per_lpc[SUBFRAMES * 2 * LPC_ORDER], const Word16 lpc[SUBFRAMES * LPC_ORDER]);
void weight_filter(Enc_state &st, Word16 frame[FRAME_LEN], const Word16 per_lpc[SUBFRAMES * 2 * LPC_ORDER]);
// buf: the normalised 385-sample pitch buffer; start 145 or 265.
Word16 open_loop_pitch(const Word16 buf[PITCH_BUF_LEN], int start);

Hns_params hns_search(const Word16 buf[PITCH_BUF_LEN], int start, Word16 olp);
void hns_filter(Word16 frame[FRAME_LEN], const Word16 buf[PITCH_BUF_LEN], const Hns_params hns[SUBFRAMES]);
void impulse_response(Word16 imp[SUBFRAME_LEN], const Word16 q[LPC_ORDER], const Word16 p[2 * LPC_ORDER],
                      Hns_params hns);
void subtract_ringing(const Enc_state &st, Word16 t[SUBFRAME_LEN], const Word16 q[LPC_ORDER],
                      const Word16 p[2 * LPC_ORDER], Hns_params hns);
void update_ringing(Enc_state &st, const Word16 x[SUBFRAME_LEN], const Word16 q[LPC_ORDER],
                    const Word16 p[2 * LPC_ORDER]);

}  // namespace g723
