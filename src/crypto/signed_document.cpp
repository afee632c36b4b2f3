#include "crypto/signed_document.h"

#include <optional>
#include <string_view>

#include "core/text.h"
#include "crypto/ecdsa.h"

namespace orvelo {
namespace {

// Signed ahead of the body, with its terminating zero byte, so that a signature over a document
// can never be taken for one over some other kind of data signed with the same key.
constexpr std::string_view DIGEST_PREFIX{"Orvelo signed document\0", 23};
constexpr std::string_view LINE_START = "signature ";
constexpr std::string_view FIELD_SIGNATURE = "signature";

std::unexpected<JobError> refuse() {
    return std::unexpected(JobError::NotSigned);
}

std::string_view as_text(std::span<const u8> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

bool begins_line(std::span<const u8> bytes) {
    return as_text(bytes).substr(0, LINE_START.size()) == LINE_START;
}

// The number of signature lines at the end of `document`, counted from the end while the 157
// bytes before them begin with "signature " and follow a line feed; nothing when such bytes
// start the document (no body would be left) or when none are found.
std::optional<std::size_t> count_signature_lines(std::span<const u8> document) {
    if (document.size() < SIGNATURE_LINE_BYTES || document.back() != '\n') {
        return std::nullopt;
    }
    std::size_t count = 0;
    for (;;) {
        // At least 157 bytes lie before the lines counted so far.
        const std::size_t start = document.size() - SIGNATURE_LINE_BYTES * (count + 1);
        if (!begins_line(document.subspan(start, SIGNATURE_LINE_BYTES))) {
            break;
        }
        if (start == 0) {
            return std::nullopt;
        }
        if (document[start - 1] != '\n') {
            break;
        }
        ++count;
        if (start < SIGNATURE_LINE_BYTES) {
            break;
        }
    }
    if (count == 0) {
        return std::nullopt;
    }
    return count;
}

// Lower-case hexadecimal of exactly out.size() bytes.
template <std::size_t N>
bool decode_hex(std::string_view text, std::array<u8, N>& out) {
    if (text.size() != 2 * N) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        u8 digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<u8>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<u8>(c - 'a' + 10);
        } else {
            return false;
        }
        out[i / 2] = static_cast<u8>((i % 2 == 0) ? digit << 4 : out[i / 2] | digit);
    }
    return true;
}

struct SignatureLine {
    KeyId id;
    Bytes32 r;
    Bytes32 s;
};

// One piece of the signature block (without its line feed): exactly four fields separated by
// single spaces, "signature", the key id, r and s.
std::optional<SignatureLine> parse_line(std::string_view piece) {
    if (!is_valid_utf8(piece)) {
        return std::nullopt;
    }
    std::array<std::string_view, 4> fields;
    std::size_t field_count = 0;
    std::size_t field_start = 0;
    for (std::size_t i = 0; i <= piece.size(); ++i) {
        if (i == piece.size() || piece[i] == ' ') {
            if (field_count == fields.size()) {
                return std::nullopt;
            }
            fields[field_count++] = piece.substr(field_start, i - field_start);
            field_start = i + 1;
        }
    }
    SignatureLine line;
    if (field_count != fields.size() || fields[0] != FIELD_SIGNATURE ||
        !decode_hex(fields[1], line.id) || !decode_hex(fields[2], line.r) ||
        !decode_hex(fields[3], line.s)) {
        return std::nullopt;
    }
    return line;
}

const TrustedKey* find_key(const KeyId& id, std::span<const TrustedKey> keys) {
    for (const TrustedKey& key : keys) {
        if (key_id(key) == id) {
            return &key;
        }
    }
    return nullptr;
}

}  // namespace

Sha256Digest signed_document_digest(std::span<const u8> body) {
    Sha256 context;
    sha256_update(context, std::span(reinterpret_cast<const u8*>(DIGEST_PREFIX.data()),
                                     DIGEST_PREFIX.size()));
    sha256_update(context, body);
    return sha256_finish(context);
}

JobResult<std::string> check_signed_document_with_keys(std::span<const u8> document,
                                                       std::span<const TrustedKey> keys) {
    const std::optional<std::size_t> line_count = count_signature_lines(document);
    if (!line_count) {
        return refuse();
    }
    const std::span<const u8> body =
        document.first(document.size() - SIGNATURE_LINE_BYTES * *line_count);
    const std::string_view block = as_text(document.subspan(body.size()));
    const Sha256Digest e = signed_document_digest(body);

    bool verified = false;
    std::size_t piece_start = 0;
    while (piece_start < block.size()) {
        std::size_t piece_end = block.find('\n', piece_start);
        if (piece_end == std::string_view::npos) {
            piece_end = block.size();
        }
        const std::string_view piece = block.substr(piece_start, piece_end - piece_start);
        piece_start = piece_end + 1;
        if (piece.empty()) {
            continue;
        }
        const std::optional<SignatureLine> line = parse_line(piece);
        if (!line) {
            return refuse();
        }
        const TrustedKey* key = find_key(line->id, keys);
        if (key == nullptr) {
            continue;
        }
        if (!ecdsa_verify(e, line->r, line->s, key->public_key)) {
            return refuse();
        }
        verified = true;
    }
    if (!verified) {
        return refuse();
    }
    if (!is_valid_utf8(body)) {
        return std::unexpected(JobError::NotInstaller);
    }
    return std::string(as_text(body));
}

JobResult<std::string> check_signed_document(std::span<const u8> document, bool dev_keys) {
    return check_signed_document_with_keys(document, trusted_keys(dev_keys));
}

}  // namespace orvelo
