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

// Known conversions of three unit systems, worked out from the units
// themselves: length codes 1 mm, 2 cm, 3 m; mass codes 2 g, 3 kg; time codes
// 1 microsecond, 2 ms, 3 s.
TEST(UnitScale, KnownUnitSystemsConvertToSI) {
    const struct {
        const char* system;
        std::int32_t codes[3];  // length, mass, time
        float pressure, velocity, density, energy, force, length, time, acceleration;
    } systems[] = {
        // kg / (mm ms^2) = 1 / (1e-3 * 1e-6) Pa; mm/ms = m/s; kg/mm^3 = 1e9 kg/m^3;
        // kg mm^2/ms^2 = 1e-6/1e-6 J; kg mm/ms^2 = 1e-3/1e-6 N; mm/ms^2 = 1e-3/1e-6 m/s^2.
        {"mm kg ms", {1, 3, 2}, 1e9f, 1.0f, 1e9f, 1.0f, 1e3f, 1e-3f, 1e-3f, 1e3f},
        // g / (cm us^2) = 1e-3 / (1e-2 * 1e-12) = 1e11 Pa; cm/us = 1e4 m/s; g/cm^3 = 1e3;
        // g cm^2/us^2 = 1e-3 * 1e-4 / 1e-12 = 1e5 J; g cm/us^2 = 1e-5/1e-12 = 1e7 N.
        {"cm g us", {2, 2, 1}, 1e11f, 1e4f, 1e3f, 1e5f, 1e7f, 1e-2f, 1e-6f, 1e10f},
        {"m kg s", {3, 3, 3}, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f},
    };
    for (const auto& u : systems) {
        SCOPED_TRACE(u.system);
        const UnitScale s(u.codes);
        EXPECT_FLOAT_EQ(s.factor(dimension_code(-1, -2, 1, 0)), u.pressure);
        EXPECT_FLOAT_EQ(s.factor(dimension_code(1, -1, 0, 0)), u.velocity);
        EXPECT_FLOAT_EQ(s.factor(dimension_code(-3, 0, 1, 0)), u.density);
        EXPECT_FLOAT_EQ(s.factor(dimension_code(2, -2, 1, 0)), u.energy);
        EXPECT_FLOAT_EQ(s.factor(dimension_code(1, -2, 1, 0)), u.force);
        EXPECT_FLOAT_EQ(s.factor(dimension_code(1, 0, 0, 0)), u.length);
        EXPECT_FLOAT_EQ(s.factor(dimension_code(0, 1, 0, 0)), u.time);
        EXPECT_FLOAT_EQ(s.factor(dimension_code(1, -2, 0, 0)), u.acceleration);
        EXPECT_FLOAT_EQ(s.factor(dimension_code(0, 0, 0, 0)), 1.0f);   // dimensionless
        EXPECT_FLOAT_EQ(s.factor(dimension_code(0, 0, 0, 1)), 1.0f);   // temperature
    }
    // A length code of no listed unit counts as centimetres; -2 is the micrometre.
    const std::int32_t unlisted[3] = {7, 3, 3}, micrometre[3] = {-2, 3, 3};
    EXPECT_FLOAT_EQ(UnitScale(unlisted).factor(8), 1e-2f);
    EXPECT_FLOAT_EQ(UnitScale(micrometre).factor(8), 1e-6f);
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
    const std::int32_t decimal[3] = {1, 3, 2};
    const UnitScale s(decimal);
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
