// Output throughput of inflate beside zlib's inflate and libdeflate's decompressor, on the same
// streams in the same run, each writing the whole output into one buffer. The last lines give
// our throughput as a ratio to each peer. A third data set, a disk image of real files made by
// bench/make-realistic-image.sh, joins when ORVELO_BENCH_REALISTIC_IMAGE names it.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "bench_data.h"
#include "inflate/byte_stream.h"
#include "inflate/inflate.h"
#include "inflate/output_window.h"

namespace orvelo::bench {
namespace {

struct Dataset {
    std::vector<u8> original;
    std::vector<u8> compressed;
};

// The realistic image named by ORVELO_BENCH_REALISTIC_IMAGE, or "" when none is.
std::string realistic_image_path() {
    const char* path = std::getenv("ORVELO_BENCH_REALISTIC_IMAGE");
    return path != nullptr ? path : "";
}

std::vector<u8> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::vector<u8> bytes(in ? static_cast<std::size_t>(in.tellg()) : 0);
    in.seekg(0);
    if (bytes.empty() || !in.read(reinterpret_cast<char*>(bytes.data()),
                                  static_cast<std::streamsize>(bytes.size()))) {
        throw std::runtime_error("cannot read " + path);
    }
    return bytes;
}

// Built on first use, so that only the benchmarks that run pay for their data.
const Dataset& dataset(const std::string& name) {
    static std::map<std::string, std::unique_ptr<Dataset>> cache;
    auto& slot = cache[name];
    if (!slot) {
        slot = std::make_unique<Dataset>();
        const std::size_t mib = 1 << 20;
        if (name.starts_with("realistic")) {
            // The image and the stream that bench/make-realistic-image.sh wrote beside it.
            const std::string path = realistic_image_path();
            slot->original = read_file(path);
            slot->compressed = read_file(path + ".z");
            return *slot;
        }
        if (name.starts_with("image")) {
            static const std::vector<u8> image =
                synthetic_disk_image(mib_from_environment("ORVELO_BENCH_IMAGE_MIB", 16) * mib);
            slot->original = image;
        } else {
            slot->original =
                binaries_and_text(mib_from_environment("ORVELO_BENCH_MIX_MIB", 8) * mib);
        }
        slot->compressed = zlib_raw_deflate(slot->original, name.ends_with("9") ? 9 : 6);
    }
    return *slot;
}

// Appends into a buffer sized up front and lets the decoder produce its output there in place,
// as image unpacking does.
class BufferSink final : public ByteSink {
  public:
    explicit BufferSink(u8* out, std::size_t capacity) : out_(out), capacity_(capacity) {}
    Status write(std::span<const u8> bytes) override {
        if (bytes.size() > capacity_ - size_) {
            return fail("output larger than expected");
        }
        if (bytes.data() != out_ + size_) {
            std::memcpy(out_ + size_, bytes.data(), bytes.size());
        }
        size_ += bytes.size();
        return {};
    }
    u8* room(std::size_t count) override {
        return count <= capacity_ - size_ ? out_ + size_ : nullptr;
    }
    std::size_t size() const { return size_; }

  private:
    u8* out_;
    std::size_t capacity_;
    std::size_t size_ = 0;
};

// `out` has WINDOW_SLACK_BYTES more than the image, for the decoder's room.
std::size_t decode_ours(const Dataset& d, std::vector<u8>& out) {
    MemorySource source(d.compressed);
    BufferSink sink(out.data(), out.size());
    if (!inflate(source, sink, d.original.size())) {
        throw std::runtime_error("inflate failed");
    }
    return sink.size();
}

std::size_t decode_zlib(const Dataset& d, std::vector<u8>& out) {
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = const_cast<u8*>(d.compressed.data());
    z.avail_in = static_cast<uInt>(d.compressed.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    if (inflate(&z, Z_FINISH) != Z_STREAM_END) {
        throw std::runtime_error("zlib inflate failed");
    }
    const std::size_t size = z.total_out;
    inflateEnd(&z);
    return size;
}

std::size_t decode_libdeflate(const Dataset& d, std::vector<u8>& out) {
    static libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    std::size_t size = 0;
    if (libdeflate_deflate_decompress(decompressor, d.compressed.data(), d.compressed.size(),
                                      out.data(), out.size(), &size) != LIBDEFLATE_SUCCESS) {
        throw std::runtime_error("libdeflate failed");
    }
    return size;
}

using Decoder = std::size_t (*)(const Dataset&, std::vector<u8>&);

void run(benchmark::State& state, const std::string& name, Decoder decode) {
    const Dataset& d = dataset(name);
    std::vector<u8> out(d.original.size() + WINDOW_SLACK_BYTES);
    if (decode(d, out) != d.original.size() ||
        !std::equal(d.original.begin(), d.original.end(), out.begin())) {
        state.SkipWithError("wrong output");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(decode(d, out));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<i64>(state.iterations() * d.original.size()));
    state.counters["ratio"] =
        static_cast<double>(d.original.size()) / static_cast<double>(d.compressed.size());
}

// Keeps each benchmark's best throughput over its repetitions so that the ratios can be printed
// at the end: on a shared machine the slower repetitions mostly measure the neighbours. Run with
// --benchmark_repetitions=N --benchmark_enable_random_interleaving=true so that the decoders
// take turns under the same load.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                const auto found = run.counters.find("bytes_per_second");
                if (found != run.counters.end()) {
                    double& best = throughput[run.benchmark_name()];
                    best = std::max(best, found->second.value);
                }
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> throughput;
};

// The realistic image is measured only when one is named (see bench/make-realistic-image.sh).
const char* const DATASETS[] = {"image_level6", "image_level9", "mix_level6", "realistic_level9"};

}  // namespace
}  // namespace orvelo::bench

int main(int argc, char** argv) {
    using namespace orvelo::bench;
    const std::pair<const char*, Decoder> decoders[] = {
        {"ours", decode_ours}, {"zlib", decode_zlib}, {"libdeflate", decode_libdeflate}};
    for (const char* name : DATASETS) {
        if (std::string_view(name).starts_with("realistic") && realistic_image_path().empty()) {
            continue;
        }
        for (const auto& [decoder_name, decoder] : decoders) {
            benchmark::RegisterBenchmark(
                (std::string(name) + "/" + decoder_name).c_str(),
                [name = std::string(name), decoder = decoder](benchmark::State& state) {
                    run(state, name, decoder);
                })
                ->Unit(benchmark::kMillisecond);
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* name : DATASETS) {
        const auto ours = reporter.throughput.find(std::string(name) + "/ours");
        if (ours == reporter.throughput.end()) {
            continue;
        }
        for (const char* peer : {"zlib", "libdeflate"}) {
            const auto other = reporter.throughput.find(std::string(name) + "/" + peer);
            if (other != reporter.throughput.end()) {
                std::printf("%s: ours %.3f GB/s = %.2fx %s (%.3f GB/s)\n", name, ours->second / 1e9,
                            ours->second / other->second, peer, other->second / 1e9);
            }
        }
    }
    benchmark::Shutdown();
    return 0;
}
