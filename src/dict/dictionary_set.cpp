#include "dict/dictionary_set.hpp"

#include <string>

#include "dict/table_names.hpp"

namespace merrow {
namespace {

std::string path_of(std::string_view dir, TableName table) {
    std::string path(dir);
    if (!path.empty() && path.back() != '/') path.push_back('/');
    path.append(table_file_name(table));
    return path;
}

std::optional<MappedDict> open_optional(std::string_view dir, TableName table) {
    auto result = MappedDict::open(path_of(dir, table));
    if (!result) return std::nullopt;
    return std::move(result).value();
}

}  // namespace

Result<DictionarySet> DictionarySet::load(std::string_view dir) {
    auto word = MappedDict::open(path_of(dir, TableName::word));
    if (!word) return word.error();
    auto character = MappedDict::open(path_of(dir, TableName::char_));
    if (!character) return character.error();
    return DictionarySet{
        std::move(word).value(),
        std::move(character).value(),
        open_optional(dir, TableName::word_candidates),
        open_optional(dir, TableName::char_candidates),
        open_optional(dir, TableName::word_candidates_confidence),
        open_optional(dir, TableName::char_candidates_confidence),
        open_optional(dir, TableName::word_source),
        open_optional(dir, TableName::char_source),
    };
}

}  // namespace merrow
