#include "pipeline/pipeline.hpp"

#include "normalizer/tokenize.hpp"

namespace merrow {

Result<Pipeline> Pipeline::load(std::string_view data_dir, bool punc_norm, UserEntries user_dict) {
    auto tables = DictionarySet::load(data_dir);
    if (!tables) return tables.error();
    return Pipeline(std::move(tables).value(), ContextModel::open(data_dir), UserDict::build(std::move(user_dict)),
                    punc_norm);
}

std::vector<std::string> tokenize(const Pipeline& p, std::string_view text) {
    return tokenize(p.punc_norm(), p.word(), p.user_dict(), text);
}

}  // namespace merrow
