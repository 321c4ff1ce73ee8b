// What a cycle file's header and "<Model>" section say: the header words,
// the model sizes of that cycle and the result directory that fixes the
// order of its node and element arrays.
#pragma once

#include <cstdint>
#include <vector>

#include "model/analysis.h"

namespace qv::model {

// One entry of a cycle's result directory.
struct DirectoryEntry {
    std::int32_t variable = 0;
    std::int32_t qualifier = 0;
    Text50 name;
    std::int32_t kind = 0;
};

// Entry kinds of the result directory.
inline constexpr std::int32_t kNodeInteger = 1;
inline constexpr std::int32_t kNodeReal = 2;
inline constexpr std::int32_t kElementInteger = -1;
inline constexpr std::int32_t kElementReal = -2;

// Whether an entry holds the array of `variable` and `kind` for `qualifier`:
// the entry's qualifier compared by absolute value, or sign included when
// `exact`.
inline bool entry_matches(const DirectoryEntry& e, std::int64_t variable, std::int32_t kind,
                          std::int64_t qualifier, bool exact) {
    if (e.variable != variable || e.kind != kind) return false;
    const std::int64_t q = e.qualifier;
    return exact ? q == qualifier : (q < 0 ? -q : q) == qualifier;
}

// The two values ahead of the slot values of every stored node or element
// array, passed through unchanged.
inline constexpr std::int64_t kHeaderPair = 2;

// Variable index of the Euler cover fraction: the element real array (part
// 1) that the material fraction query combines with the material arrays.
inline constexpr std::int32_t kCoverFractionVariable = 155;

// The header words of a cycle file; absent words read as 0.
struct CycleHeader {
    Array<std::int32_t> words;
    std::int32_t count() const { return static_cast<std::int32_t>(words.size()); }
    std::int32_t word(std::int32_t i) const { return words.contains(i) ? words(i) : 0; }
};

// The result directory sorted for lookups, so that finding an entry costs
// no scan of a long directory.
struct DirectoryLookup {
    struct Key {
        std::int64_t variable = 0;
        std::int64_t kind = 0;
        std::int64_t qualifier = 0;
        std::int64_t entry = 0;
    };
    bool built = false;
    std::vector<Key> by_abs, by_sign;  // qualifier by absolute value, sign included
};

struct CycleModel {
    CycleHeader header;
    // Set when the "<Model>" section stated sizes (header word 1 positive).
    bool has_sizes = false;
    std::int32_t model_values[2] = {0, 0};
    std::int32_t cycle_number = 0;
    float cycle_time = 0.0f;
    Array2<std::int32_t> structured_part_values;  // 3 per structured part
    Counts counts;
    std::int32_t model_third_value = 0;
    std::int32_t object_counts[3] = {0, 0, 0};
    std::int32_t variable_count = 0;
    Array<DirectoryEntry> directory;
    DirectoryLookup lookup;  // of `directory`, once it is read
};

// Sorts the directory into c.lookup.
void index_directory(CycleModel& c);

// The first directory entry that entry_matches, or 0: a lookup once the
// directory is indexed, a scan before.
std::int64_t first_entry(const CycleModel& c, std::int64_t variable, std::int32_t kind,
                         std::int64_t qualifier, bool exact);

// The model as the queries of a session see it: the analysis, the counts in
// force, the last cycle "<Model>" section read and whether the model is
// valid (a failed cycle open makes it invalid until the next good one).
struct View {
    const Analysis& analysis;
    const Counts& counts;
    const CycleModel& cycle;
    bool loaded;
};

}  // namespace qv::model
