// The fake HTTP stack: one server host with scripted answers by path.
#include <algorithm>
#include <cstring>

#include "os/fake/fake_internal.h"
#include "os/http.h"

namespace orvelo::os {
namespace {

using namespace fake::internal;
using fake::fake_os;
using fake::FakeOs;

constexpr std::uint32_t ERROR_INVALID_HANDLE = 6;
constexpr std::uint32_t ERROR_WINHTTP_NAME_NOT_RESOLVED = 12007;
constexpr std::uint32_t ERROR_WINHTTP_CANNOT_CONNECT = 12029;
constexpr std::uint32_t ERROR_WINHTTP_CONNECTION_ERROR = 12030;

std::string http_name(FakeOs& os, HttpHandle handle) {
    const auto found = os.open_http.find(static_cast<std::uintptr_t>(handle));
    if (found == os.open_http.end()) {
        return "invalid";
    }
    switch (found->second.kind) {
        case FakeOs::HttpOpen::Kind::Session:
            return "session";
        case FakeOs::HttpOpen::Kind::Connection:
            return "connection";
        case FakeOs::HttpOpen::Kind::Request:
            break;
    }
    return "request";
}

HttpHandle add_http(FakeOs& os, FakeOs::HttpOpen open) {
    const std::uintptr_t value = os.next_handle++;
    os.open_http.emplace(value, std::move(open));
    return HttpHandle(value);
}

FakeOs::HttpOpen* find_http(FakeOs& os, HttpHandle handle) {
    const auto found = os.open_http.find(static_cast<std::uintptr_t>(handle));
    return found == os.open_http.end() ? nullptr : &found->second;
}

// Runs a call that may be made to fail: the injection's error, or the call's own answer.
HttpHandle made_or_failed(FakeOs& os, const char* name, FakeOs::HttpOpen open) {
    if (const auto injection = hit(os, name)) {
        fail_with(os, injection->error);
        return NO_HTTP_HANDLE;
    }
    return add_http(os, std::move(open));
}

// The answer the request gets: its own, taken from the list when it was sent, or the path's.
const fake::FakeAnswer* answer_of(FakeOs& os, const FakeOs::HttpOpen& open) {
    if (open.answer) {
        return &*open.answer;
    }
    const auto found = os.http_answers.find(open.path);
    return found == os.http_answers.end() ? nullptr : &found->second;
}

}  // namespace

HttpHandle http_open(const char16_t* user_agent) {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "http_open(" + utf8(user_agent) + ")");
    return made_or_failed(os, "http_open", {FakeOs::HttpOpen::Kind::Session});
}

void http_set_timeouts(HttpHandle session) {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "http_set_timeouts(" + http_name(os, session) + ")");
}

HttpHandle http_connect(HttpHandle, const char16_t* host, std::uint16_t port) {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    const std::string name = utf8(host);
    log(os, "http_connect(" + name + ", " + std::to_string(port) + ")");
    return made_or_failed(os, "http_connect", {FakeOs::HttpOpen::Kind::Connection, name});
}

HttpHandle http_open_request(HttpHandle connection, const char16_t* path, bool secure) {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    const std::string name = utf8(path);
    log(os, "http_open_request(" + name + (secure ? ", secure)" : ", plain)"));
    const FakeOs::HttpOpen* owner = find_http(os, connection);
    return made_or_failed(
        os, "http_open_request",
        {FakeOs::HttpOpen::Kind::Request, owner != nullptr ? owner->host : "", name});
}

bool http_send_request(HttpHandle request, const char16_t* header) {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "http_send_request(" + (header != nullptr ? utf8(header) : std::string()) + ")");
    if (const auto injection = hit(os, "http_send_request")) {
        return fail_with(os, injection->error);
    }
    FakeOs::HttpOpen* open = find_http(os, request);
    if (open == nullptr || open->host != os.http_host) {
        // The name is resolved when the request is sent.
        return fail_with(os, ERROR_WINHTTP_NAME_NOT_RESOLVED);
    }
    const auto next = os.http_next_answers.find(open->path);
    if (next != os.http_next_answers.end() && !next->second.empty()) {
        open->answer = std::move(next->second.front());
        next->second.erase(next->second.begin());
    }
    return true;
}

bool http_receive_response(HttpHandle request) {
    notify("http_receive_response");
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "http_receive_response()");
    if (const auto injection = hit(os, "http_receive_response")) {
        return fail_with(os, injection->error);
    }
    FakeOs::HttpOpen* open = find_http(os, request);
    if (open == nullptr) {
        return fail_with(os, ERROR_WINHTTP_CANNOT_CONNECT);
    }
    open->answered = true;
    return true;
}

std::uint32_t http_status_code(HttpHandle request) {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "http_status_code()");
    if (hit(os, "http_status_code")) {
        return 0;
    }
    const FakeOs::HttpOpen* open = find_http(os, request);
    if (open == nullptr || !open->answered) {
        return 0;
    }
    const fake::FakeAnswer* answer = answer_of(os, *open);
    return answer == nullptr ? 404 : answer->status;
}

std::uint32_t http_content_range(HttpHandle request,
                                 std::span<char16_t, HEADER_VALUE_UNITS> buffer) {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "http_content_range()");
    const FakeOs::HttpOpen* open = find_http(os, request);
    const fake::FakeAnswer* answer =
        open != nullptr && open->answered ? answer_of(os, *open) : nullptr;
    if (answer == nullptr || answer->content_range.empty() ||
        answer->content_range.size() >= buffer.size()) {
        return 0;
    }
    // Content-Range values are ASCII.
    std::copy(answer->content_range.begin(), answer->content_range.end(), buffer.begin());
    return static_cast<std::uint32_t>(answer->content_range.size());
}

bool http_read_data(HttpHandle request, void* buffer, std::uint32_t length,
                    std::uint32_t& read_bytes) {
    notify("http_read_data");
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    read_bytes = 0;
    log(os, "http_read_data(" + std::to_string(length) + ")");
    if (const auto injection = hit(os, "http_read_data")) {
        return fail_with(os, injection->error);
    }
    FakeOs::HttpOpen* open = find_http(os, request);
    if (open == nullptr) {
        return fail_with(os, ERROR_INVALID_HANDLE);
    }
    const fake::FakeAnswer* found = answer_of(os, *open);
    if (found == nullptr) {
        return true;
    }
    const fake::FakeAnswer& answer = *found;
    if (answer.broken_after_pieces && open->next_piece >= *answer.broken_after_pieces) {
        return fail_with(os, ERROR_WINHTTP_CONNECTION_ERROR);
    }
    if (open->next_piece >= answer.pieces.size()) {
        return true;
    }
    const std::vector<std::uint8_t>& piece = answer.pieces[open->next_piece];
    const std::size_t count = std::min<std::size_t>(length, piece.size() - open->offset_in_piece);
    std::memcpy(buffer, piece.data() + open->offset_in_piece, count);
    open->offset_in_piece += count;
    if (open->offset_in_piece == piece.size()) {
        ++open->next_piece;
        open->offset_in_piece = 0;
    }
    read_bytes = static_cast<std::uint32_t>(count);
    return true;
}

void http_close(HttpHandle handle) {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "http_close(" + http_name(os, handle) + ")");
    os.open_http.erase(static_cast<std::uintptr_t>(handle));
}

}  // namespace orvelo::os
