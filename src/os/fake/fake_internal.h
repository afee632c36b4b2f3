// What the fake's parts share: the call log, failure injections and the call observer.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "core/unicode.h"
#include "os/fake/fake_os.h"

namespace orvelo::fake::internal {

inline std::string utf8(const std::u16string& text) {
    return wide_to_utf8(text);
}

inline void log(FakeOs& os, std::string call) {
    os.calls.push_back(std::move(call));
}

// Counts one call of `name` against the injections and gives the one it hits, if any.
inline std::optional<Injection> hit(FakeOs& os, const std::string& name) {
    for (auto it = os.injections.begin(); it != os.injections.end(); ++it) {
        if (it->call == name && --it->occurrence == 0) {
            Injection injection = *it;
            os.injections.erase(it);
            return injection;
        }
    }
    return std::nullopt;
}

inline bool fail_with(FakeOs& os, std::uint32_t error) {
    os.last_error = error;
    return false;
}

// Tells the test's observer, outside the fake's lock, that `name` is about to run.
inline void notify(const std::string& name) {
    std::function<void(const std::string&)> observer;
    {
        FakeOs& os = fake_os();
        const std::lock_guard lock(os.mutex);
        observer = os.on_call;
    }
    if (observer) {
        observer(name);
    }
}

}  // namespace orvelo::fake::internal
