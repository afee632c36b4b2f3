// Arithmetic on the NIST curve P-256 (y^2 = x^3 - 3x + b over the prime field of p, group of
// prime order n, base point G), as much as ECDSA verification needs: numbers modulo p and n in
// Montgomery form, points in Jacobian coordinates, and scalar multiplication by a Montgomery
// ladder. Every input is public (keys, signatures, digests), so nothing here is constant-time;
// only mod_add selects without a branch.
#pragma once

#include <array>
#include <optional>
#include <string_view>

#include "core/types.h"

#if defined(__x86_64__)
#include <x86intrin.h>
#endif

namespace orvelo {

__extension__ typedef unsigned __int128 u128;

// A 256-bit unsigned number as four 64-bit limbs, least significant limb first.
using Limbs = std::array<u64, 4>;

// A number below its modulus m, held as x·R mod m with R = 2^256 unless an operation says plain.
// Zero is zero in both forms.
using FieldElement = Limbs;

// 32 bytes big-endian: how every number enters and leaves this unit.
using Bytes32 = std::array<u8, 32>;
// An affine point: X then Y, each 32 bytes big-endian.
using Bytes64 = std::array<u8, 64>;

// A modulus m with 2^255 < m < 2^256, odd, and its Montgomery constants.
struct Modulus {
    Limbs m;
    Limbs r2;     // R^2 mod m
    Limbs r;      // R mod m, the Montgomery form of 1
    u64 m_prime;  // -m^-1 mod 2^64
};

// The affine point (x/z^2, y/z^3), each coordinate mod p in Montgomery form; z = 0 is the point
// at infinity.
struct JacobianPoint {
    FieldElement x;
    FieldElement y;
    FieldElement z;
};

// ---- Building constants at compile time ----

// 64 hexadecimal digits, most significant first.
consteval Limbs limbs_from_hex(std::string_view hex) {
    Limbs limbs = {};
    for (std::size_t i = 0; i < 64; ++i) {
        const char c = hex[i];
        const u64 digit = c <= '9' ? u64(c - '0') : u64(c - 'a' + 10);
        limbs[3 - i / 16] |= digit << (4 * (15 - i % 16));
    }
    return limbs;
}

constexpr Limbs limbs_from_bytes(const u8* bytes) {
    Limbs limbs = {};
    for (int i = 0; i < 32; ++i) {
        limbs[3 - i / 8] = (limbs[3 - i / 8] << 8) | bytes[i];
    }
    return limbs;
}

constexpr Bytes32 limbs_to_bytes(const Limbs& limbs) {
    Bytes32 bytes = {};
    for (int i = 0; i < 32; ++i) {
        bytes[i] = static_cast<u8>(limbs[3 - i / 8] >> (8 * (7 - i % 8)));
    }
    return bytes;
}

constexpr bool is_zero(const Limbs& x) {
    return (x[0] | x[1] | x[2] | x[3]) == 0;
}

// ---- Arithmetic modulo m ----

namespace p256_detail {

// a + b + carry_in (0 or 1): the low 64 bits, carry_in becomes the carry out. At run time on
// x86-64 the add-with-carry instruction; in constant evaluation the same sum in 128 bits.
[[gnu::always_inline]] constexpr u64 add_carry(u64 a, u64 b, u64& carry) {
#if defined(__x86_64__)
    if
        !consteval {
            unsigned long long sum = 0;
            carry = _addcarry_u64(static_cast<unsigned char>(carry), a, b, &sum);
            return sum;
        }
#endif
    const u128 sum = u128(a) + b + carry;
    carry = static_cast<u64>(sum >> 64);
    return static_cast<u64>(sum);
}

// a − b − borrow_in (0 or 1): the low 64 bits, borrow_in becomes the borrow out.
[[gnu::always_inline]] constexpr u64 sub_borrow(u64 a, u64 b, u64& borrow) {
#if defined(__x86_64__)
    if
        !consteval {
            unsigned long long difference = 0;
            borrow = _subborrow_u64(static_cast<unsigned char>(borrow), a, b, &difference);
            return difference;
        }
#endif
    const u128 difference = u128(a) - b - borrow;
    borrow = static_cast<u64>(difference >> 64) & 1;
    return static_cast<u64>(difference);
}

// low word of t + a·b + carry; carry becomes the high word (the sum fits in 128 bits).
[[gnu::always_inline]] constexpr u64 multiply_add(u64 t, u64 a, u64 b, u64& carry) {
    const u128 sum = u128(a) * b + t + carry;
    carry = static_cast<u64>(sum >> 64);
    return static_cast<u64>(sum);
}

// One CIOS step on the five-word accumulator t (t[4] is 0 or 1 between steps): t += a·b_i,
// then t = (t + q·m) / 2^64 with q chosen so that the division is exact.
[[gnu::always_inline]] constexpr void mont_step(u64 (&t)[5], const FieldElement& a, u64 b_i,
                                                const Modulus& modulus) {
    u64 carry = 0;
    t[0] = multiply_add(t[0], a[0], b_i, carry);
    t[1] = multiply_add(t[1], a[1], b_i, carry);
    t[2] = multiply_add(t[2], a[2], b_i, carry);
    t[3] = multiply_add(t[3], a[3], b_i, carry);
    const u128 top = u128(t[4]) + carry;
    const u64 t4 = static_cast<u64>(top);
    const u64 t5 = static_cast<u64>(top >> 64);
    const u64 q = t[0] * modulus.m_prime;
    // t[0] + q·m[0] is 0 mod 2^64 by the choice of q; only its carry survives the shift.
    carry = 0;
    (void)multiply_add(t[0], q, modulus.m[0], carry);
    t[0] = multiply_add(t[1], q, modulus.m[1], carry);
    t[1] = multiply_add(t[2], q, modulus.m[2], carry);
    t[2] = multiply_add(t[3], q, modulus.m[3], carry);
    const u128 last = u128(t4) + carry;
    t[3] = static_cast<u64>(last);
    t[4] = t5 + static_cast<u64>(last >> 64);
}

// t = t0..t3 plus top·2^256, with top 0 or 1 and t < 2m, brought below m: t − m unless that
// subtraction borrows and top is 0.
[[gnu::always_inline]] constexpr FieldElement subtract_once(u64 t0, u64 t1, u64 t2, u64 t3, u64 top,
                                                            const Modulus& modulus) {
    u64 borrow = 0;
    const FieldElement u = {
        sub_borrow(t0, modulus.m[0], borrow), sub_borrow(t1, modulus.m[1], borrow),
        sub_borrow(t2, modulus.m[2], borrow), sub_borrow(t3, modulus.m[3], borrow)};
    if (borrow != 0 && top == 0) {
        return FieldElement{t0, t1, t2, t3};
    }
    return u;
}

}  // namespace p256_detail

// a·b·R^-1 mod m for a, b < m, by word-serial Montgomery multiplication (CIOS). The accumulator
// t stays below 2m: after each of the four steps t = (t + b_i·a + q·m) / 2^64 < 2m, so at the
// end it is four words plus a top word of 0 or 1, and one conditional subtraction brings it
// below m.
constexpr FieldElement mont_mul(const FieldElement& a, const FieldElement& b,
                                const Modulus& modulus) {
    // Four steps written out (no loops), so that with a constant modulus the compiler folds
    // its words into the products (for p: m' = 1 and a zero word).
    u64 t[5] = {0, 0, 0, 0, 0};
    p256_detail::mont_step(t, a, b[0], modulus);
    p256_detail::mont_step(t, a, b[1], modulus);
    p256_detail::mont_step(t, a, b[2], modulus);
    p256_detail::mont_step(t, a, b[3], modulus);
    return p256_detail::subtract_once(t[0], t[1], t[2], t[3], t[4], modulus);
}

// (a + b) mod m for a, b < m. s = a + b may carry out of 256 bits; s − m is the answer unless
// it borrows without that carry. The choice is a mask, not a branch.
constexpr FieldElement mod_add(const FieldElement& a, const FieldElement& b,
                               const Modulus& modulus) {
    using p256_detail::add_carry;
    using p256_detail::sub_borrow;
    u64 carry = 0;
    const u64 s0 = add_carry(a[0], b[0], carry);
    const u64 s1 = add_carry(a[1], b[1], carry);
    const u64 s2 = add_carry(a[2], b[2], carry);
    const u64 s3 = add_carry(a[3], b[3], carry);
    u64 borrow = 0;
    const u64 u0 = sub_borrow(s0, modulus.m[0], borrow);
    const u64 u1 = sub_borrow(s1, modulus.m[1], borrow);
    const u64 u2 = sub_borrow(s2, modulus.m[2], borrow);
    const u64 u3 = sub_borrow(s3, modulus.m[3], borrow);
    const u64 keep_s = u64{0} - (borrow & (carry ^ 1));
    return {(s0 & keep_s) | (u0 & ~keep_s), (s1 & keep_s) | (u1 & ~keep_s),
            (s2 & keep_s) | (u2 & ~keep_s), (s3 & keep_s) | (u3 & ~keep_s)};
}

// (a − b) mod m for a, b < m: a negative difference wraps at 2^256, and adding m brings it back.
constexpr FieldElement mod_sub(const FieldElement& a, const FieldElement& b,
                               const Modulus& modulus) {
    using p256_detail::add_carry;
    using p256_detail::sub_borrow;
    u64 borrow = 0;
    FieldElement d = {sub_borrow(a[0], b[0], borrow), sub_borrow(a[1], b[1], borrow),
                      sub_borrow(a[2], b[2], borrow), sub_borrow(a[3], b[3], borrow)};
    if (borrow != 0) {
        u64 carry = 0;
        d = {add_carry(d[0], modulus.m[0], carry), add_carry(d[1], modulus.m[1], carry),
             add_carry(d[2], modulus.m[2], carry), add_carry(d[3], modulus.m[3], carry)};
    }
    return d;
}

// base^exponent, base and result in Montgomery form, exponent as plain limbs. Square-and-multiply
// over all 256 bits, leading zeros included.
constexpr FieldElement mod_pow(const FieldElement& base, const Limbs& exponent,
                               const Modulus& modulus) {
    FieldElement acc = modulus.r;
    for (int i = 255; i >= 0; --i) {
        acc = mont_mul(acc, acc, modulus);
        if ((exponent[i / 64] >> (i % 64)) & 1) {
            acc = mont_mul(acc, base, modulus);
        }
    }
    return acc;
}

// The Montgomery constants of m, for 2^255 < m < 2^256 and m odd.
consteval Modulus make_modulus(const Limbs& m) {
    Modulus modulus = {m, {}, {}, 0};
    // R mod m = 2^256 − m, since m < 2^256 < 2m.
    u64 borrow = 0;
    for (int j = 0; j < 4; ++j) {
        const u128 diff = u128(0) - m[j] - borrow;
        modulus.r[j] = static_cast<u64>(diff);
        borrow = static_cast<u64>(diff >> 64) & 1;
    }
    // R^2 mod m: double R mod m 256 times.
    modulus.r2 = modulus.r;
    for (int i = 0; i < 256; ++i) {
        modulus.r2 = mod_add(modulus.r2, modulus.r2, modulus);
    }
    // m^-1 mod 2^64 by Newton's iteration; each step doubles the correct low bits (m·m ≡ 1 mod 8
    // gives 3 to start).
    u64 inverse = m[0];
    for (int i = 0; i < 5; ++i) {
        inverse *= 2 - m[0] * inverse;
    }
    modulus.m_prime = u64{0} - inverse;
    return modulus;
}

// ---- The curve's constants ----

// The published domain parameters of P-256.
inline constexpr Limbs P256_P =
    limbs_from_hex("ffffffff00000001000000000000000000000000ffffffffffffffffffffffff");
inline constexpr Limbs P256_N =
    limbs_from_hex("ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551");
inline constexpr Limbs P256_B =
    limbs_from_hex("5ac635d8aa3a93e7b3ebbd55769886bc651d06b0cc53b0f63bce3c3e27d2604b");
inline constexpr Limbs P256_GX =
    limbs_from_hex("6b17d1f2e12c4247f8bce6e563a440f277037d812deb33a0f4a13945d898c296");
inline constexpr Limbs P256_GY =
    limbs_from_hex("4fe342e2fe1a7f9b8ee7eb4a7c0f9e162bce33576b315ececbb6406837bf51f5");

inline constexpr Modulus FIELD_P = make_modulus(P256_P);
inline constexpr Modulus ORDER_N = make_modulus(P256_N);

// Fermat inversion exponents.
inline constexpr Limbs P_MINUS_2 = {P256_P[0] - 2, P256_P[1], P256_P[2], P256_P[3]};
inline constexpr Limbs N_MINUS_2 = {P256_N[0] - 2, P256_N[1], P256_N[2], P256_N[3]};

// The plain number 1: mont_mul(x, ONE) leaves Montgomery form.
inline constexpr Limbs ONE = {1, 0, 0, 0};

// The coefficient b in Montgomery form mod p.
inline constexpr FieldElement B_MONT = mont_mul(P256_B, FIELD_P.r2, FIELD_P);

// G as 64 bytes, big-endian X then Y.
inline constexpr Bytes64 G_BYTES = [] {
    Bytes64 bytes = {};
    const Bytes32 x = limbs_to_bytes(P256_GX);
    const Bytes32 y = limbs_to_bytes(P256_GY);
    for (int i = 0; i < 32; ++i) {
        bytes[i] = x[i];
        bytes[32 + i] = y[i];
    }
    return bytes;
}();

// The point at infinity (1, 1, 0) in Montgomery form.
inline constexpr JacobianPoint POINT_AT_INFINITY = {FIELD_P.r, FIELD_P.r, {0, 0, 0, 0}};

// ---- Field elements and points ----

// mont_mul(a, b, FIELD_P) and mont_mul(a, a, FIELD_P), the same values, faster: the whole product
// first (a square's cross products once, doubled), then a reduction that uses p's shape,
// 2^256 − 2^224 + 2^192 + 2^96 − 1, in place of multiplications by its words.
[[nodiscard]] FieldElement field_mul(const FieldElement& a, const FieldElement& b);
[[nodiscard]] FieldElement field_sqr(const FieldElement& a);

// The Montgomery form of a 32-byte big-endian value, or nothing when the value is p or more.
[[nodiscard]] std::optional<FieldElement> field_from_bytes(const Bytes32& bytes);

// The plain value of x (Montgomery form mod p), big-endian.
[[nodiscard]] Bytes32 field_to_bytes(const FieldElement& x);

// (X·R, Y·R, R) mod p from big-endian X then Y. No range check: X and Y must be below p.
[[nodiscard]] JacobianPoint point_from_affine(const Bytes64& bytes);

[[nodiscard]] JacobianPoint point_add(const JacobianPoint& p1, const JacobianPoint& p2);
[[nodiscard]] JacobianPoint point_double(const JacobianPoint& p);

// k·P for a 32-byte big-endian k, by a Montgomery ladder over all 256 bits: one point_add and
// one point_double per bit, whatever k is.
[[nodiscard]] JacobianPoint scalar_mul(const JacobianPoint& p, const Bytes32& k);

// ---- Scalars modulo n ----

// True when 1 <= value < n.
[[nodiscard]] bool scalar_in_range(const Bytes32& value);

// value mod n.
[[nodiscard]] Bytes32 reduce_mod_n(const Bytes32& value);

// (a·b) mod n; the inputs need not be below n.
[[nodiscard]] Bytes32 mul_mod_n(const Bytes32& a, const Bytes32& b);

// Compares all 32 byte pairs, without stopping at the first difference.
[[nodiscard]] bool equal_32(const Bytes32& a, const Bytes32& b);

}  // namespace orvelo
