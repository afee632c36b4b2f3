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

// a·b·R^-1 mod m for a, b < m, by word-serial Montgomery multiplication (CIOS). The accumulator
// t stays below 2m: after each of the four steps t = (t + b_i·a + q·m) / 2^64 < 2m, so at the
// end it is four words plus a top word of 0 or 1, and one conditional subtraction brings it
// below m.
constexpr FieldElement mont_mul(const FieldElement& a, const FieldElement& b,
                                const Modulus& modulus) {
    u64 t[6] = {0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 4; ++i) {
        u64 carry = 0;
        for (int j = 0; j < 4; ++j) {
            const u128 sum = u128(a[j]) * b[i] + t[j] + carry;
            t[j] = static_cast<u64>(sum);
            carry = static_cast<u64>(sum >> 64);
        }
        u128 sum = u128(t[4]) + carry;
        t[4] = static_cast<u64>(sum);
        t[5] += static_cast<u64>(sum >> 64);

        const u64 q = t[0] * modulus.m_prime;
        // t[0] + q·m[0] is 0 mod 2^64 by the choice of q; only its carry survives the shift.
        sum = u128(q) * modulus.m[0] + t[0];
        carry = static_cast<u64>(sum >> 64);
        for (int j = 1; j < 4; ++j) {
            sum = u128(q) * modulus.m[j] + t[j] + carry;
            t[j - 1] = static_cast<u64>(sum);
            carry = static_cast<u64>(sum >> 64);
        }
        sum = u128(t[4]) + carry;
        t[3] = static_cast<u64>(sum);
        t[4] = t[5] + static_cast<u64>(sum >> 64);
        t[5] = 0;
    }
    FieldElement u = {};
    u64 borrow = 0;
    for (int j = 0; j < 4; ++j) {
        const u128 diff = u128(t[j]) - modulus.m[j] - borrow;
        u[j] = static_cast<u64>(diff);
        borrow = static_cast<u64>(diff >> 64) & 1;
    }
    if (borrow != 0 && t[4] == 0) {
        return FieldElement{t[0], t[1], t[2], t[3]};
    }
    return u;
}

// (a + b) mod m for a, b < m. s = a + b may carry out of 256 bits; s − m is the answer unless
// it borrows without that carry. The choice is a mask, not a branch.
constexpr FieldElement mod_add(const FieldElement& a, const FieldElement& b,
                               const Modulus& modulus) {
    FieldElement s = {};
    u64 carry = 0;
    for (int j = 0; j < 4; ++j) {
        const u128 sum = u128(a[j]) + b[j] + carry;
        s[j] = static_cast<u64>(sum);
        carry = static_cast<u64>(sum >> 64);
    }
    FieldElement u = {};
    u64 borrow = 0;
    for (int j = 0; j < 4; ++j) {
        const u128 diff = u128(s[j]) - modulus.m[j] - borrow;
        u[j] = static_cast<u64>(diff);
        borrow = static_cast<u64>(diff >> 64) & 1;
    }
    const u64 keep_s = u64{0} - (borrow & (carry ^ 1));
    FieldElement result = {};
    for (int j = 0; j < 4; ++j) {
        result[j] = (s[j] & keep_s) | (u[j] & ~keep_s);
    }
    return result;
}

// (a − b) mod m for a, b < m: a negative difference wraps at 2^256, and adding m brings it back.
constexpr FieldElement mod_sub(const FieldElement& a, const FieldElement& b,
                               const Modulus& modulus) {
    FieldElement d = {};
    u64 borrow = 0;
    for (int j = 0; j < 4; ++j) {
        const u128 diff = u128(a[j]) - b[j] - borrow;
        d[j] = static_cast<u64>(diff);
        borrow = static_cast<u64>(diff >> 64) & 1;
    }
    if (borrow != 0) {
        u64 carry = 0;
        for (int j = 0; j < 4; ++j) {
            const u128 sum = u128(d[j]) + modulus.m[j] + carry;
            d[j] = static_cast<u64>(sum);
            carry = static_cast<u64>(sum >> 64);
        }
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
