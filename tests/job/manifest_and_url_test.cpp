#include <gtest/gtest.h>

#include "job/release_manifest.h"
#include "job/server_url.h"

namespace orvelo {
namespace {

TEST(ParseServerUrl, TakesSchemeHostAndPort) {
    struct Case {
        const char* url;
        const char* host;
        u16 port;
        bool secure;
    };
    const Case cases[] = {
        {"https://download.orvelo.example", "download.orvelo.example", 443, true},
        {"http://mirror.test:444/some/path?x=1", "mirror.test", 444, false},
        {"https://h:+8443", "h", 8443, true},
        {"https://h:0", "h", 0, true},
        {"https://h:65535/", "h", 65535, true},
        {"https://[::1]:8443", "[::1]", 8443, true},
        {"https://user@h", "user@h", 443, true},  // the host is passed on unexamined
        {"http://127.0.0.1:8080", "127.0.0.1", 8080, false},
    };
    for (const Case& c : cases) {
        const Result<ServerAddress> server = parse_server_url(c.url);
        ASSERT_TRUE(server.has_value()) << c.url;
        EXPECT_EQ(server->host, c.host) << c.url;
        EXPECT_EQ(server->port, c.port) << c.url;
        EXPECT_EQ(server->secure, c.secure) << c.url;
    }
}

TEST(ParseServerUrl, RefusesWhatIsNotAServerAddressWithTheWholeText) {
    for (const char* url : {"", "myserver", "HTTPS://h", "ftp://h", "https://", "https:///path",
                            "https://:443", "https://h:", "https://h:65536", "https://h:-1",
                            "https://h:8o", "https://[::1]", "https://h:+"}) {
        const Result<ServerAddress> server = parse_server_url(url);
        ASSERT_FALSE(server.has_value()) << url;
        EXPECT_EQ(server.error().text, std::string(url) + " is not a server address.");
    }
}

const std::string DIGEST_A(64, 'a');
const std::string DIGEST_B = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";

std::string manifest_with(const std::string& lines) {
    return "orvelo-installer 1\n" + lines;
}

const std::string GOOD_LINES = "version 1.2\nbuild 7\nissued 1765000000\nimage " + DIGEST_A +
                               " 1048576\nfile installer/orvelo-1.2.img.z " + DIGEST_B + " 4096\n";

TEST(ParseManifest, ReadsEveryField) {
    const auto manifest = parse_manifest(manifest_with(GOOD_LINES));
    ASSERT_TRUE(manifest.has_value());
    EXPECT_EQ(manifest->version, "1.2");
    EXPECT_EQ(manifest->build, 7u);
    EXPECT_EQ(manifest->issued, 1765000000u);
    EXPECT_EQ(manifest->image_size, 1048576u);
    EXPECT_EQ(manifest->image_sha256[0], 0xAA);
    EXPECT_EQ(manifest->file_path, "installer/orvelo-1.2.img.z");
    EXPECT_EQ(manifest->file_sha256[0], 0x00);
    EXPECT_EQ(manifest->file_sha256[1], 0x11);
    EXPECT_EQ(manifest->file_sha256[31], 0xFF);
    EXPECT_EQ(manifest->file_size, 4096u);
}

TEST(ParseManifest, AcceptsTheEdgesOfTheSyntax) {
    struct Case {
        const char* what;
        std::string document;
        std::function<void(const ReleaseManifest&)> check;
    };
    const std::string crlf = [] {
        std::string text = manifest_with(GOOD_LINES);
        std::string out;
        for (const char c : text) {
            if (c == '\n')
                out += "\r\n";
            else
                out += c;
        }
        return out;
    }();
    const Case cases[] = {
        {"CR LF line ends", crlf, [](const auto& m) { EXPECT_EQ(m.version, "1.2"); }},
        {"empty version", manifest_with(GOOD_LINES + "version \n"),
         [](const auto& m) { EXPECT_EQ(m.version, ""); }},
        {"later line wins", manifest_with(GOOD_LINES + "image " + DIGEST_B + " 512\n"),
         [](const auto& m) { EXPECT_EQ(m.image_size, 512u); }},
        {"a line with too many values is skipped",
         manifest_with(GOOD_LINES + "image " + DIGEST_B + " 512 x\n"),
         [](const auto& m) { EXPECT_EQ(m.image_size, 1048576u); }},
        {"plus sign", manifest_with(GOOD_LINES + "build +7\n"),
         [](const auto& m) { EXPECT_EQ(m.build, 7u); }},
        {"largest number", manifest_with(GOOD_LINES + "issued 18446744073709551615\n"),
         [](const auto& m) { EXPECT_EQ(m.issued, 18446744073709551615u); }},
        {"bare prefix path", manifest_with(GOOD_LINES + "file installer/ " + DIGEST_B + " 0\n"),
         [](const auto& m) { EXPECT_EQ(m.file_path, "installer/"); }},
        {"largest image", manifest_with(GOOD_LINES + "image " + DIGEST_A + " 536870912\n"),
         [](const auto& m) { EXPECT_EQ(m.image_size, 536870912u); }},
        {"unknown keys, empty lines, a signature-looking line",
         manifest_with("\nVersion 9\nsignature 0011 aa bb\nnote hello world\n" + GOOD_LINES),
         [](const auto& m) { EXPECT_EQ(m.version, "1.2"); }},
        {"last line without a line feed", manifest_with(GOOD_LINES + "version 3.0"),
         [](const auto& m) { EXPECT_EQ(m.version, "3.0"); }},
    };
    for (const Case& c : cases) {
        const auto manifest = parse_manifest(c.document);
        ASSERT_TRUE(manifest.has_value()) << c.what;
        c.check(*manifest);
    }
}

TEST(ParseManifest, RefusesEveryMalformedDocumentAsNotInstaller) {
    const std::string without_version = "build 7\nissued 1\nimage " + DIGEST_A +
                                        " 1048576\nfile installer/a " + DIGEST_B + " 4096\n";
    const std::pair<const char*, std::string> cases[] = {
        {"empty", ""},
        {"magic with a trailing space", "orvelo-installer 1 \n" + GOOD_LINES},
        {"byte-order mark", "\xEF\xBB\xBForvelo-installer 1\n" + GOOD_LINES},
        {"another version digit", "orvelo-installer 2\n" + GOOD_LINES},
        {"version with two spaces only", manifest_with("version  1.2\n" + without_version)},
        {"missing version", manifest_with(without_version)},
        {"upper-case digest",
         manifest_with(GOOD_LINES + "image " + std::string(64, 'A') + " 512\n")},
        {"63-digit digest", manifest_with(GOOD_LINES + "image " + std::string(63, 'a') + " 512\n")},
        {"65-digit digest", manifest_with(GOOD_LINES + "image " + std::string(65, 'a') + " 512\n")},
        {"minus sign", manifest_with(GOOD_LINES + "build -7\n")},
        {"trailing letter", manifest_with(GOOD_LINES + "build 7x\n")},
        {"2^64", manifest_with(GOOD_LINES + "build 18446744073709551616\n")},
        {"lone plus", manifest_with(GOOD_LINES + "issued +\n")},
        {"path with ..", manifest_with(GOOD_LINES + "file installer/../x " + DIGEST_B + " 1\n")},
        {"path with a space (file line skipped, key missing)",
         manifest_with("version 1\nbuild 1\nissued 1\nimage " + DIGEST_A +
                       " 512\nfile installer/a b " + DIGEST_B + " 1\n")},
        {"capital I", manifest_with(GOOD_LINES + "file Installer/x " + DIGEST_B + " 1\n")},
        {"path with a percent",
         manifest_with(GOOD_LINES + "file installer/%2e " + DIGEST_B + " 1\n")},
        {"image too large", manifest_with(GOOD_LINES + "image " + DIGEST_A + " 536871424\n")},
        {"image 536870913", manifest_with(GOOD_LINES + "image " + DIGEST_A + " 536870913\n")},
        {"image 0", manifest_with(GOOD_LINES + "image " + DIGEST_A + " 0\n")},
        {"image not whole sectors", manifest_with(GOOD_LINES + "image " + DIGEST_A + " 1000\n")},
        {"file too large",
         manifest_with(GOOD_LINES + "file installer/a " + DIGEST_B + " 536870913\n")},
        {"malformed value before a good line", manifest_with("build x\n" + GOOD_LINES)},
    };
    for (const auto& [what, document] : cases) {
        const auto manifest = parse_manifest(document);
        ASSERT_FALSE(manifest.has_value()) << what;
        EXPECT_EQ(manifest.error(), JobError::NotInstaller) << what;
    }
}

}  // namespace
}  // namespace orvelo
