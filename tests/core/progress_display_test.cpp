#include "core/progress_display.h"

#include <gtest/gtest.h>

namespace orvelo {
namespace {

TEST(ProgressDisplay, FollowsThePhaseAcrossTheBarsStretches) {
    struct Case {
        JobPhase phase;
        u64 done;
        u64 total;
        const char* text;
        u32 position;
    };
    const Case cases[] = {
        {JobPhase::Fetching, 0, 0, "Getting the newest Orvelo\u2026", 0},
        {JobPhase::Fetching, 5, 0, "Getting the newest Orvelo\u2026", 0},
        {JobPhase::Fetching, 0, 734'003'200, "Downloading Orvelo\u2026 0.0 of 734.0 MB", 0},
        {JobPhase::Fetching, 12'345'678, 24'691'356, "Downloading Orvelo\u2026 12.3 of 24.6 MB",
         200},
        {JobPhase::Fetching, 999'999, 999'999, "Downloading Orvelo\u2026 0.9 of 0.9 MB", 400},
        {JobPhase::Preparing, 0, 0, "Preparing the drive\u2026", 400},
        {JobPhase::Writing, 0, 1000, "Writing the installer\u2026 0%", 400},
        {JobPhase::Writing, 999, 1000, "Writing the installer\u2026 99%", 799},
        {JobPhase::Writing, 1000, 1000, "Writing the installer\u2026 100%", 800},
        {JobPhase::Checking, 0, 1000, "Checking the drive\u2026 0%", 800},
        {JobPhase::Checking, 1000, 1000, "Checking the drive\u2026 100%", 1000},
        // A count paired with an older, smaller total never runs past the stretch.
        {JobPhase::Writing, 5000, 1000, "Writing the installer\u2026 100%", 800},
        {JobPhase::Checking, 7, 0, "Checking the drive\u2026 100%", 1000},
    };
    for (const Case& c : cases) {
        const auto display = progress_display(c.phase, c.done, c.total);
        ASSERT_TRUE(display.has_value()) << c.text;
        EXPECT_EQ(display->status_text, c.text);
        EXPECT_EQ(display->bar_position, c.position) << c.text;
    }
    for (const JobPhase phase : {JobPhase::Starting, JobPhase::Succeeded, JobPhase::Failed}) {
        EXPECT_FALSE(progress_display(phase, 1, 2).has_value());
    }
}

TEST(AnnounceProgress, OnEachPhaseChangeAndEveryTenPercentOfWritingAndChecking) {
    // One job's polls in order, and whether each is announced.
    struct Poll {
        JobPhase phase;
        u64 done;
        u64 total;
        bool announced;
    };
    const Poll polls[] = {
        {JobPhase::Fetching, 0, 0, true},  // "Getting the newest Orvelo…"
        {JobPhase::Fetching, 0, 0, false},
        {JobPhase::Fetching, 5'000'000, 700'000'000, false},  // the download's counts: no
        {JobPhase::Fetching, 690'000'000, 700'000'000, false},
        {JobPhase::Preparing, 0, 0, true},
        {JobPhase::Preparing, 0, 0, false},
        {JobPhase::Writing, 0, 1000, true},    // 0 %
        {JobPhase::Writing, 99, 1000, false},  // 9 %
        {JobPhase::Writing, 100, 1000, true},  // 10 %
        {JobPhase::Writing, 150, 1000, false},
        {JobPhase::Writing, 450, 1000, true},  // 45 %: several tenths at once, one announcement
        {JobPhase::Writing, 499, 1000, false},
        {JobPhase::Writing, 400, 1000, false},  // behind what was announced
        {JobPhase::Writing, 1000, 1000, true},  // 100 %
        {JobPhase::Checking, 0, 1000, true},
        {JobPhase::Checking, 1001, 1000, true},  // a count past the total is 100 %
        {JobPhase::Checking, 1000, 1000, false},
    };
    AnnouncedProgress last;
    for (std::size_t i = 0; i < std::size(polls); ++i) {
        const Poll& p = polls[i];
        EXPECT_EQ(announce_progress(last, p.phase, p.done, p.total), p.announced) << "poll " << i;
        EXPECT_EQ(last.phase, p.phase) << "poll " << i;
    }
    EXPECT_EQ(last.tenths, 10u);
}

TEST(SuccessText, AddsTheVersionSuffixExceptForALocalImage) {
    EXPECT_EQ(success_text("Stick", "(local image)"),
              "\u201cStick\u201d now installs Orvelo.\n\nPlug it into the PC, switch the PC on "
              "and pick the USB drive in its boot menu (usually F12, F11, F9 or Esc while it "
              "starts). Secure Boot must be off.");
    EXPECT_TRUE(success_text("Stick", "1.2")
                    .starts_with("\u201cStick\u201d now installs Orvelo (it fetches the newest "
                                 "version, 1.2 today).\n\n"));
    EXPECT_EQ(version_suffix(""), " (it fetches the newest version,  today)");
}

// The terminal's rate and time left: measured from the phase's start, nothing in its first
// second or for phases that move no bytes, afresh for each phase.
TEST(RateMeter, MeasuresEachPhaseFromItsStart) {
    using std::chrono::milliseconds;
    const RateMeter::Clock::time_point t0{};
    RateMeter meter;
    EXPECT_EQ(meter.text(JobPhase::Preparing, 0, 0, t0), "");
    EXPECT_EQ(meter.text(JobPhase::Writing, 0, 100'000'000, t0), "");
    EXPECT_EQ(meter.text(JobPhase::Writing, 5'000'000, 100'000'000, t0 + milliseconds(999)), "");
    EXPECT_EQ(meter.text(JobPhase::Writing, 25'000'000, 100'000'000, t0 + milliseconds(2000)),
              ", 12.5 MB/s, 0:06 left");
    EXPECT_EQ(meter.text(JobPhase::Writing, 25'000'001, 2'000'000'000, t0 + milliseconds(2000)),
              ", 12.5 MB/s, 2:37 left");
    // Checking starts its own measure: its first second shows nothing.
    EXPECT_EQ(meter.text(JobPhase::Checking, 0, 100'000'000, t0 + milliseconds(2500)), "");
    EXPECT_EQ(meter.text(JobPhase::Checking, 60'000'000, 100'000'000, t0 + milliseconds(3500)),
              ", 60.0 MB/s, 0:00 left");
    EXPECT_EQ(meter.text(JobPhase::Checking, 100'000'000, 100'000'000, t0 + milliseconds(4500)),
              ", 50.0 MB/s, 0:00 left");
}

}  // namespace
}  // namespace orvelo
