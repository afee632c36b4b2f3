// The client's steps, texts and callbacks against the fake HTTP stack.
#include "net/https_client.h"

#include <gtest/gtest.h>

#include "os/fake/fake_os.h"

namespace orvelo {
namespace {

using fake::fake_calls_named;
using fake::fake_os;

const ServerAddress SERVER{"updates.test", 8443, true};

std::vector<u8> bytes(std::size_t count, u8 value) {
    return std::vector<u8>(count, value);
}

fake::FakeAnswer answer(std::vector<std::vector<u8>> pieces,
                        std::optional<std::size_t> broken_after_pieces = std::nullopt) {
    return fake::FakeAnswer{200, std::move(pieces), broken_after_pieces};
}

class HttpsGetTest : public ::testing::Test {
  public:
    void SetUp() override {
        fake::reset_fake_os();
        // As on Windows, WinHTTP's texts are in winhttp.dll's table, not in the system's.
        fake_os().http_library_messages[12029] =
            u"A connection with the server could not be established\r\n";
        fake_os().http_library_messages[12030] =
            u"The connection with the server was terminated abnormally\r\n";
        fake_os().http_library_messages[12007] =
            u"The server name or address could not be resolved\r\n";
    }

    Result<std::vector<u8>> get(std::string_view path, u64 limit) {
        return https_get(
            SERVER, path, limit, [this](u64 n) { progress.push_back(n); },
            [this] {
                ++stop_questions;
                return stop_after_questions != 0 && stop_questions >= stop_after_questions;
            });
    }

    std::vector<u64> progress;
    int stop_questions = 0;
    int stop_after_questions = 0;  // 0: never stop
};

TEST_F(HttpsGetTest, CollectsTheBodyAndReportsProgressAfterEachRead) {
    fake_os().http_answers["/installer/latest"] = answer({bytes(65536, 1), bytes(100, 2)});
    const auto body = get("/installer/latest", 65636);
    ASSERT_TRUE(body.has_value()) << body.error().text;
    EXPECT_EQ(body->size(), 65636u);
    EXPECT_EQ(body->back(), 2);
    EXPECT_EQ(progress, (std::vector<u64>{65536, 65636}));
    EXPECT_EQ(stop_questions, 3);  // before the first read, after each read with bytes
    EXPECT_EQ(
        fake::fake_calls(),
        (std::vector<std::string>{
            "http_open(Orvelo Installer/1.0)", "http_set_timeouts(session)",
            "http_connect(updates.test, 8443)", "http_open_request(/installer/latest, secure)",
            "http_send_request()", "http_receive_response()", "http_status_code()",
            "http_read_data(65536)", "http_read_data(65536)", "http_read_data(65536)",
            "http_close(request)", "http_close(connection)", "http_close(session)"}));
}

TEST_F(HttpsGetTest, AnEmptyBodyIsASuccessWithoutProgress) {
    fake_os().http_answers["/x"] = answer({});
    const auto body = get("/x", 10);
    ASSERT_TRUE(body.has_value());
    EXPECT_TRUE(body->empty());
    EXPECT_TRUE(progress.empty());
    EXPECT_EQ(stop_questions, 1);
}

TEST_F(HttpsGetTest, TheLimitLetsExactlyThatManyBytesThrough) {
    fake_os().http_answers["/installer/latest"] = answer({bytes(65536, 7)});
    EXPECT_TRUE(get("/installer/latest", 65536).has_value());
    fake_os().http_answers["/installer/latest"] = answer({bytes(65536, 7), bytes(1, 7)});
    const auto body = get("/installer/latest", 65536);
    ASSERT_FALSE(body.has_value());
    EXPECT_EQ(body.error().text, "The server sent more than expected.");
}

TEST_F(HttpsGetTest, EachFailedStepHasItsText) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        std::string text;
    };
    const Case cases[] = {
        {"session",
         [] {
             fake_os().injections.push_back({"http_open", 1, fake::Effect::Fail, 12029});
         },
         "WinHTTP: A connection with the server could not be established (12029)"},
        {"connect",
         [] {
             fake_os().injections.push_back({"http_connect", 1, fake::Effect::Fail, 12029});
         },
         "Can't reach updates.test: A connection with the server could not be established (12029)"},
        {"request handle",
         [] {
             fake_os().injections.push_back({"http_open_request", 1, fake::Effect::Fail, 8});
         },
         "WinHTTP: error 8"},
        {"name not resolved", [] { fake_os().http_host = "elsewhere.test"; },
         "Can't reach updates.test \u2014 check the internet connection: The server name or "
         "address could not be resolved (12007)"},
        {"receive",
         [] {
             fake_os().injections.push_back(
                 {"http_receive_response", 1, fake::Effect::Fail, 12030});
         },
         "Can't reach updates.test \u2014 check the internet connection: The connection with the "
         "server was terminated abnormally (12030)"},
        {"404", [] {}, "The server answered 404 for /installer/latest."},
        {"status unreadable",
         [] {
             fake_os().http_answers["/installer/latest"] = answer({bytes(3, 1)});
             fake_os().injections.push_back({"http_status_code", 1});
         },
         "The server answered 0 for /installer/latest."},
        {"body broken off",
         [] {
             fake_os().http_answers["/installer/latest"] = answer({bytes(10, 1), bytes(10, 2)}, 1);
         },
         "The download broke off: The connection with the server was terminated abnormally "
         "(12030)"},
    };
    for (const Case& c : cases) {
        SetUp();
        c.arrange();
        const auto body = get("/installer/latest", 65536);
        ASSERT_FALSE(body.has_value()) << c.what;
        EXPECT_EQ(body.error().text, c.text) << c.what;
        EXPECT_TRUE(fake_os().open_http.empty()) << c.what << ": a handle was left open";
    }
}

TEST_F(HttpsGetTest, AStopIsSeenBeforeTheFirstReadAndAfterEachRead) {
    fake_os().http_answers["/f"] = answer({bytes(10, 1), bytes(10, 2), bytes(10, 3)});
    stop_after_questions = 1;
    auto body = get("/f", 100);
    ASSERT_FALSE(body.has_value());
    EXPECT_EQ(body.error().text, "Stopped.");
    EXPECT_TRUE(progress.empty());
    EXPECT_TRUE(fake_calls_named({"http_read_data"}).empty());

    SetUp();
    fake_os().http_answers["/f"] = answer({bytes(10, 1), bytes(10, 2), bytes(10, 3)});
    stop_after_questions = 3;  // after the second read
    progress.clear();
    stop_questions = 0;
    body = get("/f", 100);
    ASSERT_FALSE(body.has_value());
    EXPECT_EQ(body.error().text, "Stopped.");
    EXPECT_EQ(progress, (std::vector<u64>{10, 20}));
    EXPECT_EQ(fake_calls_named({"http_read_data"}).size(), 2u);
}

TEST_F(HttpsGetTest, ThePlainSchemeAsksWithoutTls) {
    fake_os().http_answers["/x"] = answer({bytes(1, 1)});
    ASSERT_TRUE(
        https_get(
            ServerAddress{"updates.test", 80, false}, "/x", 1, [](u64) {}, [] { return false; })
            .has_value());
    EXPECT_EQ(fake_calls_named({"http_open_request"}),
              std::vector<std::string>{"http_open_request(/x, plain)"});
}

}  // namespace
}  // namespace orvelo
