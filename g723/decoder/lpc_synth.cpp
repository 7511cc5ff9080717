// The decoder's LPC synthesis filter 1/A(z), on past outputs kept oldest
// first so that each sample's ten taps are one contiguous run.
#include "g723/decoder/lpc_synth.h"

#include <cstdint>

#include "g723/common/basic_ops.h"
#include "g723/common/fast_ops.h"
#include "g723/common/x86/dispatch.h"

namespace qrxc::g723 {

namespace {

template <Kernel_set K>
QRXC_KERNEL_BODY void lpc_synth_body(Dec_state &st, Word16 x[SUBFRAME_LEN], const Word16 lpc_q13[LPC_ORDER]) {
    // Past outputs oldest first, so that each sample's ten taps are one
    // contiguous run: y[j] of the step-by-step filter is h[n + 9 - j].
    Word16 h[LPC_ORDER + SUBFRAME_LEN];
    Word16 c[LPC_ORDER];
    for (int j = 0; j < LPC_ORDER; ++j) {
        h[LPC_ORDER - 1 - j] = st.synth_mem[j];
        c[LPC_ORDER - 1 - j] = lpc_q13[j];
    }
    // A chain of saturating L_mac steps equals the plain sum whenever its
    // start plus the magnitudes of all its terms stays within Word32; the
    // bound sum|c| * max|w| (max over everything the filter has seen in this
    // subframe) is the cheap test, the exact magnitude sum the fallback, the
    // step-by-step chain the last resort.
    const std::int64_t cabs = sum_abs(c, LPC_ORDER);
    int peak = max_abs(h, LPC_ORDER);
    int n = 0;
    if (!PLAIN_OPS) {
        // The cheap test once for the whole subframe: it holds for every
        // sample while the peak stays within the room the largest input leaves.
        const std::int64_t room = peak_room(std::int64_t{max_abs(x, SUBFRAME_LEN)} << 13, cabs);
        Word32 start[SUBFRAME_LEN];
        for (int i = 0; i < SUBFRAME_LEN; ++i) start[i] = Word32{x[i]} << 13;
        n = pole_run<K>(h + LPC_ORDER, nullptr, start, lpc_q13, room, peak);
        for (int i = 0; i < n; ++i) x[i] = h[LPC_ORDER + i];
    }
    for (; n < SUBFRAME_LEN; ++n) {
        const Word16 *w = h + n;
        const Word32 a0 = Word32{x[n]} << 13;
        Word32 a;
        std::int64_t sum, mag;
        if (!PLAIN_OPS && abs64(a0) + 2 * cabs * peak <= MAX_32) {
            a = a0 + 2 * dot10_in<K>(c, w);
        } else if (!PLAIN_OPS && (dot_and_magnitude(c, w, LPC_ORDER, sum, mag), abs64(a0) + 2 * mag <= MAX_32)) {
            a = static_cast<Word32>(a0 + 2 * sum);
        } else {
            a = a0;
            for (int j = 0; j < LPC_ORDER; ++j) a = L_mac(a, lpc_q13[j], w[LPC_ORDER - 1 - j]);
        }
        const Word16 y = round(L_shl(a, 2));
        h[LPC_ORDER + n] = y;
        x[n] = y;
        const int ay = y < 0 ? -y : y;
        peak = ay > peak ? ay : peak;
    }
    for (int j = 0; j < LPC_ORDER; ++j) st.synth_mem[j] = h[LPC_ORDER + SUBFRAME_LEN - 1 - j];
}

QRXC_AVX2_TWIN(void, lpc_synth, lpc_synth_body,
               (Dec_state & st, Word16 x[SUBFRAME_LEN], const Word16 lpc_q13[LPC_ORDER]), (st, x, lpc_q13))

}  // namespace

void lpc_synth(Dec_state &st, Word16 x[SUBFRAME_LEN], const Word16 lpc_q13[LPC_ORDER]) {
    QRXC_DISPATCH(lpc_synth, lpc_synth_body, st, x, lpc_q13)
}

}  // namespace qrxc::g723
