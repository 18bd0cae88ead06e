#include "common/utf8.hpp"
#include "dict/lookup/mapped_dict.hpp"
#include "pipeline/pipeline.hpp"
#include "segment/segment.hpp"
#include "segment/token_ref.hpp"

namespace merrow {
namespace {

std::optional<std::string_view> lookup(const std::optional<MappedDict>& dict, std::string_view key) noexcept {
    return dict ? dict->get(key) : std::nullopt;
}

// A sidecar's label for the key; an entry with an empty value is an empty
// label, only a missing entry (or file) takes the fallback.
std::string label(const std::optional<MappedDict>& sidecar, std::string_view key, const char* fallback) {
    auto value = lookup(sidecar, key);
    return value ? std::string(*value) : std::string(fallback);
}

bool is_one_char(std::string_view token) noexcept {
    return !token.empty() && utf8::char_length(token, 0) == token.size();
}

Resolution single(std::string reading, std::string confidence, std::string source) {
    Resolution r;
    r.candidates.push_back(std::move(reading));
    r.confidence = std::move(confidence);
    r.source = std::move(source);
    return r;
}

}  // namespace

std::vector<std::string> split_candidates(std::string_view value) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        std::size_t bar = value.find('|', start);
        if (bar == std::string_view::npos) {
            out.emplace_back(value.substr(start));
            return out;
        }
        out.emplace_back(value.substr(start, bar - start));
        start = bar + 1;
    }
}

Resolution resolve_token(const Pipeline& p, const TokenRef& ref) {
    std::string_view token = ref.text;
    if (!ref.han) return single(std::string(token), "certain", "passthrough");
    if (!p.user_dict.empty()) {
        if (auto reading = p.user_dict.get(token)) return single(std::string(*reading), "certain", "user_dict");
    }
    if (auto value = lookup(p.word_candidates, token)) {
        return Resolution{split_candidates(*value), label(p.word_candidates_confidence, token, "tied"),
                          label(p.word_source, token, "unknown")};
    }
    if (ref.word_entry) {
        if (auto reading = p.word.value_at(*ref.word_entry)) {
            return single(std::string(*reading), "certain", label(p.word_source, token, "unknown"));
        }
    }
    if (is_one_char(token)) {
        if (auto value = lookup(p.char_candidates, token)) {
            return Resolution{split_candidates(*value), label(p.char_candidates_confidence, token, "tied"),
                              label(p.char_source, token, "unknown")};
        }
        if (auto reading = p.char_.get(token)) {
            return single(std::string(*reading), "certain", label(p.char_source, token, "unknown"));
        }
    }
    std::string reading;
    append_plain_reading(reading, ref, p.word, p.char_, p.user_dict);
    const char* source = reading == token ? "unresolved" : "char_fallback";
    return single(std::move(reading), "certain", source);
}

Resolution resolve_token(const Pipeline& p, std::string_view token) {
    return resolve_token(p, describe_token(token, p.word));
}

}  // namespace merrow
