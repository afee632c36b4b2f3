// The drives `orvelo list` offers and the --drive checks, on small machines laid out as sysfs
// and /proc trees: each is read through the library and through a test build of the program
// that is given the machine's root.
#include "drive/linux/system_drives.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace orvelo::linux_drive {
namespace {

namespace fs = std::filesystem;

struct FixtureDisk {
    std::string name;
    std::string device_path;  // below sys/devices, the folder that holds block/{name}
    std::string number;       // "major:minor"
    u64 sectors = 0;
    std::string vendor = {}, model = {}, card_name = {}, scsi_type = {};
    bool removable = false;
};

// A machine's sysfs and /proc, as much of it as the drive list reads.
class Machine {
  public:
    Machine() {
        char pattern[] = "/tmp/orvelo-machine-XXXXXX";
        root_ = mkdtemp(pattern);
    }
    ~Machine() { fs::remove_all(root_); }
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    [[nodiscard]] const fs::path& root() const { return root_; }

    void disk(const FixtureDisk& fixture) {
        const fs::path folder =
            root_ / "sys/devices" / fixture.device_path / "block" / fixture.name;
        fs::create_directories(folder / "queue");
        fs::create_directories(folder / "device");
        write(folder / "size", std::to_string(fixture.sectors));
        write(folder / "removable", fixture.removable ? "1" : "0");
        write(folder / "dev", fixture.number);
        write(folder / "queue/logical_block_size", "512");
        // sysfs pads vendor and model with spaces.
        if (!fixture.vendor.empty())
            write(folder / "device/vendor", fixture.vendor + "   ");
        if (!fixture.model.empty())
            write(folder / "device/model", fixture.model + "  ");
        if (!fixture.card_name.empty())
            write(folder / "device/name", fixture.card_name);
        if (!fixture.scsi_type.empty())
            write(folder / "device/type", fixture.scsi_type);
        link(root_ / "sys/block" / fixture.name, folder);
        link(root_ / "sys/class/block" / fixture.name, folder);
        link(root_ / "sys/dev/block" / fixture.number, folder);
        folders_[fixture.name] = folder;
    }

    void partition(const std::string& disk, const std::string& name, const std::string& number) {
        const fs::path folder = folders_.at(disk) / name;
        fs::create_directories(folder);
        write(folder / "partition", "1");
        write(folder / "dev", number);
        link(root_ / "sys/class/block" / name, folder);
        link(root_ / "sys/dev/block" / number, folder);
        folders_[name] = folder;
    }

    // A device-mapper disk over `lower` (partitions or disks).
    void mapped(const std::string& name, const std::string& number, const std::string& dm_name,
                const std::vector<std::string>& lower) {
        disk({name, "virtual", number, 1'000'000});
        const fs::path folder = folders_.at(name);
        fs::create_directories(folder / "dm");
        write(folder / "dm/name", dm_name);
        for (const std::string& under : lower) {
            link(folder / "slaves" / under, folders_.at(under));
        }
    }

    // A loop device over `backing`: a device node ("/dev/sda1") or a regular file.
    void loop(const std::string& name, const std::string& number, const std::string& backing) {
        disk({name, "virtual", number, 131'072});
        write(folders_.at(name) / "loop/backing_file", backing);
    }

    // `upper` (device-mapper, md) holds `lower`, as the kernel links it both ways.
    void held(const std::string& lower, const std::string& upper) {
        link(folders_.at(lower) / "holders" / upper, folders_.at(upper));
        link(folders_.at(upper) / "slaves" / lower, folders_.at(lower));
    }

    // A line of /proc/self/mountinfo.
    void mount(const std::string& number, const std::string& point, const std::string& source) {
        mountinfo_ += std::to_string(++mount_id_) + " 1 " + number + " / " + point +
                      " rw,relatime - ext4 " + source + " rw\n";
        write(root_ / "proc/self/mountinfo", mountinfo_);
    }

    void swap(const std::string& file, const std::string& type) {
        swaps_ += file + "\t" + type + "\t8388604\t0\t-2\n";
        write(root_ / "proc/swaps", swaps_);
    }

  private:
    static void write(const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text << "\n";
    }
    static void link(const fs::path& at, const fs::path& target) {
        fs::create_directories(at.parent_path());
        fs::create_directory_symlink(fs::relative(target, at.parent_path()), at);
    }

    fs::path root_;
    std::map<std::string, fs::path> folders_;
    std::string mountinfo_;
    std::string swaps_ = "Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n";
    int mount_id_ = 20;
};

constexpr const char* USB_PATH =
    "pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0";
constexpr const char* USB_PATH_2 =
    "pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/host7/target7:0:0/7:0:0:0";
constexpr const char* SATA_PATH = "pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0";
constexpr const char* SATA_PATH_2 = "pci0000:00/0000:00:17.0/ata2/host1/target1:0:0/1:0:0:0";
constexpr const char* NVME_PATH = "pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0";
constexpr const char* SD_READER_PATH =
    "pci0000:00/0000:00:1c.0/0000:02:00.0/rtsx_pci_sdmmc.0/mmc_host/mmc0/mmc0:aaaa";

// A --drive case: the device, --any-disk, and the refusal ("" when it is taken). "{}" in the
// text stands for the path given.
struct DriveCase {
    std::string name;
    bool any_disk;
    std::string refusal;
};

const std::string NOT_REMOVABLE = "{} is not a removable drive. Use --any-disk to write it anyway.";
const std::string HOLDS_SYSTEM = "{} holds the running system.";
const std::string PARTITION = "{} is a partition; give the whole drive (for example /dev/sdb).";
const std::string SDA1_ON_HOME =
    "{} is in use: /dev/sda1 is mounted on /home. Unmount it and try again.";

std::string with_path(std::string text, const std::string& path) {
    if (const std::size_t at = text.find("{}"); at != std::string::npos) {
        text.replace(at, 2, path);
    }
    return text;
}

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string read_all(const fs::path& file) {
    std::ifstream in(file);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The program on the machine; `input` on its standard input.
ProgramRun run_program(const Machine& machine, const std::string& arguments,
                       const std::string& input) {
    const fs::path out = machine.root() / "out.txt";
    const fs::path err = machine.root() / "err.txt";
    const std::string command = "printf '" + input + "' | " + ORVELO_PROGRAM + " '" +
                                machine.root().string() + "' " + arguments + " >" + out.string() +
                                " 2>" + err.string();
    const int status = std::system(command.c_str());
    return ProgramRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_all(out), read_all(err)};
}

void expect_machine(const Machine& machine, const std::vector<std::string>& list_lines,
                    const std::vector<DriveCase>& cases) {
    std::vector<std::string> offered;
    std::string expected_list;
    for (const SystemDisk& disk : system_disks(machine.root())) {
        if (disk.offered()) {
            offered.push_back(disk.device_path);
        }
    }
    for (const std::string& line : list_lines) {
        expected_list += line + "\n";
    }
    const ProgramRun list = run_program(machine, "list", "");
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out,
              list_lines.empty() ? "Plug in a USB drive of 1 GB or more.\n" : expected_list);
    EXPECT_EQ(offered.size(), list_lines.size());

    // The checks by device number, through the library, and through the program on a device
    // node with that number.
    const fs::path nodes = machine.root() / "dev";
    fs::create_directories(nodes);
    for (const DriveCase& drive : cases) {
        SCOPED_TRACE(drive.name + (drive.any_disk ? " --any-disk" : ""));
        const std::string number =
            read_all(machine.root() / "sys/class/block" / drive.name / "dev");
        const unsigned major_number = std::stoul(number.substr(0, number.find(':')));
        const unsigned minor_number = std::stoul(number.substr(number.find(':') + 1));
        const std::string path = "/dev/" + drive.name;
        const Status checked =
            check_block_device(machine.root(), path, major_number, minor_number, drive.any_disk);
        if (drive.refusal.empty()) {
            EXPECT_TRUE(checked.has_value()) << checked.error().text;
        } else {
            ASSERT_FALSE(checked.has_value());
            EXPECT_EQ(checked.error().text, with_path(drive.refusal, path));
        }

        const fs::path node = nodes / drive.name;
        if (!fs::exists(node) &&
            mknod(node.c_str(), S_IFBLK | 0600, makedev(major_number, minor_number)) != 0) {
            continue;  // device nodes need root; the library's verdict above still holds
        }
        const ProgramRun run =
            run_program(machine,
                        "write --drive " + node.string() + (drive.any_disk ? " --any-disk" : "") +
                            " --image none.img",
                        "n\\n");
        EXPECT_EQ(run.status, 1);
        if (drive.refusal.empty()) {
            // Taken: it then fails to open (no such device here), or the image is read next
            // (there is none), or it is offered for erasing.
            const bool reached = run.err == node.string() + " can't be read.\n" ||
                                 run.err == "none.img can't be read.\n" ||
                                 run.out.starts_with("Erase this drive?\n");
            EXPECT_TRUE(reached) << run.out << run.err;
        } else {
            EXPECT_EQ(run.err, with_path(drive.refusal, node.string()) + "\n");
            EXPECT_EQ(run.out, "");
        }
    }
}

TEST(SystemDrives, Laptop) {
    Machine laptop;
    laptop.disk({"nvme0n1", NVME_PATH, "259:0", 1'000'215'216, "", "Samsung SSD 980 1TB"});
    laptop.partition("nvme0n1", "nvme0n1p1", "259:1");
    laptop.partition("nvme0n1", "nvme0n1p2", "259:2");
    laptop.partition("nvme0n1", "nvme0n1p3", "259:3");
    laptop.disk({"sdb", USB_PATH, "8:16", 31'266'816, "SanDisk", "Cruzer Blade", "", "0", true});
    laptop.partition("sdb", "sdb1", "8:17");
    laptop.disk({"mmcblk0", SD_READER_PATH, "179:0", 62'333'952, "", "", "SL32G", "SD"});
    laptop.disk({"sda", USB_PATH_2, "8:0", 1'953'525'168, "WD", "Elements 25A2", "", "0"});
    laptop.partition("sda", "sda1", "8:1");
    laptop.mount("259:2", "/", "/dev/nvme0n1p2");
    laptop.mount("259:1", "/boot/efi", "/dev/nvme0n1p1");
    laptop.mount("8:1", "/home", "/dev/sda1");
    laptop.swap("/dev/nvme0n1p3", "partition");
    expect_machine(laptop,
                   {"/dev/mmcblk0  31 GB  SL32G  SD", "/dev/sda  1000 GB  WD Elements 25A2  USB",
                    "/dev/sdb  16 GB  SanDisk Cruzer Blade  USB"},
                   {{"nvme0n1", false, HOLDS_SYSTEM},
                    {"nvme0n1", true, HOLDS_SYSTEM},
                    {"nvme0n1p2", true, PARTITION},
                    {"sdb", false, ""},
                    {"sdb1", false, PARTITION},
                    {"mmcblk0", false, ""},
                    {"sda", false, SDA1_ON_HOME}});
}

// `write` without --drive shows the offered drives numbered and takes the one picked (which
// then cannot be opened here, or is asked about); anything but a listed number picks nothing.
TEST(SystemDrives, WriteWithoutDriveAsksWhichOne) {
    Machine machine;
    machine.disk({"nvme0n1", NVME_PATH, "259:0", 1'000'215'216, "", "Samsung SSD 980 1TB"});
    machine.disk({"sdb", USB_PATH, "8:16", 31'266'816, "SanDisk", "Cruzer Blade", "", "0", true});
    machine.disk({"sdc", USB_PATH_2, "8:32", 15'633'408, "Generic", "Flash Disk", "", "0", true});
    machine.mount("259:0", "/", "/dev/nvme0n1");
    const std::string menu =
        "1) /dev/sdb  16 GB  SanDisk Cruzer Blade  USB\n"
        "2) /dev/sdc  8.0 GB  Generic Flash Disk  USB\n"
        "Which drive? [1-2] ";
    const ProgramRun picked = run_program(machine, "write --image none.img", "2\\n");
    EXPECT_EQ(picked.status, 1);
    EXPECT_TRUE(picked.out.starts_with(menu)) << picked.out;
    const bool reached = picked.err == "/dev/sdc can't be read.\n" ||
                         picked.out.starts_with(menu + "Erase this drive?\n");
    EXPECT_TRUE(reached) << picked.out << picked.err;
    for (const std::string answer :
         {"0\\n", "3\\n", "x\\n", "\\n", "", "18446744073709551617\\n"}) {
        const ProgramRun none = run_program(machine, "write --image none.img", answer);
        EXPECT_EQ(none.status, 1);
        EXPECT_TRUE(none.out.starts_with(menu)) << none.out;
        EXPECT_EQ(none.err, "No drive was picked.\n") << answer;
    }
}

TEST(SystemDrives, WriteWithoutDriveOnAMachineWithoutOne) {
    Machine machine;
    machine.disk({"nvme0n1", NVME_PATH, "259:0", 1'000'215'216, "", "Samsung SSD 980 1TB"});
    const ProgramRun run = run_program(machine, "write --image none.img", "1\\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "Plug in a USB drive of 1 GB or more.\n");
}

TEST(SystemDrives, DesktopWithRootOnLvm) {
    Machine desktop;
    desktop.disk({"sda", SATA_PATH, "8:0", 976'773'168, "ATA", "Samsung SSD 860", "", "0"});
    desktop.partition("sda", "sda1", "8:1");
    desktop.partition("sda", "sda2", "8:2");
    desktop.mapped("dm-0", "253:0", "vg0-root", {"sda2"});
    desktop.mapped("dm-1", "253:1", "vg0-swap", {"sda2"});
    desktop.disk({"sdb", SATA_PATH_2, "8:16", 3'907'029'168, "ATA", "ST2000DM008", "", "0"});
    desktop.disk(
        {"sdc", USB_PATH, "8:32", 60'063'744, "Kingston", "DataTraveler 3.0", "", "0", true});
    desktop.disk({"sr0", "pci0000:00/0000:00:17.0/ata3/host2/target2:0:0/2:0:0:0", "11:0",
                  1'000'000, "HL-DT-ST", "DVDRAM", "", "5", true});
    // The root by its mapper name (as a file system without one device number shows it), swap
    // on a logical volume: sda is a system disk only through the volumes.
    desktop.mount("0:31", "/", "/dev/mapper/vg0-root");
    desktop.mount("8:16", "/srv", "/dev/sdb");
    desktop.swap("/dev/dm-1", "partition");
    expect_machine(
        desktop, {"/dev/sdc  30 GB  Kingston DataTraveler 3.0  USB"},
        {{"sda", true, HOLDS_SYSTEM},
         {"dm-0", true, HOLDS_SYSTEM},
         {"sdb", false, NOT_REMOVABLE},
         {"sdb", true, "{} is in use: /dev/sdb is mounted on /srv. Unmount it and try again."},
         {"sr0", false, NOT_REMOVABLE},
         {"sdc", false, ""}});
}

TEST(SystemDrives, RootOnUsbDisk) {
    Machine machine;
    machine.disk({"sda", USB_PATH, "8:0", 234'441'648, "Samsung", "Portable SSD T5", "", "0"});
    machine.partition("sda", "sda1", "8:1");
    machine.partition("sda", "sda2", "8:2");
    machine.disk({"sdb", USB_PATH_2, "8:16", 15'633'408, "Generic", "Flash Disk", "", "0", true});
    machine.mount("0:25", "/", "/dev/sda2");  // btrfs: no device number of its own
    machine.mount("8:1", "/boot", "/dev/sda1");
    machine.swap("/swap/file\\040one", "file");
    expect_machine(machine, {"/dev/sdb  8.0 GB  Generic Flash Disk  USB"},
                   {{"sda", false, HOLDS_SYSTEM},
                    {"sda", true, HOLDS_SYSTEM},
                    {"sda2", true, PARTITION},
                    {"sdb", false, ""}});
}

// Each of /usr and a swap area alone makes its disk a system disk; /home does not.
TEST(SystemDrives, UsrAndSwapOnDisksOfTheirOwn) {
    Machine machine;
    machine.disk({"sda", USB_PATH, "8:0", 234'441'648, "Samsung", "Portable SSD T5", "", "0"});
    machine.partition("sda", "sda3", "8:3");
    machine.disk({"sdb", USB_PATH_2, "8:16", 15'633'408, "Generic", "Flash Disk", "", "0", true});
    machine.partition("sdb", "sdb1", "8:17");
    machine.disk({"sdc", USB_PATH + std::string("/x"), "8:32", 15'633'408, "Lexar", "JumpDrive", "",
                  "0", true});
    machine.partition("sdc", "sdc1", "8:33");
    machine.swap("/dev/sda3", "partition");
    machine.mount("8:17", "/usr", "/dev/sdb1");
    machine.mount("8:33", "/home", "/dev/sdc1");
    expect_machine(
        machine, {"/dev/sdc  8.0 GB  Lexar JumpDrive  USB"},
        {{"sda", true, HOLDS_SYSTEM},
         {"sdb", true, HOLDS_SYSTEM},
         {"sdc", false, "{} is in use: /dev/sdc1 is mounted on /home. Unmount it and try again."}});
}

TEST(SystemDrives, LoopDevicesAreNotOffered) {
    Machine machine;
    machine.disk({"nvme0n1", NVME_PATH, "259:0", 1'000'215'216, "", "Samsung SSD 980 1TB"});
    machine.partition("nvme0n1", "nvme0n1p1", "259:1");
    machine.disk({"loop0", "virtual", "7:0", 131'072});
    machine.partition("loop0", "loop0p1", "259:7");
    machine.disk({"loop1", "virtual", "7:1", 0});
    // A removable disk of size 0 (a card reader without a card) is not offered either, and is
    // named for what it lacks.
    machine.disk({"sdb", USB_PATH, "8:16", 0, "Generic", "SD Reader", "", "0", true});
    // Floppy drives, network block devices and raw flash are no sticks, whatever they are
    // marked; with --any-disk they may still be written.
    machine.disk({"fd0", "platform/floppy.0", "2:0", 2880, "", "", "", "", true});
    machine.disk({"nbd0", "virtual", "43:0", 2'097'152, "", "", "", "", true});
    machine.disk({"mtdblock0", "virtual", "31:0", 65'536, "", "", "", "", true});
    machine.mount("259:1", "/", "/dev/nvme0n1p1");
    expect_machine(machine, {},
                   {{"loop0", false, NOT_REMOVABLE},
                    {"loop0", true, ""},
                    {"loop0p1", true, PARTITION},
                    {"loop1", false, NOT_REMOVABLE},
                    {"sdb", false, "{} has no medium in it."},
                    {"sdb", true, "{} has no medium in it."},
                    {"fd0", false, NOT_REMOVABLE},
                    {"nbd0", false, NOT_REMOVABLE},
                    {"nbd0", true, ""},
                    {"mtdblock0", false, NOT_REMOVABLE}});
}

// A device that sysfs does not know is still a system disk when the root is mounted from it.
TEST(SystemDrives, DeviceUnknownToSysfs) {
    Machine machine;
    machine.mount("8:99", "/", "/dev/sdz");
    machine.mount("8:98", "/home", "/dev/sdy");
    const Status root = check_block_device(machine.root(), "/dev/sdz", 8, 99, true);
    ASSERT_FALSE(root.has_value());
    EXPECT_EQ(root.error().text, "/dev/sdz holds the running system.");
    const Status home = check_block_device(machine.root(), "/dev/sdy", 8, 98, false);
    ASSERT_FALSE(home.has_value());
    EXPECT_EQ(home.error().text, with_path(NOT_REMOVABLE, "/dev/sdy"));
    EXPECT_TRUE(check_block_device(machine.root(), "/dev/sdy", 8, 98, true).has_value());
}

// A write reaches the devices beneath its target and disturbs those built on it: each one
// mounted, swapped on, held or on a system disk refuses the target, with or without --any-disk,
// and the text names the device found. A loop device over a regular file ends the tree there.
TEST(SystemDrives, StackedDevicesAreFollowedBothWays) {
    Machine machine;
    machine.disk({"sda", SATA_PATH, "8:0", 976'773'168, "ATA", "Samsung SSD 860", "", "0"});
    machine.partition("sda", "sda1", "8:1");
    machine.partition("sda", "sda2", "8:2");
    machine.disk({"sdc", USB_PATH, "8:32", 60'063'744, "Kingston", "DataTraveler", "", "0", true});
    machine.partition("sdc", "sdc1", "8:33");
    machine.disk({"sdd", USB_PATH_2, "8:48", 15'633'408, "Generic", "Flash Disk", "", "0", true});
    machine.mount("8:2", "/", "/dev/sda2");
    machine.mount("8:1", "/boot", "/dev/sda1");
    machine.loop("loop0", "7:0", "/dev/sda1");   // over the mounted /boot
    machine.loop("loop1", "7:1", "/dev/sdc1");   // over an unmounted partition of a stick
    machine.loop("loop2", "7:2", "/dev/loop1");  // over loop1, and mounted
    machine.mount("7:2", "/mnt/stack", "/dev/loop2");
    machine.loop("loop3", "7:3", "/var/tmp/drive.img");
    machine.loop("loop4", "7:4", "/dev/loop3");
    machine.loop("loop5", "7:5", "/dev/loop4");
    machine.swap("/dev/loop4", "partition");
    machine.mapped("dm-3", "253:3", "crypt-stick", {});
    machine.held("sdd", "dm-3");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"loop0", HOLDS_SYSTEM},
        {"loop1", "{} is in use: /dev/loop2 is mounted on /mnt/stack. Unmount it and try again."},
        {"loop2", "{} is in use: /dev/loop2 is mounted on /mnt/stack. Unmount it and try again."},
        {"sdc", "{} is in use: /dev/loop2 is mounted on /mnt/stack. Unmount it and try again."},
        {"loop5",
         "{} is in use: /dev/loop4 is an active swap area. Turn it off (swapoff) and try again."},
        {"loop3",
         "{} is in use: /dev/loop4 is an active swap area. Turn it off (swapoff) and try again."},
        {"sdd", "{} is in use: /dev/dm-3 is built on it. Take that device down and try again."},
    };
    for (const auto& [name, refusal] : cases) {
        SCOPED_TRACE(name);
        const std::string number = read_all(machine.root() / "sys/class/block" / name / "dev");
        const auto colon = number.find(':');
        for (const bool any_disk : {false, true}) {
            const Status checked = check_block_device(
                machine.root(), "/dev/" + name, std::stoul(number.substr(0, colon)),
                std::stoul(number.substr(colon + 1)), any_disk);
            ASSERT_FALSE(checked.has_value());
            // Loop devices are no removable drives: without --any-disk that is said first.
            const std::string expected =
                !any_disk && name.starts_with("loop") ? NOT_REMOVABLE : refusal;
            EXPECT_EQ(checked.error().text, with_path(expected, "/dev/" + name));
        }
    }
    // Once the mount and the swap area are gone, the stacks are free to write.
    Machine free_machine;
    free_machine.disk(
        {"sdc", USB_PATH, "8:32", 60'063'744, "Kingston", "DataTraveler", "", "0", true});
    free_machine.partition("sdc", "sdc1", "8:33");
    free_machine.loop("loop1", "7:1", "/dev/sdc1");
    free_machine.loop("loop3", "7:3", "/var/tmp/drive.img");
    EXPECT_TRUE(check_block_device(free_machine.root(), "/dev/loop1", 7, 1, true).has_value());
    EXPECT_TRUE(check_block_device(free_machine.root(), "/dev/loop3", 7, 3, true).has_value());
    // A loop device over its partition still holds the stick.
    const Status stick = check_block_device(free_machine.root(), "/dev/sdc", 8, 32, false);
    ASSERT_FALSE(stick.has_value());
    EXPECT_EQ(
        stick.error().text,
        "/dev/sdc is in use: /dev/loop1 is built on it. Take that device down and try again.");
}

TEST(SystemDrives, NeverADrive) {
    for (const auto& [name, never] :
         std::vector<std::pair<std::string, bool>>{{"mmcblk0boot0", true},
                                                   {"mmcblk0boot1", true},
                                                   {"mmcblk12boot0", true},
                                                   {"mmcblk0rpmb", true},
                                                   {"zram0", true},
                                                   {"zram12", true},
                                                   {"ram0", true},
                                                   {"ram15", true},
                                                   {"mmcblk0", false},
                                                   {"mmcblk0p1", false},
                                                   {"mmcblkboot0", false},
                                                   {"mmcblk0boot", false},
                                                   {"zram", false},
                                                   {"ramdisk", false},
                                                   {"sda", false},
                                                   {"loop0", false},
                                                   {"mmcblk0boot0p1", false}}) {
        EXPECT_EQ(is_never_a_drive(name), never) << name;
    }
    // A phone-like board: root on the eMMC, whose boot areas are disks of their own in sysfs,
    // a card in its slot, compressed swap in memory and a RAM disk.
    Machine board;
    const std::string emmc = "platform/fe330000.mmc/mmc_host/mmc0/mmc0:0001";
    board.disk({"mmcblk0", emmc, "179:0", 61'071'360, "", "", "BJTD4R", "MMC"});
    board.partition("mmcblk0", "mmcblk0p1", "179:1");
    board.disk({"mmcblk0boot0", emmc, "179:32", 8192, "", "", "BJTD4R", "MMC"});
    board.disk({"mmcblk0boot1", emmc, "179:64", 8192, "", "", "BJTD4R", "MMC"});
    board.disk({"mmcblk0rpmb", emmc, "179:96", 8192, "", "", "BJTD4R", "MMC"});
    board.disk({"mmcblk1", SD_READER_PATH, "179:128", 62'333'952, "", "", "SL32G", "SD"});
    board.disk({"zram0", "virtual", "254:0", 8'388'608, "", "", "", "", false});
    board.disk({"ram0", "virtual", "1:0", 131'072, "", "", "", "", true});
    board.mount("179:1", "/", "/dev/mmcblk0p1");
    const std::string NOT_A_DRIVE =
        "{} is not a drive (a boot area, a RAM disk or swap in memory).";
    expect_machine(board, {"/dev/mmcblk1  31 GB  SL32G  SD"},
                   {{"mmcblk0boot0", false, NOT_A_DRIVE},
                    {"mmcblk0boot1", true, NOT_A_DRIVE},
                    {"mmcblk0rpmb", true, NOT_A_DRIVE},
                    {"zram0", true, NOT_A_DRIVE},
                    {"ram0", true, NOT_A_DRIVE},
                    {"mmcblk0", true, HOLDS_SYSTEM},
                    {"mmcblk1", false, ""}});
}

// A card's name and a stick's vendor and model come from the device: a line feed, a carriage
// return, an escape or a direction override in them is shown escaped, so that one drive is one
// line and no answer can be forged.
TEST(SystemDrives, LabelsFromTheDeviceAreEscaped) {
    Machine machine;
    machine.disk({"mmcblk0", SD_READER_PATH, "179:0", 62'333'952, "", "",
                  "SL32G\nErase it? [y/N] y\r\x1b[2J\u202e", "SD"});
    machine.disk(
        {"sdb", USB_PATH, "8:16", 31'266'816, "San\tDisk", "Cruzer\nBlade", "", "0", true});
    const std::vector<SystemDisk> disks = system_disks(machine.root());
    ASSERT_EQ(disks.size(), 2u);
    EXPECT_EQ(disks[0].label, "SL32G\\x0aErase it? [y/N] y\\x0d\\x1b[2J\\u202e");
    EXPECT_EQ(disks[1].label, "San\\x09Disk Cruzer\\x0aBlade");
    const ProgramRun list = run_program(machine, "list", "");
    EXPECT_EQ(list.out,
              "/dev/mmcblk0  31 GB  SL32G\\x0aErase it? [y/N] y\\x0d\\x1b[2J\\u202e  SD\n"
              "/dev/sdb  16 GB  San\\x09Disk Cruzer\\x0aBlade  USB\n");
}

}  // namespace
}  // namespace orvelo::linux_drive
