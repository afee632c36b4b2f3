#include "crypto/p256.h"

#include <utility>

namespace orvelo {
namespace {

// Multiplication mod p, with p's words folded into the code.
[[gnu::flatten]] constexpr FieldElement mul(const FieldElement& a, const FieldElement& b) {
    return mont_mul(a, b, FIELD_P);
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
    const FieldElement delta = mul(p.z, p.z);
    const FieldElement gamma = mul(p.y, p.y);
    const FieldElement beta = mul(p.x, gamma);
    const FieldElement alpha_1 = mul(sub(p.x, delta), add(p.x, delta));
    const FieldElement alpha = add(add(add(FieldElement{}, alpha_1), alpha_1), alpha_1);
    const FieldElement beta_4 = add(add(beta, beta), add(beta, beta));
    const FieldElement beta_8 = add(beta_4, beta_4);
    const FieldElement gamma_sq = mul(gamma, gamma);
    const FieldElement gamma_sq_2 = add(gamma_sq, gamma_sq);
    const FieldElement gamma_sq_4 = add(gamma_sq_2, gamma_sq_2);
    const FieldElement gamma_sq_8 = add(gamma_sq_4, gamma_sq_4);
    JacobianPoint r;
    r.x = sub(mul(alpha, alpha), beta_8);
    const FieldElement y_plus_z = add(p.y, p.z);
    r.z = sub(sub(mul(y_plus_z, y_plus_z), gamma), delta);
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
    const FieldElement z1z1 = mul(p1.z, p1.z);
    const FieldElement z2z2 = mul(p2.z, p2.z);
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
    const FieldElement i = mul(h_2, h_2);
    const FieldElement j = mul(h, i);
    const FieldElement v = mul(u1, i);
    JacobianPoint result;
    result.x = sub(sub(mul(r, r), j), add(v, v));
    const FieldElement s1_j = mul(s1, j);
    result.y = sub(mul(r, sub(v, result.x)), add(s1_j, s1_j));
    const FieldElement z_sum = add(p1.z, p2.z);
    result.z = mul(sub(sub(mul(z_sum, z_sum), z1z1), z2z2), h);
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
