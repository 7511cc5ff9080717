// State of the playback speed control and the voice effects.
// (Placeholder layout; the speed control fills it in.)
#pragma once

#include <cstdint>
#include <type_traits>

namespace qrxc {

struct Speed_state {
    std::int16_t level;
    std::int16_t pending;
    std::int16_t size;
    std::int16_t frac_hi, frac_mid, frac_lo;
    std::int16_t buffer[360];
    std::int32_t frame_count;
    std::int32_t last_count;   // samples written by the last Qrmd_frame
};
static_assert(std::is_trivially_copyable_v<Speed_state>);

struct Effects_state {
    std::int16_t placeholder;
};
static_assert(std::is_trivially_copyable_v<Effects_state>);

}  // namespace qrxc
