// The merge of one cycle's values into an envelope: per position the value
// furthest out (the largest for a maximum, the smallest for a minimum) and
// the cycle at which it occurred.
#pragma once

#include <algorithm>
#include <cstdint>
#include <type_traits>

#include "qvres.h"

namespace qv::api {

// Whether a value `v` of cycle `cycle` replaces the one kept (`kept`, of
// cycle `kept_cycle`): when it is further out, or equal and of an earlier
// cycle, so that the outcome is the same in whatever order cycles arrive.
// A kept NaN (QVRES_NO_INTEGER) is no value yet and a read one is never
// taken: !(v <= kept) holds for v further out and for a kept NaN, and
// v == v excludes a NaN v. `InOrder`: every cycle merged before is earlier,
// so a tie keeps the value held and the kept cycle is not looked at.
template <bool Max, bool InOrder, class T>
inline bool replaces(T v, T kept, std::int64_t cycle, std::int64_t kept_cycle) {
    bool further;
    if constexpr (std::is_same_v<T, float>)
        further = (v == v) & !(Max ? v <= kept : v >= kept);
    else
        further = (v != QVRES_NO_INTEGER) & ((kept == QVRES_NO_INTEGER) | (Max ? v > kept : v < kept));
    if constexpr (InOrder)
        return further;
    else
        return further | ((v == kept) & (cycle < kept_cycle));
}

template <class T>
inline bool is_value(T v) {
    if constexpr (std::is_same_v<T, float>)
        return v == v;
    else
        return v != QVRES_NO_INTEGER;
}

// Merges positions [begin, end) of cycle `cycle`, value `get(p)` for
// position p, into `values` and `cycles`.
template <bool Max, bool InOrder, class T, class Get>
void merge_span(T* values, std::int64_t* cycles, std::int64_t begin, std::int64_t end, std::int64_t cycle,
                Get get) {
    for (std::int64_t p = begin; p < end; ++p) {
        const T x = get(p);
        if (replaces<Max, InOrder>(x, values[p], cycle, cycles[p])) {
            values[p] = x;
            cycles[p] = cycle;
        }
    }
}

// The first values a stretch of positions takes: kept as they come (NaN
// or QVRES_NO_INTEGER as no value yet, of cycle -1).
template <class T, class Get>
void first_span(T* values, std::int64_t* cycles, std::int64_t begin, std::int64_t end, std::int64_t cycle,
                Get get) {
    for (std::int64_t p = begin; p < end; ++p) {
        const T x = get(p);
        values[p] = x;
        cycles[p] = is_value(x) ? cycle : -1;
    }
}

// The instruction sets merge_scaled can use: one position at a time, four
// (SSE2), eight (AVX2), or the widest this processor has.
enum class Lanes { plain, sse2, avx2, best };
bool lanes_available(Lanes lanes);

// How a cycle meets the values kept: as the first (nothing kept yet), after
// every cycle merged before (in order), or after a later one (any order).
enum class Arrival { first, in_order, any_order };

// first_span or merge_span (in order or not) of stored values times
// `scale`, in[p] for position p: the same rule and the same products, as
// many positions at a time as `lanes` take (lanes the processor lacks fall
// back to the widest it has; a merge in any order takes eight at a time
// with AVX2, one at a time without).
void merge_scaled(bool maximum, Arrival arrival, float* values, std::int64_t* cycles, const float* in,
                  float scale, std::int64_t begin, std::int64_t end, std::int64_t cycle, Lanes lanes = Lanes::best);

}  // namespace qv::api
