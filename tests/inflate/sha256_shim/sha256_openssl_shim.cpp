// TEMPORARY TEST-ONLY STAND-IN: see crypto/sha256.h beside this file.
#include "crypto/sha256.h"

#include <openssl/sha.h>

namespace orvelo {

std::array<u8, 32> sha256(std::span<const u8> bytes) {
    std::array<u8, 32> digest{};
    SHA256(bytes.data(), bytes.size(), digest.data());
    return digest;
}

}  // namespace orvelo
