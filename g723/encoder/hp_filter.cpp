// The encoder's input high-pass filter: a DC notch with its pole just inside
// the unit circle.
#include "g723/encoder/hp_filter.h"

#include "g723/common/basic_ops.h"

namespace qrxc::g723 {

namespace {
constexpr Word16 HPF_POLE = Q15(0.9921875);
}  // namespace

void hp_filter(Enc_state &st, Word16 frame[FRAME_LEN]) {
    for (int n = 0; n < FRAME_LEN; n++) {
        const Word16 x = frame[n];
        Word32 acc = L_msu(L_mult(x, 0x4000), st.hpf_in_mem, 0x4000);
        st.hpf_in_mem = x;
        acc = L_add(acc, mult_32_16(st.hpf_out_mem, HPF_POLE));
        st.hpf_out_mem = acc;
        frame[n] = round(acc);
    }
}

}  // namespace qrxc::g723
