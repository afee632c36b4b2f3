#include "crypto/p256.h"

#include <utility>

namespace orvelo {
namespace {

using p256_detail::add_carry;
using p256_detail::sub_borrow;

// The 512-bit product of a and b, least significant word first.
[[gnu::always_inline]] inline void product(const Limbs& a, const Limbs& b, u64 (&t)[8]) {
    for (int i = 0; i < 4; ++i) {
        u64 carry = 0;
        for (int j = 0; j < 4; ++j) {
            t[i + j] = p256_detail::multiply_add(i == 0 ? 0 : t[i + j], a[i], b[j], carry);
        }
        t[i + 4] = carry;
    }
}

// The 512-bit square of a: each cross product a_i·a_j (i < j) once, the sum doubled, then the
// squares a_i^2 added.
[[gnu::always_inline]] inline void square(const Limbs& a, u64 (&t)[8]) {
    u64 carry = 0;
    t[0] = 0;
    t[1] = p256_detail::multiply_add(0, a[0], a[1], carry);
    t[2] = p256_detail::multiply_add(0, a[0], a[2], carry);
    t[3] = p256_detail::multiply_add(0, a[0], a[3], carry);
    t[4] = carry;
    carry = 0;
    t[3] = p256_detail::multiply_add(t[3], a[1], a[2], carry);
    t[4] = p256_detail::multiply_add(t[4], a[1], a[3], carry);
    t[5] = carry;
    carry = 0;
    t[5] = p256_detail::multiply_add(t[5], a[2], a[3], carry);
    t[6] = carry;
    // Doubled: a shift left by one bit across the words.
    t[7] = t[6] >> 63;
    for (int k = 6; k > 0; --k) {
        t[k] = (t[k] << 1) | (t[k - 1] >> 63);
    }
    carry = 0;
    for (int i = 0; i < 4; ++i) {
        const u128 s = u128(a[i]) * a[i];
        t[2 * i] = add_carry(t[2 * i], static_cast<u64>(s), carry);
        t[2 * i + 1] = add_carry(t[2 * i + 1], static_cast<u64>(s >> 64), carry);
    }
}

// t·2^-256 mod p for t < p·2^256, fully reduced. Montgomery reduction with m' = 1: each step
// adds q·p at word i, q being word i itself, which clears that word. With
// p = 2^256 − 2^224 + 2^192 + 2^96 − 1, q·p at word i is −q at word i (clearing it, exactly)
// plus, from word i + 1 on, W = q·2^32 + q·(2^64 − 2^32 + 1)·2^128, whose four words are shifts,
// a subtraction and a borrow. After the four steps t < 2p, held in words 4 to 7 and a top bit.
[[gnu::always_inline]] inline FieldElement reduce_p(u64 (&t)[8]) {
    u64 top = 0;  // the bit above word 7
    for (int i = 0; i < 4; ++i) {
        const u64 q = t[i];
        u64 borrow = 0;
        const u64 w2 = sub_borrow(q, q << 32, borrow);
        const u64 w3 = q - (q >> 32) - borrow;  // q·(2^64 − 2^32 + 1) < 2^128: no borrow out
        u64 carry = 0;
        t[i + 1] = add_carry(t[i + 1], q << 32, carry);
        t[i + 2] = add_carry(t[i + 2], q >> 32, carry);
        t[i + 3] = add_carry(t[i + 3], w2, carry);
        t[i + 4] = add_carry(t[i + 4], w3, carry);
        for (int k = i + 5; k < 8; ++k) {
            t[k] = add_carry(t[k], 0, carry);
        }
        top += carry;
    }
    return p256_detail::subtract_once(t[4], t[5], t[6], t[7], top, FIELD_P);
}

// Multiplication mod p. Out of line, as is sqr: inlined into each point formula a dozen times,
// they run out of registers and spill far more than a call costs.
[[gnu::noinline]] FieldElement mul(const FieldElement& a, const FieldElement& b) {
    u64 t[8];
    product(a, b, t);
    return reduce_p(t);
}

[[gnu::noinline]] FieldElement sqr(const FieldElement& a) {
    u64 t[8];
    square(a, t);
    return reduce_p(t);
}
constexpr FieldElement add(const FieldElement& a, const FieldElement& b) {
    return mod_add(a, b, FIELD_P);
}
constexpr FieldElement sub(const FieldElement& a, const FieldElement& b) {
    return mod_sub(a, b, FIELD_P);
}

// Compares two 256-bit values, most significant limb first.
constexpr bool less_than(const Limbs& a, const Limbs& b) {
    for (int j = 3; j >= 0; --j) {
        if (a[j] != b[j]) {
            return a[j] < b[j];
        }
    }
    return false;
}

// x mod m for any 256-bit x: one conditional subtraction is enough since m > 2^255.
constexpr Limbs reduce_once(const Limbs& x, const Modulus& modulus) {
    if (less_than(x, modulus.m)) {
        return x;
    }
    Limbs d = {};
    u64 borrow = 0;
    for (int j = 0; j < 4; ++j) {
        const u128 diff = u128(x[j]) - modulus.m[j] - borrow;
        d[j] = static_cast<u64>(diff);
        borrow = static_cast<u64>(diff >> 64) & 1;
    }
    return d;
}

}  // namespace

FieldElement field_mul(const FieldElement& a, const FieldElement& b) {
    return mul(a, b);
}

FieldElement field_sqr(const FieldElement& a) {
    return sqr(a);
}

std::optional<FieldElement> field_from_bytes(const Bytes32& bytes) {
    const Limbs plain = limbs_from_bytes(bytes.data());
    if (!less_than(plain, FIELD_P.m)) {
        return std::nullopt;
    }
    return mul(plain, FIELD_P.r2);
}

Bytes32 field_to_bytes(const FieldElement& x) {
    return limbs_to_bytes(mul(x, ONE));
}

JacobianPoint point_from_affine(const Bytes64& bytes) {
    return {mul(limbs_from_bytes(bytes.data()), FIELD_P.r2),
            mul(limbs_from_bytes(bytes.data() + 32), FIELD_P.r2), FIELD_P.r};
}

// Doubling for a = −3 ("dbl-2001-b"): alpha = 3(X − Z^2)(X + Z^2) is 3X^2 + a·Z^4 with one
// multiplication. Y = 0 cannot occur on P-256 (its order is odd) but is handled as infinity.
JacobianPoint point_double(const JacobianPoint& p) {
    if (is_zero(p.z) || is_zero(p.y)) {
        return POINT_AT_INFINITY;
    }
    const FieldElement delta = sqr(p.z);
    const FieldElement gamma = sqr(p.y);
    const FieldElement beta = mul(p.x, gamma);
    const FieldElement alpha_1 = mul(sub(p.x, delta), add(p.x, delta));
    const FieldElement alpha = add(add(add(FieldElement{}, alpha_1), alpha_1), alpha_1);
    const FieldElement beta_4 = add(add(beta, beta), add(beta, beta));
    const FieldElement beta_8 = add(beta_4, beta_4);
    const FieldElement gamma_sq = sqr(gamma);
    const FieldElement gamma_sq_2 = add(gamma_sq, gamma_sq);
    const FieldElement gamma_sq_4 = add(gamma_sq_2, gamma_sq_2);
    const FieldElement gamma_sq_8 = add(gamma_sq_4, gamma_sq_4);
    JacobianPoint r;
    r.x = sub(sqr(alpha), beta_8);
    const FieldElement y_plus_z = add(p.y, p.z);
    r.z = sub(sub(sqr(y_plus_z), gamma), delta);
    r.y = sub(mul(alpha, sub(beta_4, r.x)), gamma_sq_8);
    return r;
}

// General addition ("add-2007-bl"). Equal inputs fall through to doubling and opposite inputs
// give infinity; the formulas below would give (0, 0, 0) for both.
JacobianPoint point_add(const JacobianPoint& p1, const JacobianPoint& p2) {
    if (is_zero(p1.z)) {
        return p2;
    }
    if (is_zero(p2.z)) {
        return p1;
    }
    const FieldElement z1z1 = sqr(p1.z);
    const FieldElement z2z2 = sqr(p2.z);
    const FieldElement u1 = mul(p1.x, z2z2);
    const FieldElement u2 = mul(p2.x, z1z1);
    const FieldElement s1 = mul(mul(p1.y, p2.z), z2z2);
    const FieldElement s2 = mul(mul(p2.y, p1.z), z1z1);
    const FieldElement h = sub(u2, u1);
    const FieldElement s_diff = sub(s2, s1);
    const FieldElement r = add(s_diff, s_diff);
    if (is_zero(h)) {
        return is_zero(r) ? point_double(p1) : POINT_AT_INFINITY;
    }
    const FieldElement h_2 = add(h, h);
    const FieldElement i = sqr(h_2);
    const FieldElement j = mul(h, i);
    const FieldElement v = mul(u1, i);
    JacobianPoint result;
    result.x = sub(sub(sqr(r), j), add(v, v));
    const FieldElement s1_j = mul(s1, j);
    result.y = sub(mul(r, sub(v, result.x)), add(s1_j, s1_j));
    const FieldElement z_sum = add(p1.z, p2.z);
    result.z = mul(sub(sub(sqr(z_sum), z1z1), z2z2), h);
    return result;
}

// Invariant of the ladder: r1 − r0 = p after every bit, and r0 is p times the bits of k seen so
// far. A 1 bit is the 0-bit step with the roles of r0 and r1 swapped.
JacobianPoint scalar_mul(const JacobianPoint& p, const Bytes32& k) {
    JacobianPoint r0 = POINT_AT_INFINITY;
    JacobianPoint r1 = p;
    for (int byte = 0; byte < 32; ++byte) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool set = (k[byte] >> bit) & 1;
            if (set) {
                std::swap(r0, r1);
            }
            r1 = point_add(r0, r1);
            r0 = point_double(r0);
            if (set) {
                std::swap(r0, r1);
            }
        }
    }
    return r0;
}

bool scalar_in_range(const Bytes32& value) {
    const Limbs limbs = limbs_from_bytes(value.data());
    return !is_zero(limbs) && less_than(limbs, ORDER_N.m);
}

// The value is the low half of a 512-bit number whose high half is 0: each half is brought
// below n, the high half times R^2 (through mont_mul, giving high·2^256 mod n) is added to the
// low half.
Bytes32 reduce_mod_n(const Bytes32& value) {
    const Limbs low = reduce_once(limbs_from_bytes(value.data()), ORDER_N);
    const Limbs high = reduce_once(Limbs{0, 0, 0, 0}, ORDER_N);
    const Limbs high_part = mont_mul(high, ORDER_N.r2, ORDER_N);
    return limbs_to_bytes(mod_add(low, high_part, ORDER_N));
}

Bytes32 mul_mod_n(const Bytes32& a, const Bytes32& b) {
    const Limbs a_mont = mont_mul(limbs_from_bytes(reduce_mod_n(a).data()), ORDER_N.r2, ORDER_N);
    const Limbs b_plain = limbs_from_bytes(reduce_mod_n(b).data());
    return limbs_to_bytes(mont_mul(a_mont, b_plain, ORDER_N));
}

bool equal_32(const Bytes32& a, const Bytes32& b) {
    u8 difference = 0;
    for (int i = 0; i < 32; ++i) {
        difference |= a[i] ^ b[i];
    }
    return difference == 0;
}

}  // namespace orvelo
