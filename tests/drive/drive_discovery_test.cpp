// Drive discovery against the fake system: which disks are offered and how they are named, the
// system disk, the descriptor texts, and when the controls are rewritten.
#include "drive/drive_discovery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "core/format.h"
#include "core/unicode.h"
#include "os/fake/fake_os.h"

namespace orvelo {
namespace {

using fake::fake_calls_named;
using fake::fake_os;

constexpr u32 BUS_SATA = 11;
constexpr u64 GB = 1'000'000'000;

fake::FakeDisk& add_disk(u32 number, u32 bus, const std::string& vendor, const std::string& product,
                         u64 size, u32 sector_bytes = 512) {
    std::u16string path = utf8_to_wide(format("\\\\.\\PhysicalDrive{}", number));
    path.pop_back();  // the terminating zero
    fake::FakeDisk& disk = fake_os().disks[path];
    disk.descriptor = fake::storage_descriptor(bus, vendor, product);
    disk.geometry = fake::FakeGeometry{sector_bytes, size};
    return disk;
}

void add_system_volume(std::vector<u32> extent_disks) {
    fake_os().volumes.push_back({u"\\\\.\\C:\\", std::move(extent_disks)});
}

std::vector<u32> numbers(const std::vector<DriveCandidate>& drives) {
    std::vector<u32> found;
    for (const DriveCandidate& drive : drives) {
        found.push_back(drive.disk_number);
    }
    return found;
}

class DriveDiscoveryTest : public ::testing::Test {
  public:
    void SetUp() override { fake::reset_fake_os(); }
};

// ---- Descriptor texts ----

std::array<u8, DEVICE_DESCRIPTOR_BYTES> descriptor_with(std::size_t offset, std::string bytes) {
    std::array<u8, DEVICE_DESCRIPTOR_BYTES> answer{};
    std::copy(bytes.begin(), bytes.end(), answer.begin() + static_cast<std::ptrdiff_t>(offset));
    return answer;
}

TEST(ReadDescriptorText, DecodesTrimsAndReplacesMaximalInvalidSubsequences) {
    const std::string R = "\xEF\xBF\xBD";  // U+FFFD
    struct Case {
        const char* name;
        std::string bytes;
        std::string text;
    };
    const Case cases[] = {
        {"plain", "SanDisk", "SanDisk"},
        {"spaces around", "  Generic   ", "Generic"},
        {"tab, no-break space and ideographic space", "\t\xC2\xA0Kingston\xE3\x80\x80", "Kingston"},
        {"inner spaces stay", " Flash  Disk ", "Flash  Disk"},
        {"valid multi-byte", "K\xC3\xB6ln \xF0\x9F\x92\xBE", "K\xC3\xB6ln \xF0\x9F\x92\xBE"},
        {"lone continuation byte",
         "A\x80"
         "B",
         "A" + R + "B"},
        {"truncated two-byte form at the end", "AB\xC3", "AB" + R},
        {"truncated three-byte form",
         "\xE2\x82"
         "A",
         R + "A"},
        {"overlong lead C0", "\xC0\xAF", R + R},
        {"overlong three-byte form", "\xE0\x80\xAF", R + R + R},
        {"surrogate", "\xED\xA0\x80", R + R + R},
        {"above U+10FFFF", "\xF4\x90\x80\x80", R + R + R + R},
        {"truncated four-byte form",
         "\xF0\x9F\x92"
         "x",
         R + "x"},
        {"bytes that never lead", "\xF5\xFF", R + R},
        {"replacement is not white space", " \xC3 ", R},
        {"only spaces", "    ", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(read_descriptor_text(descriptor_with(100, c.bytes), 100), c.text) << c.name;
    }
}

TEST(ReadDescriptorText, OffsetsOutsideTheAnswerGiveNothing) {
    const auto answer = descriptor_with(0, "Vendor");
    EXPECT_EQ(read_descriptor_text(answer, 0), "");
    EXPECT_EQ(read_descriptor_text(descriptor_with(1000, "x"), 1024), "");
    EXPECT_EQ(read_descriptor_text(descriptor_with(1000, "x"), 0xFFFFFFFF), "");
}

TEST(ReadDescriptorText, ATextWithoutZeroEndsAtTheBuffersEnd) {
    EXPECT_EQ(read_descriptor_text(descriptor_with(1020, "ABCD"), 1020), "ABCD");
    EXPECT_EQ(read_descriptor_text(descriptor_with(1023, "Z"), 1023), "Z");
}

TEST(DriveLabel, JoinsVendorAndProductOrFallsBack) {
    EXPECT_EQ(drive_label("SanDisk", "Ultra"), "SanDisk Ultra");
    EXPECT_EQ(drive_label("SanDisk", ""), "SanDisk");
    EXPECT_EQ(drive_label("", "Ultra"), "Ultra");
    EXPECT_EQ(drive_label("", ""), "USB drive");
}

// ---- Probing ----

TEST_F(DriveDiscoveryTest, OffersUsbSdAndMmcDisksWithSizeAndAnsweredQueries) {
    add_disk(1, BUS_TYPE_USB, "  Kingston ", "", 16 * GB);
    add_disk(2, BUS_TYPE_SD, "", "", 32 * GB);  // an SD card is "USB drive" too
    add_disk(3, BUS_TYPE_MMC, "", "SD/MMC", 8 * GB);
    add_disk(4, BUS_SATA, "ATA", "Samsung SSD", 500 * GB);
    add_disk(5, BUS_TYPE_USB, "Empty", "Reader", 0);  // no medium: size 0
    add_disk(6, BUS_TYPE_USB, "No", "Geometry", GB).geometry.reset();
    add_disk(7, BUS_TYPE_USB, "No", "Descriptor", GB).descriptor.reset();
    add_disk(8, BUS_TYPE_USB, "Big", "Sectors", 2 * GB, 4096);  // the job refuses it later
    add_disk(10, BUS_TYPE_USB, "Open", "Fails", GB).open_fails = true;

    const std::vector<DriveCandidate> found = scan_drives(find_system_disk());

    const std::vector<DriveCandidate> expected = {
        {"Kingston", 16 * GB, 1, 512},
        {"USB drive", 32 * GB, 2, 512},
        {"SD/MMC", 8 * GB, 3, 512},
        {"Big Sectors", 2 * GB, 8, 4096},
    };
    EXPECT_EQ(found, expected);
}

TEST_F(DriveDiscoveryTest, ADescriptorWithVendorOffsetZeroHasNoVendorText) {
    fake::FakeDisk& disk = add_disk(2, BUS_TYPE_USB, "Vendor", "Stick", GB);
    (*disk.descriptor)[12] = 0;  // VendorIdOffset = 0; the text stays in the buffer
    EXPECT_EQ(scan_drives(std::nullopt).at(0).label, "Stick");
}

TEST_F(DriveDiscoveryTest, ProbesAllThirtyTwoNumbersOverGapsAndNeverBeyond) {
    for (const u32 number : {0u, 5u, 31u, 32u, 40u}) {
        add_disk(number, BUS_TYPE_USB, "Disk", std::to_string(number), GB);
    }
    EXPECT_EQ(numbers(scan_drives(std::nullopt)), (std::vector<u32>{0, 5, 31}));
    EXPECT_EQ(fake_calls_named({"create_file"}).size(), 32u);
}

TEST_F(DriveDiscoveryTest, EachProbeOpensForAttributesOnlySendsBothQueriesAndCloses) {
    // FILE_READ_ATTRIBUTES (80), no data access: nothing is mounted or read.
    add_disk(4, BUS_TYPE_USB, "No", "Descriptor", GB).descriptor.reset();
    (void)probe_disk(4);
    const std::vector<std::string> expected = {
        "create_file(\\\\.\\PhysicalDrive4, 80, 3, 3, 0)",
        "device_io_control(\\\\.\\PhysicalDrive4, 2d1400, in 12, out 1024)",
        "device_io_control(\\\\.\\PhysicalDrive4, 700a0, in 0, out 256)",
        "close_handle(\\\\.\\PhysicalDrive4)",
    };
    EXPECT_EQ(fake_calls_named({"create_file", "device_io_control", "close_handle"}), expected);
    EXPECT_TRUE(fake_os().open_handles.empty());
}

TEST_F(DriveDiscoveryTest, AListedDiskRecordsItsSerialNumberAndMediaChangeCount) {
    struct Case {
        const char* name;
        std::string serial_bytes;
        std::optional<u32> media_change_count;
        std::string serial_number;
    };
    const Case cases[] = {
        {"a card reader answering both", "  0123ABCD ", 7, "0123ABCD"},
        {"a stick with a serial number only", "AA11", std::nullopt, "AA11"},
        {"a device that answers neither", "", std::nullopt, ""},
        {"a count of 0 is a count", "", 0, ""},
    };
    for (const Case& c : cases) {
        fake::reset_fake_os();
        fake::FakeDisk& disk = add_disk(3, BUS_TYPE_SD, "Generic", "SD Reader", 32 * GB);
        disk.descriptor =
            fake::storage_descriptor(BUS_TYPE_SD, "Generic", "SD Reader", c.serial_bytes);
        disk.media_change_count = c.media_change_count;
        const std::optional<DriveCandidate> found = probe_disk(3);
        ASSERT_TRUE(found.has_value()) << c.name;
        EXPECT_EQ(found->serial_number, c.serial_number) << c.name;
        EXPECT_EQ(found->media_change_count, c.media_change_count) << c.name;
        EXPECT_EQ(fake_calls_named({"device_io_control"}).back(),
                  "device_io_control(\\\\.\\PhysicalDrive3, 2d0800, in 0, out 4)")
            << c.name;
    }
}

// ---- The system disk ----

TEST_F(DriveDiscoveryTest, TheDiskHoldingWindowsIsNeverOfferedEvenOnUsb) {
    add_system_volume({1});
    add_disk(0, BUS_TYPE_USB, "Other", "Stick", GB);
    add_disk(1, BUS_TYPE_USB, "Windows", "To Go", 64 * GB);
    EXPECT_EQ(find_system_disk(), 1u);
    EXPECT_EQ(numbers(scan_drives(find_system_disk())), (std::vector<u32>{0}));
    // The volume was opened without access, asked once and closed; disk 1 was never opened.
    EXPECT_EQ(fake_calls_named({"create_file"}).front(), "create_file(\\\\.\\C:, 0, 3, 3, 0)");
    for (const std::string& call : fake_calls_named({"create_file"})) {
        EXPECT_NE(call, "create_file(\\\\.\\PhysicalDrive1, 80, 3, 3, 0)");
    }
    EXPECT_TRUE(fake_os().open_handles.empty());
}

TEST_F(DriveDiscoveryTest, WhenTheSystemDiskCannotBeFoundNoDiskIsExcluded) {
    struct Case {
        const char* name;
        std::u16string windows_directory;
        bool volume;
        bool extents_fail;
        std::vector<u32> extent_disks;
    };
    const Case cases[] = {
        {"no Windows directory", u"", true, false, {1}},
        {"a one-unit directory", u"C", true, false, {1}},
        {"a surrogate for a letter", u"\xD83D\xDCBE:\\Windows", true, false, {1}},
        {"the volume does not open", u"C:\\Windows", false, false, {1}},
        {"the extents query fails", u"C:\\Windows", true, true, {1}},
        {"more extents than the answer holds", u"C:\\Windows", true, false, {1, 1, 1}},
        {"no extent", u"C:\\Windows", true, false, {}},
        {"Windows on another letter", u"D:\\Windows", true, false, {1}},
        {"a directory too long for the buffer", std::u16string(300, u'C'), true, false, {1}},
    };
    for (const Case& c : cases) {
        fake::reset_fake_os();
        fake_os().windows_directory = c.windows_directory;
        if (c.volume) {
            add_system_volume(c.extent_disks);
            fake_os().volumes.back().extents_fail = c.extents_fail;
        }
        add_disk(1, BUS_TYPE_USB, "Windows", "To Go", 64 * GB);
        EXPECT_EQ(find_system_disk(), std::nullopt) << c.name;
        EXPECT_EQ(numbers(scan_drives(find_system_disk())), (std::vector<u32>{1})) << c.name;
        EXPECT_TRUE(fake_os().open_handles.empty()) << c.name;
    }
}

// ---- The drop-down ----

// Records what the refresh asks of the controls.
class RecordingControls : public DriveControls {
  public:
    int selected_index() override {
        ++index_reads;
        return selection;
    }
    void show(const DriveListView& view) override {
        shown.push_back(view);
        selection = static_cast<int>(view.selected_index);
    }

    int selection = -1;
    int index_reads = 0;
    std::vector<DriveListView> shown;
};

class DriveListTest : public DriveDiscoveryTest {
  public:
    void SetUp() override {
        DriveDiscoveryTest::SetUp();
        store_drive_list(state, {placeholder_drive()});
    }
    DriveListState state;
    RecordingControls controls;
};

TEST_F(DriveListTest, TheFirstScanFillsTheDropDown) {
    add_disk(3, BUS_TYPE_USB, "SanDisk", "Ultra", 9'876'000'000);
    add_disk(9, BUS_TYPE_SD, "", "", 999'999'999);
    state.refresh_ticks = 5;
    refresh_drive_list(state, controls);
    ASSERT_EQ(controls.shown.size(), 1u);
    const DriveListView& view = controls.shown[0];
    EXPECT_EQ(view.items, (std::vector<std::string>{"SanDisk Ultra \u2014 9.8 GB (disk 3)",
                                                    "USB drive \u2014 999 MB (disk 9)"}));
    EXPECT_EQ(view.selected_index, 0u);
    EXPECT_TRUE(view.enabled);
    EXPECT_EQ(view.status_text, "Everything on the drive will be erased.");
    EXPECT_EQ(numbers(copy_drive_list(state)), (std::vector<u32>{3, 9}));
    EXPECT_EQ(state.refresh_ticks, 0u);
}

TEST_F(DriveListTest, AFirstScanWithoutDrivesAsksForOneAndDisablesTheControls) {
    refresh_drive_list(state, controls);
    ASSERT_EQ(controls.shown.size(), 1u);
    const DriveListView& view = controls.shown[0];
    EXPECT_EQ(view.items, (std::vector<std::string>{"Insert a USB drive\u2026"}));
    EXPECT_EQ(view.selected_index, 0u);
    EXPECT_FALSE(view.enabled);
    EXPECT_EQ(view.status_text, "Plug in a USB drive of 1 GB or more.");
    EXPECT_TRUE(copy_drive_list(state).empty());
}

TEST_F(DriveListTest, AnUnchangedScanTouchesNothing) {
    add_disk(3, BUS_TYPE_USB, "SanDisk", "Ultra", 16 * GB);
    refresh_drive_list(state, controls);
    controls.index_reads = 0;
    state.refresh_ticks = 9;
    refresh_drive_list(state, controls);
    EXPECT_EQ(controls.shown.size(), 1u);
    EXPECT_EQ(controls.index_reads, 0);  // not even the selection was asked for
    EXPECT_EQ(state.refresh_ticks, 0u);
}

TEST_F(DriveListTest, AnyFieldThatDiffersRewritesTheControls) {
    add_disk(3, BUS_TYPE_USB, "SanDisk", "Ultra", 16 * GB);
    refresh_drive_list(state, controls);
    const std::function<void()> changes[] = {
        [] { add_disk(3, BUS_TYPE_USB, "SanDisk", "Ultra ", 16 * GB); },  // trims to the same
        [] { add_disk(3, BUS_TYPE_USB, "SanDisk", "ultra", 16 * GB); },
        [] { add_disk(3, BUS_TYPE_USB, "SanDisk", "ultra", 16 * GB + 512); },
        [] { add_disk(3, BUS_TYPE_USB, "SanDisk", "ultra", 16 * GB + 512, 4096); },
        // Another card in the same reader: the list takes it, so that the entry the job
        // copies describes the card in the slot now.
        [] {
            add_disk(3, BUS_TYPE_USB, "SanDisk", "ultra", 16 * GB + 512, 4096).media_change_count =
                2;
        },
        [] {
            add_disk(3, BUS_TYPE_USB, "SanDisk", "ultra", 16 * GB + 512, 4096).descriptor =
                fake::storage_descriptor(BUS_TYPE_USB, "SanDisk", "ultra", "S2");
        },
    };
    const std::size_t expected_counts[] = {1, 2, 3, 4, 5, 6};
    for (std::size_t i = 0; i < std::size(changes); ++i) {
        changes[i]();
        refresh_drive_list(state, controls);
        EXPECT_EQ(controls.shown.size(), expected_counts[i]) << i;
    }
}

TEST_F(DriveListTest, TheSelectedDiskStaysSelectedWhereverItMoved) {
    add_disk(5, BUS_TYPE_USB, "Five", "", GB);
    add_disk(7, BUS_TYPE_USB, "Seven", "", GB);
    refresh_drive_list(state, controls);
    controls.selection = 1;  // the user picks disk 7
    add_disk(2, BUS_TYPE_USB, "Two", "", GB);
    refresh_drive_list(state, controls);
    ASSERT_EQ(controls.shown.size(), 2u);
    EXPECT_EQ(controls.shown[1].selected_index, 2u);
    EXPECT_EQ(controls.shown[1].items[2], "Seven \u2014 1.0 GB (disk 7)");
}

TEST_F(DriveListTest, WhenTheSelectedDiskVanishesTheFirstIsSelected) {
    add_disk(5, BUS_TYPE_USB, "Five", "", GB);
    add_disk(7, BUS_TYPE_USB, "Seven", "", GB);
    add_disk(8, BUS_TYPE_USB, "Eight", "", GB);
    refresh_drive_list(state, controls);
    controls.selection = 1;
    fake_os().disks.erase(u"\\\\.\\PhysicalDrive7");
    refresh_drive_list(state, controls);
    ASSERT_EQ(controls.shown.size(), 2u);
    EXPECT_EQ(controls.shown[1].selected_index, 0u);
}

TEST_F(DriveListTest, NoSelectionOrAStaleIndexSelectsTheFirst) {
    for (const int selection : {-1, 5}) {
        store_drive_list(state, {placeholder_drive()});
        add_disk(5, BUS_TYPE_USB, "Five", "", GB);
        refresh_drive_list(state, controls);
        controls.selection = selection;
        add_disk(6, BUS_TYPE_USB, "Six", "", GB);
        refresh_drive_list(state, controls);
        EXPECT_EQ(controls.shown.back().selected_index, 0u) << selection;
        fake_os().disks.clear();
    }
}

TEST_F(DriveListTest, AfterAJobWithoutDrivesNothingIsRewritten) {
    refresh_drive_list(state, controls);  // the window's first scan: nothing plugged in
    store_drive_list(state, {});          // what the end of a job does
    refresh_drive_list(state, controls);
    EXPECT_EQ(controls.shown.size(), 1u);
}

TEST_F(DriveListTest, AfterAJobTheFirstDriveIsSelected) {
    add_disk(5, BUS_TYPE_USB, "Five", "", GB);
    add_disk(7, BUS_TYPE_USB, "Seven", "", GB);
    refresh_drive_list(state, controls);
    controls.selection = 1;
    store_drive_list(state, {});
    refresh_drive_list(state, controls);
    ASSERT_EQ(controls.shown.size(), 2u);
    EXPECT_EQ(controls.shown[1].selected_index, 0u);
    EXPECT_TRUE(controls.shown[1].enabled);
}

TEST_F(DriveListTest, DriveListEntriesMapIndexToDrive) {
    add_disk(5, BUS_TYPE_USB, "Five", "", GB);
    refresh_drive_list(state, controls);
    EXPECT_EQ(drive_list_entry(state, 0)->disk_number, 5u);
    EXPECT_EQ(drive_list_entry(state, 1), std::nullopt);
}

// ---- When scans run ----

TEST(RefreshTicks, AScanIsDueOnEveryNinthTickAndThreeTicksAfterADeviceChange) {
    DriveListState state;
    std::vector<int> due_ticks;
    for (int tick = 1; tick <= 9; ++tick) {
        if (count_refresh_tick(state)) {
            due_ticks.push_back(tick);
        }
    }
    EXPECT_EQ(due_ticks, (std::vector<int>{9}));

    state.refresh_ticks = 0;
    note_device_change(state);
    note_device_change(state);  // a burst gives one scan
    due_ticks.clear();
    for (int tick = 1; tick <= 3; ++tick) {
        if (count_refresh_tick(state)) {
            due_ticks.push_back(tick);
        }
    }
    EXPECT_EQ(due_ticks, (std::vector<int>{3}));
}

}  // namespace
}  // namespace orvelo
