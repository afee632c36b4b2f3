#include "crypto/trusted_keys.h"

#include <algorithm>

#include "crypto/sha256.h"

namespace orvelo {

std::span<const TrustedKey> trusted_keys(bool dev_keys) {
    if (dev_keys) {
        return DEV_KEYS;
    }
    return RELEASE_KEYS;
}

KeyId key_id(const TrustedKey& key) {
    const Sha256Digest digest = sha256(key.public_key);
    KeyId id;
    std::copy_n(digest.begin(), id.size(), id.begin());
    return id;
}

}  // namespace orvelo
