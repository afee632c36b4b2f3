#include "test_support.h"

#include <cstdio>
#include <cstdlib>

namespace orvelo::test {

std::string data_path(std::string_view relative) {
    std::string path;
#if defined(_WIN32)
    path = "Z:";
#endif
    path += ORVELO_TEST_DATA_DIR;
    path += '/';
    path += relative;
    return path;
}

std::optional<std::vector<u8>> read_file(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return std::nullopt;
    }
    std::vector<u8> bytes;
    u8 buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        return std::nullopt;
    }
    return bytes;
}

std::string read_text(const std::string& path) {
    const std::optional<std::vector<u8>> bytes = read_file(path);
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
}

std::string read_data(std::string_view relative) {
    const std::string path = data_path(relative);
    const std::optional<std::vector<u8>> bytes = read_file(path);
    if (!bytes || bytes->empty()) {
        std::fprintf(stderr, "missing test data: %s\n", path.c_str());
        std::abort();
    }
    return std::string(bytes->begin(), bytes->end());
}

namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

std::vector<u8> from_hex(std::string_view hex) {
    if (hex.size() % 2 != 0) {
        std::fprintf(stderr, "odd-length hexadecimal: %.*s\n", int(hex.size()), hex.data());
        std::abort();
    }
    std::vector<u8> bytes(hex.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int high = hex_digit(hex[2 * i]);
        const int low = hex_digit(hex[2 * i + 1]);
        if (high < 0 || low < 0) {
            std::fprintf(stderr, "bad hexadecimal: %.*s\n", int(hex.size()), hex.data());
            std::abort();
        }
        bytes[i] = static_cast<u8>(high * 16 + low);
    }
    return bytes;
}

std::vector<RspRecord> parse_rsp(std::string_view text) {
    std::vector<RspRecord> records;
    RspRecord current;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line =
            trim(text.substr(0, end == std::string_view::npos ? text.size() : end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty()) {
            if (!current.empty()) {
                records.push_back(std::move(current));
                current.clear();
            }
            continue;
        }
        if (line.front() == '#' || line.front() == '[') {
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        current[std::string(trim(line.substr(0, equals)))] =
            std::string(trim(line.substr(equals + 1)));
    }
    if (!current.empty()) {
        records.push_back(std::move(current));
    }
    return records;
}

const Json& Json::operator[](std::string_view key) const {
    static const Json null_value;
    for (const auto& [name, value] : object) {
        if (name == key) {
            return value;
        }
    }
    return null_value;
}

namespace {

struct JsonReader {
    std::string_view text;
    std::size_t next = 0;

    void skip_space() {
        while (next < text.size() && (text[next] == ' ' || text[next] == '\n' ||
                                      text[next] == '\r' || text[next] == '\t')) {
            ++next;
        }
    }

    bool literal(std::string_view word) {
        if (text.substr(next, word.size()) != word) {
            return false;
        }
        next += word.size();
        return true;
    }

    // Escapes other than \uXXXX are kept as their character; \uXXXX below U+0800 is enough for
    // the test files, which are ASCII.
    std::optional<std::string> string() {
        if (next >= text.size() || text[next] != '"') {
            return std::nullopt;
        }
        ++next;
        std::string out;
        while (next < text.size() && text[next] != '"') {
            char c = text[next++];
            if (c == '\\') {
                if (next >= text.size()) {
                    return std::nullopt;
                }
                c = text[next++];
                switch (c) {
                    case 'n':
                        out += '\n';
                        break;
                    case 't':
                        out += '\t';
                        break;
                    case 'r':
                        out += '\r';
                        break;
                    case 'b':
                        out += '\b';
                        break;
                    case 'f':
                        out += '\f';
                        break;
                    case 'u': {
                        if (next + 4 > text.size()) {
                            return std::nullopt;
                        }
                        unsigned code = 0;
                        for (int i = 0; i < 4; ++i) {
                            const int digit = hex_digit(text[next++]);
                            if (digit < 0) {
                                return std::nullopt;
                            }
                            code = code * 16 + unsigned(digit);
                        }
                        if (code < 0x80) {
                            out += static_cast<char>(code);
                        } else if (code < 0x800) {
                            out += static_cast<char>(0xC0 | (code >> 6));
                            out += static_cast<char>(0x80 | (code & 0x3F));
                        } else {
                            out += static_cast<char>(0xE0 | (code >> 12));
                            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
                            out += static_cast<char>(0x80 | (code & 0x3F));
                        }
                        break;
                    }
                    default:
                        out += c;
                        break;
                }
            } else {
                out += c;
            }
        }
        if (next >= text.size()) {
            return std::nullopt;
        }
        ++next;
        return out;
    }

    std::optional<Json> value(int depth) {
        if (depth > 64) {
            return std::nullopt;
        }
        skip_space();
        if (next >= text.size()) {
            return std::nullopt;
        }
        Json json;
        const char c = text[next];
        if (c == '{') {
            json.kind = Json::Kind::Object;
            ++next;
            skip_space();
            if (next < text.size() && text[next] == '}') {
                ++next;
                return json;
            }
            for (;;) {
                skip_space();
                std::optional<std::string> key = string();
                skip_space();
                if (!key || next >= text.size() || text[next] != ':') {
                    return std::nullopt;
                }
                ++next;
                std::optional<Json> member = value(depth + 1);
                if (!member) {
                    return std::nullopt;
                }
                json.object.emplace_back(std::move(*key), std::move(*member));
                skip_space();
                if (next < text.size() && text[next] == ',') {
                    ++next;
                } else if (next < text.size() && text[next] == '}') {
                    ++next;
                    return json;
                } else {
                    return std::nullopt;
                }
            }
        }
        if (c == '[') {
            json.kind = Json::Kind::Array;
            ++next;
            skip_space();
            if (next < text.size() && text[next] == ']') {
                ++next;
                return json;
            }
            for (;;) {
                std::optional<Json> element = value(depth + 1);
                if (!element) {
                    return std::nullopt;
                }
                json.array.push_back(std::move(*element));
                skip_space();
                if (next < text.size() && text[next] == ',') {
                    ++next;
                } else if (next < text.size() && text[next] == ']') {
                    ++next;
                    return json;
                } else {
                    return std::nullopt;
                }
            }
        }
        if (c == '"') {
            std::optional<std::string> s = string();
            if (!s) {
                return std::nullopt;
            }
            json.kind = Json::Kind::String;
            json.string = std::move(*s);
            return json;
        }
        if (literal("true") || literal("false")) {
            json.kind = Json::Kind::Bool;
            json.boolean = text[next - 1] == 'e' && text.substr(next - 4, 4) == "true";
            return json;
        }
        if (literal("null")) {
            return json;
        }
        const std::size_t start = next;
        while (next < text.size() &&
               std::string_view("+-0123456789.eE").find(text[next]) != std::string_view::npos) {
            ++next;
        }
        if (next == start) {
            return std::nullopt;
        }
        json.kind = Json::Kind::Number;
        json.number = std::strtod(std::string(text.substr(start, next - start)).c_str(), nullptr);
        return json;
    }
};

}  // namespace

std::optional<Json> parse_json(std::string_view text) {
    JsonReader reader{text};
    std::optional<Json> json = reader.value(0);
    reader.skip_space();
    if (!json || reader.next != text.size()) {
        return std::nullopt;
    }
    return json;
}

}  // namespace orvelo::test
