#include "crypto/ecdsa.h"

#include <algorithm>

namespace orvelo {
namespace {

// y^2 = x^3 − 3x + b, with x and y below p and in Montgomery form.
bool on_curve(const FieldElement& x, const FieldElement& y) {
    const FieldElement y_squared = mont_mul(y, y, FIELD_P);
    const FieldElement x_cubed = mont_mul(mont_mul(x, x, FIELD_P), x, FIELD_P);
    FieldElement three_x = {};
    for (int i = 0; i < 3; ++i) {
        three_x = mod_add(three_x, x, FIELD_P);
    }
    const FieldElement right = mod_add(mod_sub(x_cubed, three_x, FIELD_P), B_MONT, FIELD_P);
    return equal_32(limbs_to_bytes(y_squared), limbs_to_bytes(right));
}

Bytes32 half(const Bytes64& bytes, int which) {
    Bytes32 out;
    std::copy_n(bytes.begin() + 32 * which, 32, out.begin());
    return out;
}

}  // namespace

bool ecdsa_verify(const Bytes32& e, const Bytes32& r, const Bytes32& s, const Bytes64& public_key) {
    const std::optional<FieldElement> x = field_from_bytes(half(public_key, 0));
    const std::optional<FieldElement> y = field_from_bytes(half(public_key, 1));
    if (!x || !y || !on_curve(*x, *y)) {
        return false;
    }
    if (!scalar_in_range(r) || !scalar_in_range(s)) {
        return false;
    }
    const Bytes32 e_reduced = reduce_mod_n(e);
    const Bytes32 s_reduced = reduce_mod_n(s);

    // w = s^-1 mod n by Fermat: s^(n−2), computed in Montgomery form.
    const Limbs s_mont = mont_mul(limbs_from_bytes(s_reduced.data()), ORDER_N.r2, ORDER_N);
    const Limbs w_mont = mod_pow(s_mont, N_MINUS_2, ORDER_N);
    const Bytes32 w = limbs_to_bytes(mont_mul(w_mont, ONE, ORDER_N));

    const Bytes32 u1 = mul_mod_n(e_reduced, w);
    const Bytes32 u2 = mul_mod_n(r, w);
    const JacobianPoint a = scalar_mul(point_from_affine(G_BYTES), u1);
    const JacobianPoint b = scalar_mul(point_from_affine(public_key), u2);
    const JacobianPoint sum = point_add(a, b);
    if (is_zero(sum.z)) {
        return false;
    }
    // The affine x of the sum is X / Z^2.
    const FieldElement z_inverse = mod_pow(sum.z, P_MINUS_2, FIELD_P);
    const FieldElement x_affine = mont_mul(sum.x, mont_mul(z_inverse, z_inverse, FIELD_P), FIELD_P);
    return equal_32(reduce_mod_n(field_to_bytes(x_affine)), r);
}

}  // namespace orvelo
