// Differential test of the conversion engine against a straightforward
// reference: independent exact-key searches for every prefix, owned token
// strings, and readings looked up again for every token. Random dictionary
// sets (with candidates, labels, empty values and a user dictionary) and
// random texts; the three flavours must agree token for token.
#include <cstdio>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <vector>

#include "check.hpp"
#include "cjyp_test_writer.hpp"
#include "contracts.hpp"
#include "text/utf8.hpp"
#include "normalizer/expand_numbers.hpp"
#include "normalizer/punctuation.hpp"
#include "normalizer/tokenize.hpp"
#include "pipeline/batch_prefix_ranges.hpp"
#include "pipeline/convert.hpp"

using namespace merrow;

namespace reference {

bool has_han(const std::string& s) {
    for (char32_t c : utf8::decode_all(s)) {
        if (contracts::is_han(c)) return true;
    }
    return false;
}

std::vector<std::size_t> prefix_ends(std::string_view text, std::size_t limit) {
    std::vector<std::size_t> ends;
    for (std::size_t pos = 0; ends.size() < limit && pos < text.size();) {
        pos += utf8::char_length(text, pos);
        ends.push_back(pos);
    }
    return ends;
}

std::size_t word_match(const MappedDict& word, std::string_view rest) {
    auto ends = prefix_ends(rest, contracts::kMaxWordChars);
    for (auto it = ends.rbegin(); it != ends.rend(); ++it) {
        if (word.get(rest.substr(0, *it))) return *it;
    }
    return 0;
}

std::size_t user_match(const UserDict& user, std::string_view rest) {
    if (user.empty() || user.max_key_chars() == 0) return 0;
    auto ends = prefix_ends(rest, std::min<std::size_t>(user.max_key_chars(), contracts::kMaxWordChars));
    for (auto it = ends.rbegin(); it != ends.rend(); ++it) {
        if (user.get(rest.substr(0, *it))) return *it;
    }
    return 0;
}

void segment(const std::string& run, int kind, const Pipeline& p, std::vector<std::string>& out) {
    if (run.empty() || kind == 2) return;
    if (kind == 1) {
        out.push_back(run);
        return;
    }
    std::string_view rest = run;
    while (!rest.empty()) {
        std::size_t w = word_match(p.word(), rest), u = user_match(p.user_dict(), rest);
        std::size_t len = std::max(w, u);
        if (len == 0) len = utf8::char_length(rest, 0);
        out.emplace_back(rest.substr(0, len));
        rest.remove_prefix(len);
    }
}

bool white(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

std::vector<std::string> tokenize(const Pipeline& p, const std::string& text) {
    std::string expanded = expand_numbers(p.punc_norm() ? normalize_punctuation(text) : text);
    std::vector<std::string> out;
    std::string buffer;
    int current = 2;  // 0 Han, 1 Latin, 2 Other
    for (char32_t c : utf8::decode_all(expanded)) {
        int k = contracts::is_han(c) ? 0 : ((c < 128 && std::isalnum(static_cast<int>(c))) ? 1 : 2);
        if (k == current && k != 2) {
            utf8::append(buffer, c);
            continue;
        }
        segment(buffer, current, p, out);
        buffer.clear();
        current = k;
        if (k != 2) {
            utf8::append(buffer, c);
        } else if (!white(c)) {
            std::string one;
            utf8::append(one, c);
            out.push_back(one);
        }
    }
    segment(buffer, current, p, out);
    return out;
}

std::string plain(const std::string& token, const Pipeline& p) {
    if (!has_han(token)) return token;
    if (auto r = p.user_dict().get(token)) return std::string(*r);
    if (auto r = p.word().get(token)) return std::string(*r);
    std::string out;
    for (std::size_t pos = 0; pos < token.size();) {
        std::size_t start = pos;
        pos += utf8::char_length(token, pos);
        std::string c = token.substr(start, pos - start);
        std::optional<std::string_view> piece = p.user_dict().get(c);
        if (!piece) piece = p.word().get(c);
        if (!piece) piece = p.character().get(c);
        if (!out.empty()) out += ' ';
        out += piece ? std::string(*piece) : c;
    }
    return out;
}

std::optional<std::string> get(const std::optional<MappedDict>& d, const std::string& key) {
    if (!d) return std::nullopt;
    auto v = d->get(key);
    return v ? std::optional<std::string>(std::string(*v)) : std::nullopt;
}

std::vector<std::string> split(const std::string& v) {
    std::vector<std::string> out(1);
    for (char ch : v) {
        if (ch == '|') out.emplace_back();
        else out.back() += ch;
    }
    return out;
}

CandidateToken resolve(const std::string& token, const Pipeline& p) {
    std::string lang = has_han(token) ? "yue" : "en";
    for (char32_t c : utf8::decode_all(token)) {
        if (lang == "en" && !(c < 128 && std::isalnum(static_cast<int>(c)))) lang = "punct";
    }
    auto make = [&](std::vector<std::string> cands, std::string conf, std::string src) {
        return CandidateToken{token, std::move(cands), lang, std::move(conf), std::move(src)};
    };
    if (!has_han(token)) return make({token}, "certain", "passthrough");
    if (auto r = p.user_dict().get(token)) return make({std::string(*r)}, "certain", "user_dict");
    if (auto v = get(p.tables().word_candidates, token)) {
        return make(split(*v), get(p.tables().word_candidates_confidence, token).value_or("tied"),
                    get(p.tables().word_source, token).value_or("unknown"));
    }
    if (auto r = p.word().get(token)) return make({std::string(*r)}, "certain", get(p.tables().word_source, token).value_or("unknown"));
    if (utf8::count_chars(token) == 1) {
        if (auto v = get(p.tables().char_candidates, token)) {
            return make(split(*v), get(p.tables().char_candidates_confidence, token).value_or("tied"),
                        get(p.tables().char_source, token).value_or("unknown"));
        }
        if (auto r = p.character().get(token)) return make({std::string(*r)}, "certain", get(p.tables().char_source, token).value_or("unknown"));
    }
    std::string r = plain(token, p);
    std::string src = r == token ? "unresolved" : "char_fallback";
    return make({r}, "certain", src);
}

}  // namespace reference

namespace {

const char* const kHan[] = {"中", "國", "人", "民", "一", "十", "百", "香", "港", "\xF0\xA0\x80\x80", "\xEF\xA8\x8E"};
const char* const kOther[] = {"a", "B", "7", "０", " ", "\t", "，", "。", "、", "...", "$", "%", "kg", "「", "」",
                              "·", "-", "--", "é", "\xCC\x81", "\n", "年", "號", ":", "/"};

std::string random_han(std::mt19937& rng, int max_chars) {
    std::string s;
    for (int n = std::uniform_int_distribution<int>(1, max_chars)(rng); n > 0; --n)
        s += kHan[std::uniform_int_distribution<int>(0, std::size(kHan) - 1)(rng)];
    return s;
}

std::string random_reading(std::mt19937& rng) {
    static const char* const kPieces[] = {"zung1", "gwok3", "", "jan4", "a b", " x", "hoeng1 gong2"};
    return kPieces[std::uniform_int_distribution<int>(0, std::size(kPieces) - 1)(rng)];
}

std::string random_text(std::mt19937& rng) {
    std::string s;
    // Mostly short texts, and some long enough to repeat many tokens.
    int pieces = rng() % 4 == 0 ? std::uniform_int_distribution<int>(100, 400)(rng)
                                : std::uniform_int_distribution<int>(0, 30)(rng);
    for (int n = pieces; n > 0; --n) {
        if (std::uniform_int_distribution<int>(0, 2)(rng) > 0) s += random_han(rng, 4);
        else s += kOther[std::uniform_int_distribution<int>(0, std::size(kOther) - 1)(rng)];
    }
    return s;
}

template <class T>
bool same_records(const std::vector<T>& a, const std::vector<CandidateToken>& want, bool detailed) {
    if (a.size() != want.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto& w = want[i];
        if (a[i].token != w.token || a[i].lang != w.lang || a[i].confidence != w.confidence || a[i].source != w.source)
            return false;
        if constexpr (std::is_same_v<T, DetailedToken>) {
            if (a[i].jyutping != w.candidate_readings.front()) return false;
        } else {
            if (a[i].candidate_readings != w.candidate_readings) return false;
        }
    }
    (void)detailed;
    return true;
}

}  // namespace

int main() {
    std::mt19937 rng(2024);
    std::string dir = "/tmp/merrow-engine-diff-" + std::to_string(getpid());
    mkdir(dir.c_str(), 0700);
    for (int round = 0; round < 80; ++round) {
        std::map<std::string, testing::Table> files;
        const char* labels[] = {"ranked", "tied", "", "rime", "odd label"};
        auto label = [&] { return labels[std::uniform_int_distribution<int>(0, 4)(rng)]; };
        for (int i = std::uniform_int_distribution<int>(0, 60)(rng); i > 0; --i) {
            std::string w = random_han(rng, 12);
            files["word"][w] = random_reading(rng);
            if (rng() % 3 == 0) files["word_candidates"][w] = random_reading(rng) + "|" + random_reading(rng) + (rng() % 2 ? "|" : "");
            if (rng() % 2) files["word_candidates_confidence"][w] = label();
            if (rng() % 2) files["word_source"][w] = label();
        }
        for (const char* c : kHan) {
            if (rng() % 3) files["char"][c] = random_reading(rng);
            if (rng() % 3 == 0) files["char_candidates"][c] = random_reading(rng) + "|" + random_reading(rng);
            if (rng() % 2) files["char_candidates_confidence"][c] = label();
            if (rng() % 2) files["char_source"][c] = label();
        }
        files["word"];
        files["char"];
        if (!testing::write_data_dir(dir, files)) {
            std::printf("cannot write %s\n", dir.c_str());
            return 1;
        }
        UserEntries user;
        for (int i = std::uniform_int_distribution<int>(0, 4)(rng); i > 0; --i) user[random_han(rng, rng() % 2 ? 3 : 11)] = random_reading(rng);
        if (rng() % 5 == 0) user[""] = "empty";
        if (rng() % 5 == 0) user["a中"] = "mixed";
        bool punc = rng() % 2;
        auto loaded = Pipeline::load(dir, punc, user);
        if (!loaded) {
            std::printf("load failed: %s\n", loaded.error().message.c_str());
            return 1;
        }
        const Pipeline& p = loaded.value();
        bool ok = true;
        // Memos carried from text to text, as on a batch's threads: one
        // from a new batch (each round's pipeline may sit where the last
        // one did) and one so small that prefixes keep evicting each other.
        BatchPrefixRanges batch;
        PrefixRanges* carried = batch.for_this_thread();
        InlinePrefixRanges<4> crowded;
        for (int t = 0; t < 200 && ok; ++t) {
            std::string text = random_text(rng);
            std::vector<std::string> tokens = reference::tokenize(p, text);
            std::string want_plain;
            std::vector<CandidateToken> want;
            for (std::size_t i = 0; i < tokens.size(); ++i) {
                if (i) want_plain += ' ';
                want_plain += reference::plain(tokens[i], p);
                want.push_back(reference::resolve(tokens[i], p));
            }
            bool same_with_memos = true;
            for (PrefixRanges* memo : {carried, static_cast<PrefixRanges*>(&crowded)}) {
                same_with_memos = same_with_memos && convert(p, text, memo) == want_plain &&
                                  same_records(convert_detailed(p, text, memo), want, true) &&
                                  same_records(convert_candidates(p, text, memo), want, false);
            }
            if (convert(p, text) != want_plain || !same_records(convert_detailed(p, text), want, true) ||
                !same_records(convert_candidates(p, text), want, false) || tokenize(p, text) != tokens ||
                !same_with_memos) {
                std::printf("round %d: mismatch on text [%s]\n", round, text.c_str());
                ok = false;
            }
        }
        testing::check(ok, "round " + std::to_string(round) + " agrees with the reference");
        for (const auto& [name, table] : files) unlink((dir + "/" + name + ".bin").c_str());
    }
    rmdir(dir.c_str());
    return testing::report();
}
