// Dimension codes and the unit exponent table.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <utility>

#include "model/units.h"

namespace {

using qv::model::compute_unit_exponents;
using qv::model::dimension_code;
using qv::model::UnitScale;

// Entries of the table for unit codes (L, M, T), as (code, exponent) pairs.
void expect_table(std::int32_t l, std::int32_t m, std::int32_t t,
                  std::initializer_list<std::pair<int, std::int32_t>> entries) {
    std::int32_t table[30] = {};
    compute_unit_exponents(l, m, t, table);
    for (const auto& [code, exponent] : entries)
        EXPECT_EQ(table[code], exponent) << "(" << l << "," << m << "," << t << ") entry " << code;
}

TEST(DimensionCode, ExponentsNameTheirRow) {
    // Arguments: length, time, mass, temperature.
    EXPECT_EQ(dimension_code(0, 0, 0, 0), 1);
    EXPECT_EQ(dimension_code(1, 0, 0, 0), 8);
    EXPECT_EQ(dimension_code(-1, -2, 1, 0), 3);
    EXPECT_EQ(dimension_code(-1, -2, 1, 99), 6);
    EXPECT_EQ(dimension_code(-1, -2, 1, -1), 28);
    EXPECT_EQ(dimension_code(1, 2, -1, 0), 24);
    EXPECT_EQ(dimension_code(2, -2, 1, 0), 16);  // energy; 11 is never produced
    EXPECT_EQ(dimension_code(5, 0, 0, 0), 0);
    EXPECT_EQ(dimension_code(1, 0, 0, 1), 0);
}

TEST(UnitExponents, DecimalUnitsCombineTheThreeExponents) {
    // (1, 3, 3): l = -3, m = 3*3 - 9 = 0, t = 3*3 - 9 = 0.
    expect_table(1, 3, 3,
                 {{8, -3},    // length: l
                  {2, 9},     // density: -3l
                  {10, -9},   // volume: 3l
                  {14, 0},    // rate: -t
                  {11, -6},   // energy exponents: 2l - 2t + m
                  {9, 0},
                  {29, -3}});  // extra length entry: l
    // (3, 2, 2): l = 0, m = 3*2 - 9 = -3, t = 3*2 - 9 = -3.
    expect_table(3, 2, 2,
                 {{15, -3},   // mass: m
                  {23, -3},   // time: t
                  {13, 3},    // force: l - 2t + m = 0 + 6 - 3
                  {3, 3},     // stress: m - 2t - l = -3 + 6 - 0
                  {18, 6},    // 2m - 4t - l = -6 + 12
                  {24, -3}});  // l + 2t - m = 0 - 6 + 3
    // Length code -2 gives l = -6, an unlisted code l = -2.
    expect_table(-2, 3, 3, {{29, -6}, {27, -12}});
    expect_table(7, 3, 3, {{8, -2}});
}

TEST(UnitExponents, MassCodeFourUsesFixedOffsets) {
    // (4, 4, 2): t = -3, A = 3, B = 100; t < 0: s(x) = -x, s'(x) = x.
    expect_table(4, 4, 2,
                 {{1, 0}, {9, 0},
                  {2, -106}, {21, -106},   // s(B + 2A)
                  {4, 106},                // s'(B + 2A)
                  {7, 103}, {19, -103},    // s'(A + B), s(A + B)
                  {22, -103},              // s(A + 100)
                  {12, -3}, {14, 3},       // t, -t
                  {13, 100}, {24, -100}, {8, 100}, {29, 100}});
    // (5, 4, 4): t = 3, A = 3, B = 200; t > 0: s(x) = x, s'(x) = -x.
    expect_table(5, 4, 4, {{2, 206}, {5, -206}, {7, -203}, {19, 203}, {22, 103}, {23, 3},
                           {24, -200}, {26, 200}});
}

TEST(UnitScale, FactorsOfTheTableWithMarkersAndOtherCodesUnconverted) {
    // (1, 3, 2): l = -3, m = 0, t = -3.
    const std::int32_t decimal[3] = {1, 3, 2};
    const UnitScale s(decimal);
    EXPECT_FLOAT_EQ(s.factor(8), 1e-3f);  // length
    EXPECT_FLOAT_EQ(s.factor(3), 1e9f);   // stress: m - 2t - l
    for (const std::int32_t code : {0, 29, -8, 1000}) EXPECT_EQ(s.factor(code), 1.0f) << code;

    // (4, 4, 2): entries 8 (100) and 2 (-106) are markers, not powers of ten.
    const std::int32_t marked[3] = {4, 4, 2};
    const UnitScale m(marked);
    EXPECT_EQ(m.factor(8), 1.0f);
    EXPECT_EQ(m.factor(2), 1.0f);
    EXPECT_FLOAT_EQ(m.factor(12), 1e-3f);  // t

    // A mass code above 4 converts nothing.
    const std::int32_t unknown[3] = {1, 5, 3};
    const UnitScale u(unknown);
    for (int code = 1; code <= 29; ++code) EXPECT_EQ(u.exponents[code], 0) << code;
}

}  // namespace
