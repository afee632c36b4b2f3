// check_signed_document on the shared fixtures (signed with the release and development keys)
// and on documents rearranged from them: framing, line syntax, key choice and refusals. Built
// only when the shared fixtures are present. Documents signed here with the development key are
// in signed_document_openssl_test.cpp.
#include "crypto/signed_document.h"

#include <gtest/gtest.h>

#include "crypto/ecdsa.h"
#include "test_support.h"

namespace orvelo {
namespace {

using test::as_bytes;

std::string fixture(std::string_view name) {
    return test::read_data("fixtures/manifest-signed-" + std::string(name) + ".txt");
}

JobResult<std::string> check(std::string_view document, bool dev_keys) {
    return check_signed_document(as_bytes(document), dev_keys);
}

// The fixtures: a body and its signature lines.
struct Signed {
    std::string body;
    std::vector<std::string> lines;  // 157 bytes each, with the line feed
};

Signed split(const std::string& document, std::size_t line_count) {
    Signed parts;
    const std::size_t body_size = document.size() - line_count * SIGNATURE_LINE_BYTES;
    parts.body = document.substr(0, body_size);
    for (std::size_t i = 0; i < line_count; ++i) {
        parts.lines.push_back(
            document.substr(body_size + i * SIGNATURE_LINE_BYTES, SIGNATURE_LINE_BYTES));
    }
    return parts;
}

class SignedDocumentTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string release = fixture("release");
        const std::string development = fixture("development");
        const std::string both = fixture("development-then-release");
        ASSERT_FALSE(release.empty());
        ASSERT_FALSE(development.empty());
        ASSERT_FALSE(both.empty());
        release_ = split(release, 1);
        development_ = split(development, 1);
        const Signed both_parts = split(both, 2);
        ASSERT_EQ(both_parts.body, release_.body);
        ASSERT_EQ(development_.body, release_.body);
        body_ = release_.body;
        release_line_ = release_.lines[0];
        development_line_ = development_.lines[0];
        // The combined fixture's lines are other signatures (ECDSA is randomised) by the same keys.
        release_line_2_ = both_parts.lines[1];
        development_line_2_ = both_parts.lines[0];
    }

    std::string body_;
    std::string release_line_, development_line_, release_line_2_, development_line_2_;
    Signed release_, development_;
};

// A well-formed line by a key that is in neither table.
std::string unknown_key_line(const std::string& line) {
    std::string other = line;
    other[10] = other[10] == '0' ? '1' : '0';
    return other;
}

// A line by a trusted key whose s no longer matches.
std::string wrong_signature(const std::string& line) {
    std::string other = line;
    other[150] = other[150] == '0' ? '1' : '0';
    return other;
}

TEST_F(SignedDocumentTest, WhichKeysAreTrustedWithAndWithoutDev) {
    struct Case {
        std::string name;
        std::string document;
        bool accepted_without_dev;
        bool accepted_with_dev;
    };
    const Case cases[] = {
        {"release", body_ + release_line_, true, true},
        {"development", body_ + development_line_, false, true},
        {"development then release", body_ + development_line_2_ + release_line_2_, true, true},
        {"release then development", body_ + release_line_ + development_line_, true, true},
        {"release twice", body_ + release_line_ + release_line_2_ + release_line_, true, true},
        {"unknown key then release", body_ + unknown_key_line(release_line_) + release_line_, true,
         true},
        {"unknown key only", body_ + unknown_key_line(release_line_), false, false},
        {"release, then development with a wrong signature",
         body_ + release_line_ + wrong_signature(development_line_), true, false},
        {"release with a wrong signature, then release",
         body_ + wrong_signature(release_line_) + release_line_, false, false},
        {"release, then release with a wrong signature",
         body_ + release_line_ + wrong_signature(release_line_2_), false, false},
    };
    for (const Case& c : cases) {
        for (const bool dev : {false, true}) {
            const JobResult<std::string> result = check(c.document, dev);
            if (dev ? c.accepted_with_dev : c.accepted_without_dev) {
                ASSERT_TRUE(result.has_value()) << c.name << (dev ? " with" : " without") << " dev";
                EXPECT_EQ(*result, body_) << c.name;
            } else {
                EXPECT_EQ(result, std::unexpected(JobError::NotSigned))
                    << c.name << (dev ? " with" : " without") << " dev";
            }
        }
    }
}

TEST_F(SignedDocumentTest, AnyKeyTableCanBeChosen) {
    const std::string release = body_ + release_line_;
    const std::string development = body_ + development_line_;
    const std::array<TrustedKey, 1> development_only = {DEVELOPMENT_KEY};
    EXPECT_EQ(check_signed_document_with_keys(as_bytes(development), development_only), body_);
    EXPECT_EQ(check_signed_document_with_keys(as_bytes(release), development_only),
              std::unexpected(JobError::NotSigned));
    EXPECT_EQ(check_signed_document_with_keys(as_bytes(release), {}),
              std::unexpected(JobError::NotSigned));
}

TEST_F(SignedDocumentTest, KeyIdsOfTheFixturesNameTheBuiltInKeys) {
    EXPECT_EQ(release_line_.substr(10, 16), hex_lower(key_id(RELEASE_KEYS[0])));
    EXPECT_EQ(development_line_.substr(10, 16), hex_lower(key_id(DEV_KEYS[1])));
}

TEST_F(SignedDocumentTest, TheZeroByteAfterThePrefixIsSigned) {
    // The release line verifies over "Orvelo signed document", 0x00, body, and not without the
    // zero byte.
    const Bytes32 r = test::array_from_hex<32>(release_line_.substr(27, 64));
    const Bytes32 s = test::array_from_hex<32>(release_line_.substr(92, 64));
    const std::string with_zero = std::string("Orvelo signed document", 22) + '\0' + body_;
    const std::string without_zero = "Orvelo signed document" + body_;
    EXPECT_TRUE(ecdsa_verify(sha256(as_bytes(with_zero)), r, s, RELEASE_PUBLIC_KEY));
    EXPECT_FALSE(ecdsa_verify(sha256(as_bytes(without_zero)), r, s, RELEASE_PUBLIC_KEY));
    EXPECT_EQ(signed_document_digest(as_bytes(body_)), sha256(as_bytes(with_zero)));
}

TEST_F(SignedDocumentTest, ChangingAnyByteOfTheBodyRefuses) {
    for (std::size_t i = 0; i < body_.size(); ++i) {
        std::string changed = body_;
        changed[i] = static_cast<char>(changed[i] ^ 0x01);
        EXPECT_EQ(check(changed + release_line_, true), std::unexpected(JobError::NotSigned))
            << "byte " << i;
    }
    // Bytes added to the body, or taken away from it.
    EXPECT_EQ(check(body_ + "\n" + release_line_, false), std::unexpected(JobError::NotSigned));
    EXPECT_EQ(check("x" + body_ + release_line_, false), std::unexpected(JobError::NotSigned));
    EXPECT_EQ(check(body_.substr(1) + release_line_, false), std::unexpected(JobError::NotSigned));
}

TEST_F(SignedDocumentTest, MalformedLinesRefuseEvenWhenTheirKeyIsUnknown) {
    struct Change {
        std::string name;
        std::size_t position;
        char byte;
    };
    const Change changes[] = {
        {"upper-case digit in r", 30, 'A'},
        {"upper-case digit in s", 100, 'F'},
        {"upper-case digit in key id", 12, 'B'},
        {"non-hexadecimal digit in key id", 12, 'g'},
        {"non-hexadecimal digit in s", 120, 'z'},
        {"doubled space before r", 25, ' '},
        {"doubled space before s", 90, ' '},
        {"missing field (no space before s)", 91, '0'},
        {"fifth field (space inside s)", 130, ' '},
        {"line feed inside r", 50, '\n'},
        {"byte that is not UTF-8", 60, '\xff'},
        {"zero byte", 70, '\0'},
        {"tab for a space", 26, '\t'},
    };
    for (const Change& change : changes) {
        for (const bool unknown_key : {false, true}) {
            std::string line = unknown_key ? unknown_key_line(release_line_) : release_line_;
            line[change.position] = change.byte;
            // The malformed line alone, and after a valid line.
            for (const std::string& document :
                 {body_ + line, body_ + release_line_ + line, body_ + line + release_line_}) {
                for (const bool dev : {false, true}) {
                    EXPECT_EQ(check(document, dev), std::unexpected(JobError::NotSigned))
                        << change.name << (unknown_key ? ", unknown key" : ", release key");
                }
            }
        }
    }
}

TEST_F(SignedDocumentTest, ROrSOutOfRangeRefuses) {
    const std::string zero(64, '0');
    const std::string n = "ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551";
    const std::string n_plus_1 = "ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632552";
    const std::string all_f(64, 'f');
    for (const std::string& value : {zero, n, n_plus_1, all_f}) {
        std::string r_changed = release_line_;
        r_changed.replace(27, 64, value);
        std::string s_changed = release_line_;
        s_changed.replace(92, 64, value);
        EXPECT_EQ(check(body_ + r_changed, false), std::unexpected(JobError::NotSigned)) << value;
        EXPECT_EQ(check(body_ + s_changed, false), std::unexpected(JobError::NotSigned)) << value;
    }
}

TEST_F(SignedDocumentTest, FramingRefusals) {
    const std::string document = body_ + release_line_;
    const std::string cases[] = {
        "",
        "\n",
        std::string(156, '\n'),
        document.substr(document.size() - 156),  // a line one byte short, nothing before it
        release_line_,                           // a line and no body
        release_line_ + release_line_,           // lines only
        release_line_ + release_line_ + release_line_,
        document.substr(0, document.size() - 1),  // no final line feed
        document + "\n",                          // a line feed after the line
        document + " ",
        body_,                                              // no line
        body_.substr(0, body_.size() - 1) + release_line_,  // line not after a line feed
        body_ + release_line_.substr(0, 156) + "\n" + "x",
        body_ + "x" + release_line_,
        body_ + "S" + release_line_.substr(1),  // "Signature "
        body_ + "signaturex" + release_line_.substr(10),
    };
    for (const std::string& c : cases) {
        for (const bool dev : {false, true}) {
            EXPECT_EQ(check(c, dev), std::unexpected(JobError::NotSigned))
                << c.size() << " bytes: " << c.substr(0, 40);
        }
    }
}

TEST_F(SignedDocumentTest, AFullLineThatDoesNotFollowALineFeedIsBody) {
    // 157 bytes that begin with "signature " but follow some other byte belong to the body,
    // which the release signature does not cover.
    const std::string body_then_text = body_ + "#" + release_line_;
    EXPECT_EQ(check(body_then_text + release_line_, false), std::unexpected(JobError::NotSigned));
}

}  // namespace
}  // namespace orvelo
