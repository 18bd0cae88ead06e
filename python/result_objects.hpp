// Engine results -> new Python objects. Each returns nullptr with the
// interpreter's error set when an object cannot be created.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "limited_api.hpp"
#include "pipeline/pipeline.hpp"

namespace merrow::py {

PyObject* to_str(std::string_view s);
// The records of one text, built straight from the engine's views.
PyObject* detailed_list(const Pipeline& pipeline, std::string_view text);
PyObject* candidates_list(const Pipeline& pipeline, std::string_view text);
// Records made by the engine (the batch methods' workers), released as they
// are converted.
PyObject* to_list(std::vector<DetailedToken>& records);
PyObject* to_list(std::vector<CandidateToken>& records);

}  // namespace merrow::py
