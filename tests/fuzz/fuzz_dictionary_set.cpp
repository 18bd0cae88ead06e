// Whole pipelines over corrupted dictionary sets. The test set's eight files
// are encoded, then patched byte by byte as the input says (headers, entry
// offsets and lengths, pool bytes, in any of the files), loaded with
// Pipeline::load and run through the three flavours on the input's text and
// on a text that names every key of the set. Loading may fail; conversions
// must not, and whatever they return must be well-formed and consistent.
//
// Input: byte 0 = number of patches (mod 32) and the punctuation switch (bit
// 7); then 4 bytes per patch: file (mod 8), offset (16 bits, mod the file's
// size), new byte; the rest is the text.
#include <unistd.h>

#include <vector>

#include "fuzz_support.hpp"

using namespace merrow;

namespace {

const std::map<std::string, testing::Table>& files() {
    static const auto tables = testing::dictionary_files();
    return tables;
}

std::vector<std::pair<std::string, std::string>> encoded_files() {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& [name, table] : files()) out.emplace_back(name, testing::encode(table));
    return out;
}

std::string all_keys_text() {
    std::string text;
    for (const auto& entry : files()) {
        for (const auto& row : entry.second) text += row.first + " ";
    }
    return text + "一二三四五六七八九十百 $100 3.5kg 中國人銀行行樂";
}

// Writes the files into a fresh directory, loads them and removes them again
// (the mappings outlive the files). /dev/shm, where there is one, keeps this
// off the disk.
Result<Pipeline> load(const std::vector<std::pair<std::string, std::string>>& encoded, bool punc_norm) {
    char shm_template[] = "/dev/shm/merrow-fuzz-set-XXXXXX";
    char tmp_template[] = "/tmp/merrow-fuzz-set-XXXXXX";
    char* dir = mkdtemp(shm_template);
    if (dir == nullptr) dir = mkdtemp(tmp_template);
    if (dir == nullptr) fuzz::fail("cannot create a scratch directory");
    for (const auto& [name, bytes] : encoded) {
        if (!testing::write_file(std::string(dir) + "/" + name + ".bin", bytes)) fuzz::fail("cannot write", name);
    }
    auto loaded = Pipeline::load(dir, punc_norm, testing::user_entries());
    for (const auto& entry : encoded) unlink((std::string(dir) + "/" + entry.first + ".bin").c_str());
    rmdir(dir);
    return loaded;
}

void check(const Pipeline& p, const std::string& text) {
    std::string plain = convert(p, text);
    fuzz::require(utf8::is_valid(plain), "convert output is not UTF-8", plain);
    std::vector<DetailedToken> detailed = convert_detailed(p, text);
    std::vector<CandidateToken> candidates = convert_candidates(p, text);
    fuzz::require(detailed.size() == candidates.size(), "record counts differ");
    for (std::size_t i = 0; i < detailed.size(); ++i) {
        const DetailedToken& d = detailed[i];
        const CandidateToken& c = candidates[i];
        fuzz::require(!c.candidate_readings.empty(), "no candidates", c.token);
        fuzz::require(d.token == c.token && d.jyutping == c.candidate_readings.front(), "records disagree", d.token);
        fuzz::require(d.confidence == c.confidence && d.source == c.source, "labels disagree", d.token);
        for (const std::string* s : {&d.jyutping, &d.confidence, &d.source}) {
            fuzz::require(utf8::is_valid(*s), "record field is not UTF-8", *s);
        }
        for (const std::string& r : c.candidate_readings) fuzz::require(utf8::is_valid(r), "candidate is not UTF-8", r);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const auto pristine = encoded_files();
    static const std::string keys_text = all_keys_text();
    auto encoded = pristine;
    std::size_t patches = data[0] & 31;
    const bool punc_norm = data[0] & 0x80;
    std::size_t pos = 1;
    for (; patches > 0 && pos + 4 <= size; --patches, pos += 4) {
        std::string& bytes = encoded[data[pos] % encoded.size()].second;
        bytes[(data[pos + 1] | data[pos + 2] << 8) % bytes.size()] = static_cast<char>(data[pos + 3]);
    }
    auto loaded = load(encoded, punc_norm);
    if (!loaded) return 0;
    check(loaded.value(), keys_text);
    check(loaded.value(), fuzz::valid_utf8(data + pos, size - pos));
    return 0;
}
