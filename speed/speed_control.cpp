#include "speed/speed_control.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "qrxc.h"

namespace qrxc {

namespace {

constexpr std::int16_t TARGET_240[SPEED_LEVELS] = {120, 150, 180, 210, 240, 270, 300, 330, 360, 390, 420, 450, 480};
constexpr std::int16_t TARGET_320[SPEED_LEVELS] = {160, 200, 240, 280, 320, 360, 400, 440, 480, 520, 560, 600, 640};

// Copy factor per level: A/2048 + B/2048^2 + C/2048^3 samples copied per
// period, i.e. 1, 5/3, 3, 7, -, 8, 4, 8/3, 2, 1.6, 4/3, 8/7, 1.
constexpr std::int32_t FACTOR_A[SPEED_LEVELS] = {2048, 3413, 6144, 14336, 2048, 16384, 8192,
                                                 5461, 4096, 3276, 2730,  2340, 2048};
constexpr std::int32_t FACTOR_B[SPEED_LEVELS] = {0, 682, 0, 0, 0, 0, 0, 682, 0, 1638, 1365, 1170, 0};
constexpr std::int32_t FACTOR_C[SPEED_LEVELS] = {0, 1365, 0, 0, 0, 0, 0, 1365, 0, 819, 682, 585, 0};

// Q15 slope of the cross-fade over a period of m samples.
constexpr std::array<std::int16_t, PITCH_MAX + 1> FADE_STEP = [] {
    std::array<std::int16_t, PITCH_MAX + 1> t{};
    t[2] = 32767;
    for (int m = 3; m <= PITCH_MAX; ++m) t[m] = static_cast<std::int16_t>(32768 / (m - 1));
    return t;
}();

constexpr std::int32_t LIMB_MASK = 2047;

// The diagnostics keep the design's words; processing goes on after them.
[[gnu::format(printf, 2, 3)]] void report(const Speed_state &st, const char *format, ...) {
    if (st.diag.fn == nullptr) return;
    char text[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    st.diag.fn(st.diag.user, text);
}

std::int16_t fade_weight(int i, int m) { return static_cast<std::int16_t>(std::min(i * FADE_STEP[m], 32767)); }

// Fades from a into b over the period: out[i] = ((32767 - w) * a[i] + w * b[i]) >> 15.
// A convex mix, so it never leaves 16 bits.
void cross_fade(const std::int16_t *a, const std::int16_t *b, std::int16_t *out, int m) {
    for (int i = 0; i < m; ++i) {
        const std::int32_t w = fade_weight(i, m);
        out[i] = static_cast<std::int16_t>(((32767 - w) * a[i] + w * b[i]) >> 15);
    }
}

void copy_samples(std::int16_t *dst, const std::int16_t *src, int n) {
    if (n > 0) std::memcpy(dst, src, static_cast<std::size_t>(n) * sizeof(std::int16_t));
}

}  // namespace

int speed_target(int level, int pcm_frame) {
    level = std::clamp(level, 0, SPEED_LEVELS - 1);
    return pcm_frame == 240 ? TARGET_240[level] : TARGET_320[level];
}

int speed_period_search(const std::int16_t *x, int max_lag) {
    constexpr int CHUNK = WINLENGTH / 3;
    std::uint32_t best = UINT32_MAX;
    int lag = PITCH_MIN;
    for (int k = PITCH_MIN; k <= max_lag; ++k) {
        std::uint32_t sum = 0;
        // A lag whose partial sum already reaches the best cannot win, so
        // it is dropped early; the choice is the same as with full sums.
        for (int from = 0; from < WINLENGTH && sum < best; from += CHUNK) {
            for (int i = from; i < from + CHUNK; ++i) {
                const std::int16_t a = x[k + i], b = x[i];
                // max - min is |a - b| exactly, and fits 16 unsigned bits.
                sum += static_cast<std::uint16_t>(std::max(a, b) - std::min(a, b));
            }
        }
        if (sum < best) {
            best = sum;
            lag = k;
        }
    }
    return lag;
}

int speed_copy_length(Speed_state &st, int m, int level) {
    const std::int32_t a = m * FACTOR_A[level];
    const std::int32_t b = m * FACTOR_B[level];
    const std::int32_t c = m * FACTOR_C[level];
    // Base-2048 addition of m * (A, B, C) onto the carried remainder: the
    // copy lengths summed over any run of periods never drift.
    const std::int32_t lo = st.frac_lo + (c & LIMB_MASK);
    st.frac_lo = static_cast<std::int16_t>(lo & LIMB_MASK);
    const std::int32_t mid = st.frac_mid + (c >> 11) + (lo >> 11) + (b & LIMB_MASK);
    st.frac_mid = static_cast<std::int16_t>(mid & LIMB_MASK);
    const std::int32_t hi = st.frac_hi + (b >> 11) + (mid >> 11) + (a & LIMB_MASK);
    st.frac_hi = static_cast<std::int16_t>(hi & LIMB_MASK);
    return (a >> 11) + (hi >> 11);
}

void speed_reset(Speed_state &st, int level) {
    st.ready = 1;
    st.level = static_cast<std::int16_t>(level);
    st.pending = 0;
    std::memset(st.buffer, 0, sizeof st.buffer);
    st.size = INIT_SIZE;
    st.frac_hi = st.frac_mid = st.frac_lo = 0;
}

int speed_step(Speed_state &st, int level, const std::int16_t *src, int pcm_frame, std::int16_t *dst) {
    st.frame_count = static_cast<std::int32_t>(static_cast<std::uint32_t>(st.frame_count) + 1u);
    const int frame_no = st.frame_count;

    // Work area: the held samples, then the new frame, then room for the
    // silence a damaged state may need below.
    std::int16_t work[BUFFER_CAPACITY + QRXC_MAX_PCM_FRAME + INIT_SIZE];
    int size = std::clamp<int>(st.size, 0, BUFFER_CAPACITY);
    copy_samples(work, st.buffer, size);
    copy_samples(work + size, src, pcm_frame);
    size += pcm_frame;
    int at = 0;

    if (level != st.level) {
        if (size < INIT_SIZE)
            report(st, "FATAL ERROR!!! %d: speed.size(%d) < INIT_SIZE(%d)\n", frame_no, size, INIT_SIZE);
        // Flush everything but the last INIT_SIZE samples, which start the new level.
        const int flushed = std::clamp(size - INIT_SIZE, 0, 2 * pcm_frame);
        copy_samples(dst, work, flushed);
        const int keep = std::min(size, INIT_SIZE);
        std::memset(st.buffer, 0, sizeof st.buffer);
        copy_samples(st.buffer + (INIT_SIZE - keep), work + size - keep, keep);
        st.level = static_cast<std::int16_t>(level);
        st.pending = 0;
        st.frac_hi = st.frac_mid = st.frac_lo = 0;
        st.size = INIT_SIZE;
        return flushed;
    }

    if (level == NORMAL_LEVEL) {
        if (size != pcm_frame + INIT_SIZE)
            report(st, "FATAL ERROR!!! %d: speed.size(%d) = INIT_SIZE(%d)+G_header.pcm_frame(%d)\n", frame_no, size,
                   INIT_SIZE, pcm_frame);
        if (size < pcm_frame + INIT_SIZE)
            std::memset(work + size, 0, static_cast<std::size_t>(pcm_frame + INIT_SIZE - size) * 2);
        copy_samples(dst, work, pcm_frame);
        copy_samples(st.buffer, work + pcm_frame, INIT_SIZE);
        st.size = INIT_SIZE;
        return pcm_frame;
    }

    const int target = speed_target(level, pcm_frame);
    int pending = std::max<int>(st.pending, 0);
    int written = 0;
    int carried = 0;
    std::int16_t carry[PITCH_MAX];

    if (pending > 0) {
        const int due = std::min({pending, target, size});
        copy_samples(dst, work, due);
        written = due;
        at = due;
        pending -= due;
        size -= due;
    }

    while (written < target) {
        if (size < PITCH_MAX + WINLENGTH)
            report(st, "FATAL ERROR!!! %d: speed.size(%d) < (PITCH_MAX+WINLENGTH) (%d)\n", frame_no, size,
                   PITCH_MAX + WINLENGTH);
        // Short of samples, only the lags whose window is held are tried.
        const int max_lag = std::min(PITCH_MAX, size - WINLENGTH);
        if (max_lag < PITCH_MIN) {
            // Too little held for any period: pass it through and end the
            // frame with silence rather than read what is not there.
            const int left = std::min(target - written, size);
            copy_samples(dst + written, work + at, left);
            written += left;
            at += left;
            size -= left;
            std::fill(dst + written, dst + target, std::int16_t{0});
            written = target;
            pending = 0;
            break;
        }
        const int period = speed_period_search(work + at, max_lag);

        if (level < NORMAL_LEVEL) {
            // Faster: the second period fades in over the first, which is dropped.
            cross_fade(work + at, work + at + period, work + at + period, period);
            size -= period;
            at += period;
        } else {
            // Slower: the period goes out, then comes again faded into the next one.
            const int shown = std::min(target - written, period);
            copy_samples(dst + written, work + at, shown);
            written += shown;
            carried = period - shown;
            copy_samples(carry, work + at + shown, carried);
            cross_fade(work + at + period, work + at, work + at, period);
        }

        int copy_left = speed_copy_length(st, period, level);
        if (written < target) {
            const int copied = std::min({target - written, copy_left, size});
            if (copied > 0) {
                copy_samples(dst + written, work + at, copied);
                written += copied;
                at += copied;
                size -= copied;
                copy_left -= copied;
            }
        }
        pending = copy_left;
    }

    if (size + carried > BUFFERLEN)
        report(st, "FATAL ERROR!!! %d: speed.size(%d)+oflw(%d) > BUFFERLEN(%d)\n", frame_no, size, carried, BUFFERLEN);
    // The capacity holds a period more than the design ever needs; should a
    // damaged state overflow it, the newest samples go rather than memory.
    const int keep = std::min(size, BUFFER_CAPACITY - carried);
    copy_samples(st.buffer, carry, carried);
    copy_samples(st.buffer + carried, work + at, keep);
    st.pending = static_cast<std::int16_t>(std::min(pending + carried, 32767));
    st.size = static_cast<std::int16_t>(keep + carried);
    return target;
}

}  // namespace qrxc
