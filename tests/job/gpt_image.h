// Builds small, well-formed GPT disk images for tests: a protective MBR, both headers and both
// entry arrays, with correct checksums, and a recognisable pattern in every data sector.
#pragma once

#include <cstring>
#include <vector>

#include "core/little_endian.h"
#include "job/crc32.h"

namespace orvelo::test {

struct Partition {
    u64 first_lba;
    u64 last_lba;
    u8 type_byte = 0xAF;  // the first byte of an otherwise fixed type GUID
};

// An image of `sectors` sectors with the given partitions (128-byte entries, 128 of them).
inline std::vector<u8> make_gpt_image(u64 sectors, const std::vector<Partition>& partitions) {
    std::vector<u8> image(sectors * 512);
    for (u64 i = 34; i + 33 < sectors; ++i) {  // the body: each sector tagged with its LBA
        write_u64_le(image.data() + i * 512, i);
        image[i * 512 + 8] = static_cast<u8>(i * 7);
    }
    // Protective MBR: one record of type 0xEE from LBA 1 over the rest of the image.
    u8* mbr = image.data();
    mbr[446 + 4] = 0xEE;
    write_u32_le(mbr + 446 + 8, 1);
    write_u32_le(mbr + 446 + 12, static_cast<u32>(sectors - 1));
    mbr[510] = 0x55;
    mbr[511] = 0xAA;

    std::vector<u8> entries(16384);
    for (std::size_t i = 0; i < partitions.size(); ++i) {
        u8* entry = entries.data() + i * 128;
        entry[0] = partitions[i].type_byte;
        entry[15] = 0x42;
        entry[16] = static_cast<u8>(i + 1);  // unique partition GUID
        write_u64_le(entry + 32, partitions[i].first_lba);
        write_u64_le(entry + 40, partitions[i].last_lba);
    }
    const u32 entries_crc = crc32(entries);
    std::memcpy(image.data() + 1024, entries.data(), entries.size());
    std::memcpy(image.data() + (sectors - 33) * 512, entries.data(), entries.size());

    const auto header = [&](u64 my_lba, u64 alternate_lba, u64 entry_lba) {
        u8* h = image.data() + my_lba * 512;
        std::memcpy(h, "EFI PART", 8);
        write_u32_le(h + 8, 0x00010000);
        write_u32_le(h + 12, 92);
        write_u64_le(h + 24, my_lba);
        write_u64_le(h + 32, alternate_lba);
        write_u64_le(h + 40, 34);
        write_u64_le(h + 48, sectors - 34);
        h[56] = 0x11;  // disk GUID
        h[71] = 0x99;
        write_u64_le(h + 72, entry_lba);
        write_u32_le(h + 80, 128);
        write_u32_le(h + 84, 128);
        write_u32_le(h + 88, entries_crc);
        write_u32_le(h + 16, crc32(std::span<const u8>(h, 92)));
    };
    header(1, sectors - 1, 2);
    header(sectors - 1, 1, sectors - 33);
    return image;
}

// Re-seals the primary header after a test changed one of its fields.
inline void reseal_primary_header(std::vector<u8>& image) {
    write_u32_le(image.data() + 512 + 16, 0);
    write_u32_le(image.data() + 512 + 16, crc32(std::span<const u8>(image.data() + 512, 92)));
}

// Re-computes the primary header's entry array checksum after a test changed an entry.
inline void reseal_entry_array(std::vector<u8>& image) {
    write_u32_le(image.data() + 512 + 88, crc32(std::span<const u8>(image.data() + 1024, 16384)));
    reseal_primary_header(image);
}

}  // namespace orvelo::test
