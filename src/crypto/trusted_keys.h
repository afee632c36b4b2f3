// The public keys whose signatures make a downloaded release manifest trusted. The private keys
// stay with the release process; these 64-byte values go with them and change only with them.
#pragma once

#include <array>
#include <span>
#include <string_view>

#include "crypto/p256.h"

namespace orvelo {

struct TrustedKey {
    std::string_view name;  // identifies the entry; never shown
    Bytes64 public_key;     // affine X then Y of a P-256 point, big-endian
};

// The first 8 bytes of sha256 of the 64 public-key bytes: how a signature line names its key.
using KeyId = std::array<u8, 8>;

// 128 hexadecimal digits, X then Y.
consteval Bytes64 public_key_from_hex(std::string_view hex) {
    Bytes64 bytes = {};
    for (std::size_t i = 0; i < 128; ++i) {
        const char c = hex[i];
        const u8 digit = static_cast<u8>(c <= '9' ? c - '0' : c - 'a' + 10);
        bytes[i / 2] = static_cast<u8>(bytes[i / 2] | (digit << (i % 2 == 0 ? 4 : 0)));
    }
    return bytes;
}

inline constexpr Bytes64 RELEASE_PUBLIC_KEY = public_key_from_hex(
    "4f7673250f3be541c9570789e49a71fe3d49bb89df102026fb05e97c18a6a591"
    "e54157fc14200fb6cbe7ee807efca18b7c39b8327e30909d0a1cc52c023ae9e4");
inline constexpr Bytes64 DEVELOPMENT_PUBLIC_KEY = public_key_from_hex(
    "fe4a9041dff6051882de5ae8b831d039d7c28cffa73a3f5378b675c93cb917f9"
    "7a092b8f6170acd4ea8dbfc7d347e54b10be376d603cb8a9980e4b6a48752c54");

inline constexpr TrustedKey RELEASE_KEY = {"Orvelo release", RELEASE_PUBLIC_KEY};
inline constexpr TrustedKey DEVELOPMENT_KEY = {"Orvelo development", DEVELOPMENT_PUBLIC_KEY};

// Without --dev only the release key is trusted; with it the development key as well, after the
// release key.
inline constexpr std::array<TrustedKey, 1> RELEASE_KEYS = {RELEASE_KEY};
inline constexpr std::array<TrustedKey, 2> DEV_KEYS = {RELEASE_KEY, DEVELOPMENT_KEY};

// The table chosen by the development-key setting.
[[nodiscard]] std::span<const TrustedKey> trusted_keys(bool dev_keys);

// Computed afresh on every call.
[[nodiscard]] KeyId key_id(const TrustedKey& key);

}  // namespace orvelo
