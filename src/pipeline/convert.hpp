// The three conversion flavours of one text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "dict/lookup/prefix_ranges.hpp"
#include "pipeline/pipeline.hpp"
#include "segment/label.hpp"

namespace merrow {

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

// With `ranges`, the dictionary searches go through that memo instead of
// one of the conversion's own, so a caller converting many texts on one
// thread can carry what one text's searches found over to the next (see
// BatchPrefixRanges). The results are the same either way.
std::string convert(const Pipeline& pipeline, std::string_view text, PrefixRanges* ranges = nullptr);
std::vector<DetailedToken> convert_detailed(const Pipeline& pipeline, std::string_view text,
                                            PrefixRanges* ranges = nullptr);
std::vector<CandidateToken> convert_candidates(const Pipeline& pipeline, std::string_view text,
                                               PrefixRanges* ranges = nullptr);

// Label::yue, Label::en or Label::punct, from the token's characters alone.
Label classify_lang(std::string_view token) noexcept;

}  // namespace merrow
