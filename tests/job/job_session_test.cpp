// What a job holds of the machine besides the drive, against the fake system: the window's
// shutdown block and the worker's hold on sleep, in their order against the job's own calls on
// every road, and the wait for the drive when the session ends anyway.
#include "job/job_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

#include "gpt_image.h"
#include "job/install_job.h"
#include "os/fake/fake_os.h"

namespace orvelo {
namespace {

using fake::fake_calls;
using fake::fake_os;

constexpr u64 DISK_BYTES = 4 * 1024 * 1024;
const std::u16string DISK = u"\\\\.\\PhysicalDrive9";
const std::u16string IMAGE_PATH = u"E:\\orvelo.img";
const DriveCandidate STICK{"Kingston DataTraveler", DISK_BYTES, 9, 512};
constexpr os::WindowHandle WINDOW{77};

class JobSessionTest : public ::testing::Test {
  public:
    void SetUp() override {
        fake::reset_fake_os();
        fake_os().system_messages[31] = u"A device attached to the system is not functioning.\r\n";
        fake_os().disks[DISK].bytes.assign(DISK_BYTES, 0x5A);
        fake_os().disks[DISK].descriptor = fake::storage_descriptor(7, "Kingston", "DataTraveler");
        fake_os().disks[DISK].geometry = fake::FakeGeometry{512, DISK_BYTES};
        fake_os().files[IMAGE_PATH] = test::make_gpt_image(2560, {{34, 2500}});
        settings.local_image = "E:\\orvelo.img";
        status.main_window = WINDOW;
    }

    // The worker's thread procedure over this test's records.
    static u32 job_procedure(void* argument) {
        auto* test = static_cast<JobSessionTest*>(argument);
        JobFrontEnd window;
        run_job(test->status, test->settings_guard, test->settings, window);
        return 7;
    }

    JobStatus status;
    SpinLock settings_guard;
    Settings settings;
};

std::size_t index_of(const std::vector<std::string>& calls, const std::string& call) {
    return static_cast<std::size_t>(std::find(calls.begin(), calls.end(), call) - calls.begin());
}

TEST_F(JobSessionTest, TheBlockAndTheWakeHoldFromTheStartToTheEndOnEveryRoad) {
    struct Road {
        const char* what;
        std::function<void(JobSessionTest&)> arrange;
        const char* outcome;
    };
    const Road roads[] = {
        {"success", [](JobSessionTest&) {}, "(local image)"},
        {"failure",
         [](JobSessionTest&) {
             fake_os().injections.push_back({"write_file", 2});
         },
         "Writing to Kingston DataTraveler failed: A device attached to the system is not "
         "functioning. (31)"},
        {"stop",
         [](JobSessionTest& t) {
             fake_os().on_call = [&t](const std::string& call) {
                 if (call == "write_file") {
                     request_stop(t.status);
                 }
             };
         },
         "Stopped."},
        {"no image", [](JobSessionTest& t) { t.settings.local_image = "E:\\gone.img"; },
         "E:\\gone.img can't be read."},
    };
    for (const Road& road : roads) {
        SetUp();
        road.arrange(*this);
        start_job_session(status, WINDOW, STICK);
        EXPECT_EQ(load_phase(status), JobPhase::Starting) << road.what;
        EXPECT_EQ(run_awake(job_procedure, this), 7u) << road.what;
        end_job_session(WINDOW);  // the window's handling of the end message
        EXPECT_EQ(read_job_outcome(status).outcome_text, road.outcome) << road.what;

        const std::vector<std::string> calls = fake_calls();
        ASSERT_GE(calls.size(), 5u) << road.what;
        // The block comes first, before the worker; the worker holds the system awake before
        // its first call and lets go after its last, the end message; the block goes last.
        EXPECT_EQ(calls[0],
                  "block_shutdown(77, Making the Orvelo installer. Stopping now leaves the "
                  "drive unusable.)")
            << road.what;
        EXPECT_EQ(calls[1], "keep_system_awake(1)") << road.what;
        EXPECT_EQ(calls[2], "create_file(E:\\" +
                                std::string(road.what == std::string("no image") ? "gone.img"
                                                                                 : "orvelo.img") +
                                ", 80000000, 1, 3, 0)")
            << road.what;
        EXPECT_EQ(std::vector(calls.end() - 3, calls.end()),
                  (std::vector<std::string>{"post_job_end(77)", "keep_system_awake(0)",
                                            "unblock_shutdown(77)"}))
            << road.what;
        for (const std::string once : {"block_shutdown", "keep_system_awake(1)",
                                       "keep_system_awake(0)", "unblock_shutdown"}) {
            EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                                    [&](const std::string& c) { return c.starts_with(once); }),
                      1)
                << road.what << ": " << once;
        }
        EXPECT_TRUE(fake_os().open_handles.empty()) << road.what;
    }
}

TEST_F(JobSessionTest, WhenTheSessionEndsTheJobStopsAndTheWaitLastsUntilTheDriveIsReleased) {
    // The worker is held inside its first write until the stop request arrives.
    std::atomic<bool> writing{false};
    fake_os().on_call = [&](const std::string& call) {
        if (call == "write_file" && !writing.exchange(true)) {
            while (!is_stop_requested(status)) {
                std::this_thread::yield();
            }
        }
    };
    start_job_session(status, WINDOW, STICK);
    std::thread worker([this] { (void)run_awake(job_procedure, this); });
    while (!writing) {
        std::this_thread::yield();
    }
    stop_and_wait_for_job_end(status);
    // The wait returned only once the job had closed the drive and stored its end.
    const std::vector<std::string> at_return = fake_calls();
    EXPECT_EQ(load_phase(status), JobPhase::Failed);
    EXPECT_EQ(read_job_outcome(status).outcome_text, "Stopped.");
    const std::size_t drive_closed = index_of(at_return, "close_handle(\\\\.\\PhysicalDrive9)");
    const std::size_t posted = index_of(at_return, "post_job_end(77)");
    EXPECT_LT(drive_closed, at_return.size());
    EXPECT_LT(drive_closed, posted);
    worker.join();
    end_job_session(WINDOW);
    EXPECT_TRUE(fake_os().open_handles.empty());
    EXPECT_TRUE(fake_os().live_pages.empty());
    EXPECT_EQ(fake_calls().back(), "unblock_shutdown(77)");
}

TEST_F(JobSessionTest, TheWaitEndsAtOnceForAJobThatHasEnded) {
    begin_job(status, STICK);
    end_job(status, Result<std::string>(std::string("1.2")));
    fake::reset_fake_os();
    stop_and_wait_for_job_end(status);
    EXPECT_TRUE(fake::fake_calls_named({"sleep_ms"}).empty());
    EXPECT_EQ(load_phase(status), JobPhase::Succeeded);
}

}  // namespace
}  // namespace orvelo
