// 5.3 kbit/s algebraic fixed codebook: four signed unit pulses, one per
// track, on a common grid, sharpened by a one-tap pitch filter.
#pragma once

#include "g723/common/types.h"

namespace qrxc::g723 {

inline constexpr int ACELP_TRACKS = 4;
inline constexpr int ACELP_TRACK_POSITIONS = 8;
inline constexpr int ACELP_D_LEN = 64;     // positions 60..63 lie outside the subframe
inline constexpr int ACELP_RR_SIZE = 416;  // 4 x 8 energies, 6 x 64 cross terms
inline constexpr Word16 ACELP_BUDGET = 120;

// Offsets of the blocks in the correlation matrix.
inline constexpr int RR_ENERGY = 0;  // track k at 8k
inline constexpr int RR_01 = 32;
inline constexpr int RR_02 = 96;
inline constexpr int RR_03 = 160;
inline constexpr int RR_12 = 224;
inline constexpr int RR_13 = 288;
inline constexpr int RR_23 = 352;

struct Acelp_result {
    Word16 code[SUBFRAME_LEN];      // 0 or +/-1
    Word16 filtered[SUBFRAME_LEN];  // the code vector through h
    Word16 grid;
    Word16 signs;  // bit k set: pulse k positive
    Word16 index;  // 3 bits per pulse, pulse k at bit 3k
};

void acelp_corr_matrix(const Word16 h[SUBFRAME_LEN], Word16 rr[ACELP_RR_SIZE]);
// d[60..63] are left to the pulse search.
void acelp_target_corr(const Word16 h[SUBFRAME_LEN], const Word16 x[SUBFRAME_LEN], Word16 d[ACELP_D_LEN]);
// d and rr are sign-folded in place; budget is the carried search budget.
void acelp_pulse_search(Word16 d[ACELP_D_LEN], Word16 rr[ACELP_RR_SIZE], const Word16 h[SUBFRAME_LEN], Word16 &budget,
                        Acelp_result &out);
// y is scaled in place; returns the gain index and its amplitude in gq.
Word16 acelp_gain(const Word16 x[SUBFRAME_LEN], Word16 y[SUBFRAME_LEN], Word16 &gq);
// x: target in, excitation out; h is sharpened in place. Returns the
// position index.
Word16 acelp_code(Word16 x[SUBFRAME_LEN], Word16 h[SUBFRAME_LEN], Word16 t0s, Word16 gs, Word16 &budget,
                  Word16 &gain_index, Word16 &grid, Word16 &signs);

}  // namespace qrxc::g723
