#include "pipeline/pipeline.hpp"

namespace merrow {
namespace {

std::string join_path(std::string_view dir, std::string_view name) {
    std::string path(dir);
    if (!path.empty() && path.back() != '/') path.push_back('/');
    path.append(name);
    return path;
}

std::optional<MappedDict> open_optional(std::string_view dir, std::string_view name) {
    auto result = MappedDict::open(join_path(dir, name));
    if (!result) return std::nullopt;
    return std::move(result).value();
}

}  // namespace

Result<Pipeline> Pipeline::load(std::string_view data_dir, bool punc_norm, UserEntries user_dict) {
    auto word = MappedDict::open(join_path(data_dir, "word.bin"));
    if (!word) return word.error();
    auto char_ = MappedDict::open(join_path(data_dir, "char.bin"));
    if (!char_) return char_.error();

    return Pipeline{
        std::move(word).value(),
        std::move(char_).value(),
        open_optional(data_dir, "word_candidates.bin"),
        open_optional(data_dir, "char_candidates.bin"),
        open_optional(data_dir, "word_candidates_confidence.bin"),
        open_optional(data_dir, "char_candidates_confidence.bin"),
        open_optional(data_dir, "word_source.bin"),
        open_optional(data_dir, "char_source.bin"),
        UserDict::build(std::move(user_dict)),
        punc_norm,
    };
}

}  // namespace merrow
