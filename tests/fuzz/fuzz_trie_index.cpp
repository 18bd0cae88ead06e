// TrieIndex on arbitrary bytes. An input that begins with "CJYP" is a whole
// table file whose bytes after the pool are the trailer; any other input is
// a trailer alone, built for the entry count and pool size its own header
// names (so that damaged arrays are reached, not only damaged headers).
//
// Whatever the bytes: opening and lookups stay inside the input (ASan), a
// match ends on a character boundary of the text within max_chars
// characters, every entry index is below the entry count, and
// longest_prefix and find walk the same states, so find on the matched
// prefix gives the matched entry, and so does a walk resumed part way. Probes: the table's keys when there is a
// table, fixed texts, and slices of the input itself.
#include <cstring>
#include <string>
#include <vector>

#include "dict/index/trie_index.hpp"
#include "fuzz_support.hpp"

using namespace merrow;

namespace {

std::uint32_t u32(const std::uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24; }
std::uint16_t u16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

void check_lookups(const TrieIndex& index, std::uint64_t count, std::string_view text) {
    auto found = index.find(text);
    if (found) fuzz::require(*found < count, "find() returns an entry past the table", text);
    for (std::size_t max_chars : {std::size_t{1}, std::size_t{3}, std::size_t{10}}) {
        auto match = index.longest_prefix(text, max_chars);
        if (!match) continue;
        std::size_t pos = 0, chars = 0;
        while (pos < match->length && pos < text.size()) {
            pos += utf8::char_length(text, pos);
            ++chars;
        }
        fuzz::require(pos == match->length && chars <= max_chars, "match not on a boundary within the limit", text);
        fuzz::require(match->entry < count, "longest_prefix() returns an entry past the table", text);
        fuzz::require(index.find(text.substr(0, match->length)) == match->entry,
                      "find() disagrees with longest_prefix() on the matched prefix", text);
    }
    // A walk resumed after any character boundary finds what find() finds;
    // a state given from outside the trie walks nowhere.
    for (std::size_t cut = 0; cut <= text.size(); cut += cut < text.size() ? utf8::char_length(text, cut) : 1) {
        auto state = index.walk(TrieIndex::kRoot, text.substr(0, cut));
        auto resumed = state ? index.find_from(*state, text.substr(cut)) : std::nullopt;
        fuzz::require(resumed == found, "find_from() after a walk disagrees with find()", text);
    }
    fuzz::require(!index.walk(0xFFFFFFFEu, text), "a walk from a state past the units", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> probes = {"",   "a",         "\xE4\xB8\xAD",     "\xE4\xB8\xAD\xE5\x9C\x8B",
                                       "ab", "\xF0\xA0\x80\x80\xE4\xB8\xAD", "\xE4\xB8\xAD\xE4\xB8\xAD\xE4\xB8\xAD"};
    const std::uint8_t* tail = data;
    std::size_t tail_size = size;
    std::uint64_t count = size >= 16 ? u32(data + 8) : 0, pool_size = size >= 16 ? u32(data + 12) : 0;
    if (size >= 16 && std::memcmp(data, "CJYP", 4) == 0) {
        const std::uint64_t start = 16 + 12 * count + pool_size;
        if (start > size) return 0;
        tail = data + start;
        tail_size = size - start;
        const std::uint8_t* pool = data + 16 + 12 * count;
        for (std::uint64_t i = 0; i < count && i < 64; ++i) {
            const std::uint8_t* e = data + 16 + 12 * i;
            if (std::uint64_t{u32(e)} + u16(e + 4) <= pool_size) {
                probes.emplace_back(reinterpret_cast<const char*>(pool) + u32(e), u16(e + 4));
            }
        }
    }
    // A copy of exactly the trailer's size, so that a read past it is caught.
    std::vector<std::uint8_t> trailer(tail, tail + tail_size);
    TrieIndex index(trailer.data(), trailer.size(), count, pool_size);
    for (std::size_t at = 44; at < size && probes.size() < 96; at += 29) {
        probes.emplace_back(reinterpret_cast<const char*>(data) + at, std::min<std::size_t>(size - at, 24));
    }
    const std::size_t fixed = probes.size();
    for (std::size_t i = 0; i < fixed; ++i) probes.push_back(probes[i] + probes[(i * 5 + 1) % fixed]);
    for (const auto& probe : probes) check_lookups(index, count, probe);
    return 0;
}
