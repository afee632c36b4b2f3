// ecdsa_verify against published verdicts: Wycheproof's P1363 suite for secp256r1 with SHA-256
// and NIST's SigVer cases for P-256 with SHA-256.
#include <gtest/gtest.h>

#include "crypto/ecdsa.h"
#include "crypto/sha256.h"
#include "test_support.h"

namespace orvelo {
namespace {

using test::from_hex;
using test::Json;

// A big-endian number of any length as 32 bytes; nothing when it does not fit.
std::optional<Bytes32> fixed_32(std::string_view hex) {
    std::vector<u8> bytes = from_hex(hex);
    while (bytes.size() > 32 && bytes.front() == 0) {
        bytes.erase(bytes.begin());
    }
    if (bytes.size() > 32) {
        return std::nullopt;
    }
    Bytes32 out = {};
    std::copy(bytes.begin(), bytes.end(), out.end() - static_cast<std::ptrdiff_t>(bytes.size()));
    return out;
}

TEST(EcdsaWycheproof, EveryP1363VerdictMatches) {
    const std::string text =
        test::read_data("vectors/wycheproof/ecdsa_secp256r1_sha256_p1363_test.json");
    ASSERT_FALSE(text.empty());
    const std::optional<Json> json = test::parse_json(text);
    ASSERT_TRUE(json.has_value());
    std::size_t tests = 0, valid = 0;
    for (const Json& group : (*json)["testGroups"].array) {
        ASSERT_EQ(group["sha"].string, "SHA-256");
        ASSERT_EQ(group["publicKey"]["curve"].string, "secp256r1");
        const std::vector<u8> uncompressed = from_hex(group["publicKey"]["uncompressed"].string);
        ASSERT_EQ(uncompressed.size(), 65u);
        ASSERT_EQ(uncompressed[0], 0x04);
        Bytes64 public_key;
        std::copy(uncompressed.begin() + 1, uncompressed.end(), public_key.begin());
        for (const Json& test_case : group["tests"].array) {
            const std::vector<u8> message = from_hex(test_case["msg"].string);
            const std::vector<u8> signature = from_hex(test_case["sig"].string);
            const std::string& result = test_case["result"].string;
            ASSERT_TRUE(result == "valid" || result == "invalid");
            // A signature line holds exactly 32 bytes of r and 32 of s: any other length is
            // refused before verification.
            bool verdict = false;
            if (signature.size() == 64) {
                Bytes32 r, s;
                std::copy_n(signature.begin(), 32, r.begin());
                std::copy_n(signature.begin() + 32, 32, s.begin());
                verdict = ecdsa_verify(sha256(message), r, s, public_key);
            }
            EXPECT_EQ(verdict, result == "valid")
                << "tcId " << test_case["tcId"].number << ": " << test_case["comment"].string;
            ++tests;
            valid += result == "valid";
        }
    }
    EXPECT_EQ(double(tests), (*json)["numberOfTests"].number);
    EXPECT_GT(valid, 0u);
}

TEST(EcdsaNist, EverySigVerVerdictMatches) {
    const std::string text = test::read_data("vectors/ecdsa/SigVer_P-256_SHA-256.rsp");
    ASSERT_FALSE(text.empty());
    std::size_t cases = 0, passes = 0;
    for (const test::RspRecord& record : test::parse_rsp(text)) {
        if (!record.contains("Msg")) {
            continue;
        }
        const std::optional<Bytes32> qx = fixed_32(record.at("Qx"));
        const std::optional<Bytes32> qy = fixed_32(record.at("Qy"));
        const std::optional<Bytes32> r = fixed_32(record.at("R"));
        const std::optional<Bytes32> s = fixed_32(record.at("S"));
        ASSERT_TRUE(qx && qy && r && s);
        Bytes64 public_key;
        std::copy(qx->begin(), qx->end(), public_key.begin());
        std::copy(qy->begin(), qy->end(), public_key.begin() + 32);
        const bool expected = record.at("Result").starts_with("P");
        EXPECT_EQ(ecdsa_verify(sha256(from_hex(record.at("Msg"))), *r, *s, public_key), expected)
            << "Msg " << record.at("Msg").substr(0, 16) << " Result " << record.at("Result");
        ++cases;
        passes += expected;
    }
    EXPECT_EQ(cases, 15u);
    EXPECT_EQ(passes, 3u);
}

}  // namespace
}  // namespace orvelo
