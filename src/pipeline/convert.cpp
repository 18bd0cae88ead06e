// The three conversion flavours. Tokens are views into the normalised text
// that carry the segmenter's word.bin entry, so readings are not searched
// for a second time and only what a result keeps is copied.
#include "pipeline/convert.hpp"

#include "normalizer/tokenize.hpp"
#include "pipeline/record_stream.hpp"
#include "pipeline/token_memo.hpp"
#include "pipeline/token_window.hpp"
#include "segment/context_model.hpp"
#include "segment/plain_reading.hpp"
#include "segment/resolve.hpp"
#include "text/char_class.hpp"

namespace merrow {

Label classify_lang(std::string_view token) noexcept {
    if (contains_han(token)) return Label::yue;
    for (unsigned char b : token) {
        if (!is_ascii_alnum(b)) return Label::punct;
    }
    return Label::en;
}


namespace {

// The reading the context model moves first for a one-character token;
// nothing when rank 0 keeps its place. The model lists the
// characters it scores with their candidates (resolve_token's choice among
// the word files and char_candidates.bin), found when the pipeline was
// loaded; a reading from the user dictionary is never reordered.
std::optional<std::string_view> context_reading(const Pipeline& p, const TokenRef& t,
                                                const Neighbours& around) noexcept {
    if (!p.user_dict().empty() && p.user_dict().get(t.text)) return std::nullopt;
    const ContextModel& model = *p.context();
    std::size_t rank = 0;
    std::optional<std::string_view> candidates;
    if (const ContextModel::Scored* scored = model.scored(t.text)) {
        candidates = scored->candidates;
        if (candidates) rank = model.choose(*scored, t.text, around, t.ranges);
    } else {
        candidates = one_char_candidates(p.tables(), t);
        if (candidates) rank = model.choose(t.text, around, *candidates, t.ranges);
    }
    if (rank == 0) return std::nullopt;
    return ContextModel::piece(*candidates, rank);
}

}  // namespace

std::string convert(const Pipeline& p, std::string_view text, PrefixRanges* ranges) {
    std::string out;
    if (text.empty()) return out;
    out.reserve(text.size() * 2);
    TokenMemo memo(text.size());  // token -> where its reading starts in `out`, and its length
    bool first = true;
    // `around` is given for the tokens the model reads. Where it moves a
    // candidate first, the reading depends on the neighbours and is not
    // memoised as the token's.
    auto piece = [&](const TokenRef& t, const Neighbours* around) {
        if (!first) out.push_back(' ');
        first = false;
        if (!t.han) {
            out.append(t.text);
            return;
        }
        if (around != nullptr) {
            if (auto reading = context_reading(p, t, *around)) {
                out.append(*reading);
                return;
            }
        }
        if (const std::uint64_t* seen = memo.find(t.text)) {
            out.append(out, *seen >> 32, *seen & 0xFFFFFFFFu);
            return;
        }
        std::size_t start = out.size();
        plain_reading(out, t, p.word(), p.character(), p.user_dict());
        std::size_t length = out.size() - start;
        if (start <= 0xFFFFFFFFu && length <= 0xFFFFFFFFu) memo.remember(t.text, (std::uint64_t(start) << 32) | length);
    };
    if (const ContextModel* model = p.context()) {
        auto wants = [model](const TokenRef& t) { return t.han && model->reads(t.text); };
        for_each_token_around(p.punc_norm(), p.word(), p.user_dict(), text, wants, piece, ranges);
    } else {
        for_each_token(p.punc_norm(), p.word(), p.user_dict(), text, [&](const TokenRef& t) { piece(t, nullptr); },
                       ranges);
    }
    return out;
}

namespace {

// The records of `text`; make(record) builds each new one, copying from the
// views only what the record keeps, and a repeated token's record is copied
// from its first.
template <class Record, class Make>
std::vector<Record> resolve_all(const Pipeline& p, std::string_view text, PrefixRanges* ranges,
                                Make make) {
    std::vector<Record> records;
    if (text.empty()) return records;
    records.reserve(text.size() / 4 + 1);  // a guess: about one token per two Han characters
    for_each_record(p, text, [&](const RecordRef& r) {
        if (r.earlier != RecordRef::kNoEarlier) records.push_back(records[r.earlier]);
        else records.push_back(make(r));
    }, ranges);
    return records;
}

}  // namespace

std::vector<DetailedToken> convert_detailed(const Pipeline& p, std::string_view text,
                                            PrefixRanges* ranges) {
    auto make = [](const RecordRef& r) {
        return DetailedToken{std::string(r.token), std::string(r.first_reading()), std::string(label_name(r.lang)),
                             std::string(r.confidence.text), std::string(r.source.text)};
    };
    return resolve_all<DetailedToken>(p, text, ranges, make);
}

std::vector<CandidateToken> convert_candidates(const Pipeline& p, std::string_view text,
                                               PrefixRanges* ranges) {
    auto make = [](const RecordRef& r) {
        return CandidateToken{std::string(r.token),
                              r.is_list ? split_candidates(r.reading) : std::vector<std::string>{std::string(r.reading)},
                              std::string(label_name(r.lang)), std::string(r.confidence.text),
                              std::string(r.source.text)};
    };
    return resolve_all<CandidateToken>(p, text, ranges, make);
}

}  // namespace merrow
