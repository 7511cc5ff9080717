// The decoder's postfilters: pitch postfilter on the excitation, formant
// postfilter with tilt compensation, and gain control.
#pragma once

#include "g723/common/types.h"
#include "g723/decoder/dec_state.h"

namespace qrxc::g723 {

// Pitch postfilter parameters of one subframe.
struct Pf_params {
    Word16 lag;        // partner offset: negative backward, positive forward, 0 none
    Word16 gain_q15;   // weight of the partner segment
    Word16 scale_q15;  // weight of the current segment
};

// The frame's excitation buffer: ACB_LAG_MAX history samples, then the frame.
inline constexpr int EXC_BUF_LEN = ACB_LAG_MAX + FRAME_LEN;

// Searches within 3 samples of ol_lag (ol_lag[s/2]) around subframe s of buf.
Pf_params pitch_pf_params(const Word16 buf[EXC_BUF_LEN], Word16 ol_lag, int subframe, int rate_select);
// Writes out[60 s .. 60 s + 59].
void pitch_pf_filter(Word16 out[FRAME_LEN], const Word16 buf[EXC_BUF_LEN], const Pf_params &pf, int subframe);
// Formant postfilter in place; returns the input energy for gain_scale.
Word32 formant_pf(Dec_state &st, Word16 x[SUBFRAME_LEN], const Word16 lpc_q13[LPC_ORDER]);
// Matches the subframe's energy to input_energy, smoothing the gain.
void gain_scale(Dec_state &st, Word16 x[SUBFRAME_LEN], Word32 input_energy);

}  // namespace qrxc::g723
