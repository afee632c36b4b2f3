// TEMPORARY TEST-ONLY STAND-IN for the crypto library's SHA-256, backed by OpenSSL, so that image
// unpacking builds and is tested before that library is part of this tree. It declares only the
// one-shot form that unpacking uses. Delete this folder (and its include in
// src/inflate/CMakeLists.txt) once src/crypto provides orvelo_crypto.
#pragma once

#include <array>
#include <span>

#include "core/types.h"

namespace orvelo {

[[nodiscard]] std::array<u8, 32> sha256(std::span<const u8> bytes);

}  // namespace orvelo
