// Fixed-codebook step of a subframe, by rate.
#pragma once

#include "g723/common/frame.h"
#include "g723/common/types.h"

namespace qrxc::g723 {

// t: target in, fixed-codebook excitation out; dispatches on rate_select.
// acelp_budget is the 5.3 kbit/s search budget carried between searches.
void fcb_search(int rate_select, Word16 &acelp_budget, Word16 t[SUBFRAME_LEN], Word16 h[SUBFRAME_LEN],
                Frame_params &params, Word16 s);

}  // namespace qrxc::g723
