// merge_scaled: an envelope of every value of a cycle merged straight from
// its stored array. This loop is most of what a peak map costs beyond the
// inflating, so it goes four positions at a time (eight where the
// processor has AVX2, chosen when it runs) and never branches on a value.
// A cycle that arrives after a later one (threads) also compares the kept
// cycles on ties.
//
// The vectoriser leaves this loop scalar (the stores depend on the
// values), hence intrinsics instead of the clones of runtime/cpu_clones.h;
// the processor is asked once, on Windows too.
//
// The kept offsets are two or four bytes; a block that changes writes its
// values and, blended by the same mask, the offsets of its positions.
//
// A position in order takes x = in[p] * scale where x is not NaN and
// !(x <= kept) (x >= kept for a minimum; an ordered compare with a kept NaN
// is false): replaces<Max, true>. Positions go in blocks that are first
// only tested, in a loop without stores, with the looser !(x <= kept),
// which holds for a NaN x too; only a block in which something may change
// is written, by the exact rule. Before a wave comes and after its peak
// most blocks change nothing, and a wave front changes blocks of
// neighbours.
#include "api/series_merge.h"

#include <cstring>

#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__)
#include <immintrin.h>
#define QV_MERGE_X86 1
#endif

namespace qv::api {
namespace {

template <bool Max, class C>
void merge_plain(Arrival arrival, float* values, C* cycles, const float* in, float scale, std::int64_t begin,
                 std::int64_t end, C cycle) {
    const auto get = [in, scale](std::int64_t p) { return in[p] * scale; };
    if (arrival == Arrival::first)
        first_span(values, cycles, begin, end, cycle, get);
    else if (arrival == Arrival::in_order)
        merge_span<Max, true>(values, cycles, begin, end, cycle, get);
    else
        merge_span<Max, false>(values, cycles, begin, end, cycle, get);
}

#if defined(QV_MERGE_X86)

// Four positions, SSE2 (every x86-64 processor).
template <bool Max, class C>
struct Sse2 {
    static constexpr std::int64_t kLanes = 4;
    const __m128 scale;
    const __m128i now;
    Sse2(float s, C cycle)
        : scale(_mm_set1_ps(s)),
          now(sizeof(C) == 2 ? _mm_set1_epi16(static_cast<short>(cycle)) : _mm_set1_epi32(static_cast<int>(cycle))) {}

    __m128 x(const float* in, std::int64_t p) const { return _mm_mul_ps(_mm_loadu_ps(in + p), scale); }
    static __m128 loose(__m128 x, __m128 kept) { return Max ? _mm_cmpnle_ps(x, kept) : _mm_cmpnge_ps(x, kept); }
    static __m128 take(__m128 x, __m128 kept) {
        const __m128 near = Max ? _mm_cmple_ps(x, kept) : _mm_cmpge_ps(x, kept);
        return _mm_andnot_ps(near, _mm_cmpord_ps(x, x));
    }
    // Offsets of positions p..p+3: `now` where `take`, else the old ones
    // (none when `fresh`).
    void put_cycles(C* cycles, std::int64_t p, __m128 take, bool fresh) const {
        __m128i m = _mm_castps_si128(take);
        const __m128i none = _mm_set1_epi32(-1);
        if constexpr (sizeof(C) == 2) {
            m = _mm_packs_epi32(m, m);  // four 16-bit masks in the low 8 bytes
            const __m128i old = fresh ? none : _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cycles + p));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(cycles + p),
                             _mm_or_si128(_mm_and_si128(m, now), _mm_andnot_si128(m, old)));
        } else {
            auto* out = reinterpret_cast<__m128i*>(cycles + p);
            const __m128i old = fresh ? none : _mm_loadu_si128(out);
            _mm_storeu_si128(out, _mm_or_si128(_mm_and_si128(m, now), _mm_andnot_si128(m, old)));
        }
    }
    void first(float* values, C* cycles, const float* in, std::int64_t p) const {
        const __m128 v = x(in, p);
        _mm_storeu_ps(values + p, v);
        put_cycles(cycles, p, _mm_cmpord_ps(v, v), true);
    }
    // Whether positions p..p+3 may change (`ties`: or tie).
    bool may_change4(const float* values, const float* in, std::int64_t p, bool ties) const {
        const __m128 v = x(in, p), kept = _mm_loadu_ps(values + p);
        const __m128 m = ties ? _mm_or_ps(loose(v, kept), _mm_cmpeq_ps(v, kept)) : loose(v, kept);
        return _mm_movemask_ps(m) != 0;
    }
    // Whether positions p..p+15 may change.
    bool may_change(const float* values, const float* in, std::int64_t p) const {
        __m128 any = _mm_setzero_ps();
        for (std::int64_t j = 0; j < 16; j += kLanes)
            any = _mm_or_ps(any, loose(x(in, p + j), _mm_loadu_ps(values + p + j)));
        return _mm_movemask_ps(any) != 0;
    }
    void merge(float* values, C* cycles, const float* in, std::int64_t p) const {
        const __m128 v = x(in, p), kept = _mm_loadu_ps(values + p);
        const __m128 t = take(v, kept);
        _mm_storeu_ps(values + p, _mm_or_ps(_mm_and_ps(t, v), _mm_andnot_ps(t, kept)));
        put_cycles(cycles, p, t, false);
    }
    // A merge in any order: a value equal to the one kept also replaces it
    // when the kept one is of a later cycle. SSE2 compares signed lanes
    // only: offsets are compared with their top bit flipped.
    void merge_any(float* values, C* cycles, const float* in, std::int64_t p) const {
        const __m128 v = x(in, p), kept = _mm_loadu_ps(values + p);
        __m128i later;
        if constexpr (sizeof(C) == 2) {
            const __m128i flip = _mm_set1_epi16(static_cast<short>(0x8000));
            const __m128i k = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cycles + p));
            const __m128i g = _mm_cmpgt_epi16(_mm_xor_si128(k, flip), _mm_xor_si128(now, flip));
            later = _mm_unpacklo_epi16(g, g);  // four 32-bit masks
        } else {
            const __m128i flip = _mm_set1_epi32(static_cast<int>(0x80000000u));
            const __m128i k = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cycles + p));
            later = _mm_cmpgt_epi32(_mm_xor_si128(k, flip), _mm_xor_si128(now, flip));
        }
        const __m128 t = _mm_or_ps(take(v, kept), _mm_and_ps(_mm_cmpeq_ps(v, kept), _mm_castsi128_ps(later)));
        _mm_storeu_ps(values + p, _mm_or_ps(_mm_and_ps(t, v), _mm_andnot_ps(t, kept)));
        put_cycles(cycles, p, t, false);
    }
    // Positions [begin, end) in whole vectors; returns where it stopped
    // (`end` unless the run is shorter than a vector). A run that is not
    // a whole number of vectors ends with the vector that ends at `end`,
    // over positions just merged: merging a cycle's value into a position
    // a second time leaves it as the first did (it meets itself, or what
    // it lost to), so the overlap changes nothing.
    std::int64_t lanes(Arrival arrival, float* values, C* cycles, const float* in, std::int64_t begin,
                       std::int64_t end) const {
        std::int64_t p = begin;
        const std::int64_t last = end - kLanes;  // the vector that ends at `end`
        const bool overlap = end - begin >= kLanes && (end - begin) % kLanes != 0;
        if (arrival == Arrival::first) {
            for (; p + kLanes <= end; p += kLanes) first(values, cycles, in, p);
            if (overlap) first(values, cycles, in, last);
            return overlap ? end : p;
        }
        if (arrival == Arrival::any_order) {
            for (; p + kLanes <= end; p += kLanes)
                if (may_change4(values, in, p, true)) merge_any(values, cycles, in, p);
            if (overlap && may_change4(values, in, last, true)) merge_any(values, cycles, in, last);
            return overlap ? end : p;
        }
        for (; p + 16 <= end; p += 16)
            if (may_change(values, in, p))
                for (std::int64_t j = 0; j < 16; j += kLanes) merge(values, cycles, in, p + j);
        for (; p + kLanes <= end; p += kLanes)
            if (may_change4(values, in, p, false)) merge(values, cycles, in, p);
        if (overlap && may_change4(values, in, last, false)) merge(values, cycles, in, last);
        return overlap ? end : p;
    }
};

#define QV_AVX2 __attribute__((target("avx2")))

// Eight positions, AVX2.
template <bool Max, class C>
struct Avx2 {
    static constexpr std::int64_t kLanes = 8;
    const __m256 scale;
    const __m256i now;  // the cycle's offset in every 16- or 32-bit lane
    QV_AVX2 Avx2(float s, C cycle)
        : scale(_mm256_set1_ps(s)),
          now(sizeof(C) == 2 ? _mm256_set1_epi16(static_cast<short>(cycle))
                             : _mm256_set1_epi32(static_cast<int>(cycle))) {}

    QV_AVX2 __m256 x(const float* in, std::int64_t p) const { return _mm256_mul_ps(_mm256_loadu_ps(in + p), scale); }
    QV_AVX2 static __m256 loose(__m256 x, __m256 kept) {
        return _mm256_cmp_ps(x, kept, Max ? _CMP_NLE_UQ : _CMP_NGE_UQ);
    }
    QV_AVX2 static __m256 take(__m256 x, __m256 kept) {
        const __m256 near = _mm256_cmp_ps(x, kept, Max ? _CMP_LE_OQ : _CMP_GE_OQ);
        return _mm256_andnot_ps(near, _mm256_cmp_ps(x, x, _CMP_ORD_Q));
    }
    QV_AVX2 void put_cycles(C* cycles, std::int64_t p, __m256 take, bool fresh) const {
        const __m256i m = _mm256_castps_si256(take);
        if constexpr (sizeof(C) == 2) {
            // The eight 32-bit masks as 16-bit ones.
            const __m128i m16 = _mm_packs_epi32(_mm256_castsi256_si128(m), _mm256_extracti128_si256(m, 1));
            auto* out = reinterpret_cast<__m128i*>(cycles + p);
            const __m128i old = fresh ? _mm_set1_epi32(-1) : _mm_loadu_si128(out);
            _mm_storeu_si128(out, _mm_blendv_epi8(old, _mm256_castsi256_si128(now), m16));
        } else {
            auto* out = reinterpret_cast<__m256i*>(cycles + p);
            const __m256i old = fresh ? _mm256_set1_epi32(-1) : _mm256_loadu_si256(out);
            _mm256_storeu_si256(out, _mm256_blendv_epi8(old, now, m));
        }
    }
    QV_AVX2 void first(float* values, C* cycles, const float* in, std::int64_t p) const {
        const __m256 v = x(in, p);
        _mm256_storeu_ps(values + p, v);
        put_cycles(cycles, p, _mm256_cmp_ps(v, v, _CMP_ORD_Q), true);
    }
    // Whether positions p..p+7 may change (`ties`: or tie).
    QV_AVX2 bool may_change8(const float* values, const float* in, std::int64_t p, bool ties) const {
        const __m256 v = x(in, p), kept = _mm256_loadu_ps(values + p);
        return _mm256_movemask_ps(ties ? _mm256_cmp_ps(v, kept, Max ? _CMP_NLT_UQ : _CMP_NGT_UQ) : loose(v, kept)) != 0;
    }
    QV_AVX2 bool may_change(const float* values, const float* in, std::int64_t p) const {
        __m256 any = _mm256_setzero_ps();
        for (std::int64_t j = 0; j < 16; j += kLanes)
            any = _mm256_or_ps(any, loose(x(in, p + j), _mm256_loadu_ps(values + p + j)));
        return _mm256_movemask_ps(any) != 0;
    }
    QV_AVX2 void merge(float* values, C* cycles, const float* in, std::int64_t p) const {
        const __m256 v = x(in, p), kept = _mm256_loadu_ps(values + p);
        const __m256 t = take(v, kept);
        _mm256_storeu_ps(values + p, _mm256_blendv_ps(kept, v, t));
        put_cycles(cycles, p, t, false);
    }
    QV_AVX2 bool may_change_or_tie(const float* values, const float* in, std::int64_t p) const {
        __m256 any = _mm256_setzero_ps();
        for (std::int64_t j = 0; j < 16; j += kLanes)
            any = _mm256_or_ps(any, _mm256_cmp_ps(x(in, p + j), _mm256_loadu_ps(values + p + j),
                                                  Max ? _CMP_NLT_UQ : _CMP_NGT_UQ));
        return _mm256_movemask_ps(any) != 0;
    }
    // A merge in any order: a value equal to the one kept also replaces it
    // when the kept one is of a later cycle (replaces<Max, false>).
    QV_AVX2 void merge_any(float* values, C* cycles, const float* in, std::int64_t p) const {
        const __m256 v = x(in, p), kept = _mm256_loadu_ps(values + p);
        // Kept offsets beyond now: max(kept, now) differs from now.
        __m256i later;
        if constexpr (sizeof(C) == 2) {
            const __m128i k = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cycles + p));
            const __m128i n = _mm256_castsi256_si128(now);
            later = _mm256_cvtepi16_epi32(_mm_andnot_si128(_mm_cmpeq_epi16(_mm_max_epu16(k, n), n), _mm_set1_epi32(-1)));
        } else {
            const __m256i k = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cycles + p));
            later = _mm256_andnot_si256(_mm256_cmpeq_epi32(_mm256_max_epu32(k, now), now), _mm256_set1_epi32(-1));
        }
        const __m256 t = _mm256_or_ps(take(v, kept),
                                      _mm256_and_ps(_mm256_cmp_ps(v, kept, _CMP_EQ_OQ), _mm256_castsi256_ps(later)));
        _mm256_storeu_ps(values + p, _mm256_blendv_ps(kept, v, t));
        put_cycles(cycles, p, t, false);
    }
    // Sse2::lanes again: a loop that is to inline AVX2 code must itself be
    // compiled for AVX2, which a template shared with the SSE2 path is not.
    QV_AVX2 std::int64_t lanes(Arrival arrival, float* values, C* cycles, const float* in, std::int64_t begin,
                               std::int64_t end) const {
        std::int64_t p = begin;
        const std::int64_t last = end - kLanes;  // the vector that ends at `end`
        const bool overlap = end - begin >= kLanes && (end - begin) % kLanes != 0;
        if (arrival == Arrival::first) {
            for (; p + kLanes <= end; p += kLanes) first(values, cycles, in, p);
            if (overlap) first(values, cycles, in, last);
            return overlap ? end : p;
        }
        if (arrival == Arrival::any_order) {
            // Blocks in which no value is NaN or at or beyond the one kept
            // change nothing and tie nothing.
            for (; p + 16 <= end; p += 16)
                if (may_change_or_tie(values, in, p))
                    for (std::int64_t j = 0; j < 16; j += kLanes) merge_any(values, cycles, in, p + j);
            for (; p + kLanes <= end; p += kLanes)
                if (may_change8(values, in, p, true)) merge_any(values, cycles, in, p);
            if (overlap && may_change8(values, in, last, true)) merge_any(values, cycles, in, last);
            return overlap ? end : p;
        }
        for (; p + 16 <= end; p += 16)
            if (may_change(values, in, p))
                for (std::int64_t j = 0; j < 16; j += kLanes) merge(values, cycles, in, p + j);
        for (; p + kLanes <= end; p += kLanes)
            if (may_change8(values, in, p, false)) merge(values, cycles, in, p);
        if (overlap && may_change8(values, in, last, false)) merge(values, cycles, in, last);
        return overlap ? end : p;
    }
};

// Combining a second envelope into the first, eight positions at a time
// (two-byte offsets).
template <bool Max>
QV_AVX2 std::int64_t combine_avx2(float* values, std::uint16_t* cycles, const float* other,
                                  const std::uint16_t* other_cycles, std::int64_t begin, std::int64_t end) {
    std::int64_t p = begin;
    for (; p + 8 <= end; p += 8) {
        const __m256 x = _mm256_loadu_ps(other + p), kept = _mm256_loadu_ps(values + p);
        const __m128i xc = _mm_loadu_si128(reinterpret_cast<const __m128i*>(other_cycles + p));
        auto* out = reinterpret_cast<__m128i*>(cycles + p);
        const __m128i kc = _mm_loadu_si128(out);
        // Further out, as a merge in order takes a value; or equal, of an
        // earlier cycle: max(xc, kc) is not xc.
        const __m256 further = Avx2<Max, std::uint16_t>::take(x, kept);
        const __m128i earlier = _mm_andnot_si128(_mm_cmpeq_epi16(_mm_max_epu16(xc, kc), xc), _mm_set1_epi32(-1));
        const __m256 t = _mm256_or_ps(further, _mm256_and_ps(_mm256_cmp_ps(x, kept, _CMP_EQ_OQ),
                                                             _mm256_castsi256_ps(_mm256_cvtepi16_epi32(earlier))));
        _mm256_storeu_ps(values + p, _mm256_blendv_ps(kept, x, t));
        const __m256i m = _mm256_castps_si256(t);
        const __m128i m16 = _mm_packs_epi32(_mm256_castsi256_si128(m), _mm256_extracti128_si256(m, 1));
        _mm_storeu_si128(out, _mm_blendv_epi8(kc, xc, m16));
    }
    return p;
}

template <bool Max, class C>
void merge_sse2(Arrival arrival, float* values, C* cycles, const float* in, float scale, std::int64_t begin,
                std::int64_t end, C cycle) {
    const std::int64_t p = Sse2<Max, C>(scale, cycle).lanes(arrival, values, cycles, in, begin, end);
    if (p < end) merge_plain<Max>(arrival, values, cycles, in, scale, p, end, cycle);
}

#endif

// The widest lanes this processor has, asked once.
Lanes widest() {
#if defined(QV_MERGE_X86)
    static const Lanes lanes = __builtin_cpu_supports("avx2") ? Lanes::avx2 : Lanes::sse2;
    return lanes;
#else
    return Lanes::plain;
#endif
}

}  // namespace

bool lanes_available(Lanes lanes) {
    return lanes == Lanes::best || lanes == Lanes::plain ||
           (lanes == Lanes::sse2 && widest() != Lanes::plain) || (lanes == Lanes::avx2 && widest() == Lanes::avx2);
}

namespace {

// Row r's values, in[p] for its positions p: stored + r * stride holds its
// first.
inline const float* row_in(const float* stored, std::int64_t stride, std::int64_t length, std::int64_t begin,
                           std::int64_t r) {
    return stored + r * stride - (begin + r * length);
}

// Rows a call each, `merge` merge_plain or merge_sse2.
template <class C, class Merge>
void each_row(Merge merge, Arrival arrival, float* values, C* cycles, const float* stored, std::int64_t stride,
              std::int64_t length, std::int64_t rows, float scale, std::int64_t begin, C cycle) {
    for (std::int64_t r = 0; r < rows; ++r) {
        const std::int64_t b = begin + r * length;
        merge(arrival, values, cycles, row_in(stored, stride, length, begin, r), scale, b, b + length, cycle);
    }
}

#if defined(QV_MERGE_X86)
// The rows of AVX2 share one Avx2 and its registers: a row a vector long
// or longer costs no call.
template <bool Max, class C>
QV_AVX2 void rows_avx2(Arrival arrival, float* values, C* cycles, const float* stored, std::int64_t stride,
                       std::int64_t length, std::int64_t rows, float scale, std::int64_t begin, C cycle) {
    const Avx2<Max, C> lanes(scale, cycle);
    for (std::int64_t r = 0; r < rows; ++r) {
        const float* in = row_in(stored, stride, length, begin, r);
        const std::int64_t b = begin + r * length, e = b + length;
        const std::int64_t p = lanes.lanes(arrival, values, cycles, in, b, e);
        if (p < e) merge_sse2<Max>(arrival, values, cycles, in, scale, p, e, cycle);
    }
}
#endif

}  // namespace

template <class C>
void merge_scaled_rows(bool maximum, Arrival arrival, float* values, C* cycles, const float* stored,
                       std::int64_t stride, std::int64_t length, std::int64_t rows, float scale, std::int64_t begin,
                       C cycle, Lanes lanes) {
    if (lanes == Lanes::best || !lanes_available(lanes)) lanes = widest();
    switch (lanes) {
#if defined(QV_MERGE_X86)
    case Lanes::avx2:
        return maximum ? rows_avx2<true>(arrival, values, cycles, stored, stride, length, rows, scale, begin, cycle)
                       : rows_avx2<false>(arrival, values, cycles, stored, stride, length, rows, scale, begin, cycle);
    case Lanes::sse2:
        return each_row(maximum ? merge_sse2<true, C> : merge_sse2<false, C>, arrival, values, cycles, stored, stride,
                        length, rows, scale, begin, cycle);
#endif
    default:
        return each_row(maximum ? merge_plain<true, C> : merge_plain<false, C>, arrival, values, cycles, stored,
                        stride, length, rows, scale, begin, cycle);
    }
}

// One run: a row of stored values in[begin..end).
template <class C>
void merge_scaled(bool maximum, Arrival arrival, float* values, C* cycles, const float* in, float scale,
                  std::int64_t begin, std::int64_t end, C cycle, Lanes lanes) {
    merge_scaled_rows(maximum, arrival, values, cycles, in + begin, 0, end - begin, 1, scale, begin, cycle, lanes);
}

template void merge_scaled(bool, Arrival, float*, std::uint16_t*, const float*, float, std::int64_t, std::int64_t,
                           std::uint16_t, Lanes);
template void merge_scaled(bool, Arrival, float*, std::uint32_t*, const float*, float, std::int64_t, std::int64_t,
                           std::uint32_t, Lanes);

template void merge_scaled_rows(bool, Arrival, float*, std::uint16_t*, const float*, std::int64_t, std::int64_t,
                                std::int64_t, float, std::int64_t, std::uint16_t, Lanes);
template void merge_scaled_rows(bool, Arrival, float*, std::uint32_t*, const float*, std::int64_t, std::int64_t,
                                std::int64_t, float, std::int64_t, std::uint32_t, Lanes);

template <class C>
void combine_kept(bool maximum, float* values, C* cycles, const float* other, const C* other_cycles,
                  std::int64_t begin, std::int64_t end, Lanes lanes) {
    if (lanes == Lanes::best || !lanes_available(lanes)) lanes = widest();
    std::int64_t p = begin;
#if defined(QV_MERGE_X86)
    if constexpr (sizeof(C) == 2) {
        if (lanes == Lanes::avx2)
            p = maximum ? combine_avx2<true>(values, cycles, other, other_cycles, begin, end)
                        : combine_avx2<false>(values, cycles, other, other_cycles, begin, end);
    }
#endif
    for (; p < end; ++p) {
        if (maximum ? replaces<true, false>(other[p], values[p], other_cycles[p], cycles[p])
                    : replaces<false, false>(other[p], values[p], other_cycles[p], cycles[p])) {
            values[p] = other[p];
            cycles[p] = other_cycles[p];
        }
    }
}

template void combine_kept(bool, float*, std::uint16_t*, const float*, const std::uint16_t*, std::int64_t,
                           std::int64_t, Lanes);
template void combine_kept(bool, float*, std::uint32_t*, const float*, const std::uint32_t*, std::int64_t,
                           std::int64_t, Lanes);

// Widening: the offsets and the cycles share their bytes, so they are read
// and written through memcpy or vector loads and stores, never through
// pointers of either type. Going up four positions at a time, the 32 bytes
// written cover offsets already read: with w-byte offsets at the top of L
// positions' 8L bytes, position k's offset is at (8 - w)L + wk, above the
// bytes written up to position k + 4 while k + 4 <= L.
namespace {

template <class C>
std::int64_t widened(const unsigned char* kept, unsigned char* out, std::int64_t k, std::int64_t first) {
    C c;
    std::memcpy(&c, kept + k * std::int64_t(sizeof(C)), sizeof(C));
    const std::int64_t cycle = c == no_cycle<C>() ? -1 : first + std::int64_t(c);
    std::memcpy(out + 8 * k, &cycle, 8);
    return k + 1;
}

#if defined(QV_MERGE_X86)
template <class C>
QV_AVX2 std::int64_t widen_avx2(const unsigned char* kept, unsigned char* out, std::int64_t n, std::int64_t first) {
    const __m256i base = _mm256_set1_epi64x(first);
    std::int64_t k = 0;
    for (; k + 4 <= n; k += 4) {
        __m256i c;
        if constexpr (sizeof(C) == 2) {
            c = _mm256_cvtepu16_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(kept + 2 * k)));
        } else {
            c = _mm256_cvtepu32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(kept + 4 * k)));
        }
        const __m256i none = _mm256_cmpeq_epi64(c, _mm256_set1_epi64x(std::int64_t(no_cycle<C>())));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 8 * k),
                            _mm256_or_si256(_mm256_add_epi64(c, base), none));
    }
    return k;
}
#endif

}  // namespace

template <class C>
void widen_cycles(std::int64_t* cycles, std::int64_t begin, std::int64_t end, std::int64_t first) {
    const auto* kept = reinterpret_cast<const unsigned char*>(kept_cycles<C>(cycles, begin, end) + begin);
    auto* out = reinterpret_cast<unsigned char*>(cycles + begin);
    std::int64_t k = 0;
#if defined(QV_MERGE_X86)
    if (widest() == Lanes::avx2) k = widen_avx2<C>(kept, out, end - begin, first);
#endif
    while (k < end - begin) k = widened<C>(kept, out, k, first);
}

template void widen_cycles<std::uint16_t>(std::int64_t*, std::int64_t, std::int64_t, std::int64_t);
template void widen_cycles<std::uint32_t>(std::int64_t*, std::int64_t, std::int64_t, std::int64_t);

}  // namespace qv::api
