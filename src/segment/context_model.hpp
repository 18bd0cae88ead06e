// The context model for one-character tokens (char_context.bin, trained by
// tools/train_context_model.py): reorders the candidate readings of a
// polyphonic character from its neighbours. It only chooses among the
// token's own candidates; it never adds a reading.
//
// The file is a CJYP table keyed by feature: a kind byte, the token's
// character, then the kind's context (L: the character before, "^" at the
// start; R: the character after, "$" at the end; B: both; P, N: the previous
// or next token when it has two or more characters; V: nothing, looked up
// when the previous token is verb-like, i.e. "v<token>" is a key). A feature's
// value lists "reading weight" pairs joined by '|'; "#bias" holds the bonus
// of the rank-0 candidate. A B value that is found also holds the weights of
// its L and R keys, which are then not looked up. The highest total wins,
// ties keep the lower rank. A neighbour that is a sentence or clause mark
// (。，！？；、!?;) counts as the text's edge.
// "#chars", when present, lists the only characters the model scores: the
// trainer leaves out the features of every character no context can change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dict/lookup/mapped_dict.hpp"

namespace merrow {

// The tokens around one token of a text; empty at the text's edges (tokens
// are never empty).
struct Neighbours {
    std::string_view before;
    std::string_view after;
};

class ContextModel {
public:
    static constexpr std::string_view kFileName = "char_context.bin";
    // Longest key looked up: the size of the key buffer.
    static constexpr std::size_t kMaxKeyBytes = 64;
    // Candidates beyond this many take no part.
    static constexpr std::size_t kMaxCandidates = 16;

    // Whether the model reads `token`: one character the file scores (its
    // caller also wants a Han token with a list of candidates not from the
    // user dictionary). Most tokens stop here, after one bit test.
    bool reads(std::string_view token) const noexcept;

    // The model of `data_dir`; nothing when the file is missing, is no CJYP
    // table, or its bias is no integer.
    static std::optional<ContextModel> open(std::string_view data_dir);

    // The rank of the candidate that wins for the one-character `token`,
    // given the candidates value (readings joined by '|') and the
    // neighbours; 0 keeps the order. At most 7 lookups (5 when the B key is
    // found), no allocation; with the conversion's memo of key ranges, a
    // feature kind and character seen before in the text need no search
    // over the whole table.
    std::size_t choose(std::string_view token, const Neighbours& around, std::string_view candidates,
                       PrefixRanges* ranges = nullptr) const noexcept;

    // Appends `candidates` with its piece `rank` moved to the front.
    static void promote(std::string& out, std::string_view candidates, std::size_t rank);
    // The piece `rank` of a candidates value.
    static std::string_view piece(std::string_view candidates, std::size_t rank) noexcept;

private:
    std::optional<std::string_view> lookup(std::string_view key, PrefixRanges* ranges) const noexcept;

    using Bits = std::vector<std::uint64_t>;  // one bit per code point up to the highest set
    ContextModel(MappedDict table, std::int64_t bias, std::optional<Bits> chars, std::optional<Bits> verbs) noexcept
        : table_(std::move(table)), bias_(bias), chars_(std::move(chars)), verbs_(std::move(verbs)) {}
    static bool has(const Bits& bits, std::string_view token) noexcept;

    MappedDict table_;
    std::int64_t bias_;
    // The characters scored; nothing = every character.
    std::optional<Bits> chars_;
    // Those of them that have a V key, found once at opening, so that the
    // others look up neither it nor the verb; nothing = not known.
    std::optional<Bits> verbs_;
};

}  // namespace merrow
