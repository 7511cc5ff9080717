// The bit layouts of a G.723.1 frame as slot tables: every field of our
// layout (frame.h) and of the standard one (standard_frame.h), in the order
// they are packed, least significant bit first, byte after byte. The frame
// packer and both layout converters read and write through these tables.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "g723/common/types.h"

namespace qrxc::g723::layout {

// clang-format off
enum Field : unsigned char {
    KIND, LSP, LAG0, LAG1, ACL1, ACL3, G0, G1, G2, G3, GRID0, GRID1, GRID2, GRID3,
    RSV, MSBPOS, POS0, POS1, POS2, POS3, PSIG0, PSIG1, PSIG2, PSIG3, FIELD_COUNT
};

struct Slot {
    Field field;
    unsigned char width;
};

// Our layout: the lags as whole bytes, no kind bits.
inline constexpr Slot OURS_63[] = {
    {LSP, 24}, {LAG0, 8}, {LAG1, 8}, {ACL1, 2}, {ACL3, 2}, {G0, 12}, {G1, 12}, {G2, 12}, {G3, 12},
    {GRID0, 1}, {GRID1, 1}, {GRID2, 1}, {GRID3, 1}, {RSV, 1}, {MSBPOS, 13},
    {POS0, 16}, {POS1, 14}, {POS2, 16}, {POS3, 14}, {PSIG0, 6}, {PSIG1, 5}, {PSIG2, 6}, {PSIG3, 5},
};
inline constexpr Slot OURS_53[] = {
    {LSP, 24}, {LAG0, 8}, {LAG1, 8}, {ACL1, 2}, {ACL3, 2}, {G0, 12}, {G1, 12}, {G2, 12}, {G3, 12},
    {GRID0, 1}, {GRID1, 1}, {GRID2, 1}, {GRID3, 1},
    {PSIG0, 4}, {PSIG1, 4}, {PSIG2, 4}, {PSIG3, 4}, {POS0, 12}, {POS1, 12}, {POS2, 12}, {POS3, 12},
};
// The standard layout: kind bits first, each lag followed by its pair's offset.
inline constexpr Slot STANDARD_63[] = {
    {KIND, 2}, {LSP, 24}, {LAG0, 7}, {ACL1, 2}, {LAG1, 7}, {ACL3, 2}, {G0, 12}, {G1, 12}, {G2, 12}, {G3, 12},
    {GRID0, 1}, {GRID1, 1}, {GRID2, 1}, {GRID3, 1}, {RSV, 1}, {MSBPOS, 13},
    {POS0, 16}, {POS1, 14}, {POS2, 16}, {POS3, 14}, {PSIG0, 6}, {PSIG1, 5}, {PSIG2, 6}, {PSIG3, 5},
};
inline constexpr Slot STANDARD_53[] = {
    {KIND, 2}, {LSP, 24}, {LAG0, 7}, {ACL1, 2}, {LAG1, 7}, {ACL3, 2}, {G0, 12}, {G1, 12}, {G2, 12}, {G3, 12},
    {GRID0, 1}, {GRID1, 1}, {GRID2, 1}, {GRID3, 1},
    {POS0, 12}, {POS1, 12}, {POS2, 12}, {POS3, 12}, {PSIG0, 4}, {PSIG1, 4}, {PSIG2, 4}, {PSIG3, 4},
};
// clang-format on

template <std::size_t N>
constexpr int layout_bits(const Slot (&slots)[N]) {
    int bits = 0;
    for (const Slot &s : slots) bits += s.width;
    return bits;
}

// Where each slot starts, in bits from the frame's start.
template <std::size_t N>
constexpr std::array<unsigned, N> slot_offsets(const Slot (&slots)[N]) {
    std::array<unsigned, N> at{};
    unsigned pos = 0;
    for (std::size_t i = 0; i < N; ++i) {
        at[i] = pos;
        pos += slots[i].width;
    }
    return at;
}

using Values = std::uint32_t[FIELD_COUNT];

// Four bytes from p as a little-endian value, whatever the host.
inline std::uint32_t load_le32(const unsigned char *p) {
    if constexpr (std::endian::native == std::endian::little) {
        std::uint32_t w;
        std::memcpy(&w, p, sizeof w);
        return w;
    } else {
        return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
               static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    }
}

// The slots of a layout, read into v (other fields are left alone). A slot
// spans at most 4 bytes (24 bits from any bit offset), so each is one
// 32-bit window into a copy padded past the layout's last byte.
template <const auto &SLOTS>
inline void read_fields(const unsigned char *in, Values &v) {
    constexpr std::size_t N = std::size(SLOTS);
    constexpr unsigned BYTES = static_cast<unsigned>(layout_bits(SLOTS) / 8);
    constexpr auto AT = slot_offsets(SLOTS);
    unsigned char padded[BYTES + 3] = {};
    std::memcpy(padded, in, BYTES);
#pragma GCC unroll 32
    for (std::size_t i = 0; i < N; ++i)
        v[SLOTS[i].field] = (load_le32(padded + (AT[i] >> 3)) >> (AT[i] & 7)) & ((1u << SLOTS[i].width) - 1);
}

// Writes v into the layout's bytes, all of them: a value too wide for its
// slot is written as the slot's largest value (only a lag code above 127
// in the standard layout's 7 bits can be).
template <const auto &SLOTS>
inline void write_fields(const Values &v, unsigned char *out) {
    constexpr std::size_t N = std::size(SLOTS);
    constexpr unsigned BYTES = static_cast<unsigned>(layout_bits(SLOTS) / 8);
    constexpr auto AT = slot_offsets(SLOTS);
    std::memset(out, 0, BYTES);
#pragma GCC unroll 32
    for (std::size_t i = 0; i < N; ++i) {
        const std::uint32_t max = (1u << SLOTS[i].width) - 1;
        const std::uint32_t x = (v[SLOTS[i].field] > max ? max : v[SLOTS[i].field]) << (AT[i] & 7);
        const unsigned first = AT[i] >> 3;
        for (unsigned k = 0; k < 4 && first + k < BYTES; ++k)
            out[first + k] = static_cast<unsigned char>(out[first + k] | ((x >> (8 * k)) & 0xFFu));
    }
}

}  // namespace qrxc::g723::layout
