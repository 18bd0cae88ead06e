// The conversion engine's state: the loaded dictionary set, the user
// dictionary and the punctuation switch. Immutable once loaded, and read by
// any number of threads without locks (the resolution memo, which grows as
// tokens are met, is written by atomic stores of whole slots).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/result.hpp"
#include "dict/dictionary_set.hpp"
#include "segment/context_model.hpp"
#include "segment/resolution_memo.hpp"
#include "user_dict/user_dict.hpp"

namespace merrow {

class Pipeline {
public:
    // Maps word.bin and char.bin (required), the six optional sidecars and
    // the optional context model found in data_dir. The error names the
    // first required file that failed.
    static Result<Pipeline> load(std::string_view data_dir, bool punc_norm, UserEntries user_dict);

    const DictionarySet& tables() const noexcept { return tables_; }
    const MappedDict& word() const noexcept { return tables_.word; }
    const MappedDict& character() const noexcept { return tables_.character; }
    const UserDict& user_dict() const noexcept { return user_dict_; }
    bool punc_norm() const noexcept { return punc_norm_; }
    // The context model, or nullptr when the data directory has none.
    const ContextModel* context() const noexcept { return context_ ? &*context_ : nullptr; }
    // What resolve_token found for the tokens converted so far.
    const ResolutionMemo& resolution_memo() const noexcept { return memo_; }

    // Whether `value`, a reading of `token`, is a view into this pipeline's
    // tables or user dictionary: one that keeps its address and bytes for as
    // long as the pipeline, so that callers may key their own objects by it.
    bool holds(std::string_view token, std::string_view value) const {
        return tables_.holds(value) || user_dict_.holds(token, value);
    }

private:
    Pipeline(DictionarySet tables, std::optional<ContextModel> context, UserDict user_dict, bool punc_norm) noexcept
        : tables_(std::move(tables)),
          context_(std::move(context)),
          user_dict_(std::move(user_dict)),
          punc_norm_(punc_norm),
          memo_(tables_.word.entry_count()) {}

    DictionarySet tables_;
    std::optional<ContextModel> context_;
    UserDict user_dict_;
    bool punc_norm_;
    ResolutionMemo memo_;
};

// The token list of `text` under this pipeline's switch and dictionaries.
std::vector<std::string> tokenize(const Pipeline& pipeline, std::string_view text);

}  // namespace merrow
