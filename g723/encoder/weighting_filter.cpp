// Perceptual weighting filter W(z) = A(z/0.9) / A(z/0.5).
#include "g723/encoder/weighting_filter.h"

#include <cstdint>

#include "g723/common/basic_ops.h"
#include "g723/common/fast_ops.h"
#include "g723/common/tables.h"
#include "g723/common/x86/dispatch.h"

namespace qrxc::g723 {

void weight_coeffs(Word16 per_lpc[SUBFRAMES * 2 * LPC_ORDER], const Word16 lpc[SUBFRAMES * LPC_ORDER]) {
    for (int k = 0; k < SUBFRAMES; k++) {
        for (int i = 0; i < LPC_ORDER; i++) {
            per_lpc[2 * LPC_ORDER * k + i] = mult_r(lpc[LPC_ORDER * k + i], PerFiltZeroTable[i]);
            per_lpc[2 * LPC_ORDER * k + LPC_ORDER + i] = mult_r(lpc[LPC_ORDER * k + i], PerFiltPoleTable[i]);
        }
    }
}

namespace {

template <Kernel_set K>
QRXC_KERNEL_BODY void weight_filter_body(Enc_state &st, Word16 frame[FRAME_LEN],
                                         const Word16 per_lpc[SUBFRAMES * 2 * LPC_ORDER]) {
    // Linear histories, oldest first, with the ten memory samples in front;
    // memory m (newest first) of sample n is hist[LPC_ORDER + n - 1 - m].
    Word16 in[LPC_ORDER + FRAME_LEN];
    Word16 out[LPC_ORDER + FRAME_LEN];
    for (int m = 0; m < LPC_ORDER; m++) {
        in[LPC_ORDER - 1 - m] = st.wght_fir_mem[m];
        out[LPC_ORDER - 1 - m] = st.wght_iir_mem[m];
    }
    for (int n = 0; n < FRAME_LEN; n++) in[LPC_ORDER + n] = frame[n];

    for (int k = 0; k < SUBFRAMES; k++) {
        const Word16 *z = &per_lpc[2 * LPC_ORDER * k];
        const Word16 *p = z + LPC_ORDER;
        Word16 z_rev[LPC_ORDER], p_rev[LPC_ORDER];
        for (int i = 0; i < LPC_ORDER; i++) {
            z_rev[i] = z[LPC_ORDER - 1 - i];
            p_rev[i] = p[LPC_ORDER - 1 - i];
        }
        const std::int64_t z_room = tap_headroom<LPC_ORDER>(z);
        const std::int64_t p_room = tap_headroom<LPC_ORDER>(p);
        int j = 0;
        if (!PLAIN_OPS) {
            // As the postfilter: the zero section's sums for the whole
            // subframe first (they need no recursion), then the pole section
            // in plain arithmetic while the outputs stay within the room the
            // largest input and the zero section's bound leave.
            const Word16 *x = &in[SUBFRAME_LEN * k];  // x[j + i], i < 10: sample j's taps, oldest first
            const std::int64_t zbound = sum_abs(z, LPC_ORDER) * max_abs(x, LPC_ORDER + SUBFRAME_LEN);
            if (zbound < (std::int64_t{1} << 30)) {
                Word32 zs[SUBFRAME_LEN] = {};
                for (int i = 0; i < LPC_ORDER; i++)
                    for (int n = 0; n < SUBFRAME_LEN; n++) zs[n] += Word32{z_rev[i]} * x[n + i];
                const std::int64_t room = peak_room(
                    (std::int64_t{max_abs(x + LPC_ORDER, SUBFRAME_LEN)} << 14) + 2 * zbound, sum_abs(p, LPC_ORDER));
                Word32 start[SUBFRAME_LEN] = {};
                if (room >= 0)
                    for (int n = 0; n < SUBFRAME_LEN; n++) start[n] = Word32{x[LPC_ORDER + n]} * (1 << 14) - 2 * zs[n];
                int peak = 0;
                j = pole_run<K>(&out[LPC_ORDER + SUBFRAME_LEN * k], nullptr, start, p, room, peak);
            }
        }
        for (; j < SUBFRAME_LEN; j++) {
            const int n = SUBFRAME_LEN * k + j;
            Word32 acc = Word32{in[LPC_ORDER + n]} * (1 << 14);
            acc = back_taps<LPC_ORDER, -1>(acc, z, z_rev, &in[LPC_ORDER + n], z_room);
            acc = back_taps<LPC_ORDER, 1>(acc, p, p_rev, &out[LPC_ORDER + n], p_room);
            out[LPC_ORDER + n] = round(L_shl(acc, 2));
        }
    }

    for (int n = 0; n < FRAME_LEN; n++) frame[n] = out[LPC_ORDER + n];
    for (int m = 0; m < LPC_ORDER; m++) {
        st.wght_fir_mem[m] = in[LPC_ORDER + FRAME_LEN - 1 - m];
        st.wght_iir_mem[m] = out[LPC_ORDER + FRAME_LEN - 1 - m];
    }
}

QRXC_AVX2_TWIN(void, weight_filter, weight_filter_body,
               (Enc_state & st, Word16 frame[FRAME_LEN], const Word16 per_lpc[SUBFRAMES * 2 * LPC_ORDER]),
               (st, frame, per_lpc))

}  // namespace

void weight_filter(Enc_state &st, Word16 frame[FRAME_LEN], const Word16 per_lpc[SUBFRAMES * 2 * LPC_ORDER]) {
    QRXC_DISPATCH(weight_filter, weight_filter_body, st, frame, per_lpc)
}

}  // namespace qrxc::g723
