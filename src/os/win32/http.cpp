#include <windows.h>
#include <winhttp.h>

#include "os/http.h"

namespace orvelo::os {
namespace {

HINTERNET native(HttpHandle handle) {
    return reinterpret_cast<HINTERNET>(static_cast<std::uintptr_t>(handle));
}

HttpHandle wrap(HINTERNET handle) {
    return HttpHandle(reinterpret_cast<std::uintptr_t>(handle));
}

LPCWSTR wide(const char16_t* text) {
    return reinterpret_cast<LPCWSTR>(text);
}

}  // namespace

HttpHandle http_open(const char16_t* user_agent) {
    return wrap(WinHttpOpen(wide(user_agent), WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                            WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
}

void http_set_timeouts(HttpHandle session) {
    WinHttpSetTimeouts(native(session), RESOLVE_TIMEOUT_MS, CONNECT_TIMEOUT_MS, SEND_TIMEOUT_MS,
                       RECEIVE_TIMEOUT_MS);
}

HttpHandle http_connect(HttpHandle session, const char16_t* host, std::uint16_t port) {
    return wrap(WinHttpConnect(native(session), wide(host), port, 0));
}

HttpHandle http_open_request(HttpHandle connection, const char16_t* path, bool secure) {
    return wrap(WinHttpOpenRequest(native(connection), L"GET", wide(path), nullptr,
                                   WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                   secure ? WINHTTP_FLAG_SECURE : 0));
}

bool http_send_request(HttpHandle request, const char16_t* header) {
    // A length of -1 lets WinHTTP measure the zero-terminated header itself.
    return WinHttpSendRequest(native(request),
                              header != nullptr ? wide(header) : WINHTTP_NO_ADDITIONAL_HEADERS,
                              header != nullptr ? static_cast<DWORD>(-1L) : 0,
                              WINHTTP_NO_REQUEST_DATA, 0, 0, 0) != 0;
}

bool http_receive_response(HttpHandle request) {
    return WinHttpReceiveResponse(native(request), nullptr) != 0;
}

std::uint32_t http_status_code(HttpHandle request) {
    DWORD status = 0;
    DWORD length = sizeof status;
    WinHttpQueryHeaders(native(request), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &length, WINHTTP_NO_HEADER_INDEX);
    return status;
}

std::uint32_t http_content_range(HttpHandle request,
                                 std::span<char16_t, HEADER_VALUE_UNITS> buffer) {
    // The length goes in and comes out in bytes; the value written is zero-terminated.
    DWORD length = static_cast<DWORD>(buffer.size() * sizeof(char16_t));
    if (!WinHttpQueryHeaders(native(request), WINHTTP_QUERY_CONTENT_RANGE,
                             WINHTTP_HEADER_NAME_BY_INDEX, buffer.data(), &length,
                             WINHTTP_NO_HEADER_INDEX)) {
        return 0;
    }
    return static_cast<std::uint32_t>(length / sizeof(char16_t));
}

bool http_read_data(HttpHandle request, void* buffer, std::uint32_t length,
                    std::uint32_t& read_bytes) {
    DWORD read = 0;
    const BOOL ok = WinHttpReadData(native(request), buffer, length, &read);
    read_bytes = read;
    return ok != 0;
}

void http_close(HttpHandle handle) {
    WinHttpCloseHandle(native(handle));
}

}  // namespace orvelo::os
