#include "normalizer/tokenize.hpp"

namespace merrow {

std::vector<std::string> tokenize(bool punc_norm, const MappedDict& word, const UserDict& user_dict,
                                  std::string_view text) {
    std::vector<std::string> tokens;
    for_each_token(punc_norm, word, user_dict, text, [&](const TokenRef& t) { tokens.emplace_back(t.text); });
    return tokens;
}

}  // namespace merrow
