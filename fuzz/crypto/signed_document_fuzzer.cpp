// check_signed_document on outside data. The key table holds the development key and a fuzzing
// key whose private key is 1 (its public key is G), which lets this harness sign any body
// cheaply: with nonce 1, r = x(G) mod n and s = e + r mod n. So the fuzzer reaches the body
// checks behind a valid signature, not only the framing and line parsing.
//
// The first input byte chooses the mode: even, the rest is the document as it is; odd, the rest
// is a body that is signed with the fuzzing key and followed by its line.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "core/text.h"
#include "crypto/p256.h"
#include "crypto/signed_document.h"

namespace orvelo {
namespace {

constexpr TrustedKey FUZZ_KEY = {"fuzzing key, private key 1", G_BYTES};
constexpr TrustedKey FUZZ_KEYS[] = {DEVELOPMENT_KEY, FUZZ_KEY};

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

std::string sign_with_fuzz_key(std::span<const u8> body) {
    const Sha256Digest e = signed_document_digest(body);
    Bytes32 gx;
    std::copy_n(G_BYTES.begin(), 32, gx.begin());
    const Bytes32 r = reduce_mod_n(gx);
    const Limbs s =
        mod_add(limbs_from_bytes(reduce_mod_n(e).data()), limbs_from_bytes(r.data()), ORDER_N);
    return "signature " + hex_lower(key_id(FUZZ_KEY)) + " " + hex_lower(r) + " " +
           hex_lower(limbs_to_bytes(s)) + "\n";
}

// What holds for any document: an accepted body is a UTF-8 prefix of the document that ends
// with a line feed and leaves whole signature lines after it.
void check_invariants(std::span<const u8> document, const JobResult<std::string>& result) {
    if (result.has_value()) {
        const std::string& body = *result;
        require(!body.empty() && body.back() == '\n');
        require(body.size() < document.size());
        require((document.size() - body.size()) % SIGNATURE_LINE_BYTES == 0);
        require(std::string_view(reinterpret_cast<const char*>(document.data()), body.size()) ==
                body);
        require(is_valid_utf8(body));
    } else {
        require(result.error() == JobError::NotSigned || result.error() == JobError::NotInstaller);
    }
}

}  // namespace
}  // namespace orvelo

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace orvelo;
    if (size == 0) {
        return 0;
    }
    const std::span<const u8> rest(data + 1, size - 1);
    if (data[0] % 2 == 0) {
        check_invariants(rest, check_signed_document_with_keys(rest, FUZZ_KEYS));
        return 0;
    }
    std::string body(reinterpret_cast<const char*>(rest.data()), rest.size());
    if (body.empty() || body.back() != '\n') {
        body += '\n';
    }
    const std::string document =
        body + sign_with_fuzz_key(std::span(reinterpret_cast<const u8*>(body.data()), body.size()));
    const std::span<const u8> bytes(reinterpret_cast<const u8*>(document.data()), document.size());
    const JobResult<std::string> result = check_signed_document_with_keys(bytes, FUZZ_KEYS);
    check_invariants(bytes, result);
    // Unless the body's own last 157 bytes look like a signature line after a line feed, the
    // appended line is the only one, and it is valid.
    const bool body_ends_like_a_line =
        body.size() >= SIGNATURE_LINE_BYTES &&
        body.compare(body.size() - SIGNATURE_LINE_BYTES, 10, "signature ") == 0;
    if (!body_ends_like_a_line) {
        if (is_valid_utf8(body)) {
            require(result.has_value() && *result == body);
        } else {
            require(!result.has_value() && result.error() == JobError::NotInstaller);
        }
    }
    return 0;
}
