// The envelope merge of stored values, in each instruction set this
// processor has, against the envelope worked out one position at a time.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "api/series_merge.h"

namespace {

using qv::api::Lanes;

std::uint32_t bits_of(float f) {
    std::uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}

// Stored values of a few cycles: mostly small integers, so that values
// repeat across cycles (ties), with NaNs and infinities among them.
std::vector<std::vector<float>> stored_cycles(std::mt19937& rng, std::size_t n, int cycles) {
    std::uniform_int_distribution<int> pick(0, 39);
    std::vector<std::vector<float>> out(static_cast<std::size_t>(cycles), std::vector<float>(n));
    for (auto& c : out)
        for (float& v : c) {
            const int k = pick(rng);
            v = k == 0 ? std::numeric_limits<float>::quiet_NaN()
                : k == 1 ? std::numeric_limits<float>::infinity()
                : k == 2 ? -std::numeric_limits<float>::infinity()
                         : static_cast<float>(k % 9) - 4.0f;
        }
    return out;
}

// Kept offsets of two and four bytes: cycle c of the range is offset
// base + c, low in the range, across the top bit (offsets compare unsigned)
// or just under the top.
template <class C>
void check_every_instruction_set(C base) {
    constexpr C kNone = qv::api::no_cycle<C>();
    std::mt19937 rng(7);
    const std::vector<Lanes> lanes = {Lanes::plain, Lanes::sse2, Lanes::avx2, Lanes::best};
    const float nan = std::numeric_limits<float>::quiet_NaN();
    int checked = 0;
    for (std::size_t n : {0u, 1u, 3u, 7u, 15u, 16u, 17u, 31u, 33u, 64u, 99u, 1000u}) {
        for (std::int64_t begin : {0, 1, 3}) {
            const auto stored = stored_cycles(rng, n + 4, 6);
            for (float scale : {1.0f, 0.1f}) {
                for (bool maximum : {true, false}) {
                    // Independently: per position, over the cycles in order,
                    // a value that is not NaN and beyond the best so far.
                    std::vector<float> want(n + 4, -7.0f);
                    std::vector<C> want_cycle(n + 4, 99);
                    for (std::int64_t p = begin; p < std::int64_t(n); ++p) {
                        float best = nan;
                        std::int64_t at = -1;
                        for (std::int64_t c = 0; c < 6; ++c) {
                            const float v = stored[std::size_t(c)][std::size_t(p)] * scale;
                            if (std::isnan(v)) continue;
                            if (at < 0 || (maximum ? v > best : v < best)) best = v, at = c;
                        }
                        want[std::size_t(p)] = at < 0 ? stored[0][std::size_t(p)] * scale : best;
                        want_cycle[std::size_t(p)] = at < 0 ? kNone : C(base + at);
                    }
                    for (Lanes l : lanes) {
                        if (!qv::api::lanes_available(l)) continue;
                        SCOPED_TRACE(testing::Message() << sizeof(C) << "-byte offsets from " << base << ", n " << n
                                                        << " begin " << begin
                                                        << " scale " << scale << (maximum ? " max" : " min")
                                                        << " lanes " << int(l));
                        // Outside [begin, n) nothing may be written.
                        // In cycle order, and as threads may bring them: 3 first,
                        // then 5, 0, 4, 1, 2, each earlier one in any order.
                        using qv::api::Arrival;
                        const std::vector<std::pair<std::vector<int>, std::vector<Arrival>>> orders = {
                            {{0, 1, 2, 3, 4, 5}, {Arrival::first, Arrival::in_order, Arrival::in_order,
                                                  Arrival::in_order, Arrival::in_order, Arrival::in_order}},
                            {{3, 5, 0, 4, 1, 2}, {Arrival::first, Arrival::in_order, Arrival::any_order,
                                                  Arrival::any_order, Arrival::any_order, Arrival::any_order}}};
                        for (const auto& [cycle_order, arrivals] : orders) {
                            std::vector<float> values(n + 4, -7.0f);
                            std::vector<C> cycles(n + 4, 99);
                            for (std::size_t k = 0; k < 6; ++k) {
                                const int c = cycle_order[k];
                                qv::api::merge_scaled(maximum, arrivals[k], values.data(), cycles.data(),
                                                      stored[std::size_t(c)].data(), scale, begin, std::int64_t(n),
                                                      C(base + c), l);
                            }
                            for (std::size_t p = 0; p < n + 4; ++p) {
                                // A position no cycle gave a value keeps the first's NaN.
                                const float w = want_cycle[p] == kNone && std::int64_t(p) >= begin && p < n
                                                    ? stored[std::size_t(cycle_order[0])][p] * scale
                                                    : want[p];
                                ASSERT_EQ(bits_of(values[p]), bits_of(w)) << "position " << p;
                                ASSERT_EQ(cycles[p], want_cycle[p]) << "position " << p;
                            }
                        }
                        ++checked;
                    }
                }
            }
        }
    }
    EXPECT_GT(checked, 12 * 3 * 2 * 2 * 2);  // at least the plain and SSE2 merges of every case
}

TEST(SeriesMerge, EveryInstructionSetGivesTheFirstCycleOfTheValueFurthestOutInAnyOrder) {
    for (std::uint16_t base : {0, 32765, 65520}) check_every_instruction_set<std::uint16_t>(base);
    for (std::uint32_t base : {0u, 2147483645u, 4294967280u}) check_every_instruction_set<std::uint32_t>(base);
}

// The rows of a layer, merged at once: position begin + r * length + k
// takes stored value r * stride + k of each cycle, and the slots between
// rows (stride > length) are never taken. Rows short of a vector, of whole
// vectors and between; in cycle order and in any order; offsets low and
// near the top, scaled or not.
template <class C>
void check_rows(C base, float scale) {
    using qv::api::Arrival;
    constexpr C kNone = qv::api::no_cycle<C>();
    std::mt19937 rng(11);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    int checked = 0;
    for (std::int64_t length : {1, 5, 8, 13, 99}) {
        for (std::int64_t gap : {0, 1, 3}) {
            for (std::int64_t rows : {1, 3, 7}) {
                const std::int64_t stride = length + gap, begin = 2, end = begin + rows * length;
                auto stored = stored_cycles(rng, std::size_t(rows * stride), 5);
                // The slots between rows hold what would win every merge.
                for (auto& c : stored)
                    for (std::int64_t r = 0; r < rows; ++r)
                        for (std::int64_t k = length; k < stride; ++k) c[std::size_t(r * stride + k)] = 1e30f;
                const auto at = [&](std::int64_t c, std::int64_t p) {
                    const std::int64_t r = (p - begin) / length;
                    return stored[std::size_t(c)][std::size_t(r * stride + (p - begin) % length)] * scale;
                };
                for (bool maximum : {true, false}) {
                    std::vector<float> want(std::size_t(end + 3), -7.0f);
                    std::vector<C> want_cycle(std::size_t(end + 3), 99);
                    for (std::int64_t p = begin; p < end; ++p) {
                        std::int64_t best = -1;
                        for (std::int64_t c = 0; c < 5; ++c)
                            if (!std::isnan(at(c, p)) &&
                                (best < 0 || (maximum ? at(c, p) > at(best, p) : at(c, p) < at(best, p))))
                                best = c;
                        want[std::size_t(p)] = best < 0 ? nan : at(best, p);
                        want_cycle[std::size_t(p)] = best < 0 ? kNone : C(base + best);
                    }
                    const std::vector<std::pair<std::vector<int>, std::vector<Arrival>>> orders = {
                        {{0, 1, 2, 3, 4},
                         {Arrival::first, Arrival::in_order, Arrival::in_order, Arrival::in_order, Arrival::in_order}},
                        {{2, 4, 0, 3, 1},
                         {Arrival::first, Arrival::in_order, Arrival::any_order, Arrival::any_order,
                          Arrival::any_order}}};
                    for (Lanes l : {Lanes::plain, Lanes::sse2, Lanes::avx2}) {
                        if (!qv::api::lanes_available(l)) continue;
                        for (const auto& [order, arrivals] : orders) {
                            SCOPED_TRACE(testing::Message() << "length " << length << " stride " << stride << " rows "
                                                            << rows << (maximum ? " max" : " min") << " lanes "
                                                            << int(l) << " first cycle " << order[0] << " base " << base
                                                            << " scale " << scale);
                            std::vector<float> values(std::size_t(end + 3), -7.0f);
                            std::vector<C> cycles(std::size_t(end + 3), 99);
                            for (std::size_t k = 0; k < order.size(); ++k)
                                qv::api::merge_scaled_rows(maximum, arrivals[k], values.data(), cycles.data(),
                                                           stored[std::size_t(order[k])].data(), stride, length, rows,
                                                           scale, begin, C(base + order[k]), l);
                            for (std::size_t p = 0; p < values.size(); ++p) {
                                ASSERT_EQ(bits_of(values[p]), bits_of(want[p])) << "position " << p;
                                ASSERT_EQ(cycles[p], want_cycle[p]) << "position " << p;
                            }
                            ++checked;
                        }
                    }
                }
            }
        }
    }
    EXPECT_GE(checked, 5 * 3 * 3 * 2 * 2 * 2);
}

TEST(SeriesMerge, RowsOfALayerMergeAsThePositionsTheyHold) {
    for (float scale : {1.0f, 0.1f}) {
        for (std::uint16_t base : {0, 65520}) check_rows<std::uint16_t>(base, scale);
        for (std::uint32_t base : {0u, 4294967280u}) check_rows<std::uint32_t>(base, scale);
    }
}

// Two envelopes kept by workers that took the cycles between them combine
// into the envelope of every cycle: the value furthest out and, of equal
// ones, the earliest cycle's, whichever side kept it; a side that saw no
// value (NaN, no offset) gives nothing. Both built here one position at a
// time, from a random split of the cycles.
template <class C>
void check_combining(C base) {
    constexpr C kNone = qv::api::no_cycle<C>();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::mt19937 rng(11);
    constexpr int kCycles = 8;
    int checked = 0;
    for (std::size_t n : {0u, 1u, 7u, 8u, 9u, 17u, 100u, 1001u}) {
        for (std::int64_t begin : {0, 3}) {
            const auto stored = stored_cycles(rng, n + 2, kCycles);
            // Cycle c went to side side_of[p][c] at position p (workers take
            // whole cycles, but any split must combine alike).
            std::vector<std::vector<int>> side_of(n + 2, std::vector<int>(kCycles));
            for (auto& row : side_of)
                for (int& side : row) side = int(rng() % 2);
            for (bool maximum : {true, false}) {
                // Per side, and over both: the first cycle of the value
                // furthest out, NaN and no offset where none.
                std::vector<float> kept[3];
                std::vector<C> at[3];
                for (int side = 0; side < 3; ++side) {
                    kept[side].assign(n + 2, -9.0f);
                    at[side].assign(n + 2, 77);
                    for (std::int64_t p = begin; p < std::int64_t(n); ++p) {
                        float best = nan;
                        std::int64_t first = -1;
                        for (int c = 0; c < kCycles; ++c) {
                            if (side < 2 && side_of[std::size_t(p)][std::size_t(c)] != side) continue;
                            const float v = stored[std::size_t(c)][std::size_t(p)];
                            if (std::isnan(v)) continue;
                            if (first < 0 || (maximum ? v > best : v < best)) best = v, first = c;
                        }
                        kept[side][std::size_t(p)] = best;
                        at[side][std::size_t(p)] = first < 0 ? kNone : C(base + first);
                    }
                }
                for (Lanes l : {Lanes::plain, Lanes::sse2, Lanes::avx2}) {
                    if (!qv::api::lanes_available(l)) continue;
                    SCOPED_TRACE(testing::Message() << sizeof(C) << "-byte offsets from " << base << ", n " << n
                                                    << " begin " << begin << (maximum ? " max" : " min")
                                                    << " lanes " << int(l));
                    std::vector<float> values = kept[0];
                    std::vector<C> cycles = at[0];
                    qv::api::combine_kept(maximum, values.data(), cycles.data(), kept[1].data(), at[1].data(), begin,
                                          std::int64_t(n), l);
                    for (std::size_t p = 0; p < n + 2; ++p) {
                        // Outside [begin, n) nothing changes.
                        ASSERT_EQ(bits_of(values[p]), bits_of(kept[2][p])) << "position " << p;
                        ASSERT_EQ(cycles[p], at[2][p]) << "position " << p;
                    }
                    ++checked;
                }
            }
        }
    }
    EXPECT_GE(checked, 8 * 2 * 2 * 2);
}

TEST(SeriesMerge, TwoSidesCombineIntoTheEnvelopeOfEveryCycle) {
    for (std::uint16_t base : {0, 32765, 65520}) check_combining<std::uint16_t>(base);
    for (std::uint32_t base : {0u, 2147483645u, 4294967280u}) check_combining<std::uint32_t>(base);
}

// Offsets kept in the top of a stretch of cycles widen in place into the
// cycles they stand for, whatever the stretch's length and start, and
// nothing outside the stretch is touched.
template <class C>
void check_widening() {
    for (std::int64_t length : {0, 1, 3, 4, 5, 8, 13, 100, 1001}) {
        for (std::int64_t begin : {0, 2, 7}) {
            SCOPED_TRACE(testing::Message() << sizeof(C) << "-byte offsets, " << length << " at " << begin);
            std::vector<std::int64_t> cycles(std::size_t(begin + length + 3), 123456789);
            const std::int64_t end = begin + length;
            std::vector<std::int64_t> want(cycles);
            std::mt19937 rng(std::uint32_t(length * 10 + begin));
            for (std::int64_t p = begin; p < end; ++p) {
                const std::uint32_t r = rng() % 50;
                const C offset = r == 0 ? qv::api::no_cycle<C>() : C(r * 997 % (sizeof(C) == 2 ? 65000 : 4000000000u));
                want[std::size_t(p)] = r == 0 ? -1 : 1000 + std::int64_t(offset);
                // The offset's bytes where the envelope keeps it.
                std::memcpy(reinterpret_cast<unsigned char*>(cycles.data() + end) -
                                (end - p) * std::int64_t(sizeof(C)),
                            &offset, sizeof(C));
            }
            qv::api::widen_cycles<C>(cycles.data(), begin, end, 1000);
            EXPECT_EQ(cycles, want);
        }
    }
}

TEST(SeriesMerge, KeptOffsetsWidenInPlaceIntoCycles) {
    check_widening<std::uint16_t>();
    check_widening<std::uint32_t>();
}

// Integer envelopes: QVRES_NO_INTEGER (no value) equals itself where a NaN
// does not, yet it must tie nothing. A position that never has a value keeps
// no cycle whatever order the cycles arrive in (threads), next to one whose
// equal values do take the earliest cycle.
template <class C>
void check_integers_without_value() {
    constexpr C kNone = qv::api::no_cycle<C>();
    constexpr std::int32_t kNo = QVRES_NO_INTEGER;
    for (bool maximum : {true, false}) {
        SCOPED_TRACE(testing::Message() << sizeof(C) << "-byte offsets" << (maximum ? " max" : " min"));
        // Cycles 5, then 3, then 4 (each after a later one but the first).
        const std::vector<std::pair<C, std::vector<std::int32_t>>> cycles = {
            {C(5), {kNo, 7}}, {C(3), {kNo, 7}}, {C(4), {kNo, 7}}};
        std::vector<std::int32_t> values(2);
        std::vector<C> kept(2);
        const auto get = [&](std::size_t k) { return [&, k](std::int64_t p) { return cycles[k].second[std::size_t(p)]; }; };
        qv::api::first_span(values.data(), kept.data(), 0, 2, cycles[0].first, get(0));
        for (std::size_t k = 1; k < cycles.size(); ++k) {
            if (maximum)
                qv::api::merge_span<true, false>(values.data(), kept.data(), 0, 2, cycles[k].first, get(k));
            else
                qv::api::merge_span<false, false>(values.data(), kept.data(), 0, 2, cycles[k].first, get(k));
        }
        EXPECT_EQ(values[0], kNo);
        EXPECT_EQ(kept[0], kNone);
        EXPECT_EQ(values[1], 7);
        EXPECT_EQ(kept[1], C(3));
    }
}

TEST(SeriesMerge, IntegerPositionsWithoutAValueKeepNoCycleInAnyOrder) {
    check_integers_without_value<std::uint16_t>();
    check_integers_without_value<std::uint32_t>();
}

}  // namespace
