// inflate on any bytes, with a limit and a source that answers in pieces, both taken from the
// input: it must end in a failure text or the output, within the limit and the sink's piece
// sizes, agree with zlib's raw inflate whenever zlib decodes the stream completely, and end the
// same way when the stream is read in place and decoded into the sink's own buffer.
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "../../tests/inflate/in_place_sink.h"
#include "inflate/byte_stream.h"
#include "inflate/inflate.h"
#include "inflate/output_window.h"

namespace {

using orvelo::u8;

class PieceSource final : public orvelo::ByteSource {
  public:
    PieceSource(std::span<const u8> input, std::size_t piece) : input_(input), piece_(piece) {}
    orvelo::Result<std::size_t> read(std::span<u8> buffer) override {
        if (ended_) {
            std::abort();  // called again after answering 0
        }
        const std::size_t count = std::min({buffer.size(), piece_, input_.size() - position_});
        std::copy_n(input_.data() + position_, count, buffer.data());
        position_ += count;
        ended_ = count == 0;
        return count;
    }

  private:
    std::span<const u8> input_;
    std::size_t piece_;
    std::size_t position_ = 0;
    bool ended_ = false;
};

class CheckingSink final : public orvelo::ByteSink {
  public:
    orvelo::Status write(std::span<const u8> bytes) override {
        if (bytes.size() > (calls.empty() ? 65536u : 32768u)) {
            std::abort();
        }
        calls.push_back(bytes.size());
        output.insert(output.end(), bytes.begin(), bytes.end());
        return {};
    }
    std::vector<u8> output;
    std::vector<std::size_t> calls;
};

std::string text_of(const orvelo::Status& status) {
    return status ? std::string() : status.error().text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    // Byte 0: the limit (0 to 255 KiB in steps of 1 KiB, or none); byte 1: the source's piece.
    const orvelo::u64 limit = data[0] == 255 ? ~orvelo::u64{0} : orvelo::u64{data[0]} * 1024 + 7;
    const std::size_t piece = data[1] == 0 ? 16384 : data[1];
    const std::span<const u8> stream(data + 2, size - 2);

    PieceSource source(stream, piece);
    CheckingSink sink;
    const orvelo::Status status = orvelo::inflate(source, sink, limit);
    if (sink.output.size() > limit) {
        std::abort();
    }

    // In place, reading the stream where it lies and decoding into the sink's own buffer: the
    // same outcome, the same calls, the same bytes.
    if (limit <= 255 * 1024 + 7) {
        orvelo::MemorySource memory(stream);
        orvelo::test::InPlaceSink in_place(static_cast<std::size_t>(limit) +
                                           orvelo::WINDOW_SLACK_BYTES);
        const orvelo::Status again = orvelo::inflate(memory, in_place, limit);
        if (text_of(again) != text_of(status) || in_place.calls != sink.calls ||
            !std::equal(sink.output.begin(), sink.output.end(), in_place.buffer.begin())) {
            std::abort();
        }
    }

    // zlib, with room for one byte more than our limit allows (capped).
    const std::size_t cap = static_cast<std::size_t>(std::min<orvelo::u64>(limit, 1 << 22)) + 1;
    static std::vector<u8> expected;
    expected.resize(cap);
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = const_cast<u8*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    z.next_out = expected.data();
    z.avail_out = static_cast<uInt>(cap);
    const int rc = inflate(&z, Z_FINISH);
    expected.resize(z.total_out);
    inflateEnd(&z);
    if (rc == Z_STREAM_END && expected.size() <= limit) {
        if (!status || sink.output != expected) {
            std::abort();  // zlib decoded the whole stream within the limit: so must we
        }
    } else if (rc == Z_STREAM_END || (rc == Z_BUF_ERROR && z.avail_out == 0)) {
        if (status && limit < cap) {
            std::abort();  // the output passes our limit
        }
    } else if (rc == Z_BUF_ERROR && status) {
        std::abort();  // zlib ran out of data before the final block
    }
    return 0;
}
