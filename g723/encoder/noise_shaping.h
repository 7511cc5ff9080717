// Harmonic noise shaping: the per-subframe lag and gain search and the
// shaping filter itself.
#pragma once

#include "g723/encoder/enc_state.h"

namespace qrxc::g723 {

// Harmonic noise shaping filter P(z) = 1 - gain z^-lag of one subframe.
struct Hns_params {
    Word16 lag;       // 15..145
    Word16 gain_q15;  // 0..0x2800
};

Hns_params hns_search(const Word16 buf[PITCH_BUF_LEN], int start, Word16 olp);
void hns_filter(Word16 frame[FRAME_LEN], const Word16 buf[PITCH_BUF_LEN], const Hns_params hns[SUBFRAMES]);

}  // namespace qrxc::g723
