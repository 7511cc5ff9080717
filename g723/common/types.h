// Fixed-point word types and the G.723.1 frame constants shared by the
// decoder and the encoder.
#pragma once

#include <cstdint>

using Word16 = std::int16_t;
using Word32 = std::int32_t;

namespace qrxc::g723 {

inline constexpr int FRAME_LEN = 240;  // samples per frame, 30 ms at 8 kHz
inline constexpr int SUBFRAME_LEN = 60;
inline constexpr int SUBFRAMES = 4;
inline constexpr int LPC_ORDER = 10;
inline constexpr int ACB_LAG_MIN = 18;
inline constexpr int ACB_LAG_MAX = 145;  // also the length of the excitation history
inline constexpr int ERASE_MAX = 3;

// Rate selector carried by the stream (the frame itself has no rate bits).
inline constexpr int RATE_63 = 0;
inline constexpr int RATE_53 = 1;

}  // namespace qrxc::g723
