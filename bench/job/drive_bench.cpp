// Writing and reading back an image on a drive file: the job's own path (layout, exclusive
// unbuffered write-through writes in 1 MiB pieces, read-back and compare) against dd writing
// with oflag=direct, reading with iflag=direct and cmp comparing, on the same file in the same
// run. The image size is ORVELO_BENCH_IMAGE_MIB (default 256); the drive file lives in
// ORVELO_BENCH_DIR (default the current folder: put it on a real disk, not tmpfs).
//
// With ORVELO_BENCH_REALISTIC_IMAGE naming an image made by bench/make-realistic-image.sh (and
// its IMAGE.z beside it), that image is written instead, and the stages before the writing are
// measured too: reading the local image whole (the local road) and unpacking the compressed
// file with both digest checks (the download road after the download).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "../../tests/job/gpt_image.h"
#include "core/job_status.h"
#include "crypto/sha256.h"
#include "inflate/unpack_image.h"
#include "job/drive_identity.h"
#include "job/install_job.h"
#include "os/posix/storage_posix.h"

namespace {

using namespace orvelo;

const char* realistic_image() {
    const char* path = std::getenv("ORVELO_BENCH_REALISTIC_IMAGE");
    return path != nullptr && *path != '\0' ? path : nullptr;
}

std::vector<u8> read_all(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<u8> bytes(std::filesystem::file_size(path));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

u64 image_sectors() {
    const char* mib = std::getenv("ORVELO_BENCH_IMAGE_MIB");
    return (mib != nullptr ? std::strtoull(mib, nullptr, 10) : 256) * 2048;
}

struct Setup {
    std::filesystem::path folder;
    std::filesystem::path image_path;
    std::filesystem::path drive_path;
    std::vector<u8> image;

    Setup() {
        const char* dir = std::getenv("ORVELO_BENCH_DIR");
        folder = std::filesystem::path(dir != nullptr ? dir : ".") / "orvelo-drive-bench";
        std::filesystem::create_directories(folder);
        image_path = folder / "image.img";
        drive_path = folder / "drive.img";
        if (realistic_image() != nullptr) {
            image = read_all(realistic_image());
        } else {
            const u64 sectors = image_sectors();
            image = test::make_gpt_image(sectors, {{34, sectors - 34}});
        }
        std::ofstream(image_path, std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()),
                   static_cast<std::streamsize>(image.size()));
        // The drive: the image's size plus 16 MiB, so the tail lands apart from the body.
        std::filesystem::resize_file(image_path, image.size());
        std::ofstream(drive_path, std::ios::binary).close();
        std::filesystem::resize_file(drive_path, image.size() + 16 * 1024 * 1024);
        os::register_disk(0, drive_path.string());
    }
    ~Setup() { std::filesystem::remove_all(folder); }
};

Setup& setup() {
    static Setup s;
    return s;
}

void BM_JobWriteAndCheck(benchmark::State& state) {
    Setup& s = setup();
    const DriveCandidate drive{"bench", std::filesystem::file_size(s.drive_path), 0, 512};
    // The drive is a file this benchmark made and names itself: nobody can swap it, and
    // discovery's identity checks, which expect a removable disk, have nothing to confirm.
    const DriveAccess access{{[](const DriveCandidate&) -> Status { return {}; }, nullptr}};
    for (auto _ : state) {
        JobStatus status;
        const Status written = write_image(status, drive, s.image, access);
        if (!written) {
            state.SkipWithError(written.error().text.c_str());
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.image.size()));
}

void BM_DdWriteThenDdReadAndCmp(benchmark::State& state) {
    Setup& s = setup();
    const std::string mib = std::to_string(s.image.size() / (1024 * 1024));
    const std::string command = "dd if='" + s.image_path.string() + "' of='" +
                                s.drive_path.string() +
                                "' bs=1M oflag=direct conv=notrunc status=none && dd if='" +
                                s.drive_path.string() + "' bs=1M iflag=direct count=" + mib +
                                " status=none | cmp -s - '" + s.image_path.string() + "'";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("dd or cmp failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.image.size()));
}

// The local road's first stage: the image file read whole, as the job takes it.
void BM_ReadLocalImage(benchmark::State& state) {
    Setup& s = setup();
    for (auto _ : state) {
        std::optional<std::vector<u8>> bytes = read_whole_file(s.image_path.string());
        if (!bytes || bytes->size() != s.image.size()) {
            state.SkipWithError("read failed");
            break;
        }
        benchmark::DoNotOptimize(bytes->data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.image.size()));
}

// The same bytes read the way a buffer cleared in full first takes them: the peer that shows
// what the pass of clearing costs.
void BM_ReadIntoClearedBuffer(benchmark::State& state) {
    Setup& s = setup();
    for (auto _ : state) {
        std::vector<u8> bytes(std::filesystem::file_size(s.image_path));
        std::ifstream in(s.image_path, std::ios::binary);
        for (std::size_t done = 0; done < bytes.size(); done += FILE_READ_PIECE_BYTES) {
            in.read(reinterpret_cast<char*>(bytes.data() + done),
                    static_cast<std::streamsize>(
                        std::min<std::size_t>(FILE_READ_PIECE_BYTES, bytes.size() - done)));
        }
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.image.size()));
}

// The download road's stage after the download: the compressed file checked, inflated and the
// image checked (measured only with a realistic image, whose compressed form exists).
void BM_UnpackImage(benchmark::State& state) {
    Setup& s = setup();
    if (realistic_image() == nullptr) {
        state.SkipWithError("no ORVELO_BENCH_REALISTIC_IMAGE");
        return;
    }
    const std::vector<u8> compressed = read_all(std::string(realistic_image()) + ".z");
    ExpectedImage expected{compressed.size(), sha256(compressed), s.image.size(), sha256(s.image)};
    for (auto _ : state) {
        JobResult<std::vector<u8>> image = unpack_image(compressed, expected);
        if (!image) {
            state.SkipWithError("unpack failed");
            break;
        }
        benchmark::DoNotOptimize(image->data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.image.size()));
}

BENCHMARK(BM_ReadLocalImage)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadIntoClearedBuffer)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_UnpackImage)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_JobWriteAndCheck)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DdWriteThenDdReadAndCmp)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
