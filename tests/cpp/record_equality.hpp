// Field-by-field equality of the record flavours' results, for the drivers
// that compare one way of converting against another.
#pragma once

#include <vector>

#include "pipeline/convert.hpp"

namespace merrow::testing {

inline bool same(const std::vector<DetailedToken>& a, const std::vector<DetailedToken>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].token != b[i].token || a[i].jyutping != b[i].jyutping || a[i].lang != b[i].lang ||
            a[i].confidence != b[i].confidence || a[i].source != b[i].source)
            return false;
    }
    return true;
}

inline bool same(const std::vector<CandidateToken>& a, const std::vector<CandidateToken>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].token != b[i].token || a[i].candidate_readings != b[i].candidate_readings ||
            a[i].lang != b[i].lang || a[i].confidence != b[i].confidence || a[i].source != b[i].source)
            return false;
    }
    return true;
}

}  // namespace merrow::testing
