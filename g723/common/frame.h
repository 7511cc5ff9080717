// Coded parameters of one G.723.1 frame and their byte layout.
#pragma once

#include <type_traits>

#include "g723/common/types.h"

namespace qrxc::g723 {

inline constexpr int FRAME_BYTES_63 = 24;
inline constexpr int FRAME_BYTES_53 = 20;

struct Subframe_params {
    Word16 lag_offset;  // lag = ol_lag[i/2] + lag_offset - 1; 1 in subframes 0 and 2
    Word16 acb_gain;    // adaptive-codebook gain vector index
    Word16 fcb_gain;    // fixed-codebook gain index, 0..23
    Word16 grid;        // 0 even, 1 odd pulse positions
    Word16 train;       // 6.3 kbit/s: pulses repeated at the pitch lag
    Word16 pulse_signs;
    Word32 pulse_pos;
};

struct Frame_params {
    Word16 bad_frame;  // set only by frame_unpack
    Word32 lsp_index;  // 24 bits: band 2 in bits 0-7, band 1 in 8-15, band 0 in 16-23
    Word16 ol_lag[2];  // lags of subframes 0 and 2, 18..141
    Subframe_params sub[SUBFRAMES];
};
static_assert(std::is_trivially_copyable_v<Frame_params>);

// Clears all 24 bytes, then writes the frame for rate_select (RATE_63 or
// RATE_53); at 5.3 kbit/s only the first 20 bytes belong to the frame.
void frame_pack(const Frame_params &p, int rate_select, unsigned char out[24]);

// Reads a frame of 24 (RATE_63) or 20 (RATE_53) bytes. A non-zero erased
// returns at once with bad_frame = erased.
Frame_params frame_unpack(const unsigned char *bytes, int rate_select, Word16 erased);

}  // namespace qrxc::g723
