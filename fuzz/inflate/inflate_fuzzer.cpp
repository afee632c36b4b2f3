// inflate on any bytes, with a limit and a source that answers in pieces, both taken from the
// input: it must end in a failure text or the output, within the limit and the sink's piece
// sizes, and agree with zlib's raw inflate whenever zlib decodes the stream completely.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "inflate/byte_stream.h"
#include "inflate/inflate.h"

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
        if (bytes.size() > (calls_ == 0 ? 65536u : 32768u)) {
            std::abort();
        }
        ++calls_;
        output.insert(output.end(), bytes.begin(), bytes.end());
        return {};
    }
    std::vector<u8> output;

  private:
    std::size_t calls_ = 0;
};

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
