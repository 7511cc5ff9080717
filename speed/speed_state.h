// State of the playback speed control and the voice effects. Plain data:
// both records live inside Qrxc_context and are reset by assignment.
#pragma once

#include <cstdint>
#include <type_traits>

#include "qrxc.h"

namespace qrxc {

inline constexpr int INIT_SIZE = 240;  // samples held after a reset: the delay at normal speed
inline constexpr int PITCH_MIN = 16;
inline constexpr int PITCH_MAX = 120;
inline constexpr int WINLENGTH = 120;  // comparison window of the period search
inline constexpr int BUFFERLEN = 360;  // the carried-over samples the design needs at most
// Room actually kept: one more period than the design needs, so that a
// fraction carried one sample too far never costs a sample of speech.
inline constexpr int BUFFER_CAPACITY = BUFFERLEN + PITCH_MAX;
inline constexpr int SPEED_LEVELS = QRMD_SPEED_LEVELS;
inline constexpr int NORMAL_LEVEL = QRMD_NORMAL_LEVEL;

// Where the speed control's diagnostic texts go; fn NULL drops them.
struct Diagnostic_sink {
    void (*fn)(void *user, const char *text);
    void *user;
};

struct Speed_state {
    std::int16_t ready;                       // 1 once Qrmd_initial ran: the state below means something
    std::int16_t level;                       // 0 (twice as fast) .. 4 (normal) .. 12 (half speed)
    std::int16_t pending;                     // samples at the front of buffer already due for output
    std::int16_t size;                        // samples held in buffer
    std::int16_t frac_hi, frac_mid, frac_lo;  // 11-bit limbs of the copy-length remainder
    std::int16_t buffer[BUFFER_CAPACITY];     // unconsumed input, oldest first
    std::int32_t frame_count;                 // only ever printed in diagnostics
    std::int32_t last_count;                  // samples written by the last Qrmd_frame
    Diagnostic_sink diag;                     // kept by resets: it belongs to the caller
};
static_assert(std::is_trivially_copyable_v<Speed_state>);

inline constexpr int VIB_LINE_LEN = 56;
inline constexpr int ECHO_LINE_LEN = 504;

struct Vibrato_state {
    std::int16_t ready;               // set up lazily by the first vibrato frame
    std::int16_t depth;               // delay unit count; 2 gives a delay of 1..33 samples
    std::int16_t line[VIB_LINE_LEN];  // newest at index 0
    std::int16_t count;               // samples since the phase base
    std::int16_t base;                // phase base, 0..1999
    std::int16_t step;                // phase step per sample
    std::int16_t prev;                // previous output sample
};
static_assert(std::is_trivially_copyable_v<Vibrato_state>);

struct Echo_state {
    std::int16_t ready;                // set up lazily by the first echo frame
    std::int16_t variant;              // 2 short, 3 long: the echo the parameter was chosen for
    std::int16_t param;                // delay in units of 8 samples (20 short, 63 long)
    std::int16_t gain;                 // Q14
    std::int16_t read, write;          // circular indices into line
    std::int16_t line[ECHO_LINE_LEN];  // past outputs
};
static_assert(std::is_trivially_copyable_v<Echo_state>);

// Each effect owns its ready flag and parameter, so switching effects
// within a stream never runs one with the other's settings.
struct Effects_state {
    Vibrato_state vibrato;
    Echo_state echo;
};
static_assert(std::is_trivially_copyable_v<Effects_state>);

}  // namespace qrxc
