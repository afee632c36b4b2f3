// Documents signed here with the development private key (through OpenSSL, over a digest that
// OpenSSL computes), for the cases the shared fixtures cannot show: bodies of our choosing,
// bodies that are not UTF-8, bodies that end in something like a signature line.
#include <gtest/gtest.h>

#include "crypto/signed_document.h"
#include "openssl_support.h"
#include "test_support.h"

namespace orvelo {
namespace {

using test::as_bytes;

class DevSignedDocumentTest : public ::testing::Test {
  protected:
    void SetUp() override {
        key_ = test::private_key_from_pem(test::read_data("keys/development-private.pem"));
        ASSERT_TRUE(key_);
    }

    // "signature <key id> <r> <s>\n" over "Orvelo signed document", 0x00 and the body.
    std::string line_for(const std::string& body) {
        const std::string signed_bytes = std::string("Orvelo signed document", 22) + '\0' + body;
        const test::Signature signature =
            test::sign_digest(key_.get(), test::openssl_sha256(as_bytes(signed_bytes)));
        const std::string line = "signature " + hex_lower(key_id(DEV_KEYS[1])) + " " +
                                 hex_lower(signature.r) + " " + hex_lower(signature.s) + "\n";
        EXPECT_EQ(line.size(), SIGNATURE_LINE_BYTES);
        return line;
    }

    JobResult<std::string> check(const std::string& document, bool dev_keys) {
        return check_signed_document(as_bytes(document), dev_keys);
    }

    test::Pkey key_;
};

TEST_F(DevSignedDocumentTest, ThePrivateKeyBelongsToTheBuiltInDevelopmentKey) {
    EXPECT_EQ(test::public_key_bytes(key_.get()), DEVELOPMENT_PUBLIC_KEY);
}

TEST_F(DevSignedDocumentTest, BodiesOfAnyShapeAreHandedOnWhole) {
    const std::string tail_like_a_line = "x" + std::string("signature ") + std::string(146, 'a');
    const std::string bodies[] = {
        "\n",
        "orvelo-installer 1\nversion 9\n",
        "\xc3\xa9t\xc3\xa9 \xf0\x9f\x98\x80\n",  // multi-byte UTF-8
        std::string(70000, 'b') + "\n",          // larger than any manifest
        // A body that ends in 157 bytes beginning with "signature " that do not follow a line
        // feed: they stay body.
        "orvelo-installer 1\n" + tail_like_a_line + "\n",
        // Lines in the body that look like signature lines but are shorter.
        "signature 00\nsignature\n",
    };
    for (const std::string& body : bodies) {
        const JobResult<std::string> result = check(body + line_for(body), true);
        ASSERT_TRUE(result.has_value()) << body.substr(0, 40);
        EXPECT_EQ(*result, body);
        // Without --dev the only line is by an unknown key.
        EXPECT_EQ(check(body + line_for(body), false), std::unexpected(JobError::NotSigned));
    }
}

TEST_F(DevSignedDocumentTest, AVerifiedBodyThatIsNotUtf8IsNotAnInstaller) {
    const std::string bodies[] = {
        "orvelo-installer 1\n\xff\n",
        "\xc0\xaf\n",          // overlong
        "\xed\xa0\x80\n",      // surrogate
        "\xf4\x90\x80\x80\n",  // above U+10FFFF
        "ok\xe2\x82\n",        // truncated sequence
    };
    for (const std::string& body : bodies) {
        EXPECT_EQ(check(body + line_for(body), true), std::unexpected(JobError::NotInstaller));
        // Unverified, the same body is simply not signed.
        EXPECT_EQ(check(body + line_for(body), false), std::unexpected(JobError::NotSigned));
    }
}

TEST_F(DevSignedDocumentTest, ALineThatFollowsALineFeedIsTakenFromTheBody) {
    // A body whose last line happens to be 157 bytes beginning with "signature ": it is counted
    // as a signature line, so the body that was signed is not the body that is checked.
    const std::string fake_line = "signature " + std::string(16, '0') + " " + std::string(64, '1') +
                                  " " + std::string(64, '2') + "\n";
    const std::string body = "orvelo-installer 1\n" + fake_line;
    EXPECT_EQ(check(body + line_for(body), true), std::unexpected(JobError::NotSigned));
    // Signed over the shorter body, the same bytes verify: the fake line is ignored.
    const std::string short_body = "orvelo-installer 1\n";
    const JobResult<std::string> result =
        check(short_body + fake_line + line_for(short_body), true);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(*result, short_body);
}

TEST_F(DevSignedDocumentTest, ManyLinesAreAllChecked) {
    const std::string body = "orvelo-installer 1\n";
    std::string document = body;
    for (int i = 0; i < 20; ++i) {
        document += line_for(body);
    }
    EXPECT_EQ(check(document, true), body);
    // One bad line among them refuses the document.
    std::string bad = document;
    char& digit_of_s = bad[body.size() + 10 * SIGNATURE_LINE_BYTES + 100];
    digit_of_s = digit_of_s == '0' ? '1' : '0';
    EXPECT_EQ(check(bad, true), std::unexpected(JobError::NotSigned));
}

}  // namespace
}  // namespace orvelo
