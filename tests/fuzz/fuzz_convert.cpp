// The three conversion flavours on arbitrary text, against a dictionary set
// with candidates, labels, multi-character words and a user dictionary. All
// output must be well-formed UTF-8 (the binding turns it into str), the
// detailed and candidate records must agree token by token, and no record may
// lack a reading. A memo of key ranges carried over from input to input, as a
// batch's threads carry theirs, must not change any result. Raw (ill-formed)
// bytes are run too, for memory safety only.
#include <set>

#include "fuzz_support.hpp"
#include "../cpp/record_equality.hpp"
#include "normalizer/tokenize.hpp"

using namespace merrow;

namespace {

// Small, so that prefixes keep evicting each other; shared by both pipelines.
InlinePrefixRanges<16> carried;

void check_flavours(const Pipeline& p, const std::string& text) {
    std::string plain = convert(p, text);
    fuzz::require(utf8::is_valid(plain), "convert output is not UTF-8", plain);
    std::vector<DetailedToken> detailed = convert_detailed(p, text);
    std::vector<CandidateToken> candidates = convert_candidates(p, text);
    fuzz::require(convert(p, text, &carried) == plain, "convert differs with a carried memo", text);
    fuzz::require(testing::same(convert_detailed(p, text, &carried), detailed), "convert_detailed differs with a carried memo",
                  text);
    std::size_t tokens = text.empty() ? 0 : tokenize(p, text).size();
    fuzz::require(detailed.size() == tokens && candidates.size() == tokens, "record count differs from tokens");
    static const std::set<std::string> langs = {"yue", "en", "punct"};
    for (std::size_t i = 0; i < detailed.size(); ++i) {
        const DetailedToken& d = detailed[i];
        const CandidateToken& c = candidates[i];
        fuzz::require(!c.candidate_readings.empty(), "no candidates", c.token);
        fuzz::require(d.token == c.token, "records name different tokens", d.token);
        fuzz::require(d.jyutping == c.candidate_readings.front(), "detailed reading is not the first candidate");
        fuzz::require(d.lang == c.lang && d.confidence == c.confidence && d.source == c.source,
                      "detailed and candidate labels differ", d.token);
        fuzz::require(langs.count(d.lang) == 1, "unknown language tag", d.lang);
        for (const std::string* s : {&d.token, &d.jyutping, &d.confidence, &d.source}) {
            fuzz::require(utf8::is_valid(*s), "record field is not UTF-8", *s);
        }
        for (const std::string& r : c.candidate_readings) fuzz::require(utf8::is_valid(r), "candidate is not UTF-8", r);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::Pipelines& ps = fuzz::pipelines();
    std::string text = fuzz::valid_utf8(data, size);
    check_flavours(ps.with_user, text);
    check_flavours(ps.plain, text);
    std::string_view raw(reinterpret_cast<const char*>(data), size);
    convert(ps.with_user, raw);
    convert(ps.plain, raw, &carried);
    convert_detailed(ps.with_user, raw);
    convert_candidates(ps.plain, raw);
    return 0;
}
