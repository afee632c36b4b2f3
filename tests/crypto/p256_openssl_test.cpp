// The P-256 constants and arithmetic against OpenSSL's curve and big numbers.
#include <gtest/gtest.h>
#include <openssl/obj_mac.h>

#include <random>

#include "crypto/p256.h"
#include "openssl_support.h"

namespace orvelo {
namespace {

using test::Bn;
using test::bn_from;
using test::bytes_from;

struct BnCtxFree {
    void operator()(BN_CTX* ctx) const { BN_CTX_free(ctx); }
};
struct GroupFree {
    void operator()(EC_GROUP* group) const { EC_GROUP_free(group); }
};
struct PointFree {
    void operator()(EC_POINT* point) const { EC_POINT_free(point); }
};

class P256OpenSslTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ctx_.reset(BN_CTX_new());
        group_.reset(EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1));
        ASSERT_TRUE(ctx_ && group_);
    }

    Bn fresh() { return Bn(BN_new()); }

    // 2^256 as a big number.
    Bn r_value() {
        Bn r = fresh();
        BN_set_bit(r.get(), 256);
        return r;
    }

    std::unique_ptr<BN_CTX, BnCtxFree> ctx_;
    std::unique_ptr<EC_GROUP, GroupFree> group_;
};

TEST_F(P256OpenSslTest, CurveConstantsAreThePublishedOnes) {
    Bn p = fresh(), a = fresh(), b = fresh();
    ASSERT_EQ(EC_GROUP_get_curve(group_.get(), p.get(), a.get(), b.get(), ctx_.get()), 1);
    EXPECT_EQ(limbs_to_bytes(P256_P), bytes_from(p.get()));
    EXPECT_EQ(limbs_to_bytes(P256_B), bytes_from(b.get()));
    EXPECT_EQ(limbs_to_bytes(P256_N), bytes_from(EC_GROUP_get0_order(group_.get())));
    // a = −3 mod p, which the doubling formula assumes.
    Bn minus_3 = fresh();
    BN_sub(minus_3.get(), p.get(), BN_value_one());
    BN_sub_word(minus_3.get(), 2);
    EXPECT_EQ(BN_cmp(a.get(), minus_3.get()), 0);
    Bn gx = fresh(), gy = fresh();
    ASSERT_EQ(EC_POINT_get_affine_coordinates(group_.get(), EC_GROUP_get0_generator(group_.get()),
                                              gx.get(), gy.get(), ctx_.get()),
              1);
    Bytes64 g;
    const Bytes32 x = bytes_from(gx.get()), y = bytes_from(gy.get());
    std::copy(x.begin(), x.end(), g.begin());
    std::copy(y.begin(), y.end(), g.begin() + 32);
    EXPECT_EQ(G_BYTES, g);
}

TEST_F(P256OpenSslTest, MontgomeryConstantsMatchBigNumberArithmetic) {
    Bn r = r_value();
    Bn word = fresh();
    BN_set_bit(word.get(), 64);
    for (const Modulus* modulus : {&FIELD_P, &ORDER_N}) {
        const Bn m = bn_from(modulus->m);
        Bn r_mod = fresh(), r2_mod = fresh(), inverse = fresh(), m_prime = fresh();
        BN_nnmod(r_mod.get(), r.get(), m.get(), ctx_.get());
        BN_mod_mul(r2_mod.get(), r_mod.get(), r_mod.get(), m.get(), ctx_.get());
        // m' = −m^-1 mod 2^64 = 2^64 − (m^-1 mod 2^64)
        ASSERT_NE(BN_mod_inverse(inverse.get(), m.get(), word.get(), ctx_.get()), nullptr);
        BN_sub(m_prime.get(), word.get(), inverse.get());
        EXPECT_EQ(limbs_to_bytes(modulus->r), bytes_from(r_mod.get()));
        EXPECT_EQ(limbs_to_bytes(modulus->r2), bytes_from(r2_mod.get()));
        EXPECT_EQ(BN_get_word(m_prime.get()), modulus->m_prime);
    }
    // b·R mod p
    Bn b_mont = fresh();
    const Bn p = bn_from(P256_P);
    BN_mod_mul(b_mont.get(), bn_from(P256_B).get(), r.get(), p.get(), ctx_.get());
    EXPECT_EQ(limbs_to_bytes(B_MONT), bytes_from(b_mont.get()));
}

TEST_F(P256OpenSslTest, ArithmeticMatchesBigNumbersOnRandomValues) {
    std::mt19937_64 generator(21);
    const Bn r = r_value();
    for (const Modulus* modulus : {&FIELD_P, &ORDER_N}) {
        const Bn m = bn_from(modulus->m);
        Bn r_inverse = fresh();
        ASSERT_NE(BN_mod_inverse(r_inverse.get(), r.get(), m.get(), ctx_.get()), nullptr);
        for (int i = 0; i < 300; ++i) {
            Limbs a, b;
            // Random values, with extreme limbs now and then.
            for (Limbs* x : {&a, &b}) {
                do {
                    for (u64& limb : *x) {
                        const u64 choice = generator() % 4;
                        limb = choice == 0 ? 0 : choice == 1 ? ~u64{0} : generator();
                    }
                } while (BN_cmp(bn_from(*x).get(), m.get()) >= 0);
            }
            const Bn a_bn = bn_from(a), b_bn = bn_from(b);
            Bn expected = fresh();
            BN_mod_mul(expected.get(), a_bn.get(), b_bn.get(), m.get(), ctx_.get());
            BN_mod_mul(expected.get(), expected.get(), r_inverse.get(), m.get(), ctx_.get());
            EXPECT_EQ(limbs_to_bytes(mont_mul(a, b, *modulus)), bytes_from(expected.get()));
            if (modulus == &FIELD_P) {
                EXPECT_EQ(limbs_to_bytes(field_mul(a, b)), bytes_from(expected.get()));
                Bn square = fresh();
                BN_mod_mul(square.get(), a_bn.get(), a_bn.get(), m.get(), ctx_.get());
                BN_mod_mul(square.get(), square.get(), r_inverse.get(), m.get(), ctx_.get());
                EXPECT_EQ(limbs_to_bytes(field_sqr(a)), bytes_from(square.get()));
            }
            BN_mod_add(expected.get(), a_bn.get(), b_bn.get(), m.get(), ctx_.get());
            EXPECT_EQ(limbs_to_bytes(mod_add(a, b, *modulus)), bytes_from(expected.get()));
            BN_mod_sub(expected.get(), a_bn.get(), b_bn.get(), m.get(), ctx_.get());
            EXPECT_EQ(limbs_to_bytes(mod_sub(a, b, *modulus)), bytes_from(expected.get()));
            if (modulus == &ORDER_N) {
                BN_mod_mul(expected.get(), a_bn.get(), b_bn.get(), m.get(), ctx_.get());
                EXPECT_EQ(mul_mod_n(limbs_to_bytes(a), limbs_to_bytes(b)),
                          bytes_from(expected.get()));
            }
        }
    }
}

TEST_F(P256OpenSslTest, ScalarMulMatchesOpenSsl) {
    std::mt19937_64 generator(22);
    const std::unique_ptr<EC_POINT, PointFree> point(EC_POINT_new(group_.get()));
    Bn x = fresh(), y = fresh();
    // Random scalars times G, and times a random point (itself k'·G).
    JacobianPoint base = point_from_affine(G_BYTES);
    const EC_POINT* base_point = EC_GROUP_get0_generator(group_.get());
    std::unique_ptr<EC_POINT, PointFree> other(EC_POINT_new(group_.get()));
    for (int i = 0; i < 6; ++i) {
        Bytes32 k;
        for (u8& byte : k) {
            byte = static_cast<u8>(generator());
        }
        if (i == 0) {
            k.fill(0xff);  // above n: the ladder does not reduce
        }
        const Bn k_bn = bn_from(k);
        ASSERT_EQ(
            EC_POINT_mul(group_.get(), point.get(), nullptr, base_point, k_bn.get(), ctx_.get()),
            1);
        ASSERT_EQ(EC_POINT_get_affine_coordinates(group_.get(), point.get(), x.get(), y.get(),
                                                  ctx_.get()),
                  1);
        const JacobianPoint ours = scalar_mul(base, k);
        const FieldElement z_inverse = mod_pow(ours.z, P_MINUS_2, FIELD_P);
        const FieldElement z2 = mont_mul(z_inverse, z_inverse, FIELD_P);
        EXPECT_EQ(field_to_bytes(mont_mul(ours.x, z2, FIELD_P)), bytes_from(x.get()));
        EXPECT_EQ(field_to_bytes(mont_mul(ours.y, mont_mul(z2, z_inverse, FIELD_P), FIELD_P)),
                  bytes_from(y.get()));
        // The next round multiplies this result.
        Bytes64 affine;
        const Bytes32 xb = bytes_from(x.get()), yb = bytes_from(y.get());
        std::copy(xb.begin(), xb.end(), affine.begin());
        std::copy(yb.begin(), yb.end(), affine.begin() + 32);
        base = point_from_affine(affine);
        EC_POINT_copy(other.get(), point.get());
        base_point = other.get();
    }
}

}  // namespace
}  // namespace orvelo
