// The conversion engine: the loaded dictionary set, the user dictionary, the
// punctuation switch, and the three conversion flavours.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.hpp"
#include "dict/lookup/mapped_dict.hpp"
#include "segment/label.hpp"
#include "user_dict/user_dict.hpp"

namespace merrow {

struct Pipeline {
    MappedDict word;
    MappedDict char_;
    std::optional<MappedDict> word_candidates;
    std::optional<MappedDict> char_candidates;
    std::optional<MappedDict> word_candidates_confidence;
    std::optional<MappedDict> char_candidates_confidence;
    std::optional<MappedDict> word_source;
    std::optional<MappedDict> char_source;
    UserDict user_dict;
    bool punc_norm = true;

    // Maps word.bin and char.bin (required) and the six optional sidecars
    // found in data_dir. The error names the first required file that failed.
    static Result<Pipeline> load(std::string_view data_dir, bool punc_norm, UserEntries user_dict);
};

struct DetailedToken {
    std::string token;
    std::string jyutping;
    std::string lang;
    std::string confidence;
    std::string source;
};

struct CandidateToken {
    std::string token;
    std::vector<std::string> candidate_readings;
    std::string lang;
    std::string confidence;
    std::string source;
};

// The three flavours. With `ranges`, the dictionary searches go through
// that memo instead of one of the conversion's own, so a caller converting
// many texts on one thread can carry what one text's searches found over to
// the next (see BatchPrefixRanges). The results are the same either way.
std::string convert(const Pipeline& pipeline, std::string_view text, MappedDict::PrefixRanges* ranges = nullptr);
std::vector<DetailedToken> convert_detailed(const Pipeline& pipeline, std::string_view text,
                                            MappedDict::PrefixRanges* ranges = nullptr);
std::vector<CandidateToken> convert_candidates(const Pipeline& pipeline, std::string_view text,
                                               MappedDict::PrefixRanges* ranges = nullptr);

// Label::yue, Label::en or Label::punct, from the token's characters alone.
Label lang_of(std::string_view token) noexcept;
// The name of lang_of(token): "yue", "en" or "punct".
const char* classify_lang(std::string_view token) noexcept;

}  // namespace merrow
