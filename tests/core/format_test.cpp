#include "core/format.h"

#include <gtest/gtest.h>

#include <limits>

#include "core/messages.h"

namespace orvelo {
namespace {

TEST(Format, FillsPlaceholdersInOrderWithTextsAndUnsignedNumbers) {
    EXPECT_EQ(format(msg::SERVER_ANSWERED, 404u, "/installer/latest"),
              "The server answered 404 for /installer/latest.");
    EXPECT_EQ(format(msg::WRONG_SECTOR_SIZE, "SanDisk Cruzer", 4096u),
              "SanDisk Cruzer uses 4096-byte sectors; the installer needs a drive with 512-byte "
              "sectors.");
    EXPECT_EQ(format("{}{}", 0u, std::numeric_limits<u64>::max()), "018446744073709551615");
}

TEST(Format, InsertsTextArgumentsVerbatimEvenWhenTheyHoldBraces) {
    EXPECT_EQ(format(msg::CANT_BE_READ, "C:\\{}\\x.img"), "C:\\{}\\x.img can't be read.");
}

TEST(Format, WrapsAnErrorTextInTheLastPlaceholder) {
    const ErrorText inner{"Access denied. (5)"};
    EXPECT_EQ(format(msg::WRITING_FAILED, "USB drive", inner),
              "Writing to USB drive failed: Access denied. (5)");
}

TEST(Format, MissingArgumentsLeaveThePlaceholderAndExtraOnesAreDropped) {
    EXPECT_EQ(format("a {} b {}", 1u), "a 1 b {}");
    EXPECT_EQ(format("plain", 1u, "x"), "plain");
    EXPECT_EQ(format("{", 7u), "{");
}

}  // namespace
}  // namespace orvelo
