// The merge of one cycle's values into an envelope: per position the value
// furthest out (the largest for a maximum, the smallest for a minimum) and
// the cycle at which it occurred.
//
// While it merges, an envelope keeps each position's cycle as its offset in
// the range, in two bytes (four for a range of 65,535 cycles or more),
// not the eight of the cycle it reports: a position a cycle changes then
// costs a fraction of a cache line instead of two, which is most of what
// the merge writes. The offsets live in the caller's cycles array itself,
// at the top of the stretch of positions they belong to, and are widened
// in place into cycles (widen_cycles) once no cycle merges the stretch any
// more.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "qvres.h"

namespace qv::api {

// The kept offset of a position that holds no value yet.
template <class C>
constexpr C no_cycle() {
    static_assert(std::is_same_v<C, std::uint16_t> || std::is_same_v<C, std::uint32_t>, "a kept offset");
    return std::numeric_limits<C>::max();
}

template <class T>
inline bool is_value(T v) {
    if constexpr (std::is_same_v<T, float>)
        return v == v;
    else
        return v != QVRES_NO_INTEGER;
}

// Whether a value `v` of cycle `cycle` replaces the one kept (`kept`, of
// cycle `kept_cycle`): when it is further out, or equal and of an earlier
// cycle, so that the outcome is the same in whatever order cycles arrive.
// A kept NaN (QVRES_NO_INTEGER) is no value yet and a read one is never
// taken: !(v <= kept) holds for v further out and for a kept NaN, and
// v == v excludes a NaN v. `InOrder`: every cycle merged before is earlier,
// so a tie keeps the value held and the kept cycle is not looked at.
template <bool Max, bool InOrder, class T, class C>
inline bool replaces(T v, T kept, C cycle, const C& kept_cycle) {
    bool further;
    if constexpr (std::is_same_v<T, float>)
        further = (v == v) & !(Max ? v <= kept : v >= kept);
    else
        further = (v != QVRES_NO_INTEGER) & ((kept == QVRES_NO_INTEGER) | (Max ? v > kept : v < kept));
    if constexpr (InOrder)
        return further;
    else  // the kept cycle is looked at (read) on ties only; no value ties
          // nothing (QVRES_NO_INTEGER equals itself, a NaN does not)
        return further || (v == kept && is_value(v) && cycle < kept_cycle);
}

// Merges positions [begin, end) of cycle `cycle` (its offset), value
// `get(p)` for position p, into `values` and the kept offsets `cycles`.
template <bool Max, bool InOrder, class T, class C, class Get>
void merge_span(T* values, C* cycles, std::int64_t begin, std::int64_t end, C cycle, Get get) {
    for (std::int64_t p = begin; p < end; ++p) {
        const T x = get(p);
        if (replaces<Max, InOrder>(x, values[p], cycle, cycles[p])) {
            values[p] = x;
            cycles[p] = cycle;
        }
    }
}

// The first values a stretch of positions takes: kept as they come (NaN
// or QVRES_NO_INTEGER as no value yet, of no cycle).
template <class T, class C, class Get>
void first_span(T* values, C* cycles, std::int64_t begin, std::int64_t end, C cycle, Get get) {
    for (std::int64_t p = begin; p < end; ++p) {
        const T x = get(p);
        values[p] = x;
        cycles[p] = is_value(x) ? cycle : no_cycle<C>();
    }
}

// The kept offsets of positions [begin, end), in the top of the caller's
// cycles of those positions: kept_cycles(...)[p] is position p's.
template <class C>
C* kept_cycles(std::int64_t* cycles, std::int64_t begin, std::int64_t end) {
    return reinterpret_cast<C*>(cycles + end) - (end - begin) - begin;
}

// Widens the kept offsets of positions [begin, end) in place into the
// cycles they stand for (`first` plus the offset; -1 for no value). Going
// up from `begin`, a cycle written covers only offsets already read.
template <class C>
void widen_cycles(std::int64_t* cycles, std::int64_t begin, std::int64_t end, std::int64_t first);

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
// back to the widest it has).
template <class C>
void merge_scaled(bool maximum, Arrival arrival, float* values, C* cycles, const float* in, float scale,
                  std::int64_t begin, std::int64_t end, C cycle, Lanes lanes = Lanes::best);

// merge_scaled of `rows` rows of `length` positions each, from `begin`: row
// r holds positions begin + r * length on, its stored values from
// stored + r * stride (the rows of cells of a structured part's I layer,
// each K slots after the one before). One call per layer instead of one per
// row: at a hundred cells a row, calls cost a fair part of the merge.
template <class C>
void merge_scaled_rows(bool maximum, Arrival arrival, float* values, C* cycles, const float* stored,
                       std::int64_t stride, std::int64_t length, std::int64_t rows, float scale, std::int64_t begin,
                       C cycle, Lanes lanes = Lanes::best);

// Combines a second envelope of positions [begin, end) (`other` values,
// `other_cycles` offsets, kept by other workers from other cycles) into the
// first: where the second's value replaces the first's by the rule of a
// merge in any order, its value and offset are taken, so that the first
// holds what one envelope merging every cycle of both would hold.
template <class C>
void combine_kept(bool maximum, float* values, C* cycles, const float* other, const C* other_cycles,
                  std::int64_t begin, std::int64_t end, Lanes lanes = Lanes::best);

}  // namespace qv::api
