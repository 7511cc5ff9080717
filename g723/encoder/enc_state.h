// The G.723.1 encoder's whole memory, carried from frame to frame.
#pragma once

#include <type_traits>

#include "g723/common/types.h"

namespace qrxc::g723 {

inline constexpr int LPC_WIN = 180;        // LPC analysis window
inline constexpr int LPC_HIST = 120;       // LPC_WIN - SUBFRAME_LEN, kept between frames
inline constexpr int PITCH_BUF_LEN = 385;  // ACB_LAG_MAX + FRAME_LEN
inline constexpr int OLP_LAG_MIN = 18;
inline constexpr int OLP_LAG_MAX = 142;

struct Enc_state {
    Word16 hpf_in_mem;               // previous input sample of the high-pass filter
    Word32 hpf_out_mem;              // previous output accumulator of the high-pass filter
    Word16 sine_det;                 // one flag per subframe in bits 0-14; bit 15: sine-like input
    Word16 prev_lsp[LPC_ORDER];      // quantised LSP vector of the previous frame
    Word16 prev_wgt[ACB_LAG_MAX];    // weighted speech history for the pitch analysis
    Word16 prev_err[ACB_LAG_MAX];    // harmonic noise shaping memory
    Word16 prev_exc[ACB_LAG_MAX];    // excitation history, oldest first
    Word16 prev_dat[LPC_HIST];       // high-pass filtered input history and lookahead
    Word16 wght_fir_mem[LPC_ORDER];  // filter memories, newest first
    Word16 wght_iir_mem[LPC_ORDER];
    Word16 ring_fir_mem[LPC_ORDER];
    Word16 ring_iir_mem[LPC_ORDER];
    Word32 taming_err[5];  // excitation error taming accumulators, 4 after a reset
};
static_assert(std::is_trivially_copyable_v<Enc_state>);

}  // namespace qrxc::g723
