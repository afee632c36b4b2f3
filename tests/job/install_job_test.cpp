// The job against the fake system: the local road end to end, every failure with its text, what
// was released and in which order, and stops at each point.
#include "job/install_job.h"

#include <gtest/gtest.h>

#include "core/text.h"
#include "gpt_image.h"
#include "os/fake/fake_os.h"

namespace orvelo {
namespace {

using fake::Effect;
using fake::fake_calls;
using fake::fake_calls_named;
using fake::fake_os;

constexpr u64 DISK_BYTES = 4 * 1024 * 1024;  // 8192 sectors
constexpr u64 IMAGE_SECTORS = 2560;          // 1.25 MiB: the body spans two pieces
const std::u16string DISK = u"\\\\.\\PhysicalDrive9";
const std::u16string IMAGE_PATH = u"E:\\images\\orvelo.img";
const DriveCandidate STICK{"Kingston DataTraveler", DISK_BYTES, 9, 512};
constexpr u8 OLD_BYTE = 0x5A;  // what the drive held before

class InstallJobTest : public ::testing::Test {
  public:
    void SetUp() override {
        fake::reset_fake_os();
        fake_os().system_messages[5] = u"Access is denied.\r\n";
        fake_os().system_messages[31] = u"A device attached to the system is not functioning.\r\n";
        fake_os().system_messages[38] = u"Reached the end of the file.\r\n";
        fake_os().system_messages[2] = u"The system cannot find the file specified.\r\n";
        fake_os().system_messages[19] = u"The media is write protected.\r\n";
        fake_os().system_messages[21] = u"The device is not ready.\r\n";
        fake_os().disks[DISK].bytes.assign(DISK_BYTES, OLD_BYTE);
        fake_os().disks[DISK].descriptor = fake::storage_descriptor(7, "Kingston", "DataTraveler");
        fake_os().disks[DISK].geometry = fake::FakeGeometry{512, DISK_BYTES};
        image = test::make_gpt_image(IMAGE_SECTORS, {{34, 2000}, {2001, IMAGE_SECTORS - 34}});
        fake_os().files[IMAGE_PATH] = image;
        settings.local_image = wide_to_utf8(IMAGE_PATH);
        status.main_window = os::WindowHandle{77};
        begin_job(status, STICK);
    }

    void add_volume(const char16_t* name, std::vector<u32> extent_disks) {
        fake_os().volumes.push_back({name, std::move(extent_disks)});
    }

    // A volume of the disk whose open for reading and writing fails with `error`.
    void refuse_volume_open(u32 error) {
        add_volume(u"\\\\?\\Volume{a}\\", {9});
        fake_os().volumes.back().write_open_fails = true;
        fake_os().volumes.back().write_open_error = error;
    }

    JobOutcome run() {
        JobFrontEnd window;
        run_job(status, settings_guard, settings, window);
        return read_job_outcome(status);
    }

    const std::vector<u8>& disk() { return fake_os().disks[DISK].bytes; }

    bool disk_head_untouched() {
        return std::all_of(disk().begin(), disk().begin() + 17408,
                           [](u8 b) { return b == OLD_BYTE; });
    }

    bool disk_untouched() {
        return std::all_of(disk().begin(), disk().end(), [](u8 b) { return b == OLD_BYTE; });
    }

    // Nothing is left open and no memory is held, whatever happened.
    void expect_all_released() {
        EXPECT_TRUE(fake_os().open_handles.empty());
        EXPECT_TRUE(fake_os().live_pages.empty());
        for (const fake::FakeVolume& volume : fake_os().volumes) {
            EXPECT_FALSE(volume.locked);
        }
    }

    std::vector<u8> image;
    JobStatus status;
    SpinLock settings_guard;
    Settings settings;
};

TEST_F(InstallJobTest, WritesTheLocalImageAdaptedToTheDriveAndChecksIt) {
    const JobOutcome outcome = run();
    EXPECT_EQ(outcome.phase, JobPhase::Succeeded);
    EXPECT_EQ(outcome.outcome_text, "(local image)");
    EXPECT_EQ(status.bytes_done.load(), image.size());
    EXPECT_EQ(status.bytes_total.load(), image.size());
    EXPECT_EQ(fake_os().posted_job_ends, std::vector<os::WindowHandle>{os::WindowHandle{77}});

    const u64 sectors = DISK_BYTES / 512;
    // The head, adapted; the body unchanged; the image's own backup never written; the area
    // between body and tail left as it was; the new tail in the last 33 sectors.
    EXPECT_EQ(read_u32_le(disk().data() + 458), sectors - 1);
    EXPECT_EQ(read_u64_le(disk().data() + 512 + 32), sectors - 1);
    EXPECT_TRUE(std::equal(image.begin() + 1024, image.end() - 16896, disk().begin() + 1024));
    const u64 image_tail = image.size() - 16896;
    EXPECT_TRUE(std::all_of(disk().begin() + image_tail, disk().end() - 16896,
                            [](u8 b) { return b == OLD_BYTE; }));
    EXPECT_TRUE(std::equal(image.begin() + 1024, image.begin() + 17408, disk().end() - 16896));
    EXPECT_EQ(read_u64_le(disk().data() + DISK_BYTES - 512 + 24), sectors - 1);
    expect_all_released();
}

TEST_F(InstallJobTest, TakesTheDriveLocksItsVolumesAndReleasesInTheFixedOrder) {
    add_volume(u"\\\\?\\Volume{a}\\", {9});
    add_volume(u"\\\\?\\Volume{other}\\", {3});
    fake_os().volumes.back().write_open_fails = true;  // held by another program: not ours
    add_volume(u"\\\\?\\Volume{slot}\\", {});          // an empty card-reader slot
    fake_os().volumes.back().extents_fail = true;
    add_volume(u"\\\\?\\Volume{b}\\", {9});
    add_volume(u"\\\\?\\Volume{spans}\\", {4, 9});  // only the first extent counts
    ASSERT_EQ(run().phase, JobPhase::Succeeded);

    // Every volume is asked for its extents through a handle with no access (0); only those of
    // disk 9 are opened for reading and writing (c0000000), locked and dismounted.
    const std::vector<std::string> expected = {
        // The drive probed again as a scan probes it, before anything is locked.
        "create_file(\\\\.\\C:, 0, 3, 3, 0)",
        "create_file(\\\\.\\PhysicalDrive9, 80, 3, 3, 0)",
        "device_io_control(\\\\.\\PhysicalDrive9, 2d1400, in 12, out 1024)",
        "device_io_control(\\\\.\\PhysicalDrive9, 700a0, in 0, out 256)",
        "device_io_control(\\\\.\\PhysicalDrive9, 2d0800, in 0, out 4)",
        "close_handle(\\\\.\\PhysicalDrive9)",
        "find_first_volume()",
        "create_file(\\\\?\\Volume{a}, 0, 3, 3, 0)",
        "device_io_control(\\\\?\\Volume{a}, 560000, in 0, out 64)",
        "close_handle(\\\\?\\Volume{a})",
        "create_file(\\\\?\\Volume{a}, c0000000, 3, 3, 0)",
        "device_io_control(\\\\?\\Volume{a}, 90018, in 0, out 0)",
        "device_io_control(\\\\?\\Volume{a}, 90020, in 0, out 0)",
        "find_next_volume()",
        "create_file(\\\\?\\Volume{other}, 0, 3, 3, 0)",
        "device_io_control(\\\\?\\Volume{other}, 560000, in 0, out 64)",
        "close_handle(\\\\?\\Volume{other})",
        "find_next_volume()",
        "create_file(\\\\?\\Volume{slot}, 0, 3, 3, 0)",
        "device_io_control(\\\\?\\Volume{slot}, 560000, in 0, out 64)",
        "close_handle(\\\\?\\Volume{slot})",
        "find_next_volume()",
        "create_file(\\\\?\\Volume{b}, 0, 3, 3, 0)",
        "device_io_control(\\\\?\\Volume{b}, 560000, in 0, out 64)",
        "close_handle(\\\\?\\Volume{b})",
        "create_file(\\\\?\\Volume{b}, c0000000, 3, 3, 0)",
        "device_io_control(\\\\?\\Volume{b}, 90018, in 0, out 0)",
        "device_io_control(\\\\?\\Volume{b}, 90020, in 0, out 0)",
        "find_next_volume()",
        "create_file(\\\\?\\Volume{spans}, 0, 3, 3, 0)",
        "device_io_control(\\\\?\\Volume{spans}, 560000, in 0, out 64)",
        "close_handle(\\\\?\\Volume{spans})",
        "find_next_volume()",
        "find_volume_close()",
        "create_file(\\\\.\\PhysicalDrive9, c0000000, 3, 3, a0000000)",
        // Once more on the handle that will be written.
        "device_io_control(\\\\.\\PhysicalDrive9, 2d1400, in 12, out 1024)",
        "device_io_control(\\\\.\\PhysicalDrive9, 700a0, in 0, out 256)",
        "device_io_control(\\\\.\\PhysicalDrive9, 2d0800, in 0, out 4)",
        "device_io_control(\\\\.\\PhysicalDrive9, 70024, in 0, out 0)",
        "allocate_pages(1048576)",
    };
    std::vector<std::string> calls =
        fake_calls_named({"find_first_volume", "find_next_volume", "find_volume_close",
                          "create_file", "device_io_control", "close_handle", "allocate_pages",
                          "free_pages", "flush_file_buffers"});
    // The image file's own open and close come first.
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0], "create_file(E:\\images\\orvelo.img, 80000000, 1, 3, 0)");
    EXPECT_EQ(calls[1], "close_handle(E:\\images\\orvelo.img)");
    calls.erase(calls.begin(), calls.begin() + 2);
    ASSERT_GE(calls.size(), expected.size());
    EXPECT_EQ(std::vector(calls.begin(), calls.begin() + expected.size()), expected);
    EXPECT_EQ(std::vector(calls.begin() + expected.size(), calls.end()),
              (std::vector<std::string>{
                  "flush_file_buffers(\\\\.\\PhysicalDrive9)",
                  "device_io_control(\\\\.\\PhysicalDrive9, 70140, in 0, out 0)",
                  "close_handle(\\\\.\\PhysicalDrive9)",
                  "close_handle(\\\\?\\Volume{a})",
                  "close_handle(\\\\?\\Volume{b})",
                  "free_pages()",
              }));
    for (const fake::FakeVolume& volume : fake_os().volumes) {
        EXPECT_EQ(volume.dismounted,
                  volume.name == u"\\\\?\\Volume{a}\\" || volume.name == u"\\\\?\\Volume{b}\\");
    }
    expect_all_released();
}

TEST_F(InstallJobTest, WritesTailBodyHeadInPiecesThenReadsHeadBodyTailBack) {
    // The count published before each transfer of the drive: exact after every piece.
    std::vector<u64> done_before;
    fake_os().on_call = [&](const std::string& call) {
        if (call == "write_file" || call == "read_file") {
            done_before.push_back(status.bytes_done.load());
        }
    };
    ASSERT_EQ(run().phase, JobPhase::Succeeded);
    const u64 tail = DISK_BYTES - 16896;
    const u64 body_bytes = image.size() - 34304;
    // The body's first piece runs up to the drive's first 1 MiB boundary; the next starts on it.
    const u64 first_body_piece = 1048576 - 17408;
    std::vector<std::string> transfers =
        fake_calls_named({"set_file_pointer", "write_file", "read_file"});
    // Drop the image file's read.
    transfers.erase(transfers.begin());
    const std::string d = "\\\\.\\PhysicalDrive9";
    EXPECT_EQ(transfers,
              (std::vector<std::string>{
                  "set_file_pointer(" + d + ", " + std::to_string(tail) + ")",
                  "write_file(" + d + ", 16896)",
                  "set_file_pointer(" + d + ", 17408)",
                  "write_file(" + d + ", " + std::to_string(first_body_piece) + ")",
                  "set_file_pointer(" + d + ", 1048576)",
                  "write_file(" + d + ", " + std::to_string(body_bytes - first_body_piece) + ")",
                  "set_file_pointer(" + d + ", 0)",
                  "write_file(" + d + ", 17408)",
                  "set_file_pointer(" + d + ", 0)",
                  "read_file(" + d + ", 17408)",
                  "set_file_pointer(" + d + ", 17408)",
                  "read_file(" + d + ", " + std::to_string(first_body_piece) + ")",
                  "set_file_pointer(" + d + ", 1048576)",
                  "read_file(" + d + ", " + std::to_string(body_bytes - first_body_piece) + ")",
                  "set_file_pointer(" + d + ", " + std::to_string(tail) + ")",
                  "read_file(" + d + ", 16896)",
              }));
    const u64 total = image.size();
    EXPECT_EQ(done_before,
              (std::vector<u64>{0,  // the image file's read
                                0, 16896, 16896 + first_body_piece, 16896 + body_bytes,  // writing
                                total, 17408, 17408 + first_body_piece, 17408 + body_bytes}));
    EXPECT_EQ(status.bytes_done.load(), total);
}

TEST_F(InstallJobTest, EveryBodyPieceAfterTheFirstStartsOnAMebibyteBoundary) {
    // A body of about 4.4 MiB on a 16 MiB drive: pieces of 1031168 bytes, 1 MiB, 1 MiB, 1 MiB
    // and the rest, each but the first at k MiB.
    constexpr u64 sectors = 9000;
    image = test::make_gpt_image(sectors, {{34, sectors - 34}});
    fake_os().files[IMAGE_PATH] = image;
    fake_os().disks[DISK].bytes.assign(16 * 1024 * 1024, OLD_BYTE);
    fake_os().disks[DISK].geometry->disk_size = 16 * 1024 * 1024;  // the drive as discovery saw it
    begin_job(status, DriveCandidate{"Kingston DataTraveler", 16 * 1024 * 1024, 9, 512});
    ASSERT_EQ(run().phase, JobPhase::Succeeded);
    const std::vector<std::string> calls = fake_calls_named({"set_file_pointer", "write_file"});
    // The tail's seek and write come first; the head's, at offset 0, end the body.
    const auto head =
        std::find(calls.begin(), calls.end(), "set_file_pointer(\\\\.\\PhysicalDrive9, 0)");
    ASSERT_GE(head - calls.begin(), 2);
    const std::vector<std::string> body(calls.begin() + 2, head);
    std::vector<std::string> expected;
    u64 offset = 17408;
    u64 left = image.size() - 34304;
    while (left > 0) {
        const u64 piece = std::min<u64>(left, 1048576 - offset % 1048576);
        expected.push_back("set_file_pointer(\\\\.\\PhysicalDrive9, " + std::to_string(offset) +
                           ")");
        expected.push_back("write_file(\\\\.\\PhysicalDrive9, " + std::to_string(piece) + ")");
        offset += piece;
        left -= piece;
    }
    EXPECT_EQ(body, expected);
    ASSERT_EQ(expected.size(), 2u * 5u);
    EXPECT_EQ(expected[2], "set_file_pointer(\\\\.\\PhysicalDrive9, 1048576)");
    EXPECT_EQ(expected[8], "set_file_pointer(\\\\.\\PhysicalDrive9, 4194304)");
    EXPECT_EQ(status.bytes_done.load(), image.size());
}

TEST_F(InstallJobTest, PublishesTheFullCountAtTheEndOfWritingAndOfChecking) {
    std::vector<std::tuple<JobPhase, u64, u64>> seen;
    fake_os().on_call = [&](const std::string& call) {
        if (call == "write_file" || call == "read_file") {
            seen.emplace_back(load_phase(status), status.bytes_done.load(),
                              status.bytes_total.load());
        }
    };
    ASSERT_EQ(run().phase, JobPhase::Succeeded);
    const u64 total = image.size();
    // Before the image file's read: still Starting on the local road.
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(std::get<0>(seen.front()), JobPhase::Starting);
    // The first read-back sees the whole image written.
    const auto first_check = std::find_if(seen.begin() + 1, seen.end(), [](const auto& s) {
        return std::get<0>(s) == JobPhase::Writing && std::get<1>(s) == std::get<2>(s);
    });
    ASSERT_NE(first_check, seen.end());
    EXPECT_EQ(std::get<1>(*first_check), total);
    EXPECT_EQ(std::get<2>(*first_check), total);
    // The first write sees Preparing with zero counts.
    EXPECT_EQ(seen[1], std::make_tuple(JobPhase::Preparing, u64{0}, u64{0}));
    EXPECT_EQ(load_phase(status), JobPhase::Succeeded);
    EXPECT_EQ(status.bytes_done.load(), total);
}

struct FailureCase {
    const char* what;
    std::function<void(InstallJobTest&)> arrange;
    std::string expected_text;
    bool drive_untouched;  // nothing opened on the drive, nothing written
};

void PrintTo(const FailureCase& c, std::ostream* out) {
    *out << c.what;
}

class InstallJobFailure : public InstallJobTest,
                          public ::testing::WithParamInterface<FailureCase> {};

TEST_P(InstallJobFailure, EndsWithItsTextAndReleasesEverything) {
    const FailureCase& c = GetParam();
    c.arrange(*this);
    const JobOutcome outcome = run();
    EXPECT_EQ(outcome.phase, JobPhase::Failed);
    EXPECT_EQ(outcome.outcome_text, c.expected_text);
    EXPECT_EQ(fake_os().posted_job_ends.size(), 1u);
    if (c.drive_untouched) {
        EXPECT_TRUE(disk_untouched());
        EXPECT_TRUE(fake_calls_named({"find_first_volume"}).empty());
    }
    expect_all_released();
}

void inject(const char* call, int occurrence, Effect effect = Effect::Fail, u32 error = 31) {
    fake_os().injections.push_back({call, occurrence, effect, error});
}

const std::string LABEL = "Kingston DataTraveler";
const std::string IN_USE_TEXT =
    LABEL + " is in use by another program (File Explorer?). Close its windows and try again.";
const std::string SECURITY_HINT =
    "\n\nWindows security may be blocking the installer from writing to drives: Controlled "
    "folder access, or an antivirus program. To allow it, open Windows Security, choose Virus & "
    "threat protection, Manage ransomware protection, Allow an app through Controlled folder "
    "access, and add Orvelo Installer; or allow it in your antivirus program. Then try again.";

INSTANTIATE_TEST_SUITE_P(
    Rows, InstallJobFailure,
    ::testing::Values(
        FailureCase{"missing image file",
                    [](auto& t) { t.settings.local_image = "E:\\My Images\\gone.img"; },
                    "E:\\My Images\\gone.img can't be read.", true},
        // A local image is named in its texts: neither a server nor a download is involved.
        FailureCase{"empty image file", [](auto&) { fake_os().files[IMAGE_PATH].clear(); },
                    "E:\\images\\orvelo.img isn't an Orvelo installer image.", true},
        FailureCase{"image file whose size cannot be had",
                    [](auto&) { inject("get_file_size", 1); },
                    "E:\\images\\orvelo.img isn't an Orvelo installer image.", true},
        FailureCase{"4096-byte sectors, too small as well",
                    [](auto& t) {
                        begin_job(t.status, DriveCandidate{LABEL, 512, 9, 4096});
                    },
                    LABEL + " uses 4096-byte sectors; the installer needs a drive with 512-byte "
                            "sectors.",
                    true},
        FailureCase{
            "image larger than the drive",
            [](auto& t) {
                begin_job(t.status, DriveCandidate{LABEL, IMAGE_SECTORS * 512 - 512, 9, 512});
            },
            "This drive is too small for the installer.", true},
        FailureCase{
            "entry array damaged", [](auto&) { fake_os().files[IMAGE_PATH][1024 + 130] ^= 1; },
            "E:\\images\\orvelo.img is damaged: its partition tables don't check out.", true},
        FailureCase{
            "image cut short inside its last partition",
            [](auto&) { fake_os().files[IMAGE_PATH].resize((IMAGE_SECTORS - 34 + 33) * 512); },
            "E:\\images\\orvelo.img isn't an Orvelo installer image.", true},
        FailureCase{
            "primary header damaged", [](auto&) { fake_os().files[IMAGE_PATH][512 + 60] ^= 1; },
            "E:\\images\\orvelo.img is damaged: its partition tables don't check out.", true},
        FailureCase{"second volume refuses the lock",
                    [](auto& t) {
                        t.add_volume(u"\\\\?\\Volume{a}\\", {9});
                        t.add_volume(u"\\\\?\\Volume{b}\\", {9});
                        fake_os().volumes[1].lock_fails = true;
                    },
                    LABEL + " is in use by another program (File Explorer?). Close its windows "
                            "and try again.",
                    false},
        FailureCase{"a volume of the disk does not open for writing",
                    [](auto& t) {
                        t.add_volume(u"\\\\?\\Volume{a}\\", {9});
                        fake_os().volumes[0].write_open_fails = true;
                    },
                    LABEL + " is in use by another program (File Explorer?). Close its windows "
                            "and try again.",
                    false},
        // Only a volume that another program holds is in use; other refusals keep their cause.
        FailureCase{"a volume of the disk held with a sharing violation",
                    [](auto& t) { t.refuse_volume_open(32); }, IN_USE_TEXT, false},
        FailureCase{"a volume of the disk held exclusively (access denied)",
                    [](auto& t) { t.refuse_volume_open(5); }, IN_USE_TEXT, false},
        FailureCase{"a volume of the disk mounted read-only by a policy",
                    [](auto& t) { t.refuse_volume_open(19); },
                    "Windows did not open " + LABEL + ": The media is write protected. (19)",
                    false},
        FailureCase{"a volume of the disk not ready", [](auto& t) { t.refuse_volume_open(21); },
                    "Windows did not open " + LABEL + ": The device is not ready. (21)", false},
        FailureCase{
            "a volume of the disk gone", [](auto& t) { t.refuse_volume_open(2); },
            "Windows did not open " + LABEL + ": The system cannot find the file specified. (2)",
            false},
        FailureCase{"a volume of the disk refused with a code the system has no text for",
                    [](auto& t) { t.refuse_volume_open(1392); },
                    "Windows did not open " + LABEL + ": error 1392", false},
        FailureCase{"disk does not open",
                    [](auto& t) {
                        t.add_volume(u"\\\\?\\Volume{a}\\", {9});
                        fake_os().disks[DISK].access_open_fails = true;
                    },
                    "Windows did not open " + LABEL + ": Access is denied. (5)", false},
        FailureCase{"write-protected", [](auto&) { fake_os().disks[DISK].write_protected = true; },
                    LABEL + " is write-protected. Slide its lock switch and try again.", false},
        FailureCase{"no memory for the transfer buffer", [](auto&) { inject("allocate_pages", 1); },
                    "Out of memory.", false},
        FailureCase{"a write fails", [](auto&) { inject("write_file", 2); },
                    "Writing to " + LABEL +
                        " failed: A device attached to the system is not functioning. (31)",
                    false},
        // The first write refused as access denied: Windows security may be behind it.
        FailureCase{"the first write is refused as access denied",
                    [](auto&) { inject("write_file", 1, Effect::Fail, 5); },
                    "Writing to " + LABEL + " failed: Access is denied. (5)" + SECURITY_HINT,
                    false},
        // A later one had the disk's permission already: no hint.
        FailureCase{"a later write is refused as access denied",
                    [](auto&) { inject("write_file", 2, Effect::Fail, 5); },
                    "Writing to " + LABEL + " failed: Access is denied. (5)", false},
        FailureCase{"the first write fails otherwise",
                    [](auto&) { inject("write_file", 1, Effect::Fail, 19); },
                    "Writing to " + LABEL + " failed: The media is write protected. (19)", false},
        FailureCase{"a seek fails", [](auto&) { inject("set_file_pointer", 1, Effect::Fail, 5); },
                    "Writing to " + LABEL + " failed: Access is denied. (5)", false},
        FailureCase{"a write reports success but is short",
                    [](auto&) { inject("write_file", 1, Effect::Short); },
                    "Writing to " + LABEL + " failed: Reached the end of the file. (38)", false},
        FailureCase{"the flush fails", [](auto&) { inject("flush_file_buffers", 1); },
                    "Writing to " + LABEL +
                        " failed: A device attached to the system is not functioning. (31)",
                    false},
        FailureCase{"a read-back fails", [](auto&) { inject("read_file", 3); },
                    "Reading " + LABEL +
                        " back failed: A device attached to the system is not functioning. (31)",
                    false},
        FailureCase{"a read-back is short", [](auto&) { inject("read_file", 2, Effect::Short); },
                    "Reading " + LABEL + " back failed: Reached the end of the file. (38)", false},
        FailureCase{"the drive gives other bytes back",
                    [](auto&) { inject("read_file", 3, Effect::Corrupt); },
                    LABEL + " did not keep what was written to it. Try another drive.", false}),
    [](const ::testing::TestParamInfo<FailureCase>& info) {
        std::string name;
        for (const char c : std::string(info.param.what)) {
            name.push_back(std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
        }
        return name;
    });

// What took the confirmed drive's number meanwhile.
struct Replacement {
    const char* what;
    std::function<void()> apply;
    bool gone = false;  // no disk at all under the number
};

const Replacement REPLACEMENTS[] = {
    {"a disk of another size",
     [] {
         fake::FakeDisk& disk = fake_os().disks[DISK];
         disk.bytes.assign(2 * DISK_BYTES, OLD_BYTE);
         disk.geometry->disk_size = 2 * DISK_BYTES;
     }},
    {"a disk with another label",
     [] {
         fake_os().disks[DISK].descriptor =
             fake::storage_descriptor(7, "Kingston", "DataTraveler 2");
     }},
    {"a disk on another bus (SATA)",
     [] {
         fake_os().disks[DISK].descriptor =
             fake::storage_descriptor(11, "Kingston", "DataTraveler");
     }},
    {"a disk with 4096-byte sectors",
     [] { fake_os().disks[DISK].geometry->bytes_per_sector = 4096; }},
    {"no disk", [] { fake_os().disks.erase(DISK); }, true},
};

TEST_F(InstallJobTest, ADriveReplacedBeforeLockingIsNeitherLockedNorWritten) {
    for (const Replacement& replacement : REPLACEMENTS) {
        SetUp();
        // The replacement brings a volume of its own under the same disk number.
        add_volume(u"\\\\?\\Volume{new}\\", {9});
        replacement.apply();
        const JobOutcome outcome = run();
        EXPECT_EQ(outcome.outcome_text,
                  "Kingston DataTraveler was unplugged or replaced. Pick the drive again.")
            << replacement.what;
        EXPECT_TRUE(fake_calls_named({"find_first_volume", "write_file", "allocate_pages"}).empty())
            << replacement.what;
        EXPECT_TRUE(fake_calls_named({"create_file"}).back().find(", 80, 3, 3, 0)") !=
                    std::string::npos)
            << replacement.what << ": only opened for queries";
        EXPECT_FALSE(fake_os().volumes[0].locked || fake_os().volumes[0].dismounted)
            << replacement.what;
        if (!replacement.gone) {
            EXPECT_TRUE(disk_untouched()) << replacement.what;
        }
        expect_all_released();
    }
}

TEST_F(InstallJobTest, ADriveReplacedBetweenLockingAndOpeningIsNotWritten) {
    // The confirmed drive's volume is locked; then the drive is swapped before the disk opens.
    // The newcomer's volume appears only then, so nothing may lock or dismount it.
    for (const Replacement& replacement : REPLACEMENTS) {
        SetUp();
        add_volume(u"\\\\?\\Volume{a}\\", {9});
        fake_os().on_call = [&](const std::string& call) {
            const std::vector<std::string> calls = fake_calls();
            if (call == "create_file" && !calls.empty() && calls.back() == "find_volume_close()") {
                const std::lock_guard lock(fake_os().mutex);
                replacement.apply();
                fake_os().volumes.push_back({u"\\\\?\\Volume{new}\\", {9}});
            }
        };
        const JobOutcome outcome = run();
        EXPECT_EQ(outcome.phase, JobPhase::Failed) << replacement.what;
        EXPECT_EQ(outcome.outcome_text,
                  replacement.gone
                      ? "Windows did not open Kingston DataTraveler: The system cannot find the "
                        "file specified. (2)"
                      : "Kingston DataTraveler was unplugged or replaced. Pick the drive again.")
            << replacement.what;
        EXPECT_TRUE(fake_calls_named({"write_file", "allocate_pages"}).empty()) << replacement.what;
        // Only the confirmed drive's volume was locked and dismounted, once each.
        const std::vector<std::string> locks = fake_calls_named({"device_io_control"});
        EXPECT_EQ(std::count_if(locks.begin(), locks.end(),
                                [](const std::string& c) {
                                    return c.find(", 90018,") != std::string::npos ||
                                           c.find(", 90020,") != std::string::npos;
                                }),
                  2)
            << replacement.what;
        EXPECT_TRUE(std::none_of(locks.begin(), locks.end(), [](const std::string& c) {
            return c.find("Volume{new}") != std::string::npos;
        })) << replacement.what;
        EXPECT_FALSE(fake_os().volumes[1].locked || fake_os().volumes[1].dismounted)
            << replacement.what;
        if (!replacement.gone) {
            EXPECT_TRUE(disk_untouched()) << replacement.what;
        }
        expect_all_released();
    }
}

// A card reader keeps its label, size and number whatever card is in it: what tells the cards
// apart is the serial number and the reader's media change count, as the scan recorded them.
struct CardSwap {
    const char* what;
    std::function<void(fake::FakeDisk&)> apply;
    bool replaced;
};

const CardSwap CARD_SWAPS[] = {
    {"another card: the media change count moved on",
     [](fake::FakeDisk& disk) { disk.media_change_count = 4; }, true},
    {"another stick of the same make and size: another serial number",
     [](fake::FakeDisk& disk) {
         disk.descriptor = fake::storage_descriptor(7, "Kingston", "DataTraveler", "BB22");
     },
     true},
    {"the medium no longer answers the media change count",
     [](fake::FakeDisk& disk) { disk.media_change_count.reset(); }, true},
    {"the same card", [](fake::FakeDisk&) {}, false},
};

class CardReaderTest : public InstallJobTest {
  public:
    void SetUp() override {
        InstallJobTest::SetUp();
        fake::FakeDisk& disk = fake_os().disks[DISK];
        disk.descriptor = fake::storage_descriptor(7, "Kingston", "DataTraveler", "AA11");
        disk.media_change_count = 3;
        DriveCandidate card = STICK;
        card.serial_number = "AA11";
        card.media_change_count = 3;
        begin_job(status, card);
        add_volume(u"\\\\?\\Volume{a}\\", {9});
    }

    void expect_outcome(const CardSwap& swap, const JobOutcome& outcome, const char* when) {
        if (swap.replaced) {
            EXPECT_EQ(outcome.outcome_text,
                      "Kingston DataTraveler was unplugged or replaced. Pick the drive again.")
                << swap.what << when;
            EXPECT_TRUE(disk_untouched()) << swap.what << when;
            EXPECT_TRUE(fake_calls_named({"write_file", "allocate_pages"}).empty())
                << swap.what << when;
        } else {
            EXPECT_EQ(outcome.phase, JobPhase::Succeeded) << swap.what << when;
        }
        expect_all_released();
    }
};

TEST_F(CardReaderTest, ACardSwappedBetweenTheScanAndLockingIsNeitherLockedNorWritten) {
    for (const CardSwap& swap : CARD_SWAPS) {
        SetUp();
        swap.apply(fake_os().disks[DISK]);
        const JobOutcome outcome = run();
        expect_outcome(swap, outcome, " (before locking)");
        if (swap.replaced) {
            EXPECT_TRUE(fake_calls_named({"find_first_volume"}).empty()) << swap.what;
            EXPECT_FALSE(fake_os().volumes[0].dismounted) << swap.what;
        }
    }
}

TEST_F(CardReaderTest, ACardSwappedBetweenLockingAndTheWriteHandleIsNotWritten) {
    for (const CardSwap& swap : CARD_SWAPS) {
        SetUp();
        fake_os().on_call = [&](const std::string& call) {
            const std::vector<std::string> calls = fake_calls();
            if (call == "create_file" && !calls.empty() && calls.back() == "find_volume_close()") {
                const std::lock_guard lock(fake_os().mutex);
                swap.apply(fake_os().disks[DISK]);
            }
        };
        const JobOutcome outcome = run();
        expect_outcome(swap, outcome, " (on the write handle)");
        // The disk was opened for writing and asked again on that handle.
        const std::vector<std::string> calls =
            fake_calls_named({"create_file", "device_io_control"});
        const auto open = std::find(calls.begin(), calls.end(),
                                    "create_file(\\\\.\\PhysicalDrive9, c0000000, 3, 3, a0000000)");
        ASSERT_NE(open, calls.end()) << swap.what;
        ASSERT_GE(calls.end() - open, 4) << swap.what;
        EXPECT_EQ(*(open + 3), "device_io_control(\\\\.\\PhysicalDrive9, 2d0800, in 0, out 4)")
            << swap.what;
    }
}

TEST_F(InstallJobTest, TheSystemDiskIsNeverWrittenEvenUnderTheConfirmedNumber) {
    // Disk 9 now holds the Windows directory's volume.
    fake_os().volumes.push_back({u"\\\\.\\C:\\", {9}});
    const JobOutcome outcome = run();
    EXPECT_EQ(outcome.outcome_text,
              "Kingston DataTraveler was unplugged or replaced. Pick the drive again.");
    EXPECT_TRUE(disk_untouched());
    EXPECT_TRUE(fake_calls_named({"find_first_volume"}).empty());
}

TEST_F(InstallJobTest, ALockRefusalUnlocksTheVolumesTakenSoFar) {
    add_volume(u"\\\\?\\Volume{a}\\", {9});
    add_volume(u"\\\\?\\Volume{b}\\", {9});
    fake_os().volumes[1].lock_fails = true;
    (void)run();
    const std::vector<std::string> tail = [] {
        auto calls = fake_calls_named({"close_handle", "find_volume_close"});
        return std::vector(calls.end() - 3, calls.end());
    }();
    EXPECT_EQ(tail,
              (std::vector<std::string>{"close_handle(\\\\?\\Volume{b})", "find_volume_close()",
                                        "close_handle(\\\\?\\Volume{a})"}));
    EXPECT_TRUE(fake_calls_named({"create_file"}).back().find("Volume{b}") != std::string::npos);
}

TEST_F(InstallJobTest, AVolumeOfTheDiskThatDoesNotOpenForWritingIsInUseNotSkipped) {
    add_volume(u"\\\\?\\Volume{a}\\", {9});
    add_volume(u"\\\\?\\Volume{b}\\", {9});
    fake_os().volumes[1].write_open_fails = true;
    const JobOutcome outcome = run();
    EXPECT_EQ(outcome.outcome_text, LABEL +
                                        " is in use by another program (File Explorer?). "
                                        "Close its windows and try again.");
    const std::vector<std::string> calls =
        fake_calls_named({"create_file", "close_handle", "find_volume_close", "device_io_control"});
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(std::vector(calls.end() - 3, calls.end()),
              (std::vector<std::string>{"create_file(\\\\?\\Volume{b}, c0000000, 3, 3, 0)",
                                        "find_volume_close()", "close_handle(\\\\?\\Volume{a})"}));
    EXPECT_TRUE(disk_untouched());
    EXPECT_TRUE(fake_calls_named({"allocate_pages"}).empty());
    expect_all_released();
}

// The lock calls and waits of the job, in order.
std::vector<std::string> lock_tries() {
    std::vector<std::string> tries;
    for (const std::string& call : fake_calls_named({"device_io_control", "sleep_ms"})) {
        if (call.find(", 90018,") != std::string::npos) {
            tries.push_back("lock");
        } else if (call.starts_with("sleep_ms(")) {
            tries.push_back(call);
        }
    }
    return tries;
}

TEST_F(InstallJobTest, ARefusedLockIsAskedAgainEveryQuarterSecondForFiveSeconds) {
    struct Case {
        int refusals;
        bool locked;
    };
    // 20 waits of 250 ms make the 5 s: the 21st try is the last.
    for (const Case c : {Case{3, true}, Case{20, true}, Case{21, false}}) {
        SetUp();
        add_volume(u"\\\\?\\Volume{a}\\", {9});
        fake_os().volumes[0].lock_refusals = c.refusals;
        const JobOutcome outcome = run();
        const int tries = std::min(c.refusals + 1, 21);
        std::vector<std::string> expected = {"lock"};
        for (int i = 1; i < tries; ++i) {
            expected.insert(expected.end(), {"sleep_ms(250)", "lock"});
        }
        EXPECT_EQ(lock_tries(), expected) << c.refusals;
        EXPECT_EQ(fake_os().slept_ms, 250u * (tries - 1)) << c.refusals;
        if (c.locked) {
            EXPECT_EQ(outcome.phase, JobPhase::Succeeded) << c.refusals;
            EXPECT_TRUE(fake_os().volumes[0].dismounted) << c.refusals;
        } else {
            EXPECT_EQ(outcome.outcome_text, LABEL +
                                                " is in use by another program (File "
                                                "Explorer?). Close its windows and try again.");
            EXPECT_FALSE(fake_os().volumes[0].dismounted);
            EXPECT_TRUE(disk_untouched());
        }
        expect_all_released();
    }
}

TEST_F(InstallJobTest, AStopDuringTheLockRetriesEndsStoppedAndUnlocksEverything) {
    add_volume(u"\\\\?\\Volume{a}\\", {9});
    add_volume(u"\\\\?\\Volume{b}\\", {9});
    fake_os().volumes[1].lock_refusals = 1000;
    int waits = 0;
    fake_os().on_call = [&](const std::string& call) {
        if (call == "sleep_ms" && ++waits == 2) {
            request_stop(status);
        }
    };
    const JobOutcome outcome = run();
    EXPECT_EQ(outcome.phase, JobPhase::Failed);
    EXPECT_EQ(outcome.outcome_text, "Stopped.");
    // a at once; b refused, a wait, refused again, a wait in which the stop came: no third try.
    EXPECT_EQ(lock_tries(),
              (std::vector<std::string>{"lock", "lock", "sleep_ms(250)", "lock", "sleep_ms(250)"}));
    const std::vector<std::string> closes = fake_calls_named({"close_handle", "find_volume_close"});
    ASSERT_GE(closes.size(), 3u);
    EXPECT_EQ(std::vector(closes.end() - 3, closes.end()),
              (std::vector<std::string>{"close_handle(\\\\?\\Volume{b})", "find_volume_close()",
                                        "close_handle(\\\\?\\Volume{a})"}));
    EXPECT_TRUE(disk_untouched());
    EXPECT_TRUE(fake_calls_named({"allocate_pages"}).empty());
    expect_all_released();
}

TEST_F(InstallJobTest, AFailedOpenReportsTheOpensErrorAfterClosingTheVolumes) {
    add_volume(u"\\\\?\\Volume{a}\\", {9});
    fake_os().disks[DISK].access_open_fails = true;
    fake_os().disks[DISK].open_error = 5;
    (void)run();
    const std::vector<std::string> calls = fake_calls();
    const auto open = std::find(calls.begin(), calls.end(),
                                "create_file(\\\\.\\PhysicalDrive9, c0000000, 3, 3, a0000000)");
    ASSERT_NE(open, calls.end());
    EXPECT_EQ(*(open + 1), "last_error_code()");
    EXPECT_EQ(*(open + 2), "system_message(5)");
    EXPECT_EQ(*(open + 3), "close_handle(\\\\?\\Volume{a})");
}

TEST_F(InstallJobTest, AWriteFailureInTheBodyLeavesTheDrivesStartAsItWas) {
    inject("write_file", 3);  // tail, first body piece, then the second body piece fails
    EXPECT_EQ(run().phase, JobPhase::Failed);
    EXPECT_TRUE(disk_head_untouched());
}

TEST_F(InstallJobTest, AStopBeforeTheDriveIsTouchedEndsStoppedWithTheDriveUntouched) {
    request_stop(status);
    const JobOutcome outcome = run();
    EXPECT_EQ(outcome.phase, JobPhase::Failed);
    EXPECT_EQ(outcome.outcome_text, "Stopped.");
    EXPECT_TRUE(disk_untouched());
    EXPECT_TRUE(fake_calls_named({"find_first_volume", "allocate_pages"}).empty());
}

TEST_F(InstallJobTest, AStopTakesEffectBeforeTheNextPieceInEveryRegion) {
    // Stop after the n-th transfer of the drive; the job must not transfer once more.
    for (const int stop_after : {1, 2, 3, 4, 5, 6, 7}) {
        SetUp();
        int transfers = 0;
        fake_os().on_call = [&](const std::string& call) {
            if ((call == "write_file" || call == "read_file") && ++transfers == stop_after + 1) {
                request_stop(status);
            }
        };
        const JobOutcome outcome = run();
        // +1 for the image file's own read, which comes before any drive transfer.
        EXPECT_EQ(outcome.outcome_text, "Stopped.") << stop_after;
        EXPECT_EQ(transfers, stop_after + 1) << stop_after;
        if (stop_after <= 3) {  // the tail and both body pieces: the head not yet written
            EXPECT_TRUE(disk_head_untouched()) << stop_after;
        }
        expect_all_released();
    }
}

TEST_F(InstallJobTest, ADifferenceInTheBodyStopsTheCountBeforeThatPiece) {
    inject("read_file", 4, Effect::Corrupt);  // image file, head, body piece 1, body piece 2
    EXPECT_EQ(run().phase, JobPhase::Failed);
    EXPECT_EQ(load_phase(status), JobPhase::Failed);
    EXPECT_EQ(status.bytes_done.load(), 17408u + (1048576u - 17408u));
}

TEST_F(InstallJobTest, WithoutADriveTheJobReturnsWithoutAWord) {
    JobStatus empty;
    empty.main_window = os::WindowHandle{77};
    JobFrontEnd window;
    run_job(empty, settings_guard, settings, window);
    EXPECT_TRUE(fake_os().posted_job_ends.empty());
    EXPECT_EQ(load_phase(empty), JobPhase::Starting);
    EXPECT_TRUE(fake_calls().empty());
}

TEST_F(InstallJobTest, ReadWholeFileReadsInPiecesAndStopsAtAFailedRead) {
    std::vector<u8> big(FILE_READ_PIECE_BYTES + 4096);
    big.back() = 9;
    fake_os().files[u"F:\\big"] = big;
    EXPECT_EQ(read_whole_file("F:\\big"), big);
    EXPECT_EQ(
        fake_calls_named({"read_file"}),
        (std::vector<std::string>{"read_file(F:\\big, 16777216)", "read_file(F:\\big, 4096)"}));

    inject("read_file", 2);
    const auto partial = read_whole_file("F:\\big");
    ASSERT_TRUE(partial.has_value());
    EXPECT_EQ(partial->size(), FILE_READ_PIECE_BYTES);
    EXPECT_FALSE(read_whole_file("F:\\none").has_value());
    expect_all_released();
}

}  // namespace
}  // namespace orvelo
