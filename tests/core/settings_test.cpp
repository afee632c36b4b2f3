#include "core/settings.h"

#include <gtest/gtest.h>

#include "os/fake/fake_os.h"

namespace orvelo {
namespace {

using Args = std::vector<std::string>;

TEST(SplitCommandLine, FollowsTheQuotingRules) {
    struct Case {
        const char* line;
        Args expected;
    };
    const Case cases[] = {
        {"", {}},
        {"  \t ", {}},
        {"prog", {"prog"}},
        {"prog  a\t\tb ", {"prog", "a", "b"}},
        {"\"C:\\Program Files\\Orvelo\\orvelo.exe\" --dev",
         {"C:\\Program Files\\Orvelo\\orvelo.exe", "--dev"}},
        {"p --server \"\"", {"p", "--server", ""}},
        {"p \"\"", {"p", ""}},
        {"p --image \"E:\\My Images\\x.img.z\"", {"p", "--image", "E:\\My Images\\x.img.z"}},
        {"p --image E:\\dir\\\"a b\"", {"p", "--image", "E:\\dir\\a b"}},
        {"p --image \"E:\\a b", {"p", "--image", "E:\\a b"}},
        {"p \"--dev\"", {"p", "--dev"}},
        {"p a\\\"b c\"", {"p", "a\\b c"}},  // \" is a backslash, then a quote that flips
        {"p \"a\"\"b\"", {"p", "ab"}},      // two quotes inside a quoted stretch add nothing
        {"p \"a \"\" b\"", {"p", "a  b"}},
        {"p a\nb\u3000c", {"p", "a\nb\u3000c"}},  // only space and tab separate
        {"p \"\u00e9 \U0001F600\"", {"p", "\u00e9 \U0001F600"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(split_command_line(c.line), c.expected) << c.line;
    }
}

Settings settings_from(const Args& arguments) {
    SpinLock lock;
    Settings target;
    target.local_image = "stale";  // replaced by every store
    store_settings(arguments, lock, target);
    return target;
}

const std::string DEFAULT_URL = "https://download.orvelo.example";

TEST(StoreSettings, TakesTheOptionsAsTheyAreWritten) {
    struct Case {
        Args arguments;
        std::string server_url;
        bool dev_keys;
        std::optional<std::string> local_image;
    };
    const Case cases[] = {
        {{}, DEFAULT_URL, false, std::nullopt},
        {{"--server"}, DEFAULT_URL, false, std::nullopt},
        {{"--server", "myserver"}, "myserver", false, std::nullopt},
        {{"--server", ""}, "", false, std::nullopt},
        {{"--server", "a", "--server", "b"}, "a", false, std::nullopt},
        {{"--server", "--dev"}, "--dev", true, std::nullopt},
        {{"--dev"}, DEFAULT_URL, true, std::nullopt},
        {{"--DEV", "--dev=1", "-dev", "/dev"}, DEFAULT_URL, false, std::nullopt},
        {{"--image", "E:\\x.img", "--image", "F:\\y.img"}, DEFAULT_URL, false, "E:\\x.img"},
        {{"--image"}, DEFAULT_URL, false, std::nullopt},
        {{"--image", "--server", "s"}, "s", false, "--server"},
        {{"extra", "--server=x", "--image", ""}, DEFAULT_URL, false, ""},
    };
    for (const Case& c : cases) {
        const Settings s = settings_from(c.arguments);
        EXPECT_EQ(s.server_url, c.server_url);
        EXPECT_EQ(s.dev_keys, c.dev_keys);
        EXPECT_EQ(s.local_image, c.local_image);
    }
}

TEST(ParseCommandLine, ConvertsSplitsAndDropsTheProgramPath) {
    fake::reset_fake_os();
    fake::fake_os().command_line =
        u"\"C:\\Program Files\\Orvelo Installer.exe\" --dev --image \"E:\\\xD800 b\"";
    parse_command_line();
    const JobSettings job = read_job_settings(settings_lock, settings);
    EXPECT_EQ(job.local_image, "E:\\\uFFFD b");
    // With a local image, the job reads nothing else.
    EXPECT_EQ(job.server_url, "");
    EXPECT_FALSE(job.dev_keys);

    fake::fake_os().command_line = u"C:\\orvelo.exe";
    parse_command_line();
    const JobSettings download = read_job_settings(settings_lock, settings);
    EXPECT_FALSE(download.local_image.has_value());
    EXPECT_EQ(download.server_url, DEFAULT_URL);
    EXPECT_FALSE(download.dev_keys);

    fake::fake_os().command_line = u"";
    parse_command_line();
    EXPECT_EQ(read_job_settings(settings_lock, settings).server_url, DEFAULT_URL);
}

}  // namespace
}  // namespace orvelo
