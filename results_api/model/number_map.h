// A map from external numbers 1..size to positions, 0 for a number that no
// position carries. External numbers may be sparse and large, so the map
// keeps one entry per numbered position rather than one per number.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace qv::model {

class NumberMap {
public:
    void clear() {
        entries_.clear();
        size_ = 0;
        identity_ = false;
    }
    // Numbers 1..n map to themselves.
    void build_identity(std::int32_t n) {
        clear();
        size_ = n < 0 ? 0 : n;
        identity_ = true;
    }
    // Position p (1-based) carries numbers[p-1]; numbers outside 1..size are
    // ignored; when several positions carry one number the last one wins.
    void build(const std::int32_t* numbers, std::int64_t n, std::int32_t size);
    // From (number, position) pairs in the order they were stated; numbers
    // outside 1..size are ignored and a later pair replaces an earlier one.
    void build(std::vector<std::pair<std::int32_t, std::int32_t>> pairs, std::int32_t size);

    std::int32_t size() const { return size_; }
    // The position carrying `number` (1..size), 0 when none does.
    std::int32_t find(std::int32_t number) const;

private:
    std::vector<std::pair<std::int32_t, std::int32_t>> entries_;  // sorted by number
    std::int32_t size_ = 0;
    bool identity_ = false;
};

}  // namespace qv::model
