// A sink that offers the decoder room in a buffer of its own, as image unpacking does, for the
// tests and the fuzzer that compare decoding in place with decoding into copies. The buffer is
// exactly as large as it was made, so that a write past the room it gave is caught
// (AddressSanitizer), and a write of bytes that are not already in place fails.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "inflate/byte_stream.h"

namespace orvelo::test {

class InPlaceSink final : public ByteSink {
  public:
    explicit InPlaceSink(std::size_t capacity) : buffer(capacity) {}

    Status write(std::span<const u8> bytes) override {
        calls.push_back(bytes.size());
        if (bytes.data() != buffer.data() + size) {
            return fail("not in place");
        }
        size += bytes.size();
        return {};
    }

    u8* room(std::size_t count) override {
        return count <= buffer.size() - size ? buffer.data() + size : nullptr;
    }

    std::vector<u8> buffer;
    std::size_t size = 0;
    std::vector<std::size_t> calls;
};

}  // namespace orvelo::test
