// MappedDict::open, get and longest_prefix on arbitrary file bytes.
//
// The input is written to a memory file and opened through its /proc path.
// Header failures must carry the documented messages; on an opened file every
// get() must agree with a straightforward binary search over the input bytes
// (entries whose key or value lies outside the pool, or whose value is not
// UTF-8, never match), and longest_prefix must stay within the text and, on a
// well-sorted table, agree with trying every prefix longest first. When the
// bytes after the pool hold a trailer that TrieIndex accepts, the file must
// open indexed, and its searches (which then walk whatever the trailer holds)
// may miss, but every entry they report has the key searched for (for
// longest_prefix on a well-sorted table: the search it falls back to relies
// on the order), and get() returns that entry's value.
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "dict/index/trie_index.hpp"
#include "dict/lookup/mapped_dict.hpp"
#include "fuzz_support.hpp"

using namespace merrow;

namespace {

std::uint32_t u32(const std::uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24; }
std::uint16_t u16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

// The table as the input bytes describe it, read without any mapping.
struct Reference {
    const std::uint8_t* entries;
    const std::uint8_t* pool;
    std::uint64_t count;
    std::uint64_t pool_size;

    std::optional<std::string_view> field(std::uint64_t i, int at) const {
        const std::uint8_t* e = entries + 12 * i + at;
        std::uint64_t offset = u32(e), length = u16(e + 4);
        if (offset + length > pool_size) return std::nullopt;
        return std::string_view(reinterpret_cast<const char*>(pool) + offset, length);
    }
    std::optional<std::string_view> key(std::uint64_t i) const { return field(i, 0); }

    std::optional<std::uint64_t> find(std::string_view wanted) const {
        std::uint64_t lo = 0, hi = count;
        while (lo < hi) {
            std::uint64_t mid = lo + (hi - lo) / 2;
            auto k = key(mid);
            int cmp = !k ? -1 : k->compare(wanted);  // an unreadable key sorts below everything
            if (cmp > 0) hi = mid;
            else if (cmp < 0) lo = mid + 1;
            else return mid;
        }
        return std::nullopt;
    }

    std::optional<std::string_view> get(std::string_view wanted) const {
        auto i = find(wanted);
        if (!i) return std::nullopt;
        auto value = field(*i, 6);
        if (!value || !utf8::is_valid(*value)) return std::nullopt;
        return value;
    }

    bool strictly_sorted() const {
        for (std::uint64_t i = 0; i < count; ++i) {
            auto k = key(i);
            if (!k || (i > 0 && !(*key(i - 1) < *k))) return false;
        }
        return true;
    }
};

std::string expected_error(const std::uint8_t* data, std::size_t size) {
    auto n = [](std::uint64_t v) { return std::to_string(v); };
    if (size < 16) return "file too short: " + n(size) + " bytes (need at least 16)";
    if (std::memcmp(data, "CJYP", 4) != 0) {
        return "bad magic: expected [67, 74, 89, 80], got [" + n(data[0]) + ", " + n(data[1]) + ", " +
               n(data[2]) + ", " + n(data[3]) + "]";
    }
    if (u32(data + 4) != 1) return "unsupported version " + n(u32(data + 4)) + " (expected 1)";
    std::uint64_t count = u32(data + 8), required = 16 + 12 * count + u32(data + 12);
    if (size < required) {
        return "file too short: " + n(size) + " bytes (need " + n(required) + " for " + n(count) + " entries + pool)";
    }
    return {};
}

int memory_file() {
    static int fd = memfd_create("fuzz-cjyp", MFD_CLOEXEC);
    if (fd < 0) fuzz::fail("memfd_create failed");
    return fd;
}

// The ends of the first `max_chars` characters of `text`, stepping as the
// searches do (by each lead byte's sequence length, so ill-formed bytes
// count as the searches count them).
std::vector<std::size_t> char_ends(std::string_view text, std::size_t max_chars) {
    std::vector<std::size_t> ends;
    for (std::size_t pos = 0; ends.size() < max_chars && pos < text.size();) {
        pos += utf8::char_length(text, pos);
        ends.push_back(pos);
    }
    return ends;
}

bool ends_within(std::string_view text, std::size_t max_chars, std::size_t length) {
    for (std::size_t e : char_ends(text, max_chars)) {
        if (e == length) return true;
    }
    return false;
}

void check_prefix(const MappedDict& dict, const Reference& ref, bool sorted, std::string_view text) {
    for (std::size_t max_chars : {std::size_t{1}, std::size_t{3}, std::size_t{10}}) {
        auto match = dict.longest_prefix(text, max_chars);
        auto got = match ? std::optional<std::size_t>(match->length) : std::nullopt;
        const std::vector<std::size_t> ends = char_ends(text, max_chars);
        if (got) {
            fuzz::require(ends_within(text, max_chars, *got),
                          "prefix does not end on a character boundary within the limit");
        }
        if (!sorted) continue;
        std::optional<std::size_t> want;
        for (auto it = ends.rbegin(); it != ends.rend() && !want; ++it) {
            if (ref.find(text.substr(0, *it))) want = *it;
        }
        fuzz::require(got == want, "longest_prefix differs from the prefix-by-prefix search", text);
    }
}

// The searches of a file with an accepted trailer: a reported entry holds
// the text searched for, whatever the trailer's arrays hold.
void check_indexed(const MappedDict& dict, const Reference& ref, bool sorted, std::string_view text) {
    auto entry = dict.find(text);
    if (entry) fuzz::require(*entry < ref.count && ref.key(*entry) == text, "find() reports another key", text);
    auto got = dict.get(text);
    std::optional<std::string_view> want;
    if (entry) {
        want = ref.field(*entry, 6);
        if (want && !utf8::is_valid(*want)) want.reset();
    }
    fuzz::require(got == want, "get() differs from the value of find()'s entry", text);
    for (std::size_t max_chars : {std::size_t{1}, std::size_t{3}, std::size_t{10}}) {
        auto match = dict.longest_prefix(text, max_chars);
        if (!match) continue;
        fuzz::require(match->length <= text.size() && match->entry < ref.count,
                      "longest_prefix() reports a match past the text or the table", text);
        fuzz::require(!sorted || ref.key(match->entry) == text.substr(0, match->length),
                      "longest_prefix() reports an entry that does not hold the prefix", text);
        fuzz::require(ends_within(text, max_chars, match->length), "longest_prefix() goes past the limit", text);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    int fd = memory_file();
    if (ftruncate(fd, 0) != 0) fuzz::fail("ftruncate failed");
    if (size > 0 && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) fuzz::fail("pwrite failed");
    auto opened = MappedDict::open("/proc/self/fd/" + std::to_string(fd));
    std::string expected = expected_error(data, size);
    if (!opened) {
        fuzz::require(opened.error().message == expected, "unexpected open error", opened.error().message);
        return 0;
    }
    fuzz::require(expected.empty(), "opened a file with a bad header", expected);
    const MappedDict& dict = opened.value();

    Reference ref{data + 16, data + 16 + 12 * std::uint64_t(u32(data + 8)), u32(data + 8), u32(data + 12)};
    const std::uint64_t tail = 16 + 12 * ref.count + ref.pool_size;
    const bool indexed = TrieIndex(data + tail, size - tail, ref.count, ref.pool_size).valid();
    fuzz::require(dict.indexed() == indexed, "the trailer is taken or refused unlike TrieIndex does");
    const bool sorted = ref.strictly_sorted();
    const std::uint64_t probes = ref.count < 48 ? ref.count : 48;

    std::vector<std::string> queries = {"", "a", "\xE4\xB8\xAD", "\xE4\xB8\xAD\xE5\x9C\x8B"};
    for (std::uint64_t i = 0; i < probes; ++i) {
        // Spread the probes over the whole table.
        std::uint64_t index = probes == ref.count ? i : i * (ref.count / probes);
        if (auto k = ref.key(index)) {
            queries.emplace_back(*k);
            if (!k->empty()) queries.emplace_back(k->substr(0, k->size() - 1));
            queries.push_back(std::string(*k) + "\xE5\x9C\x8B");
        }
        if (auto v = ref.field(index, 6)) queries.emplace_back(*v);  // arbitrary pool bytes as a key
    }
    if (indexed) {
        for (std::size_t i = 0; i < queries.size(); ++i) {
            check_indexed(dict, ref, sorted, queries[i]);
            check_indexed(dict, ref, sorted, queries[i] + queries[(i * 7 + 3) % queries.size()]);
        }
        return 0;
    }
    for (const std::string& q : queries) {
        auto got = dict.get(q);
        auto want = ref.get(q);
        fuzz::require(got.has_value() == want.has_value(), "get() finds a different entry", q);
        if (got) fuzz::require(*got == *want, "get() returns different bytes", q);
    }
    for (std::size_t i = 0; i < queries.size(); ++i) {
        check_prefix(dict, ref, sorted, queries[i]);
        check_prefix(dict, ref, sorted, queries[i] + queries[(i * 7 + 3) % queries.size()]);
    }
    return 0;
}
