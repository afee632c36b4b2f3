#include "core/job_status.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

#include "core/messages.h"
#include "os/fake/fake_os.h"

namespace orvelo {
namespace {

const DriveCandidate STICK{"SanDisk Cruzer", 16'000'000'000, 9, 512};

class JobStatusTest : public ::testing::Test {
  protected:
    void SetUp() override { fake::reset_fake_os(); }
    JobStatus status;
};

TEST_F(JobStatusTest, BeginJobClearsTheStopSetsStartingAndReplacesTheDrive) {
    status.stop_requested = true;
    publish_progress(status, JobPhase::Failed, 5, 9);
    status.job_drive = DriveCandidate{"old", 1, 1, 512};

    begin_job(status, STICK);

    EXPECT_FALSE(is_stop_requested(status));
    EXPECT_EQ(load_phase(status), JobPhase::Starting);
    EXPECT_EQ(copy_job_drive(status), STICK);
    // The counts are the job's to reset.
    EXPECT_EQ(status.bytes_done.load(), 5u);
    EXPECT_EQ(status.bytes_total.load(), 9u);
}

TEST_F(JobStatusTest, CheckStoppedGivesExactlyStoppedOnceRequested) {
    EXPECT_TRUE(check_stopped(status).has_value());
    request_stop(status);
    const Status stopped = check_stopped(status);
    ASSERT_FALSE(stopped.has_value());
    EXPECT_EQ(stopped.error().text, "Stopped.");
    EXPECT_EQ(stopped.error().text.size(), 8u);
}

TEST_F(JobStatusTest, DownloadProgressNeverShowsMoreThanExpected) {
    on_download_progress(status, 10, 100);
    EXPECT_EQ(status.bytes_done.load(), 10u);
    EXPECT_EQ(status.bytes_total.load(), 100u);
    EXPECT_EQ(load_phase(status), JobPhase::Fetching);
    on_download_progress(status, 101, 100);
    EXPECT_EQ(status.bytes_done.load(), 100u);
    EXPECT_EQ(status.bytes_total.load(), 100u);
}

TEST_F(JobStatusTest, EndJobStoresOutcomeThenPhaseThenPostsToTheMainWindow) {
    status.main_window = os::WindowHandle{0x1234};
    begin_job(status, STICK);

    end_job(status, Result<std::string>("1.2"));
    JobOutcome outcome = read_job_outcome(status);
    EXPECT_EQ(outcome.phase, JobPhase::Succeeded);
    EXPECT_EQ(outcome.outcome_text, "1.2");
    EXPECT_EQ(outcome.drive_label, "SanDisk Cruzer");

    end_job(status, fail(std::string(msg::TOO_SMALL)));
    outcome = read_job_outcome(status);
    EXPECT_EQ(outcome.phase, JobPhase::Failed);
    EXPECT_EQ(outcome.outcome_text, "This drive is too small for the installer.");
    EXPECT_EQ(fake::fake_os().posted_job_ends,
              (std::vector<os::WindowHandle>{os::WindowHandle{0x1234}, os::WindowHandle{0x1234}}));
}

TEST_F(JobStatusTest, ReadOutcomeWithoutADriveGivesAnEmptyLabel) {
    EXPECT_EQ(read_job_outcome(status).drive_label, "");
}

// The window reads the record only on the end-of-job message, so the outcome and the phase must
// both be stored when the message is posted.
TEST_F(JobStatusTest, TheOutcomeIsCompleteWhenTheMessageIsPosted) {
    begin_job(status, STICK);
    std::optional<JobOutcome> seen_at_post;
    fake::fake_os().on_post_job_end = [&](os::WindowHandle) {
        seen_at_post = read_job_outcome(status);
    };
    std::thread job([this] { end_job(status, fail(std::string(msg::STOPPED))); });
    job.join();
    ASSERT_TRUE(seen_at_post.has_value());
    EXPECT_EQ(seen_at_post->phase, JobPhase::Failed);
    EXPECT_EQ(seen_at_post->outcome_text, "Stopped.");
}

TEST(SpinLockTest, ExcludesConcurrentWriters) {
    SpinLock lock;
    std::string shared;
    constexpr int ROUNDS = 20000;
    const auto writer = [&](char c) {
        for (int i = 0; i < ROUNDS; ++i) {
            const std::lock_guard guard(lock);
            shared.assign(64, c);  // a torn or lost write would break the all-one-letter rule
            ASSERT_EQ(shared.find_first_not_of(c), std::string::npos);
        }
    };
    std::thread a(writer, 'a');
    std::thread b(writer, 'b');
    a.join();
    b.join();
    EXPECT_EQ(shared.size(), 64u);
}

}  // namespace
}  // namespace orvelo
