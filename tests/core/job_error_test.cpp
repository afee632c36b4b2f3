#include "core/job_error.h"

#include <gtest/gtest.h>

namespace orvelo {
namespace {

TEST(JobErrorTest, EachValueStandsForItsFixedText) {
    EXPECT_EQ(job_error_text(JobError::NotSigned).text, "The download isn't signed by Orvelo.");
    EXPECT_EQ(job_error_text(JobError::NotInstaller).text,
              "The server's answer isn't an Orvelo installer.");
    EXPECT_EQ(job_error_text(JobError::Damaged).text, "The download is damaged. Try again.");
    EXPECT_EQ(job_error_text(JobError::TooSmall).text,
              "This drive is too small for the installer.");
    EXPECT_EQ(static_cast<int>(JobError::TooSmall), 3);
}

}  // namespace
}  // namespace orvelo
