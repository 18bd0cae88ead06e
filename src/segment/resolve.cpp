#include "segment/resolve.hpp"

#include <cstdint>

#include "segment/plain_reading.hpp"
#include "text/utf8.hpp"

namespace merrow {
namespace {

// A sidecar's label for the key; an entry with an empty value is an empty
// label, only a missing entry (or file) takes the fallback. Sidecars are
// built over the same keys as the table they describe, so the entry index
// found there is tried first.
LabelText label(const std::optional<MappedDict>& sidecar, const TokenRef& ref, std::optional<std::uint64_t> hint,
               Label fallback) noexcept {
    if (!sidecar) return LabelText::of(fallback);
    auto value = hint ? sidecar->get_hinted(ref.text, *hint, ref.ranges) : sidecar->get(ref.text, ref.ranges);
    return value ? LabelText::find(*value) : LabelText::of(fallback);
}

// Index and value of `key` in an optional table.
struct Hit {
    std::uint64_t entry;
    std::string_view value;
};

std::optional<Hit> find_value(const MappedDict* dict, const TokenRef& ref) noexcept {
    if (dict == nullptr) return std::nullopt;
    auto entry = dict->find(ref.text, ref.ranges);
    if (!entry) return std::nullopt;
    auto value = dict->value_at(*entry);
    if (!value) return std::nullopt;
    return Hit{*entry, *value};
}

// The key of a found entry: the token's bytes in the table.
std::string_view key_in(const MappedDict& dict, const Hit& hit) noexcept {
    return dict.key_of(hit.entry).value_or(std::string_view());
}

const MappedDict* ptr(const std::optional<MappedDict>& d) noexcept { return d ? &*d : nullptr; }

bool is_one_char(std::string_view token) noexcept {
    return !token.empty() && utf8::char_length(token, 0) == token.size();
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

std::optional<std::string_view> one_char_candidates(const DictionarySet& tables, const TokenRef& ref) noexcept {
    if (auto hit = find_value(ptr(tables.word_candidates), ref)) return hit->value;
    if (ref.word_entry && tables.word.value_at(*ref.word_entry)) return std::nullopt;
    if (auto hit = find_value(ptr(tables.char_candidates), ref)) return hit->value;
    return std::nullopt;
}

namespace {

using Found = ResolutionMemo::Found;
using Kind = ResolutionMemo::Kind;

// What the tables answer for a Han token the user dictionary does not hold,
// and where: kind none when the answer is the character-by-character
// reading, which is computed, not found.
Kind resolve_in_tables(const DictionarySet& tables, const UserDict& user_dict, const TokenRef& ref,
                       Resolution& out, std::uint64_t& entry) {
    std::string_view token = ref.text;
    if (auto hit = find_value(ptr(tables.word_candidates), ref)) {
        out.value = hit->value;
        out.is_list = true;
        out.confidence = label(tables.word_candidates_confidence, ref, hit->entry, Label::tied);
        out.source = label(tables.word_source, ref, ref.word_entry, Label::unknown);
        entry = hit->entry;
        return Kind::word_candidates;
    }
    if (ref.word_entry) {
        if (auto reading = tables.word.value_at(*ref.word_entry)) {
            out.value = *reading;
            out.source = label(tables.word_source, ref, ref.word_entry, Label::unknown);
            entry = *ref.word_entry;
            return Kind::word;
        }
    }
    if (is_one_char(token)) {
        if (auto hit = find_value(ptr(tables.char_candidates), ref)) {
            out.value = hit->value;
            out.is_list = true;
            out.char_key = key_in(*tables.char_candidates, *hit);
            out.confidence = label(tables.char_candidates_confidence, ref, hit->entry, Label::tied);
            out.source = label(tables.char_source, ref, std::nullopt, Label::unknown);
            entry = hit->entry;
            return Kind::char_candidates;
        }
        if (auto hit = find_value(&tables.character, ref)) {
            out.value = hit->value;
            out.char_key = key_in(tables.character, *hit);
            out.source = label(tables.char_source, ref, hit->entry, Label::unknown);
            entry = hit->entry;
            return Kind::character;
        }
    }
    out.computed.clear();
    plain_reading(out.computed, ref, tables.word, tables.character, user_dict);
    out.value = out.computed;
    out.source = LabelText::of(out.computed == token ? Label::unresolved : Label::char_fallback);
    return Kind::none;
}

const MappedDict* table_of(const DictionarySet& tables, Kind kind) noexcept {
    switch (kind) {
        case Kind::word_candidates: return ptr(tables.word_candidates);
        case Kind::word: return &tables.word;
        case Kind::char_candidates: return ptr(tables.char_candidates);
        case Kind::character: return &tables.character;
        case Kind::none: break;
    }
    return nullptr;
}

// The resolution a memo slot describes, read from the entry it names; false,
// with out untouched, when that entry does not read.
bool recall(const DictionarySet& tables, const Found& found, Resolution& out) noexcept {
    const MappedDict* table = table_of(tables, found.kind);
    if (table == nullptr) return false;
    auto value = table->value_at(found.entry);
    if (!value) return false;
    out.value = *value;
    out.is_list = found.kind == Kind::word_candidates || found.kind == Kind::char_candidates;
    if (found.kind == Kind::char_candidates || found.kind == Kind::character) {
        out.char_key = table->key_of(found.entry).value_or(std::string_view());
    }
    out.confidence = LabelText::of(found.confidence);
    out.source = LabelText::of(found.source);
    return true;
}

}  // namespace

void resolve_token(const DictionarySet& tables, const UserDict& user_dict, const TokenRef& ref, Resolution& out,
                   const ResolutionMemo* memo) {
    std::string_view token = ref.text;
    out.is_list = false;
    out.char_key = {};
    out.confidence = LabelText::of(Label::certain);
    if (!ref.han) {
        out.value = token;
        out.source = LabelText::of(Label::passthrough);
        return;
    }
    if (!user_dict.empty()) {
        if (auto reading = user_dict.get(token)) {
            out.value = *reading;
            out.source = LabelText::of(Label::user_dict);
            return;
        }
    }
    // A token is memoised by its word entry, or as one character that is no
    // word; the tables' answer for it depends on nothing else.
    char32_t c = 0;
    if (memo != nullptr && !ref.word_entry && is_one_char(token)) {
        std::size_t pos = 0;
        c = utf8::decode(token, pos);
    }
    const bool memoised = memo != nullptr && (ref.word_entry || c != 0);
    if (memoised) {
        const auto known = ref.word_entry ? memo->for_word(*ref.word_entry) : memo->for_char(c);
        if (known && recall(tables, *known, out)) return;
    }
    std::uint64_t entry = 0;
    const Kind kind = resolve_in_tables(tables, user_dict, ref, out, entry);
    // Labels outside the standard set are text in a sidecar: not memoised.
    if (!memoised || kind == Kind::none || entry > UINT32_MAX || out.confidence.id == Label::other ||
        out.source.id == Label::other) {
        return;
    }
    const Found found{kind, static_cast<std::uint32_t>(entry), out.confidence.id, out.source.id};
    if (ref.word_entry) {
        memo->remember_word(*ref.word_entry, found);
    } else {
        memo->remember_char(c, found);
    }
}

}  // namespace merrow
