// Saturating 16/32-bit fixed-point operators and the small numeric helpers
// every G.723.1 stage uses. Results are bit-exact; saturation shows only in
// the result (no overflow flag, no state).
//
// `round` lives in namespace qrxc::g723 and hides ::round inside it; code outside
// the namespace calls it as qrxc::g723::round.
#pragma once

#include <bit>
#include <cstdint>

#include "g723/common/types.h"

namespace qrxc::g723 {

inline constexpr Word16 MAX_16 = 0x7fff;
inline constexpr Word16 MIN_16 = -0x8000;
inline constexpr Word32 MAX_32 = 0x7fffffff;
inline constexpr Word32 MIN_32 = -0x7fffffff - 1;

// x in Q format q (x * 2^q rounded to the nearest word), for constants:
// Q15(0.75) is 0x6000. 1.0 in Q15 gives MAX_16; anything else outside the
// word range does not compile.
consteval Word16 Q(int q, double x) {
    const double s = x * static_cast<double>(std::int64_t{1} << q);
    const double r = s < 0 ? s - 0.5 : s + 0.5;
    if (r >= 32768.0 && r < 32769.0) return MAX_16;
    if (r >= 32768.0 || r <= -32769.0) throw "constant out of the Word16 range";
    return static_cast<Word16>(static_cast<std::int32_t>(r));
}
consteval Word16 Q15(double x) { return Q(15, x); }

// Clamp to the Word16 range.
constexpr Word16 sat16(Word32 x) { return static_cast<Word16>(x > MAX_16 ? MAX_16 : (x < MIN_16 ? MIN_16 : x)); }
// Clamp a 64-bit value to the Word32 range.
constexpr Word32 sat32(std::int64_t x) { return static_cast<Word32>(x > MAX_32 ? MAX_32 : (x < MIN_32 ? MIN_32 : x)); }

// 16 + 16 -> 16, saturating.
constexpr Word16 add(Word16 a, Word16 b) { return sat16(Word32{a} + b); }
// 16 - 16 -> 16, saturating.
constexpr Word16 sub(Word16 a, Word16 b) { return sat16(Word32{a} - b); }
// |a|; -32768 gives 32767.
constexpr Word16 abs_s(Word16 a) { return a == MIN_16 ? MAX_16 : static_cast<Word16>(a < 0 ? -a : a); }
// -a; -32768 gives 32767.
constexpr Word16 negate(Word16 a) { return a == MIN_16 ? MAX_16 : static_cast<Word16>(-a); }

constexpr Word16 shr(Word16 a, int n);
// a * 2^n saturated; a negative n shifts right.
constexpr Word16 shl(Word16 a, int n) {
    if (n < 0) return shr(a, n < -16 ? 16 : -n);
    if (n > 15) return a == 0 ? Word16{0} : (a > 0 ? MAX_16 : MIN_16);
    return sat16(Word32{a} * (Word32{1} << n));
}
// a >> n, flooring; a negative n shifts left with saturation.
constexpr Word16 shr(Word16 a, int n) {
    if (n < 0) return shl(a, n < -16 ? 16 : -n);
    if (n >= 15) return a < 0 ? Word16{-1} : Word16{0};
    return static_cast<Word16>(a >> n);
}
// (a * b) >> 15, flooring; only -32768 * -32768 saturates.
constexpr Word16 mult(Word16 a, Word16 b) { return sat16((Word32{a} * b) >> 15); }

// Upper 16 bits of L.
constexpr Word16 extract_h(Word32 L) { return static_cast<Word16>(L >> 16); }
// Lower 16 bits of L, read as signed.
constexpr Word16 extract_l(Word32 L) { return static_cast<Word16>(static_cast<std::uint16_t>(L & 0xffff)); }
// a in the upper half.
constexpr Word32 L_deposit_h(Word16 a) { return Word32{a} * 65536; }
// a sign-extended.
constexpr Word32 L_deposit_l(Word16 a) { return Word32{a}; }

// 2 * a * b; only -32768 * -32768 saturates.
constexpr Word32 L_mult(Word16 a, Word16 b) {
    const Word32 p = Word32{a} * b;
    return p == 0x40000000 ? MAX_32 : p * 2;
}
// 32 + 32 -> 32, saturating.
constexpr Word32 L_add(Word32 a, Word32 b) { return sat32(std::int64_t{a} + b); }
// 32 - 32 -> 32, saturating.
constexpr Word32 L_sub(Word32 a, Word32 b) { return sat32(std::int64_t{a} - b); }
// acc + 2ab, each step saturating.
constexpr Word32 L_mac(Word32 acc, Word16 a, Word16 b) { return L_add(acc, L_mult(a, b)); }
// acc - 2ab, each step saturating.
constexpr Word32 L_msu(Word32 acc, Word16 a, Word16 b) { return L_sub(acc, L_mult(a, b)); }
// -A; MIN_32 gives MAX_32.
constexpr Word32 L_negate(Word32 a) { return a == MIN_32 ? MAX_32 : -a; }
// |A|; MIN_32 gives MAX_32.
constexpr Word32 L_abs(Word32 a) { return a == MIN_32 ? MAX_32 : (a < 0 ? -a : a); }

constexpr Word32 L_shr(Word32 a, int n);
// A * 2^n saturated; a negative n shifts right.
constexpr Word32 L_shl(Word32 a, int n) {
    if (n < 0) return L_shr(a, n < -32 ? 32 : -n);
    if (n > 32) n = 32;  // any non-zero value saturates by then
    return sat32(std::int64_t{a} * (std::int64_t{1} << n));
}
// A >> n, flooring; a negative n shifts left with saturation.
constexpr Word32 L_shr(Word32 a, int n) {
    if (n < 0) return L_shl(a, n < -32 ? 32 : -n);
    if (n >= 31) return a < 0 ? -1 : 0;
    return a >> n;
}

// Upper half of L + 0x8000, saturating: never wraps to -32768.
constexpr Word16 round(Word32 L) { return extract_h(L_add(L, 0x8000)); }
// round(L_mult(a, b)).
constexpr Word16 mult_r(Word16 a, Word16 b) { return round(L_mult(a, b)); }

// Left shifts that bring a into [0x4000, 0x7fff] (or its negative mirror,
// measured on ~a); 0 for 0, 15 for -1.
constexpr Word16 norm_s(Word16 a) {
    if (a == 0) return 0;
    if (a == -1) return 15;
    const auto v = static_cast<std::uint16_t>(a < 0 ? ~a : a);
    return static_cast<Word16>(std::countl_zero(v) - 1);
}
// As norm_s for 32 bits: 0 for 0, 31 for -1.
constexpr Word16 norm_l(Word32 a) {
    if (a == 0) return 0;
    if (a == -1) return 31;
    const auto v = static_cast<std::uint32_t>(a < 0 ? ~a : a);
    return static_cast<Word16>(std::countl_zero(v) - 1);
}

// Q15 quotient floor(num * 32768 / den) for 0 <= num < den. Out-of-contract
// arguments give MAX_16 (num >= den) or 0 (num or den not positive).
constexpr Word16 div_s(Word16 num, Word16 den) {
    if (num <= 0 || den <= 0) return 0;
    if (num >= den) return MAX_16;
    return static_cast<Word16>((Word32{num} << 15) / den);
}

// A * b / 32768 in three steps: the unsigned low half, then the high half
// through L_mac (so 0x8000 * 0x8000 saturates as L_mult does).
constexpr Word32 mult_32_16(Word32 A, Word16 b) {
    Word32 lo = static_cast<Word32>(A & 0xffff) * b;
    lo >>= 15;
    return L_mac(lo, extract_h(A), b);
}

// floor(A / (2 d)) for 0 <= A < d * 65536, d > 0. Callers handle A >= d *
// 65536 themselves; the guards only keep other arguments harmless.
constexpr Word16 div_32_16(Word32 A, Word16 d) {
    if (d <= 0) return MAX_16;
    if (A <= 0) return 0;
    const Word32 q = A / d;
    if (q > 0xffff) return MAX_16;
    return static_cast<Word16>(static_cast<std::uint16_t>(q) >> 1);
}

// Scales v so that its largest magnitude lands in [0x0800, 0x0fff]; returns
// how many bits it moved up (negative: down).
inline Word16 vector_normalize(Word16 *v, int len) {
    // The largest abs_s(v[i]): the plain magnitude's maximum with -32768
    // counted as 32767, in int so that the loop vectorises.
    int peak = 0;
    for (int i = 0; i < len; ++i) {
        const int a = v[i] < 0 ? -v[i] : v[i];
        peak = a > peak ? a : peak;
    }
    const auto m = static_cast<Word16>(peak > MAX_16 ? MAX_16 : peak);
    const int e = m == 0 ? 0 : norm_s(m);
    for (int i = 0; i < len; ++i) v[i] = static_cast<Word16>((Word32{v[i]} * (Word32{1} << e)) >> 3);
    return static_cast<Word16>(e - 3);
}

// Bitwise square root: Q31 in, Q15 out, 14 bits tried.
constexpr Word16 fixed_sqrt(Word32 A) {
    Word16 r = 0;
    Word16 step = 0x4000;
    for (int i = 0; i < 14; ++i) {
        const Word16 t = add(r, step);
        if (A >= L_mult(t, t)) r = t;
        step = static_cast<Word16>(step >> 1);
    }
    return r;
}

// Linear congruential noise: seed = seed * 521 + 259 modulo 2^16.
constexpr Word16 rand16(Word16 &seed) {
    const auto s = static_cast<std::uint16_t>(seed);
    seed = static_cast<Word16>(static_cast<std::uint16_t>(s * 521u + 259u));
    return seed;
}

}  // namespace qrxc::g723
