// The message catalogue: every text the installer shows and every template it formats, each
// typed once. Templates are filled with format() (core/format.h); "\n\n" separates paragraphs.
#pragma once

#include <string_view>

namespace orvelo::msg {

using Text = std::string_view;

// ---- Failure texts (ErrorText, or pieces of one) ----
inline constexpr Text NOT_A_SERVER_ADDRESS = "{} is not a server address.";  // server URL
inline constexpr Text CANT_BE_READ = "{} can't be read.";                    // local image path
inline constexpr Text NOT_SIGNED = "The download isn't signed by Orvelo.";
inline constexpr Text NOT_INSTALLER = "The server's answer isn't an Orvelo installer.";
inline constexpr Text DAMAGED = "The download is damaged. Try again.";
inline constexpr Text LOCAL_NOT_INSTALLER =  // local image path
    "{} isn't an Orvelo installer image.";
inline constexpr Text LOCAL_DAMAGED =  // local image path
    "{} is damaged: its partition tables don't check out.";
inline constexpr Text TOO_SMALL = "This drive is too small for the installer.";
// drive label; bytes per sector
inline constexpr Text WRONG_SECTOR_SIZE =
    "{} uses {}-byte sectors; the installer needs a drive with 512-byte sectors.";
inline constexpr Text DRIVE_IN_USE =  // drive label
    "{} is in use by another program (File Explorer?). Close its windows and try again.";
inline constexpr Text WRITE_PROTECTED =  // drive label
    "{} is write-protected. Slide its lock switch and try again.";
inline constexpr Text DRIVE_NOT_OPENED = "Windows did not open {}: {}";  // label; system text
inline constexpr Text DRIVE_REPLACED =  // the confirmed drive's label
    "{} was unplugged or replaced. Pick the drive again.";
inline constexpr Text OUT_OF_MEMORY = "Out of memory.";
inline constexpr Text WRITING_FAILED = "Writing to {} failed: {}";  // label; inner text
// The failure of the drive's first write when the system refused it as access denied, which
// for an administrator is how Windows security refuses writes to disk sectors: the
// WRITING_FAILED text as it stands, then how to let the installer write.
inline constexpr Text WRITE_BLOCKED_BY_SECURITY =
    "{}\n\nWindows security may be blocking the installer from writing to drives: Controlled "
    "folder access, or an antivirus program. To allow it, open Windows Security, choose Virus & "
    "threat protection, Manage ransomware protection, Allow an app through Controlled folder "
    "access, and add Orvelo Installer; or allow it in your antivirus program. Then try again.";
inline constexpr Text READING_BACK_FAILED = "Reading {} back failed: {}";  // label; inner text
inline constexpr Text DRIVE_DID_NOT_KEEP =                                 // drive label
    "{} did not keep what was written to it. Try another drive.";
inline constexpr Text STOPPED = "Stopped.";
inline constexpr Text CANT_REACH_CHECK_CONNECTION =  // server host
    "Can't reach {} \u2014 check the internet connection";
inline constexpr Text CANT_REACH = "Can't reach {}";                       // server host
inline constexpr Text SERVER_ANSWERED = "The server answered {} for {}.";  // status; path
inline constexpr Text DOWNLOAD_BROKE_OFF = "The download broke off";
// The cause after DOWNLOAD_BROKE_OFF when a body of known size ends early without an error.
inline constexpr Text ENDED_EARLY = "the server sent {} of {} bytes";  // count held; size
inline constexpr Text SENT_MORE_THAN_EXPECTED = "The server sent more than expected.";
inline constexpr Text WINHTTP = "WinHTTP";
inline constexpr Text CONTEXT_AND_CAUSE = "{}: {}";      // context; last_error_text
inline constexpr Text SYSTEM_TEXT_AND_CODE = "{} ({})";  // system's text; error code
inline constexpr Text ERROR_CODE = "error {}";           // error code

// ---- The Linux front end's own texts ----
inline constexpr Text NOT_REMOVABLE =  // drive path
    "{} is not a removable drive. Use --any-disk to write it anyway.";
inline constexpr Text HOLDS_SYSTEM = "{} holds the running system.";  // drive path
inline constexpr Text IS_PARTITION =                                  // partition path
    "{} is a partition; give the whole drive (for example /dev/sdb).";
inline constexpr Text NOT_A_DRIVE =  // device path
    "{} is not a drive (a boot area, a RAM disk or swap in memory).";
inline constexpr Text NO_MEDIUM = "{} has no medium in it.";  // device path
// The drive is used by what sits on it or what it sits on; each names the device it found.
inline constexpr Text IN_USE_MOUNTED =  // drive path; device path; mount point
    "{} is in use: {} is mounted on {}. Unmount it and try again.";
inline constexpr Text IN_USE_SWAP =  // drive path; device path
    "{} is in use: {} is an active swap area. Turn it off (swapoff) and try again.";
inline constexpr Text IN_USE_HELD =  // drive path; device path
    "{} is in use: {} is built on it. Take that device down and try again.";
inline constexpr Text IN_USE_LOOP =  // drive file path; loop device path
    "{} is in use: {} is attached to it. Detach it (losetup -d) and try again.";
inline constexpr Text IN_USE_SHARED =  // drive path; loop device path
    "{} is in use: {} reads the same file. Detach it (losetup -d) and try again.";
inline constexpr Text IN_USE_LINUX =  // drive path or label
    "{} is in use by the system or another program. Close what uses it and try again.";
inline constexpr Text NOT_OPENED_LINUX = "{} could not be opened: {}";  // label; system text
// What the kernel says of the drive when it is claimed for the job, before the question.
inline constexpr Text IN_USE_ELSEWHERE =  // drive path; device path
    "{} is in use: the system or another program holds {}. Close what uses it and try again.";
inline constexpr Text BEING_WRITTEN =  // drive path
    "{} is being written by another job. Wait for it to end, then try again.";
inline constexpr Text NEEDS_ROOT = "{} needs root: run it with sudo.";  // drive path
inline constexpr Text READ_ONLY_LINUX =                                 // drive path
    "{} is read-only: the system does not let it be written.";
inline constexpr Text NO_WRITE_PERMISSION =  // drive file path
    "{} can't be written: you are not allowed to change it.";
inline constexpr Text IN_CACHE_FOLDER =  // drive file path
    "{} is in the installer's own cache folder. Give a file elsewhere.";
inline constexpr Text PATH_TOO_LONG = "{} is too long a path.";  // the path given
// A device beneath the drive that the kernel's answers do not lead to.
inline constexpr Text UNTRACEABLE =  // drive path; what could not be followed
    "{} sits on a device that can't be traced: {}. Take it apart and try again.";
inline constexpr Text TRACE_LOST_BACKING = "{} reads {}";  // loop device path; its file's name
inline constexpr Text TRACE_OVERLAY =                      // (no field)
    "it lies on an overlay file system, which hides the file that holds its bytes";
inline constexpr Text TRACE_TOO_DEEP = "more than {} devices are stacked on it";  // the bound
inline constexpr Text LINK_OF_OTHER_ACCOUNT =  // link path; its owner
    "{} is a link that belongs to {}. Give the drive's own path.";
inline constexpr Text ACCOUNT_NUMBER = "account {}";  // user id without a name
inline constexpr Text LABEL_AND_PATH = "{} ({})";     // a device's label; its path
inline constexpr Text NOT_A_REGULAR_FILE = "{} is not a regular file.";  // local image path
// drive label; device path; size_text
inline constexpr Text ERASE_DEVICE_TEXT =
    "Everything on \u201c{}\u201d ({}, {}) will be deleted and replaced with the Orvelo "
    "installer.\n\nMake sure it isn't a drive you still need.";
inline constexpr Text ERASE_FILE_TITLE = "Overwrite this file?";
inline constexpr Text ERASE_FILE_TEXT =  // file path; size_text
    "The file \u201c{}\u201d ({}) will be overwritten with the Orvelo installer.\n\nMake sure "
    "it isn't a file you still need.";
inline constexpr Text OVERWRITE_PROMPT = "Overwrite it? [y/N] ";
inline constexpr Text ERASE_PROMPT = "Erase it? [y/N] ";
// The progress line's rate and time left on a terminal.
inline constexpr Text RATE_AND_TIME_LEFT = "{} MB/s, {}:{} left";  // MB/s; minutes; seconds
inline constexpr Text DECIMAL_TWO_DIGITS = "{}{}";                 // tens; ones
inline constexpr Text ARGUMENT_NOT_UTF8 = "An argument is not valid UTF-8.";
inline constexpr Text DRIVE_LIST_LINE = "{}  {}  {}  {}";    // path; size_text; label; bus
inline constexpr Text NUMBERED_ITEM = "{}) {}";              // number; item
inline constexpr Text WHICH_DRIVE = "Which drive? [1-{}] ";  // count of drives
inline constexpr Text NO_DRIVE_PICKED = "No drive was picked.";

// ---- The inflate decoder's own failures; they never reach the user (an image that fails to
// decode is reported as DAMAGED) ----
inline constexpr Text INFLATE_ENDS_EARLY = "compressed data ends early";
inline constexpr Text INFLATE_INVALID_CODE = "invalid Huffman code";
inline constexpr Text INFLATE_LARGER_THAN_STATED = "member larger than its stated size";
inline constexpr Text INFLATE_DISTANCE_TOO_FAR = "back-reference before the start of the data";
inline constexpr Text INFLATE_OVERSUBSCRIBED = "over-subscribed Huffman code";
inline constexpr Text INFLATE_NO_END_OF_BLOCK = "no end-of-block code";
inline constexpr Text INFLATE_REPEAT_WITHOUT_LENGTH = "repeat with no previous length";
inline constexpr Text INFLATE_CODE_LENGTHS_OVERFLOW = "code lengths overflow";
inline constexpr Text INFLATE_BAD_COUNTS = "bad dynamic block counts";
inline constexpr Text INFLATE_INVALID_LENGTH_CODE = "invalid length code";
inline constexpr Text INFLATE_STORED_LENGTH_MISMATCH = "stored block length check failed";
inline constexpr Text INFLATE_INVALID_BLOCK_TYPE = "invalid deflate block type";

// ---- Status line ----
inline constexpr Text STATUS_STARTING = "Starting\u2026";
inline constexpr Text STATUS_GETTING_NEWEST = "Getting the newest Orvelo\u2026";
// megabytes received; megabytes expected; each made with MEGABYTES_ONE_DECIMAL
inline constexpr Text STATUS_DOWNLOADING = "Downloading Orvelo\u2026 {} of {} MB";
inline constexpr Text MEGABYTES_ONE_DECIMAL = "{}.{}";  // whole MB; first decimal digit
inline constexpr Text STATUS_PREPARING = "Preparing the drive\u2026";
inline constexpr Text STATUS_WRITING = "Writing the installer\u2026 {}%";  // percent
inline constexpr Text STATUS_CHECKING = "Checking the drive\u2026 {}%";    // percent
inline constexpr Text STATUS_READY = "The installer is ready. You can remove the drive.";
inline constexpr Text STATUS_NOT_MADE = "The installer wasn't made.";
inline constexpr Text STATUS_WILL_BE_ERASED = "Everything on the drive will be erased.";
inline constexpr Text STATUS_PLUG_IN = "Plug in a USB drive of 1 GB or more.";

// ---- Message boxes ----
inline constexpr Text ERASE_TITLE = "Erase this drive?";
inline constexpr Text ERASE_TEXT =  // drive label; size_text
    "Everything on \u201c{}\u201d ({}) will be deleted and replaced with the Orvelo installer."
    "\n\nMake sure it isn't a drive you still need.";
inline constexpr Text STOP_TITLE = "Stop making the installer?";
inline constexpr Text STOP_TEXT = "The drive won't be usable until you make the installer again.";
inline constexpr Text READY_TITLE = "The Orvelo installer is ready";
inline constexpr Text READY_TEXT =  // drive label; version suffix (empty for a local image)
    "\u201c{}\u201d now installs Orvelo{}.\n\nPlug it into the PC, switch the PC on and pick the "
    "USB drive in its boot menu (usually F12, F11, F9 or Esc while it starts). Secure Boot must "
    "be off.";
inline constexpr Text FAILED_TITLE = "The installer couldn't be made";
inline constexpr Text VERSION_SUFFIX = " (it fetches the newest version, {} today)";  // version
inline constexpr Text LOCAL_IMAGE_VERSION = "(local image)";

// ---- Window and drive list ----
inline constexpr Text WINDOW_TITLE = "Orvelo Installer";
inline constexpr Text WINDOW_CLASS = "OrveloInstaller";
inline constexpr Text HEADING = "Create an Orvelo installer";
inline constexpr Text EXPLANATION =
    "Turns a USB drive into the Orvelo installer. Start any PC from it to install the newest "
    "Orvelo: it connects to Wi-Fi and downloads everything while it installs.";
// The drive list's caption, and the label of a drive whose vendor and product are both empty.
inline constexpr Text USB_DRIVE = "USB drive";
inline constexpr Text CREATE_BUTTON = "Create Installer";
inline constexpr Text QUIT_BUTTON = "Quit";
inline constexpr Text STOP_BUTTON = "Stop";
inline constexpr Text FONT_FACE = "Segoe UI";
inline constexpr Text DRIVE_LIST_ITEM = "{} \u2014 {} (disk {})";  // label; size_text; disk
inline constexpr Text VENDOR_PRODUCT_LABEL = "{} {}";              // vendor; product
inline constexpr Text INSERT_DRIVE = "Insert a USB drive\u2026";
// What Windows shows beside the window when the user ends the session during a job: short,
// since the list is read in a hurry.
inline constexpr Text SHUTDOWN_BLOCK_REASON =
    "Making the Orvelo installer. Stopping now leaves the drive unusable.";

// ---- Drive sizes (size_text) ----
inline constexpr Text SIZE_MB = "{} MB";
inline constexpr Text SIZE_GB_ONE_DECIMAL = "{}.{} GB";
inline constexpr Text SIZE_GB = "{} GB";

// ---- Templates never shown as messages ----
inline constexpr Text HTTPS_URL = "https://{}";      // default server host
inline constexpr Text SERVER_FILE_PATH = "/{}";      // manifest's file path
inline constexpr Text CACHE_FILE_NAME = "{}.img.z";  // the compressed file's digest in hex
inline constexpr Text PARTIAL_FILE_NAME = "{}.img.z.partial";          // the same digest
inline constexpr Text RANGE_FROM_HEADER = "Range: bytes={}-";          // the count of bytes held
inline constexpr Text VOLUME_PATH = "\\\\.\\{}:";                      // drive letter
inline constexpr Text PHYSICAL_DRIVE_PATH = "\\\\.\\PhysicalDrive{}";  // disk number

}  // namespace orvelo::msg
