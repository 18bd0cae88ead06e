// The reading that the plain conversion prints for one token.
#pragma once

#include <string>

#include "dict/lookup/mapped_dict.hpp"
#include "segment/segment.hpp"
#include "user_dict/user_dict.hpp"

namespace merrow {

// Appends the reading of `token`: the user dictionary's, else word.bin's for
// the whole token, else character by character from the user dictionary,
// word.bin, char.bin or the character itself, joined by spaces. A token
// without Han is its own reading.
void plain_reading(std::string& out, const TokenRef& token, const MappedDict& word, const MappedDict& character,
                   const UserDict& user_dict);

}  // namespace merrow
