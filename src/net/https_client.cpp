#include "net/https_client.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "core/format.h"
#include "core/messages.h"
#include "core/text.h"
#include "os/http.h"
#include "os/system.h"

namespace orvelo {
namespace {

// One HTTP handle, closed when it goes out of scope or is replaced.
class HttpHandleOwner {
  public:
    HttpHandleOwner() = default;
    HttpHandleOwner(const HttpHandleOwner&) = delete;
    HttpHandleOwner& operator=(const HttpHandleOwner&) = delete;
    ~HttpHandleOwner() { reset(os::NO_HTTP_HANDLE); }
    void reset(os::HttpHandle handle) {
        if (handle_ != os::NO_HTTP_HANDLE) {
            os::http_close(handle_);
        }
        handle_ = handle;
    }
    [[nodiscard]] os::HttpHandle get() const { return handle_; }
    [[nodiscard]] bool valid() const { return handle_ != os::NO_HTTP_HANDLE; }

  private:
    os::HttpHandle handle_ = os::NO_HTTP_HANDLE;
};

// The handles of one request, declared in the order they are made, so that they close in
// reverse: request, connection, session.
struct Exchange {
    HttpHandleOwner session;
    HttpHandleOwner connection;
    HttpHandleOwner request;
};

// "{context}: {system text}"; the error code is read before the context is formatted.
ErrorText failed_with_system_text(std::string_view context_template, std::string_view argument) {
    const ErrorText reason = last_error_text();
    return ErrorText{format(msg::CONTEXT_AND_CAUSE, format(context_template, argument), reason)};
}

// Opens the session, connects, opens the request, sends it (with `header` when not null) and
// waits for the answer's headers: nothing, or the text of the step that failed.
std::optional<ErrorText> start_exchange(Exchange& exchange, const ServerAddress& server,
                                        std::string_view path, const char16_t* header) {
    exchange.session.reset(os::http_open(utf8_to_wide(USER_AGENT).c_str()));
    if (!exchange.session.valid()) {
        return failed_with_system_text(msg::WINHTTP, {});
    }
    os::http_set_timeouts(exchange.session.get());
    exchange.connection.reset(
        os::http_connect(exchange.session.get(), utf8_to_wide(server.host).c_str(), server.port));
    if (!exchange.connection.valid()) {
        return failed_with_system_text(msg::CANT_REACH, server.host);
    }
    exchange.request.reset(os::http_open_request(exchange.connection.get(),
                                                 utf8_to_wide(path).c_str(), server.secure));
    if (!exchange.request.valid()) {
        return failed_with_system_text(msg::WINHTTP, {});
    }
    if (!os::http_send_request(exchange.request.get(), header) ||
        !os::http_receive_response(exchange.request.get())) {
        return failed_with_system_text(msg::CANT_REACH_CHECK_CONNECTION, server.host);
    }
    return std::nullopt;
}

enum class BodyEnd { Complete, BrokeOff, TooLong, Stopped };

struct BodyOutcome {
    BodyEnd end;
    bool brought_bytes;  // at least one read placed bytes
    ErrorText text;      // for every end but Complete
};

// Reads the answer's body onto the end of `body` through `buffer` (READ_PIECE_BYTES long). The
// body never grows past `limit` bytes, which its capacity holds: a read that would take it past
// the limit ends the body as too long before its bytes are appended, so the room taken once is
// never outgrown. With `expected_bytes`, an end of the body short of that count is a break-off:
// some stacks (Wine's WinHTTP) end a body whose connection closed early without an error.
BodyOutcome read_body(os::HttpHandle request, std::vector<u8>& body, u64 limit,
                      std::optional<u64> expected_bytes, u8* buffer,
                      const std::function<void(u64)>& on_progress,
                      const std::function<bool()>& should_stop) {
    bool brought = false;
    if (should_stop()) {
        return {BodyEnd::Stopped, brought, ErrorText{std::string(msg::STOPPED)}};
    }
    for (;;) {
        u32 read = 0;
        if (!os::http_read_data(request, buffer, READ_PIECE_BYTES, read)) {
            return {BodyEnd::BrokeOff, brought,
                    failed_with_system_text(msg::DOWNLOAD_BROKE_OFF, {})};
        }
        if (read == 0 && expected_bytes && body.size() < *expected_bytes) {
            const std::string cause = format(msg::ENDED_EARLY, body.size(), *expected_bytes);
            return {BodyEnd::BrokeOff, brought,
                    ErrorText{format(msg::CONTEXT_AND_CAUSE, msg::DOWNLOAD_BROKE_OFF, cause)}};
        }
        if (read == 0) {
            return {BodyEnd::Complete, brought, {}};
        }
        brought = true;
        if (body.size() + read > limit) {
            return {BodyEnd::TooLong, brought,
                    ErrorText{std::string(msg::SENT_MORE_THAN_EXPECTED)}};
        }
        body.insert(body.end(), buffer, buffer + read);
        on_progress(body.size());
        if (should_stop()) {
            return {BodyEnd::Stopped, brought, ErrorText{std::string(msg::STOPPED)}};
        }
    }
}

// The decimal number at the start of `text`, consumed; nothing when there is no digit or the
// number does not fit in 64 bits.
std::optional<u64> take_number(std::string_view& text) {
    u64 value = 0;
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
        const u64 digit = static_cast<u64>(text[digits] - '0');
        if (value > (UINT64_MAX - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
        ++digits;
    }
    if (digits == 0) {
        return std::nullopt;
    }
    text.remove_prefix(digits);
    return value;
}

// Whether the answer's Content-Range is "bytes {first}-{last}/{total}" with `first` the count
// held, `total` the file's size, and `last` between them.
bool continues_from(os::HttpHandle request, u64 held, u64 file_size) {
    std::array<char16_t, os::HEADER_VALUE_UNITS> value{};
    const u32 units = os::http_content_range(request, value);
    if (units == 0 || units >= value.size()) {
        return false;
    }
    const std::string text = wide_to_utf8(std::u16string_view(value.data(), units));
    std::string_view rest(text);
    constexpr std::string_view UNIT = "bytes ";
    if (!rest.starts_with(UNIT)) {
        return false;
    }
    rest.remove_prefix(UNIT.size());
    const std::optional<u64> first = take_number(rest);
    if (!first || !rest.starts_with('-')) {
        return false;
    }
    rest.remove_prefix(1);
    const std::optional<u64> last = take_number(rest);
    if (!last || !rest.starts_with('/')) {
        return false;
    }
    rest.remove_prefix(1);
    const std::optional<u64> total = take_number(rest);
    return total && rest.empty() && *first == held && *total == file_size && *last >= *first &&
           *last < *total;
}

enum class TryEnd {
    Complete,
    Unreached,  // the server could not be reached or did not answer
    BrokeOff,   // reading the body failed
    Final,      // an answer that is refused, a body too long, a stop: no further try
};

struct TryOutcome {
    TryEnd end;
    bool brought_bytes;
    ErrorText text;
};

// One request for the rest of the body: the whole of it when nothing is held, else from the
// count held on.
TryOutcome try_download(const ServerAddress& server, std::string_view path, u64 file_size,
                        std::vector<u8>& body, u8* buffer,
                        const std::function<void(u64)>& on_progress,
                        const std::function<bool()>& should_stop) {
    const u64 held = body.size();
    const WideString range = utf8_to_wide(format(msg::RANGE_FROM_HEADER, held));
    Exchange exchange;
    if (std::optional<ErrorText> failed =
            start_exchange(exchange, server, path, held > 0 ? range.c_str() : nullptr)) {
        return {TryEnd::Unreached, false, std::move(*failed)};
    }
    const u32 status = os::http_status_code(exchange.request.get());
    if (status == 200) {
        body.clear();  // the server ignores ranges: this answer is the whole file
    } else if (status != 206 || held == 0 ||
               !continues_from(exchange.request.get(), held, file_size)) {
        return {TryEnd::Final, false, ErrorText{format(msg::SERVER_ANSWERED, status, path)}};
    }
    BodyOutcome outcome = read_body(exchange.request.get(), body, file_size + 1, file_size, buffer,
                                    on_progress, should_stop);
    switch (outcome.end) {
        case BodyEnd::Complete:
            return {TryEnd::Complete, outcome.brought_bytes, {}};
        case BodyEnd::BrokeOff:
            return {TryEnd::BrokeOff, outcome.brought_bytes, std::move(outcome.text)};
        case BodyEnd::TooLong:
        case BodyEnd::Stopped:
            break;
    }
    return {TryEnd::Final, outcome.brought_bytes, std::move(outcome.text)};
}

// Waits `wait_ms` in slices, asking `should_stop` before each: false as soon as it says true.
bool wait_unless_stopped(u32 wait_ms, const std::function<bool()>& should_stop) {
    for (u32 waited = 0; waited < wait_ms; waited += RETRY_WAIT_SLICE_MS) {
        if (should_stop()) {
            return false;
        }
        os::sleep_ms(RETRY_WAIT_SLICE_MS);
    }
    return !should_stop();
}

}  // namespace

Result<std::vector<u8>> https_get(const ServerAddress& server, std::string_view path,
                                  u64 limit_bytes, const std::function<void(u64)>& on_progress,
                                  const std::function<bool()>& should_stop) {
    Exchange exchange;
    if (std::optional<ErrorText> failed = start_exchange(exchange, server, path, nullptr)) {
        return fail(std::move(*failed));
    }
    const u32 status = os::http_status_code(exchange.request.get());
    if (status != 200) {
        return fail(format(msg::SERVER_ANSWERED, status, path));
    }

    // The body's room is taken once, for the most the caller accepts: grown by doubling, a body
    // near the limit would hold up to twice itself while it is copied over, and keep the unused
    // half through everything the caller does with it. Callers bound the limit by what they
    // expect (the manifest's size plus one for the image, 64 KiB for the manifest). The pages
    // are touched only as bytes arrive.
    std::vector<u8> body;
    body.reserve(limit_bytes);
    os::advise_large_buffer(body.data(), body.capacity());
    const std::unique_ptr<u8[]> buffer(new u8[READ_PIECE_BYTES]());
    BodyOutcome outcome = read_body(exchange.request.get(), body, limit_bytes, std::nullopt,
                                    buffer.get(), on_progress, should_stop);
    if (outcome.end != BodyEnd::Complete) {
        return fail(std::move(outcome.text));
    }
    return body;
}

Status https_download(const ServerAddress& server, std::string_view path, u64 file_size,
                      std::vector<u8>& body, const std::function<void(u64)>& on_progress,
                      const std::function<bool()>& should_stop) {
    // Taken once, as in https_get; a resumed body goes on in the same room.
    if (body.capacity() < file_size + 1) {
        body.reserve(file_size + 1);
    }
    os::advise_large_buffer(body.data(), body.capacity());
    if (body.size() >= file_size) {
        return {};  // nothing is left to ask for: the caller judges what it holds
    }
    const std::unique_ptr<u8[]> buffer(new u8[READ_PIECE_BYTES]());
    // Tries are counted only once the body has broken off with bytes held: before that, a
    // failure ends the download as a plain GET's would.
    bool resuming = false;
    int failed_tries = 0;  // since the last try that brought bytes
    for (;;) {
        TryOutcome outcome =
            try_download(server, path, file_size, body, buffer.get(), on_progress, should_stop);
        if (outcome.end == TryEnd::Complete) {
            return {};
        }
        if (outcome.end == TryEnd::Final) {
            return fail(std::move(outcome.text));
        }
        if (!resuming && (outcome.end != TryEnd::BrokeOff || body.empty())) {
            return fail(std::move(outcome.text));
        }
        resuming = true;
        if (should_stop()) {
            return fail(std::string(msg::STOPPED));
        }
        if (outcome.brought_bytes) {
            failed_tries = 0;
        }
        if (failed_tries == RETRY_COUNT) {
            return fail(std::move(outcome.text));
        }
        if (!wait_unless_stopped(FIRST_RETRY_WAIT_MS << failed_tries, should_stop)) {
            return fail(std::string(msg::STOPPED));
        }
        ++failed_tries;
    }
}

}  // namespace orvelo
