#include "codec/speed_path.h"

#include "codec/context.h"
#include "speed/speed_control.h"
#include "speed/voice_effects.h"

namespace qrxc {

namespace {

constexpr int EFFECT_MODE = 0x80;
constexpr int RESERVED = 0x40;

bool bad_flags(int flags) { return (flags & (EFFECT_MODE | RESERVED)) == (EFFECT_MODE | RESERVED); }

int level_of(int flags) {
    if ((flags & EFFECT_MODE) != 0) return NORMAL_LEVEL;
    const int level = flags & 0x0F;
    return level > SPEED_LEVELS - 1 ? SPEED_LEVELS - 1 : level;
}

}  // namespace

int qrmd_initial(Qrxc_context &ctx, int flags) {
    flags &= 0xFF;
    if (bad_flags(flags)) return -1;
    speed_reset(ctx.speed, level_of(flags));
    return 0;
}

int qrmd_frame(Qrxc_context &ctx, int flags, const short *src, short *dst) {
    flags &= 0xFF;
    const int frame = ctx.stream.header.pcm_frame;
    // Only the frame lengths a stream can have; anything else would not fit the buffers.
    if (bad_flags(flags) || src == nullptr || dst == nullptr || !ctx.stream.open || ctx.speed.ready == 0 ||
        (frame != 240 && frame != 320)) {
        ctx.speed.last_count = 0;
        return -1;
    }
    const int effect = (flags & EFFECT_MODE) != 0 ? flags & 0x1F : 0;
    const int n = speed_step(ctx.speed, level_of(flags), src, frame, dst);
    // The frame that switches levels is flushed as it is: its length differs.
    if (effect != 0 && n == frame) apply_effects(ctx.effects, dst, n, effect);
    ctx.speed.last_count = n;
    return 0;
}

}  // namespace qrxc
