#include "segment/context_model.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "text/utf8.hpp"

namespace merrow {
namespace {

// Weights are thousandths of a log-odds unit; anything this large is no
// weight the trainer writes, and bounding it keeps every sum in range.
constexpr std::int64_t kMaxWeight = std::int64_t(1) << 50;
static_assert(999999999999999 < kMaxWeight, "fifteen digits need no check");

// A key assembled in a fixed buffer; one that would not fit is never looked
// up (the trainer writes no such key).
class Key {
public:
    Key(char kind, std::string_view ch) noexcept {
        add(std::string_view(&kind, 1));
        add(ch);
    }
    Key& add(std::string_view s) noexcept {
        if (s.size() > ContextModel::kMaxKeyBytes - size_) {
            fits_ = false;
        } else if (fits_) {
            s.copy(buffer_.data() + size_, s.size());
            size_ += s.size();
        }
        return *this;
    }
    std::optional<std::string_view> view() const noexcept {
        if (!fits_) return std::nullopt;
        return std::string_view(buffer_.data(), size_);
    }

private:
    std::array<char, ContextModel::kMaxKeyBytes> buffer_;
    std::size_t size_ = 0;
    bool fits_ = true;
};

std::string_view first_char(std::string_view s) noexcept { return s.substr(0, utf8::char_length(s, 0)); }

std::string_view last_char(std::string_view s) noexcept {
    std::size_t i = s.size() - 1;
    while (i > 0 && utf8::is_continuation(static_cast<unsigned char>(s[i]))) --i;
    return s.substr(i);
}

// A sentence or clause mark stands for the text's edge: no context is read
// across it, so a text cut after one reads as its pieces do.
bool is_edge_mark(std::string_view token) noexcept {
    const auto* b = reinterpret_cast<const unsigned char*>(token.data());
    if (token.size() == 1) return b[0] == '!' || b[0] == '?' || b[0] == ';';
    if (token.size() != 3) return false;
    if (b[0] == 0xE3 && b[1] == 0x80) return b[2] == 0x81 || b[2] == 0x82;  // 、。
    // ！，；？
    if (b[0] == 0xEF && b[1] == 0xBC) return b[2] == 0x81 || b[2] == 0x8C || b[2] == 0x9B || b[2] == 0x9F;
    return false;
}

bool several_chars(std::string_view s) noexcept { return !s.empty() && utf8::char_length(s, 0) < s.size(); }

using Scores = std::array<std::int64_t, ContextModel::kMaxCandidates>;

// A signed decimal weight at p, ending at '|' or at end; p is left there.
// Nothing when anything else comes first or it is out of range.
[[gnu::always_inline]] inline std::optional<std::int64_t> read_weight(const char*& p, const char* end) noexcept {
    bool negative = false;
    if (p != end && (*p == '-' || *p == '+')) negative = *p++ == '-';
    const char* const digits = p;
    std::int64_t v = 0;
    // Fifteen digits stay below kMaxWeight: only longer numbers are checked.
    const char* const unchecked_end = end - p > 15 ? p + 15 : end;
    for (; p != unchecked_end; ++p) {
        const unsigned d = static_cast<unsigned char>(*p) - unsigned('0');
        if (d > 9) break;
        v = v * 10 + d;
    }
    for (; p != end && *p != '|'; ++p) {
        const unsigned d = static_cast<unsigned char>(*p) - unsigned('0');
        if (d > 9) return std::nullopt;
        v = v * 10 + d;
        if (v > kMaxWeight) return std::nullopt;
    }
    if (p == digits) return std::nullopt;
    return negative ? -v : v;
}

// Adds a feature's weights to the scores of the candidates it names. A
// reading listed twice counts with its last weight; a value that does not
// parse is left out whole.
void add_weights(std::string_view value, const CandidateList& candidates, Scores& scores) noexcept {
    if (value.empty()) return;
    Scores weights{};
    const char* p = value.data();
    const char* const end = p + value.size();
    // The trainer lists readings in the candidates' order (leaving out those
    // weighted 0): the pair names one of the candidates after the last one
    // named, recognised by its bytes and a space under a mask, and its digits
    // follow directly.
    std::size_t next = 0;
    for (;;) {
        const char* const start = p;
        if (candidates.distinct && end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            std::size_t at = next;
            auto names = [&](std::size_t j) {
                return candidates.with_space_mask[j] != 0 &&
                       (word & candidates.with_space_mask[j]) == candidates.with_space[j];
            };
            while (at < candidates.count && !names(at)) ++at;
            if (at < candidates.count) {
                const char* q = p + candidates.items[at].size() + 1;
                if (auto weight = read_weight(q, end)) {
                    weights[at] = *weight;
                    next = at + 1;
                    p = q;
                    if (p == end) break;
                    ++p;
                    continue;
                }
            }
        }
        // Any other pair: up to the next '|', split at its last space.
        const char* space = nullptr;
        for (p = start; p != end && *p != '|'; ++p) {
            if (*p == ' ') space = p;
        }
        const std::string_view reading = space != nullptr ? std::string_view(start, space - start) : std::string_view();
        const char* digits = space != nullptr ? space + 1 : start;
        auto weight = read_weight(digits, p);
        if (!weight) return;
        for (std::size_t j = 0; j < candidates.count; ++j) {
            if (candidates.items[j] == reading) weights[j] = *weight;
        }
        if (p == end) break;
        ++p;
    }
    for (std::size_t j = 0; j < candidates.count; ++j) scores[j] += weights[j];
}

// The spreads of a character's P, N and V features from its S value; a kind
// not listed has none. Nothing when the value is missing or malformed: the
// lookups are then all made.
std::optional<std::array<std::int64_t, 3>> read_spreads(std::optional<std::string_view> value) noexcept {
    if (!value) return std::nullopt;
    std::array<std::int64_t, 3> spreads{};
    const char* p = value->data();
    const char* const end = p + value->size();
    while (p != end) {
        if (end - p < 3 || p[1] != ' ') return std::nullopt;
        const std::size_t kind = p[0] == 'P' ? 0 : p[0] == 'N' ? 1 : p[0] == 'V' ? 2 : 3;
        if (kind == 3) return std::nullopt;
        p += 2;
        auto spread = read_weight(p, end);
        if (!spread || *spread < 0) return std::nullopt;
        spreads[kind] = *spread;
        if (p != end) ++p;
        if (p == end && value->back() == '|') return std::nullopt;
    }
    return spreads;
}

// The highest of `count` scores; a tie keeps the lower rank.
std::size_t leader(const Scores& scores, std::size_t count) noexcept {
    std::size_t best = 0;
    for (std::size_t j = 1; j < count; ++j) {
        if (scores[j] > scores[best]) best = j;
    }
    return best;
}

// Whether the leader among `count` scores stays ahead of every other
// candidate, whatever features moving them apart by at most `still` in all
// come after.
bool settled(const Scores& scores, std::size_t count, std::int64_t still) noexcept {
    const std::size_t best = leader(scores, count);
    for (std::size_t j = 0; j < count; ++j) {
        if (j != best && scores[best] - scores[j] <= still) return false;
    }
    return true;
}

}  // namespace

CandidateList::CandidateList(std::string_view value) noexcept {
    for (;;) {
        std::size_t bar = value.find('|');
        items[count++] = value.substr(0, bar);
        if (bar == std::string_view::npos || count == items.size()) break;
        value.remove_prefix(bar + 1);
    }
    // Readings are compared through their size and first bytes, packed,
    // and in full only when those agree.
    std::array<std::uint64_t, kMaxCandidates> packed;
    for (std::size_t j = 0; j < count; ++j) {
        std::uint64_t v = items[j].size();
        for (std::size_t k = 0; k < items[j].size() && k < 7; ++k) {
            v = v << 8 | static_cast<unsigned char>(items[j][k]);
        }
        packed[j] = v;
    }
    for (std::size_t j = 1; j < count && distinct; ++j) {
        for (std::size_t k = 0; k < j; ++k) {
            if (packed[j] == packed[k] && items[j] == items[k]) distinct = false;
        }
    }
    for (std::size_t j = 0; j < count; ++j) {
        if (items[j].size() > 7) continue;
        unsigned char bytes[8] = {}, mask[8] = {};
        std::memcpy(bytes, items[j].data(), items[j].size());
        bytes[items[j].size()] = ' ';
        std::memset(mask, 0xFF, items[j].size() + 1);
        std::memcpy(&with_space[j], bytes, 8);
        std::memcpy(&with_space_mask[j], mask, 8);
    }
}

bool ContextModel::reads(std::string_view token) const noexcept {
    if (token.empty() || utf8::char_length(token, 0) != token.size()) return false;
    return !chars_ || scored(token) != nullptr;
}

std::optional<ContextModel> ContextModel::open(std::string_view data_dir) {
    std::string path(data_dir);
    if (!path.empty() && path.back() != '/') path.push_back('/');
    path.append(kFileName);
    auto table = MappedDict::open(path);
    if (!table) return std::nullopt;
    std::int64_t bias = 0;
    if (auto value = table.value().get("#bias"); value && !value->empty()) {
        const char* p = value->data();
        auto parsed = read_weight(p, p + value->size());
        if (!parsed || p != value->data() + value->size()) return std::nullopt;
        bias = *parsed;
    }
    std::optional<Bits> chars;
    std::vector<std::uint32_t> ranks;
    std::vector<Scored> scored;
    if (auto value = table.value().get("#chars")) {
        if (!utf8::is_valid(*value)) return std::nullopt;
        chars.emplace();
        for (std::size_t pos = 0; pos < value->size();) {
            const std::size_t start = pos;
            const char32_t c = utf8::decode(*value, pos);
            if (c / 64 >= chars->size()) chars->resize(c / 64 + 1);
            if ((*chars)[c / 64] >> (c % 64) & 1) continue;  // listed twice
            (*chars)[c / 64] |= std::uint64_t(1) << (c % 64);
            const std::string_view character = value->substr(start, pos - start);
            const Key with_verb('V', character);  // outlives the view of it
            auto key = with_verb.view();
            const Key with_spreads('S', character);
            auto spreads_key = with_spreads.view();
            std::optional<std::array<std::uint32_t, 5>> states;
            if (table.value().indexed()) {
                states.emplace();
                for (std::size_t k = 0; k < kKinds.size(); ++k) {
                    const Key prefix(kKinds[k], character);
                    auto bytes = prefix.view();
                    auto state = bytes ? table.value().index_state(*bytes) : std::nullopt;
                    (*states)[k] = state.value_or(kNoKey);
                }
            }
            scored.push_back(Scored{c, key ? table.value().get(*key) : std::nullopt,
                                    spreads_key ? read_spreads(table.value().get(*spreads_key)) : std::nullopt,
                                    states, std::nullopt, {}});
        }
        // scored_ in code point order, as the bits count them.
        std::sort(scored.begin(), scored.end(), [](const Scored& x, const Scored& y) { return x.code < y.code; });
        ranks.resize(chars->size());
        std::uint32_t before = 0;
        for (std::size_t w = 0; w < chars->size(); ++w) {
            ranks[w] = before;
            before += static_cast<std::uint32_t>(std::popcount((*chars)[w]));
        }
    }
    return ContextModel(std::move(table).value(), bias, std::move(chars), std::move(ranks), std::move(scored));
}

const ContextModel::Scored* ContextModel::scored(std::string_view token) const noexcept {
    if (!chars_ || token.empty() || utf8::char_length(token, 0) != token.size()) return nullptr;
    std::size_t pos = 0;
    const char32_t c = utf8::decode(token, pos);
    if (c / 64 >= chars_->size()) return nullptr;
    const std::uint64_t word = (*chars_)[c / 64];
    const std::uint64_t bit = std::uint64_t(1) << (c % 64);
    if ((word & bit) == 0) return nullptr;
    return &scored_[ranks_[c / 64] + std::popcount(word & (bit - 1))];
}

// Keys share their kind and character with many others: through the memo,
// the range of those two is remembered and only the rest is searched.
std::optional<std::string_view> ContextModel::lookup(std::string_view key, PrefixRanges* ranges) const noexcept {
    // With the file's trie index, a lookup walks the key's few characters.
    if (ranges == nullptr || table_.indexed()) return table_.get(key);
    auto match = table_.longest_prefix(key, kMaxKeyBytes, ranges);
    if (!match || match->length != key.size()) return std::nullopt;
    return table_.value_at(match->entry);
}

std::size_t ContextModel::choose(std::string_view token, const Neighbours& around, std::string_view candidates,
                                 PrefixRanges* ranges) const noexcept {
    return score(token, around, CandidateList(candidates), scored(token), ranges);
}

std::size_t ContextModel::choose(const Scored& scored, std::string_view token, const Neighbours& around,
                                 PrefixRanges* ranges) const noexcept {
    return score(token, around, scored.list, &scored, ranges);
}

// `scored`: what was found at opening for the token's character (its V
// value and spreads), or nullptr, and V is looked up here.
std::size_t ContextModel::score(std::string_view token, const Neighbours& around, const CandidateList& pieces,
                                const Scored* scored, PrefixRanges* ranges) const noexcept {
    if (pieces.count < 2 || token.empty()) return 0;
    Scores scores{};
    scores[0] = bias_;
    const std::string_view left = is_edge_mark(around.before) ? std::string_view() : around.before;
    const std::string_view right = is_edge_mark(around.after) ? std::string_view() : around.after;
    const std::string_view before = left.empty() ? std::string_view("^") : last_char(left);
    const std::string_view after = right.empty() ? std::string_view("$") : first_char(right);
    // The value of a feature key of kind kKinds[kind].
    auto find = [&](std::size_t kind, const Key& key) -> std::optional<std::string_view> {
        auto k = key.view();
        if (!k) return std::nullopt;
        if (scored == nullptr || !scored->states) return lookup(*k, ranges);
        const std::uint32_t state = (*scored->states)[kind];
        if (state == kNoKey) return std::nullopt;
        auto entry = table_.find_after(state, *k, 1 + token.size());
        return entry ? table_.value_at(*entry) : std::nullopt;
    };
    auto feature = [&](std::size_t kind, const Key& key) {
        if (auto value = find(kind, key)) add_weights(*value, pieces, scores);
    };
    // A B value found holds the weights of L and R as well.
    if (auto both = find(0, Key('B', token).add(before).add(after))) {
        add_weights(*both, pieces, scores);
    } else {
        feature(1, Key('L', token).add(before));
        feature(2, Key('R', token).add(after));
    }
    std::optional<std::string_view> verb_value;
    if (!left.empty()) {
        // Few characters have a V feature: the verb is looked up only for them.
        if (scored != nullptr) {
            verb_value = scored->verb_value;
        } else {
            const Key with_verb('V', token);
            if (auto key = with_verb.view()) verb_value = lookup(*key, ranges);
        }
    }
    const bool with_p = several_chars(left), with_n = several_chars(right), with_v = verb_value.has_value();
    // With the spreads known, the lookups stop once no feature still to come
    // can change the leader.
    const std::array<std::int64_t, 3>* spreads = scored != nullptr && scored->spreads ? &*scored->spreads : nullptr;
    auto settled_before = [&](bool p, bool n, bool v) {
        if (spreads == nullptr) return false;
        const std::int64_t still = (p ? (*spreads)[0] : 0) + (n ? (*spreads)[1] : 0) + (v ? (*spreads)[2] : 0);
        return settled(scores, pieces.count, still);
    };
    if (settled_before(with_p, with_n, with_v)) return leader(scores, pieces.count);
    if (with_p) feature(3, Key('P', token).add(left));
    if (settled_before(false, with_n, with_v)) return leader(scores, pieces.count);
    if (with_n) feature(4, Key('N', token).add(right));
    if (settled_before(false, false, with_v)) return leader(scores, pieces.count);
    if (with_v) {
        const Key verb('v', left);
        if (auto v = verb.view(); v && lookup(*v, ranges)) add_weights(*verb_value, pieces, scores);
    }
    return leader(scores, pieces.count);
}

std::string_view ContextModel::piece(std::string_view candidates, std::size_t rank) noexcept {
    for (; rank > 0; --rank) {
        std::size_t bar = candidates.find('|');
        if (bar == std::string_view::npos) return {};
        candidates.remove_prefix(bar + 1);
    }
    return candidates.substr(0, candidates.find('|'));
}

void ContextModel::promote(std::string& out, std::string_view candidates, std::size_t rank) {
    std::string_view winner = piece(candidates, rank);
    out.append(winner);
    std::size_t at = 0;
    for (std::size_t j = 0;; ++j) {
        std::size_t bar = candidates.find('|', at);
        std::size_t end = bar == std::string_view::npos ? candidates.size() : bar;
        if (j != rank) {
            out.push_back('|');
            out.append(candidates.substr(at, end - at));
        }
        if (bar == std::string_view::npos) return;
        at = bar + 1;
    }
}

}  // namespace merrow
