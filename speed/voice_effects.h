// Voice effects run on normal-speed frames: a pitch shifter with seven
// settings, then a vibrato or a short or long echo.
#pragma once

#include <cstdint>

#include "speed/speed_state.h"

namespace qrxc {

inline constexpr int VIBRATO_SINE_LEN = 2000;
extern const std::int16_t VIBRATO_SINE[VIBRATO_SINE_LEN];

inline constexpr int PITCH_SETTINGS = 8;  // 0 = no shift, 1..3 lower, 4..7 higher
inline constexpr int STRETCH_CAPACITY = 768;

// Step through the stretched buffer, in Q14 of an input sample per output
// sample, when L stretched samples are read back as pcm_frame samples.
int resample_step(int stretched_len, int pcm_frame);

// Pitch-shifts the n (128..320) samples of in into out, same length, and
// returns the stretched length L: a steady period P comes out as P * n / L.
int pitch_shift(const std::int16_t *in, int n, int setting, std::int16_t *out);

void vibrato(Vibrato_state &vs, std::int16_t *buf, int n);

// variant 2 short echo (160 samples), 3 long echo (504 samples).
void echo(Echo_state &es, std::int16_t *buf, int n, int variant);

// The chain chosen by the 5-bit effect code e: pitch setting e >> 2, then
// e & 3 (1 vibrato, 2 short echo, 3 long echo). Works in place on buf.
void apply_effects(Effects_state &fx, std::int16_t *buf, int n, int e);

}  // namespace qrxc
