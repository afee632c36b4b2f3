// A download of known size that breaks off, against the fake HTTP stack: range requests for the
// rest, the answers accepted and refused, the tries and their waits, and a stop while waiting.
#include <gtest/gtest.h>

#include <numeric>

#include "net/https_client.h"
#include "os/fake/fake_os.h"

namespace orvelo {
namespace {

using fake::fake_calls_named;
using fake::fake_os;
using fake::FakeAnswer;

const ServerAddress SERVER{"updates.test", 443, true};
constexpr std::string_view PATH = "/installer/orvelo.img.z";
constexpr u64 FILE_BYTES = 400;
const std::string BROKE_OFF =
    "The download broke off: The connection with the server was terminated abnormally (12030)";

// The file the server holds: every byte differs from its neighbours, so that a piece appended
// at the wrong place shows.
std::vector<u8> file_bytes() {
    std::vector<u8> file(FILE_BYTES);
    std::iota(file.begin(), file.end(), u8{1});
    return file;
}

std::vector<u8> slice(u64 from, u64 to) {
    const std::vector<u8> file = file_bytes();
    return {file.begin() + static_cast<std::ptrdiff_t>(from),
            file.begin() + static_cast<std::ptrdiff_t>(to)};
}

// The whole file from the start, cut after `to` bytes when that is short of its end; 0 breaks
// off before the first byte.
FakeAnswer whole(u64 to = FILE_BYTES) {
    FakeAnswer answer{200};
    if (to > 0) {
        answer.pieces.push_back(slice(0, to));
    }
    if (to < FILE_BYTES) {
        answer.broken_after_pieces = answer.pieces.size();
    }
    return answer;
}

// The rest from `from` on, as a server that answers ranges sends it, cut after `to` bytes of the
// file when that is short of its end; `from` == `to` breaks off before the first byte.
FakeAnswer rest(u64 from, u64 to = FILE_BYTES) {
    FakeAnswer answer{206,
                      {},
                      {},
                      "bytes " + std::to_string(from) + "-" + std::to_string(FILE_BYTES - 1) + "/" +
                          std::to_string(FILE_BYTES)};
    if (to > from) {
        answer.pieces.push_back(slice(from, to));
    }
    answer.broken_after_pieces =
        to < FILE_BYTES ? std::optional<std::size_t>(answer.pieces.size()) : std::nullopt;
    return answer;
}

// The same answer ending early without an error, as Wine's WinHTTP ends a body whose
// connection closed.
FakeAnswer quietly(FakeAnswer answer) {
    answer.broken_after_pieces.reset();
    return answer;
}

class HttpsDownloadTest : public ::testing::Test {
  public:
    void SetUp() override {
        fake::reset_fake_os();
        fake_os().http_library_messages[12030] =
            u"The connection with the server was terminated abnormally\r\n";
        fake_os().http_library_messages[12029] =
            u"A connection with the server could not be established\r\n";
        fake_os().http_library_messages[12007] =
            u"The server name or address could not be resolved\r\n";
    }

    void serve(std::vector<FakeAnswer> answers) {
        fake_os().http_next_answers[std::string(PATH)] = std::move(answers);
    }

    Status download() {
        return https_download(
            SERVER, PATH, FILE_BYTES, body,
            [this](u64 count) {
                progress.push_back(count);
                if (first_data == nullptr) {
                    first_data = body.data();
                }
            },
            [this] { return stop; });
    }

    // The extra header of each request sent, in order ("" for none).
    static std::vector<std::string> requests() {
        std::vector<std::string> headers;
        for (const std::string& call : fake_calls_named({"http_send_request"})) {
            headers.push_back(call.substr(18, call.size() - 19));
        }
        return headers;
    }

    std::vector<u8> body;
    std::vector<u64> progress;
    const u8* first_data = nullptr;
    bool stop = false;
};

TEST_F(HttpsDownloadTest, ABodyCutThreeTimesIsCompletedWithRangesInTheSameBuffer) {
    serve({whole(100), rest(100, 150), rest(150, 150), quietly(rest(150, 390)), rest(390)});
    const Status done = download();
    ASSERT_TRUE(done.has_value()) << done.error().text;
    EXPECT_EQ(body, file_bytes());
    EXPECT_EQ(requests(), (std::vector<std::string>{"", "Range: bytes=100-", "Range: bytes=150-",
                                                    "Range: bytes=150-", "Range: bytes=390-"}));
    // The try that brought nothing waited twice as long; every try with bytes began the count
    // afresh.
    EXPECT_EQ(fake_calls_named({"sleep_ms"}).size(), (1'000 + 1'000 + 2'000 + 1'000) / 100u);
    EXPECT_EQ(fake_os().slept_ms, 5'000u);
    EXPECT_EQ(progress, (std::vector<u64>{100, 150, 390, 400}));
    // Reserved once for the file and its one spare byte; never moved.
    EXPECT_EQ(body.data(), first_data);
    EXPECT_EQ(body.capacity(), FILE_BYTES + 1);
    EXPECT_TRUE(fake_os().open_http.empty());
}

TEST_F(HttpsDownloadTest, AServerThatIgnoresTheRangeSendsTheWholeFileAgain) {
    serve({whole(100), whole(300), whole()});
    const Status done = download();
    ASSERT_TRUE(done.has_value()) << done.error().text;
    EXPECT_EQ(body, file_bytes());
    EXPECT_EQ(requests(), (std::vector<std::string>{"", "Range: bytes=100-", "Range: bytes=300-"}));
    EXPECT_EQ(progress, (std::vector<u64>{100, 300, 400}));
    EXPECT_EQ(body.data(), first_data);
}

TEST_F(HttpsDownloadTest, AnAnswerToARangeThatDoesNotContinueTheBodyEndsWithItsStatus) {
    struct Case {
        const char* what;
        FakeAnswer second;
        std::string text;
    };
    const auto ranged = [](std::string content_range, std::uint32_t status = 206) {
        return FakeAnswer{status, {slice(100, 400)}, {}, std::move(content_range)};
    };
    const std::string answered_206 = "The server answered 206 for /installer/orvelo.img.z.";
    const Case cases[] = {
        {"another start", ranged("bytes 0-399/400"), answered_206},
        {"another total", ranged("bytes 100-499/500"), answered_206},
        {"an end past the total", ranged("bytes 100-400/400"), answered_206},
        {"an end before the start", ranged("bytes 100-99/400"), answered_206},
        {"no Content-Range", ranged(""), answered_206},
        {"an unknown total", ranged("bytes 100-399/*"), answered_206},
        {"another unit", ranged("items 100-399/400"), answered_206},
        {"trailing text", ranged("bytes 100-399/400x"), answered_206},
        {"a total past 64 bits", ranged("bytes 100-399/18446744073709551616"), answered_206},
        {"a range not satisfiable", ranged("bytes */400", 416),
         "The server answered 416 for /installer/orvelo.img.z."},
        {"a file gone", FakeAnswer{404}, "The server answered 404 for /installer/orvelo.img.z."},
    };
    for (const Case& c : cases) {
        SetUp();
        body.clear();
        serve({whole(100), c.second, whole()});
        const Status done = download();
        ASSERT_FALSE(done.has_value()) << c.what;
        EXPECT_EQ(done.error().text, c.text) << c.what;
        // No further try: the answer itself is refused.
        EXPECT_EQ(requests().size(), 2u) << c.what;
        EXPECT_EQ(body, slice(0, 100)) << c.what;
        EXPECT_TRUE(fake_os().open_http.empty()) << c.what;
    }
}

TEST_F(HttpsDownloadTest, FiveTriesWithoutNewBytesEndWithTheLastFailure) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        std::string text;
    };
    const Case cases[] = {
        {"every try breaks off before its first byte",
         [this] {
             serve({whole(100), rest(100, 100), rest(100, 100), rest(100, 100), rest(100, 100),
                    rest(100, 100), whole()});
         },
         BROKE_OFF},
        {"every try ends early without an error",
         [this] {
             serve({quietly(whole(100)), quietly(rest(100, 100)), quietly(rest(100, 100)),
                    quietly(rest(100, 100)), quietly(rest(100, 100)), quietly(rest(100, 100))});
         },
         "The download broke off: the server sent 100 of 400 bytes"},
        {"the server's name no longer resolves",
         [this] {
             serve({whole(100), whole()});
             fake_os().on_call = [](const std::string& call) {
                 if (call == "sleep_ms") {
                     fake_os().http_host = "elsewhere.test";
                 }
             };
         },
         "Can't reach updates.test \u2014 check the internet connection: The server name or "
         "address could not be resolved (12007)"},
    };
    for (const Case& c : cases) {
        SetUp();
        body.clear();
        c.arrange();
        const Status done = download();
        ASSERT_FALSE(done.has_value()) << c.what;
        EXPECT_EQ(done.error().text, c.text) << c.what;
        EXPECT_EQ(fake_calls_named({"http_connect"}).size(), 6u) << c.what;
        // Waits of 1, 2, 4, 8 and 16 s, none after the last try.
        EXPECT_EQ(fake_os().slept_ms, 31'000u) << c.what;
        EXPECT_EQ(body, slice(0, 100)) << c.what;
        EXPECT_TRUE(fake_os().open_http.empty()) << c.what;
    }
}

TEST_F(HttpsDownloadTest, AFailureBeforeTheFirstByteIsNotTriedAgain) {
    const std::function<void()> arrangements[] = {
        [this] {
            serve({whole(0), whole()});
        },
        [] {
            fake_os().http_answers[std::string(PATH)] = whole();
            fake_os().injections.push_back({"http_connect", 1, fake::Effect::Fail, 12029});
        },
        [] {
            fake_os().http_answers[std::string(PATH)] = whole();
            fake_os().injections.push_back({"http_receive_response", 1, fake::Effect::Fail, 12030});
        },
    };
    for (const auto& arrange : arrangements) {
        SetUp();
        body.clear();
        arrange();
        const Status done = download();
        ASSERT_FALSE(done.has_value());
        EXPECT_EQ(fake_calls_named({"http_open"}).size(), 1u) << done.error().text;
        EXPECT_TRUE(fake_calls_named({"sleep_ms"}).empty()) << done.error().text;
    }
}

TEST_F(HttpsDownloadTest, AStopDuringAWaitEndsAtTheNextSliceWithoutAnotherRequest) {
    // Stops in the first wait, in the middle of the fourth and at the end of the fifth.
    for (const int stop_at_slice : {1, 10 + 20 + 40 + 35, 310}) {
        SetUp();
        body.clear();
        stop = false;
        serve({whole(100), rest(100, 100), rest(100, 100), rest(100, 100), rest(100, 100),
               rest(100, 100)});
        int slices = 0;
        fake_os().on_call = [&](const std::string& call) {
            if (call == "sleep_ms" && ++slices == stop_at_slice) {
                stop = true;
            }
        };
        const int requests_before = 1 + (stop_at_slice > 10) + (stop_at_slice > 30) +
                                    (stop_at_slice > 70) + (stop_at_slice > 150);
        const Status done = download();
        ASSERT_FALSE(done.has_value()) << stop_at_slice;
        EXPECT_EQ(done.error().text, "Stopped.") << stop_at_slice;
        // The slice under way was the last: the stop is seen before the next one, a tenth of a
        // second later at most.
        EXPECT_EQ(fake_calls_named({"sleep_ms"}).size(), static_cast<std::size_t>(stop_at_slice))
            << stop_at_slice;
        EXPECT_EQ(fake_calls_named({"http_open"}).size(), static_cast<std::size_t>(requests_before))
            << stop_at_slice;
        EXPECT_TRUE(fake_os().open_http.empty()) << stop_at_slice;
    }
}

TEST_F(HttpsDownloadTest, APartHeldFromTheStartIsContinuedAndOneTooLongIsRefused) {
    body = slice(0, 250);
    serve({rest(250)});
    Status done = download();
    ASSERT_TRUE(done.has_value()) << done.error().text;
    EXPECT_EQ(body, file_bytes());
    EXPECT_EQ(requests(), std::vector<std::string>{"Range: bytes=250-"});

    // More than the file and its spare byte, even with a range answer, is refused as too long.
    SetUp();
    body = slice(0, 250);
    FakeAnswer longer = rest(250);
    longer.pieces.push_back({1, 2});
    serve({longer});
    done = download();
    ASSERT_FALSE(done.has_value());
    EXPECT_EQ(done.error().text, "The server sent more than expected.");
}

}  // namespace
}  // namespace orvelo
