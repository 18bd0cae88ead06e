// A small dictionary set for drivers and fuzz targets that need a whole
// Pipeline: multi-character words (up to the ten-character limit), an empty
// value, candidates with empty pieces, confidence and source labels, a
// context model (every feature kind, empty readings, a malformed weight,
// spreads well-formed and not), and
// a user dictionary with awkward keys (empty, too long, with a space).
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "cjyp_test_writer.hpp"
#include "pipeline/convert.hpp"

namespace merrow::testing {

inline std::map<std::string, Table> dictionary_files() {
    return {
        {"word",
         {
             {"中", "zung1"}, {"中國", "zung1 gwok3"}, {"中國人", "zung1 gwok3 jan4"},
             {"香港", "hoeng1 gong2"}, {"一百", "jat1 baak3"}, {"一百元", "jat1 baak3 jyun4"},
             {"三點五", "saam1 dim2 ng5"}, {"公斤", "gung1 gan1"}, {"你好", "nei5 hou2"},
             {"行", "hang4"}, {"銀行", "ngan4 hong4"}, {"\xF0\xA0\x80\x80", "ji1"},
             {"一二三四五六七八九十", "jat1 ji6 saam1 sei3 ng5 luk6 cat1 baat3 gau2 sap6"},
             {"空", ""}, {"ABC", "ei1 bi1 si1"},
         }},
        {"char",
         {
             {"一", "jat1"}, {"二", "ji6"}, {"三", "saam1"}, {"四", "sei3"}, {"五", "ng5"},
             {"六", "luk6"}, {"七", "cat1"}, {"八", "baat3"}, {"九", "gau2"}, {"十", "sap6"},
             {"百", "baak3"}, {"千", "cin1"}, {"萬", "maan6"}, {"億", "jik1"}, {"零", "ling4"},
             {"點", "dim2"}, {"元", "jyun4"}, {"人", "jan4"}, {"國", "gwok3"}, {"我", "ngo5"},
             {"行", "hang4"}, {"樂", "lok6"}, {"\xE3\x90\x80", "kau1"},
         }},
        {"word_candidates", {{"銀行", "ngan4 hong4|ngan4 hang4"}, {"中國", "zung1 gwok3||"}}},
        {"char_candidates", {{"行", "hang4|hong4|haang4"}, {"樂", "lok6|ngok6"}, {"一", "|"}}},
        {"word_candidates_confidence", {{"銀行", "ranked"}}},
        {"char_candidates_confidence", {{"行", "tied"}, {"樂", ""}}},
        {"word_source", {{"銀行", "rime"}, {"香港", "oral_hk"}}},
        {"char_source", {{"行", "unihan"}, {"一", "tojyutping"}}},
        {"char_context",
         {
             {"#bias", "500"}, {"#chars", "一樂"}, {"L樂^", "ngok6 900"}, {"B樂我$", "ngok6 600|lok6 -50"},
             {"R樂行", "lok6 -700|ngok6 300"}, {"P樂香港", "ngok6 2000"}, {"N樂中國", "ngok6 1000"},
             {"V樂", "ngok6 800"}, {"v我", ""}, {"L一^", " 700| -1"}, {"R一$", "x 1y"}, {"B一樂$", "|"},
             {"S樂", "P 2000|N 1000|V 800"}, {"S一", "P x|"},
         }},
    };
}

inline UserEntries user_entries() {
    return {
        {"香港人", "hoeng1 gong2 jan4"}, {"我", "ngo5!"}, {"", "empty key"}, {"AB", "user ab"},
        {"一二三四五六七八九十百", "eleven characters"}, {"中 國", "with a space"}, {"樂", ""},
    };
}

// Writes the set into a fresh temporary directory, loads one pipeline from
// it and removes the files again (the mappings outlive them).
inline std::optional<Pipeline> load_test_pipeline(bool punc_norm, UserEntries user) {
    char dir_template[] = "/tmp/merrow-test-set-XXXXXX";
    char* dir = mkdtemp(dir_template);
    if (dir == nullptr) return std::nullopt;
    const auto files = dictionary_files();
    bool written = write_data_dir(dir, files);
    auto loaded = Pipeline::load(dir, punc_norm, std::move(user));
    for (const auto& entry : files) unlink((std::string(dir) + "/" + entry.first + ".bin").c_str());
    rmdir(dir);
    if (!written || !loaded) return std::nullopt;
    return std::move(loaded).value();
}

}  // namespace merrow::testing
