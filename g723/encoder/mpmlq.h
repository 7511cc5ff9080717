// 6.3 kbit/s multipulse fixed codebook: search and position/sign coding.
#pragma once

#include "g723/common/excitation.h"
#include "g723/common/frame.h"
#include "g723/common/kernel_set.h"
#include "g723/common/types.h"

namespace qrxc::g723 {

inline constexpr int MPMLQ_MAX_PULSES = 6;
inline constexpr int MPMLQ_NO_TRAIN = 60;  // a lag at which no pulse train is searched
inline constexpr int MPMLQ_TRAIN_LAG_MAX = SHORT_LAG - 1;

struct Mpmlq_best {
    Word32 max_err;  // criterion of the best candidate, larger is better
    Word16 grid;
    Word16 gain_index;
    Word16 train;
    Word16 pos[MPMLQ_MAX_PULSES];  // in the order found
    Word16 amp[MPMLQ_MAX_PULSES];  // +/- FcbkGainTable[gain_index]
};

// A valid candidate to fall back on when nothing beats the initial
// criterion: np positive pulses of the smallest magnitude on the first
// positions of the even grid, no pulse train.
Mpmlq_best mpmlq_initial_best(int np);

// Improves best with the candidates of one pulse-train setting (lag <= MPMLQ_TRAIN_LAG_MAX:
// pulses repeated every lag samples; otherwise single pulses).
void mpmlq_search(Mpmlq_best &best, const Word16 t[SUBFRAME_LEN], const Word16 h[SUBFRAME_LEN], int np, Word16 lag);
// The same with kernel set `set` (where the CPU has it).
void mpmlq_search(Mpmlq_best &best, const Word16 t[SUBFRAME_LEN], const Word16 h[SUBFRAME_LEN], int np, Word16 lag,
                  Kernel_set set);
// The same search with every step in its saturating form, for checking the
// fast one.
void mpmlq_search_plain(Mpmlq_best &best, const Word16 t[SUBFRAME_LEN], const Word16 h[SUBFRAME_LEN], int np,
                        Word16 lag);

// v: exactly np pulses on grid best.grid, no pulse train yet.
void mpmlq_pack(const Word16 v[SUBFRAME_LEN], Subframe_params &sub, const Mpmlq_best &best, int np);

// The whole 6.3 kbit/s step of subframe s: t is the target in, the
// fixed-codebook excitation out.
void mpmlq_subframe(Word16 t[SUBFRAME_LEN], const Word16 h[SUBFRAME_LEN], Frame_params &params, int s);

}  // namespace qrxc::g723
