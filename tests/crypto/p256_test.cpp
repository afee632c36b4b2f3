// The P-256 arithmetic on its edge cases, using only relations that hold on any correct
// implementation; OpenSSL checks the constants and random values (p256_openssl_test.cpp).
#include "crypto/p256.h"

#include <gtest/gtest.h>

#include <random>

namespace orvelo {
namespace {

Bytes32 bytes_of(const Limbs& limbs) {
    return limbs_to_bytes(limbs);
}

Limbs minus(const Limbs& a, u64 small) {
    Limbs r = a;
    for (int j = 0; j < 4; ++j) {
        const u64 before = r[j];
        r[j] -= small;
        if (before >= small) {
            break;
        }
        small = 1;
    }
    return r;
}

Limbs random_below(const Limbs& m, std::mt19937_64& generator) {
    for (;;) {
        Limbs x = {generator(), generator(), generator(), generator()};
        if (x[3] < m[3]) {
            return x;
        }
    }
}

// The affine form of a point, for comparing points whatever their Z.
Bytes64 to_affine(const JacobianPoint& point) {
    const FieldElement z_inverse = mod_pow(point.z, P_MINUS_2, FIELD_P);
    const FieldElement z2 = mont_mul(z_inverse, z_inverse, FIELD_P);
    const FieldElement z3 = mont_mul(z2, z_inverse, FIELD_P);
    const Bytes32 x = field_to_bytes(mont_mul(point.x, z2, FIELD_P));
    const Bytes32 y = field_to_bytes(mont_mul(point.y, z3, FIELD_P));
    Bytes64 out;
    std::copy(x.begin(), x.end(), out.begin());
    std::copy(y.begin(), y.end(), out.begin() + 32);
    return out;
}

bool is_infinity(const JacobianPoint& point) {
    return is_zero(point.z);
}

JacobianPoint generator_point() {
    return point_from_affine(G_BYTES);
}

JacobianPoint negate(const JacobianPoint& point) {
    return {point.x, mod_sub(FieldElement{}, point.y, FIELD_P), point.z};
}

bool operator==(const JacobianPoint& a, const JacobianPoint& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z;
}

TEST(P256Constants, MontgomeryConstantsSatisfyTheirDefinitions) {
    for (const Modulus* modulus : {&FIELD_P, &ORDER_N}) {
        // m·m' ≡ −1 (mod 2^64)
        EXPECT_EQ(modulus->m[0] * modulus->m_prime, ~u64{0});
        // R·R^-1 = 1: mont_mul(R mod m, 1) = 1, and R^2·1·R^-1 = R.
        EXPECT_EQ(mont_mul(modulus->r, ONE, *modulus), ONE);
        EXPECT_EQ(mont_mul(modulus->r2, ONE, *modulus), modulus->r);
    }
    EXPECT_EQ(FIELD_P.m_prime, 1u);
    EXPECT_EQ(mont_mul(B_MONT, ONE, FIELD_P), P256_B);
    // G lies on the curve: y^2 = x^3 − 3x + b.
    const JacobianPoint g = generator_point();
    const FieldElement y2 = mont_mul(g.y, g.y, FIELD_P);
    const FieldElement x3 = mont_mul(mont_mul(g.x, g.x, FIELD_P), g.x, FIELD_P);
    const FieldElement three_x = mod_add(mod_add(g.x, g.x, FIELD_P), g.x, FIELD_P);
    EXPECT_EQ(y2, mod_add(mod_sub(x3, three_x, FIELD_P), B_MONT, FIELD_P));
}

TEST(P256Field, FieldFromBytesRefusesPAndAboveAndAcceptsBelow) {
    EXPECT_FALSE(field_from_bytes(bytes_of(P256_P)).has_value());
    Bytes32 all_ones;
    all_ones.fill(0xff);
    EXPECT_FALSE(field_from_bytes(all_ones).has_value());
    Limbs above_p = P256_P;  // p + 2^64
    above_p[1] += 1;
    EXPECT_FALSE(field_from_bytes(bytes_of(above_p)).has_value());
    for (const Limbs& value : {minus(P256_P, 1), Limbs{0, 0, 0, 0}, Limbs{1, 0, 0, 0}}) {
        const std::optional<FieldElement> x = field_from_bytes(bytes_of(value));
        ASSERT_TRUE(x.has_value());
        EXPECT_EQ(field_to_bytes(*x), bytes_of(value));
    }
}

TEST(P256Field, MontMulConvertsIntoAndOutOfMontgomeryForm) {
    std::mt19937_64 generator(11);
    for (const Modulus* modulus : {&FIELD_P, &ORDER_N}) {
        for (int i = 0; i < 50; ++i) {
            const Limbs plain = random_below(modulus->m, generator);
            const Limbs mont = mont_mul(plain, modulus->r2, *modulus);
            EXPECT_EQ(mont_mul(mont, ONE, *modulus), plain);
            // Montgomery form is a ring homomorphism: (a + b)R = aR + bR.
            const Limbs other = random_below(modulus->m, generator);
            EXPECT_EQ(mont_mul(mod_add(plain, other, *modulus), modulus->r2, *modulus),
                      mod_add(mont, mont_mul(other, modulus->r2, *modulus), *modulus));
        }
    }
}

TEST(P256Field, ModPowWithMMinus2GivesTheInverse) {
    std::mt19937_64 generator(12);
    const std::pair<const Modulus*, const Limbs*> cases[] = {{&FIELD_P, &P_MINUS_2},
                                                             {&ORDER_N, &N_MINUS_2}};
    for (const auto& [modulus, exponent] : cases) {
        std::vector<Limbs> values = {ONE, minus(modulus->m, 1), {2, 0, 0, 0}};
        for (int i = 0; i < 20; ++i) {
            values.push_back(random_below(modulus->m, generator));
        }
        for (const Limbs& plain : values) {
            const Limbs x = mont_mul(plain, modulus->r2, *modulus);
            const Limbs inverse = mod_pow(x, *exponent, *modulus);
            EXPECT_EQ(mont_mul(x, inverse, *modulus), modulus->r);
        }
    }
}

TEST(P256Field, AddAndSubWrapAroundTheModulus) {
    for (const Modulus* modulus : {&FIELD_P, &ORDER_N}) {
        const Limbs top = minus(modulus->m, 1);
        const Limbs zero = {0, 0, 0, 0};
        EXPECT_EQ(mod_add(top, ONE, *modulus), zero);
        EXPECT_EQ(mod_add(top, top, *modulus), minus(modulus->m, 2));
        EXPECT_EQ(mod_add(zero, zero, *modulus), zero);
        EXPECT_EQ(mod_sub(zero, ONE, *modulus), top);
        EXPECT_EQ(mod_sub(ONE, top, *modulus), (Limbs{2, 0, 0, 0}));
        EXPECT_EQ(mod_sub(top, top, *modulus), zero);
    }
}

TEST(P256Points, AdditionAndDoublingAgree) {
    const JacobianPoint g = generator_point();
    const JacobianPoint g2 = point_double(g);
    EXPECT_EQ(to_affine(point_add(g, g)), to_affine(g2));
    // With different Z: 2G + G, G + 2G and 3G from the ladder.
    const JacobianPoint g3 = point_add(g2, g);
    EXPECT_EQ(to_affine(point_add(g, g2)), to_affine(g3));
    EXPECT_EQ(to_affine(point_add(g2, g2)), to_affine(point_double(g2)));
    Bytes32 three = {};
    three[31] = 3;
    EXPECT_EQ(to_affine(scalar_mul(g, three)), to_affine(g3));
    EXPECT_EQ(to_affine(point_add(g3, g3)), to_affine(point_double(g3)));
}

TEST(P256Points, OppositePointsAndInfinity) {
    const JacobianPoint g = generator_point();
    const JacobianPoint g2 = point_double(g);
    EXPECT_TRUE(is_infinity(point_add(g, negate(g))));
    EXPECT_TRUE(is_infinity(point_add(g2, negate(g2))));
    EXPECT_TRUE(point_add(POINT_AT_INFINITY, g2) == g2);
    EXPECT_TRUE(point_add(g2, POINT_AT_INFINITY) == g2);
    EXPECT_TRUE(is_infinity(point_double(POINT_AT_INFINITY)));
    EXPECT_TRUE(is_infinity(point_add(POINT_AT_INFINITY, POINT_AT_INFINITY)));
}

TEST(P256Points, ScalarMulEdgeScalars) {
    const JacobianPoint g = generator_point();
    Bytes32 k = {};
    EXPECT_TRUE(is_infinity(scalar_mul(g, k)));
    k[31] = 1;
    EXPECT_EQ(to_affine(scalar_mul(g, k)), G_BYTES);
    k[31] = 2;
    EXPECT_EQ(to_affine(scalar_mul(g, k)), to_affine(point_double(g)));
    EXPECT_EQ(to_affine(scalar_mul(g, bytes_of(minus(P256_N, 1)))), to_affine(negate(g)));
    EXPECT_TRUE(is_infinity(scalar_mul(g, bytes_of(P256_N))));
    EXPECT_EQ(to_affine(scalar_mul(g, bytes_of(minus(P256_N, 2)))),
              to_affine(negate(point_double(g))));
}

TEST(P256Points, ScalarMulIsLinear) {
    // a·G + b·G = (a + b mod n)·G for random a, b.
    std::mt19937_64 generator(13);
    const JacobianPoint g = generator_point();
    for (int i = 0; i < 4; ++i) {
        const Limbs a = random_below(P256_N, generator);
        const Limbs b = random_below(P256_N, generator);
        const JacobianPoint sum = point_add(scalar_mul(g, bytes_of(a)), scalar_mul(g, bytes_of(b)));
        EXPECT_EQ(to_affine(sum), to_affine(scalar_mul(g, bytes_of(mod_add(a, b, ORDER_N)))));
    }
}

TEST(P256Scalars, ScalarInRange) {
    Bytes32 all_ones;
    all_ones.fill(0xff);
    const std::pair<Bytes32, bool> cases[] = {
        {bytes_of({0, 0, 0, 0}), false},
        {bytes_of(ONE), true},
        {bytes_of(minus(P256_N, 1)), true},
        {bytes_of(P256_N), false},
        {bytes_of({P256_N[0] + 1, P256_N[1], P256_N[2], P256_N[3]}), false},
        {all_ones, false},
        {bytes_of(P256_P), false},
    };
    for (const auto& [value, in_range] : cases) {
        EXPECT_EQ(scalar_in_range(value), in_range);
    }
}

TEST(P256Scalars, ReduceModN) {
    Bytes32 all_ones;
    all_ones.fill(0xff);
    const Limbs ones = {~u64{0}, ~u64{0}, ~u64{0}, ~u64{0}};
    // 2^256 − 1 − n, computed limb-wise without borrow since every limb of ones is all ones.
    const Limbs ones_minus_n = {ones[0] - P256_N[0], ones[1] - P256_N[1], ones[2] - P256_N[2],
                                ones[3] - P256_N[3]};
    const std::pair<Limbs, Limbs> cases[] = {
        {P256_N, {0, 0, 0, 0}},
        {minus(P256_N, 1), minus(P256_N, 1)},
        {{P256_N[0] + 5, P256_N[1], P256_N[2], P256_N[3]}, {5, 0, 0, 0}},
        {ones, ones_minus_n},
        {{0, 0, 0, 0}, {0, 0, 0, 0}},
    };
    for (const auto& [value, reduced] : cases) {
        EXPECT_EQ(reduce_mod_n(bytes_of(value)), bytes_of(reduced));
    }
}

TEST(P256Scalars, MulModNReducesItsInputsFirst) {
    std::mt19937_64 generator(14);
    for (int i = 0; i < 20; ++i) {
        const Limbs a = random_below(P256_N, generator);
        const Limbs b = random_below(P256_N, generator);
        const Bytes32 product = mul_mod_n(bytes_of(a), bytes_of(b));
        EXPECT_EQ(mul_mod_n(bytes_of(b), bytes_of(a)), product);
        // a + n (when it fits in 256 bits) is the same residue.
        Limbs a_plus_n = a;
        u64 carry = 0;
        for (int j = 0; j < 4; ++j) {
            const u128 sum = u128(a_plus_n[j]) + P256_N[j] + carry;
            a_plus_n[j] = static_cast<u64>(sum);
            carry = static_cast<u64>(sum >> 64);
        }
        if (carry == 0) {
            EXPECT_EQ(mul_mod_n(bytes_of(a_plus_n), bytes_of(b)), product);
        }
        // a·1 = a, a·(n − 1) = −a.
        EXPECT_EQ(mul_mod_n(bytes_of(a), bytes_of(ONE)), bytes_of(a));
        EXPECT_EQ(mul_mod_n(bytes_of(a), bytes_of(minus(P256_N, 1))),
                  bytes_of(mod_sub({0, 0, 0, 0}, a, ORDER_N)));
    }
}

TEST(P256Scalars, Equal32LooksAtEveryByte) {
    Bytes32 a = {};
    for (int i = 0; i < 32; ++i) {
        a[i] = static_cast<u8>(i * 7 + 1);
    }
    EXPECT_TRUE(equal_32(a, a));
    for (int i = 0; i < 32; ++i) {
        Bytes32 b = a;
        b[i] ^= 0x80;
        EXPECT_FALSE(equal_32(a, b)) << i;
    }
}

}  // namespace
}  // namespace orvelo
