// 4:3 rate converter between the 320-sample frames of type 0 and the
// coder's 240: zero-stuff, one shared 33-tap low-pass, decimate.
#pragma once

#include <type_traits>

namespace qrxc {

struct Rate_converter {
    int rc_num;           // 3 after rc_reset: up-factor downward, decimation upward
    short up_line[33];    // upward filter memory, newest first
    int rc_den;           // 4 after rc_reset
    short down_line[33];  // downward filter memory, newest first
};
static_assert(std::is_trivially_copyable_v<Rate_converter>);

void rc_reset(Rate_converter &rc, int num, int den);
// n input samples to (rc_num * n) / rc_den outputs; src may equal dst for
// n up to 960. Factors outside 1..8 (a converter never reset) write nothing.
void rc_down(Rate_converter &rc, const short *src, short *dst, int n);
// n input samples to (rc_den * n) / rc_num outputs; src may equal dst for
// n up to 960.
void rc_up(Rate_converter &rc, const short *src, short *dst, int n);

}  // namespace qrxc
