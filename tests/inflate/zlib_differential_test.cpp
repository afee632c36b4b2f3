// Differential tests against zlib's raw inflate (windowBits -15): streams that zlib's deflate
// makes at every level with every strategy, then mutated and cut short. Whenever zlib decodes a
// complete stream this decoder gives the same bytes; whenever zlib refuses or runs out of data,
// this decoder fails too, except for the one leniency it has by design (see below).
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/messages.h"
#include "in_place_sink.h"
#include "inflate/output_window.h"
#include "inflate_harness.h"

namespace orvelo {
namespace {

std::vector<u8> zlib_deflate(std::span<const u8> data, int level, int strategy,
                             int window_bits = -15, int mem_level = 8) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, window_bits, mem_level, strategy), Z_OK);
    std::vector<u8> out(deflateBound(&z, static_cast<uLong>(data.size())) + 16);
    z.next_in = const_cast<u8*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

enum class ZlibEnd { Complete, Refused, Incomplete, TooLarge };

struct ZlibResult {
    ZlibEnd end;
    std::vector<u8> output;
    std::string message;
};

ZlibResult zlib_inflate(std::span<const u8> stream, std::size_t cap) {
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
    static std::vector<u8> buffer;  // reused: most answers are far smaller than cap
    buffer.resize(std::max(buffer.size(), cap));
    ZlibResult result{ZlibEnd::Incomplete, {}, ""};
    z.next_in = const_cast<u8*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    z.next_out = buffer.data();
    z.avail_out = static_cast<uInt>(cap);
    const int rc = inflate(&z, Z_FINISH);
    result.output.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(z.total_out));
    if (rc == Z_STREAM_END) {
        result.end = ZlibEnd::Complete;
    } else if (rc == Z_DATA_ERROR) {
        result.end = ZlibEnd::Refused;
        result.message = z.msg != nullptr ? z.msg : "";
    } else if (z.avail_out == 0) {
        result.end = ZlibEnd::TooLarge;
    }
    inflateEnd(&z);
    return result;
}

// zlib refuses any Huffman code that leaves bit patterns unassigned (beyond a single one-bit
// code); this decoder accepts such a code and fails only when the stream uses one of its
// unassigned patterns. These are zlib's messages for refused code sets.
bool refused_code_set(const std::string& message) {
    return message == "invalid code lengths set" || message == "invalid literal/lengths set" ||
           message == "invalid distances set";
}

struct Tally {
    int complete = 0, refused = 0, incomplete = 0, lenient = 0;
};

// Decodes `stream` with both decoders and checks that they agree.
void compare(std::span<const u8> stream, std::size_t cap, Tally& tally, const std::string& what) {
    const ZlibResult zlib = zlib_inflate(stream, cap);
    if (zlib.end == ZlibEnd::TooLarge) {
        return;  // zlib cannot say how the stream ends
    }
    const test::Outcome ours = test::run_inflate(stream, cap, 1 + stream.size() % 7000);
    switch (zlib.end) {
        case ZlibEnd::Complete:
            ++tally.complete;
            ASSERT_EQ(ours.error(), "") << what;
            ASSERT_EQ(ours.output, zlib.output) << what;
            break;
        case ZlibEnd::Incomplete:
            ++tally.incomplete;
            ASSERT_EQ(ours.error(), msg::INFLATE_ENDS_EARLY) << what;
            break;
        case ZlibEnd::Refused:
            ++tally.refused;
            if (ours.status && refused_code_set(zlib.message)) {
                // Everything zlib produced before it refused is the start of our output.
                ++tally.lenient;
                ASSERT_GE(ours.output.size(), zlib.output.size()) << what;
                ASSERT_TRUE(std::equal(zlib.output.begin(), zlib.output.end(), ours.output.begin()))
                    << what;
            } else {
                ASSERT_NE(ours.error(), "") << what << ": zlib refused with " << zlib.message;
            }
            break;
        case ZlibEnd::TooLarge:
            break;
    }
}

// Test data of several kinds, reproducible from a seed.
std::vector<u8> random_bytes(std::mt19937& rng, std::size_t size) {
    std::vector<u8> data(size);
    for (u8& byte : data) {
        byte = static_cast<u8>(rng());
    }
    return data;
}

std::vector<u8> text_like(std::mt19937& rng, std::size_t size) {
    static const char* const words[] = {"the ",   "installer ", "drive ", "of ",    "image ",
                                        "a ",     "write ",     "GPT ",   "block ", "sector\n",
                                        "data, ", "Orvelo ",    "and ",   "to ",    "is "};
    std::vector<u8> data;
    std::geometric_distribution<int> pick(0.25);
    while (data.size() < size) {
        const char* word = words[std::min(pick(rng), 14)];
        data.insert(data.end(), word, word + std::strlen(word));
    }
    data.resize(size);
    return data;
}

std::vector<u8> runs_and_patterns(std::mt19937& rng, std::size_t size) {
    std::vector<u8> data;
    while (data.size() < size) {
        switch (rng() % 4) {
            case 0:
                data.insert(data.end(), rng() % 5000, 0);
                break;
            case 1:
                data.insert(data.end(), rng() % 300, static_cast<u8>(rng()));
                break;
            case 2: {
                const std::size_t period = 1 + rng() % 20;
                const std::vector<u8> unit = random_bytes(rng, period);
                for (std::size_t i = 0, n = rng() % 2000; i < n; ++i) {
                    data.push_back(unit[i % period]);
                }
                break;
            }
            default: {
                // A copy of something from up to 40000 bytes back.
                if (data.size() > 100) {
                    const std::size_t from =
                        data.size() - 1 - rng() % std::min<std::size_t>(data.size() - 1, 40000);
                    for (std::size_t i = 0, n = rng() % 1000; i < n; ++i) {
                        data.push_back(data[from + i]);
                    }
                }
                break;
            }
        }
    }
    data.resize(size);
    return data;
}

struct Sample {
    std::string name;
    std::vector<u8> data;
};

std::vector<Sample> samples(std::size_t scale) {
    std::mt19937 rng(20240611);
    return {
        {"empty", {}},
        {"one byte", {0x41}},
        {"random", random_bytes(rng, 3 * scale)},
        {"text", text_like(rng, 10 * scale)},
        {"runs", runs_and_patterns(rng, 10 * scale)},
        {"zeros", std::vector<u8>(12 * scale, 0)},
        {"mixed",
         [&] {
             std::vector<u8> data = text_like(rng, 2 * scale);
             const std::vector<u8> noise = random_bytes(rng, scale);
             data.insert(data.end(), noise.begin(), noise.end());
             const std::vector<u8> runs = runs_and_patterns(rng, 3 * scale);
             data.insert(data.end(), runs.begin(), runs.end());
             return data;
         }()},
    };
}

const int STRATEGIES[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};

TEST(InflateAgainstZlib, DecodesEveryLevelAndStrategyToTheOriginal) {
    Tally tally;
    for (const Sample& sample : samples(10000)) {
        for (int level = 0; level <= 9; ++level) {
            for (int strategy : STRATEGIES) {
                const std::string what = sample.name + " level " + std::to_string(level) +
                                         " strategy " + std::to_string(strategy);
                const std::vector<u8> stream = zlib_deflate(sample.data, level, strategy);
                const test::Outcome ours = test::run_inflate(stream);
                ASSERT_EQ(ours.error(), "") << what;
                ASSERT_EQ(ours.output, sample.data) << what;
                compare(stream, sample.data.size() + 1, tally, what);
            }
        }
    }
    EXPECT_EQ(tally.complete, 7 * 10 * 5);
}

TEST(InflateAgainstZlib, DecodesSmallerWindowsAndMemoryLevels) {
    Tally tally;
    for (const Sample& sample : samples(8000)) {
        for (int window_bits : {-9, -12}) {
            for (int mem_level : {1, 9}) {
                const std::vector<u8> stream =
                    zlib_deflate(sample.data, 9, Z_DEFAULT_STRATEGY, window_bits, mem_level);
                const test::Outcome ours = test::run_inflate(stream);
                ASSERT_EQ(ours.error(), "") << sample.name;
                ASSERT_EQ(ours.output, sample.data) << sample.name;
            }
        }
    }
}

TEST(InflateAgainstZlib, AgreesOnMutatedAndTruncatedStreams) {
    std::mt19937 rng(7);
    Tally tally;
    for (const Sample& sample : samples(1500)) {
        for (int level : {1, 6, 9}) {
            for (int strategy : STRATEGIES) {
                const std::vector<u8> stream = zlib_deflate(sample.data, level, strategy);
                const std::size_t cap = 4 * sample.data.size() + 70000;
                for (int round = 0; round < 40 && !stream.empty(); ++round) {
                    std::vector<u8> mutated = stream;
                    const std::size_t at = rng() % mutated.size();
                    std::string what = sample.name + " level " + std::to_string(level) +
                                       " strategy " + std::to_string(strategy) + " round " +
                                       std::to_string(round);
                    switch (round % 4) {
                        case 0:
                            mutated[at] ^= static_cast<u8>(1u << (rng() % 8));
                            break;
                        case 1:
                            mutated[at] = static_cast<u8>(rng());
                            break;
                        case 2:
                            mutated.resize(at);
                            break;
                        default:
                            // Several flips near the start, where the block headers are.
                            for (int k = 0; k < 3; ++k) {
                                mutated[rng() % std::min<std::size_t>(mutated.size(), 64)] ^=
                                    static_cast<u8>(1u << (rng() % 8));
                            }
                            break;
                    }
                    compare(mutated, cap, tally, what);
                    if (HasFatalFailure()) {
                        return;
                    }
                }
            }
        }
    }
    // Every kind of ending occurred.
    EXPECT_GT(tally.complete, 0);
    EXPECT_GT(tally.refused, 0);
    EXPECT_GT(tally.incomplete, 0);
    std::printf("zlib complete %d, refused %d (of which we accept %d), incomplete %d\n",
                tally.complete, tally.refused, tally.lenient, tally.incomplete);
}

// Decoding in place changes where the bytes are made, nothing else: the same sink calls, the
// same bytes, the same failures, at the limit, one short of it, and on damaged streams.
TEST(InflateAgainstZlib, InPlaceOutputMatchesCopiedOutput) {
    std::mt19937 rng(11);
    for (const Sample& sample : samples(40000)) {
        for (int level : {1, 9}) {
            for (int strategy : {Z_DEFAULT_STRATEGY, Z_RLE}) {
                const std::vector<u8> stream = zlib_deflate(sample.data, level, strategy);
                std::vector<u8> damaged = stream;
                damaged[rng() % damaged.size()] ^= static_cast<u8>(1u << (rng() % 8));
                const u64 size = sample.data.size();
                const std::pair<std::vector<u8>, u64> cases[] = {
                    {stream, size}, {stream, size - 1}, {damaged, size}};
                for (const auto& [input, limit] : cases) {
                    if (limit > size) {
                        continue;  // one short of an empty output
                    }
                    const std::string what = sample.name + " level " + std::to_string(level) +
                                             " strategy " + std::to_string(strategy) + " limit " +
                                             std::to_string(limit);
                    const test::Outcome copied = test::run_inflate(input, limit);
                    MemorySource source(input);
                    test::InPlaceSink sink(static_cast<std::size_t>(limit) + WINDOW_SLACK_BYTES);
                    const Status status = inflate(source, sink, limit);
                    ASSERT_EQ(status ? std::string() : status.error().text, copied.error()) << what;
                    ASSERT_EQ(sink.calls, copied.sink_calls) << what;
                    ASSERT_TRUE(
                        std::equal(copied.output.begin(), copied.output.end(), sink.buffer.begin()))
                        << what;
                }
            }
        }
    }
}

// Random bytes as a stream: mostly refused at once, sometimes a valid beginning.
TEST(InflateAgainstZlib, AgreesOnRandomBytes) {
    std::mt19937 rng(99);
    Tally tally;
    for (int round = 0; round < 20000; ++round) {
        std::vector<u8> bytes = random_bytes(rng, 1 + rng() % 64);
        // Type bits 01 or 10 more often than 11, so that decoding gets somewhere.
        bytes[0] = static_cast<u8>((bytes[0] & ~6u) | ((1 + rng() % 2) << 1));
        compare(bytes, 1 << 18, tally, "random round " + std::to_string(round));
        if (HasFatalFailure()) {
            return;
        }
    }
    std::printf("zlib complete %d, refused %d (of which we accept %d), incomplete %d\n",
                tally.complete, tally.refused, tally.lenient, tally.incomplete);
}

}  // namespace
}  // namespace orvelo
