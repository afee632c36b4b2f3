#include "net/https_client.h"

#include <memory>

#include "core/format.h"
#include "core/messages.h"
#include "core/text.h"
#include "os/http.h"
#include "os/system.h"

namespace orvelo {
namespace {

// One HTTP handle, closed when it goes out of scope. Declared in the order the handles are
// made, so they close in reverse: request, connection, session.
class HttpHandleOwner {
  public:
    explicit HttpHandleOwner(os::HttpHandle handle) : handle_(handle) {}
    HttpHandleOwner(const HttpHandleOwner&) = delete;
    HttpHandleOwner& operator=(const HttpHandleOwner&) = delete;
    ~HttpHandleOwner() {
        if (handle_ != os::NO_HTTP_HANDLE) {
            os::http_close(handle_);
        }
    }
    [[nodiscard]] os::HttpHandle get() const { return handle_; }
    [[nodiscard]] bool valid() const { return handle_ != os::NO_HTTP_HANDLE; }

  private:
    os::HttpHandle handle_;
};

// "{context}: {system text}"; the error code is read before the context is formatted.
std::unexpected<ErrorText> failed_with_system_text(std::string_view context_template,
                                                   std::string_view argument) {
    const ErrorText reason = last_error_text();
    return fail(format(msg::CONTEXT_AND_CAUSE, format(context_template, argument), reason));
}

}  // namespace

Result<std::vector<u8>> https_get(const ServerAddress& server, std::string_view path,
                                  u64 limit_bytes, const std::function<void(u64)>& on_progress,
                                  const std::function<bool()>& should_stop) {
    const HttpHandleOwner session(os::http_open(utf8_to_wide(USER_AGENT).c_str()));
    if (!session.valid()) {
        return failed_with_system_text(msg::WINHTTP, {});
    }
    os::http_set_timeouts(session.get());
    const HttpHandleOwner connection(
        os::http_connect(session.get(), utf8_to_wide(server.host).c_str(), server.port));
    if (!connection.valid()) {
        return failed_with_system_text(msg::CANT_REACH, server.host);
    }
    const HttpHandleOwner request(
        os::http_open_request(connection.get(), utf8_to_wide(path).c_str(), server.secure));
    if (!request.valid()) {
        return failed_with_system_text(msg::WINHTTP, {});
    }
    if (!os::http_send_request(request.get()) || !os::http_receive_response(request.get())) {
        return failed_with_system_text(msg::CANT_REACH_CHECK_CONNECTION, server.host);
    }
    const u32 status = os::http_status_code(request.get());
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
    if (should_stop()) {
        return fail(std::string(msg::STOPPED));
    }
    for (;;) {
        u32 read = 0;
        if (!os::http_read_data(request.get(), buffer.get(), READ_PIECE_BYTES, read)) {
            return failed_with_system_text(msg::DOWNLOAD_BROKE_OFF, {});
        }
        if (read == 0) {
            return body;
        }
        body.insert(body.end(), buffer.get(), buffer.get() + read);
        if (body.size() > limit_bytes) {
            return fail(std::string(msg::SENT_MORE_THAN_EXPECTED));
        }
        on_progress(body.size());
        if (should_stop()) {
            return fail(std::string(msg::STOPPED));
        }
    }
}

}  // namespace orvelo
