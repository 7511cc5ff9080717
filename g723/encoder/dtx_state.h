// Memory of the encoder's silence compression: the voice activity detector
// and the SID side, kept beside Enc_state and used only when the stream
// codes silence as SID and untransmitted frames.
#pragma once

#include <type_traits>

#include "g723/common/types.h"

namespace qrxc::g723 {

inline constexpr int ACF_LEN = LPC_ORDER + 1;  // r[0..10]
inline constexpr int ACF_FRAMES = 4;           // this frame and the three before it

struct Vad_state {
    Word16 hangover;     // frames still called speech after the level dropped
    Word16 voiced_run;   // recent frames above the threshold, 0..3
    Word32 prev_energy;  // residual energy of the previous frame
    Word32 noise_level;
    Word16 adapt_hold;  // 0: the noise level may adapt; raised by periodic or sine-like frames
    Word16 ol_lags[4];  // open-loop lags of the previous two frames
    Word16 noise_lpc_q13[LPC_ORDER];
};

struct Enc_cng_state {
    Word16 past_active;  // the previous frame was speech
    Word16 cur_gain_q5;
    Word16 sid_gain_q5;
    Word16 ref_gain_index;  // the gain index the last SID sent
    Word16 rand_seed;
    Word16 acf[ACF_FRAMES * ACF_LEN];  // summed autocorrelations, this frame first
    Word16 acf_shift[ACF_FRAMES];
    Word16 sid_lsp[LPC_ORDER];
    Word16 sid_lpc_q13[LPC_ORDER];
    Word16 rc[ACF_LEN];  // autocorrelation of the SID filter, for the distance test
    Word16 rc_shift;
    Word16 energy[3];  // prediction errors of the last frames
    Word16 energy_count;
};

struct Enc_dtx_state {
    Vad_state vad;
    Enc_cng_state cng;
};
static_assert(std::is_trivially_copyable_v<Enc_dtx_state>);

}  // namespace qrxc::g723
