// The download road against the fake system: a release signed with the development key, served
// by the fake HTTP stack, cached under the fake temporary folder, unpacked and written.
#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <sstream>

#include "core/text.h"
#include "crypto/sha256.h"
#include "gpt_image.h"
#include "job/image_fetch.h"
#include "job/install_job.h"
#include "openssl_support.h"
#include "os/fake/fake_os.h"

namespace orvelo {
namespace {

using fake::fake_calls_named;
using fake::fake_os;

constexpr u64 DISK_BYTES = 4 * 1024 * 1024;
const std::u16string DISK = u"\\\\.\\PhysicalDrive9";
const DriveCandidate STICK{"Kingston DataTraveler", DISK_BYTES, 9, 512};
const std::u16string CACHE_FOLDER = u"C:\\Users\\ada\\AppData\\Local\\Temp\\orvelo-installer";

std::vector<u8> raw_deflate(const std::vector<u8>& data) {
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::vector<u8> out(deflateBound(&stream, data.size()));
    stream.next_in = const_cast<u8*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

std::vector<u8> bytes_of(std::string_view text) {
    return {text.begin(), text.end()};
}

// A release as the publishing tool makes it: the compressed image and the signed manifest.
struct Release {
    std::vector<u8> image;
    std::vector<u8> compressed;
    std::string path;
    std::vector<u8> manifest;
};

test::Pkey development_key() {
    std::ifstream in(std::string(ORVELO_TEST_DATA_DIR) + "/keys/development-private.pem");
    std::stringstream pem;
    pem << in.rdbuf();
    return test::private_key_from_pem(pem.str());
}

std::vector<u8> sign(const std::string& body, EVP_PKEY* key) {
    Sha256 context;
    constexpr std::string_view PREFIX("Orvelo signed document\0", 23);
    sha256_update(context, std::span(reinterpret_cast<const u8*>(PREFIX.data()), PREFIX.size()));
    sha256_update(context, std::span(reinterpret_cast<const u8*>(body.data()), body.size()));
    const Sha256Digest digest = sha256_finish(context);
    Bytes32 e;
    std::copy(digest.begin(), digest.end(), e.begin());
    const test::Signature signature = test::sign_digest(key, e);
    const Bytes64 public_key = test::public_key_bytes(key);
    const Sha256Digest id = sha256(public_key);
    const std::string line = "signature " + hex_lower(std::span(id.data(), 8)) + " " +
                             hex_lower(signature.r) + " " + hex_lower(signature.s) + "\n";
    std::vector<u8> document = bytes_of(body);
    document.insert(document.end(), line.begin(), line.end());
    return document;
}

Release make_release(const std::string& version, u8 seed, EVP_PKEY* key) {
    Release release;
    release.image = test::make_gpt_image(256, {{34, 200}});
    release.image[40 * 512] = seed;  // each release its own bytes
    release.compressed = raw_deflate(release.image);
    const std::string file_digest = hex_lower(sha256(release.compressed));
    release.path = "installer/orvelo-" + file_digest.substr(0, 16) + ".img.z";
    const std::string body =
        "orvelo-installer 1\nversion " + version + "\nbuild 3\nissued 1\nimage " +
        hex_lower(sha256(release.image)) + " " + std::to_string(release.image.size()) + "\nfile " +
        release.path + " " + file_digest + " " + std::to_string(release.compressed.size()) + "\n";
    release.manifest = sign(body, key);
    return release;
}

class ReleaseRoadTest : public ::testing::Test {
  public:
    void SetUp() override {
        fake::reset_fake_os();
        fake_os().disks[DISK].bytes.assign(DISK_BYTES, 0x5A);
        fake_os().disks[DISK].descriptor = fake::storage_descriptor(7, "Kingston", "DataTraveler");
        fake_os().disks[DISK].geometry = fake::FakeGeometry{512, DISK_BYTES};
        settings.server_url = "https://updates.test";
        settings.dev_keys = true;
        begin_job(status, STICK);
    }

    void serve(const Release& release, std::vector<u8> file_body) {
        fake_os().http_answers["/installer/latest"] = {200, {release.manifest}};
        fake_os().http_answers["/" + release.path] = {200, {std::move(file_body)}};
    }

    JobOutcome run() {
        begin_job(status, STICK);
        fake_os().calls.clear();
        JobFrontEnd window;
        run_job(status, settings_guard, settings, window);
        return read_job_outcome(status);
    }

    std::u16string cache_file(const Release& release) {
        return CACHE_FOLDER + u"\\" + utf8_to_wide(hex_lower(sha256(release.compressed))).c_str() +
               u".img.z";
    }

    // The image path's answers, one per request, in order; then `serve`'s answer.
    static void answer_image(const Release& release, std::vector<fake::FakeAnswer> answers) {
        fake_os().http_next_answers["/" + release.path] = std::move(answers);
    }

    // The extra header of each request for the image, in order ("" for none).
    static std::vector<std::string> image_requests(const Release& release) {
        std::vector<std::string> headers;
        const std::vector<std::string> calls =
            fake_calls_named({"http_open_request", "http_send_request"});
        for (std::size_t at = 0; at + 1 < calls.size(); ++at) {
            if (calls[at] == "http_open_request(/" + release.path + ", secure)") {
                headers.push_back(calls[at + 1].substr(18, calls[at + 1].size() - 19));
            }
        }
        return headers;
    }

    std::u16string part_file(const Release& release) { return cache_file(release) + u".partial"; }

    bool drive_untouched() {
        return std::all_of(fake_os().disks[DISK].bytes.begin(), fake_os().disks[DISK].bytes.end(),
                           [](u8 b) { return b == 0x5A; });
    }

    bool image_requested(const Release& release) {
        return !fake_calls_named({"http_open_request"}).empty() &&
               fake_calls_named({"http_open_request"}).back() ==
                   "http_open_request(/" + release.path + ", secure)";
    }

    test::Pkey key = development_key();
    JobStatus status;
    SpinLock settings_guard;
    Settings settings;
};

TEST_F(ReleaseRoadTest, DownloadsChecksCachesAndWritesTheRelease) {
    ASSERT_TRUE(key);
    const Release release = make_release("1.2", 1, key.get());
    serve(release, release.compressed);
    std::vector<std::pair<u64, u64>> download_progress;
    fake_os().on_call = [&](const std::string& call) {
        if (call == "http_read_data" && load_phase(status) == JobPhase::Fetching) {
            download_progress.emplace_back(status.bytes_done.load(), status.bytes_total.load());
        }
    };
    const JobOutcome outcome = run();
    ASSERT_EQ(outcome.phase, JobPhase::Succeeded) << outcome.outcome_text;
    EXPECT_EQ(outcome.outcome_text, "1.2");
    EXPECT_EQ(fake_calls_named({"http_open_request"}),
              (std::vector<std::string>{"http_open_request(/installer/latest, secure)",
                                        "http_open_request(/" + release.path + ", secure)"}));
    EXPECT_EQ(fake_os().files[cache_file(release)], release.compressed);
    EXPECT_TRUE(std::equal(release.image.begin() + 17408, release.image.end() - 16896,
                           fake_os().disks[DISK].bytes.begin() + 17408));
    // Before the download the total is 0; at its last read, all of the expected size is in.
    ASSERT_FALSE(download_progress.empty());
    EXPECT_EQ(download_progress.front(), std::make_pair(u64{0}, u64{0}));
    const u64 size = release.compressed.size();
    EXPECT_EQ(download_progress.back(), std::make_pair(size, size));
}

TEST_F(ReleaseRoadTest, AnIntactCachedFileIsUsedWithoutDownloadOrProgress) {
    const Release release = make_release("1.2", 1, key.get());
    serve(release, release.compressed);
    ASSERT_EQ(run().phase, JobPhase::Succeeded);
    ASSERT_TRUE(image_requested(release));

    u64 largest_total_while_fetching = 0;
    fake_os().on_call = [&](const std::string&) {
        if (load_phase(status) == JobPhase::Fetching) {
            largest_total_while_fetching =
                std::max(largest_total_while_fetching, status.bytes_total.load());
        }
    };
    ASSERT_EQ(run().phase, JobPhase::Succeeded);
    EXPECT_FALSE(image_requested(release));
    EXPECT_EQ(largest_total_while_fetching, 0u);
}

TEST_F(ReleaseRoadTest, AChangedCachedFileIsDownloadedAgainAndOverwritten) {
    const Release release = make_release("1.2", 1, key.get());
    serve(release, release.compressed);
    fake_os().directories.insert(CACHE_FOLDER);
    std::vector<u8> damaged = release.compressed;
    damaged[damaged.size() / 2] ^= 0x01;
    fake_os().files[cache_file(release)] = damaged;
    ASSERT_EQ(run().phase, JobPhase::Succeeded);
    EXPECT_TRUE(image_requested(release));
    EXPECT_EQ(fake_os().files[cache_file(release)], release.compressed);
}

TEST_F(ReleaseRoadTest, ADownloadOneByteTooLongIsRefusedNotKeptAndFetchedAgain) {
    const Release release = make_release("1.2", 1, key.get());
    std::vector<u8> longer = release.compressed;
    longer.push_back(0);
    serve(release, longer);
    JobOutcome outcome = run();
    EXPECT_EQ(outcome.phase, JobPhase::Failed);
    EXPECT_EQ(outcome.outcome_text, "The download is damaged. Try again.");
    EXPECT_FALSE(fake_os().files.contains(cache_file(release)));
    EXPECT_TRUE(std::all_of(fake_os().disks[DISK].bytes.begin(), fake_os().disks[DISK].bytes.end(),
                            [](u8 b) { return b == 0x5A; }));

    serve(release, release.compressed);
    outcome = run();
    EXPECT_EQ(outcome.phase, JobPhase::Succeeded);
    EXPECT_TRUE(image_requested(release));

    // Two bytes too long is refused by the client itself, and the cache is not touched.
    const Release second = make_release("1.3", 2, key.get());
    std::vector<u8> much_longer = second.compressed;
    much_longer.resize(much_longer.size() + 2);
    serve(second, much_longer);
    outcome = run();
    EXPECT_EQ(outcome.outcome_text, "The server sent more than expected.");
    EXPECT_FALSE(fake_os().files.contains(cache_file(second)));
}

// The kept release goes only once the next one passed every check and is kept in its place: a
// damaged next release, or one whose file can't be kept, leaves it as it was.
TEST_F(ReleaseRoadTest, TheKeptReleaseStaysUntilTheNextOneIsCheckedAndKept) {
    const Release first = make_release("1.2", 1, key.get());
    const Release second = make_release("1.3", 2, key.get());
    serve(first, first.compressed);
    ASSERT_EQ(run().phase, JobPhase::Succeeded);
    ASSERT_EQ(fake_os().files.at(cache_file(first)), first.compressed);

    std::vector<u8> damaged = second.compressed;
    damaged[damaged.size() / 2] ^= 0x01;
    serve(second, damaged);
    JobOutcome outcome = run();
    EXPECT_EQ(outcome.outcome_text, "The download is damaged. Try again.");
    EXPECT_FALSE(fake_os().files.contains(cache_file(second)));
    EXPECT_EQ(fake_os().files.at(cache_file(first)), first.compressed);

    serve(second, second.compressed);
    fake_os().injections.push_back({"move_file_in", 1});
    outcome = run();
    EXPECT_EQ(outcome.phase, JobPhase::Succeeded) << outcome.outcome_text;
    EXPECT_FALSE(fake_os().files.contains(cache_file(second)));
    EXPECT_EQ(fake_os().files.at(cache_file(first)), first.compressed);

    // Kept at last, it takes the first one's place.
    outcome = run();
    EXPECT_EQ(outcome.phase, JobPhase::Succeeded) << outcome.outcome_text;
    EXPECT_EQ(fake_os().files.at(cache_file(second)), second.compressed);
    EXPECT_FALSE(fake_os().files.contains(cache_file(first)));
}

TEST_F(ReleaseRoadTest, TwoReleasesInARowLeaveOneCacheFileAndNothingElseIsTouched) {
    const Release first = make_release("1.2", 1, key.get());
    const Release second = make_release("1.3", 2, key.get());
    serve(first, first.compressed);
    ASSERT_EQ(run().phase, JobPhase::Succeeded);
    const std::u16string first_name = cache_file(first).substr(CACHE_FOLDER.size() + 1);
    // Leftovers of the first release: a part, and temporary files a crash left behind.
    const std::u16string ours[] = {first_name + u".partial", first_name + u".12345.part",
                                   first_name + u".partial.9.part"};
    for (const std::u16string& name : ours) {
        fake_os().files[CACHE_FOLDER + u"\\" + name] = {1};
    }
    // Not ours, or not plain files: each stays as it is.
    const std::u16string digits = first_name.substr(0, 64);
    const std::u16string foreign_files[] = {u"notes.txt",
                                            digits + u".img.z.bak",
                                            digits + u".img",
                                            digits + u".img.z.x.part",
                                            digits.substr(1) + u"0.img.Z",
                                            u"0" + digits + u".img.z"};
    for (const std::u16string& name : foreign_files) {
        fake_os().files[CACHE_FOLDER + u"\\" + name] = {2};
    }
    fake_os().files[CACHE_FOLDER + u"\\" + std::u16string(64, u'A') + u".img.z"] = {3};
    fake_os().directories.insert(CACHE_FOLDER + u"\\" + digits + u".img.z.partial");
    fake_os().files[u"C:\\precious"] = {4};
    fake_os().reparse_points[CACHE_FOLDER + u"\\" + std::u16string(64, u'b') + u".img.z"] =
        u"C:\\precious";
    const auto others_before = [&] {
        auto files = fake_os().files;
        std::erase_if(files, [&](const auto& entry) {
            return entry.first == cache_file(first) || entry.first == cache_file(second) ||
                   std::any_of(std::begin(ours), std::end(ours), [&](const auto& name) {
                       return entry.first == CACHE_FOLDER + u"\\" + name;
                   });
        });
        return files;
    }();
    const auto links_before = fake_os().reparse_points;
    const auto folders_before = fake_os().directories;

    serve(second, second.compressed);
    JobOutcome outcome = run();
    ASSERT_EQ(outcome.phase, JobPhase::Succeeded) << outcome.outcome_text;
    EXPECT_EQ(outcome.outcome_text, "1.3");
    EXPECT_EQ(fake_os().files[cache_file(second)], second.compressed);
    auto others_after = fake_os().files;
    others_after.erase(cache_file(second));
    EXPECT_EQ(others_after, others_before);
    EXPECT_EQ(fake_os().reparse_points, links_before);
    EXPECT_EQ(fake_os().directories, folders_before);

    // Taking the release from the cache clears up as well.
    fake_os().files[CACHE_FOLDER + u"\\" + first_name] = first.compressed;
    outcome = run();
    ASSERT_EQ(outcome.phase, JobPhase::Succeeded) << outcome.outcome_text;
    EXPECT_FALSE(image_requested(second));
    EXPECT_FALSE(fake_os().files.contains(cache_file(first)));
    EXPECT_TRUE(fake_os().files.contains(cache_file(second)));
}

// The part from `from` to the end, as a server that answers ranges sends it; `broken` breaks off
// before its first byte.
fake::FakeAnswer rest_of(const std::vector<u8>& file, std::size_t from, bool broken = false) {
    fake::FakeAnswer answer{206,
                            {},
                            {},
                            "bytes " + std::to_string(from) + "-" +
                                std::to_string(file.size() - 1) + "/" +
                                std::to_string(file.size())};
    if (broken) {
        answer.broken_after_pieces = 0;
    } else {
        answer.pieces.emplace_back(file.begin() + static_cast<std::ptrdiff_t>(from), file.end());
    }
    return answer;
}

TEST_F(ReleaseRoadTest, ADownloadThatKeepsBreakingOffLeavesItsPartAndTheNextJobAsksForTheRest) {
    const Release release = make_release("1.2", 1, key.get());
    const std::vector<u8>& file = release.compressed;
    const std::size_t cut = file.size() / 2;
    const std::vector<u8> head(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
    serve(release, file);
    answer_image(release, {{200, {head}, 1},
                           rest_of(file, cut, true),
                           rest_of(file, cut, true),
                           rest_of(file, cut, true),
                           rest_of(file, cut, true),
                           rest_of(file, cut, true)});
    JobOutcome outcome = run();
    EXPECT_EQ(outcome.phase, JobPhase::Failed);
    EXPECT_EQ(outcome.outcome_text, "The download broke off: error 12030");
    EXPECT_EQ(image_requests(release).size(), 6u);
    EXPECT_EQ(fake_os().slept_ms, 31'000u);
    EXPECT_EQ(fake_os().files[part_file(release)], head);
    EXPECT_FALSE(fake_os().files.contains(cache_file(release)));
    EXPECT_TRUE(drive_untouched());

    answer_image(release, {rest_of(file, cut)});
    outcome = run();
    ASSERT_EQ(outcome.phase, JobPhase::Succeeded) << outcome.outcome_text;
    EXPECT_EQ(image_requests(release),
              std::vector<std::string>{"Range: bytes=" + std::to_string(cut) + "-"});
    EXPECT_EQ(fake_os().files[cache_file(release)], file);
    EXPECT_FALSE(fake_os().files.contains(part_file(release)));
}

TEST_F(ReleaseRoadTest, APartThatDoesNotCompleteTheFileCostsOneDownloadFromTheStart) {
    const Release release = make_release("1.2", 1, key.get());
    const std::vector<u8>& file = release.compressed;
    const std::size_t cut = file.size() / 2;
    std::vector<u8> changed_head(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
    changed_head[10] ^= 1;
    std::vector<u8> changed_whole = file;
    changed_whole[10] ^= 1;
    std::vector<u8> longer = file;
    longer.push_back(0);
    struct Case {
        const char* what;
        std::vector<u8> part;
        std::vector<fake::FakeAnswer> answers;  // before the whole file
        std::vector<std::string> requests;
    };
    const Case cases[] = {
        {"a changed byte in the part",
         changed_head,
         {rest_of(file, cut)},
         {"Range: bytes=" + std::to_string(cut) + "-", ""}},
        // Nothing is left to ask for: the part is judged as it is.
        {"a changed byte in a part as long as the file", changed_whole, {}, {""}},
        {"a part longer than the file", longer, {}, {""}},
    };
    for (const Case& c : cases) {
        SetUp();
        serve(release, file);
        answer_image(release, c.answers);
        fake_os().directories.insert(CACHE_FOLDER);
        fake_os().files[part_file(release)] = c.part;
        const JobOutcome outcome = run();
        ASSERT_EQ(outcome.phase, JobPhase::Succeeded) << c.what << ": " << outcome.outcome_text;
        EXPECT_EQ(image_requests(release), c.requests) << c.what;
        EXPECT_EQ(fake_os().files[cache_file(release)], file) << c.what;
        EXPECT_FALSE(fake_os().files.contains(part_file(release))) << c.what;
    }
}

TEST_F(ReleaseRoadTest, AStopWhileWaitingToTryAgainEndsStoppedAndWritesNothing) {
    const Release release = make_release("1.2", 1, key.get());
    const std::vector<u8>& file = release.compressed;
    const std::size_t cut = file.size() / 2;
    serve(release, file);
    answer_image(release,
                 {{200, {{file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut)}}, 1},
                  rest_of(file, cut, true),
                  rest_of(file, cut)});
    std::vector<std::pair<u64, u64>> shown_while_waiting;
    int slices = 0;
    fake_os().on_call = [&](const std::string& call) {
        if (call == "sleep_ms") {
            shown_while_waiting.emplace_back(status.bytes_done.load(), status.bytes_total.load());
            if (++slices == 15) {  // halfway through the second wait
                request_stop(status);
            }
        }
    };
    const JobOutcome outcome = run();
    EXPECT_EQ(outcome.outcome_text, "Stopped.");
    EXPECT_EQ(fake_calls_named({"sleep_ms"}).size(), 15u);
    EXPECT_EQ(image_requests(release).size(), 2u);
    // The last download line stays while the job waits.
    ASSERT_FALSE(shown_while_waiting.empty());
    for (const auto& shown : shown_while_waiting) {
        EXPECT_EQ(shown, std::make_pair(u64{cut}, u64{file.size()}));
    }
    EXPECT_TRUE(drive_untouched());
    EXPECT_FALSE(fake_os().files.contains(part_file(release)));
    EXPECT_FALSE(fake_os().files.contains(cache_file(release)));
    EXPECT_TRUE(fake_calls_named({"find_first_volume"}).empty());
}

TEST_F(ReleaseRoadTest, WithoutATemporaryFolderEveryRunDownloads) {
    fake_os().temp_folder = std::u16string(300, u'x');  // longer than the buffer holds
    const Release release = make_release("1.2", 1, key.get());
    serve(release, release.compressed);
    ASSERT_EQ(run().phase, JobPhase::Succeeded);
    ASSERT_EQ(run().phase, JobPhase::Succeeded);
    EXPECT_TRUE(image_requested(release));
    EXPECT_TRUE(fake_calls_named({"create_directory", "create_file_in"}).empty());
}

TEST_F(ReleaseRoadTest, TheCacheIsWrittenUnderATemporaryNameAndRenamedIntoPlace) {
    const Release release = make_release("1.2", 1, key.get());
    serve(release, release.compressed);
    ASSERT_EQ(run().phase, JobPhase::Succeeded);
    const std::vector<std::string> calls = fake_calls_named(
        {"create_directory", "create_file", "create_file_in", "move_file_in", "delete_file_in"});
    const std::string folder = wide_to_utf8(CACHE_FOLDER);
    const std::string name = wide_to_utf8(cache_file(release).substr(CACHE_FOLDER.size() + 1));
    ASSERT_GE(calls.size(), 6u);
    EXPECT_EQ(calls[0], "create_directory(" + folder + ")");
    // The folder opened as a folder, without following a reparse point, without delete sharing.
    EXPECT_EQ(calls[1], "create_file(" + folder + ", 80000000, 3, 3, 2200000)");
    // The file, then a part of it, looked up inside it, never following a link at the name.
    EXPECT_EQ(calls[2], "create_file_in(" + folder + ", " + name + ", 80000000, 1, 3, 200000)");
    EXPECT_EQ(calls[3],
              "create_file_in(" + folder + ", " + name + ".partial, 80000000, 1, 3, 200000)");
    // Written under a new name that nothing else may hold, then renamed over the real one.
    ASSERT_TRUE(calls[4].starts_with("create_file_in(" + folder + ", " + name + "."));
    EXPECT_TRUE(calls[4].ends_with(".part, 40000000, 0, 1, 200080)"));
    const std::string temporary = calls[4].substr(
        calls[4].find(", ") + 2, calls[4].find(".part") + 5 - (calls[4].find(", ") + 2));
    EXPECT_EQ(calls[5], "move_file_in(" + folder + ", " + temporary + ", " + name + ")");
    // Then the folder is listed, through its handle, for files of other releases.
    EXPECT_EQ(fake_calls_named({"list_folder"}),
              std::vector<std::string>{"list_folder(" + folder + ")"});
    EXPECT_EQ(fake_os().files.size(), 1u);
    EXPECT_EQ(fake_os().files[cache_file(release)], release.compressed);
}

TEST_F(ReleaseRoadTest, ACacheThatCouldBeTurnedElsewhereIsNotUsedAndNothingIsWrittenThere) {
    const Release release = make_release("1.2", 1, key.get());
    const std::u16string system_folder = u"C:\\Windows\\System32";
    const std::u16string system_file = system_folder + u"\\config\\SAM";
    const std::u16string name = cache_file(release).substr(CACHE_FOLDER.size() + 1);
    struct Case {
        const char* what;
        std::function<void(ReleaseRoadTest&)> arrange;
    };
    const Case cases[] = {
        {"a junction in place of the folder",
         [&](auto&) { fake_os().reparse_points[CACHE_FOLDER] = system_folder; }},
        {"a link in place of the cache file",
         [&](auto& t) {
             fake_os().directories.insert(CACHE_FOLDER);
             fake_os().reparse_points[t.cache_file(release)] = system_file;
         }},
        {"a folder in place of the cache file",
         [&](auto& t) {
             fake_os().directories.insert(CACHE_FOLDER);
             fake_os().directories.insert(t.cache_file(release));
         }},
        {"an intact cached file whose final path is elsewhere",
         [&](auto& t) {
             fake_os().directories.insert(CACHE_FOLDER);
             fake_os().files[t.cache_file(release)] = release.compressed;
             fake_os().final_path_overrides[CACHE_FOLDER + u"\\"] = system_folder + u"\\";
         }},
        {"no cached file, and new files reported elsewhere",
         [&](auto&) {
             fake_os().directories.insert(CACHE_FOLDER);
             fake_os().final_path_overrides[CACHE_FOLDER + u"\\"] = system_folder + u"\\";
         }},
        {"a folder that reports it is a reparse point",
         [&](auto&) {
             fake_os().reparse_points[CACHE_FOLDER] = CACHE_FOLDER + u"-real";
             fake_os().directories.insert(CACHE_FOLDER + u"-real");
         }},
    };
    for (const Case& c : cases) {
        SetUp();
        serve(release, release.compressed);
        fake_os().directories.insert(system_folder);
        fake_os().directories.insert(system_folder + u"\\config");
        fake_os().files[system_file] = {1, 2, 3};
        fake_os().files[system_folder + u"\\" + name] = {4, 5, 6};
        c.arrange(*this);
        const auto files_before = fake_os().files;
        const auto links_before = fake_os().reparse_points;
        const JobOutcome outcome = run();
        EXPECT_EQ(outcome.phase, JobPhase::Succeeded) << c.what << ": " << outcome.outcome_text;
        EXPECT_TRUE(image_requested(release)) << c.what;
        EXPECT_EQ(fake_os().files, files_before) << c.what;
        EXPECT_EQ(fake_os().reparse_points, links_before) << c.what;
        EXPECT_TRUE(fake_calls_named({"move_file_in"}).empty()) << c.what;
        EXPECT_TRUE(fake_os().open_handles.empty()) << c.what;
    }
}

TEST_F(ReleaseRoadTest, EachFailureOfTheRoadHasItsText) {
    struct Case {
        const char* what;
        std::function<void(ReleaseRoadTest&, const Release&)> arrange;
        std::string text;
    };
    const Case cases[] = {
        {"no server address", [](auto& t, auto&) { t.settings.server_url = "ftp://updates.test"; },
         "ftp://updates.test is not a server address."},
        {"no manifest", [](auto&, auto&) { fake_os().http_answers.clear(); },
         "The server answered 404 for /installer/latest."},
        {"development signature without --dev", [](auto& t, auto&) { t.settings.dev_keys = false; },
         "The download isn't signed by Orvelo."},
        {"a changed body",
         [](auto&, const Release& r) {
             std::vector<u8> changed = r.manifest;
             changed[20] ^= 1;
             fake_os().http_answers["/installer/latest"] = {200, {changed}};
         },
         "The download isn't signed by Orvelo."},
        {"a signed body that is no manifest",
         [](auto& t, auto&) {
             fake_os().http_answers["/installer/latest"] = {
                 200, {sign("orvelo-installer 1\nversion 1\n", t.key.get())}};
         },
         "The server's answer isn't an Orvelo installer."},
        {"a signed body that is not UTF-8",
         [](auto& t, auto&) {
             fake_os().http_answers["/installer/latest"] = {
                 200, {sign("orvelo-installer 1\n\xff\n", t.key.get())}};
         },
         "The server's answer isn't an Orvelo installer."},
        {"the image file is someone else's",
         [](auto& t, const Release& r) {
             const Release other = make_release("9", 9, t.key.get());
             fake_os().http_answers["/" + r.path] = {200, {other.compressed}};
         },
         "The download is damaged. Try again."},
        {"the image download breaks off",
         [](auto&, const Release& r) {
             fake_os().http_answers["/" + r.path] = {200, {r.compressed}, 0};
         },
         "The download broke off: error 12030"},
    };
    for (const Case& c : cases) {
        SetUp();
        const Release release = make_release("1.2", 1, key.get());
        serve(release, release.compressed);
        c.arrange(*this, release);
        const JobOutcome outcome = run();
        EXPECT_EQ(outcome.phase, JobPhase::Failed) << c.what;
        EXPECT_EQ(outcome.outcome_text, c.text) << c.what;
        EXPECT_TRUE(std::all_of(fake_os().disks[DISK].bytes.begin(),
                                fake_os().disks[DISK].bytes.end(), [](u8 b) { return b == 0x5A; }))
            << c.what;
        EXPECT_TRUE(fake_calls_named({"find_first_volume"}).empty()) << c.what;
    }
}

TEST_F(ReleaseRoadTest, AnAddressThatIsNoServerFailsWhileStillStarting) {
    settings.server_url = "myserver";
    status.bytes_total = 0;
    const JobOutcome outcome = run();
    EXPECT_EQ(outcome.outcome_text, "myserver is not a server address.");
    // Fetching was never entered: no request, and no counts published.
    EXPECT_TRUE(fake_calls_named({"http_open"}).empty());
    EXPECT_EQ(status.bytes_total.load(), 0u);
}

TEST_F(ReleaseRoadTest, AStopDuringTheDownloadOrAfterItEndsStoppedWithTheDriveUntouched) {
    const Release release = make_release("1.2", 1, key.get());
    // Reads: manifest (2: the bytes, then the end), image (2). Stop before the n-th read.
    for (const int stop_before_read : {3, 4}) {
        SetUp();
        serve(release, release.compressed);
        int reads = 0;
        fake_os().on_call = [&](const std::string& call) {
            if (call == "http_read_data" && ++reads == stop_before_read) {
                request_stop(status);
            }
        };
        const JobOutcome outcome = run();
        EXPECT_EQ(outcome.outcome_text, "Stopped.") << stop_before_read;
        EXPECT_TRUE(fake_calls_named({"find_first_volume"}).empty()) << stop_before_read;
    }
}

}  // namespace
}  // namespace orvelo
