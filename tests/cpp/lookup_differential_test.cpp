// Differential test of MappedDict::longest_prefix (a narrowing range search)
// against the straightforward definition: try every prefix of up to
// max_chars characters with get(), longest first.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "check.hpp"
#include "cjyp_test_writer.hpp"
#include "text/utf8.hpp"
#include "dict/lookup/mapped_dict.hpp"

using merrow::InlinePrefixRanges;
using merrow::MappedDict;
using merrow::testing::encode;

namespace {

std::optional<std::size_t> reference_longest_prefix(const MappedDict& d, std::string_view text, std::size_t max_chars) {
    std::vector<std::size_t> ends;
    for (std::size_t pos = 0; ends.size() < max_chars && pos < text.size();) {
        pos += merrow::utf8::char_length(text, pos);
        ends.push_back(pos);
    }
    for (auto it = ends.rbegin(); it != ends.rend(); ++it) {
        if (d.get(text.substr(0, *it))) return *it;
    }
    return std::nullopt;
}

// A small alphabet of 1-, 2-, 3- and 4-byte characters so that prefixes
// collide often and byte order differs from character order.
const char* const kAlphabet[] = {"a", "b", "\xC3\xA9", "\xE4\xB8\xAD", "\xE5\x9C\x8B", "\xE4\xBA\xBA",
                                 "\xF0\xA0\x80\x80", "\xE4\xB8\x80", "z"};

std::string random_string(std::mt19937& rng, int max_chars) {
    std::uniform_int_distribution<int> len(1, max_chars), pick(0, std::size(kAlphabet) - 1);
    std::string s;
    for (int n = len(rng); n > 0; --n) s += kAlphabet[pick(rng)];
    return s;
}

}  // namespace

int main() {
    using merrow::testing::check;
    std::mt19937 rng(12345);
    std::string path = "/tmp/merrow-lookup-diff-" + std::to_string(getpid()) + ".bin";
    // A memo kept from table to table, as a batch's threads keep theirs:
    // each round's table is opened at the same address as the last one's,
    // so only forget() keeps the old table's ranges from being reused.
    InlinePrefixRanges<64> carried;
    for (int round = 0; round < 200; ++round) {
        carried.forget();
        merrow::testing::Table table;
        int keys = std::uniform_int_distribution<int>(0, 400)(rng);
        int key_chars = std::uniform_int_distribution<int>(1, 12)(rng);
        for (int i = 0; i < keys; ++i) table[random_string(rng, key_chars)] = "v";
        std::ofstream(path, std::ios::binary) << encode(table);
        auto opened = MappedDict::open(path);
        if (!opened) {
            check(false, "open: " + opened.error().message);
            continue;
        }
        const MappedDict& d = opened.value();
        bool ok = true;
        // Memos of prefix ranges shared by all texts of a table, as a
        // conversion shares one across its positions: one roomy, and one so
        // small that prefixes keep evicting each other.
        InlinePrefixRanges<256> ranges;
        InlinePrefixRanges<2> crowded;
        for (int t = 0; t < 500 && ok; ++t) {
            std::string text = random_string(rng, 14);
            for (std::size_t max_chars : {1, 3, 10, 16}) {
                auto match = d.longest_prefix(text, max_chars);
                // A match is never empty: 0 stands for none.
                std::size_t got = match ? match->length : 0;
                auto want = reference_longest_prefix(d, text, max_chars);
                // The entry found must hold exactly the matched prefix.
                auto matches = [&](const std::optional<MappedDict::PrefixMatch>& m) {
                    return m ? (want && m->length == *want && d.find(text.substr(0, m->length)) == m->entry) : !want;
                };
                bool memo_ok = matches(d.longest_prefix(text, max_chars, &ranges)) &&
                               matches(d.longest_prefix(text, max_chars, &crowded)) &&
                               matches(d.longest_prefix(text, max_chars, &carried)) &&
                               matches(d.longest_prefix(text, max_chars));
                // Exact searches through the memos agree with plain ones, for
                // every prefix of the text and for keys of the table itself.
                for (std::size_t end = 0; end <= text.size() && memo_ok; end += merrow::utf8::char_length(text, end)) {
                    std::string_view prefix = std::string_view(text).substr(0, end);
                    memo_ok = d.find(prefix, &ranges) == d.find(prefix) && d.find(prefix, &crowded) == d.find(prefix) &&
                              d.find(prefix, &carried) == d.find(prefix);
                    if (end == text.size()) break;
                }
                if (got != want.value_or(0) || !memo_ok) {
                    std::printf("round %d: text %s max %zu: got %zd want %zd\n", round, text.c_str(), max_chars,
                                got ? static_cast<ssize_t>(got) : -1, want ? static_cast<ssize_t>(*want) : -1);
                    ok = false;
                }
            }
        }
        for (const auto& entry : table) {
            if (!ok) break;
            if (d.find(entry.first, &ranges) != d.find(entry.first)) {
                std::printf("round %d: memoised find of key %s differs\n", round, entry.first.c_str());
                ok = false;
            }
        }
        check(ok, "round " + std::to_string(round) + " agrees with the reference");
    }
    std::remove(path.c_str());
    return merrow::testing::report();
}
