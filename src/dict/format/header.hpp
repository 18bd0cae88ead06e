// The CJYP file format. Little-endian throughout: "CJYP", version 1,
// entry_count u32, pool_size u32, then entry_count 12-byte entries
// {key_offset u32, key_length u16, value_offset u32, value_length u16} sorted
// bytewise by key, then the string pool.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/result.hpp"

namespace merrow::cjyp {

inline constexpr std::size_t kHeaderSize = 16;
inline constexpr std::size_t kEntrySize = 12;

inline std::uint32_t read_u32(const unsigned char* p) noexcept {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}

inline std::uint16_t read_u16(const unsigned char* p) noexcept {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

struct Header {
    std::uint64_t entry_count;
    std::uint64_t pool_size;
};

// Checks the magic, the version and that a file of `file_size` bytes holds
// the entries and the pool that the header announces. Entries themselves
// are checked when they are read.
Result<Header> parse_header(const unsigned char (&header)[kHeaderSize], std::size_t file_size);

}  // namespace merrow::cjyp
