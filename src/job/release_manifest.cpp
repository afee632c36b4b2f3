#include "job/release_manifest.h"

#include <vector>

namespace orvelo {
namespace {

constexpr std::string_view MAGIC_LINE = "orvelo-installer 1";
constexpr std::string_view PATH_PREFIX = "installer/";

// The next line of `text` from `next`, without its line feed and one carriage return before it.
// A final line without a line feed counts; an empty piece after the last line feed does not.
bool next_line(std::string_view text, std::size_t& next, std::string_view& line) {
    if (next >= text.size()) {
        return false;
    }
    std::size_t end = text.find('\n', next);
    const std::size_t after = end == std::string_view::npos ? text.size() : end + 1;
    if (end == std::string_view::npos) {
        end = text.size();
    }
    line = text.substr(next, end - next);
    if (end < text.size() && line.ends_with('\r')) {
        line.remove_suffix(1);
    }
    next = after;
    return true;
}

// Splits at every single space: two spaces make an empty field between them.
std::vector<std::string_view> split_fields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t space = line.find(' ', start);
        if (space == std::string_view::npos) {
            fields.push_back(line.substr(start));
            return fields;
        }
        fields.push_back(line.substr(start, space - start));
        start = space + 1;
    }
}

// One optional "+", then one or more digits, at most 2^64 - 1.
bool parse_number(std::string_view text, u64& value) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return false;
    }
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        const u64 digit = static_cast<u64>(c - '0');
        if (value > (~u64{0} - digit) / 10) {
            return false;
        }
        value = value * 10 + digit;
    }
    return true;
}

// Exactly 64 lower-case hexadecimal digits, two per byte, the first two giving the first byte.
bool parse_digest(std::string_view text, std::array<u8, 32>& digest) {
    if (text.size() != 64) {
        return false;
    }
    const auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < 32; ++i) {
        const int high = nibble(text[2 * i]);
        const int low = nibble(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        digest[i] = static_cast<u8>(high * 16 + low);
    }
    return true;
}

bool path_allowed(std::string_view path) {
    if (path.size() < PATH_PREFIX.size() || !path.starts_with(PATH_PREFIX) ||
        path.find("..") != std::string_view::npos) {
        return false;
    }
    for (const char c : path) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                             (c >= '0' && c <= '9') || c == '/' || c == '.' || c == '_' || c == '-';
        if (!allowed) {
            return false;
        }
    }
    return true;
}

enum Key : unsigned { VERSION = 1, BUILD = 2, ISSUED = 4, IMAGE = 8, FILE = 16, ALL_KEYS = 31 };

}  // namespace

JobResult<ReleaseManifest> parse_manifest(std::string_view body) {
    const auto not_installer = std::unexpected(JobError::NotInstaller);
    std::size_t next = 0;
    std::string_view line;
    if (!next_line(body, next, line) || line != MAGIC_LINE) {
        return not_installer;
    }
    ReleaseManifest manifest;
    unsigned seen = 0;
    while (next_line(body, next, line)) {
        const std::vector<std::string_view> fields = split_fields(line);
        const std::string_view key = fields.front();
        const std::size_t values = fields.size() - 1;
        if (key == "version" && values == 1) {
            manifest.version = std::string(fields[1]);
            seen |= VERSION;
        } else if ((key == "build" || key == "issued") && values == 1) {
            u64 number = 0;
            if (!parse_number(fields[1], number)) {
                return not_installer;
            }
            (key == "build" ? manifest.build : manifest.issued) = number;
            seen |= key == "build" ? BUILD : ISSUED;
        } else if (key == "image" && values == 2) {
            std::array<u8, 32> digest;
            u64 size = 0;
            if (!parse_digest(fields[1], digest) || !parse_number(fields[2], size)) {
                return not_installer;
            }
            manifest.image_sha256 = digest;
            manifest.image_size = size;
            seen |= IMAGE;
        } else if (key == "file" && values == 3) {
            std::array<u8, 32> digest;
            u64 size = 0;
            if (!parse_digest(fields[2], digest) || !parse_number(fields[3], size)) {
                return not_installer;
            }
            manifest.file_path = std::string(fields[1]);
            manifest.file_sha256 = digest;
            manifest.file_size = size;
            seen |= FILE;
        }
        // Anything else is not a recognised line and is skipped.
    }
    if (!path_allowed(manifest.file_path) || seen != ALL_KEYS || manifest.image_size == 0 ||
        manifest.image_size > MANIFEST_SIZE_LIMIT || manifest.file_size > MANIFEST_SIZE_LIMIT ||
        manifest.image_size % 512 != 0) {
        return not_installer;
    }
    return manifest;
}

}  // namespace orvelo
