// The records of convert_detailed and convert_candidates as a stream of
// views, for callers that build their own objects from them without first
// copying every field into an owned record.
#pragma once

#include <cstddef>
#include <string_view>

#include "normalizer/tokenize.hpp"
#include "pipeline/pipeline.hpp"
#include "pipeline/token_memo.hpp"
#include "segment/token_ref.hpp"

namespace merrow {

struct RecordRef {
    static constexpr std::size_t kNoEarlier = static_cast<std::size_t>(-1);

    std::string_view token;
    const char* lang;
    // The token's resolution; nullptr when `earlier` is set.
    const ResolvedView* resolution;
    // Index of an earlier record of the same token (and so with the same
    // fields), or kNoEarlier. Readings depend on the token's text alone.
    std::size_t earlier;
};

// Calls emit(const RecordRef&) for every token of `text`, in order; the
// views are valid during the call only. `ranges` as for convert().
template <class Emit>
void for_each_record(const Pipeline& p, std::string_view text, Emit&& emit,
                     MappedDict::PrefixRanges* ranges = nullptr) {
    if (text.empty()) return;
    TokenMemo memo(text.size());  // token -> index of its first record
    ResolvedView view;
    std::size_t count = 0;
    for_each_token(p, text, [&](const TokenRef& t) {
        if (t.han) {
            if (const std::uint64_t* seen = memo.find(t.text)) {
                emit(RecordRef{t.text, "yue", nullptr, static_cast<std::size_t>(*seen)});
                ++count;
                return;
            }
            memo.remember(t.text, count);
        }
        resolve_view(p, t, view);
        emit(RecordRef{t.text, t.han ? "yue" : classify_lang(t.text), &view, RecordRef::kNoEarlier});
        ++count;
    }, ranges);
}

}  // namespace merrow
