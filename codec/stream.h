// The open-stream record and the per-frame dispatch.
#pragma once

#include <cstdint>
#include <type_traits>

#include "qrxc.h"

namespace qrxc {

struct Codec_stream {
    int direction;               // 1 encode, 2 decode, 0 no open stream
    G_header header;
    std::uint8_t version_byte;   // used by the next encoding open; 0x40 at load
    int rate_select;
    std::uint16_t resample;
    int enc_bits, dec_bits;
    std::uint32_t pack_acc;
    int pack_count;
    std::uint32_t unpack_acc;
    int unpack_count;
};
static_assert(std::is_trivially_copyable_v<Codec_stream>);

}  // namespace qrxc
