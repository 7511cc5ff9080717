// Short filter-tap runs of the encoder's weighting and shaping filters with
// a fast exact path: when the magnitudes of the start value and of the
// doubled products add up to no more than MAX_32, no partial sum can
// saturate and the plain sum gives the same bits. Otherwise the operator
// sequence itself runs. (Generic chains live in g723/common/mac_chain.h.)
#pragma once

#include <cstdint>

#include "g723/common/basic_ops.h"
#include "g723/common/mac_chain.h"

namespace g723 {

// How large |acc| may be before N taps with coefficients a can saturate,
// whatever the 16-bit memory holds (negative: always possible).
template <int N>
inline std::int64_t tap_headroom(const Word16 *a) {
    return MAX_32 - 2 * sum_abs(a, N) * 32768;
}

// acc +/- sum over m of coef[m] * cur[-1 - m], m = 0 .. N-1 in that order,
// on a linear history (oldest first) that ends just before cur. The fast
// path walks the history forwards with the reversed coefficients coef_rev.
template <int N, int SIGN>
inline Word32 back_taps(Word32 acc, const Word16 *coef, const Word16 *coef_rev, const Word16 *cur,
                        std::int64_t headroom) {
    if (abs64(acc) <= headroom) {
        const Word16 *h = cur - N;
        std::int32_t sum = 0;
        for (int k = 0; k < N; k++) sum += std::int32_t{coef_rev[k]} * h[k];
        return static_cast<Word32>(std::int64_t{acc} + SIGN * 2 * std::int64_t{sum});
    }
    for (int m = 0; m < N; m++) acc = SIGN > 0 ? L_mac(acc, coef[m], cur[-1 - m]) : L_msu(acc, coef[m], cur[-1 - m]);
    return acc;
}

}  // namespace g723
