#include "speed/voice_effects.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "qrxc.h"

namespace qrxc {

namespace {

constexpr int SHIFT_LAG_MIN = 16;
constexpr int SHIFT_LAG_MAX = 64;
constexpr int SHIFT_WINDOW = 64;
constexpr int SHIFT_MIN_HELD = SHIFT_LAG_MAX + SHIFT_WINDOW;  // samples a period search reads

// Q8 samples copied per period: settings 1..3 shrink the frame (the pitch
// drops once it is read back at full length), 4..7 stretch it.
constexpr std::int32_t PITCH_RATIO[PITCH_SETTINGS] = {0, 256, 383, 1023, 1280, 568, 393, 256};

// Q14 slope of the pitch shifter's cross-fade over a period of d samples.
constexpr std::array<std::int16_t, SHIFT_LAG_MAX + 1> XFADE_STEP = [] {
    std::array<std::int16_t, SHIFT_LAG_MAX + 1> t{};
    for (int d = 2; d <= SHIFT_LAG_MAX; ++d) t[d] = static_cast<std::int16_t>(16384 / (d - 1));
    return t;
}();

constexpr std::int16_t ECHO_GAIN = 10000;  // Q14, about 0.61 per repeat
constexpr std::int16_t SHORT_ECHO_PARAM = 20;
constexpr std::int16_t LONG_ECHO_PARAM = 63;
constexpr std::int16_t VIBRATO_DEPTH = 2;  // the most the 56-sample line allows

std::int16_t sat16(std::int32_t v) { return static_cast<std::int16_t>(std::clamp<std::int32_t>(v, -32768, 32767)); }

int shift_period_search(const std::int16_t *x) {
    std::int32_t best = INT32_MAX;
    int lag = SHIFT_LAG_MIN;
    for (int k = SHIFT_LAG_MIN; k <= SHIFT_LAG_MAX; ++k) {
        std::int32_t sum = 0;
        // Each difference wraps to 16 bits before its magnitude counts.
        for (int i = 0; i < SHIFT_WINDOW; ++i) sum += std::abs(static_cast<std::int16_t>(x[k + i] - x[i]));
        if (sum < best) {
            best = sum;
            lag = k;
        }
    }
    return lag;
}

void append(std::int16_t *y, int &len, const std::int16_t *from, int count) {
    count = std::clamp(count, 0, STRETCH_CAPACITY - len);
    if (count > 0) std::memcpy(y + len, from, static_cast<std::size_t>(count) * sizeof(std::int16_t));
    len += count;
}

}  // namespace

int resample_step(int stretched_len, int pcm_frame) {
    return static_cast<int>(std::min<std::int32_t>(stretched_len * 16384 / pcm_frame, 32767));
}

int pitch_shift(const std::int16_t *in, int n, int setting, std::int16_t *out) {
    const std::int32_t ratio = PITCH_RATIO[setting];
    std::int16_t x[QRXC_MAX_PCM_FRAME];
    std::int16_t y[STRETCH_CAPACITY];
    std::memcpy(x, in, static_cast<std::size_t>(n) * sizeof(std::int16_t));
    int held = n;  // unconsumed samples, at the front of x
    int len = 0;

    do {
        const int d = shift_period_search(x);
        int start;
        if (setting >= 4) {
            // Stretching: the period goes out as it is and again faded into the next.
            append(y, len, x, d);
            for (int i = 0; i < d; ++i) {
                const std::int32_t a = static_cast<std::int16_t>(i * XFADE_STEP[d]);
                x[i] = static_cast<std::int16_t>((x[d + i] * (16384 - a) + x[i] * a) >> 14);
            }
            start = 0;
        } else {
            // Shrinking: the first period fades into the second and is dropped.
            for (int i = 0; i < d; ++i) {
                const std::int32_t a = static_cast<std::int16_t>(i * XFADE_STEP[d]);
                x[d + i] = static_cast<std::int16_t>((x[i] * (16384 - a) + x[d + i] * a) >> 14);
            }
            start = d;
        }
        // The copy never runs past the samples still unconsumed.
        const int k = std::min(static_cast<int>((d * ratio) >> 8), held - start);
        append(y, len, x + start, k);
        const int used = start + k;
        held -= used;
        std::memmove(x, x + used, static_cast<std::size_t>(held) * sizeof(std::int16_t));
    } while (held >= SHIFT_MIN_HELD);
    append(y, len, x, held);

    // Read the stretched buffer back at the frame's length, interpolating
    // linearly in sixteenths of a sample.
    const std::int32_t step = resample_step(len, n);
    for (int i = 0; i < n; ++i) {
        const auto q = static_cast<std::int16_t>((i * step) >> 10);
        int j = q >> 4;
        if (j >= len - 1) j = len - 2;
        const std::int32_t f = q - 16 * j;
        out[i] = sat16(y[j] + ((f * (y[j + 1] - y[j])) >> 4));
    }
    return len;
}

void vibrato(Vibrato_state &vs, std::int16_t *buf, int n) {
    if (vs.ready == 0) {
        std::memset(vs.line, 0, sizeof vs.line);
        vs.count = 0;
        vs.base = 0;
        vs.prev = 0;
        vs.depth = VIBRATO_DEPTH;
        vs.step = 2;
        vs.ready = 1;
    }
    const int d = std::clamp<int>(vs.depth, 0, VIBRATO_DEPTH) * 8;
    const int taps = 3 * d + 1;
    for (int s = 0; s < n; ++s) {
        int phase = static_cast<std::int16_t>(vs.step * vs.count + vs.base);
        if (phase >= VIBRATO_SINE_LEN) {
            phase -= VIBRATO_SINE_LEN;
            vs.count = 0;
            vs.base = static_cast<std::int16_t>(phase);
        }
        phase = std::clamp(phase, 0, VIBRATO_SINE_LEN - 1);
        const std::int32_t c = VIBRATO_SINE[phase];
        // Delay t + u/256 swings from 1 to 2d + 1 around d + 1.
        int t;
        std::int32_t u;
        if (c == 16384) {
            t = 2 * d + 1;
            u = 0;
        } else if (c == -16384) {
            t = 1;
            u = 0;
        } else if (c == 0) {
            t = d + 1;
            u = 0;
        } else {
            const std::int32_t g = (c * d) >> 6;
            t = d + 1 + (static_cast<std::int16_t>(g) >> 8);
            u = g & 255;
        }
        std::memmove(vs.line + 1, vs.line, static_cast<std::size_t>(taps) * sizeof(std::int16_t));
        vs.line[0] = buf[s];
        // First-order all-pass interpolation between the two taps.
        const std::int32_t y = vs.line[t + 1] + ((vs.line[t] * (256 - u)) >> 8) - ((vs.prev * (256 - u)) >> 8);
        vs.count = static_cast<std::int16_t>(vs.count + 1);
        buf[s] = sat16(y);
        vs.prev = buf[s];
    }
}

void echo(Echo_state &es, std::int16_t *buf, int n, int variant) {
    const std::int16_t param = variant == 2 ? SHORT_ECHO_PARAM : LONG_ECHO_PARAM;
    if (es.ready == 0) {
        std::memset(es.line, 0, sizeof es.line);
        es.write = 0;
        es.gain = ECHO_GAIN;
        es.ready = 1;
        es.variant = static_cast<std::int16_t>(variant);
        es.param = param;
    } else if (es.variant != variant) {
        // A switch between the echoes keeps what is already ringing and
        // only moves the tap.
        es.variant = static_cast<std::int16_t>(variant);
        es.param = param;
    }
    if (es.param > 63) es.param = 62;
    if (es.param < 0) es.param = 0;
    es.write = static_cast<std::int16_t>(std::clamp<int>(es.write, 0, ECHO_LINE_LEN - 1));
    // Read 8 * param samples behind the write position (all 504 when 0).
    int read = (63 - es.param) * 8 + es.write;
    if (read >= ECHO_LINE_LEN) read -= ECHO_LINE_LEN;
    int write = es.write;
    for (int s = 0; s < n; ++s) {
        const std::int16_t y = sat16(((es.line[read] * es.gain) >> 14) + buf[s]);
        buf[s] = y;
        es.line[write] = y;
        if (++read == ECHO_LINE_LEN) read = 0;
        if (++write == ECHO_LINE_LEN) write = 0;
    }
    es.read = static_cast<std::int16_t>(read);
    es.write = static_cast<std::int16_t>(write);
}

void apply_effects(Effects_state &fx, std::int16_t *buf, int n, int e) {
    const int setting = (e >> 2) & 7;
    if (setting != 0) {
        std::int16_t shifted[QRXC_MAX_PCM_FRAME];
        pitch_shift(buf, n, setting, shifted);
        std::memcpy(buf, shifted, static_cast<std::size_t>(n) * sizeof(std::int16_t));
    }
    switch (e & 3) {
    case 1: vibrato(fx.vibrato, buf, n); break;
    case 2:
    case 3: echo(fx.echo, buf, n, e & 3); break;
    default: break;
    }
}

}  // namespace qrxc
