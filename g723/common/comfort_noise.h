// Comfort noise shared by the encoder and the decoder: the SID gain's
// pseudo-log quantiser and the random excitation both sides must generate
// sample for sample, so an encoder's analysis-by-synthesis memory follows
// what the far decoder plays.
#pragma once

#include "g723/common/types.h"

namespace qrxc::g723 {

// The random generator's seed at the start of every silent span.
inline constexpr Word16 CNG_SEED = 12345;
// Bits of the SID frame's gain index.
inline constexpr int SID_GAIN_BITS = 6;

// Index of the energy to send. count >= 1: the mean of energy[0..count-1]
// (each scaled by 2^(shift[i] - 14)). count 0: the excitation energy the
// decoder estimated from its last good frame, energy[0] with shift[0].
Word16 sid_gain_quantize(const Word16 *energy, const Word16 *shift, int count);

// The fields of a 4-byte SID frame after its two kind bits.
struct Sid_params {
    Word32 lsp_index;   // 24 bits, as in a speech frame
    Word16 gain_index;  // 6 bits
};
Sid_params sid_unpack(const unsigned char in[4]);
// Writes the 4 bytes, kind bits included.
void sid_pack(const Sid_params &p, unsigned char out[4]);

// The gain an index stands for, times 32.
Word16 sid_gain_decode(Word16 index);

// The adaptive-codebook choices one comfort-noise frame drew; the encoder
// updates its taming memory with them as with a speech frame's.
struct Cng_acb {
    Word16 ol_lag[2];
    Word16 lag_offset[SUBFRAMES];
    Word16 acb_gain[SUBFRAMES];
};

// One frame of comfort-noise excitation matching gain_q5 (gain times 32):
// a random adaptive-codebook entry per subframe plus 11 random pulses per
// two subframes. hist is the 145-sample excitation history, oldest first,
// and is moved on by the frame.
Cng_acb cng_excitation(Word16 gain_q5, Word16 hist[ACB_LAG_MAX], Word16 out[FRAME_LEN], Word16 &seed);

}  // namespace qrxc::g723
