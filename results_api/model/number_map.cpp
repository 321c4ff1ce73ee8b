// Sparse number-to-position maps.
#include "model/number_map.h"

#include <algorithm>

namespace qv::model {

void NumberMap::build(const std::int32_t* numbers, std::int64_t n, std::int32_t size) {
    std::vector<std::pair<std::int32_t, std::int32_t>> pairs;
    pairs.reserve(static_cast<std::size_t>(n < 0 ? 0 : n));
    for (std::int64_t p = 1; p <= n; ++p)
        pairs.emplace_back(numbers[p - 1], static_cast<std::int32_t>(p));
    build(std::move(pairs), size);
}

void NumberMap::build(std::vector<std::pair<std::int32_t, std::int32_t>> pairs,
                      std::int32_t size) {
    clear();
    size_ = size < 0 ? 0 : size;
    pairs.erase(std::remove_if(pairs.begin(), pairs.end(),
                               [this](const auto& e) { return e.first < 1 || e.first > size_; }),
                pairs.end());
    // Stable, so that among equal numbers the last stated stays last.
    std::stable_sort(pairs.begin(), pairs.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& e : pairs) {
        if (!entries_.empty() && entries_.back().first == e.first)
            entries_.back() = e;
        else
            entries_.push_back(e);
    }
}

std::int32_t NumberMap::find(std::int32_t number) const {
    if (number < 1 || number > size_) return 0;
    if (identity_) return number;
    auto it = std::lower_bound(entries_.begin(), entries_.end(), number,
                               [](const auto& e, std::int32_t x) { return e.first < x; });
    return it != entries_.end() && it->first == number ? it->second : 0;
}

}  // namespace qv::model
