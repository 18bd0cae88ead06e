// Engine results -> new Python objects. Each returns nullptr with the
// interpreter's error set when an object cannot be created.
#pragma once

#include <string_view>

#include "limited_api.hpp"
#include "merrow.hpp"
#include "shared_strs.hpp"

namespace merrow::py {

PyObject* to_str(std::string_view s);

// The list of 5-tuples of one text's records: straight from the engine's
// views for one text, or from a batch's finished RecordList. With
// as_list, the second field is the list of readings; otherwise the first
// reading alone. Readings that are views into the pipeline's tables or user
// dictionary come from `shared`, the pipeline's own table.
PyObject* record_list(const Pipeline& pipeline, SharedStrs& shared, std::string_view text, bool as_list);
PyObject* record_list(const Pipeline& pipeline, SharedStrs& shared, const RecordList& records, bool as_list);

}  // namespace merrow::py
