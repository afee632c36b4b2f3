// The operating-system seam, HTTP part: one synchronous GET through the system's HTTP stack
// (WinHTTP on Windows), call by call, so that the client above decides every step's text.
// Handles are opaque; NO_HTTP_HANDLE is none. Failures leave the error code for
// last_error_code().
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace orvelo::os {

enum class HttpHandle : std::uintptr_t {};
inline constexpr HttpHandle NO_HTTP_HANDLE = HttpHandle(0);

// The four timeouts, in milliseconds.
inline constexpr int RESOLVE_TIMEOUT_MS = 15'000;
inline constexpr int CONNECT_TIMEOUT_MS = 20'000;
inline constexpr int SEND_TIMEOUT_MS = 30'000;
inline constexpr int RECEIVE_TIMEOUT_MS = 60'000;

// WinHttpOpen(user agent, automatic proxy, no proxy name or bypass, synchronous).
[[nodiscard]] HttpHandle http_open(const char16_t* user_agent);

// WinHttpSetTimeouts with the four timeouts above; the result is not reported.
void http_set_timeouts(HttpHandle session);

// WinHttpConnect(session, host, port, 0).
[[nodiscard]] HttpHandle http_connect(HttpHandle session, const char16_t* host, std::uint16_t port);

// WinHttpOpenRequest(connection, "GET", path, default version, no referrer, no accept types,
// WINHTTP_FLAG_SECURE when `secure`).
[[nodiscard]] HttpHandle http_open_request(HttpHandle connection, const char16_t* path,
                                           bool secure);

// WinHttpSendRequest with no body and, when `header` is not null, that one header line
// (zero-terminated, without its line end) added to the request; null adds nothing.
[[nodiscard]] bool http_send_request(HttpHandle request, const char16_t* header);

// WinHttpReceiveResponse: true once the answer's headers have arrived.
[[nodiscard]] bool http_receive_response(HttpHandle request);

// The answer's status code after the stack's own redirect handling; 0 when it cannot be read.
[[nodiscard]] std::uint32_t http_status_code(HttpHandle request);

// The number of UTF-16 units of a header value's buffer.
inline constexpr std::size_t HEADER_VALUE_UNITS = 128;

// WinHttpQueryHeaders(WINHTTP_QUERY_CONTENT_RANGE) of the answer into the zero-filled `buffer`:
// the count of units written without the terminating zero; 0 when the answer has no such
// header or its value does not fit.
[[nodiscard]] std::uint32_t http_content_range(HttpHandle request,
                                               std::span<char16_t, HEADER_VALUE_UNITS> buffer);

// WinHttpReadData into `buffer`: `read_bytes` is set to 0 before the call and then holds the
// count placed, 0 at the end of the body.
[[nodiscard]] bool http_read_data(HttpHandle request, void* buffer, std::uint32_t length,
                                  std::uint32_t& read_bytes);

// WinHttpCloseHandle; the result is not reported.
void http_close(HttpHandle handle);

}  // namespace orvelo::os
