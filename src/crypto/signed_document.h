// Signed documents: a body followed by one or more signature lines of 157 bytes,
//   "signature " key_id(16 hex) " " r(64 hex) " " s(64 hex) "\n",
// each an ECDSA P-256 signature over SHA-256 of "Orvelo signed document", a zero byte and the
// body. The release manifest travels this way; check_signed_document hands on its body only when
// a trusted key has signed it.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "core/job_error.h"
#include "core/types.h"
#include "crypto/sha256.h"
#include "crypto/trusted_keys.h"

namespace orvelo {

inline constexpr std::size_t SIGNATURE_LINE_BYTES = 157;

// The digest every signature line of a document with this body covers.
[[nodiscard]] Sha256Digest signed_document_digest(std::span<const u8> body);

// The body as text when at least one line verifies under `keys` and no line by a key in `keys`
// fails; NotInstaller when such a body is not UTF-8; NotSigned for every other refusal (framing,
// a malformed line even by an unknown key, a bad signature by a known key, nothing verified).
// (A name of its own: an array of keys would otherwise convert to the bool of the overload below.)
[[nodiscard]] JobResult<std::string> check_signed_document_with_keys(
    std::span<const u8> document, std::span<const TrustedKey> keys);

// The same against DEV_KEYS when `dev_keys` is set, RELEASE_KEYS otherwise.
[[nodiscard]] JobResult<std::string> check_signed_document(std::span<const u8> document,
                                                           bool dev_keys);

}  // namespace orvelo
