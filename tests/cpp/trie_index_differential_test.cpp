// Differential test of TrieIndex (the trie in a CJYP file's trailer) against
// MappedDict's own search: on tables written by merrow.cjyp with their index
// (make_trie_index_fixtures.py: random tables, a table with 4-byte character
// ids, the bundled tables rebuilt), find() must give the entry that
// MappedDict::find gives on the same table without its trailer, and
// longest_prefix() the match that MappedDict::longest_prefix gives there, for
// every key, every suffix of random texts drawn from the keys' characters,
// every prefix of those texts, and non-keys with foreign or ill-formed
// characters; MappedDict opened on the file with its trailer (so searching
// through the index) must agree with both. Then broken trailers: header
// damage must leave the index invalid; damaged arrays must keep every result
// within the text and the table; a stale index (a key changed after it was
// built) must never make MappedDict report a key that is not there. The
// check bytes must be read, and a trailer of the first version (none) must
// still serve.
//
//   trie_index_differential_test [FIXTURE_DIR]
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "check.hpp"
#include "text/utf8.hpp"
#include "dict/index/trie_index.hpp"
#include "dict/lookup/mapped_dict.hpp"

using merrow::MappedDict;
using merrow::TrieIndex;
using merrow::testing::check;

#ifndef MERROW_TRIE_FIXTURES
#define MERROW_TRIE_FIXTURES "trie-index-fixtures"
#endif

namespace {

std::uint32_t u32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24; }
std::uint16_t u16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
void put_u32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// One fixture file: its bytes, its keys in entry order and its trailer.
struct Table {
    std::string path;
    std::vector<unsigned char> bytes;
    std::uint64_t count = 0, pool_size = 0, tail_start = 0;
    std::vector<std::string> keys;

    const unsigned char* tail() const { return bytes.data() + tail_start; }
    std::size_t tail_size() const { return bytes.size() - tail_start; }
    std::vector<unsigned char> tail_copy() const { return {bytes.begin() + tail_start, bytes.end()}; }
};

Table read_table(const std::string& path) {
    Table t;
    t.path = path;
    std::ifstream in(path, std::ios::binary);
    t.bytes.assign(std::istreambuf_iterator<char>(in), {});
    t.count = u32(t.bytes.data() + 8);
    t.pool_size = u32(t.bytes.data() + 12);
    const unsigned char* pool = t.bytes.data() + 16 + 12 * t.count;
    t.tail_start = 16 + 12 * t.count + t.pool_size;
    for (std::uint64_t i = 0; i < t.count; ++i) {
        const unsigned char* e = t.bytes.data() + 16 + 12 * i;
        t.keys.emplace_back(reinterpret_cast<const char*>(pool) + u32(e), u16(e + 4));
    }
    return t;
}

// The characters of the keys, each once, in first-seen order.
std::vector<std::string> characters(const Table& t) {
    std::vector<std::string> out;
    std::vector<std::string> seen;
    for (const auto& key : t.keys) {
        for (std::size_t pos = 0; pos < key.size();) {
            std::size_t n = merrow::utf8::char_length(key, pos);
            out.push_back(key.substr(pos, n));
            pos += n;
        }
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

// Characters no table holds, and bytes that are no character at all: a lone
// continuation byte, a cut-short sequence, an overlong 中, a surrogate, a
// code point past U+10FFFF.
const std::string kForeign[] = {"Q", "\xE9\xBE\x98", "\xF0\x9F\x98\x80", "\x80", "\xE4\xB8",
                                "\xE0\x84\xAD", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xC0\xAF", "\xFF"};

std::string describe(std::string_view text) {
    std::string out;
    char buf[4];
    for (unsigned char c : text) {
        std::snprintf(buf, sizeof buf, "%02X", c);
        out += buf;
    }
    return out;
}

// Counts the disagreements of one kind for one table; reports the first.
struct Tally {
    explicit Tally(std::string what_) : what(std::move(what_)) {}
    std::string what;
    long mismatches = 0;
    std::string first;
    void note(bool same, std::string_view text) {
        if (!same && mismatches++ == 0) first = describe(text);
    }
    void report(const std::string& path) {
        check(mismatches == 0,
              path + ": " + what + ": " + std::to_string(mismatches) + " mismatches, first on " + first);
    }
};

// The table's bytes up to the end of its pool, written beside it and opened:
// the same table searched without an index.
std::optional<MappedDict> open_bytes(const std::string& path, const std::vector<unsigned char>& bytes,
                                     std::size_t size) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(size));
    auto opened = MappedDict::open(path);
    if (!opened) return std::nullopt;
    return std::move(opened).value();
}

std::optional<MappedDict> open_plain(const Table& t) { return open_bytes(t.path + ".plain", t.bytes, t.tail_start); }

// Both searches give the same match (length and entry) or both none.
template <class A, class B>
bool same_prefix(const A& want_from, const B& got_from, std::string_view text, std::size_t max_chars) {
    auto want = want_from.longest_prefix(text, max_chars);
    auto got = got_from.longest_prefix(text, max_chars);
    if (want.has_value() != got.has_value()) return false;
    return !want || (want->length == got->length && want->entry == got->entry);
}

// The reference and both index searches agree on `text`.
struct Searches {
    const MappedDict& plain;
    const TrieIndex& index;
    const MappedDict& indexed;

    bool same_find(std::string_view key) const {
        auto want = plain.find(key);
        return index.find(key) == want && indexed.find(key) == want;
    }
    bool same_prefix(std::string_view text, std::size_t max_chars) const {
        return ::same_prefix(plain, index, text, max_chars) && ::same_prefix(plain, indexed, text, max_chars);
    }
};

void compare_with_table(const Table& t, std::mt19937& rng, int texts) {
    auto opened = MappedDict::open(t.path);
    check(static_cast<bool>(opened), t.path + ": opens");
    auto plain = open_plain(t);
    check(plain.has_value(), t.path + ": opens without its trailer");
    if (!opened || !plain) return;
    const MappedDict& dict = opened.value();
    check(dict.indexed() && !plain->indexed(), t.path + ": indexed with its trailer only");
    TrieIndex index(t.tail(), t.tail_size(), t.count, t.pool_size);
    check(index.valid(), t.path + ": index valid");
    if (!index.valid()) return;
    const Searches search{*plain, index, dict};

    Tally keys("every key"), texts_prefix("suffixes of random texts"), texts_find("prefixes of random texts"),
        non_keys("non-keys");
    const std::size_t limits[] = {1, 3, 10, 16};
    for (const auto& key : t.keys) {
        keys.note(search.same_find(key), key);
        for (std::size_t limit : limits) keys.note(search.same_prefix(key, limit), key);
        for (const auto& foreign : kForeign) {
            std::string longer = key + foreign;
            non_keys.note(search.same_find(longer), longer);
            non_keys.note(search.same_prefix(longer, 10), longer);
        }
        if (!key.empty()) {
            std::string shorter = key.substr(0, key.size() - 1);  // cut inside its last character
            non_keys.note(search.same_find(shorter), shorter);
            non_keys.note(search.same_prefix(shorter, 10), shorter);
        }
    }
    std::vector<std::string> chars = characters(t);
    for (const auto& foreign : kForeign) chars.push_back(foreign);
    std::uniform_int_distribution<std::size_t> pick(0, chars.size() - 1), length(1, 14);
    std::uniform_int_distribution<int> coin(0, 3);
    for (int n = 0; n < texts; ++n) {
        // Texts mostly spliced from keys, so that long matches happen.
        std::string text;
        for (std::size_t parts = length(rng); parts > 0; --parts) {
            if (coin(rng) == 0 && !t.keys.empty()) text += t.keys[rng() % t.keys.size()];
            else text += chars[pick(rng)];
        }
        std::vector<std::size_t> ends;
        for (std::size_t pos = 0; pos < text.size();) {
            std::string_view rest = std::string_view(text).substr(pos);
            for (std::size_t limit : limits) texts_prefix.note(search.same_prefix(rest, limit), rest);
            pos += merrow::utf8::char_length(text, pos);
            std::string_view prefix = std::string_view(text).substr(0, pos);
            texts_find.note(search.same_find(prefix), prefix);
        }
    }
    keys.report(t.path);
    non_keys.report(t.path);
    texts_prefix.report(t.path);
    texts_find.report(t.path);
}

// A key changed after the index was built (its last byte moved on by one,
// which keeps it UTF-8, and the table sorted): the index still leads the old
// text to that entry, which MappedDict must notice and search the table
// instead, and no search may report an entry whose key is not the text it
// matched.
std::vector<std::string> keys_of(const std::vector<unsigned char>& bytes, std::uint64_t count) {
    std::vector<std::string> keys;
    const unsigned char* pool = bytes.data() + 16 + 12 * count;
    for (std::uint64_t i = 0; i < count; ++i) {
        const unsigned char* e = bytes.data() + 16 + 12 * i;
        keys.emplace_back(reinterpret_cast<const char*>(pool) + u32(e), u16(e + 4));
    }
    return keys;
}

void stale_index(const Table& t) {
    std::vector<unsigned char> bytes;
    std::size_t changed = t.keys.size();
    for (std::size_t i = 0; i < t.keys.size() && changed == t.keys.size(); ++i) {
        const std::string& key = t.keys[i];
        const unsigned char last = key.empty() ? 0 : static_cast<unsigned char>(key.back());
        if (!((last >= 'a' && last < 'z') || (last >= 0x80 && last < 0xBF))) continue;
        bytes = t.bytes;
        const unsigned char* e = t.bytes.data() + 16 + 12 * i;
        bytes[16 + 12 * t.count + u32(e) + u16(e + 4) - 1] += 1;
        const auto keys = keys_of(bytes, t.count);  // pieces of the pool may be shared
        if (std::adjacent_find(keys.begin(), keys.end(), std::greater_equal<>()) == keys.end()) changed = i;
    }
    if (changed == t.keys.size()) return;
    auto stale = open_bytes(t.path + ".stale", bytes, bytes.size());
    auto plain = open_bytes(t.path + ".stale.plain", bytes, t.tail_start);
    check(stale && plain && stale->indexed(), t.path + ": a stale index is still taken");
    if (!stale || !plain) return;
    const std::vector<std::string> now = keys_of(bytes, t.count);
    const std::string& old_key = t.keys[changed];
    check(stale->find(old_key) == plain->find(old_key), t.path + ": the old key is searched for in the table");
    check(same_prefix(*plain, *stale, old_key, 10), t.path + ": the old key's prefix is searched for in the table");
    Tally wrong("stale index: an entry that does not hold the text");
    for (std::size_t i = 0; i < t.keys.size(); ++i) {
        for (const std::string& text : {t.keys[i], now[i], t.keys[i] + now[i]}) {
            if (auto found = stale->find(text)) wrong.note(now[*found] == text, text);
            if (auto match = stale->longest_prefix(text, 10)) {
                wrong.note(now[match->entry] == text.substr(0, match->length), text);
            }
        }
    }
    wrong.report(t.path);
}

// The trailer's header fields, by byte offset.
enum Field : std::size_t {
    kVersion = 4, kEntryCount = 8, kPoolSize = 12, kIdBytes = 16, kBlockIndexOffset = 20, kBlockIndexCount = 24,
    kBlocksOffset = 28, kBlockCount = 32, kUnitsOffset = 36, kUnitCount = 40, kCheckBytesOffset = 44,
    kCheckBytesCount = 48,
};

bool valid_with(const Table& t, std::size_t field, std::uint32_t value) {
    auto tail = t.tail_copy();
    put_u32(tail.data() + field, value);
    return TrieIndex(tail.data(), tail.size(), t.count, t.pool_size).valid();
}

// Every result of a lookup on damaged arrays stays inside the text and the
// table, and longest_prefix and find walk the same states.
bool bounded(const TrieIndex& index, std::uint64_t count, std::string_view text, std::size_t max_chars) {
    auto match = index.longest_prefix(text, max_chars);
    auto found = index.find(text);
    if (found && *found >= count) return false;
    if (!match) return true;
    std::size_t pos = 0, chars = 0;
    while (pos < match->length && pos < text.size()) {
        pos += merrow::utf8::char_length(text, pos);
        ++chars;
    }
    return pos == match->length && chars <= max_chars && match->entry < count &&
           index.find(text.substr(0, match->length)) == match->entry;
}

void damaged_trailers(const Table& t, std::mt19937& rng) {
    const std::string& p = t.path;
    check(!TrieIndex(nullptr, 0, t.count, t.pool_size).valid(), p + ": no trailer");
    check(!TrieIndex(t.tail(), 0, t.count, t.pool_size).valid(), p + ": empty trailer");
    const unsigned char* tail = t.tail();
    const std::uint64_t arrays_end = u32(tail + kCheckBytesOffset) + std::uint64_t{u32(tail + kCheckBytesCount)};
    bool any_truncation_valid = false;
    for (std::uint64_t length = 0; length < arrays_end; ++length) {
        std::vector<unsigned char> cut(tail, tail + length);  // exactly sized: ASan sees any overread
        any_truncation_valid |= TrieIndex(cut.data(), cut.size(), t.count, t.pool_size).valid();
    }
    check(!any_truncation_valid, p + ": every truncation invalid");
    check(TrieIndex(tail, arrays_end, t.count, t.pool_size).valid(), p + ": valid up to its last array");

    auto tail_bytes = t.tail_copy();
    tail_bytes[3] = 'P';
    check(!TrieIndex(tail_bytes.data(), tail_bytes.size(), t.count, t.pool_size).valid(), p + ": bad magic");
    check(!TrieIndex(tail, t.tail_size(), t.count + 1, t.pool_size).valid(), p + ": other entry count");
    check(!TrieIndex(tail, t.tail_size(), t.count, t.pool_size + 1).valid(), p + ": other pool size");
    const std::uint32_t size = static_cast<std::uint32_t>(t.tail_size());
    const struct {
        std::size_t field;
        std::uint32_t value;
        const char* what;
    } broken[] = {
        {kVersion, 3, "version 3"}, {kVersion, 0, "version 0"},
        {kEntryCount, static_cast<std::uint32_t>(t.count + 1), "header entry count"},
        {kPoolSize, static_cast<std::uint32_t>(t.pool_size - 1), "header pool size"},
        {kIdBytes, 3, "id width 3"}, {kIdBytes, 0, "id width 0"}, {kIdBytes, 8, "id width 8"},
        {kBlockIndexOffset, size + 1, "block index past the end"},
        {kBlockIndexOffset, 0xFFFFFFFF, "block index far out"},
        {kBlockIndexCount, 0xFFFFFFFF, "block index huge"},
        {kBlocksOffset, size, "blocks at the end"}, {kBlocksOffset, 0xFFFFFFFF, "blocks far out"},
        {kBlockCount, 0xFFFFFFFF, "block count huge"}, {kUnitsOffset, size - 11, "units past the end"},
        {kUnitsOffset, 0xFFFFFFFF, "units far out"}, {kUnitCount, 0, "no root"},
        {kUnitCount, 0xFFFFFFFF, "unit count huge"}, {kUnitCount, u32(tail + kUnitCount) + 1, "one unit too many"},
        {kCheckBytesOffset, size - u32(tail + kUnitCount) + 1, "check bytes past the end"},
        {kCheckBytesOffset, 0xFFFFFFFF, "check bytes far out"},
        {kCheckBytesCount, u32(tail + kUnitCount) - 1, "a check byte short"},
        {kCheckBytesCount, u32(tail + kUnitCount) + 1, "a check byte too many"},
    };
    for (const auto& b : broken) check(!valid_with(t, b.field, b.value), p + ": " + b.what);

    // Damaged arrays under a sound header: lookups stay bounded and agree
    // with each other; nothing is scanned at open to catch them.
    const std::uint64_t units = u32(tail + kUnitsOffset), unit_count = u32(tail + kUnitCount);
    std::vector<std::string> probes(t.keys.begin(), t.keys.begin() + std::min<std::size_t>(t.keys.size(), 200));
    for (const auto& f : kForeign) probes.push_back(probes.empty() ? f : probes[0] + f);
    auto lookups_bounded = [&](const std::vector<unsigned char>& bytes) {
        TrieIndex index(bytes.data(), bytes.size(), t.count, t.pool_size);
        bool ok = index.valid();
        for (const auto& probe : probes) {
            for (std::size_t limit : {1, 3, 10}) ok = ok && bounded(index, t.count, probe, limit);
        }
        return ok;
    };
    auto found_any = [&](const std::vector<unsigned char>& bytes) {
        TrieIndex index(bytes.data(), bytes.size(), t.count, t.pool_size);
        for (const auto& key : t.keys) {
            if (index.find(key) || index.longest_prefix(key, 10)) return true;
        }
        return false;
    };
    auto entries_out = t.tail_copy();
    for (std::uint64_t s = 0; s < unit_count; ++s) put_u32(entries_out.data() + units + 12 * s + 8, t.count);
    check(!found_any(entries_out) && lookups_bounded(entries_out), p + ": entries out of range match nothing");
    auto blocks_out = t.tail_copy();
    std::fill(blocks_out.begin() + u32(tail + kBlockIndexOffset),
              blocks_out.begin() + u32(tail + kBlockIndexOffset) + 2 * u32(tail + kBlockIndexCount), 0xFF);
    bool empty_key = !t.keys.empty() && t.keys[0].empty();
    check((empty_key || !found_any(blocks_out)) && lookups_bounded(blocks_out), p + ": blocks out of range");
    for (std::uint32_t base : {0x7FFFFFFFu, 0x80000000u}) {
        auto far = t.tail_copy();
        for (std::uint64_t s = 0; s < unit_count; ++s) put_u32(far.data() + units + 12 * s, base);
        check((empty_key || !found_any(far)) && lookups_bounded(far), p + ": transitions out of range");
    }
    for (int trial = 0; trial < 300; ++trial) {
        auto flipped = t.tail_copy();
        std::uniform_int_distribution<std::size_t> at(TrieIndex::kHeaderSize, flipped.size() - 1);
        for (int n = 0; n < 1 + trial % 20; ++n) flipped[at(rng)] ^= static_cast<unsigned char>(1 + rng() % 255);
        check(lookups_bounded(flipped), p + ": random damage " + std::to_string(trial));
    }

    // A cycle: the root made its own child on the first character of a key,
    // and terminal. Walks still end after max_chars steps, or at the key's end.
    if (t.keys.empty() || t.keys.back().empty()) return;
    const std::string first = t.keys.back().substr(0, merrow::utf8::char_length(t.keys.back(), 0));
    std::size_t pos = 0;
    const char32_t cp = merrow::utf8::decode(first, pos);
    const unsigned char* block_index = tail + u32(tail + kBlockIndexOffset);
    const std::uint64_t slot = std::uint64_t{u16(block_index + 2 * (cp >> 8))} * 256 + (cp & 0xFF);
    const unsigned char* blocks = tail + u32(tail + kBlocksOffset);
    const std::uint32_t id = u32(tail + kIdBytes) == 2 ? u16(blocks + 2 * slot) : u32(blocks + 4 * slot);
    auto cycle = t.tail_copy();
    put_u32(cycle.data() + units, static_cast<std::uint32_t>(-static_cast<std::int64_t>(id)));
    put_u32(cycle.data() + units + 4, 0);
    put_u32(cycle.data() + units + 8, 0);
    cycle[u32(tail + kCheckBytesOffset)] = 0;
    TrieIndex looped(cycle.data(), cycle.size(), t.count, t.pool_size);
    std::string repeated;
    for (int i = 0; i < 1000; ++i) repeated += first;
    auto match = looped.longest_prefix(repeated, 10);
    check(match && match->length == 10 * first.size() && match->entry == 0, p + ": a cycle ends at max_chars");
    check(looped.find(repeated) == std::optional<std::uint64_t>(0), p + ": a cycle ends with the key");
}

// The check bytes are read: with each one changed, no step is taken, so only
// an empty key is found; the same trailer read as version 1, which has no
// check bytes, still finds every key, and so does the sound one so read.
void check_bytes(const Table& t) {
    const std::string& p = t.path;
    auto as_version_1 = [](std::vector<unsigned char> tail) {
        put_u32(tail.data() + kVersion, 1);
        return tail;
    };
    auto finds_every_key = [&](const std::vector<unsigned char>& tail) {
        TrieIndex index(tail.data(), tail.size(), t.count, t.pool_size);
        bool all = index.valid();
        for (std::size_t i = 0; i < t.keys.size(); ++i) all = all && index.find(t.keys[i]) == i;
        return all;
    };
    check(finds_every_key(as_version_1(t.tail_copy())), p + ": read as version 1");
    auto flipped = t.tail_copy();
    const std::uint64_t at = u32(flipped.data() + kCheckBytesOffset), n = u32(flipped.data() + kCheckBytesCount);
    for (std::uint64_t i = 0; i < n; ++i) flipped[at + i] ^= 0xFF;
    TrieIndex index(flipped.data(), flipped.size(), t.count, t.pool_size);
    bool stepped = false;
    for (const auto& key : t.keys) stepped |= !key.empty() && (index.find(key) || index.longest_prefix(key, 10));
    check(index.valid() && !stepped, p + ": changed check bytes stop every step");
    check(finds_every_key(as_version_1(flipped)), p + ": version 1 ignores the check bytes");
}

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    const fs::path dir = argc > 1 ? argv[1] : MERROW_TRIE_FIXTURES;
    std::vector<std::string> paths;
    for (const fs::path& sub : {dir, dir / "bundled"}) {
        if (!fs::is_directory(sub)) continue;
        for (const auto& entry : fs::directory_iterator(sub)) {
            if (entry.path().extension() == ".bin") paths.push_back(entry.path().string());
        }
    }
    std::sort(paths.begin(), paths.end());
    check(paths.size() >= 60, "fixtures found in " + dir.string() + " (make_trie_index_fixtures.py)");
    std::mt19937 rng(19);
    for (const auto& path : paths) {
        Table t = read_table(path);
        const bool bundled = path.find("/bundled/") != std::string::npos;
        compare_with_table(t, rng, bundled ? 20000 : 400);
        if (!bundled && path.find("wide") == std::string::npos && t.tail_size() < 40000) {
            damaged_trailers(t, rng);
            stale_index(t);
            check_bytes(t);
        }
    }
    return merrow::testing::report();
}
