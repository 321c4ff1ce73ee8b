// Sizes derived from the analysis and the counts in force.
#include "model/analysis.h"

#include <algorithm>

namespace qv::model {

std::int32_t usable_structured_parts(const Analysis& a, const Counts& c) {
    std::int64_t n = std::max<std::int32_t>(c.structured_parts, 0);
    n = std::min({n, a.size_a.size(), a.size_b.size(), a.size_c.size()});
    // A cycle may state more structured parts than the base file has: the
    // sizes of an unstructured part (E, M) are no block extents.
    for (std::int64_t p = 1; p <= n; ++p)
        if (a.parts.contains(p) && a.parts(p).type == kUnstructured)
            return static_cast<std::int32_t>(p - 1);
    return static_cast<std::int32_t>(n);
}

bool structured_parts_served(const Analysis& a, const Counts& c) {
    return c.structured_parts <= usable_structured_parts(a, c);
}

std::int64_t part_element_total(const Analysis& a) {
    std::int64_t total = 0;
    for (const Part& p : a.parts)
        if (p.type == kUnstructured) total += std::max<std::int32_t>(p.elements, 0);
    return total;
}

std::int64_t element_total_in_force(const Analysis& a, const Counts& c) {
    const std::int64_t parts = std::min<std::int64_t>(
        std::int64_t(c.structured_parts) + c.unstructured_parts, a.parts.size());
    std::int64_t total = 0;
    for (std::int64_t p = 1; p <= parts; ++p)
        if (a.parts(p).type == kUnstructured) total += std::max<std::int32_t>(a.parts(p).elements, 0);
    return total;
}

std::int64_t structured_slots(const Analysis& a, const Counts& c) {
    std::int64_t total = 0;
    const std::int32_t n = usable_structured_parts(a, c);
    for (std::int32_t p = 1; p <= n; ++p) {
        const std::int64_t i = std::max<std::int32_t>(a.size_a(p), 0);
        const std::int64_t j = std::max<std::int32_t>(a.size_b(p), 0);
        const std::int64_t k = std::max<std::int32_t>(a.size_c(p), 0);
        total += i * j * k;  // extents are checked at load to keep this in range
    }
    return total;
}

}  // namespace qv::model
