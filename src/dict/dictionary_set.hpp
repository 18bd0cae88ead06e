// The eight tables of a data directory: word.bin and char.bin, required, and
// six optional sidecars of candidates, confidence and source labels.
#pragma once

#include <optional>
#include <string_view>

#include "common/result.hpp"
#include "dict/lookup/mapped_dict.hpp"

namespace merrow {

struct DictionarySet {
    MappedDict word;
    MappedDict character;  // char.bin
    std::optional<MappedDict> word_candidates;
    std::optional<MappedDict> char_candidates;
    std::optional<MappedDict> word_candidates_confidence;
    std::optional<MappedDict> char_candidates_confidence;
    std::optional<MappedDict> word_source;
    std::optional<MappedDict> char_source;

    // Maps the required tables and whichever sidecars open. The error is the
    // first required table's that failed; a sidecar that fails is left out.
    static Result<DictionarySet> load(std::string_view data_dir);

    // Whether `text` lies within one of the mapped tables.
    bool holds(std::string_view text) const noexcept {
        auto in = [&](const std::optional<MappedDict>& d) { return d && d->holds(text); };
        return word.holds(text) || character.holds(text) || in(word_candidates) || in(char_candidates) ||
               in(word_source) || in(char_source) || in(word_candidates_confidence) ||
               in(char_candidates_confidence);
    }
};

}  // namespace merrow
