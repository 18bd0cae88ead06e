#include "pipeline/pipeline.hpp"

#include "normalizer/tokenize.hpp"
#include "segment/resolve.hpp"
#include "text/utf8.hpp"

namespace merrow {

Result<Pipeline> Pipeline::load(std::string_view data_dir, bool punc_norm, UserEntries user_dict) {
    auto tables = DictionarySet::load(data_dir);
    if (!tables) return tables.error();
    auto context = ContextModel::open(data_dir);
    if (context) {
        const DictionarySet& found = tables.value();
        context->find_candidates([&found](char32_t c) {
            std::string token;
            utf8::append(token, c);
            const TokenRef ref{token, true, found.word.find(token), nullptr};
            return one_char_candidates(found, ref);
        });
    }
    return Pipeline(std::move(tables).value(), std::move(context), UserDict::build(std::move(user_dict)), punc_norm);
}

std::vector<std::string> tokenize(const Pipeline& p, std::string_view text) {
    return tokenize(p.punc_norm(), p.word(), p.user_dict(), text);
}

}  // namespace merrow
