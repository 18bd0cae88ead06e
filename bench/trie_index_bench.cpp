// Greedy longest-prefix segmentation of the Han runs of each line, as the
// segmenter does it on word.bin (at most 10 characters a word): with
// MappedDict::longest_prefix on the table without its trailer (bisecting,
// without and with a prefix memo carried from line to line, as a batch
// thread carries one), with the trie index in the file's trailer alone, and
// with MappedDict::longest_prefix on the indexed file (the trie walk plus
// the check of the entry's key). Checks that all four cut the same tokens
// and find the same entries, then prints ns per Han character, the fastest
// of 15 rounds taken in alternation (the machine is shared).
//
//   python bench/trie_index_inputs.py /tmp/trie-bench
//   cmake -S . -B build -DMERROW_BUILD_MODULE=OFF && cmake --build build
//   g++ -O3 -std=c++20 -Isrc bench/trie_index_bench.cpp -Lbuild -lmerrow_engine -o trie_index_bench
//   ./trie_index_bench /tmp/trie-bench/data/word.bin /tmp/trie-bench/keys.txt /tmp/trie-bench/hkcancor.txt
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "text/utf8.hpp"
#include "dict/index/trie_index.hpp"
#include "dict/lookup/mapped_dict.hpp"
#include "dict/lookup/prefix_ranges.hpp"

namespace {

bool is_han(char32_t c) {
    return (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x20000 && c <= 0x2A6DF) ||
           (c >= 0xF900 && c <= 0xFAFF);
}

// The Han runs of the file's lines, and their number of characters.
std::vector<std::string> han_runs(const char* path, std::size_t& chars) {
    std::vector<std::string> runs;
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        std::string run;
        for (std::size_t pos = 0; pos < line.size();) {
            std::size_t start = pos;
            char32_t c = merrow::utf8::decode(line, pos);
            if (is_han(c)) {
                run.append(line, start, pos - start);
                ++chars;
            } else if (!run.empty()) {
                runs.push_back(std::move(run));
                run.clear();
            }
        }
        if (!run.empty()) runs.push_back(std::move(run));
    }
    return runs;
}

// Segments every run with `match` (text -> optional {length, entry}) and
// returns a digest of the token ends and entries, so that the work is kept
// and the methods can be compared.
template <typename Match>
std::uint64_t segment(const std::vector<std::string>& runs, Match match) {
    std::uint64_t digest = 0;
    for (const std::string& run : runs) {
        std::string_view rest = run;
        while (!rest.empty()) {
            auto found = match(rest);
            std::size_t length = found ? found->length : merrow::utf8::char_length(rest, 0);
            digest = digest * 1000003 + length * 131 + (found ? found->entry + 1 : 0);
            rest.remove_prefix(length);
        }
    }
    return digest;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s INDEXED_WORD_BIN TEXT_FILE...\n", argv[0]);
        return 2;
    }
    auto opened = merrow::MappedDict::open(argv[1]);
    if (!opened) {
        std::fprintf(stderr, "%s\n", opened.error().message.c_str());
        return 1;
    }
    const merrow::MappedDict& dict = opened.value();
    std::ifstream file(argv[1], std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), {});
    auto u32 = [&](std::size_t at) {
        return std::uint32_t(static_cast<unsigned char>(bytes[at])) |
               std::uint32_t(static_cast<unsigned char>(bytes[at + 1])) << 8 |
               std::uint32_t(static_cast<unsigned char>(bytes[at + 2])) << 16 |
               std::uint32_t(static_cast<unsigned char>(bytes[at + 3])) << 24;
    };
    const std::uint64_t count = u32(8), pool_size = u32(12), tail = 16 + 12 * count + pool_size;
    merrow::TrieIndex index(reinterpret_cast<const unsigned char*>(bytes.data()) + tail, bytes.size() - tail, count,
                            pool_size);
    if (!index.valid()) {
        std::fprintf(stderr, "%s has no valid trie index\n", argv[1]);
        return 1;
    }
    // The same table without its trailer, searched by bisection.
    const std::string plain_path = (std::filesystem::temp_directory_path() / "trie_index_bench_plain.bin").string();
    std::ofstream(plain_path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(tail));
    auto plain_opened = merrow::MappedDict::open(plain_path);
    if (!plain_opened || plain_opened.value().indexed() || !dict.indexed()) {
        std::fprintf(stderr, "cannot open %s without its index\n", argv[1]);
        return 1;
    }
    const merrow::MappedDict& plain = plain_opened.value();
    constexpr std::size_t kMaxChars = 10;
    for (int arg = 2; arg < argc; ++arg) {
        std::size_t chars = 0;
        const std::vector<std::string> runs = han_runs(argv[arg], chars);
        using clock = std::chrono::steady_clock;
        double best[4] = {1e9, 1e9, 1e9, 1e9};
        std::uint64_t digests[4] = {};
        for (int round = 0; round < 15; ++round) {
            merrow::InlinePrefixRanges<1024> memo;
            auto t0 = clock::now();
            digests[0] = segment(runs, [&](std::string_view t) { return plain.longest_prefix(t, kMaxChars); });
            auto t1 = clock::now();
            digests[1] =
                segment(runs, [&](std::string_view t) { return plain.longest_prefix(t, kMaxChars, &memo); });
            auto t2 = clock::now();
            digests[2] = segment(runs, [&](std::string_view t) { return index.longest_prefix(t, kMaxChars); });
            auto t3 = clock::now();
            digests[3] = segment(runs, [&](std::string_view t) { return dict.longest_prefix(t, kMaxChars); });
            auto t4 = clock::now();
            best[3] = std::min(best[3], std::chrono::duration<double>(t4 - t3).count());
            best[0] = std::min(best[0], std::chrono::duration<double>(t1 - t0).count());
            best[1] = std::min(best[1], std::chrono::duration<double>(t2 - t1).count());
            best[2] = std::min(best[2], std::chrono::duration<double>(t3 - t2).count());
        }
        const bool same = digests[0] == digests[1] && digests[1] == digests[2] && digests[2] == digests[3];
        std::printf("%s: %zu runs, %zu Han characters; tokens %s\n", argv[arg], runs.size(), chars,
                    same ? "identical" : "DIFFER");
        std::printf("  ns/char: table search %.1f, with memo %.1f, trie index %.1f, MappedDict indexed %.1f\n",
                    best[0] * 1e9 / chars, best[1] * 1e9 / chars, best[2] * 1e9 / chars, best[3] * 1e9 / chars);
        if (!same) return 1;
    }
}
