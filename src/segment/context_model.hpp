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
// trainer leaves out the features of every other character. "S<char>" gives
// the spreads of a listed character's P, N and V features ("P 900|N 300"):
// how far one such feature can move two candidates apart, so that those
// lookups stop once they can no longer change the leader.
#pragma once

#include <array>
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

// A candidates value (readings joined by '|') split into its readings, at
// most kMaxCandidates of them.
struct CandidateList {
    static constexpr std::size_t kMaxCandidates = 16;
    std::array<std::string_view, kMaxCandidates> items;
    std::size_t count = 0;
    // No reading is listed twice: a weight's reading then names one item.
    bool distinct = true;
    // Each reading of up to seven bytes followed by a space, as eight bytes
    // loaded from a value compare to it under its mask (0 for longer ones).
    std::array<std::uint64_t, kMaxCandidates> with_space{};
    std::array<std::uint64_t, kMaxCandidates> with_space_mask{};

    CandidateList() noexcept = default;
    explicit CandidateList(std::string_view value) noexcept;
};

class ContextModel {
public:
    static constexpr std::string_view kFileName = "char_context.bin";
    // Longest key looked up: the size of the key buffer.
    static constexpr std::size_t kMaxKeyBytes = 64;
    // Candidates beyond this many take no part.
    static constexpr std::size_t kMaxCandidates = CandidateList::kMaxCandidates;

    // What the model needs of one character it scores, found once per
    // pipeline rather than on every token: its V value, and the candidates
    // it chooses among (those that resolution gives the one-character token
    // when the user dictionary does not hold it), already split.
    static constexpr std::string_view kKinds = "BLRPN";
    static constexpr std::uint32_t kNoKey = 0xFFFFFFFF;
    struct Scored {
        char32_t code;
        std::optional<std::string_view> verb_value;
        // The spreads of its P, N and V features (its S key): how far one
        // such feature can move two candidates apart; nothing when unknown.
        std::optional<std::array<std::int64_t, 3>> spreads;
        // With the file's trie index: where its walk stands after the kind
        // byte and the character, for the kinds of kKinds (kNoKey when no
        // key starts so), so that a lookup walks only the context.
        std::optional<std::array<std::uint32_t, 5>> states;
        std::optional<std::string_view> candidates;
        CandidateList list;
    };

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
    // found), no allocation; a file without a trie index is searched through
    // the conversion's memo of key ranges.
    std::size_t choose(std::string_view token, const Neighbours& around, std::string_view candidates,
                       PrefixRanges* ranges = nullptr) const noexcept;
    // The same for a character the model lists, among its candidates found
    // at loading (scored.candidates, which must be set).
    std::size_t choose(const Scored& scored, std::string_view token, const Neighbours& around,
                       PrefixRanges* ranges = nullptr) const noexcept;

    // The entry of a character the file lists in "#chars"; nullptr for any
    // other token, and for every token of a file without "#chars".
    const Scored* scored(std::string_view token) const noexcept;
    // Fills in every listed character's candidates: candidates_of(character)
    // gives its candidates value or nothing. Called once, by the pipeline
    // that owns the model, before any conversion.
    template <class CandidatesOf>
    void find_candidates(CandidatesOf&& candidates_of) {
        for (Scored& s : scored_) {
            s.candidates = candidates_of(s.code);
            if (s.candidates) s.list = CandidateList(*s.candidates);
        }
    }

    // Appends `candidates` with its piece `rank` moved to the front.
    static void promote(std::string& out, std::string_view candidates, std::size_t rank);
    // The piece `rank` of a candidates value.
    static std::string_view piece(std::string_view candidates, std::size_t rank) noexcept;

private:
    std::optional<std::string_view> lookup(std::string_view key, PrefixRanges* ranges) const noexcept;

    using Bits = std::vector<std::uint64_t>;  // one bit per code point up to the highest set
    ContextModel(MappedDict table, std::int64_t bias, std::optional<Bits> chars, std::vector<std::uint32_t> ranks,
                 std::vector<Scored> scored) noexcept
        : table_(std::move(table)),
          bias_(bias),
          chars_(std::move(chars)),
          ranks_(std::move(ranks)),
          scored_(std::move(scored)) {}
    std::size_t score(std::string_view token, const Neighbours& around, const CandidateList& candidates,
                      const Scored* scored, PrefixRanges* ranges) const noexcept;

    MappedDict table_;
    std::int64_t bias_;
    // The characters scored; nothing = every character.
    std::optional<Bits> chars_;
    // With chars_: how many characters the words of chars_ before each one
    // hold, so that a character's place in scored_ is one count away.
    std::vector<std::uint32_t> ranks_;
    std::vector<Scored> scored_;
};

}  // namespace merrow
