#include "codec/speed_path.h"

#include "codec/context.h"
#include "speed/speed_control.h"
#include "speed/voice_effects.h"

namespace qrxc {

namespace {

bool bad_flags(int flags) { return (flags & (QRMD_EFFECT_MODE | QRMD_RESERVED)) == (QRMD_EFFECT_MODE | QRMD_RESERVED); }

int level_of(int flags) {
    if ((flags & QRMD_EFFECT_MODE) != 0) return NORMAL_LEVEL;
    const int level = flags & QRMD_LEVEL_MASK;
    return level > SPEED_LEVELS - 1 ? SPEED_LEVELS - 1 : level;
}

// Only the frame lengths a stream type has; anything else would not fit the buffers.
bool is_stream_frame(int pcm_frame) {
    for (unsigned type = 0; type <= TYPE_ADPCM_5; ++type) {
        const Stream_mode *mode = stream_mode(type);
        if (mode != nullptr && mode->pcm_frame == pcm_frame) return true;
    }
    return false;
}

}  // namespace

int qrmd_initial(Qrxc_context &ctx, int flags) {
    flags &= 0xFF;
    if (bad_flags(flags)) return QRXC_ERR_ARG;
    speed_reset(ctx.speed, level_of(flags));
    return QRXC_OK;
}

int qrmd_process(Qrxc_context &ctx, int flags, const short *src, short *dst) {
    flags &= 0xFF;
    ctx.speed.last_count = 0;
    if (bad_flags(flags) || src == nullptr || dst == nullptr) return QRXC_ERR_ARG;
    const int frame = ctx.stream.header.pcm_frame;
    if (!(ctx.stream.open || ctx.stream.speed_only) || ctx.speed.ready == 0 || !is_stream_frame(frame))
        return QRXC_ERR_NOT_OPEN;
    const int effect = (flags & QRMD_EFFECT_MODE) != 0 ? flags & QRMD_EFFECT_MASK : 0;
    const int n = speed_step(ctx.speed, level_of(flags), src, frame, dst);
    // The frame that switches levels is flushed as it is: its length differs.
    if (effect != 0 && n == frame) apply_effects(ctx.effects, dst, n, effect);
    ctx.speed.last_count = n;
    return n;
}

int qrmd_frame(Qrxc_context &ctx, int flags, const short *src, short *dst) {
    return qrmd_process(ctx, flags, src, dst) < 0 ? QRXC_ERR_ARG : QRXC_OK;
}

int qrmd_open(Qrxc_context &ctx, int pcm_frame, int flags) {
    if (bad_flags(flags & 0xFF)) return QRXC_ERR_ARG;
    if (!is_stream_frame(pcm_frame)) return QRXC_ERR_BUFFER;
    Codec_stream &s = ctx.stream;
    s.open = false;
    s.direction = 0;
    s.speed_only = true;
    s.header.pcm_frame = static_cast<std::uint16_t>(pcm_frame);
    // A fresh start, as opening a stream gives one.
    ctx.effects = Effects_state{};
    return qrmd_initial(ctx, flags);
}

}  // namespace qrxc
