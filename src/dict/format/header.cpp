#include "dict/format/header.hpp"

#include <cstring>
#include <string>

namespace merrow::cjyp {

Result<Header> parse_header(const unsigned char (&header)[kHeaderSize], std::size_t file_size) {
    if (std::memcmp(header, "CJYP", 4) != 0) {
        return Error{"bad magic: expected [67, 74, 89, 80], got [" + std::to_string(header[0]) + ", " +
                     std::to_string(header[1]) + ", " + std::to_string(header[2]) + ", " +
                     std::to_string(header[3]) + "]"};
    }
    std::uint32_t version = read_u32(header + 4);
    if (version != 1) {
        return Error{"unsupported version " + std::to_string(version) + " (expected 1)"};
    }
    Header h{read_u32(header + 8), read_u32(header + 12)};
    std::uint64_t required = kHeaderSize + kEntrySize * h.entry_count + h.pool_size;
    if (file_size < required) {
        return Error{"file too short: " + std::to_string(file_size) + " bytes (need " + std::to_string(required) +
                     " for " + std::to_string(h.entry_count) + " entries + pool)"};
    }
    return h;
}

}  // namespace merrow::cjyp
