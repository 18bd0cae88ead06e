// The file names of a data directory's tables.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "contracts.hpp"

namespace merrow {

inline constexpr std::string_view kTableNames[] = {MERROW_TABLE_NAMES};

// Indexes into kTableNames, in its order.
enum class TableName : std::size_t {
    word,
    char_,
    word_candidates,
    char_candidates,
    word_candidates_confidence,
    char_candidates_confidence,
    word_source,
    char_source,
    count_,
};
static_assert(std::size(kTableNames) == static_cast<std::size_t>(TableName::count_));
static_assert(kTableNames[static_cast<std::size_t>(TableName::char_source)] == "char_source");

inline std::string table_file_name(TableName table) {
    return std::string(kTableNames[static_cast<std::size_t>(table)]) + ".bin";
}

}  // namespace merrow
