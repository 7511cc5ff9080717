// The gain tables as the SIMD scorings read them: column pairs interleaved
// across groups of eight rows, so that one pair multiply-add gives a pair of
// products for several rows at once. Each lane keeps its first largest
// score; the caller merges the lanes and the rows these forms leave out
// (see acb_search.cpp).
#pragma once

#include <cstdint>

#include "g723/common/types.h"

namespace qrxc::g723 {

inline constexpr int ROW_GROUP = 8;
inline constexpr int COL_PAIRS = 10;

// A table's rows in groups of eight: t[p][2 l + c] is row 8 g + l, column
// 2 p + c; use[l] is all ones for the rows the lanes may score.
struct Row_group {
    alignas(32) Word16 t[COL_PAIRS][2 * ROW_GROUP];
    alignas(32) std::int32_t use[ROW_GROUP];
};

// The first largest score of each lane and its row.
struct Lane_best {
    alignas(32) std::int32_t score[ROW_GROUP];
    alignas(32) std::int32_t row[ROW_GROUP];
};

// The 20 values as ten (v[2p], v[2p+1]) pairs in 32-bit lanes.
inline void pack_pairs(std::int32_t out[COL_PAIRS], const Word16 v[2 * COL_PAIRS]) {
    for (int p = 0; p < COL_PAIRS; ++p)
        out[p] = static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint16_t>(v[2 * p])) |
                                           static_cast<std::uint32_t>(static_cast<std::uint16_t>(v[2 * p + 1])) << 16);
}

}  // namespace qrxc::g723
