#include "common/utf8.hpp"
#include "dict/lookup/mapped_dict.hpp"
#include "pipeline/pipeline.hpp"
#include "segment/segment.hpp"
#include "segment/token_ref.hpp"

namespace merrow {
namespace {

// A sidecar's label for the key; an entry with an empty value is an empty
// label, only a missing entry (or file) takes the fallback. Sidecars are
// built over the same keys as the table they describe, so the entry index
// found there is tried first.
std::string label(const std::optional<MappedDict>& sidecar, std::string_view key, std::optional<std::uint64_t> hint,
                  const char* fallback) {
    if (!sidecar) return fallback;
    auto value = hint ? sidecar->get_hinted(key, *hint) : sidecar->get(key);
    return value ? std::string(*value) : std::string(fallback);
}

// Index and value of `key` in an optional table.
struct Hit {
    std::uint64_t entry;
    std::string_view value;
};

std::optional<Hit> find_value(const MappedDict* dict, std::string_view key) noexcept {
    if (dict == nullptr) return std::nullopt;
    auto entry = dict->find(key);
    if (!entry) return std::nullopt;
    auto value = dict->value_at(*entry);
    if (!value) return std::nullopt;
    return Hit{*entry, *value};
}

const MappedDict* ptr(const std::optional<MappedDict>& d) noexcept { return d ? &*d : nullptr; }

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
    if (auto hit = find_value(ptr(p.word_candidates), token)) {
        return Resolution{split_candidates(hit->value), label(p.word_candidates_confidence, token, hit->entry, "tied"),
                          label(p.word_source, token, ref.word_entry, "unknown")};
    }
    if (ref.word_entry) {
        if (auto reading = p.word.value_at(*ref.word_entry)) {
            return single(std::string(*reading), "certain", label(p.word_source, token, ref.word_entry, "unknown"));
        }
    }
    if (is_one_char(token)) {
        if (auto hit = find_value(ptr(p.char_candidates), token)) {
            return Resolution{split_candidates(hit->value),
                              label(p.char_candidates_confidence, token, hit->entry, "tied"),
                              label(p.char_source, token, std::nullopt, "unknown")};
        }
        if (auto hit = find_value(&p.char_, token)) {
            return single(std::string(hit->value), "certain", label(p.char_source, token, hit->entry, "unknown"));
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
