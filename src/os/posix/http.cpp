// The HTTP seam on Linux, through libcurl's multi interface so that the body can be read piece
// by piece like WinHTTP's: TLS with the system's certificate store, proxies from the environment,
// and the request exactly as WinHTTP sends it: the host, port and path handed over as separate
// parts (never pasted into a URL that could re-parse them), the path as written, no header but
// the user agent (and the Host header HTTP needs). Redirects (301, 302, 303, 307, 308) are
// followed, at most 10, never from https to http; the status and body seen are the last
// answer's. Timeouts: resolution and connection together as curl's connect timeout; receiving
// fails after RECEIVE_TIMEOUT_MS with no byte received. Every wait is cut into slices of at most
// 100 ms, between which the installed stop question is asked. A failed call leaves a curl error
// code in the private range that system_message words (ECANCELED for a stop).
#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <string>

#include "core/unicode.h"
#include "os/http.h"
#include "os/posix/system_posix.h"

namespace orvelo::os {
namespace {

struct Session {
    std::string user_agent;
};

struct Connection {
    Session* session;
    std::string host;
    std::uint16_t port;
};

using Clock = std::chrono::steady_clock;

constexpr int WAIT_SLICE_MS = 100;
constexpr int MAX_REDIRECTS = 10;

struct Request {
    Connection* connection;
    CURLU* url = nullptr;
    curl_slist* headers = nullptr;
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    Clock::time_point last_byte{};      // when the last byte of any answer arrived
    bool location_seen = false;         // the current header block has a Location header
    std::string content_range;          // the current header block's Content-Range value
    bool redirecting = false;           // the current answer is a redirect that will be followed
    int redirect_count = 0;             // redirects followed so far
    std::deque<unsigned char> pending;  // body bytes received, not yet read
    bool paused = false;
    bool headers_done = false;  // the final answer's headers have arrived
    bool finished = false;
    CURLcode result = CURLE_OK;
};

enum class Kind { Session, Connection, Request };

struct Handle {
    Kind kind;
    std::unique_ptr<Session> session;
    std::unique_ptr<Connection> connection;
    std::unique_ptr<Request> request;
};

std::string utf8(const char16_t* text) {
    std::size_t length = 0;
    while (text[length] != 0) {
        ++length;
    }
    return wide_to_utf8(std::span<const char16_t>(text, length));
}

Handle* handle_of(HttpHandle handle) {
    return reinterpret_cast<Handle*>(static_cast<std::uintptr_t>(handle));
}

HttpHandle wrap(Handle* handle) {
    return HttpHandle(reinterpret_cast<std::uintptr_t>(handle));
}

void set_curl_error(CURLcode code) {
    set_last_error(CURL_ERROR_BASE + static_cast<std::uint32_t>(code));
}

constexpr std::size_t PENDING_LIMIT = 256 * 1024;  // pause the transfer beyond this

size_t on_body(char* data, size_t size, size_t count, void* context) {
    auto* request = static_cast<Request*>(context);
    request->last_byte = Clock::now();
    if (request->redirecting) {
        return size * count;  // a redirect's own body counts for nothing
    }
    if (request->pending.size() > PENDING_LIMIT) {
        request->paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    request->headers_done = true;
    request->pending.insert(request->pending.end(), data, data + size * count);
    return size * count;
}

bool is_followed_status(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

size_t on_header(char* data, size_t size, size_t count, void* context) {
    auto* request = static_cast<Request*>(context);
    request->last_byte = Clock::now();
    const std::size_t length = size * count;
    const std::string_view line(data, length);
    constexpr std::string_view LOCATION = "location:";
    constexpr std::string_view CONTENT_RANGE = "content-range:";
    const auto named = [&](std::string_view name) {
        return line.size() >= name.size() &&
               std::equal(name.begin(), name.end(), line.begin(),
                          [](char a, char b) { return a == (b | 0x20); });
    };
    if (line.starts_with("HTTP/")) {
        request->location_seen = false;
        request->content_range.clear();
    } else if (named(LOCATION)) {
        request->location_seen = true;
    } else if (named(CONTENT_RANGE)) {
        // The value without the spaces around it and the line end, as WinHTTP gives it.
        std::string_view value = line.substr(CONTENT_RANGE.size());
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
            value.remove_prefix(1);
        }
        while (!value.empty() &&
               (value.back() == '\r' || value.back() == '\n' || value.back() == ' ')) {
            value.remove_suffix(1);
        }
        request->content_range = value;
    }
    // The blank line ends a header block. Interim (1xx) answers and redirects that are followed
    // are followed by more; the final answer's block ends the wait.
    if (length <= 2 && (length == 0 || data[0] == '\r' || data[0] == '\n')) {
        long status = 0;
        curl_easy_getinfo(request->easy, CURLINFO_RESPONSE_CODE, &status);
        request->redirecting = is_followed_status(status) && request->location_seen;
        if (status >= 200 && !request->redirecting) {
            request->headers_done = true;
        }
    }
    return length;
}

// Starts the request again for the location of the redirect just received (resolved against
// the current address, its path kept as written, without user information). Fails with the
// error set for the eleventh redirect, and for one from https to anything but https.
bool follow_redirect(Request& request) {
    char* location = nullptr;
    if (curl_easy_getinfo(request.easy, CURLINFO_REDIRECT_URL, &location) != CURLE_OK ||
        location == nullptr) {
        set_curl_error(CURLE_GOT_NOTHING);
        return false;
    }
    if (request.redirect_count == MAX_REDIRECTS) {
        set_curl_error(CURLE_TOO_MANY_REDIRECTS);
        return false;
    }
    char* scheme = nullptr;
    if (curl_url_get(request.url, CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK) {
        set_curl_error(CURLE_URL_MALFORMAT);
        return false;
    }
    const bool was_secure = std::string_view(scheme) == "https";
    curl_free(scheme);
    const std::string next(location);  // the easy handle owns `location`
    if (curl_url_set(request.url, CURLUPART_URL, next.c_str(), CURLU_PATH_AS_IS) != CURLUE_OK ||
        curl_url_get(request.url, CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK) {
        set_curl_error(CURLE_URL_MALFORMAT);
        return false;
    }
    const std::string_view next_scheme(scheme);
    const bool allowed = next_scheme == "https" || (next_scheme == "http" && !was_secure);
    curl_free(scheme);
    if (!allowed) {
        set_curl_error(CURLE_UNSUPPORTED_PROTOCOL);
        return false;
    }
    curl_url_set(request.url, CURLUPART_USER, nullptr, 0);
    curl_url_set(request.url, CURLUPART_PASSWORD, nullptr, 0);
    curl_url_set(request.url, CURLUPART_OPTIONS, nullptr, 0);
    curl_url_set(request.url, CURLUPART_FRAGMENT, nullptr, 0);
    ++request.redirect_count;
    curl_multi_remove_handle(request.multi, request.easy);
    curl_easy_setopt(request.easy, CURLOPT_CURLU, request.url);
    request.redirecting = false;
    request.location_seen = false;
    request.finished = false;
    request.result = CURLE_OK;
    if (curl_multi_add_handle(request.multi, request.easy) != CURLM_OK) {
        set_curl_error(CURLE_FAILED_INIT);
        return false;
    }
    return true;
}

// Runs the transfer until `done` holds or the transfer ends. False with the error set when the
// transfer failed.
template <class Done>
bool pump(Request& request, Done done) {
    const Clock::time_point entered = Clock::now();
    while (!done() && !request.finished) {
        int running = 0;
        const CURLMcode code = curl_multi_perform(request.multi, &running);
        if (code != CURLM_OK) {
            request.finished = true;
            request.result = CURLE_OUT_OF_MEMORY;
            break;
        }
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(request.multi, &queued)) {
            if (message->msg == CURLMSG_DONE) {
                request.finished = true;
                request.result = message->data.result;
            }
        }
        if (request.finished && request.result == CURLE_OK && request.redirecting &&
            !follow_redirect(request)) {
            return false;
        }
        if (done() || request.finished) {
            break;
        }
        if (stop_is_asked()) {
            set_last_error(ECANCELED);
            return false;
        }
        if (Clock::now() - std::max(entered, request.last_byte) >=
            std::chrono::milliseconds(RECEIVE_TIMEOUT_MS)) {
            set_curl_error(CURLE_OPERATION_TIMEDOUT);
            return false;
        }
        curl_multi_poll(request.multi, nullptr, 0, WAIT_SLICE_MS, nullptr);
    }
    if (request.finished && request.result != CURLE_OK && !done()) {
        set_curl_error(request.result);
        return false;
    }
    return true;
}

}  // namespace

HttpHandle http_open(const char16_t* user_agent) {
    static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (initialised != CURLE_OK) {
        set_curl_error(initialised);
        return NO_HTTP_HANDLE;
    }
    auto* handle = new Handle{Kind::Session, std::make_unique<Session>(), nullptr, nullptr};
    handle->session->user_agent = utf8(user_agent);
    return wrap(handle);
}

void http_set_timeouts(HttpHandle) {}  // applied to each request: curl's are per transfer

HttpHandle http_connect(HttpHandle session, const char16_t* host, std::uint16_t port) {
    // Only a host name or address is a host; anything else (user information, a fragment) would
    // change what is asked for, so it cannot be reached.
    CURLU* check = curl_url();
    const std::string host_text = utf8(host);
    const bool is_host = check != nullptr && !host_text.empty() &&
                         curl_url_set(check, CURLUPART_HOST, host_text.c_str(), 0) == CURLUE_OK;
    curl_url_cleanup(check);
    if (!is_host) {
        set_curl_error(CURLE_URL_MALFORMAT);
        return NO_HTTP_HANDLE;
    }
    auto* handle = new Handle{Kind::Connection, nullptr, std::make_unique<Connection>(), nullptr};
    handle->connection->session = handle_of(session)->session.get();
    handle->connection->host = utf8(host);
    handle->connection->port = port;
    return wrap(handle);
}

namespace {

void free_request(Request& request) {
    if (request.easy != nullptr)
        curl_easy_cleanup(request.easy);
    if (request.multi != nullptr)
        curl_multi_cleanup(request.multi);
    if (request.url != nullptr)
        curl_url_cleanup(request.url);
    curl_slist_free_all(request.headers);
}

}  // namespace

HttpHandle http_open_request(HttpHandle connection, const char16_t* path, bool secure) {
    Connection* owner = handle_of(connection)->connection.get();
    auto request = std::make_unique<Request>();
    request->connection = owner;
    request->url = curl_url();
    request->easy = curl_easy_init();
    request->multi = curl_multi_init();
    // curl would send "Accept: */*" unasked; an empty value removes it.
    request->headers = curl_slist_append(nullptr, "Accept:");
    const std::string port = std::to_string(owner->port);
    const std::string path_text = utf8(path);
    const bool made = request->url != nullptr && request->easy != nullptr &&
                      request->multi != nullptr && request->headers != nullptr;
    if (!made ||
        curl_url_set(request->url, CURLUPART_SCHEME, secure ? "https" : "http", 0) != CURLUE_OK ||
        curl_url_set(request->url, CURLUPART_HOST, owner->host.c_str(), 0) != CURLUE_OK ||
        curl_url_set(request->url, CURLUPART_PORT, port.c_str(), 0) != CURLUE_OK ||
        curl_url_set(request->url, CURLUPART_PATH, path_text.c_str(), 0) != CURLUE_OK) {
        free_request(*request);
        set_curl_error(made ? CURLE_URL_MALFORMAT : CURLE_FAILED_INIT);
        return NO_HTTP_HANDLE;
    }
    CURL* easy = request->easy;
    curl_easy_setopt(easy, CURLOPT_CURLU, request->url);
    curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, request->headers);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, owner->session->user_agent.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(RESOLVE_TIMEOUT_MS + CONNECT_TIMEOUT_MS));
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, on_body);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, request.get());
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, on_header);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, request.get());
    auto* handle = new Handle{Kind::Request, nullptr, nullptr, std::move(request)};
    return wrap(handle);
}

bool http_send_request(HttpHandle request_handle, const char16_t* header) {
    Request& request = *handle_of(request_handle)->request;
    if (header != nullptr) {
        curl_slist* headers = curl_slist_append(request.headers, utf8(header).c_str());
        if (headers == nullptr) {
            set_curl_error(CURLE_OUT_OF_MEMORY);
            return false;
        }
        request.headers = headers;
        curl_easy_setopt(request.easy, CURLOPT_HTTPHEADER, request.headers);
    }
    if (curl_multi_add_handle(request.multi, request.easy) != CURLM_OK) {
        set_curl_error(CURLE_FAILED_INIT);
        return false;
    }
    return true;
}

bool http_receive_response(HttpHandle request_handle) {
    Request& request = *handle_of(request_handle)->request;
    return pump(request, [&] { return request.headers_done; });
}

std::uint32_t http_status_code(HttpHandle request_handle) {
    Request& request = *handle_of(request_handle)->request;
    long status = 0;
    if (curl_easy_getinfo(request.easy, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) {
        return 0;
    }
    return static_cast<std::uint32_t>(status);
}

std::uint32_t http_content_range(HttpHandle request_handle,
                                 std::span<char16_t, HEADER_VALUE_UNITS> buffer) {
    const Request& request = *handle_of(request_handle)->request;
    if (!is_valid_utf8(request.content_range)) {
        return 0;  // no range of bytes is written so
    }
    const std::u16string value = utf8_to_wide(request.content_range).c_str();
    if (value.empty() || value.size() >= buffer.size()) {
        return 0;
    }
    std::copy(value.begin(), value.end(), buffer.begin());
    return static_cast<std::uint32_t>(value.size());
}

bool http_read_data(HttpHandle request_handle, void* buffer, std::uint32_t length,
                    std::uint32_t& read_bytes) {
    read_bytes = 0;
    Request& request = *handle_of(request_handle)->request;
    if (request.paused && request.pending.size() <= PENDING_LIMIT) {
        request.paused = false;
        curl_easy_pause(request.easy, CURLPAUSE_CONT);
    }
    if (!pump(request, [&] { return !request.pending.empty(); })) {
        return false;
    }
    const std::size_t count = std::min<std::size_t>(length, request.pending.size());
    std::copy_n(request.pending.begin(), count, static_cast<unsigned char*>(buffer));
    request.pending.erase(request.pending.begin(), request.pending.begin() + count);
    read_bytes = static_cast<std::uint32_t>(count);
    return true;
}

void http_close(HttpHandle handle) {
    Handle* owned = handle_of(handle);
    if (owned->kind == Kind::Request) {
        Request& request = *owned->request;
        curl_multi_remove_handle(request.multi, request.easy);
        free_request(request);
    }
    delete owned;
}

}  // namespace orvelo::os
