// The three conversion flavours over one shared token loop.
#include "common/utf8.hpp"
#include "normalizer/tokenize.hpp"
#include "pipeline/pipeline.hpp"
#include "segment/segment.hpp"

namespace merrow {

const char* classify_lang(std::string_view token) noexcept {
    if (contains_han(token)) return "yue";
    for (unsigned char b : token) {
        bool alnum = (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
        if (!alnum) return "punct";
    }
    return "en";
}

std::string convert(const Pipeline& p, std::string_view text) {
    if (text.empty()) return {};
    std::vector<std::string> tokens = tokenize(p, text);
    if (tokens.empty()) return {};
    std::vector<std::string> pieces;
    pieces.reserve(tokens.size());
    std::size_t length = tokens.size() - 1;
    for (const std::string& token : tokens) {
        pieces.push_back(plain_reading(token, p.word, p.char_, p.user_dict));
        length += pieces.back().size();
    }
    std::string out;
    out.reserve(length);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) out.push_back(' ');
        out.append(pieces[i]);
    }
    return out;
}

namespace {

// Runs resolve_token over the tokens of `text`, handing each record's parts
// to `emit` in token order.
template <class Record, class Make>
std::vector<Record> resolve_all(const Pipeline& p, std::string_view text, Make make) {
    std::vector<Record> records;
    if (text.empty()) return records;
    std::vector<std::string> tokens = tokenize(p, text);
    records.reserve(tokens.size());
    for (std::string& token : tokens) {
        Resolution r = resolve_token(p, token);
        const char* lang = classify_lang(token);
        records.push_back(make(std::move(token), std::move(r), lang));
    }
    return records;
}

}  // namespace

std::vector<DetailedToken> convert_detailed(const Pipeline& p, std::string_view text) {
    return resolve_all<DetailedToken>(p, text, [](std::string token, Resolution r, const char* lang) {
        return DetailedToken{std::move(token), std::move(r.candidates.front()), lang, std::move(r.confidence),
                             std::move(r.source)};
    });
}

std::vector<CandidateToken> convert_candidates(const Pipeline& p, std::string_view text) {
    return resolve_all<CandidateToken>(p, text, [](std::string token, Resolution r, const char* lang) {
        return CandidateToken{std::move(token), std::move(r.candidates), lang, std::move(r.confidence),
                              std::move(r.source)};
    });
}

}  // namespace merrow
