#include "dict/lookup/mapped_dict.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "dict/format/header.hpp"
#include "text/utf8.hpp"

namespace merrow {
namespace {

using cjyp::kEntrySize;
using cjyp::kHeaderSize;
using cjyp::read_u16;
using cjyp::read_u32;

// Bytewise comparison of short strings: keys and text pieces are a few bytes,
// where a call to memcmp costs more than the loop.
inline int compare_bytes(const char* a, const char* b, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

// Bytewise order of two whole strings, the shorter first on a tie.
inline int compare_rest(std::string_view a, std::string_view b) noexcept {
    std::size_t common = a.size() < b.size() ? a.size() : b.size();
    int cmp = compare_bytes(a.data(), b.data(), common);
    if (cmp != 0) return cmp;
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

Error os_error(int code) {
    return Error{std::string(std::strerror(code)) + " (os error " + std::to_string(code) + ")"};
}

// Reads `size` bytes at `offset`; false on any error or short file.
bool read_fully(int fd, unsigned char* out, std::size_t size, std::uint64_t offset) {
    std::size_t got = 0;
    while (got < size) {
        ssize_t n = pread(fd, out + got, size - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

// Closes the descriptor on every path out of open(); the mapping outlives it.
struct FileGuard {
    int fd;
    ~FileGuard() { ::close(fd); }
};

}  // namespace

Result<MappedDict> MappedDict::open(const std::string& path) {
    // O_NONBLOCK: a named pipe in place of a dictionary file must not block
    // until a writer appears; it opens at once, has size 0 and is refused as
    // too short. Regular files ignore the flag.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return os_error(errno);
    FileGuard file{fd};
    struct stat st {};
    if (fstat(fd, &st) != 0) return os_error(errno);
    if (S_ISDIR(st.st_mode)) return os_error(EISDIR);
    std::size_t len = static_cast<std::size_t>(st.st_size);

    // The header is read with pread rather than through the mapping, so that
    // opening touches no mapped page: resident memory grows only with lookups.
    unsigned char header[kHeaderSize];
    if (len < kHeaderSize) {
        return Error{"file too short: " + std::to_string(len) + " bytes (need at least 16)"};
    }
    std::size_t got = 0;
    while (got < kHeaderSize) {
        ssize_t n = pread(fd, header + got, kHeaderSize - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return os_error(errno);
        if (n == 0) return Error{"file too short: " + std::to_string(got) + " bytes (need at least 16)"};
        got += static_cast<std::size_t>(n);
    }
    auto parsed = cjyp::parse_header(header, len);
    if (!parsed) return parsed.error();
    const std::uint64_t count = parsed.value().entry_count, pool_size = parsed.value().pool_size;
    // The trailer's header too is read here, not through the mapping; a
    // trailer that cannot be read is no index, not an error.
    const std::uint64_t tail_start = kHeaderSize + kEntrySize * count + pool_size;
    unsigned char trailer[TrieIndex::kHeaderSize] = {};
    const std::uint64_t trailer_header = std::min<std::uint64_t>(len - tail_start, TrieIndex::kHeaderSize);
    const bool has_trailer = trailer_header >= TrieIndex::kShortestHeaderSize &&
                             read_fully(fd, trailer, static_cast<std::size_t>(trailer_header), tail_start);
    void* address = mmap(nullptr, len, PROT_READ, MAP_PRIVATE, fd, 0);
    if (address == MAP_FAILED) return os_error(errno);
    // Lookups are binary searches or trie walks: reading ahead is waste.
    madvise(address, len, MADV_RANDOM);
    TrieIndex index;
    if (has_trailer) {
        index = TrieIndex(trailer, static_cast<const unsigned char*>(address) + tail_start, len - tail_start, count,
                          pool_size);
    }
    return MappedDict(address, len, count, pool_size, index);
}

MappedDict::MappedDict(void* mapping, std::size_t length, std::uint64_t entry_count, std::uint64_t pool_size,
                       TrieIndex index) noexcept
    : mapping_(mapping), length_(length), entry_count_(entry_count), pool_size_(pool_size), index_(index) {
    const auto* bytes = static_cast<const unsigned char*>(mapping);
    entries_ = bytes + kHeaderSize;
    pool_ = entries_ + kEntrySize * entry_count;
}

MappedDict::MappedDict(MappedDict&& other) noexcept
    : mapping_(other.mapping_),
      length_(other.length_),
      entries_(other.entries_),
      pool_(other.pool_),
      entry_count_(other.entry_count_),
      pool_size_(other.pool_size_),
      index_(other.index_) {
    other.mapping_ = nullptr;
    other.length_ = 0;
    other.entry_count_ = 0;
    other.index_ = TrieIndex();
}

MappedDict& MappedDict::operator=(MappedDict&& other) noexcept {
    if (this != &other) {
        if (mapping_ != nullptr) munmap(mapping_, length_);
        mapping_ = other.mapping_;
        length_ = other.length_;
        entries_ = other.entries_;
        pool_ = other.pool_;
        entry_count_ = other.entry_count_;
        pool_size_ = other.pool_size_;
        index_ = other.index_;
        other.mapping_ = nullptr;
        other.length_ = 0;
        other.entry_count_ = 0;
        other.index_ = TrieIndex();
    }
    return *this;
}

MappedDict::~MappedDict() {
    if (mapping_ != nullptr) munmap(mapping_, length_);
}

inline std::optional<std::string_view> MappedDict::key_at(std::uint64_t i) const noexcept {
    const unsigned char* e = entries_ + kEntrySize * i;
    std::uint64_t offset = read_u32(e);
    std::uint64_t length = read_u16(e + 4);
    if (offset + length > pool_size_) return std::nullopt;
    return std::string_view(reinterpret_cast<const char*>(pool_ + offset), length);
}

std::optional<std::string_view> MappedDict::key_of(std::uint64_t index) const noexcept { return key_at(index); }

inline bool MappedDict::key_is(std::uint64_t i, std::string_view bytes) const noexcept {
    const unsigned char* e = entries_ + kEntrySize * i;
    const std::uint64_t offset = read_u32(e), length = read_u16(e + 4);
    return length == bytes.size() && offset + length <= pool_size_ &&
           compare_bytes(reinterpret_cast<const char*>(pool_ + offset), bytes.data(), length) == 0;
}

std::optional<std::string_view> MappedDict::value_at(std::uint64_t i) const noexcept {
    const unsigned char* e = entries_ + kEntrySize * i;
    std::uint64_t offset = read_u32(e + 6);
    std::uint64_t length = read_u16(e + 10);
    if (offset + length > pool_size_) return std::nullopt;
    std::string_view value(reinterpret_cast<const char*>(pool_ + offset), length);
    if (!utf8::is_valid(value)) return std::nullopt;
    return value;
}

std::optional<std::uint64_t> MappedDict::bisect(std::string_view key) const noexcept {
    std::uint64_t lo = 0, hi = entry_count_;
    while (lo < hi) {
        std::uint64_t mid = lo + (hi - lo) / 2;
        // An entry whose key lies outside the pool sorts as the empty key and
        // never matches.
        auto entry_key = key_at(mid);
        int cmp = entry_key ? compare_rest(*entry_key, key) : -1;
        if (cmp > 0) hi = mid;
        else if (cmp < 0) lo = mid + 1;
        else return mid;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> MappedDict::find(std::string_view key, PrefixRanges* ranges) const noexcept {
    if (index_.valid()) {
        const auto entry = index_.find(key);
        if (!entry) return std::nullopt;
        if (key_is(*entry, key)) return entry;
    }
    return search(key, ranges);
}

std::optional<std::uint64_t> MappedDict::find_after(std::uint32_t state, std::string_view key,
                                                    std::size_t prefix_bytes) const noexcept {
    if (prefix_bytes > key.size()) return std::nullopt;
    const auto entry = index_.find_from(state, key.substr(prefix_bytes));
    if (!entry) return std::nullopt;
    if (key_is(*entry, key)) return entry;
    return search(key, nullptr);
}

std::optional<std::uint64_t> MappedDict::search(std::string_view key, PrefixRanges* ranges) const noexcept {
    const std::size_t from = key.empty() ? 0 : utf8::char_length(key, 0);
    // A one-character key is searched for once per conversion at most (its
    // token's reading is remembered), so its range is not worth remembering.
    if (ranges == nullptr || from == key.size() || entry_count_ == 0) return bisect(key);
    std::uint64_t lo = 0, hi = entry_count_, prefix = 0;
    narrow_memoised(lo, hi, 0, Piece::at(key, 0), prefix, ranges);
    // The keys of [lo, hi) all start with the key's first character.
    std::string_view rest = key.substr(from);
    while (lo < hi) {
        std::uint64_t mid = lo + (hi - lo) / 2;
        auto entry_key = key_at(mid);
        // In a well-formed table every key here is at least `from` bytes
        // long; a short one (a corrupt file) sorts first, as in narrow().
        int cmp = entry_key && entry_key->size() >= from ? compare_rest(entry_key->substr(from), rest) : -1;
        if (cmp > 0) hi = mid;
        else if (cmp < 0) lo = mid + 1;
        else return mid;
    }
    return std::nullopt;
}

std::optional<std::string_view> MappedDict::get(std::string_view key, PrefixRanges* ranges) const noexcept {
    auto index = find(key, ranges);
    if (!index) return std::nullopt;
    return value_at(*index);
}

// Up to four bytes, left-aligned in an integer (zeros after them), so that
// comparing two packs compares the bytes in order.
inline std::uint32_t pack_bytes(const unsigned char* p, std::size_t n) noexcept {
    std::uint32_t packed = 0;
    for (std::size_t i = 0; i < n; ++i) packed |= std::uint32_t(p[i]) << (24 - 8 * i);
    return packed;
}

MappedDict::Piece MappedDict::Piece::at(std::string_view text, std::size_t pos) noexcept {
    const std::size_t size = utf8::char_length(text, pos);
    return Piece{pack_bytes(reinterpret_cast<const unsigned char*>(text.data()) + pos, size),
                 static_cast<std::uint32_t>(size)};
}

// Orders entry i against `piece` by the key bytes [from, from + piece.size),
// for an entry whose key is known to start with the same `from` bytes as the
// text: a key that ends early sorts first, as does a key outside the pool.
inline int MappedDict::compare_tail(std::uint64_t i, std::size_t from, Piece piece) const noexcept {
    const unsigned char* e = entries_ + kEntrySize * i;
    const std::uint64_t offset = read_u32(e), length = read_u16(e + 4);
    if (offset + length > pool_size_ || length < from) return -1;
    const std::size_t n = length - from < piece.size ? length - from : piece.size;
    const unsigned char* bytes = pool_ + offset + from;
    std::uint32_t tail;
    if (offset + from + 4 <= pool_size_) {  // one load, the bytes past n masked off
        std::memcpy(&tail, bytes, 4);
        tail = __builtin_bswap32(tail);
        if (n < 4) tail &= ~(0xFFFFFFFFu >> (8 * n));
    } else {
        tail = pack_bytes(bytes, n);
    }
    if (tail != piece.packed) return tail < piece.packed ? -1 : 1;
    return n < piece.size ? -1 : 0;
}

void MappedDict::narrow(std::uint64_t& lo, std::uint64_t& hi, std::size_t from, Piece piece) const noexcept {
    // Bisect until a key that continues with the piece turns up; the range's
    // two ends then lie on either side of it, each found by bisecting the
    // part of the interval left on its side. When none does, the range is
    // empty where the bisection ends.
    std::uint64_t a = lo, b = hi;
    while (a < b) {
        const std::uint64_t mid = a + (b - a) / 2;
        const int cmp = compare_tail(mid, from, piece);
        if (cmp < 0) {
            a = mid + 1;
        } else if (cmp > 0) {
            b = mid;
        } else {
            std::uint64_t first = a, last = mid;
            while (first < last) {
                const std::uint64_t m = first + (last - first) / 2;
                if (compare_tail(m, from, piece) < 0) first = m + 1;
                else last = m;
            }
            std::uint64_t after = mid + 1, end = b;
            while (after < end) {
                const std::uint64_t m = after + (end - after) / 2;
                if (compare_tail(m, from, piece) <= 0) after = m + 1;
                else end = m;
            }
            lo = first;
            hi = after;
            return;
        }
    }
    lo = hi = a;
}

void MappedDict::narrow_memoised(std::uint64_t& lo, std::uint64_t& hi, std::size_t from, Piece piece,
                                 std::uint64_t& prefix, PrefixRanges* ranges) const noexcept {
    const std::size_t end = from + piece.size;
    if (ranges == nullptr || end > 8) {
        narrow(lo, hi, from, piece);
        return;
    }
    prefix = (prefix << (8 * piece.size)) | (piece.packed >> (32 - 8 * piece.size));
    auto* slot = ranges->lookup(this, prefix, static_cast<std::uint32_t>(end));
    if (slot->table == this && slot->length == end && slot->bytes == prefix &&
        slot->generation == ranges->generation_) {
        lo = slot->lo;
        hi = slot->hi;
        return;
    }
    narrow(lo, hi, from, piece);
    *slot = {this, prefix, static_cast<std::uint32_t>(end), static_cast<std::uint32_t>(lo),
             static_cast<std::uint32_t>(hi), ranges->generation_};
}

std::optional<MappedDict::PrefixMatch> MappedDict::longest_prefix(std::string_view text, std::size_t max_chars,
                                                                  PrefixRanges* ranges) const noexcept {
    if (index_.valid()) {
        const auto match = index_.longest_prefix(text, max_chars);
        if (!match) return std::nullopt;
        if (key_is(match->entry, text.substr(0, match->length))) return PrefixMatch{match->length, match->entry};
    }
    return search_prefix(text, max_chars, ranges);
}

std::optional<MappedDict::PrefixMatch> MappedDict::search_prefix(std::string_view text, std::size_t max_chars,
                                                                 PrefixRanges* ranges) const noexcept {
    // Keys are sorted bytewise, so the keys that start with a given prefix of
    // the text form one contiguous range. Each character narrows that range
    // with two searches inside it; when the first key of the range is the
    // prefix itself, the prefix is a key. An empty range ends the search.
    // The first two characters' ranges go through the caller's memo.
    std::optional<PrefixMatch> best;
    if (max_chars == 0 || text.empty() || entry_count_ == 0) return best;
    std::uint64_t lo = 0, hi = entry_count_;
    std::uint64_t prefix = 0;  // the bytes matched so far, packed, for the memo
    std::size_t pos = 0;
    for (std::size_t chars = 0;; ++chars) {
        const Piece piece = Piece::at(text, pos);
        if (chars < 2) narrow_memoised(lo, hi, pos, piece, prefix, ranges);
        else narrow(lo, hi, pos, piece);
        if (lo == hi) break;
        pos += piece.size;
        // The range's first key is the prefix itself when it is that long.
        if (read_u16(entries_ + kEntrySize * lo + 4) == pos && key_at(lo)) best = PrefixMatch{pos, lo};
        if (chars + 1 == max_chars || pos == text.size()) break;
    }
    return best;
}

std::optional<std::string_view> MappedDict::get_hinted(std::string_view key, std::uint64_t hint,
                                                       PrefixRanges* ranges) const noexcept {
    if (hint < entry_count_) {
        auto k = key_at(hint);
        if (k && *k == key) return value_at(hint);
    }
    return get(key, ranges);
}

}  // namespace merrow
