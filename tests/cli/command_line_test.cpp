#include "cli/command_line.h"

#include <gtest/gtest.h>

namespace orvelo::cli {
namespace {

Result<CommandLine> parse(std::vector<std::string> arguments) {
    return parse_command_line(arguments);
}

TEST(CommandLine, ReadsEachCommand) {
    EXPECT_EQ(parse({"list"})->command, Command::List);
    EXPECT_EQ(parse({"--help"})->command, Command::Help);
    EXPECT_EQ(parse({"--version"})->command, Command::Version);

    const auto write = parse(
        {"write", "--drive", "/dev/sdb", "--server", "http://h:1", "--dev", "--yes", "--any-disk"});
    ASSERT_TRUE(write);
    EXPECT_EQ(write->command, Command::Write);
    EXPECT_EQ(write->drive_path, "/dev/sdb");
    EXPECT_EQ(write->job_arguments, (std::vector<std::string>{"--server", "http://h:1", "--dev"}));
    EXPECT_TRUE(write->confirmed);
    EXPECT_TRUE(write->any_disk);

    const auto pick = parse({"write", "--image", "a.img"});
    ASSERT_TRUE(pick);
    EXPECT_EQ(pick->drive_path, "");
    EXPECT_FALSE(pick->confirmed);

    const auto manifest = parse({"check-manifest", "latest", "--dev"});
    ASSERT_TRUE(manifest);
    EXPECT_EQ(manifest->manifest_path, "latest");
    EXPECT_TRUE(manifest->dev_keys);
}

TEST(CommandLine, RefusesWrongUsage) {
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"frobnicate"},
        {"list", "x"},
        {"--version", "x"},
        {"write", "--yes"},  // a drive picked from the list is always asked about
        {"write", "--drive"},
        {"write", "--drive", ""},
        {"write", "--drive", "a", "--drive", "b"},
        {"write", "--drive", "a", "--bogus"},
        {"check-manifest"},
        {"check-manifest", "a", "--yes"},
    };
    for (const auto& arguments : wrong) {
        const auto line = parse(arguments);
        ASSERT_FALSE(line);
        EXPECT_EQ(line.error().text, USAGE);
    }
}

TEST(CommandLine, RefusesAnArgumentThatIsNotUtf8WhereverItIs) {
    const std::string bad[] = {"\xff", "a\xe2\x82", "\xc0\xaf", "\xed\xa0\x80"};
    for (const std::string& text : bad) {
        for (const auto& arguments :
             std::vector<std::vector<std::string>>{{text},
                                                   {"write", "--drive", text},
                                                   {"write", "--drive", "a", "--image", text},
                                                   {"check-manifest", text},
                                                   {"list", text}}) {
            const auto line = parse(arguments);
            ASSERT_FALSE(line);
            EXPECT_EQ(line.error().text, "An argument is not valid UTF-8.");
        }
    }
}

}  // namespace
}  // namespace orvelo::cli
