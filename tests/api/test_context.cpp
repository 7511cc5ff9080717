#include <gtest/gtest.h>

#include "codec/context.h"

TEST(Context, FreshContextHasLoadValues) {
    Qrxc_context *ctx = Qrxc_create();
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(ctx->stream.direction, 0);
    EXPECT_EQ(ctx->stream.version_byte, 0x40);
    EXPECT_EQ(ctx->adpcm.dec4.y, 544);
    Qrxc_destroy(ctx);
}
