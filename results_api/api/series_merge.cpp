// merge_scaled: an envelope of every value of a cycle merged straight from
// its stored array. This loop is most of what a peak map costs beyond the
// inflating, so it goes four positions at a time (eight where the
// processor has AVX2, chosen when it runs) and never branches on a value.
// A cycle that arrives after a later one (threads) also compares the kept
// cycles on ties: eight at a time with AVX2, one at a time without (SSE2
// compares no 64-bit integers).
//
// The vectoriser leaves this loop scalar (the stores depend on the
// values), hence intrinsics instead of the clones of runtime/cpu_clones.h;
// the processor is asked once, on Windows too.
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

#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__)
#include <immintrin.h>
#define QV_MERGE_X86 1
#endif

namespace qv::api {
namespace {

template <bool Max>
void merge_plain(Arrival arrival, float* values, std::int64_t* cycles, const float* in, float scale,
                 std::int64_t begin, std::int64_t end, std::int64_t cycle) {
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
template <bool Max>
struct Sse2 {
    static constexpr std::int64_t kLanes = 4;
    const __m128 scale;
    const __m128i now;
    Sse2(float s, std::int64_t cycle) : scale(_mm_set1_ps(s)), now(_mm_set1_epi64x(cycle)) {}

    __m128 x(const float* in, std::int64_t p) const { return _mm_mul_ps(_mm_loadu_ps(in + p), scale); }
    static __m128 loose(__m128 x, __m128 kept) { return Max ? _mm_cmpnle_ps(x, kept) : _mm_cmpnge_ps(x, kept); }
    static __m128 take(__m128 x, __m128 kept) {
        const __m128 near = Max ? _mm_cmple_ps(x, kept) : _mm_cmpge_ps(x, kept);
        return _mm_andnot_ps(near, _mm_cmpord_ps(x, x));
    }
    // Cycles of positions p..p+3: `now` where `take`, else `old`.
    void put_cycles(std::int64_t* cycles, std::int64_t p, __m128 take, bool fresh) const {
        const __m128i m = _mm_castps_si128(take);
        const __m128i lo = _mm_unpacklo_epi32(m, m), hi = _mm_unpackhi_epi32(m, m);
        auto* out = reinterpret_cast<__m128i*>(cycles + p);
        const __m128i old_lo = fresh ? _mm_set1_epi64x(-1) : _mm_loadu_si128(out);
        const __m128i old_hi = fresh ? _mm_set1_epi64x(-1) : _mm_loadu_si128(out + 1);
        _mm_storeu_si128(out, _mm_or_si128(_mm_and_si128(lo, now), _mm_andnot_si128(lo, old_lo)));
        _mm_storeu_si128(out + 1, _mm_or_si128(_mm_and_si128(hi, now), _mm_andnot_si128(hi, old_hi)));
    }
    void first(float* values, std::int64_t* cycles, const float* in, std::int64_t p) const {
        const __m128 v = x(in, p);
        _mm_storeu_ps(values + p, v);
        put_cycles(cycles, p, _mm_cmpord_ps(v, v), true);
    }
    // Whether positions p..p+15 may change.
    bool may_change(const float* values, const float* in, std::int64_t p) const {
        __m128 any = _mm_setzero_ps();
        for (std::int64_t j = 0; j < 16; j += kLanes)
            any = _mm_or_ps(any, loose(x(in, p + j), _mm_loadu_ps(values + p + j)));
        return _mm_movemask_ps(any) != 0;
    }
    void merge(float* values, std::int64_t* cycles, const float* in, std::int64_t p) const {
        const __m128 v = x(in, p), kept = _mm_loadu_ps(values + p);
        const __m128 t = take(v, kept);
        _mm_storeu_ps(values + p, _mm_or_ps(_mm_and_ps(t, v), _mm_andnot_ps(t, kept)));
        put_cycles(cycles, p, t, false);
    }
    // Positions [begin, end) as far as whole vectors go; returns where it
    // stopped.
    std::int64_t lanes(Arrival arrival, float* values, std::int64_t* cycles, const float* in, std::int64_t begin,
                       std::int64_t end) const {
        std::int64_t p = begin;
        // SSE2 compares no 64-bit cycles: any order goes one at a time.
        if (arrival == Arrival::any_order) return p;
        if (arrival == Arrival::first) {
            for (; p + kLanes <= end; p += kLanes) first(values, cycles, in, p);
            return p;
        }
        for (; p + 16 <= end; p += 16)
            if (may_change(values, in, p))
                for (std::int64_t j = 0; j < 16; j += kLanes) merge(values, cycles, in, p + j);
        for (; p + kLanes <= end; p += kLanes) merge(values, cycles, in, p);
        return p;
    }
};

#define QV_AVX2 __attribute__((target("avx2")))

// Eight positions, AVX2.
template <bool Max>
struct Avx2 {
    static constexpr std::int64_t kLanes = 8;
    const __m256 scale;
    const __m256i now;
    QV_AVX2 Avx2(float s, std::int64_t cycle) : scale(_mm256_set1_ps(s)), now(_mm256_set1_epi64x(cycle)) {}

    QV_AVX2 __m256 x(const float* in, std::int64_t p) const { return _mm256_mul_ps(_mm256_loadu_ps(in + p), scale); }
    QV_AVX2 static __m256 loose(__m256 x, __m256 kept) {
        return _mm256_cmp_ps(x, kept, Max ? _CMP_NLE_UQ : _CMP_NGE_UQ);
    }
    QV_AVX2 static __m256 take(__m256 x, __m256 kept) {
        const __m256 near = _mm256_cmp_ps(x, kept, Max ? _CMP_LE_OQ : _CMP_GE_OQ);
        return _mm256_andnot_ps(near, _mm256_cmp_ps(x, x, _CMP_ORD_Q));
    }
    QV_AVX2 void put_cycles(std::int64_t* cycles, std::int64_t p, __m256 take, bool fresh) const {
        const __m256i m = _mm256_castps_si256(take);
        const __m256i lo = _mm256_cvtepi32_epi64(_mm256_castsi256_si128(m));
        const __m256i hi = _mm256_cvtepi32_epi64(_mm256_extracti128_si256(m, 1));
        auto* out = reinterpret_cast<__m256i*>(cycles + p);
        const __m256i old_lo = fresh ? _mm256_set1_epi64x(-1) : _mm256_loadu_si256(out);
        const __m256i old_hi = fresh ? _mm256_set1_epi64x(-1) : _mm256_loadu_si256(out + 1);
        _mm256_storeu_si256(out, _mm256_blendv_epi8(old_lo, now, lo));
        _mm256_storeu_si256(out + 1, _mm256_blendv_epi8(old_hi, now, hi));
    }
    QV_AVX2 void first(float* values, std::int64_t* cycles, const float* in, std::int64_t p) const {
        const __m256 v = x(in, p);
        _mm256_storeu_ps(values + p, v);
        put_cycles(cycles, p, _mm256_cmp_ps(v, v, _CMP_ORD_Q), true);
    }
    QV_AVX2 bool may_change(const float* values, const float* in, std::int64_t p) const {
        __m256 any = _mm256_setzero_ps();
        for (std::int64_t j = 0; j < 16; j += kLanes)
            any = _mm256_or_ps(any, loose(x(in, p + j), _mm256_loadu_ps(values + p + j)));
        return _mm256_movemask_ps(any) != 0;
    }
    QV_AVX2 void merge(float* values, std::int64_t* cycles, const float* in, std::int64_t p) const {
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
    QV_AVX2 void merge_any(float* values, std::int64_t* cycles, const float* in, std::int64_t p) const {
        const __m256 v = x(in, p), kept = _mm256_loadu_ps(values + p);
        const auto* c = reinterpret_cast<const __m256i*>(cycles + p);
        const __m256i later_lo = _mm256_cmpgt_epi64(_mm256_loadu_si256(c), now);
        const __m256i later_hi = _mm256_cmpgt_epi64(_mm256_loadu_si256(c + 1), now);
        // The four 64-bit masks of each half as 32-bit lanes (their low halves).
        const __m256i low = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
        const __m256 later = _mm256_castsi256_ps(
            _mm256_set_m128i(_mm256_castsi256_si128(_mm256_permutevar8x32_epi32(later_hi, low)),
                             _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(later_lo, low))));
        const __m256 t = _mm256_or_ps(take(v, kept), _mm256_and_ps(_mm256_cmp_ps(v, kept, _CMP_EQ_OQ), later));
        _mm256_storeu_ps(values + p, _mm256_blendv_ps(kept, v, t));
        put_cycles(cycles, p, t, false);
    }
    // Sse2::lanes again: a loop that is to inline AVX2 code must itself be
    // compiled for AVX2, which a template shared with the SSE2 path is not.
    QV_AVX2 std::int64_t lanes(Arrival arrival, float* values, std::int64_t* cycles, const float* in,
                               std::int64_t begin, std::int64_t end) const {
        std::int64_t p = begin;
        if (arrival == Arrival::first) {
            for (; p + kLanes <= end; p += kLanes) first(values, cycles, in, p);
            return p;
        }
        if (arrival == Arrival::any_order) {
            // Blocks in which no value is NaN or at or beyond the one kept
            // change nothing and tie nothing.
            for (; p + 16 <= end; p += 16)
                if (may_change_or_tie(values, in, p))
                    for (std::int64_t j = 0; j < 16; j += kLanes) merge_any(values, cycles, in, p + j);
            for (; p + kLanes <= end; p += kLanes) merge_any(values, cycles, in, p);
            return p;
        }
        for (; p + 16 <= end; p += 16)
            if (may_change(values, in, p))
                for (std::int64_t j = 0; j < 16; j += kLanes) merge(values, cycles, in, p + j);
        for (; p + kLanes <= end; p += kLanes) merge(values, cycles, in, p);
        return p;
    }
};

template <bool Max>
void merge_sse2(Arrival arrival, float* values, std::int64_t* cycles, const float* in, float scale,
                std::int64_t begin, std::int64_t end, std::int64_t cycle) {
    const std::int64_t p = Sse2<Max>(scale, cycle).lanes(arrival, values, cycles, in, begin, end);
    merge_plain<Max>(arrival, values, cycles, in, scale, p, end, cycle);
}

template <bool Max>
QV_AVX2 void merge_avx2(Arrival arrival, float* values, std::int64_t* cycles, const float* in, float scale,
                        std::int64_t begin, std::int64_t end, std::int64_t cycle) {
    const std::int64_t p = Avx2<Max>(scale, cycle).lanes(arrival, values, cycles, in, begin, end);
    merge_sse2<Max>(arrival, values, cycles, in, scale, p, end, cycle);
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

void merge_scaled(bool maximum, Arrival arrival, float* values, std::int64_t* cycles, const float* in,
                  float scale, std::int64_t begin, std::int64_t end, std::int64_t cycle, Lanes lanes) {
    if (lanes == Lanes::best || !lanes_available(lanes)) lanes = widest();
    switch (lanes) {
#if defined(QV_MERGE_X86)
    case Lanes::avx2:
        return maximum ? merge_avx2<true>(arrival, values, cycles, in, scale, begin, end, cycle)
                       : merge_avx2<false>(arrival, values, cycles, in, scale, begin, end, cycle);
    case Lanes::sse2:
        return maximum ? merge_sse2<true>(arrival, values, cycles, in, scale, begin, end, cycle)
                       : merge_sse2<false>(arrival, values, cycles, in, scale, begin, end, cycle);
#endif
    default:
        return maximum ? merge_plain<true>(arrival, values, cycles, in, scale, begin, end, cycle)
                       : merge_plain<false>(arrival, values, cycles, in, scale, begin, end, cycle);
    }
}

}  // namespace qv::api
