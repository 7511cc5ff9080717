// Adaptive- and fixed-codebook excitation of one subframe, shared by the
// decoder and the encoder.
#pragma once

#include <iterator>

#include "g723/common/frame.h"
#include "g723/common/tables.h"
#include "g723/common/types.h"

namespace qrxc::g723 {

// Lags below it take the 85-vector gain table and pulse trains at 6.3
// kbit/s, and pitch sharpening at 5.3 kbit/s.
inline constexpr int SHORT_LAG = 58;

// Fixed-codebook gain levels.
inline constexpr int GAIN_LEVELS = static_cast<int>(std::size(FcbkGainTable));

// The lagged excitation (64 samples) the 5-tap pitch filter runs over;
// hist is the 145-sample excitation history.
void acb_history(Word16 out[64], const Word16 hist[ACB_LAG_MAX], Word16 lag);
// Adaptive-codebook contribution of one subframe.
void acb_excitation(Word16 out[SUBFRAME_LEN], const Word16 hist[ACB_LAG_MAX], Word16 ol_lag, Word16 lag_offset,
                    Word16 acb_gain, int rate_select);
// Fixed-codebook contribution of one subframe; ol_lag is ol_lag[subframe/2].
void fcb_decode(Word16 out[SUBFRAME_LEN], const Subframe_params &sub, Word16 ol_lag, Word16 subframe, int rate_select);
// dst is src with its pulses repeated every lag samples; dst may be src.
void pulse_train(Word16 dst[SUBFRAME_LEN], const Word16 src[SUBFRAME_LEN], Word16 lag);
// 5.3 kbit/s pitch sharpening: returns base_lag + Epsi170[acb_gain] and
// stores Gain170[acb_gain] in beta.
Word16 acelp_lag_gain(Word16 base_lag, Word16 acb_gain, Word16 &beta);

}  // namespace qrxc::g723
