// The scripted fake of the OS seam, built only into native tests. It holds a small model of the
// system that a test sets up (files, disks, volumes, the error texts), answers the seam's calls
// from it, can make any call fail, and records every call in order so that tests can assert what
// was done and in which sequence.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "os/file.h"
#include "os/http.h"
#include "os/system.h"

namespace orvelo::fake {

// The geometry a disk reports (DISK_GEOMETRY_EX): its sector size and whole size.
struct FakeGeometry {
    std::uint32_t bytes_per_sector = 512;
    std::uint64_t disk_size = 0;
};

// A disk: its bytes, and how it behaves. Transfers on a disk opened without buffering must be
// sector-aligned in offset and length and use page-aligned memory, as on Windows; a transfer
// that breaks the rules fails with ERROR_INVALID_PARAMETER.
struct FakeDisk {
    std::vector<std::uint8_t> bytes;
    bool write_protected = false;    // IOCTL_DISK_IS_WRITABLE fails
    bool open_fails = false;         // CreateFileW fails with `open_error`
    bool access_open_fails = false;  // only an open asking for data access fails so
    std::uint32_t open_error = 5;
    // The answers to drive discovery's queries. Without a descriptor, IOCTL_STORAGE_QUERY_PROPERTY
    // fails; without a geometry, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX fails. The descriptor is the raw
    // answer (see storage_descriptor()), copied into the caller's buffer as far as it fits.
    std::optional<std::vector<std::uint8_t>> descriptor = {};
    std::optional<FakeGeometry> geometry = {};
    // The answer to IOCTL_STORAGE_CHECK_VERIFY2; without one the request fails.
    std::optional<std::uint32_t> media_change_count = {};
};

// A STORAGE_DEVICE_DESCRIPTOR of 1024 bytes with the bus type and the vendor, product and
// serial number texts (each zero-terminated after the fixed fields; an empty text gets offset 0,
// as Windows gives it).
std::vector<std::uint8_t> storage_descriptor(std::uint32_t bus_type, const std::string& vendor,
                                             const std::string& product,
                                             const std::string& serial_number = "");

// A mounted volume: the disks of its extents, in order, and how it behaves.
struct FakeVolume {
    std::u16string name;  // as the enumeration gives it, with its trailing backslash
    std::vector<std::uint32_t> extent_disks;
    bool open_fails = false;
    bool extents_fail = false;
    bool lock_fails = false;
    int lock_refusals = 0;          // FSCTL_LOCK_VOLUME refused this many times, then granted
    bool write_open_fails = false;  // opens for reading and writing fail with `write_open_error`
    std::uint32_t write_open_error = 32;  // ERROR_SHARING_VIOLATION: another program holds it
    bool locked = false;                  // held by an open handle
    bool dismounted = false;
};

// What an injected failure does to the call it hits.
enum class Effect {
    Fail,     // the call fails with `error` as the last error code
    Short,    // a read or write succeeds but moves one sector less than asked
    Corrupt,  // a read succeeds but its first byte comes back inverted
};

struct Injection {
    std::string call;    // the seam function's name, e.g. "write_file"
    int occurrence = 1;  // which of its calls from now on, counting from 1
    Effect effect = Effect::Fail;
    std::uint32_t error = 31;  // ERROR_GEN_FAILURE
};

// What the fake HTTP server answers for one path: a status, then the body in the pieces given
// (each read gives at most one piece). `broken_after_pieces` makes the read after that many
// pieces fail, as a connection that breaks off. `content_range` is the answer's Content-Range
// value; empty: the answer has none.
struct FakeAnswer {
    std::uint32_t status = 200;
    std::vector<std::vector<std::uint8_t>> pieces = {};  // none may be empty
    std::optional<std::size_t> broken_after_pieces = {};
    std::string content_range = {};
};

struct FakeOs {
    // Process and errors.
    std::uint32_t last_error = 0;
    std::map<std::uint32_t, std::u16string> system_messages;        // code -> the system's text
    std::map<std::uint32_t, std::u16string> http_library_messages;  // code -> winhttp.dll's text
    std::uint64_t slept_ms = 0;  // the sum of every sleep_ms, which returns at once
    std::u16string command_line;
    std::vector<os::WindowHandle> posted_job_ends;  // windows that got the end-of-job message
    // Called as the end-of-job message is posted, without the fake's lock: what it sees is what
    // a window would see on receiving the message.
    std::function<void(os::WindowHandle)> on_post_job_end;

    // Files by path, disks by their "\\.\PhysicalDriveN" path, volumes in enumeration order.
    std::map<std::u16string, std::vector<std::uint8_t>> files;
    std::u16string temp_folder = u"C:\\Users\\ada\\AppData\\Local\\Temp\\";
    std::u16string windows_directory = u"C:\\Windows";  // empty: the query fails
    std::set<std::u16string> directories;
    // Reparse points (symbolic links, junctions) by path, with the path each points to. An
    // open follows them, in the middle of a path always and at its end unless it asks for the
    // reparse point itself; then the handle has the link open, with ATTRIBUTE_REPARSE_POINT.
    std::map<std::u16string, std::u16string> reparse_points;
    // Final paths that the system reports elsewhere than the path reached (a race, a hard link):
    // a reached path that starts with a key is reported with the key replaced by its value.
    std::map<std::u16string, std::u16string> final_path_overrides;
    std::map<std::u16string, FakeDisk> disks;
    std::vector<FakeVolume> volumes;
    std::vector<Injection> injections;
    // Called before each seam call that moves data, with its name: a test can act "during" a
    // job, for example request a stop once a given piece has been written.
    std::function<void(const std::string&)> on_call;

    // The HTTP server: the host it answers as, and its answers by path. A host other than
    // `http_host` cannot be reached; a path without an answer gets 404.
    std::string http_host = "updates.test";
    std::map<std::string, FakeAnswer> http_answers;
    // Answers for the next requests of a path, one each in order, taken when the request is
    // sent; once a path's list is used up, `http_answers` answers it.
    std::map<std::string, std::vector<FakeAnswer>> http_next_answers;
    struct HttpOpen {
        enum class Kind { Session, Connection, Request } kind;
        std::string host = {};
        std::string path = {};
        std::size_t next_piece = 0;
        std::size_t offset_in_piece = 0;
        bool answered = false;
        std::optional<FakeAnswer> answer = {};  // taken from `http_next_answers`
    };
    std::map<std::uintptr_t, HttpOpen> open_http;

    // Handles and page allocations the code holds now.
    struct Open {
        enum class Kind { File, Disk, Volume, Find, Directory, Link } kind;
        std::u16string path;  // as the caller named it (the call log's name)
        std::uint32_t flags = 0;
        std::uint64_t position = 0;
        std::size_t next_volume = 0;  // for an enumeration
        std::u16string reached = {};  // the path reached through reparse points
        std::uint32_t access = 0;     // as asked of create_file
    };
    std::map<std::uintptr_t, Open> open_handles;
    std::uintptr_t next_handle = 100;
    std::set<void*> live_pages;
    std::uint64_t largest_pages_bytes = 0;

    // Every seam call, in order, as "name(arguments)".
    std::vector<std::string> calls;
    std::recursive_mutex mutex;  // the job's thread and the test's thread both call in
};

// The one fake system of the test process.
FakeOs& fake_os();

// Back to an empty model and an empty call log. Pages still held are released.
void reset_fake_os();

// A copy of the call log, taken under the lock.
std::vector<std::string> fake_calls();

// The calls of the log whose names start with one of `prefixes`.
std::vector<std::string> fake_calls_named(std::initializer_list<std::string> prefixes);

}  // namespace orvelo::fake
