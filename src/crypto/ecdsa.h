// ECDSA signature verification on P-256. The caller hashes the message; this unit checks the
// public key, the signature's range and the equation.
#pragma once

#include "crypto/p256.h"

namespace orvelo {

// True when (r, s) is a valid signature of the 32-byte digest `e` under `public_key` (X then Y,
// big-endian). A public key off the curve or with a coordinate of p or more, and r or s outside
// 1..n−1, are simply invalid.
[[nodiscard]] bool ecdsa_verify(const Bytes32& e, const Bytes32& r, const Bytes32& s,
                                const Bytes64& public_key);

}  // namespace orvelo
