// Playback speed control: stretches or compresses decoded speech in time by
// cutting out or repeating whole pitch periods, each with a linear
// cross-fade, so that the pitch stays where it was.
#pragma once

#include <cstdint>

#include "speed/speed_state.h"

namespace qrxc {

// Output samples per input frame at a level (0..12) for a frame length.
int speed_target(int level, int pcm_frame);

// Lag in [PITCH_MIN, max_lag] whose WINLENGTH-sample window best matches the
// window at x (smallest sum of absolute differences; the shorter lag on a
// tie). Reads x[0 .. max_lag + WINLENGTH).
int speed_period_search(const std::int16_t *x, int max_lag);

// Samples copied straight through after a period of length m at a level
// other than 4; the remainder is carried in the three fraction limbs.
int speed_copy_length(Speed_state &st, int m, int level);

// Resets the state to a level: INIT_SIZE samples of silence, nothing pending.
void speed_reset(Speed_state &st, int level);

// One input frame of pcm_frame (240 or 320) samples through the speed
// control at a level. Writes n <= 2 * pcm_frame samples to dst and returns
// n. src is copied before dst is written, so they may be the same buffer.
int speed_step(Speed_state &st, int level, const std::int16_t *src, int pcm_frame, std::int16_t *dst);

}  // namespace qrxc
