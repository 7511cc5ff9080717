// The voice activity detector: compares the frame's energy after inverse
// filtering by the noise's spectrum with a noise level that adapts only
// while the input is neither periodic nor sine-like.
#pragma once

#include "g723/encoder/dtx_state.h"
#include "g723/encoder/enc_state.h"

namespace qrxc::g723 {

void vad_reset(Vad_state &v);

// True when the high-pass filtered frame (before the lookahead shift)
// holds speech; st.sine_det must already describe this frame.
bool vad_frame(Vad_state &v, const Enc_state &st, const Word16 frame[FRAME_LEN]);

// The frame's open-loop lags, for the next frame's periodicity test.
inline void vad_store_lags(Vad_state &v, const Word16 ol_lag[2]) {
    v.ol_lags[2] = ol_lag[0];
    v.ol_lags[3] = ol_lag[1];
}

}  // namespace qrxc::g723
