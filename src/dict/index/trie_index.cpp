#include "dict/index/trie_index.hpp"

#include <cstring>

namespace merrow {
namespace {

constexpr unsigned char kMagic[4] = {'C', 'J', 'Y', 'X'};
constexpr std::uint32_t kVersionWithoutCheckBytes = 1;
constexpr std::uint32_t kVersion = 2;
constexpr unsigned kBlockBits = 8;
constexpr std::uint64_t kUnitSize = 12;
constexpr std::uint32_t kNone = 0xFFFFFFFF;

inline std::uint32_t read_u32(const unsigned char* p) noexcept {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}

inline std::uint32_t read_u16(const unsigned char* p) noexcept {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8);
}

// Whether [offset, offset + size) lies within `length` bytes (64-bit sums of
// 32-bit fields cannot overflow).
inline bool fits(std::uint64_t offset, std::uint64_t size, std::uint64_t length) noexcept {
    return offset <= length && size <= length - offset;
}

// One well-formed UTF-8 character at the start of [p, p + n): its length,
// or 0 when the bytes there are ill-formed or cut short. No key holds an
// ill-formed character, so the walk ends there, as the table search does.
inline std::size_t decode(const unsigned char* p, std::size_t n, char32_t& cp) noexcept {
    const std::uint32_t b0 = p[0];
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    if (b0 < 0xC2) return 0;  // a continuation byte, or an overlong lead
    if (b0 < 0xE0) {
        if (n < 2 || (p[1] & 0xC0) != 0x80) return 0;
        cp = ((b0 & 0x1F) << 6) | (p[1] & 0x3F);
        return 2;
    }
    if (b0 < 0xF0) {
        if (n < 3 || (p[1] & 0xC0) != 0x80 || (p[2] & 0xC0) != 0x80) return 0;
        cp = ((b0 & 0x0F) << 12) | (std::uint32_t(p[1] & 0x3F) << 6) | (p[2] & 0x3F);
        if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
        return 3;
    }
    if (b0 < 0xF5) {
        if (n < 4 || (p[1] & 0xC0) != 0x80 || (p[2] & 0xC0) != 0x80 || (p[3] & 0xC0) != 0x80) return 0;
        cp = ((b0 & 0x07) << 18) | (std::uint32_t(p[1] & 0x3F) << 12) | (std::uint32_t(p[2] & 0x3F) << 6) |
             (p[3] & 0x3F);
        if (cp < 0x10000 || cp > 0x10FFFF) return 0;
        return 4;
    }
    return 0;
}

}  // namespace

TrieIndex::TrieIndex(const unsigned char* tail, std::size_t length, std::uint64_t entry_count,
                     std::uint64_t pool_size) noexcept {
    if (tail == nullptr || length < kShortestHeaderSize) return;
    unsigned char header[kHeaderSize] = {};
    std::memcpy(header, tail, length < kHeaderSize ? length : kHeaderSize);
    *this = TrieIndex(header, tail, length, entry_count, pool_size);
}

TrieIndex::TrieIndex(const unsigned char (&header)[kHeaderSize], const unsigned char* tail, std::size_t length,
                     std::uint64_t entry_count, std::uint64_t pool_size) noexcept {
    if (tail == nullptr || length < kShortestHeaderSize || std::memcmp(header, kMagic, 4) != 0) return;
    const std::uint32_t version = read_u32(header + 4);
    if (version != kVersion && version != kVersionWithoutCheckBytes) return;
    const bool has_check_bytes = version == kVersion;
    if (has_check_bytes && length < kHeaderSize) return;
    if (read_u32(header + 8) != entry_count || read_u32(header + 12) != pool_size) return;
    const std::uint32_t id_bytes = read_u32(header + 16);
    const std::uint64_t block_index_offset = read_u32(header + 20);
    const std::uint64_t block_index_count = read_u32(header + 24);
    const std::uint64_t blocks_offset = read_u32(header + 28);
    const std::uint64_t block_count = read_u32(header + 32);
    const std::uint64_t units_offset = read_u32(header + 36);
    const std::uint64_t unit_count = read_u32(header + 40);
    const std::uint64_t check_bytes_offset = has_check_bytes ? read_u32(header + 44) : 0;
    if (has_check_bytes && read_u32(header + 48) != unit_count) return;
    if (id_bytes != 2 && id_bytes != 4) return;
    // The root must exist, and no state may be numbered kNone, the check
    // value of the root and of unused units.
    if (unit_count == 0 || unit_count >= kNone) return;
    if (!fits(block_index_offset, 2 * block_index_count, length) ||
        !fits(blocks_offset, block_count * (std::uint64_t{1} << kBlockBits) * id_bytes, length) ||
        !fits(units_offset, unit_count * kUnitSize, length) ||
        (has_check_bytes && !fits(check_bytes_offset, unit_count, length))) {
        return;
    }
    block_index_ = tail + block_index_offset;
    block_index_count_ = static_cast<std::uint32_t>(block_index_count);
    blocks_ = tail + blocks_offset;
    units_ = tail + units_offset;
    check_bytes_ = has_check_bytes ? tail + check_bytes_offset : nullptr;
    entry_count_ = entry_count;
    block_count_ = static_cast<std::uint32_t>(block_count);
    unit_count_ = static_cast<std::uint32_t>(unit_count);
    id_bytes_ = id_bytes;
}

inline std::uint32_t TrieIndex::id_of(char32_t cp) const noexcept {
    if ((cp >> kBlockBits) >= block_index_count_) return 0;  // past the last block with a key's character
    const std::uint32_t block = read_u16(block_index_ + 2 * (cp >> kBlockBits));
    if (block >= block_count_) return 0;
    const std::uint64_t slot = (std::uint64_t{block} << kBlockBits) | (cp & ((1u << kBlockBits) - 1));
    return id_bytes_ == 2 ? read_u16(blocks_ + 2 * slot) : read_u32(blocks_ + 4 * slot);
}

inline std::optional<std::uint32_t> TrieIndex::step(std::uint32_t state, char32_t cp) const noexcept {
    const std::uint32_t id = id_of(cp);
    if (id == 0) return std::nullopt;  // a character of no key
    const auto base = static_cast<std::int32_t>(read_u32(units_ + kUnitSize * state));
    const std::int64_t next = std::int64_t{base} + id;
    if (next < 0 || next >= unit_count_) return std::nullopt;
    const auto to = static_cast<std::uint32_t>(next);
    if (check_bytes_ != nullptr && check_bytes_[to] != static_cast<unsigned char>(state)) return std::nullopt;
    if (read_u32(units_ + kUnitSize * to + 4) != state) return std::nullopt;
    return to;
}

inline std::optional<std::uint64_t> TrieIndex::entry_at(std::uint32_t state) const noexcept {
    const std::uint32_t entry = read_u32(units_ + kUnitSize * state + 8);
    if (entry >= entry_count_) return std::nullopt;  // kNone, or out of range in a corrupt file
    return entry;
}

std::optional<TrieIndex::Match> TrieIndex::longest_prefix(std::string_view text,
                                                          std::size_t max_chars) const noexcept {
    std::optional<Match> best;
    if (!valid()) return best;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::uint32_t state = 0;
    std::size_t pos = 0;
    for (std::size_t chars = 0; chars < max_chars && pos < text.size(); ++chars) {
        char32_t cp;
        const std::size_t size = decode(bytes + pos, text.size() - pos, cp);
        if (size == 0) break;
        const auto next = step(state, cp);
        if (!next) break;
        state = *next;
        pos += size;
        if (auto entry = entry_at(state)) best = Match{pos, *entry};
    }
    return best;
}

std::optional<std::uint32_t> TrieIndex::walk(std::uint32_t state, std::string_view bytes) const noexcept {
    if (!valid() || state >= unit_count_) return std::nullopt;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t pos = 0; pos < bytes.size();) {
        char32_t cp;
        const std::size_t size = decode(p + pos, bytes.size() - pos, cp);
        if (size == 0) return std::nullopt;
        const auto next = step(state, cp);
        if (!next) return std::nullopt;
        state = *next;
        pos += size;
    }
    return state;
}

std::optional<std::uint64_t> TrieIndex::find_from(std::uint32_t state, std::string_view rest) const noexcept {
    const auto end = walk(state, rest);
    if (!end) return std::nullopt;
    return entry_at(*end);
}

}  // namespace merrow
