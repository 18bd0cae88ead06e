// Engine results -> new Python objects. Each returns nullptr with the
// interpreter's error set when an object cannot be created.
#pragma once

#include <string>
#include <vector>

#include "limited_api.hpp"
#include "pipeline/pipeline.hpp"

namespace merrow::py {

PyObject* to_str(const std::string& s);
PyObject* to_list(std::vector<DetailedToken>& records);
PyObject* to_list(std::vector<CandidateToken>& records);

}  // namespace merrow::py
